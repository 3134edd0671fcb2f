#include "tests/workbook/api/XLSFileTestSupport.h"

using namespace xlsfiletest;
using namespace ole2test;
using TLines = std::vector<std::string>;

namespace {

// A new workbook of three sheets with A1 1, A2 2, B1 "x" and A3 =A1+A2.
std::unique_ptr<TXLSFile> Filled() {
    auto file = Opened("", 3);
    for (const auto& [row, col, value] : {std::tuple{1, 1, TVariant(1.0)}, {2, 1, TVariant(2.0)}, {1, 2, TVariant(u"x")}})
        file->SetCellValue(row, col, value);
    file->SetCellFormula(3, 1, u"=A1+A2");
    return file;
}

// What xlrd reads of the file saved now: "sheet row col type value" lines
// ("cells") or the globals ("book").
TLines Read(TXLSFile& file, const std::string& what = "cells") {
    const std::string path = Out("saved.xls");
    file.Save(false, path, nullptr, nullptr, nullptr);
    return Lines(OleCheck(what, path));
}

// The first sheet as xlrd reads it: "row,col:value" from 0 (a formula without
// result as the empty text).
std::string Grid(TXLSFile& file) {
    std::string grid;
    for (const auto& line : Read(file)) grid += (grid.empty() ? "" : " ") + Split(line)[1] + "," + Split(line)[2] + ":" + Split(line)[4];
    return grid;
}

}  // namespace

// Values and runs set through the interface land where xlrd reads them;
// formulas read as the empty text once their cached results were dropped.
TEST(XLSFileOps, SetAndUsedRange) {
    auto file = Filled();
    file->SetCellValueX(10, 4, {TVariant(2.5), 15, false});
    file->SetCellValue(2, 3, TVariant(7.0));
    file->AssignCellValueX2(4, 1, {TVariant(u"plain bold"), -1, false}, {{7, 5}});
    TXlsCellValue rich;  // the runs are what counts
    TRTFRunList runs;
    file->GetCellValueX2(4, 1, rich, runs);
    EXPECT_EQ(std::make_pair(file->GetCellFormula(3, 1), runs), std::make_pair(std::u16string(u"=A1+A2"), TRTFRunList{{7, 5}}));
    EXPECT_EQ(Grid(*file), "0,0:1.0 0,1:'x' 1,0:2.0 1,2:7.0 2,0:'' 3,0:'plain bold' 9,3:2.5");
    // (The cells of a row by index: cells_check.py's --cells listing against xlrd.)
    EXPECT_EQ((std::vector<int>{file->MaxRow(), file->MaxCol(), file->IsEmptyRow(0), file->IsEmptyRow(3), file->IsEmptyRow(5),
                                file->GetCellFormat(10, 4), file->GetCellFormat(11, 4)}),
              (std::vector<int>{10, 4, true, false, true, 15, -1}));
}

// The active sheet (from 1), the selected sheets, the sheets and the first
// sheet's cells as xlrd reads them, and the formulas of A6 and B3.
std::string State(TXLSFile& file) {
    std::string state = std::to_string(file.GetActiveSheet()) + " ";
    for (int s = 0; s < file.SheetCount(); ++s) state += file.GetTWorkbook().Sheet(s).GetSelected() ? "*" : "-";
    for (const auto& line : Read(file, "book")) state += line.starts_with("sheet") ? "|" + line.substr(6) : "";
    file.SetActiveSheet(1);
    return state + " " + Grid(file) + Utf16ToUtf8(file.GetCellFormula(6, 1) + file.GetCellFormula(3, 2));
}

