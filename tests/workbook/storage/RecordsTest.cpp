#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/workbook/storage/Ole2Fixtures.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/Uexcelrecords.h"

using namespace kalmira;
using namespace ole2test;

TEST(RecordFactory, AttachesContinuationsAndReportsTheNextHeader) {
    TStreamFile f(Cat({Rec(0x1234, {1, 2}), Rec(0x3C, {3}), Rec(0x3C, {4, 5}), Rec(0x0203, Bytes(14, 0))}));
    auto record = f.Next();
    EXPECT_EQ(record->Id, 0x1234);
    ASSERT_TRUE(record->Continue && record->Continue->Continue);
    EXPECT_EQ(record->Continue->Continue->Data, (Bytes{4, 5}));
    EXPECT_FALSE(record->Continue->Continue->Continue);
    EXPECT_EQ(f.Header.Id, 0x0203);
    EXPECT_EQ(f.Header.Size, 14);
    EXPECT_EQ(record->TotalSize(), 4 + 2 + 4 + 1 + 4 + 2);
}

// A class registered on one thread (the first load of the process) while
// another thread reads records of that id: the reader gets a plain record
// or one of the class, and the class once the registration is done.
TEST(RecordFactory, AClassRegisteredWhileAnotherThreadReadsRecords) {
    constexpr std::uint16_t Id = 0x7FF0;
    const Bytes stream = Cat({Rec(Id, {1, 2}), Rec(0x0A, {})});
    std::atomic<bool> registered{false};
    std::thread registering([&] {
        RegisterRecordClass(Id, MakeRecord<TIgnoreRecord>);
        registered = true;
    });
    bool done = false;
    do {
        done = registered;
        TStreamFile f(stream);
        const auto record = f.Next();
        EXPECT_EQ(record->Id, Id);
        if (done) {
            EXPECT_TRUE(record->Kinds() & rkIgnore);
        }
    } while (!done);
    registering.join();
}

// Three bytes or fewer left hold no record: the header is that of zero
// padding, which no section may load.
TEST(RecordFactory, ThreeBytesOrFewerLeftGiveNoRecord) {
    // 4096 bytes exactly, so the container adds no padding.
    TStreamFile f(Cat({Rec(0x1234, Bytes(4096 - 4 - 3, 7)), Bytes{9, 9, 9}}));
    EXPECT_EQ(f.Next()->DataSize(), 4089);
    EXPECT_EQ(f.Header.Id + f.Header.Size, 0);
    EXPECT_EQ(MessageOf([&] { f.Next(); }), "Error reading Excel records. File invalid");
}

TEST(RecordFactory, PlacementRules) {
    const Bytes cell(20, 0);
    {
        TStreamFile f(Cat({Rec(0x06, cell), Rec(0x221, cell), Rec(0x207, {1, 0, 0, 'a'}), Rec(0x0A, {})}));
        std::vector<std::uint16_t> ids;
        for (int i = 0; i < 4; ++i) ids.push_back(f.Next()->Id);
        EXPECT_EQ(ids, (std::vector<std::uint16_t>{0x06, 0x221, 0x207, 0x0A}));
    }
    const std::string invalid = "Error reading Excel records. File invalid";
    for (auto [before, after] : {std::pair<int, int>{0x203, 0x221}, {0x203, 0x236}, {0x203, 0x800}, {0xFD, 0x207}}) {
        TStreamFile f(Cat({Rec(before, Bytes(before == 0xFD ? 10 : 14, 0)), Rec(after, cell), Rec(0x0A, {})}));
        EXPECT_EQ(MessageOf([&] { f.Next(); }), invalid) << std::hex << before << " " << after;
    }
    TStreamFile f(Cat({Rec(0x4BC, cell), Rec(0x207, {1, 0, 0, 'a'}), Rec(0x0A, {})}));
    EXPECT_EQ(f.Next()->Id, 0x4BC);
    // STRING stays a plain record until the formula classes write it.
    auto str = f.Next();
    EXPECT_EQ(str->Id, 0x207);
    EXPECT_EQ(str->TotalSize(), 8);
}

