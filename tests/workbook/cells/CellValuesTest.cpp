// Reading and writing cell values: the records a value becomes, default
// formats, the 1904 date shift, emptying cells with their rows, formats,
// bounds and refused values; checked in memory and, written into the
// LibreOffice fixture, by xlrd.
#include <cmath>
#include <limits>

#include "tests/workbook/cells/CellsTestSupport.h"

using namespace cellstest;

namespace {

TXlsCellValue Value(TVariant v, int xf = -1) { return {std::move(v), xf, false}; }

struct CellValues : TCellsTest {
    TTestColInfo ColInfo;
    CellValues() { cells.CellList().SetColInfo(&ColInfo); }
    void Set(int row, int col, TVariant v, int xf = -1, bool dates1904 = false) {
        cells.CellList().SetValueX2(row, col, Value(std::move(v), xf), {}, dates1904);
    }
    TXlsCellValue Get(int row, int col) {
        TXlsCellValue value;
        TRTFRunList runs;
        cells.CellList().GetValueX2(row, col, value, runs);
        return value;
    }
};

}  // namespace

TEST_F(CellValues, EachKindBecomesItsRecordAndReadsBack) {
    Set(0, 0, 1.5);
    Set(0, 1, 1234567.89);
    Set(0, 2, true);
    Set(0, 3, TVariant::FromCurrency(123456));  // 12.3456
    Set(0, 4, u"Řeřicha");
    Set(0, 5, TVariant::FromError(7));  // error values make no record
    const auto& list = *cells.CellList().GetItems(0);
    std::vector<std::uint16_t> ids;
    for (std::size_t i = 0; i < list.Count(); ++i) ids.push_back(list.GetItems(i)->Id);
    EXPECT_EQ(ids, (std::vector<std::uint16_t>{xlr_RK, xlr_NUMBER, xlr_BOOLERR, xlr_NUMBER, xlr_LABELSST}));
    EXPECT_EQ(Get(0, 1), (TXlsCellValue{TVariant(1234567.89), 15, false}));
    for (auto [col, value] : {std::pair{2, TVariant(true)}, {3, TVariant(12.3456)}, {4, TVariant(u"Řeřicha")}})
        EXPECT_EQ(Get(0, col).Value, value);
    EXPECT_EQ(Get(0, 5), TXlsCellValue{});  // nothing there: empty, XF -1
}

// New NUMBER cells (14 bytes) and their rows (16) keep their data in
// their own pool slot (the release builds; the sanitizer builds keep it
// apart), change in place, and a copy of the cells on another sheet (in
// such slots too) reads and saves as they did once they are gone and
// their slots serve others.
TEST_F(CellValues, NewNumbersAndRowsLiveInOneSlotAndTheirCopiesOutliveThem) {
    // The data right behind the record's fields (no block of the pools
    // starts there: their data lies 4 bytes past 8).
    const auto inSlot = [](const TBaseRecord& record) {
        return record.Data.data() == reinterpret_cast<const std::uint8_t*>(&record) + SlotFields;
    };
    const double numbers[] = {1234567.89, 3.14159, -2.5e300};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) Set(row * 4, col, numbers[(row + col) % 3] + row);
    Set(4, 1, 2.718281828);  // changed in place
    const auto& list = *cells.CellList().GetItems(4);
    ASSERT_EQ(list.GetItems(1)->Id, xlr_NUMBER);
    ASSERT_TRUE(cells.Rows().HasRow(4));
    if (!KALMIRA_PLAIN_ALLOCATION) {
        EXPECT_TRUE(inSlot(*list.GetItems(1)));
        EXPECT_TRUE(inSlot(*cells.Rows().GetItems(4)));
    }
    const Bytes saved = ole2test::Written([&](TOle2File& ole) { cells.SaveToStream(ole); });

    TCells other{&sst, nullptr};
    other.CopyFrom(cells);
    if (!KALMIRA_PLAIN_ALLOCATION) {  // the copies take such slots too
        EXPECT_TRUE(inSlot(*other.CellList().GetItems(4)->GetItems(1)));
        EXPECT_TRUE(inSlot(*other.Rows().GetItems(4)));
    }
    cells.Clear();
    for (int i = 0; i < 9; ++i) Set(i, 0, 1.0 / 3 + i);  // new records in the freed slots
    EXPECT_EQ(ole2test::Written([&](TOle2File& ole) { other.SaveToStream(ole); }), saved);
    TXlsCellValue value;
    TRTFRunList runs;
    other.CellList().GetValueX2(4, 1, value, runs);
    EXPECT_EQ(value.Value, TVariant(2.718281828));
    other.CellList().GetValueX2(8, 2, value, runs);
    EXPECT_EQ(value.Value, TVariant(numbers[1] + 2));
}

