// References follow row and column changes in a real file: moves.xls
// (LibreOffice) holds formulas on Data and on Souhrn, which points into
// Data. Data's rows and columns change through its cells; Souhrn's formulas
// follow through their own records, as every other sheet's do. The saved
// files go through LibreOffice's formula export.
#include <filesystem>

#include "tests/workbook/cells/CellsTestSupport.h"
#include "workbook/cells/UXlsFormula.h"

using namespace cellstest;

namespace {

constexpr int No = NoMovePosition;

// The fixture's EXTERNSHEET: index -> sheet, for entries on one sheet.
TGetSheet SheetLookup(const xlsbook::TXlsBook& book) {
    std::vector<std::int32_t> sheets;
    const TBaseRecordList& globals = *book.Sections.at(0);
    for (std::size_t i = 0; i < globals.Count(); ++i) {
        const TBaseRecord* record = globals.GetItems(i);
        if (!record || record->Id != 0x17) continue;
        for (std::size_t k = 0; k < GetWord(record->Data, 0); ++k) {
            const std::uint16_t first = GetWord(record->Data, 4 + 6 * k), last = GetWord(record->Data, 6 + 6 * k);
            sheets.push_back(first == last ? first : -1);
        }
    }
    return [sheets](std::uint16_t index) { return index < sheets.size() ? sheets[index] : -1; };
}

// A change of Data (sheet 0) in the book: its cells, then Souhrn's formulas.
struct TDataChange {
    xlsbook::TXlsBook& Book;
    TSheetInfo Info(int formulaSheet) const {
        TSheetInfo info;
        info.InsSheet = 0;
        info.FormulaSheet = formulaSheet;
        info.GetSheet = SheetLookup(Book);
        return info;
    }
    void Others(int rowPos, int rowCount, int colPos, int colCount) const {
        Book.ForEachCell([&](std::size_t sheet, TCellRecord& cell) {
            if (auto* formula = dynamic_cast<TFormulaRecord*>(&cell); formula && sheet == 2)
                formula->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, Info(1));
        });
    }
    TCells& Cells() const { return *Book.Cells; }
};

// "Sheet!B3 =A1" for every formula cell of LibreOffice's export of a sheet.
std::vector<std::string> ExportedFormulas(const std::string& csv, const std::string& sheet) {
    std::vector<std::string> out;
    const auto bytes = ole2test::ReadFile(csv);
    const auto lines = ole2test::Lines(std::string(bytes.begin(), bytes.end()));
    for (std::size_t row = 0; row < lines.size(); ++row) {
        const auto cells = ole2test::Split(lines[row], ',');
        for (std::size_t col = 0; col < cells.size(); ++col)
            if (!cells[col].empty() && cells[col][0] == '=')
                out.push_back(sheet + "!" + char('A' + col) + std::to_string(row + 1) + " " + cells[col]);
    }
    return out;
}

}  // namespace

