#include "workbook/storage/UXlsRecordPool.h"

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

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
    // The free slots of a thread that ended, or none.
    TFreeSlot* Take(std::size_t sizeClass) {
        std::lock_guard lock(FMutex);
        return std::exchange(FFree[sizeClass], nullptr);
    }

    std::byte* NewBlock() {
        std::lock_guard lock(FMutex);
        FBlocks.push_back(std::make_unique_for_overwrite<std::byte[]>(BlockSize));
        return FBlocks.back().get();
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

// A thread's free slots by class, and the rest of its newest block, from
// which new slots are cut as they are needed.
struct TThreadPools {
    std::array<TFreeSlot*, ClassCount> Free{};
    std::byte* Rest = nullptr;
    std::size_t RestSize = 0;

    void* NewSlot(std::size_t sizeClass) {
        if (TFreeSlot* slots = Shared().Take(sizeClass)) {
            Free[sizeClass] = slots->Next;
            return slots;
        }
        const std::size_t slotSize = (sizeClass + 1) * Granule;
        if (RestSize < slotSize) {
            // The block's tail goes to the free lists of the sizes it holds.
            while (RestSize >= Granule) {
                const std::size_t c = std::min(RestSize / Granule, ClassCount) - 1;
                Free[c] = new (Rest) TFreeSlot{Free[c]};
                Rest += (c + 1) * Granule;
                RestSize -= (c + 1) * Granule;
            }
            Rest = Shared().NewBlock();
            RestSize = BlockSize;
        }
        void* slot = Rest;
        Rest += slotSize;
        RestSize -= slotSize;
        return slot;
    }

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
    if (!free) return Local.NewSlot(sizeClass);
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