TEST_F(CellValues, DefaultFormatsEmptyValuesAndSetFormats) {
    ColInfo.XF[3] = 25;
    // An empty value in the default format of its place is no cell at all.
    Set(5, 3, TVariant(), 25);
    EXPECT_EQ(cells.CellList().FindCell(5, 3), nullptr);
    // An existing cell's XF carries over to a new value.
    Set(1, 4, 2.0, 21);
    Set(1, 4, u"text");
    EXPECT_EQ(Get(1, 4).XF, 21);

    // A loaded cell whose row has no ROW record keeps its value.
    cells.AddCell(std::make_unique<TNumberRecord>(2, 0, 15));
    cells.CellList().FindCell(2, 0)->SetValue(TVariant(42.0));
    cells.CellList().SetFormat(2, 0, 20);
    EXPECT_EQ(Get(2, 0), (TXlsCellValue{TVariant(42.0), 20, false}));
    // No cell: a BLANK only for a format that is not the default.
    cells.CellList().SetFormat(1, 1, 15);
    EXPECT_EQ(cells.CellList().FindCell(1, 1), nullptr);
    cells.CellList().SetFormat(1, 1, 21);
    EXPECT_EQ(Get(1, 1), (TXlsCellValue{TVariant(), 21, false}));
}

TEST_F(CellValues, EmptyingCellsDropsPlainRowRecordsAndTrailingRows) {
    Set(0, 0, 1.0);
    Set(3, 1, 1.0);
    Set(3, 4, 2.0);
    Set(6, 2, 1.0);
    Set(3, 1, u"");  // the row keeps a cell: its columns shrink to it
    EXPECT_EQ(cells.Rows().GetItems(3)->GetMinCol(), 4);
    EXPECT_EQ(cells.Rows().GetItems(3)->GetMaxCol(), 5);
    Set(3, 4, TVariant());  // last cell of a plain row: the ROW goes
    EXPECT_FALSE(cells.Rows().HasRow(3));
    EXPECT_EQ(cells.CellList().Count(), 7u);
    Set(6, 2, TVariant());  // the last row: it and the empty rows before it go
    EXPECT_EQ(cells.CellList().Count(), 1u);
    EXPECT_EQ(cells.Rows().Count(), 1u);
    // A row with settings of its own stays, with columns 0 and 0.
    Set(4, 2, 1.0);
    cells.Rows().GetItems(4)->Hide(true);
    Set(4, 2, TVariant());
    ASSERT_TRUE(cells.Rows().HasRow(4));
    EXPECT_EQ(cells.Rows().GetItems(4)->GetMaxCol(), 0);
    EXPECT_EQ(cells.CellList().Count(), 5u);
    // An empty value on an empty row in the middle leaves no ROW record.
    Set(2, 2, TVariant());
    EXPECT_FALSE(cells.Rows().HasRow(2));
}

TEST_F(CellValues, BoundsAndRefusedValuesChangeNothing) {
    Set(0, 0, 1.0);
    const Bytes before = SavedBytes(cells);
    auto& list = cells.CellList();
    EXPECT_EQ(MessageOf([&] { Set(65536, 0, 1.0); }), "Invalid Row (65536)");
    EXPECT_EQ(MessageOf([&] { Set(-1, 300, 1.0); }), "Invalid Row (-1)");
    EXPECT_EQ(MessageOf([&] { Set(0, 256, 1.0); }), "Invalid Column (256)");
    EXPECT_EQ(MessageOf([&] { Get(0, -1); }), "Invalid Column (-1)");
    EXPECT_EQ(MessageOf([&] { list.SetFormat(70000, 0, 1); }), "Invalid Row (70000)");
    EXPECT_EQ(MessageOf([&] { Set(5, 0, std::numeric_limits<double>::quiet_NaN()); }),
              "Invalid cell value: \"NAN\"");
    EXPECT_EQ(MessageOf([&] { Set(6, 0, std::numeric_limits<double>::infinity()); }), "Invalid cell value: \"INF\"");
    EXPECT_EQ(MessageOf([&] { Set(7, 0, std::u16string(65536, u'x')); }), "Invalid String record");
    EXPECT_FALSE(cells.Rows().HasRow(5) || cells.Rows().HasRow(6) || cells.Rows().HasRow(7));
    EXPECT_EQ(sst.Count(), 0u);
    EXPECT_EQ(SavedBytes(cells), before);
}

