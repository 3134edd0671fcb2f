// The engine's owning object list.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "workbook/storage/UXlsRecordPool.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

// The item array of a list: its storage, from the record pools, and two
// 32-bit counts (16 bytes; a sheet has a list for every row). It doubles
// as it grows and holds exactly what reserve or shrink_to_fit asked for.
// It reads like the std::vector it stands for.
template <class T>
class TListItems {
public:
    TListItems() = default;
    TListItems(const TListItems&) = delete;
    TListItems& operator=(const TListItems&) = delete;
    ~TListItems() { Release(); }

    std::size_t size() const { return FSize; }
    bool empty() const { return FSize == 0; }
    std::size_t capacity() const { return FCapacity; }
    T* begin() { return FItems; }
    T* end() { return FItems + FSize; }
    const T* begin() const { return FItems; }
    const T* end() const { return FItems + FSize; }
    T& operator[](std::size_t index) { return FItems[index]; }
    const T& operator[](std::size_t index) const { return FItems[index]; }
    const T& at(std::size_t index) const {
        if (index >= FSize) throw std::out_of_range("TListItems::at");
        return FItems[index];
    }

    void reserve(std::size_t count) {
        if (count > FCapacity) Reallocate(count);
    }
    void shrink_to_fit() {
        if (FCapacity > FSize) Reallocate(FSize);
    }
    void push_back(T item) { insert(end(), std::move(item)); }
    T* insert(const T* at, T item) {
        T* slot = MakeRoom(at, 1);
        *slot = std::move(item);
        return slot;
    }
    template <class Iterator>
    T* insert(const T* at, Iterator first, Iterator last) {
        T* slot = MakeRoom(at, static_cast<std::size_t>(std::distance(first, last)));
        std::copy(first, last, slot);
        return slot;
    }
    T* erase(const T* at) { return erase(at, at + 1); }
    T* erase(const T* first, const T* last) {
        T* from = FItems + (first - FItems);
        const std::size_t count = static_cast<std::size_t>(last - first);
        std::move(from + count, end(), from);
        std::destroy(end() - count, end());
        FSize -= static_cast<std::uint32_t>(count);
        return from;
    }
    void clear() { Release(); }
    void swap(TListItems& other) noexcept {
        std::swap(FItems, other.FItems);
        std::swap(FSize, other.FSize);
        std::swap(FCapacity, other.FCapacity);
    }
    template <class Predicate>
    friend void erase_if(TListItems& items, Predicate predicate) {
        items.erase(std::remove_if(items.begin(), items.end(), predicate), items.end());
    }

private:
    // count empty slots at at, the items behind them moved on.
    T* MakeRoom(const T* at, std::size_t count) {
        const std::size_t index = static_cast<std::size_t>(at - FItems);
        if (FSize + count > FCapacity) Reallocate(std::max<std::size_t>(FSize + count, 2 * std::size_t{FCapacity}), index, count);
        else {
            std::uninitialized_value_construct(end(), end() + count);
            std::move_backward(FItems + index, end(), end() + count);
        }
        FSize += static_cast<std::uint32_t>(count);
        return FItems + index;
    }
    // To an array of capacity, with count empty slots at gap.
    void Reallocate(std::size_t capacity, std::size_t gap = 0, std::size_t count = 0) {
        Assert(capacity <= std::numeric_limits<std::uint32_t>::max(), "Uxlsbaselist", "too many items");
        T* items = capacity ? static_cast<T*>(AllocateRecord(capacity * sizeof(T))) : nullptr;
        std::uninitialized_move(FItems, FItems + gap, items);
        std::uninitialized_value_construct(items + gap, items + gap + count);
        std::uninitialized_move(FItems + gap, end(), items + gap + count);
        const std::uint32_t size = FSize;
        Release();
        FItems = items;
        FSize = size;
        FCapacity = static_cast<std::uint32_t>(capacity);
    }
    void Release() {
        std::destroy(begin(), end());
        if (FItems) FreeRecord(FItems, FCapacity * sizeof(T));
        FItems = nullptr;
        FSize = FCapacity = 0;
    }

    T* FItems = nullptr;
    std::uint32_t FSize = 0;
    std::uint32_t FCapacity = 0;
};

// Owns its items and frees them when they leave the list. Items may be
// empty (a list indexed by row keeps empty rows).
template <class T>
class TBaseList {
public:
    using TItems = TListItems<std::unique_ptr<T>>;

    virtual ~TBaseList() = default;
    TBaseList() = default;
    TBaseList(const TBaseList&) = delete;
    TBaseList& operator=(const TBaseList&) = delete;

    std::size_t Count() const { return FList.size(); }
    T* Items(std::size_t index) const { return FList.at(index).get(); }
    void Reserve(std::size_t count) { FList.reserve(count); }
    void ShrinkItems() { FList.shrink_to_fit(); }

protected:
    std::unique_ptr<T>& Slot(std::size_t index) {
        Assert(index < FList.size(), "Uxlsbaselist", "index out of range");
        return FList[index];
    }
    void DoAdd(std::unique_ptr<T> item) { FList.push_back(std::move(item)); }
    void DoInsert(std::size_t index, std::unique_ptr<T> item) {
        Assert(index <= FList.size(), "Uxlsbaselist", "index out of range");
        FList.insert(FList.begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
    }
    void DoDelete(std::size_t index) {
        Assert(index < FList.size(), "Uxlsbaselist", "index out of range");
        FList.erase(FList.begin() + static_cast<std::ptrdiff_t>(index));
    }
    // A block of items in one move of the list, not one by one.
    void DoInsertBlock(std::size_t index, std::vector<std::unique_ptr<T>> items) {
        Assert(index <= FList.size(), "Uxlsbaselist", "index out of range");
        FList.insert(FList.begin() + static_cast<std::ptrdiff_t>(index), std::make_move_iterator(items.begin()),
                     std::make_move_iterator(items.end()));
    }
    void DoDeleteBlock(std::size_t first, std::size_t count) {
        Assert(first <= FList.size() && count <= FList.size() - first, "Uxlsbaselist", "index out of range");
        const auto at = FList.begin() + static_cast<std::ptrdiff_t>(first);
        FList.erase(at, at + static_cast<std::ptrdiff_t>(count));
    }
    void DoClear() { FList.clear(); }
    TItems& List() { return FList; }
    const TItems& List() const { return FList; }

private:
    TItems FList;
};

// In items sorted by their key: where the first item whose key is not below
// key lies, and whether its key is key.
template <class Items, class KeyOf>
bool FindSorted(const Items& items, int key, KeyOf keyOf, std::size_t& index) {
    const auto at = std::lower_bound(items.begin(), items.end(), key,
                                     [&](const auto& item, int k) { return keyOf(*item) < k; });
    index = static_cast<std::size_t>(at - items.begin());
    return at != items.end() && keyOf(**at) == key;
}

}  // namespace kalmira