TEST(RecordFactory, AStringRecordReadsItsTextAcrossAContinuation) {
    TStringRecord str(0x207, {3, 0, 0, 'a'});
    str.AddContinue(std::make_unique<TContinueRecord>(xlr_CONTINUE, Bytes{1, 0x62, 0x01, 0x63, 0}));
    EXPECT_EQ(str.Value(), u"a\u0162c");
    EXPECT_EQ(str.TotalSize(), 0);
    EXPECT_EQ(Written([&](TOle2File& ole) { str.SaveToStream(ole); }), Bytes{});
    EXPECT_EQ(MessageOf([&] { str.AddContinue(nullptr); }),
              "Trying to add more than one CONTINUE record to the same record");
}

TEST(RecordFactory, BadInput) {
    {
        TStreamFile f(Cat({Rec(0x809, {0, 6, 5, 0}), Rec(0x2F, {1, 2}), Bytes(50, 0xEE)}));
        f.Next();
        const std::int64_t at = f.Ole.Position();
        EXPECT_EQ(MessageOf([&] { f.Next(); }), "File is password protected");
        EXPECT_EQ(f.Ole.Position(), at);  // nothing after the FILEPASS header was read
    }
    {
        TStreamFile f(Cat({Rec(0x1234, Bytes(4096 - 8 - 10, 0)), Bytes{0x34, 0x12, 100, 0}, Bytes(10, 1)}));
        f.Next();
        EXPECT_EQ(MessageOf([&] { f.Next(); }), "End of stream reached with 90 bytes left to read");
    }
    EXPECT_EQ(MessageOf([&] { Load(0x208, Bytes(6, 0)); }), "Record with ID 0x208 is invalid");
}

// A record longer than BIFF8's 8,224 bytes, or a cell of a fixed layout
// long enough to hide a record header more, has swallowed the records
// behind it: refused with its id. A few bytes more go back as read.
TEST(RecordFactory, RecordsLongerThanTheirKindAllows) {
    const struct {
        Bytes Stream;
        std::string Message;
    } cases[] = {
        {Rec(0x1234, Bytes(8225, 0)), "Record with ID 0x1234 is invalid"},
        {Cat({Rec(0x1234, Bytes(8224, 0)), Rec(0x3C, Bytes(8225, 0))}), "Record with ID 0x3C is invalid"},
        {Rec(0x27E, Bytes(14, 0)), "Record with ID 0x27E is invalid"},
        {Rec(0x203, Bytes(18, 0)), "Record with ID 0x203 is invalid"},
        {Rec(0x201, Bytes(10, 0)), "Record with ID 0x201 is invalid"},
        {Rec(0x205, Bytes(12, 0)), "Record with ID 0x205 is invalid"},
        {Rec(0xFD, Bytes(14, 0)), "Record with ID 0xFD is invalid"},
        {Rec(0x208, Bytes(20, 0)), "Record with ID 0x208 is invalid"},
        {Rec(0x1234, Bytes(8224, 0)), "no exception"},
        {Rec(0x205, Bytes(9, 0)), "no exception"},
        {Rec(0x203, Bytes(17, 0)), "no exception"},
    };
    for (const auto& c : cases) {
        TStreamFile f(Cat({c.Stream, Rec(0x0A, {}), Bytes(8, 0)}));
        EXPECT_EQ(MessageOf([&] { f.Next(); }), c.Message) << c.Message;
    }
    TStreamFile f(Cat({Rec(0x203, Bytes(17, 0)), Rec(0x0A, {}), Bytes(8, 0)}));
    EXPECT_EQ(Written([&](TOle2File& ole) { f.Next()->SaveToStream(ole); }), Rec(0x203, Bytes(17, 0)));
}

