// The bytes of one record. Most records of a sheet are cells of 6 to 16
// bytes (BLANK, BOOLERR, RK, LABELSST, NUMBER, ROW): those bytes live inside
// the record object itself, so a loaded cell is one allocation, not two.
// Longer data goes to the record pools. It reads and changes like the byte vector it
// replaces and converts to and from one.
#pragma once

#include <algorithm>
#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <type_traits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "workbook/storage/UXlsRecordPool.h"

namespace kalmira {

// InlineBytes: that many bytes are held inside the object (0: every byte on the heap).
template <std::size_t InlineBytes>
class TBasicRecordData {
    template <class It>
    static constexpr bool ContiguousBytes =
        std::contiguous_iterator<It> && std::same_as<std::remove_cv_t<std::iter_value_t<It>>, std::uint8_t>;

public:
    using value_type = std::uint8_t;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = std::uint8_t&;
    using const_reference = const std::uint8_t&;
    using pointer = std::uint8_t*;
    using const_pointer = const std::uint8_t*;
    using iterator = std::uint8_t*;
    using const_iterator = const std::uint8_t*;

    static constexpr std::size_t InlineCapacity = InlineBytes;

    TBasicRecordData() noexcept {}
    explicit TBasicRecordData(std::size_t count, std::uint8_t value = 0) { assign(count, value); }
    template <class It, class = typename std::iterator_traits<It>::iterator_category>
    TBasicRecordData(It first, It last) {
        assign(first, last);
    }
    TBasicRecordData(std::initializer_list<std::uint8_t> bytes) { assign(bytes.begin(), bytes.end()); }
    TBasicRecordData(const std::vector<std::uint8_t>& bytes) { Assign(bytes.data(), bytes.size()); }
    TBasicRecordData(std::span<const std::uint8_t> bytes) { Assign(bytes.data(), bytes.size()); }
    TBasicRecordData(const TBasicRecordData& other) { Assign(other.data(), other.size()); }
    TBasicRecordData(TBasicRecordData&& other) noexcept { Take(other); }
    ~TBasicRecordData() { Free(); }
    // count bytes that the caller overwrites at once (a record being read).
    static TBasicRecordData ForOverwrite(std::size_t count) {
        TBasicRecordData data;
        data.Grow(count);
        data.FSize = static_cast<std::uint32_t>(count);
        return data;
    }

    TBasicRecordData& operator=(const TBasicRecordData& other) {
        if (this != &other) Assign(other.data(), other.size());
        return *this;
    }
    TBasicRecordData& operator=(TBasicRecordData&& other) noexcept {
        if (this != &other) {
            Free();
            Take(other);
        }
        return *this;
    }
    TBasicRecordData& operator=(const std::vector<std::uint8_t>& bytes) {
        Assign(bytes.data(), bytes.size());
        return *this;
    }
    TBasicRecordData& operator=(std::initializer_list<std::uint8_t> bytes) {
        assign(bytes.begin(), bytes.end());
        return *this;
    }

    operator std::vector<std::uint8_t>() const { return {begin(), end()}; }
    std::vector<std::uint8_t> ToVector() const { return {begin(), end()}; }

    std::size_t size() const noexcept { return FSize; }
    bool empty() const noexcept { return FSize == 0; }
    std::size_t capacity() const noexcept { return IsInline() ? InlineCapacity : FCapacity; }
    std::uint8_t* data() noexcept { return IsInline() ? FStore.Inline : FStore.Heap; }
    const std::uint8_t* data() const noexcept { return IsInline() ? FStore.Inline : FStore.Heap; }
    iterator begin() noexcept { return data(); }
    iterator end() noexcept { return data() + FSize; }
    const_iterator begin() const noexcept { return data(); }
    const_iterator end() const noexcept { return data() + FSize; }
    const_iterator cbegin() const noexcept { return begin(); }
    const_iterator cend() const noexcept { return end(); }
    std::uint8_t& operator[](std::size_t i) noexcept { return data()[i]; }
    const std::uint8_t& operator[](std::size_t i) const noexcept { return data()[i]; }
    std::uint8_t& at(std::size_t i) {
        if (i >= FSize) throw std::out_of_range("TRecordData::at");
        return data()[i];
    }
    const std::uint8_t& at(std::size_t i) const {
        if (i >= FSize) throw std::out_of_range("TRecordData::at");
        return data()[i];
    }
    std::uint8_t& front() noexcept { return data()[0]; }
    std::uint8_t& back() noexcept { return data()[FSize - 1]; }
    const std::uint8_t& front() const noexcept { return data()[0]; }
    const std::uint8_t& back() const noexcept { return data()[FSize - 1]; }

    void clear() noexcept { FSize = 0; }
    void reserve(std::size_t count) {
        if (count > capacity()) Grow(count);
    }
    void shrink_to_fit() {}
    void resize(std::size_t count, std::uint8_t value = 0) {
        if (count > capacity()) Grow(std::max<std::size_t>(count, FSize * 2));  // growing step by step stays linear
        if (count > FSize) std::memset(data() + FSize, value, count - FSize);
        FSize = static_cast<std::uint32_t>(count);
    }
    void push_back(std::uint8_t value) {
        if (FSize == capacity()) Grow(std::max<std::size_t>(FSize * 2, 16));
        data()[FSize++] = value;
    }
    void pop_back() noexcept { --FSize; }
    void assign(std::size_t count, std::uint8_t value) {
        clear();
        resize(count, value);
    }
    template <class It, class = typename std::iterator_traits<It>::iterator_category>
    void assign(It first, It last) {
        if constexpr (ContiguousBytes<It>) {
            Assign(std::to_address(first), static_cast<std::size_t>(last - first));
        } else {
            const std::vector<std::uint8_t> bytes(first, last);
            Assign(bytes.data(), bytes.size());
        }
    }

