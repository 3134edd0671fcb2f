#include "workbook/storage/UXlsRecordPool.h"

#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace kalmira {

static_assert(TRecordPools::Granule >= alignof(void*) && 2 * TRecordPools::Granule >= alignof(std::max_align_t));

namespace {

// Blocks grow from BlockSize to this size; they start on a page.
constexpr std::size_t HugeBlock = 2 * 1024 * 1024;
constexpr std::size_t PageSize = 4096;
// A big sheet fills its blocks fast: their pages are brought in this many
// bytes at a time, in one call instead of one fault each, by a thread of
// their own that stays up to PopulateLead bytes ahead of the slots, so
// that the thread loading the records seldom waits for a page. Pages
// further ahead are never asked for: they would be memory the sheet may
// never use.
constexpr std::size_t PopulateStep = 32 * 1024;
constexpr std::size_t PopulateLead = 64 * 1024;

void PopulateNow([[maybe_unused]] std::byte* from, [[maybe_unused]] std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    ::madvise(from, size, MADV_POPULATE_WRITE);  // kernels without it refuse, harmlessly
#endif
}

// The thread that brings in the pages of the blocks' next steps. Blocks
// are never freed, so a step it reaches late is still the process's
// memory; a page the pools reach first comes in by its own fault. A
// process that cannot start the thread, or a child forked from this one
// (which has no such thread), brings its pages in at once.
class TPopulator {
public:
    static void Post(std::byte* from, std::size_t size) {
        static TPopulator* const populator = Start();  // outlives every thread's pools
        if (populator && !Forked.load(std::memory_order_relaxed)) populator->Queue(from, size);
        else PopulateNow(from, size);
    }

private:
    static inline std::atomic<bool> Forked{false};

    static TPopulator* Start() {
        if (::pthread_atfork(nullptr, nullptr, [] { Forked.store(true, std::memory_order_relaxed); }) != 0) return nullptr;
        auto* populator = new TPopulator;
        try {
            std::thread([populator] { populator->Run(); }).detach();
        } catch (const std::system_error&) {
            delete populator;
            return nullptr;
        }
        return populator;
    }

    void Queue(std::byte* from, std::size_t size) {
        bool wake;
        {
            std::lock_guard lock(FMutex);
            FSteps.emplace_back(from, size);
            wake = FAsleep;
        }
        if (wake) FWake.notify_one();  // a thread at work or looking out finds the step by itself
    }

    // While steps come, the thread looks for the next one now and then
    // instead of sleeping until woken: a wake-up call would cost the
    // loading thread more than the step saves it.
    [[noreturn]] void Run() {
        std::unique_lock lock(FMutex);
        int idle = 0;
        for (;;) {
            if (FSteps.empty()) {
                if (idle < LookOuts) {
                    ++idle;
                    FWake.wait_for(lock, LookOutEvery);
                    continue;
                }
                FAsleep = true;
                FWake.wait(lock, [this] { return !FSteps.empty(); });
                FAsleep = false;
            }
            idle = 0;
            const auto [from, size] = FSteps.front();
            FSteps.pop_front();
            lock.unlock();
            PopulateNow(from, size);
            lock.lock();
        }
    }

    static constexpr std::chrono::microseconds LookOutEvery{50};
    static constexpr int LookOuts = 40;  // 2 ms without a step: asleep

    std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<std::pair<std::byte*, std::size_t>> FSteps;
    bool FAsleep = false;
};

// What the pools share: the blocks (kept reachable for leak checkers) and
// the free slots of pools that ended, by size class.
class TSharedPools {
public:
    // One list of free slots. Asked whenever a pool carves a new slot: no
    // lock while there is nothing.
    TFreeRecordSlot* TakeFree(std::size_t sizeClass) {
        if (!FAny[sizeClass].load(std::memory_order_acquire)) return nullptr;
        std::lock_guard lock(FMutex);
        auto& lists = FFree[sizeClass];
        if (lists.empty()) return nullptr;
        TFreeRecordSlot* list = lists.back();
        lists.pop_back();
        FAny[sizeClass].store(!lists.empty(), std::memory_order_relaxed);
        return list;
    }

    // A pool's list of free slots, kept whole: a list of millions is not
    // walked to join it to others.
    void GiveBack(std::size_t sizeClass, TFreeRecordSlot* list) {
        std::lock_guard lock(FMutex);
        FFree[sizeClass].push_back(list);
        FAny[sizeClass].store(true, std::memory_order_release);
    }

    // The rest of a block whose pool ended, for another pool to carve
    // from instead of a new block; populated: how far its pages were asked for.
    void GiveRest(std::byte* rest, std::size_t size, std::byte* populated) {
        std::lock_guard lock(FMutex);
        FRests.push_back({rest, size, populated});
        FAnyRest.store(true, std::memory_order_release);
    }
    bool TakeRest(std::byte*& rest, std::size_t& size, std::byte*& populated) {
        if (!FAnyRest.load(std::memory_order_acquire)) return false;
        std::lock_guard lock(FMutex);
        if (FRests.empty()) return false;
        std::tie(rest, size, populated) = FRests.back();
        FRests.pop_back();
        FAnyRest.store(!FRests.empty(), std::memory_order_relaxed);
        return true;
    }

    // A new block of size bytes (a multiple of BlockSize).
    std::byte* NewBlock(std::size_t size) {
        TBlock block(static_cast<std::byte*>(std::aligned_alloc(PageSize, size)));
        if (!block) throw std::bad_alloc();
        std::lock_guard lock(FMutex);
        FBlocks.push_back(std::move(block));
        return FBlocks.back().get();
    }

private:
    struct TFree {
        void operator()(std::byte* block) const { std::free(block); }
    };
    using TBlock = std::unique_ptr<std::byte, TFree>;

