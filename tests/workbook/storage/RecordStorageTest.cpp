#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <type_traits>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "workbook/storage/UXlsRecordData.h"
#include "workbook/storage/UXlsRecordPool.h"
#include "workbook/storage/Uxlscellrecords.h"

using namespace kalmira;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Inserts bytes first..last of the data at at: a vector may not insert a
// range of itself, so it is given a copy.
template <class Data>
void InsertOwn(Data& x, std::size_t at, std::size_t first, std::size_t last) {
    if constexpr (std::is_same_v<Data, Bytes>) {
        const Bytes part(x.begin() + first, x.begin() + last);
        x.insert(x.begin() + at, part.begin(), part.end());
    } else {
        x.insert(x.begin() + at, x.begin() + first, x.begin() + last);
    }
}

// Each step runs on a byte vector and on the record data alike; the two
// must hold the same bytes after every step. The steps cross the inline
// size both ways and insert ranges of the data itself.
template <class Data>
std::vector<Bytes> Script(Data& data) {
    const Bytes seven{1, 2, 3, 4, 5, 6, 7};
    const std::function<void(Data&)> steps[] = {
        [&](Data& x) { x.assign(seven.begin(), seven.end()); },
        [](Data& x) { InsertOwn(x, 2, 0, x.size()); },  // 14 bytes
        [](Data& x) { InsertOwn(x, x.size(), 1, 6); },  // 19: onto the heap
        [](Data& x) { x.erase(x.begin() + 3, x.begin() + 12); },  // 10
        [](Data& x) { x.resize(17, 0xAB); },
        [](Data& x) { x.insert(x.begin(), 3, std::uint8_t{9}); },
        [](Data& x) { x.resize(4); },
        [](Data& x) { x.push_back(0x55); },
        [](Data& x) { x = Data(x.begin(), x.begin() + 2); },
        [](Data& x) { x.insert(x.begin() + 1, {7, 8}); },
        [](Data& x) { x.assign(40, 0x11); },
        [](Data& x) { x.erase(x.begin()); },
        [](Data& x) { Data moved(std::move(x)); x = moved; x[0] = 0x22; },
    };
    std::vector<Bytes> trace;
    for (const auto& step : steps) {
        step(data);
        trace.emplace_back(data.begin(), data.end());
    }
    return trace;
}

template <class Data>
std::vector<Bytes> Script() {
    Data data;
    return Script(data);
}

// Record data as the last field of an object with room behind it, as a
// loaded formula keeps its bytes in its own slot.
struct TDataWithRoom {
    TBasicRecordData<16> Data;
    std::uint8_t Room[24];
    std::uint8_t* End() { return reinterpret_cast<std::uint8_t*>(this) + sizeof *this; }
};

}  // namespace

TEST(RecordData, KeepsTheBytesAVectorWouldInlineAndOnTheHeap) {
    const auto expected = Script<Bytes>();
    ASSERT_EQ(expected[2].size(), 19u);
    EXPECT_EQ(Script<TBasicRecordData<16>>(), expected);
    EXPECT_EQ(Script<TBasicRecordData<0>>(), expected);
    TBasicRecordData<16> small(Bytes{1, 2, 3}), copy(small);
    copy[0] = 9;
    EXPECT_EQ(small, (Bytes{1, 2, 3}));
    EXPECT_EQ(copy, (Bytes{9, 2, 3}));
    EXPECT_THROW(small.at(3), std::out_of_range);
}

// Bytes kept in the room behind the data change as a vector's do, in the
// room and past it (to the pools, and back inline when assigned), and a
// move copies them out; bytes the room cannot hold stay where they are.
TEST(RecordData, KeepsItsBytesInTheRoomBehindIt) {
    const auto expected = Script<Bytes>();
    auto held = std::make_unique<TDataWithRoom>();
    ASSERT_TRUE(held->Data.PlaceInTail(held->End()));
    EXPECT_GE(held->Data.capacity(), 24u);
    EXPECT_EQ(Script(held->Data), expected);

    const Bytes thirty(30, 0x3C);
    auto filled = std::make_unique<TDataWithRoom>();
    filled->Data = thirty;  // on the heap first
    ASSERT_TRUE(filled->Data.PlaceInTail(filled->End()));
    EXPECT_EQ(filled->Data, thirty);
    EXPECT_FALSE(filled->Data.PlaceInTail(filled->End()));  // there already
    const TBasicRecordData<16> moved(std::move(filled->Data));
    EXPECT_EQ(moved, thirty);
    EXPECT_TRUE(filled->Data.empty());
    filled->Data = thirty;
    ASSERT_TRUE(filled->Data.PlaceInTail(filled->End()));
    for (std::uint8_t i = 0; i < 20; ++i) filled->Data.push_back(i);  // past the room
    EXPECT_EQ(filled->Data.size(), 50u);
    EXPECT_EQ(Bytes(filled->Data.begin(), filled->Data.begin() + 30), thirty);
    EXPECT_EQ(filled->Data[49], 19);

    auto small = std::make_unique<TDataWithRoom>();
    small->Data.assign(60, 0x77);
    EXPECT_FALSE(small->Data.PlaceInTail(small->End()));
    EXPECT_EQ(small->Data, Bytes(60, 0x77));
}

