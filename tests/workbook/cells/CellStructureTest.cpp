// Rows and columns deleted, inserted and copied on the LibreOffice fixture
// (checked by xlrd against its reading of the source), refused insertions
// that leave the cells as they were, and copies of a sheet's cells.
#include <limits>

#include "tests/workbook/cells/CellsTestSupport.h"

using namespace cellstest;

namespace {

// Source row r of the fixture is where xlrd now finds row to.
void ExpectRowMoved(const TXlrdSheet& source, const TXlrdSheet& got, int from, int to) {
    for (int col = 0; col < source.Cols; ++col)
        EXPECT_EQ(got.At(to, col), source.At(from, col)) << "row " << from << " at " << to << ", column " << col;
}

// A copied row: its formulas (column E, and the error of every 50th row in
// column F) hold no result, the empty text in xlrd.
void ExpectRowCopied(const TXlrdSheet& source, const TXlrdSheet& got, int from, int to) {
    for (int col = 0; col < source.Cols; ++col) {
        const auto want = source.At(from, col);
        const bool formula = col == 4 || (col == 5 && want && want->Type == 5);
        if (formula && want) {
            EXPECT_EQ(got.At(to, col), (TXlrdCell{1, "''", want->XF})) << "row " << from << " at " << to;
        } else {
            EXPECT_EQ(got.At(to, col), want) << "row " << from << " at " << to << ", column " << col;
        }
    }
}

void ExpectColumnMoved(const TXlrdSheet& source, const TXlrdSheet& got, int from, int to) {
    for (int row = 0; row < source.Rows; ++row)
        EXPECT_EQ(got.At(row, to), source.At(row, from)) << "column " << from << " at " << to << ", row " << row;
}

// The written ROW record of a row: its first and one-past-last column.
std::pair<int, int> RowFields(const TCells& cells, int row) {
    const TRowRecord* record = cells.Rows().GetItems(static_cast<std::size_t>(row));
    return {record->GetMinCol(), record->GetMaxCol()};
}

// The fixture's formulas carry SHRFMLA records for xlrd: compare values only.
bool SameNumber(const std::optional<TXlrdCell>& a, const std::optional<TXlrdCell>& b) {
    return a && b && a->Type == b->Type && a->Value == b->Value;
}

using CellStructure = TCellsTest;

}  // namespace

TEST_F(CellStructure, DeletedRowsAndColumnsMoveTheRest) {
    const TXlrdSheet source = Xlrd(RowsFixture());
    std::pair<int, int> fields;
    const TXlrdSheet rows = Xlrd(SaveChanged("delrows", [&](kalmira::TWorkbook& book) {
        booktest::FirstCells(book).DeleteRows(5, 10, OnSheet());
        fields = RowFields(booktest::FirstCells(book), 5);
    }));
    EXPECT_EQ(rows.Rows, 311);
    ExpectRowMoved(source, rows, 4, 4);
    ExpectRowMoved(source, rows, 15, 5);
    ExpectRowMoved(source, rows, 320, 310);
    EXPECT_EQ(fields, std::make_pair(0, 5));

    const TXlrdSheet cols = Xlrd(SaveChanged("delcols", [&](kalmira::TWorkbook& book) {
        booktest::FirstCells(book).DeleteCols(1, 2, OnSheet());
        fields = RowFields(booktest::FirstCells(book), 20);
    }));
    EXPECT_EQ(cols.Cols, 4);
    ExpectColumnMoved(source, cols, 0, 0);
    ExpectColumnMoved(source, cols, 3, 1);  // two columns left of it deleted: two to the left
    EXPECT_TRUE(SameNumber(cols.At(1, 2), source.At(1, 4)));
    EXPECT_EQ(fields, std::make_pair(0, 4));
}

