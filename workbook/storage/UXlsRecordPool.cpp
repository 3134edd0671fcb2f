#include "workbook/storage/UXlsRecordPool.h"

#include <array>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "workbook/storage/UXlsRecordData.h"

namespace kalmira {

#if KALMIRA_PLAIN_ALLOCATION

void* AllocateRecord(std::size_t size) { return ::operator new(size); }
void FreeRecord(void* record, std::size_t size) noexcept { ::operator delete(record, size); }

#else

namespace {

constexpr std::size_t Granule = alignof(std::max_align_t);
constexpr std::size_t ClassCount = MaxPooledRecord / Granule;
constexpr std::size_t BlockSize = 64 * 1024;

struct TFreeSlot {
    TFreeSlot* Next;
};

std::size_t ClassOf(std::size_t size) { return (size + Granule - 1) / Granule - 1; }

// What threads share: the blocks (kept reachable for leak checkers) and the
// free slots of threads that ended.
class TSharedPools {
public:
    // Free slots of the class for a thread whose own list ran dry.
    TFreeSlot* Take(std::size_t sizeClass) {
        std::lock_guard lock(FMutex);
        if (TFreeSlot* slots = FFree[sizeClass]) {
            FFree[sizeClass] = nullptr;
            return slots;
        }
        FBlocks.push_back(std::make_unique<std::byte[]>(BlockSize));
        std::byte* block = FBlocks.back().get();
        const std::size_t slotSize = (sizeClass + 1) * Granule;
        TFreeSlot* list = nullptr;
        for (std::size_t at = BlockSize / slotSize * slotSize; at >= slotSize; at -= slotSize)
            list = new (block + at - slotSize) TFreeSlot{list};
        return list;
    }

    void GiveBack(std::size_t sizeClass, TFreeSlot* slots) {
        if (!slots) return;
        TFreeSlot* last = slots;
        while (last->Next) last = last->Next;
        std::lock_guard lock(FMutex);
        last->Next = FFree[sizeClass];
        FFree[sizeClass] = slots;
    }

private:
    std::mutex FMutex;
    std::vector<std::unique_ptr<std::byte[]>> FBlocks;
    std::array<TFreeSlot*, ClassCount> FFree{};
};

TSharedPools& Shared() {
    static auto* pools = new TSharedPools;  // outlives every thread's pools
    return *pools;
}

struct TThreadPools {
    std::array<TFreeSlot*, ClassCount> Free{};
    ~TThreadPools() {
        for (std::size_t c = 0; c < ClassCount; ++c) Shared().GiveBack(c, Free[c]);
    }
};

thread_local TThreadPools Local;

}  // namespace

void* AllocateRecord(std::size_t size) {
    if (size == 0 || size > MaxPooledRecord) return ::operator new(size);
    const std::size_t sizeClass = ClassOf(size);
    TFreeSlot*& free = Local.Free[sizeClass];
    if (!free) free = Shared().Take(sizeClass);
    TFreeSlot* slot = free;
    free = slot->Next;
    return slot;
}

void FreeRecord(void* record, std::size_t size) noexcept {
    if (!record) return;
    if (size == 0 || size > MaxPooledRecord) {
        ::operator delete(record, size);
        return;
    }
    TFreeSlot*& free = Local.Free[ClassOf(size)];
    free = new (record) TFreeSlot{free};
}

#endif

}  // namespace kalmira
