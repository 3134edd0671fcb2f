// Formulas in the cell storage: values and the formula flag, the ARRAY and
// TABLE of a formula, placing a formula, and the row and column changes
// that formulas refuse (checked before anything moves).
#include <cmath>

#include "tests/workbook/cells/CellsTestSupport.h"
#include "workbook/cells/UXlsFormula.h"

using namespace cellstest;

namespace {

const Bytes Seven = {0x1E, 7, 0};  // =7

// A formula with its TABLE at row, column 1.
std::unique_ptr<TFormulaRecord> TableFormulaAt(int row, const Bytes& table) {
    auto formula = std::make_unique<TFormulaRecord>(xlr_FORMULA, row, 1, 15, 25, TVariant(1.0), false);
    SetWord(formula->Data, 20, 3);
    std::copy(Seven.begin(), Seven.end(), formula->Data.begin() + 22);
    formula->SetTableRecord(std::make_unique<TTableRecord>(xlr_TABLE, table));
    return formula;
}

using CellFormulas = TCellsTest;

}  // namespace

TEST_F(CellFormulas, ValuesArraysAndTables) {
    booktest::RoundTrip(ole2test::Fixture("formulas"), [](kalmira::TWorkbook& book) {
        TCellList& cells = booktest::FirstCells(book).CellList();
        TXlsCellValue value;
        TRTFRunList runs;
        cells.GetValueX2(0, 3, value, runs);
        EXPECT_EQ(value, (TXlsCellValue{TVariant(u"#DIV/0!"), 15, true}));
        cells.GetValueX2(1, 3, value, runs);
        EXPECT_EQ(value, (TXlsCellValue{TVariant(true), 21, true}));

        EXPECT_EQ(cells.ArrayFormula(0, 4), (Bytes{0, 0, 2, 0, 4, 4, 2, 0, 0, 0, 0, 0, 0x0D, 0, 0x45, 0, 0, 2, 0,
                                                  0, 0xC0, 0, 0xC0, 0x1E, 2, 0, 5}));
        EXPECT_EQ(MessageOf([&] { cells.ArrayFormula(1, 4); }),
                  "Formula at Row 1, column 4 is not supported. Token Id: 0x 1");
        EXPECT_EQ(MessageOf([&] { cells.TableFormula(0, 4); }),
                  "Formula at Row 0, column 4 is not supported. Token Id: 0x 1");
        EXPECT_EQ(MessageOf([&] { cells.ArrayFormula(0, 0); }), "Can't find Shared Formula");
        EXPECT_EQ(MessageOf([&] { cells.ArrayFormula(10, 0); }), "Invalid Row (10)");  // the list has rows 0..9
        EXPECT_EQ(MessageOf([&] { cells.TableFormula(0, 256); }), "Invalid Column (256)");
    });
}

// A refused value makes nothing, not even the ROW record the formula's row
// would need; an accepted one goes in like any value.
TEST_F(CellFormulas, PlacingAFormula) {
    TCellList& list = cells.CellList();
    EXPECT_EQ(MessageOf([&] { list.AssignFormulaX(5, 2, Seven, TVariant(std::nan("")), false); }),
              "Invalid cell value: \"NAN\"");
    EXPECT_FALSE(cells.Rows().HasRow(5));
    EXPECT_EQ(list.Count(), 0u);

    list.AssignFormulaX(5, 2, Seven, TVariant(2.5), false);
    TXlsCellValue value;
    TRTFRunList runs;
    list.GetValueX2(5, 2, value, runs);
    EXPECT_EQ(value, (TXlsCellValue{TVariant(2.5), 15, true}));
    EXPECT_EQ(cells.Rows().GetItems(5)->GetMinCol(), 2);
    EXPECT_EQ(cells.Rows().GetItems(5)->GetMaxCol(), 3);
    EXPECT_TRUE(Contains(SavedBytes(cells), ole2test::Rec(xlr_FORMULA, {5, 0, 2, 0, 15, 0, 0, 0, 0, 0, 0, 0, 4, 0x40,
                                                                       2, 0, 0, 0, 0, 0, 3, 0, 0x1E, 7, 0})));
    list.SetValueX2(1, 1, {TVariant(1.5), 20, false}, {}, false);
    list.AssignFormulaX(1, 1, Seven, TVariant(u"x1"), false);
    list.GetValueX2(1, 1, value, runs);
    EXPECT_EQ(value, (TXlsCellValue{TVariant(u"x1"), 20, true}));

    list.AssignFormulaX(5, 2, Bytes{}, TVariant(), false);  // no tokens: the cell goes, and its row
    EXPECT_EQ(list.FindCell(5, 2), nullptr);
    EXPECT_FALSE(cells.Rows().HasRow(5));
}