TEST_F(CellStructure, CopiedRowsGoInAtTheDestination) {
    const TXlrdSheet source = Xlrd(RowsFixture());
    const TXlrdSheet got = Xlrd(SaveChanged("copyrows", [](kalmira::TWorkbook& book) {
        booktest::FirstCells(book).InsertAndCopyRows(1, 2, 10, 2, OnSheet(), false);
    }));
    EXPECT_EQ(got.Rows, 325);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(got.At(10 + i, 1), source.At(1 + i % 2, 1)) << i;
    EXPECT_EQ(got.At(12, 2), source.At(1, 2));  // booleans with their XF
    ExpectRowMoved(source, got, 10, 14);
    ExpectRowMoved(source, got, 320, 324);

    // Copies before their source: the source has moved down by then.
    const TXlrdSheet up = Xlrd(SaveChanged("copyup", [](kalmira::TWorkbook& book) {
        booktest::FirstCells(book).InsertAndCopyRows(20, 21, 1, 1, OnSheet(), false);
    }));
    ExpectRowCopied(source, up, 20, 1);
    ExpectRowCopied(source, up, 21, 2);
    ExpectRowMoved(source, up, 1, 3);
    ExpectRowMoved(source, up, 20, 22);
}

TEST_F(CellStructure, OnlyFormulasCopiesFormulaCells) {
    const TXlrdSheet source = Xlrd(RowsFixture());
    const TXlrdSheet got = Xlrd(SaveChanged("formulas", [](kalmira::TWorkbook& book) {
        booktest::FirstCells(book).InsertAndCopyRows(1, 1, 3, 1, OnSheet(), true);
        booktest::FirstCells(book).InsertAndCopyCols(4, 4, 7, 1, OnSheet(), true);
    }));
    // Copies hold no result: the empty text.
    EXPECT_EQ(got.At(3, 4), (TXlrdCell{1, "''", source.At(1, 4)->XF}));
    for (int col : {0, 1, 2, 3, 5}) EXPECT_EQ(got.At(3, col), std::nullopt) << col;
    EXPECT_EQ(got.At(5, 7), (TXlrdCell{1, "''", source.At(4, 4)->XF}));  // row 4 went down with the row copy
    EXPECT_EQ(got.At(0, 7), std::nullopt);  // the heading is no formula
}

TEST_F(CellStructure, CopiedColumnsAndTheColumnSettings) {
    TTestColInfo colInfo;
    cells.CellList().SetColInfo(&colInfo);
    for (int col = 0; col < 4; ++col) cells.CellList().SetValueX2(0, col, {TVariant(col + 0.5), -1, false}, {}, false);
    cells.InsertAndCopyCols(2, 3, 0, 2, OnSheet(), false);  // before their source: it moves right by 4
    std::vector<double> values;
    for (int col = 0; col < 8; ++col) values.push_back(cells.CellList().GetValue(0, col).RealValue());
    EXPECT_EQ(values, (std::vector<double>{2.5, 3.5, 2.5, 3.5, 0.5, 1.5, 2.5, 3.5}));
    EXPECT_EQ(cells.Rows().GetItems(0)->GetMaxCol(), 8);
    cells.DeleteCols(1, 2, OnSheet());
    EXPECT_EQ(colInfo.Calls, (std::vector<std::string>{"insert 0+4", "copy 6..7>0x2", "delete 1+2"}));
}

