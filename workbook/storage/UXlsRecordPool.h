// Storage for records and their longer data. A sheet holds one record per
// cell, so records come from pools of equal-sized slots carved out of large
// blocks: no heap header per record, and taking or giving back a slot is a
// pointer swap on a list of the calling thread's own. Slots of a freed
// record are reused by the next ones of the same size, from any sheet or
// workbook; the blocks themselves stay with the process.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// AddressSanitizer sees only heap blocks of their own: the sanitizer builds
// allocate every record and every record's data as a block of its exact
// size (TRecordData keeps nothing inline there), so that a read past the
// end of a short record or a use after free is still reported.
#if defined(__SANITIZE_ADDRESS__)
#define KALMIRA_PLAIN_ALLOCATION 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KALMIRA_PLAIN_ALLOCATION 1
#endif
#endif
#ifndef KALMIRA_PLAIN_ALLOCATION
#define KALMIRA_PLAIN_ALLOCATION 0
#endif

namespace kalmira {

// Sizes above this come from the heap as they are.
inline constexpr std::size_t MaxPooledRecord = 256;

// From the calling thread's pools (the heap in the sanitizer builds).
void* AllocateRecord(std::size_t size);
// size: the size that was asked for.
void FreeRecord(void* record, std::size_t size) noexcept;

// A free slot holds the link to the next one.
struct TFreeRecordSlot {
    TFreeRecordSlot* Next;
};

// One thread's pools: a free list per size class (multiples of 8 bytes)
// and the rest of its newest block (blocks double from 64 KB to 2 MB). The blocks belong to the process; a
// pool that ends hands its free slots and the rest of its block over to the
// next pool that runs dry, and a pool hands over any list grown long.
class TRecordPools {
public:
    // A slot whose size is a multiple of 16 starts on 16 bytes, others on 8:
    // an object's size is a multiple of its alignment, so a record that
    // needs 16 asks for a multiple of 16.
    static constexpr std::size_t Granule = 8;
    static constexpr std::size_t ClassCount = MaxPooledRecord / Granule;
    static constexpr std::size_t BlockSize = 64 * 1024;
    // A free list this long goes to the slots all pools share.
    static constexpr std::uint32_t HandOver = 256;

    TRecordPools() = default;
    TRecordPools(const TRecordPools&) = delete;
    TRecordPools& operator=(const TRecordPools&) = delete;
    ~TRecordPools();

    void* Allocate(std::size_t size);
    void Free(void* slot, std::size_t size) noexcept;

private:
    static std::size_t ClassOf(std::size_t size) { return (size + Granule - 1) / Granule - 1; }
    // Whether a slot of the class may start at at.
    static bool Fits(const std::byte* at, std::size_t sizeClass);
    void* NewSlot(std::size_t sizeClass);
    // A slot of the class from the rest of the block into its free list.
    void PutAside(std::size_t sizeClass);
    // The block's rest, too small for the slot asked, into the free lists.
    void PutRestAside();

    std::array<TFreeRecordSlot*, ClassCount> FFree{};
    // Slots freed into each list since it was last empty or handed over: a
    // thread that frees what others allocated (a workbook loaded on
    // several threads) hands long lists over for the others to take.
    std::array<std::uint32_t, ClassCount> FFreed{};
    std::byte* FRest = nullptr;
    std::size_t FRestSize = 0;
    std::byte* FPopulated = nullptr;  // the newest block's pages are asked for up to here
    std::size_t FNextBlock = BlockSize / 2;  // the last block's size: each new one doubles
};

}  // namespace kalmira