// Every slot a pool hands out is its own: filled slots keep their bytes
// while others are freed and reused, also by a second pool that takes over
// the free slots of one that ended.
TEST(RecordPools, SlotsNeverOverlapAcrossFreesAndPools) {
    struct TSlot {
        void* At;
        std::size_t Size;
        std::uint8_t Mark;
    };
    std::vector<TSlot> live;
    auto fill = [&](TRecordPools& pools, int count, int salt) {
        for (int i = 0; i < count; ++i) {
            const std::size_t size = 1 + static_cast<std::size_t>(i * 37 + salt) % 300;  // some above the pools
            const TSlot slot{pools.Allocate(size), size, static_cast<std::uint8_t>(i + salt)};
            std::memset(slot.At, slot.Mark, size);
            live.push_back(slot);
        }
    };
    auto check = [&] {
        for (const TSlot& slot : live)
            for (std::size_t i = 0; i < slot.Size; ++i) ASSERT_EQ(static_cast<std::uint8_t*>(slot.At)[i], slot.Mark);
    };
    auto first = std::make_unique<TRecordPools>();
    TRecordPools second;
    fill(*first, 5000, 0);
    for (std::size_t i = 0; i < live.size(); i += 2) first->Free(live[i].At, live[i].Size);
    std::erase_if(live, [n = 0](const TSlot&) mutable { return n++ % 2 == 0; });
    fill(*first, 1000, 3);
    check();
    for (const TSlot& slot : live) first->Free(slot.At, slot.Size);
    live.clear();
    fill(second, 2000, 5);
    first.reset();  // its free slots go to the shared lists, second takes them
    fill(second, 6000, 7);
    check();
    for (const TSlot& slot : live) second.Free(slot.At, slot.Size);
}

// A thread that loads a sheet allocates its records and ends; another
// frees them. The next such thread takes those slots and the rest of the
// ended one's block instead of new blocks: rounds of it stay within about
// one round's slots.
TEST(RecordPools, SlotsFreedByAnotherPoolServeTheNextPools) {
    constexpr std::size_t SlotSize = 48, Slots = 3000, Rounds = 6;
    TRecordPools freeing;
    std::set<void*> seen;
    for (std::size_t round = 0; round < Rounds; ++round) {
        std::vector<void*> slots(Slots);
        {
            TRecordPools loading;
            for (void*& slot : slots) {
                slot = loading.Allocate(SlotSize);
                std::memset(slot, static_cast<int>(round), SlotSize);
                seen.insert(slot);
            }
        }
        for (void* slot : slots) freeing.Free(slot, SlotSize);
    }
    EXPECT_LT(seen.size(), 2 * Slots);
}

// Enough slots to fill blocks of the largest size, whose pages a helper
// thread brings in ahead of them: every slot keeps what was written into
// it. A child forked after that (it has no such helper) fills as many of
// its own and ends, rather than waiting for a thread that is not there.
TEST(RecordPools, BigPoolsKeepEverySlotAlsoInAForkedChild) {
    constexpr std::size_t SlotSize = 48, Slots = 12 * 1024 * 1024 / SlotSize;
    const auto fillAndCheck = [](TRecordPools& pools, std::uint8_t salt) {
        std::vector<std::uint8_t*> slots(Slots);
        for (std::size_t i = 0; i < Slots; ++i) {
            slots[i] = static_cast<std::uint8_t*>(pools.Allocate(SlotSize));
            std::memset(slots[i], static_cast<std::uint8_t>(i * 7 + salt), SlotSize);
        }
        bool kept = true;
        for (std::size_t i = 0; i < Slots; ++i)
            kept = kept && slots[i][0] == static_cast<std::uint8_t>(i * 7 + salt) &&
                   slots[i][SlotSize - 1] == static_cast<std::uint8_t>(i * 7 + salt);
        for (std::uint8_t* slot : slots) pools.Free(slot, SlotSize);
        return kept;
    };
    {
        TRecordPools pools;
        ASSERT_TRUE(fillAndCheck(pools, 1));
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TRecordPools pools;
        ::_exit(fillAndCheck(pools, 2) ? 0 : 1);
    }
    int status = 0;
    pid_t ended = 0;
    for (int waited = 0; waited < 600 && (ended = ::waitpid(child, &status, WNOHANG)) == 0; ++waited) ::usleep(100'000);
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the forked child did not end within a minute";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A copy lives on after its source is freed, on another thread too.
TEST(RecordPools, CopiesOutliveTheirSourceAcrossThreads) {
    auto number = std::make_unique<TNumberRecord>(std::uint16_t{3}, std::uint16_t{4}, std::uint16_t{15});
    number->SetValue(TVariant(2.5));
    std::unique_ptr<TBaseRecord> copy = number->CopyTo();
    number.reset();
    std::thread([&] {
        const auto& held = static_cast<const TNumberRecord&>(*copy);
        EXPECT_EQ(held.GetValue().RealValue(), 2.5);
        EXPECT_EQ(held.GetRow(), 3);
        copy.reset();
    }).join();
    EXPECT_FALSE(copy);
}
