// Saving a sheet's cells: DIMENSIONS, no index records; the size computed beforehand equals the bytes written;
// files without ROW records, or with ROW records that miss cells, lose no
// cell; cells beyond column 255 are skipped alike by size and writer.
#include "tests/workbook/cells/CellsTestSupport.h"

using namespace cellstest;

namespace {

using CellSaving = TCellsTest;

std::unique_ptr<TCellRecord> NumberCell(int row, int col, double v) {
    auto cell = std::make_unique<TNumberRecord>(static_cast<std::uint16_t>(row), static_cast<std::uint16_t>(col), 15);
    cell->SetValue(TVariant(v));
    return cell;
}

std::unique_ptr<TRowRecord> Row(int row, int first, int lastPlusOne) {
    auto record = std::make_unique<TRowRecord>(static_cast<std::uint16_t>(row));
    record->SetMinCol(static_cast<std::uint16_t>(first));
    record->SetMaxCol(static_cast<std::uint16_t>(lastPlusOne));
    return record;
}

}  // namespace

TEST_F(CellSaving, DimensionsCoverTheUsedRange) {
    EXPECT_EQ(SavedBytes(cells), (Bytes{0x00, 0x02, 0x0E, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));
    for (int row = 3; row <= 10; ++row)
        for (int col = 4; col >= 2; --col) SetNumber(row, col, 1.5);
    // The first cell of an empty row sets both of its columns.
    EXPECT_EQ(cells.Rows().GetItems(3)->GetMinCol(), 2);
    EXPECT_EQ(cells.Rows().GetItems(3)->GetMaxCol(), 5);
    const Bytes bytes = SavedBytes(cells);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 18),
              (Bytes{0x00, 0x02, 0x0E, 0x00, 0x03, 0, 0, 0, 0x0B, 0, 0, 0, 0x02, 0x00, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(cells.CalcUsedRange(), (TXlsCellRange{2, 3, 4, 10}));
}

// The blocks of 32 rows: roundtrip_check.py compares the order of the
// records with LibreOffice's files; here no INDEX or DBCELL goes with them.
TEST_F(CellSaving, RowsGoWithoutIndexRecords) {
    for (int row = 0; row <= 40; ++row) SetNumber(row, 0, 1234567.89);
    const auto ids = RecordIds(SavedBytes(cells));
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 0x20B) + std::count(ids.begin(), ids.end(), 0xD7), 0);
    EXPECT_EQ(ids.size(), 1u + 41 + 41);
}

TEST_F(CellSaving, RangeSaveWritesOnlyTheRangeAndItsSize) {
    for (int row = 0; row <= 5; ++row)
        for (int col = 0; col <= 5; ++col) SetNumber(row, col, 1234567.89);
    const TXlsCellRange range{1, 2, 3, 4};
    const Bytes bytes = ole2test::Written([&](TOle2File& ole) { cells.SaveRangeToStream(ole, range); });
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), cells.TotalRangeSize(range));
    std::vector<std::uint16_t> expected{xlr_DIMENSIONS, xlr_ROW, xlr_ROW, xlr_ROW};
    expected.insert(expected.end(), 9, xlr_NUMBER);
    EXPECT_EQ(RecordIds(bytes), expected);
    // The ROW records are cut to the range's columns: 1 .. 3 + 1.
    EXPECT_EQ(Bytes(bytes.begin() + 18, bytes.begin() + 24), (Bytes{0x08, 0x02, 0x10, 0x00, 2, 0}));
    EXPECT_EQ(Bytes(bytes.begin() + 24, bytes.begin() + 28), (Bytes{1, 0, 4, 0}));
}

// Files from other writers whose ROW records miss cells lose none of them.
TEST_F(CellSaving, HandBuiltStreamsKeepEveryCell) {
    struct TCase {
        std::string Name;
        std::function<void(TCells&)> Rows;
    };
    const std::vector<TCase> cases{
        {"row5only", [](TCells& c) { c.AddRow(Row(5, 0, 4)); }},
        {"norows", [](TCells&) {}},
        {"zerofields", [](TCells& c) { for (int r = 0; r <= 5; ++r) c.AddRow(Row(r, 0, 0)); }},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        const std::string path = SaveChanged(test.Name, [&](kalmira::TWorkbook& book) {
            booktest::FirstCells(book).Clear();
            test.Rows(booktest::FirstCells(book));
            for (int row = 0; row <= 5; ++row)
                for (int col = 2; col <= 4; ++col) booktest::FirstCells(book).AddCell(NumberCell(row, col, row * 10 + col + 0.25));
        });
        const TXlrdSheet got = Xlrd(path);
        EXPECT_EQ(got.Rows, 6);
        EXPECT_EQ(got.Cols, 5);
        ASSERT_EQ(got.Cells.size(), 18u);
        EXPECT_EQ(got.At(0, 2), Number("2.25"));
        EXPECT_EQ(got.At(5, 4), Number("54.25"));
    }
}

// A cell beyond column 255 could not be written back: the load refuses it
// and keeps nothing of it. A ROW record whose first-column field lies there
// does not stop rows from moving: only its row changes.
TEST_F(CellSaving, CellsBeyondColumn255AreRefused) {
    SetNumber(0, 1, 1234567.89);
    const Bytes before = SavedBytes(cells);
    EXPECT_EQ(MessageOf([&] { cells.AddCell(NumberCell(0, 300, 5)); }), "Record with ID 0x203 is invalid");
    EXPECT_EQ(cells.CellList().FindCell(0, 300), nullptr);
    EXPECT_EQ(SavedBytes(cells), before);

    cells.AddRow(Row(5, 300, 301));
    cells.InsertAndCopyRows(0, 0, 0, 1, OnSheet(), false);
    EXPECT_TRUE(cells.Rows().HasRow(6));
    EXPECT_EQ(cells.Rows().GetItems(6)->GetMinCol(), 300);
}