TEST(FormulaMoves, LibreOfficeSeesTheReferencesFollow) {
    const std::pair<const char*, std::function<void(const TDataChange&)>> changes[] = {
        {"deleted", [](const TDataChange& c) {  // rows 6 and 7
             c.Cells().DeleteRows(5, 2, c.Info(0));
             c.Others(5, -2, No, 0);
         }},
        {"inserted", [](const TDataChange& c) {  // 2 empty rows at the top, then rows 3..5 copied to 21
             c.Cells().InsertAndCopyRows(60000, 60000, 0, 2, c.Info(0), false);
             c.Others(0, 2, No, 0);
             c.Cells().InsertAndCopyRows(2, 4, 20, 1, c.Info(0), false);
             c.Others(20, 3, No, 0);
         }},
        {"columns", [](const TDataChange& c) {  // column D
             c.Cells().DeleteCols(3, 1, c.Info(0));
             c.Others(No, 0, 3, -1);
         }},
    };
    const std::string dir = std::string(ORVELO_BINARY_DIR) + "/formula-moves";
    std::filesystem::create_directories(dir);
    std::string files;
    for (const auto& [name, change] : changes) {
        ole2test::WriteFile(dir + "/" + name + ".xls",
                            xlsbook::RoundTrip(ole2test::FixtureDir() + "/moves.xls",
                                               [&](xlsbook::TXlsBook& book) { change(TDataChange{book}); }));
        files += " " + dir + "/" + name + ".xls";
    }
    ole2test::Run("timeout 300 soffice -env:UserInstallation=file://" + dir + "/profile --headless --norestore "
                  "--convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,true,false,-1' "
                  "--outdir " + dir + files + " >/dev/null 2>&1");
    auto exported = [&](const std::string& name) {
        auto out = ExportedFormulas(dir + "/" + name + "-Data.csv", "Data");
        for (auto& f : ExportedFormulas(dir + "/" + name + "-Souhrn.csv", "Souhrn")) out.push_back(f);
        return out;
    };
    using Texts = std::vector<std::string>;
    // Areas shrink, references into the block are #REF!, a whole column stays;
    // Souhrn's 3-D references follow, its own A8 does not.
    EXPECT_EQ(exported("deleted"),
              (Texts{"Data!B1 =SUM(A3:A8)", "Data!C1 =SUM(A:A)", "Data!B2 =A6", "Data!C2 =SUM(A2:A5)",
                     "Data!B3 =$A$6", "Data!C3 =SUM(A6:A10)", "Data!B4 =SUM(#REF!#REF!:#REF!#REF!)",
                     "Data!C4 =A10*2", "Data!B5 =#REF!#REF!", "Data!F12 =SUM(C12:E12)", "Data!F13 =D12",
                     "Data!F14 =SUM($11:$11)", "Souhrn!A1 =$Data.A6", "Souhrn!A2 =A8", "Souhrn!A3 =SUM($Data.A3:A8)",
                     "Souhrn!A4 =SUM($Data.A:A)", "Souhrn!A5 =SUM($Data.C12:E12)"}));
    // Copies move their relative parts; a whole column stays whole.
    EXPECT_EQ(exported("inserted"),
              (Texts{"Data!B3 =SUM(A5:A12)", "Data!C3 =SUM(A:A)", "Data!B4 =A10", "Data!C4 =SUM(A4:A8)",
                     "Data!B5 =$A$10", "Data!C5 =SUM(A9:A14)", "Data!B6 =SUM(A8:A9)", "Data!C6 =A14*2", "Data!B7 =A8",
                     "Data!F16 =SUM(C16:E16)", "Data!F17 =D16", "Data!F18 =SUM($15:$15)", "Data!B21 =SUM(A23:A30)",
                     "Data!C21 =SUM(A:A)", "Data!B22 =A28", "Data!C22 =SUM(A22:A26)", "Data!B23 =$A$10",
                     "Data!C23 =SUM(A27:A32)", "Souhrn!A1 =$Data.A10", "Souhrn!A2 =A8", "Souhrn!A3 =SUM($Data.A5:A12)",
                     "Souhrn!A4 =SUM($Data.A:A)", "Souhrn!A5 =SUM($Data.C16:E16)"}));
    // Areas lose a deleted column, 2-D and 3-D; a whole row stays.
    EXPECT_EQ(exported("columns"),
              (Texts{"Data!B1 =SUM(A3:A10)", "Data!C1 =SUM(A:A)", "Data!B2 =A8", "Data!C2 =SUM(A2:A6)", "Data!B3 =$A$8",
                     "Data!C3 =SUM(A7:A12)", "Data!B4 =SUM(A6:A7)", "Data!C4 =A12*2", "Data!B5 =A6",
                     "Data!E14 =SUM(C14:D14)", "Data!E15 =#REF!#REF!", "Data!E16 =SUM($13:$13)", "Souhrn!A1 =$Data.A8",
                     "Souhrn!A2 =A8", "Souhrn!A3 =SUM($Data.A3:A10)", "Souhrn!A4 =SUM($Data.A:A)",
                     "Souhrn!A5 =SUM($Data.C14:D14)"}));
}
