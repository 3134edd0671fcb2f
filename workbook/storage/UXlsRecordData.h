// The bytes of one record. Most records of a sheet are cells of 6 to 12
// bytes (BLANK, BOOLERR, RK, LABELSST): those bytes live inside the record
// object itself, so a loaded cell is one allocation, not two. Longer data
// goes to the record pools. It takes 13 bytes (a tag, then the inline
// bytes or the heap block's address and size) with no alignment of its
// own. A record whose slot has room behind its data may keep its bytes
// there (PlaceInTail): a loaded NUMBER or ROW does. It reads and changes
// like the byte vector it replaces and converts to and from one.
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
        data.SetSize(count);
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

    std::size_t size() const noexcept { return IsInline() ? FTag : FTag == TailTag ? TailWord(0) : HeapSize(); }
    bool empty() const noexcept { return size() == 0; }
    std::size_t capacity() const noexcept {
        return IsInline() ? InlineCapacity : FTag == TailTag ? TailWord(2) : HeapCapacity(HeapBytes());
    }
    std::uint8_t* data() noexcept { return IsInline() ? FStore : FTag == TailTag ? TailBytes() : HeapBytes(); }
    const std::uint8_t* data() const noexcept {
        return IsInline() ? FStore : FTag == TailTag ? TailBytes() : HeapBytes();
    }
    iterator begin() noexcept { return data(); }
    iterator end() noexcept { return data() + size(); }
    const_iterator begin() const noexcept { return data(); }
    const_iterator end() const noexcept { return data() + size(); }
    const_iterator cbegin() const noexcept { return begin(); }
    const_iterator cend() const noexcept { return end(); }
    std::uint8_t& operator[](std::size_t i) noexcept { return data()[i]; }
    const std::uint8_t& operator[](std::size_t i) const noexcept { return data()[i]; }
    std::uint8_t& at(std::size_t i) {
        if (i >= size()) throw std::out_of_range("TRecordData::at");
        return data()[i];
    }
    const std::uint8_t& at(std::size_t i) const {
        if (i >= size()) throw std::out_of_range("TRecordData::at");
        return data()[i];
    }
    std::uint8_t& front() noexcept { return data()[0]; }
    std::uint8_t& back() noexcept { return data()[size() - 1]; }
    const std::uint8_t& front() const noexcept { return data()[0]; }
    const std::uint8_t& back() const noexcept { return data()[size() - 1]; }

    void clear() noexcept { SetSize(0); }
    void reserve(std::size_t count) {
        if (count > capacity()) Grow(count);
    }
    void shrink_to_fit() {}
    // The bytes move to the room from the store up to end, which the
    // object holding this data owns and keeps for it (a record allocated
    // with room behind its data, this data its last field); false, and
    // nothing changes, when they do not fit. Changes use the room, and
    // what outgrows it goes to the pools.
    bool PlaceInTail(std::uint8_t* end) {
        static_assert(InlineCapacity > 0, "the sanitizer builds keep every byte on the heap");
        const std::size_t count = size(), room = static_cast<std::size_t>(end - FStore);
        if (FTag == TailTag || room < TailHeader + count || room - TailHeader > 0xFFFF) return false;
        if (FTag == HeapTag) {
            std::uint8_t* const bytes = HeapBytes();
            std::memcpy(TailBytes(), bytes, count);
            FreeHeap(bytes);
        } else {
            std::memmove(TailBytes(), FStore, count);
        }
        FTag = TailTag;
        SetTail(count, room - TailHeader);
        return true;
    }
    void resize(std::size_t count, std::uint8_t value = 0) {
        const std::size_t old = size();
        if (count > capacity()) Grow(std::max<std::size_t>(count, old * 2));  // growing step by step stays linear
        if (count > old) std::memset(data() + old, value, count - old);
        SetSize(count);
    }
    void push_back(std::uint8_t value) {
        const std::size_t old = size();
        if (old == capacity()) Grow(std::max<std::size_t>(old * 2, 16));
        data()[old] = value;
        SetSize(old + 1);
    }
    void pop_back() noexcept { SetSize(size() - 1); }
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
        std::memmove(data() + pos, data() + pos + count, size() - pos - count);
        SetSize(size() - count);
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
    // On the heap the store holds the bytes' address and their count (32
    // bits); the block's capacity (32 bits) lies in front of the bytes.
    static constexpr std::size_t HeapStore = sizeof(std::uint8_t*) + sizeof(std::uint32_t);
    static constexpr std::size_t HeapHeader = sizeof(std::uint32_t);
    static constexpr std::uint8_t HeapTag = 0xFF;
    // The bytes lie in the room behind the store, after their size and the
    // room's (16 bits each).
    static constexpr std::uint8_t TailTag = 0xFE;
    static constexpr std::size_t TailHeader = 4;
    static_assert(InlineCapacity < TailTag);

    bool IsInline() const noexcept { return FTag <= InlineCapacity; }
    // The bytes in the room: the store's own bounds are not theirs, which
    // the compiler is not to assume.
    std::uint8_t* TailBytes() const noexcept {
        return reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(FStore) + TailHeader);
    }
    std::uint16_t TailWord(std::size_t at) const noexcept {
        std::uint16_t word;
        std::memcpy(&word, FStore + at, sizeof word);
        return word;
    }
    void SetTail(std::size_t count, std::size_t room) noexcept {
        const auto size = static_cast<std::uint16_t>(count), capacity = static_cast<std::uint16_t>(room);
        std::memcpy(FStore, &size, sizeof size);
        std::memcpy(FStore + 2, &capacity, sizeof capacity);
    }
    std::uint8_t* HeapBytes() const noexcept {
        std::uint8_t* bytes;
        std::memcpy(&bytes, FStore, sizeof bytes);
        return bytes;
    }
    std::uint32_t HeapSize() const noexcept {
        std::uint32_t size;
        std::memcpy(&size, FStore + sizeof(std::uint8_t*), sizeof size);
        return size;
    }
    void SetHeapSize(std::size_t count) noexcept {
        const auto size = static_cast<std::uint32_t>(count);
        std::memcpy(FStore + sizeof(std::uint8_t*), &size, sizeof size);
    }
    static std::uint32_t HeapCapacity(const std::uint8_t* bytes) noexcept {
        std::uint32_t capacity;
        std::memcpy(&capacity, bytes - HeapHeader, sizeof capacity);
        return capacity;
    }
    // A block for count bytes behind their capacity; the bytes' address.
    static std::uint8_t* AllocateHeap(std::size_t count) {
        auto* block = static_cast<std::uint8_t*>(AllocateRecord(HeapHeader + count));
        const auto capacity = static_cast<std::uint32_t>(count);
        std::memcpy(block, &capacity, sizeof capacity);
        return block + HeapHeader;
    }
    static void FreeHeap(std::uint8_t* bytes) noexcept {
        FreeRecord(bytes - HeapHeader, HeapHeader + HeapCapacity(bytes));
    }
    void SetHeap(std::uint8_t* bytes, std::size_t count) noexcept {
        std::memcpy(FStore, &bytes, sizeof bytes);
        SetHeapSize(count);
        FTag = HeapTag;
    }
    void SetSize(std::size_t count) noexcept {
        if (IsInline()) {
            FTag = static_cast<std::uint8_t>(count);
        } else if (FTag == TailTag) {
            SetTail(count, TailWord(2));
        } else {
            SetHeapSize(count);
        }
    }
    static bool Equal(const TBasicRecordData& a, const std::uint8_t* bytes, std::size_t size) {
        return a.size() == size && (size == 0 || std::memcmp(a.data(), bytes, size) == 0);
    }

    void Assign(const std::uint8_t* bytes, std::size_t count) {
        if (count > capacity()) {
            SetSize(0);
            Grow(count);
        }
        if (count) std::memmove(data(), bytes, count);
        SetSize(count);
    }
    // Room for count bytes at at, the bytes behind moved up; its position.
    std::size_t Open(const_iterator at, std::size_t count) {
        const std::size_t pos = static_cast<std::size_t>(at - data()), old = size();
        if (old + count > capacity()) Grow(std::max<std::size_t>(old + count, old * 2));
        std::memmove(data() + pos + count, data() + pos, old - pos);
        SetSize(old + count);
        return pos;
    }
    void Grow(std::size_t count) {
        if (count <= InlineCapacity && IsInline()) return;
        const std::size_t old = size();
        std::uint8_t* const bytes = AllocateHeap(count);
        if (old) std::memcpy(bytes, data(), old);
        Free();
        SetHeap(bytes, old);
    }
    void Free() noexcept {
        if (FTag == HeapTag) FreeHeap(HeapBytes());
        FTag = 0;
    }
    // Moves are many on the load road and cheap: a copy of the store.
    void Take(TBasicRecordData& other) noexcept {
        if (other.FTag == TailTag) [[unlikely]] {
            TakeFromTail(other);
            return;
        }
        std::memcpy(FStore, other.FStore, sizeof FStore);
        FTag = other.FTag;
        other.FTag = 0;
    }
    // The room stays with its record: the bytes are copied out.
    [[gnu::noinline, gnu::cold]] void TakeFromTail(TBasicRecordData& other) noexcept {
        FTag = 0;
        Assign(other.data(), other.size());
        other.FTag = 0;
    }

    // Byte-aligned, so that a record lays its header, these bytes and its
    // own small fields out without padding between them; the store last,
    // so that room behind the object can carry on its bytes.
    // Up to InlineCapacity: that many bytes inline; HeapTag: the bytes are
    // on the heap; TailTag: behind the store.
    std::uint8_t FTag = 0;
    std::uint8_t FStore[InlineCapacity > HeapStore ? InlineCapacity : HeapStore]{};

public:
    // Where bytes kept behind the store start, from the data's own start
    // (the tag, then the store).
    static constexpr std::size_t TailStart = sizeof FTag + TailHeader;
};

// 12 bytes inline: a record takes 24 bytes with them (UXlsBaseRecords.h).
using TRecordData = TBasicRecordData<KALMIRA_PLAIN_ALLOCATION ? 0 : 12>;
static_assert(sizeof(TRecordData) == 13 && alignof(TRecordData) == 1);

}  // namespace kalmira
