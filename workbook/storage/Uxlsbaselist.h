// The engine's owning object list.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

#include "workbook/storage/UXlsRecordPool.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

// Owns its items and frees them when they leave the list. Items may be
// empty (a list indexed by row keeps empty rows).
template <class T>
class TBaseList {
public:
    using TItems = std::vector<std::unique_ptr<T>, TRecordAllocator<std::unique_ptr<T>>>;

    virtual ~TBaseList() = default;
    TBaseList() = default;
    TBaseList(const TBaseList&) = delete;
    TBaseList& operator=(const TBaseList&) = delete;

    std::size_t Count() const { return FList.size(); }
    T* Items(std::size_t index) const { return FList.at(index).get(); }
    void Reserve(std::size_t count) { FList.reserve(count); }

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