    std::mutex FMutex;
    std::vector<TBlock> FBlocks;
    std::array<std::vector<TFreeRecordSlot*>, TRecordPools::ClassCount> FFree;
    std::array<std::atomic<bool>, TRecordPools::ClassCount> FAny{};
    std::vector<std::tuple<std::byte*, std::size_t, std::byte*>> FRests;
    std::atomic<bool> FAnyRest{false};
};

TSharedPools& Shared() {
    static auto* pools = new TSharedPools;  // outlives every thread's pools
    return *pools;
}

}  // namespace

TRecordPools::~TRecordPools() {
    try {
        // A thread that loaded a sheet ends with most of its block unused.
        if (FRestSize >= MaxPooledRecord + Granule) Shared().GiveRest(FRest, FRestSize, FPopulated);
        else PutRestAside();
        for (std::size_t c = 0; c < ClassCount; ++c)
            if (FFree[c]) Shared().GiveBack(c, FFree[c]);
    } catch (const std::bad_alloc&) {
        // The slots stay unused; their blocks are still the process's.
    }
}

void* TRecordPools::Allocate(std::size_t size) {
    if (size == 0 || size > MaxPooledRecord) return ::operator new(size);
    const std::size_t sizeClass = ClassOf(size);
    TFreeRecordSlot* slot = FFree[sizeClass];
    if (!slot) return NewSlot(sizeClass);
    FFree[sizeClass] = slot->Next;
    if (FFreed[sizeClass] > 0) --FFreed[sizeClass];
    return slot;
}

void TRecordPools::Free(void* slot, std::size_t size) noexcept {
    if (!slot) return;
    if (size == 0 || size > MaxPooledRecord) {
        ::operator delete(slot);
        return;
    }
    const std::size_t sizeClass = ClassOf(size);
    TFreeRecordSlot*& free = FFree[sizeClass];
    free = new (slot) TFreeRecordSlot{free};
    // Another thread's pools run dry on what this one holds unused.
    if (++FFreed[sizeClass] < HandOver) return;
    try {
        Shared().GiveBack(sizeClass, free);
        free = nullptr;
    } catch (...) {
        // Kept here: the list stays this pool's.
    }
    FFreed[sizeClass] = 0;
}

bool TRecordPools::Fits(const std::byte* at, std::size_t sizeClass) {
    return ((sizeClass + 1) * Granule) % (2 * Granule) != 0 || reinterpret_cast<std::uintptr_t>(at) % (2 * Granule) == 0;
}

void TRecordPools::PutAside(std::size_t sizeClass) {
    FFree[sizeClass] = new (FRest) TFreeRecordSlot{FFree[sizeClass]};
    FRest += (sizeClass + 1) * Granule;
    FRestSize -= (sizeClass + 1) * Granule;
}

// The block's tail goes to the free lists of the sizes it holds.
void TRecordPools::PutRestAside() {
    while (FRestSize >= Granule) {
        const std::size_t c = std::min(FRestSize / Granule, ClassCount) - 1;
        PutAside(Fits(FRest, c) ? c : 0);
    }
}

void* TRecordPools::NewSlot(std::size_t sizeClass) {
    if (TFreeRecordSlot* slots = Shared().TakeFree(sizeClass)) {
        FFree[sizeClass] = slots->Next;
        return slots;
    }
    const std::size_t slotSize = (sizeClass + 1) * Granule;
    // The smallest slot puts the rest on 16 bytes for a slot that needs it.
    if (FRestSize >= slotSize && !Fits(FRest, sizeClass)) PutAside(0);
    if (FRestSize < slotSize) {
        PutRestAside();
        if (!Shared().TakeRest(FRest, FRestSize, FPopulated)) {
            FNextBlock = std::clamp(FNextBlock * 2, BlockSize, HugeBlock);
            FRest = Shared().NewBlock(FNextBlock);
            FRestSize = FNextBlock;
            FPopulated = FNextBlock >= HugeBlock ? FRest : FRest + FRestSize;
        }
        if (FRestSize >= slotSize && !Fits(FRest, sizeClass)) PutAside(0);
    }
    // FPopulated: how far the block's pages have been asked for.
    std::byte* const blockEnd = FRest + FRestSize;
    while (FPopulated < blockEnd && static_cast<std::size_t>(FPopulated - FRest) < slotSize + PopulateLead) {
        const std::size_t step = std::min(PopulateStep, static_cast<std::size_t>(blockEnd - FPopulated));
        TPopulator::Post(FPopulated, step);
        FPopulated += step;
    }
    void* slot = FRest;
    FRest += slotSize;
    FRestSize -= slotSize;
    // A slot of an odd number of granules comes with its twin, put on its
    // free list: the rest stays on 16 bytes, so that the next slot of a
    // multiple of 16 needs no pad in front (24-byte cells among 32-byte
    // rows and 48-byte formulas would leave one in front of each).
    if (slotSize % (2 * Granule) != 0 && FRestSize >= slotSize) PutAside(sizeClass);
    return slot;
}

#if KALMIRA_PLAIN_ALLOCATION

void* AllocateRecord(std::size_t size) { return ::operator new(size); }
void FreeRecord(void* record, std::size_t) noexcept { ::operator delete(record); }

#else

namespace {
thread_local TRecordPools Local;
}  // namespace

void* AllocateRecord(std::size_t size) { return Local.Allocate(size); }
void FreeRecord(void* record, std::size_t size) noexcept { Local.Free(record, size); }

#endif

}  // namespace kalmira