    iterator insert(const_iterator at, std::uint8_t value) { return insert(at, std::size_t{1}, value); }
    iterator insert(const_iterator at, std::size_t count, std::uint8_t value) {
        const std::size_t pos = Open(at, count);
        std::memset(data() + pos, value, count);
        return data() + pos;
    }
    iterator insert(const_iterator at, int count, std::uint8_t value) {
        return insert(at, static_cast<std::size_t>(count), value);
    }
    template <class It, class = typename std::iterator_traits<It>::iterator_category>
    iterator insert(const_iterator at, It first, It last) {
        if constexpr (ContiguousBytes<It>) {
            const std::uint8_t* bytes = std::to_address(first);
            const auto count = static_cast<std::size_t>(last - first);
            // A range of this very data moves when room is made: copied aside.
            if (count && std::less_equal<>()(begin(), bytes) && std::less<>()(bytes, end())) {
                const TBasicRecordData aside(bytes, bytes + count);
                return insert(at, aside.begin(), aside.end());
            }
            const std::size_t pos = Open(at, count);
            if (count) std::memcpy(data() + pos, bytes, count);
            return data() + pos;
        } else {
            const std::vector<std::uint8_t> bytes(first, last);
            return insert(at, bytes.begin(), bytes.end());
        }
    }
    iterator insert(const_iterator at, std::initializer_list<std::uint8_t> bytes) {
        return insert(at, bytes.begin(), bytes.end());
    }
    iterator erase(const_iterator at) { return erase(at, at + 1); }
    iterator erase(const_iterator first, const_iterator last) {
        const std::size_t pos = static_cast<std::size_t>(first - data());
        const std::size_t count = static_cast<std::size_t>(last - first);
        std::memmove(data() + pos, data() + pos + count, FSize - pos - count);
        FSize -= static_cast<std::uint32_t>(count);
        return data() + pos;
    }
    void swap(TBasicRecordData& other) noexcept {
        TBasicRecordData held(std::move(other));
        other = std::move(*this);
        *this = std::move(held);
    }

    friend bool operator==(const TBasicRecordData& a, const TBasicRecordData& b) { return Equal(a, b.data(), b.size()); }
    friend bool operator==(const TBasicRecordData& a, const std::vector<std::uint8_t>& b) {
        return Equal(a, b.data(), b.size());
    }
    friend auto operator<=>(const TBasicRecordData& a, const TBasicRecordData& b) {
        return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    bool IsInline() const noexcept { return FCapacity <= InlineCapacity; }
    static bool Equal(const TBasicRecordData& a, const std::uint8_t* bytes, std::size_t size) {
        return a.size() == size && (size == 0 || std::memcmp(a.data(), bytes, size) == 0);
    }

    void Assign(const std::uint8_t* bytes, std::size_t count) {
        if (count > capacity()) {
            FSize = 0;
            Grow(count);
        }
        if (count) std::memmove(data(), bytes, count);
        FSize = static_cast<std::uint32_t>(count);
    }
    // Room for count bytes at at, the bytes behind moved up; its position.
    std::size_t Open(const_iterator at, std::size_t count) {
        const std::size_t pos = static_cast<std::size_t>(at - data());
        if (FSize + count > capacity()) Grow(std::max<std::size_t>(FSize + count, FSize * 2));
        std::memmove(data() + pos + count, data() + pos, FSize - pos);
        FSize += static_cast<std::uint32_t>(count);
        return pos;
    }
    void Grow(std::size_t count) {
        if (count <= InlineCapacity && IsInline()) return;
        auto* bytes = static_cast<std::uint8_t*>(AllocateRecord(count));
        if (FSize) std::memcpy(bytes, data(), FSize);
        Free();
        FStore.Heap = bytes;
        FCapacity = static_cast<std::uint32_t>(count);
    }
    void Free() noexcept {
        if (!IsInline()) FreeRecord(FStore.Heap, FCapacity);
        FCapacity = 0;
    }
    void Take(TBasicRecordData& other) noexcept {
        FSize = other.FSize;
        FCapacity = other.FCapacity;
        if (other.IsInline()) std::memcpy(FStore.Inline, other.FStore.Inline, sizeof FStore.Inline);
        else FStore.Heap = other.FStore.Heap;
        other.FSize = 0;
        other.FCapacity = 0;
    }

    union TStore {
        std::uint8_t* Heap;
        std::uint8_t Inline[InlineCapacity > sizeof(std::uint8_t*) ? InlineCapacity : sizeof(std::uint8_t*)];
    } FStore{};
    std::uint32_t FSize = 0;
    std::uint32_t FCapacity = 0;  // up to InlineCapacity: the bytes are inline
};

using TRecordData = TBasicRecordData<KALMIRA_PLAIN_ALLOCATION ? 0 : 16>;

}  // namespace kalmira