// Deleting sheets keeps the active sheet within the workbook and one sheet
// selected; a cleared copy does not come back selected beside it. Rows and
// columns move where xlrd expects them.
TEST(XLSFileOps, Changes) {
    const std::string three = "|Sheet1 0|Sheet2 0|Sheet 0 ";
    const struct { std::function<void(TXLSFile&)> act; std::string state; } cases[] = {
        {[](TXLSFile& f) { f.SetActiveSheet(3); f.DeleteSheet(1); }, "2 *-|Sheet1 0|Sheet2 0 0,0:1.0 0,1:'x' 1,0:2.0 2,0:''"},
        {[](TXLSFile& f) { f.SelectSheet(3); f.SetActiveSheet(3); f.DeleteSheet(1); }, "2 -*|Sheet1 0|Sheet2 0 0,0:1.0 0,1:'x' 1,0:2.0 2,0:''"},
        {[](TXLSFile& f) { f.SelectSheet(2); f.DeleteSheet(2); }, "1 *|Sheet 0 "},
        {[](TXLSFile& f) { f.SelectSheet(3); f.SetActiveSheet(2); f.DeleteSheet(1); }, "2 -*|Sheet1 0|Sheet 0 0,0:1.0 0,1:'x' 1,0:2.0 2,0:''"},
        {[](TXLSFile& f) { f.InsertAndCopySheets(1, 2, 2); f.SetActiveSheet(3); f.ClearSheet(); f.SetActiveSheet(2); f.ClearSheet(); },
         "2 *----|Sheet1 0|Sheet4 0|Sheet3 0|Sheet2 0|Sheet 0 0,0:1.0 0,1:'x' 1,0:2.0 2,0:''"},
        {[](TXLSFile& f) { f.SetActiveSheet(2); f.SetActiveSheetName(u"Voda"); f.SetActiveSheetVisible(TXlsSheetVisible::sv_Hidden); },
         "2 *--|Sheet1 0|Voda 1|Sheet 0 0,0:1.0 0,1:'x' 1,0:2.0 2,0:''"},
        {[](TXLSFile& f) { f.DeleteRows(1, 1); }, "1 *--" + three + "0,0:2.0 1,0:''"},
        {[](TXLSFile& f) { f.InsertAndCopyRows(1, 3, 4, 1, false); },
         "1 *--" + three + "0,0:1.0 0,1:'x' 1,0:2.0 2,0:'' 3,0:1.0 3,1:'x' 4,0:2.0 5,0:''=A4+A5"},
        {[](TXLSFile& f) { f.DeleteCols(2, 1); }, "1 *--" + three + "0,0:1.0 1,0:2.0 2,0:''"},
        {[](TXLSFile& f) { f.InsertAndCopyCols(1, 1, 1, 1, true); }, "1 *--" + three + "0,1:1.0 0,2:'x' 1,1:2.0 2,0:'' 2,1:''=B1+B2"},
    };
    for (const auto& c : cases) {
        auto file = Filled();
        c.act(*file);
        EXPECT_EQ(State(*file), c.state);
    }
}

// A refused call changes nothing and says why.
TEST(XLSFileOps, Refusals) {
    auto file = Filled();
    file->SetActiveSheet(3);
    ExpectRefused(*file, {
        {[&] { file->SetCellFormat(1, 1, 4000); }, "The index \"4000\" of the property \"XF\" is not in the range 0-15"},
        {[&] { file->SetCellValueX(1, 1, {TVariant(1.0), 4000, false}); }, "The index \"4000\" of the property \"XF\" is not in the range 0-15"},
        {[&] { file->SetRowFormat(1, 16); }, "The index \"16\" of the property \"XF\" is not in the range 0-15"},
        {[&] { file->SetCellValue(65537, 1, TVariant(1.0)); }, "Invalid Row (65536)"},
        {[&] { file->SetCellFormula(1, 1, u"=SUM("); }, "Unexpected end of formula: \"=SUM(\""},
        {[&] { file->InsertAndCopyRows(1, 1, 65536, 1, false); }, "Ivalid arguments to call InsertAndCopyRows"},
        {[&] { file->DeleteRows(1, -2); file->DeleteCols(1, 0); }, "no exception"},
        {[&] { file->SetActiveSheetName(u""); }, "Invalid sheet: "},
        {[&] { file->SetActiveSheetName(u"Sheet2"); }, "Sheet name already exists: Sheet2"},
        {[&] { file->DeleteSheet(3); }, "There are not visible sheets on the file"},
        {[&] { file->SetActiveSheet(4); file->ClearSheet(); }, "Sheet number \"3\" invalid. Must be between 0 and 2"},
        {[&] { file->SelectSheet(0); }, "Sheet number \"-1\" invalid. Must be between 0 and 2"},
    });
    EXPECT_FALSE(file->IsWorksheet(4));
}

// Row settings survive a save and move with the rows.
TEST(XLSFileOps, RowSettingsAndMarkedRows) {
    auto file = Filled();
    for (int row : {2, 3, 4, 5}) row == 3 ? file->SetAutoRowHeight(3, false) : file->SetRowHidden(row, row == 5);
    file->SetRowHeight(2, 600), file->SetRowFormat(4, 15), file->DeleteRows(2, 1);
    TKmrMemoryStream saved(Saved(*file));
    file->LoadFromStream(saved);
    EXPECT_EQ((std::vector<int>{file->GetRowHeight(0), file->GetRowHeight(2), file->GetRowHeightHiddenIsZero(4), file->GetRowHidden(4),
                                file->GetAutoRowHeight(2), file->GetAutoRowHeight(1), file->GetRowFormat(3), file->GetRowFormat(1)}),
              (std::vector<int>{255, 255, 0, true, false, true, 15, -1}));
}
