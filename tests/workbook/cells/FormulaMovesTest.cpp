// References follow row and column changes in a real file: moves.xls
// (LibreOffice) holds formulas on Data and on Souhrn, which points into
// Data. Data's rows and columns change through its cells; Souhrn's formulas
// follow through their own records, as every other sheet's do. LibreOffice's
// formula export of the saved file is the oracle.
#include "tests/workbook/cells/CellsTestSupport.h"
#include "workbook/cells/UXlsFormula.h"

using namespace cellstest;

namespace {

// "Sheet!B3 =A1" for every formula cell of LibreOffice's export of a sheet.
void AddExported(std::vector<std::string>& out, const std::string& csv, const std::string& sheet) {
    const auto bytes = ole2test::ReadFile(csv);
    const auto lines = ole2test::Lines(std::string(bytes.begin(), bytes.end()));
    for (std::size_t row = 0; row < lines.size(); ++row) {
        const auto cells = ole2test::Split(lines[row], ',');
        for (std::size_t col = 0; col < cells.size(); ++col)
            if (cells[col].starts_with("="))
                out.push_back(sheet + "!" + char('A' + col) + std::to_string(row + 1) + " " + cells[col]);
    }
}

}  // namespace

TEST(FormulaMoves, LibreOfficeSeesTheReferencesFollow) {
    const std::string dir = ORVELO_BINARY_DIR;
    const Bytes moved = booktest::RoundTrip(ole2test::FixtureDir() + "/moves.xls", [](kalmira::TWorkbook& book) {
        TSheetInfo info = OnSheet();
        info.GetSheet = [](std::uint16_t index) { return index; };  // the file's one EXTERNSHEET entry is Data
        auto change = [&](int rowPos, int rowCount, int colPos, int colCount) {
            info.FormulaSheet = 1;
            const TCellList& list = book.WorkSheets(1).Cells().CellList();
            for (std::size_t row = 0; row < list.Count(); ++row)
                for (std::size_t c = 0; list.GetItems(row) && c < list.GetItems(row)->Count(); ++c)
                    if (auto* formula = dynamic_cast<TFormulaRecord*>(list.GetItems(row)->GetItems(c)))
                        formula->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
            info.FormulaSheet = 0;
        };
        booktest::FirstCells(book).DeleteRows(5, 2, info);  // rows 6 and 7
        change(5, -2, NoMovePosition, 0);
        booktest::FirstCells(book).InsertAndCopyRows(60000, 60000, 0, 2, info, false);  // two empty rows at the top
        change(0, 2, NoMovePosition, 0);
        booktest::FirstCells(book).InsertAndCopyRows(2, 4, 20, 1, info, false);  // rows 3..5 copied to 21
        change(20, 3, NoMovePosition, 0);
        booktest::FirstCells(book).DeleteCols(3, 1, info);  // column D
        change(NoMovePosition, 0, 3, -1);
    });
    ole2test::WriteFile(dir + "/formulas-moved.xls", moved);
    ole2test::Run("timeout 300 soffice -env:UserInstallation=file://" + dir + "/formulas-lo --headless --norestore "
                  "--convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,true,false,-1' "
                  "--outdir " + dir + " " + dir + "/formulas-moved.xls >/dev/null 2>&1");
    std::vector<std::string> formulas;
    AddExported(formulas, dir + "/formulas-moved-Data.csv", "Data");
    AddExported(formulas, dir + "/formulas-moved-Souhrn.csv", "Souhrn");
    // Areas shrink and grow, references into deleted rows or columns are
    // #REF!, whole columns and rows stay whole, copies move relative parts;
    // Souhrn's 3-D references follow, its own A8 stays.
    EXPECT_EQ(formulas, (std::vector<std::string>{
        "Data!B3 =SUM(A5:A10)", "Data!C3 =SUM(A:A)", "Data!B4 =A8", "Data!C4 =SUM(A4:A7)", "Data!B5 =$A$8",
        "Data!C5 =SUM(A8:A12)", "Data!B6 =SUM(#REF!#REF!:#REF!#REF!)", "Data!C6 =A12*2", "Data!B7 =#REF!#REF!",
        "Data!E14 =SUM(C14:D14)", "Data!E15 =#REF!#REF!", "Data!E16 =SUM($13:$13)", "Data!B21 =SUM(A23:A28)",
        "Data!C21 =SUM(A:A)", "Data!B22 =A26", "Data!C22 =SUM(A22:A25)", "Data!B23 =$A$8", "Data!C23 =SUM(A26:A30)",
        "Souhrn!A1 =$Data.A8", "Souhrn!A2 =A8", "Souhrn!A3 =SUM($Data.A5:A10)", "Souhrn!A4 =SUM($Data.A:A)",
        "Souhrn!A5 =SUM($Data.C14:D14)"}));
}