TEST(RecordFactory, AMillionEmptyContinuationsCostNoStack) {
    Bytes stream = Rec(0x1234, {1});
    for (int i = 0; i < 1000000; ++i) stream.insert(stream.end(), {0x3C, 0, 0, 0});
    stream.insert(stream.end(), {0x0A, 0, 0, 0});
    auto record = TStreamFile(stream).Next();
    EXPECT_EQ(record->TotalSize(), 5 + 4000000);
    EXPECT_EQ(record->TotalSizeNoHeaders(), 1);
    auto copy = record->CopyTo();
    EXPECT_EQ(copy->TotalSize(), record->TotalSize());
    EXPECT_EQ(Written([&](TOle2File& ole) { copy->SaveToStream(ole); }).size(), 4000005u);
    copy.reset();
    record.reset();
}

// Skipping, as the text objects skip their runs, crosses into the CONTINUE
// records too (reading across them: ExcelString.ReadsAcrossContinuations).
TEST(RecordValues, ReadMemSkipsIntoContinuations) {
    auto record = Chain(0x1234, {{1, 2}, {3, 4}, {5, 6}});
    const TBaseRecord* at = record.get();
    int pos = 1;
    ReadMem(at, pos, 3, nullptr);
    EXPECT_EQ(at, record->Continue.get());
    EXPECT_EQ(pos, 2);
}

TEST(RowRecord, NewLoadedAndChanged) {
    TRowRecord row(7);
    EXPECT_EQ(row.Data, (Bytes{0x07, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0x01, 0x0F, 0}));
    EXPECT_EQ(row.GetXF(), 15);
    EXPECT_TRUE(row.IsAutoHeight());
    EXPECT_FALSE(row.IsModified());
    row.SetXF(20);
    EXPECT_EQ(Bytes(row.Data.begin() + 12, row.Data.end()), (Bytes{0x80, 0x01, 0x14, 0x00}));
    row.Hide(true);
    row.SetRowOutlineLevel(3);
    EXPECT_EQ(row.GetOptions() & 0xFF, 0xA3);

    TRowRecord loaded(0x208, {1, 0, 0, 0, 12, 0, 0x2C, 1, 0x12, 0x34, 0, 0, 0x40, 1, 0x0F, 0xF0});
    EXPECT_EQ(GetWord(loaded.Data, 8), 0);
    EXPECT_EQ(loaded.GetXF(), 15);  // not formatted: the XF bits do not count
    EXPECT_FALSE(loaded.IsAutoHeight());
    // A range save cuts the columns on the way out only (the bytes:
    // CellSaving.RangeSaveWritesOnlyTheRangeAndItsSize).
    TRowRecord span(0x208, {3, 0, 0, 0, 11, 0, 0xFF, 0, 0, 0, 0, 0, 0, 1, 0x0F, 0});
    Written([&](TOle2File& ole) { span.SaveRangeToStream(ole, 2, 5); });
    EXPECT_EQ(span.GetMinCol(), 0);
    EXPECT_EQ(span.GetMaxCol(), 11);
}