// Other readers take a file's later cell of a position (writers put a
// BLANK first and the value behind it): so do the cells, in its place.
TEST_F(CellValues, ALaterCellOfAPositionReplacesTheEarlier) {
    const auto number = [](int col, double v) {
        auto cell = std::make_unique<TNumberRecord>(0, col, 15);
        cell->SetValue(TVariant(v));
        return cell;
    };
    cells.AddCell(std::make_unique<TBlankRecord>(0, 3, 20));
    cells.AddCell(number(5, 5.0));
    cells.AddCell(number(3, 1.0));
    cells.AddCell(number(3, 2.0));
    cells.AddCell(std::make_unique<TBlankRecord>(0, 5, 21));
    EXPECT_EQ(Get(0, 3).Value, TVariant(2.0));
    EXPECT_EQ(Get(0, 5).XF, 21);
    ASSERT_EQ(cells.CellList().GetItems(0)->Count(), 2u);
    EXPECT_EQ(cells.CellList().GetItems(0)->GetItems(0)->GetColumn(), 3);
    EXPECT_EQ(SavedBytes(cells).size(), 18u + 18 + 10);  // DIMENSIONS, NUMBER, BLANK
    EXPECT_EQ(MessageOf([&] { cells.AddCell(std::make_unique<TCellRecord>(xlr_NUMBER, Bytes{0, 0, 1, 0})); }),
              "Record with ID 0x203 is invalid");
}

// Edge cases of setting values (RK and NUMBER forms, texts, blanks keeping
// their format) written into the LibreOffice fixture, read by xlrd.
TEST_F(CellValues, EdgeCasesInALibreOfficeFileReadByXlrd) {
    const TXlrdSheet source = Xlrd(RowsFixture());
    ASSERT_EQ(source.Rows, 321);
    TTestColInfo colInfo;
    colInfo.XF[7] = 18;
    bool blankKept = false;
    const std::string path = SaveChanged("values", [&](kalmira::TWorkbook& book) {
        auto& list = booktest::FirstCells(book).CellList();
        list.SetColInfo(&colInfo);
        list.SetValueX2(0, 0, Value(1.5), {}, false);
        list.SetValueX2(1, 1, Value(1234567.89), {}, false);
        list.SetValueX2(2, 1, Value(TVariant::FromDate(40000)), {}, true);
        list.SetValueX2(5, 0, Value(TVariant(), 20), {}, false);
        list.SetValueX2(6, 7, Value(7.0), {}, false);           // column XF
        booktest::FirstCells(book).Rows().GetItems(8)->SetXF(17);               // row XF
        list.SetValueX2(8, 7, Value(8.0), {}, false);           // the row's XF wins
        list.SetValueX2(9, 6, Value(9.0), {}, false);            // 15
        // A formatted cell emptied keeps its XF as a BLANK unless given the default.
        list.SetValueX2(320, 3, Value(TVariant()), {}, false);
        blankKept = list.FindCell(320, 3)->Id == xlr_BLANK;
        for (int col = 0; col <= 5; ++col) list.SetValueX2(319, col, Value(u"", 15), {}, false);
        for (int col = 0; col <= 5; ++col) list.SetValueX2(320, col, Value(TVariant(), 15), {}, false);
    });
    // Which record each value becomes: EachKindBecomesItsRecordAndReadsBack; their bytes: CellRecords.
    const TXlrdSheet got = Xlrd(path);
    EXPECT_EQ(got.At(0, 0), Number("1.5"));
    EXPECT_EQ(got.At(1, 1), Number("1234567.89"));
    EXPECT_EQ(got.At(2, 1), Number("38538.0"));
    EXPECT_EQ(got.At(5, 0), (TXlrdCell{6, "''", 20}));
    EXPECT_EQ(got.At(6, 7), Number("7.0", 18));
    EXPECT_EQ(got.At(8, 7), Number("8.0", 17));
    EXPECT_EQ(got.At(9, 6), Number("9.0", 15));
    // Rows 320 and 319 emptied, 318 never held anything: 318 rows are left.
    EXPECT_TRUE(blankKept);
    EXPECT_EQ(got.Rows, 318);
    EXPECT_EQ(got.At(317, 1), source.At(317, 1));
    EXPECT_EQ(got.At(10, 3), source.At(10, 3));
}