// Insertions that would push a cell off the sheet are refused before the
// ROW list or any row of cells has moved.
TEST_F(CellStructure, RefusedInsertionsLeaveTheSheetAsItWas) {
    TCells full(&sst, nullptr);
    for (auto [row, col] : {std::pair{0, 0}, {65535, 3}, {65535, 255}})
        full.CellList().SetValueX2(row, col, {TVariant(col + 0.5), -1, false}, {}, false);
    const Bytes before = SavedBytes(full);
    const std::string rows = "Too many entries for this kind of record (65536 out of a maximum of 65535)";
    EXPECT_EQ(MessageOf([&] { full.InsertAndCopyRows(5, 5, 0, 1, OnSheet(), false); }), rows);
    EXPECT_EQ(MessageOf([&] { full.InsertAndCopyCols(0, 0, 0, 1, OnSheet(), false); }),
              "Too many entries for this kind of record (256 out of a maximum of 255)");
    EXPECT_EQ(MessageOf([&] { full.ArrangeInsertRowsAndCols(10, 1, 0, 0, OnSheet()); }), rows);
    EXPECT_EQ(SavedBytes(full), before);

    EXPECT_EQ(MessageOf([&] { cells.InsertAndCopyRows(0, 9, 65530, 1, OnSheet(), false); }),
              "Too many entries for this kind of record (65539 out of a maximum of 65535)");
    EXPECT_EQ(MessageOf([&] { cells.DeleteRows(65536, 1, OnSheet()); }), "Invalid Row (65536)");
    // Empty rows pushed past the last row leave no slots behind.
    SetNumber(0, 0, 1.5);
    cells.InsertAndCopyRows(65000, 65000, 65535, 1, OnSheet(), false);
    cells.InsertAndCopyRows(0, 0, 1, 1, OnSheet(), false);
    EXPECT_EQ(cells.Rows().Count(), 65536u);
    EXPECT_EQ(cells.CellList().Count(), 65536u);
    EXPECT_EQ(cells.CellList().GetValue(1, 0), TVariant(1.5));
    EXPECT_EQ(MessageOf([&] { cells.DeleteCols(256, 1, OnSheet()); }), "Invalid Column (256)");
}

// Counts beyond the sheet: insertions are refused with the row or column
// the block would end at, deletions take what there is from the first on.
TEST_F(CellStructure, CountsBeyondTheSheet) {
    for (int row : {1, 3})
        for (int col : {1, 4}) SetNumber(row, col, row + col + 0.5);
    const Bytes before = SavedBytes(cells);
    const int most = std::numeric_limits<int>::max();
    EXPECT_EQ(MessageOf([&] { cells.InsertAndCopyRows(1, 2, 5, most, OnSheet(), false); }),
              "Too many entries for this kind of record (4294967298 out of a maximum of 65535)");
    EXPECT_EQ(MessageOf([&] { cells.InsertAndCopyCols(1, 1, 5, most, OnSheet(), false); }),
              "Too many entries for this kind of record (2147483651 out of a maximum of 255)");
    EXPECT_EQ(MessageOf([&] { cells.Rows().InsertAndCopyRows(1, 2, 5, most, OnSheet()); }),
              "Too many entries for this kind of record (4294967298 out of a maximum of 65535)");
    EXPECT_EQ(SavedBytes(cells), before);
    cells.DeleteCols(3, most, OnSheet());
    EXPECT_EQ(cells.CellList().FindCell(3, 4), nullptr);
    EXPECT_EQ(cells.CellList().GetValue(3, 1), TVariant(4.5));
    cells.DeleteRows(2, most, OnSheet());
    EXPECT_EQ(cells.CellList().FindCell(3, 1), nullptr);
    EXPECT_EQ(cells.CellList().GetValue(1, 1), TVariant(2.5));
}

TEST_F(CellStructure, ACopyChangesWithoutTouchingItsSource) {
    TCells source(&sst, nullptr), copy(&sst, nullptr);
    source.CellList().SetValueX2(1, 1, {TVariant(u"voda"), -1, false}, {}, false);
    source.CellList().SetValueX2(2, 0, {TVariant(2.5), -1, false}, {}, false);
    const Bytes before = SavedBytes(source);
    copy.CopyFrom(source);
    EXPECT_EQ(SavedBytes(copy), before);
    copy.CellList().SetValueX2(1, 1, {TVariant(u"pivo"), -1, false}, {}, false);
    copy.DeleteRows(2, 1, OnSheet());
    copy.InsertAndCopyRows(1, 1, 0, 1, OnSheet(), false);
    EXPECT_EQ(source.CellList().GetValue(1, 1), TVariant(u"voda"));
    EXPECT_EQ(SavedBytes(source), before);
    EXPECT_EQ(copy.CellList().GetValue(2, 1), TVariant(u"pivo"));
    copy.Clear();
    EXPECT_EQ(copy.CalcUsedRange(), (TXlsCellRange{0, 0, 0, -1}));
}