TEST(RowRecordList, Operations) {
    const TSheetInfo here{.InsSheet = 0, .FormulaSheet = 0, .GetSheet = {}, .SetSheet = {}};
    TRowRecordList rows;
    EXPECT_EQ(MessageOf([&] { rows.GetItems(4); }), "Missing ROW Record for row 4");
    EXPECT_EQ(rows.RowHeight(4), 0);
    EXPECT_TRUE(rows.IsAutoRowHeight(4));
    rows.SetRowHeight(4, 300);
    EXPECT_EQ(rows.RowHeight(4), 300);
    EXPECT_FALSE(rows.IsAutoRowHeight(4));
    EXPECT_EQ(rows.Count(), 5u);
    auto duplicate = std::make_unique<TRowRecord>(4);
    rows.AddRecord(std::move(duplicate));
    EXPECT_EQ(rows.RowHeight(4), 300);  // the first ROW of a row stays
    rows.AddRow(1);
    rows.AddRow(2);
    EXPECT_EQ(rows.GetTotalSize(), 3 * 20);

    rows.DeleteRows(1, 1, here);  // rows 2 and 4 move up
    EXPECT_FALSE(rows.HasRow(4));
    EXPECT_EQ(rows.GetItems(1)->GetRow(), 1);
    EXPECT_EQ(rows.GetItems(3)->GetRow(), 3);
    EXPECT_EQ(rows.RowHeight(3), 300);
    EXPECT_EQ(rows.GetTotalSize(), 2 * 20);

    // Source above the destination: row 1 copied twice to rows 2 and 3.
    rows.InsertAndCopyRows(1, 1, 2, 2, here);
    EXPECT_EQ(rows.GetItems(5)->GetRow(), 5);  // row 3 moved down by 2
    EXPECT_EQ(rows.RowHeight(5), 300);
    EXPECT_EQ(rows.GetItems(2)->GetRow(), 2);
    EXPECT_EQ(rows.GetItems(3)->GetRow(), 3);
    // Source below the destination: rows 5 and 6 (6 empty) copied to row 0.
    rows.InsertAndCopyRows(5, 6, 0, 1, here);
    EXPECT_EQ(rows.RowHeight(0), 300);
    EXPECT_FALSE(rows.HasRow(1));
    EXPECT_EQ(rows.RowHeight(7), 300);
    EXPECT_EQ(rows.GetItems(7)->GetRow(), 7);
    EXPECT_EQ(rows.GetTotalSize(), Written([&](TOle2File& ole) { rows.SaveToStream(ole); }).size());
}

TEST(RowRecordList, AFailedMoveChangesNothing) {
    const TSheetInfo here{.InsSheet = 2, .FormulaSheet = 2, .GetSheet = {}, .SetSheet = {}};
    TRowRecordList rows;
    rows.AddRow(10);
    rows.AddRow(65535);
    EXPECT_EQ(MessageOf([&] { rows.InsertAndCopyRows(0, 0, 0, 1, here); }),
              "Too many entries for this kind of record (65536 out of a maximum of 65535)");
    EXPECT_EQ(rows.GetItems(10)->GetRow(), 10);
    EXPECT_EQ(rows.Count(), 65536u);

    TBaseRowColRecordList cells;
    cells.Add(std::make_unique<TBaseRowColRecord>(0x1234, Bytes{10, 0, 0, 0}));
    cells.Add(std::make_unique<TBaseRowColRecord>(0x1234, Bytes{0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(MessageOf([&] { cells.ArrangeInsertRowsAndCols(0, 1, 256, 0, here); }),
              "Too many entries for this kind of record (65536 out of a maximum of 65535)");
    EXPECT_EQ(cells.GetItems(0)->GetRow(), 10);
    const TSheetInfo other{.InsSheet = 2, .FormulaSheet = 1, .GetSheet = {}, .SetSheet = {}};  // the records are not on the sheet being changed
    cells.ArrangeInsertRowsAndCols(0, 1, 256, 0, other);
    EXPECT_EQ(cells.GetItems(0)->GetRow(), 10);
    EXPECT_EQ(MessageOf([] { TBaseRowColRecord r(0x27E, {1, 2, 3}); }), "Record with ID 0x27E is invalid");
}

TEST(RecordLists, SizesMatchWhatIsWritten) {
    TBaseRecordList list;
    list.Add(std::make_unique<TBaseRecord>(0x1234, Bytes{1, 2, 3}));
    list.Add(Chain(0x1234, {{1}, {2, 3}}));
    list.Add(std::make_unique<TIgnoreRecord>(0xFF, Bytes(8, 0)));
    list.Add(std::make_unique<TBaseRecord>(0x55, Bytes{9}));
    list.Delete(3);
    list.GetItems(0)->Data.push_back(4);
    list.AdaptSize(1);
    TBaseRecordList copy;
    copy.CopyFrom(list);
    EXPECT_EQ(list.GetTotalSize(), 8 + 11);
    EXPECT_EQ(Written([&](TOle2File& ole) { copy.SaveToStream(ole); }),
              Cat({Rec(0x1234, {1, 2, 3, 4}), Rec(0x1234, {1}), Rec(0x3C, {2, 3})}));
    EXPECT_EQ(copy.GetTotalSize(), list.GetTotalSize());
}
