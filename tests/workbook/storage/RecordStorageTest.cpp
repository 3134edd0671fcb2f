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

#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsRecordData.h"
#include "workbook/storage/UXlsRecordPool.h"
#include "workbook/storage/Uxlscellrecords.h"

using namespace kalmira;

namespace {

using Bytes = std::vector<std::uint8_t>;
// The record data of the release builds, whatever this build keeps inline.
using TInlineData = TBasicRecordData<12>;

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
    TInlineData Data;
    std::uint8_t Room[24];
    std::uint8_t* End() { return reinterpret_cast<std::uint8_t*>(this) + sizeof *this; }
};

}  // namespace

TEST(RecordData, KeepsTheBytesAVectorWouldInlineAndOnTheHeap) {
    const auto expected = Script<Bytes>();
    ASSERT_EQ(expected[2].size(), 19u);
    EXPECT_EQ(Script<TInlineData>(), expected);
    EXPECT_EQ(Script<TBasicRecordData<0>>(), expected);
    TInlineData small(Bytes{1, 2, 3}), copy(small);
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
    const TInlineData moved(std::move(filled->Data));
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

namespace {

// One change of the table below: the data starts with Start bytes (0, 1,
// 2, ...) inline, on the heap or in the room behind it, and then changes.
enum class TPlace { Inline, Heap, Room };
enum class TChange { Insert, InsertOwn, Erase, Resize, PushBack, PopBack, Assign };
struct TBoundaryCase {
    std::size_t Start;
    TChange Change;
    std::size_t At, Count;  // position and bytes (Resize, Assign: the new size)
};

// Across the inline size (12/13 bytes), across the room's end (32/33
// bytes) and back.
constexpr TBoundaryCase BoundaryCases[] = {
    {12, TChange::Insert, 6, 1},     {11, TChange::Insert, 0, 2},   {12, TChange::Insert, 12, 1},
    {12, TChange::InsertOwn, 0, 12}, {13, TChange::Erase, 0, 1},    {13, TChange::Erase, 12, 1},
    {14, TChange::Erase, 2, 2},      {12, TChange::Resize, 0, 13},  {13, TChange::Resize, 0, 12},
    {12, TChange::Resize, 0, 40},    {40, TChange::Resize, 0, 5},   {12, TChange::PushBack, 0, 1},
    {13, TChange::PopBack, 0, 1},    {12, TChange::Assign, 0, 13},  {13, TChange::Assign, 0, 12},
    {32, TChange::PushBack, 0, 1},   {33, TChange::PopBack, 0, 1},  {31, TChange::Insert, 3, 2},
    {32, TChange::InsertOwn, 4, 10}, {0, TChange::Assign, 0, 13},   {13, TChange::Assign, 0, 0},
};

Bytes Counting(std::size_t count, std::uint8_t from = 0) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(from + i);
    return bytes;
}

template <class Data>
void Change(Data& x, const TBoundaryCase& c) {
    switch (c.Change) {
        case TChange::Insert: {
            const Bytes added = Counting(c.Count, 0xA0);
            x.insert(x.begin() + static_cast<std::ptrdiff_t>(c.At), added.begin(), added.end());
            break;
        }
        case TChange::InsertOwn: InsertOwn(x, c.At, 0, c.Count); break;
        case TChange::Erase:
            x.erase(x.begin() + static_cast<std::ptrdiff_t>(c.At), x.begin() + static_cast<std::ptrdiff_t>(c.At + c.Count));
            break;
        case TChange::Resize: x.resize(c.Count, 0xEE); break;
        case TChange::PushBack: x.push_back(0x5A); break;
        case TChange::PopBack: x.pop_back(); break;
        case TChange::Assign: x.assign(c.Count, std::uint8_t{0x33}); break;
    }
}

}  // namespace

// Each change gives the bytes a vector would hold, from each place the
// bytes can start in; a copy and a move of the result hold them too, and
// the data moved from is empty.
TEST(RecordData, ChangesAcrossTheInlineSizeAndTheRoomAsAVectorDoes) {
    for (const TBoundaryCase& c : BoundaryCases)
        for (const TPlace place : {TPlace::Inline, TPlace::Heap, TPlace::Room}) {
            SCOPED_TRACE(testing::Message() << "start " << c.Start << ", change " << static_cast<int>(c.Change)
                                            << " at " << c.At << " count " << c.Count << ", place "
                                            << static_cast<int>(place));
            Bytes expected = Counting(c.Start);
            Change(expected, c);
            auto held = std::make_unique<TDataWithRoom>();
            TInlineData& data = held->Data;
            if (place == TPlace::Heap) data.reserve(64);  // on the heap whatever its size
            data = Counting(c.Start);
            if (place == TPlace::Room) {
                ASSERT_EQ(data.PlaceInTail(held->End()), c.Start <= 32);  // what the room holds
            }
            Change(data, c);
            EXPECT_EQ(Bytes(data.begin(), data.end()), expected);
            EXPECT_GE(data.capacity(), data.size());
            const TInlineData copy(data);
            EXPECT_EQ(copy, expected);
            TInlineData moved(std::move(data));
            EXPECT_EQ(moved, expected);
            EXPECT_TRUE(data.empty());
            data = moved;  // the emptied data takes bytes again
            EXPECT_EQ(data, expected);
            TBasicRecordData<0> plain(Counting(c.Start));
            Change(plain, c);
            EXPECT_EQ(plain, expected);
        }
}