// A change that a token refuses is found before anything moves: the save
// afterwards is byte-identical.
TEST_F(CellFormulas, RefusedChangesChangeNothing) {
    const Bytes unchanged = booktest::RoundTrip(ole2test::Fixture("formulas"), [](kalmira::TWorkbook& book) {
        booktest::FirstCells(book).CellList().AssignFormulaX(30, 0, Bytes{0x26, 0, 0, 0, 0, 0, 0, 0x1E, 1, 0}, TVariant(), false);
    });
    std::vector<std::string> messages;
    const Bytes after = booktest::RoundTrip(ole2test::Fixture("formulas"), [&](kalmira::TWorkbook& book) {
        TCells& cells = booktest::FirstCells(book);
        cells.CellList().AssignFormulaX(30, 0, Bytes{0x26, 0, 0, 0, 0, 0, 0, 0x1E, 1, 0}, TVariant(), false);
        messages.push_back(MessageOf([&] { cells.DeleteRows(0, 1, OnSheet()); }));  // the array's first row
        messages.push_back(MessageOf([&] { cells.InsertAndCopyRows(0, 0, 12, 1, OnSheet(), false); }));
        messages.push_back(MessageOf([&] { cells.DeleteCols(5, 1, OnSheet()); }));
    });
    EXPECT_EQ(messages, (std::vector<std::string>{"Formula at Row 1, column 4 is not supported. Token Id: 0x 1",
                                                  "Formula at Row 30, column 0 is not supported. Token Id: 0x26",
                                                  "Formula at Row 30, column 0 is not supported. Token Id: 0x26"}));
    EXPECT_EQ(after, unchanged);
}

// A TABLE whose range would leave the sheet is found in the check pass:
// the plain cell below it has not moved either.
TEST_F(CellFormulas, TablesAndCopiesJoinTheCheckPass) {
    cells.AddCell(TableFormulaAt(10, {0xF0, 0xFF, 0xFA, 0xFF, 1, 2, 0, 0, 0, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    cells.CellList().SetValueX2(100, 0, {TVariant(1.5), -1, false}, {}, false);
    const Bytes before = SavedBytes(cells);
    EXPECT_EQ(MessageOf([&] { cells.ArrangeInsertRowsAndCols(5, 10, 0, 0, OnSheet()); }),
              "Too many entries for this kind of record (65540 out of a maximum of 65535)");
    EXPECT_EQ(SavedBytes(cells), before);

    // Copies are checked as the insertion leaves their sources: a ptgExp at row
    // 65534 fits a copy one row down, but not once the insertion moved it too.
    TCells copies(&sst, nullptr);
    copies.CellList().AssignFormulaX(0, 0, Bytes{0x01, 0xFE, 0xFF, 0, 0}, TVariant(1.0), false);
    const Bytes copiesBefore = SavedBytes(copies);
    EXPECT_EQ(MessageOf([&] { copies.InsertAndCopyRows(0, 0, 1, 1, OnSheet(), false); }),
              "Formula at Row 0, column 0 is not supported. Token Id: 0x 1");
    EXPECT_EQ(SavedBytes(copies), copiesBefore);
}