// Data longer than a record (a drawing's, joined from several) keeps every
// byte and its capacity: neither count is cut to 16 bits on the heap.
TEST(RecordData, LongDataKeepsItsSizeAndCapacity) {
    for (const std::size_t size : {std::size_t{13}, std::size_t{300}, std::size_t{70000}, std::size_t{200000}}) {
        SCOPED_TRACE(size);
        TRecordData data;
        data.reserve(size + 5);
        EXPECT_EQ(data.capacity(), size + 5);
        Bytes expected = Counting(size, 7);
        data = expected;
        EXPECT_EQ(data.capacity(), size + 5);  // no new block for what fits
        data.push_back(1);
        expected.push_back(1);
        data.insert(data.begin() + 5, {9, 9, 9});
        expected.insert(expected.begin() + 5, {9, 9, 9});
        data.erase(data.begin(), data.begin() + 2);
        expected.erase(expected.begin(), expected.begin() + 2);
        EXPECT_EQ(data.size(), size + 2);
        EXPECT_EQ(data, expected);
        const TRecordData copy(data);
        EXPECT_EQ(copy, expected);
        data.resize(3);
        EXPECT_EQ(data, (Bytes{9, 10, 11}));
        EXPECT_GE(data.capacity(), size + 5);  // kept until the data goes
    }
}

namespace {

// A record as loaded whose data is too long to be inline, with the class
// the factory builds for it.
struct TLoadedCase {
    std::uint16_t Id;
    Bytes Data;
    bool (*IsOfClass)(const TBaseRecord&);
    std::size_t Added;  // bytes added: past the slot's 16, within what a copy accepts
};

template <class T>
bool IsA(const TBaseRecord& record) {
    return dynamic_cast<const T*>(&record) != nullptr;
}

// Whether the data lies in the record's slot, right behind its fields (no
// block of the pools starts there: their data lies 4 bytes past 8).
bool DataInSlot(const TBaseRecord& record) {
    return record.Data.data() == reinterpret_cast<const std::uint8_t*>(&record) + SlotFields;
}

}  // namespace

// A NUMBER (14 bytes), a ROW (16) and a LABEL (13) as loaded keep their
// data in their slot (the release builds) and read as loaded; data that
// outgrows the slot moves to the pools; a copy in another sheet's list
// lives on with the bytes of its source when the source and its slot are
// gone and the slot serves other records.
TEST(RecordPools, LoadedRecordsOutgrowTheirSlotAndCopiesOutliveThem) {
    const Bytes number = {3, 0, 4, 0, 15, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x40};  // 2.5
    const Bytes row = {9, 0, 0, 0, 4, 0, 0x2C, 1, 0, 0, 0, 0, 0x40, 1, 15, 0};
    const Bytes label = {1, 0, 2, 0, 15, 0, 4, 0, 0, 'a', 'b', 'c', 'd'};
    const TLoadedCase cases[] = {
        {xlr_NUMBER, number, IsA<TNumberRecord>, 3},
        {xlr_ROW, row, IsA<TRowRecord>, 3},
        {xlr_LABEL, label, IsA<TLabelRecord>, 24},
    };
    for (const TLoadedCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "record 0x" << std::hex << c.Id);
        std::unique_ptr<TBaseRecord> loaded = ole2test::Load(c.Id, c.Data);
        ASSERT_TRUE(c.IsOfClass(*loaded));
        EXPECT_EQ(loaded->Data, c.Data);
        if (!KALMIRA_PLAIN_ALLOCATION) {
            EXPECT_TRUE(DataInSlot(*loaded));
        }
        const std::unique_ptr<TBaseRecord> asLoaded = loaded->CopyTo();

        // Bytes a writer added, more than the slot holds.
        Bytes grown = c.Data;
        const Bytes added = Counting(c.Added, 0x60);
        grown.insert(grown.end(), added.begin(), added.end());
        loaded->Data.insert(loaded->Data.end(), added.begin(), added.end());
        EXPECT_EQ(loaded->Data, grown);
        EXPECT_FALSE(DataInSlot(*loaded));

        TBaseRecordList otherSheet;
        otherSheet.Add(loaded->CopyTo());
        loaded.reset();
        // The freed slot and block serve records loaded next.
        std::vector<std::unique_ptr<TBaseRecord>> next;
        for (std::uint8_t i = 0; i < 8; ++i) {
            Bytes other = c.Data;
            other.back() = i;
            next.push_back(ole2test::Load(c.Id, other));
        }
        const TBaseRecord& copy = *otherSheet.GetItems(0);
        EXPECT_TRUE(c.IsOfClass(copy));
        EXPECT_EQ(copy.Data, grown);
        EXPECT_EQ(ole2test::Saved(copy), ole2test::Rec(c.Id, grown));
        EXPECT_TRUE(c.IsOfClass(*asLoaded));
        EXPECT_EQ(ole2test::Saved(*asLoaded), ole2test::Rec(c.Id, c.Data));
        if (c.Id == xlr_NUMBER) {
            EXPECT_EQ(static_cast<const TNumberRecord&>(copy).GetValue().RealValue(), 2.5);
        }
    }
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
