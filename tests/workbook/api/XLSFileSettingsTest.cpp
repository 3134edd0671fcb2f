// Sheet view, page setup, workbook options, palette and names through
// TXLSFile as TExcelFile, and the operations still waiting for their model.
#include <algorithm>

#include <gmock/gmock.h>

#include "tests/workbook/api/ExcelFileProbe.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/storage/Uxlssheet.h"

using namespace kalmira;
using namespace ole2test;
namespace fs = std::filesystem;
using TLines = std::vector<std::string>;

namespace {

// A new workbook of two sheets with the names Block (C5:F9), Cell (B2)
// and Five (a constant), and, when asked, a chart sheet "Graf" third whose
// records hold other values than the defaults.
std::unique_ptr<TXLSFile> Opened(bool chart = false) {
    auto file = std::make_unique<TXLSFile>(nullptr, true);
    file->Connect();
    file->NewFile(2);
    TWorkbook& book = file->GetTWorkbook();
    for (const auto& [name, text] : {std::pair{u"Block", u"=Sheet1!$C$5:$F$9"}, {u"Cell", u"=Sheet1!$B$2"}, {u"Five", u"=5"}})
        book.Globals().AddName({name, text, 0, -1});
    if (!chart) return file;
    const Bytes setup = {9, 0, 80, 0, 1, 0, 2, 0, 3, 0, 0, 0, 44, 1, 44, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0};
    TStreamFile f(Cat({Rec(0x809, {0, 6, 0x20, 0, 0xBB, 0x0D, 0xCC, 7, 0, 0, 0, 0, 6, 0, 0, 0}), Rec(0x81, {0, 0}),
                       Rec(0x2B, {0, 0}), Rec(0x83, {1, 0}), Rec(0xA1, setup), Rec(0x23E, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                       Rec(0xA0, {3, 0, 4, 0}), Rec(0x0A, {})}));
    auto header = f.FirstHeader();
    std::unique_ptr<TBOFRecord> bof(static_cast<TBOFRecord*>(LoadRecords(f.Ole, header).release()));
    auto sheet = NewSheetOfType(&book.Globals(), bof->GetBOFType());
    sheet->LoadFromStream(f.Ole, header, std::move(bof), book.Globals().SST());
    book.Globals().InsertSheets(0, 2, 1, u"Graf", 0x0200);
    book.Sheets().Add(std::move(sheet));
    return file;
}

// A file in this test's folder of the build tree.
std::string Out(const std::string& name) {
    const fs::path path = fs::path(ORVELO_BINARY_DIR) / "xlsfile-settings-tests" / name;
    fs::create_directories(path.parent_path());
    return path.string();
}

Bytes Saved(TXLSFile& file, const std::string& path = "") {
    TKmrMemoryStream out;
    file.Save(false, "", nullptr, nullptr, &out);
    if (!path.empty()) WriteFile(path, out.Bytes());
    return out.Bytes();
}

}  // namespace

// What xlrd, the raw records and LibreOffice read of settings set through
// the interface, and the getters after the file is opened again.
TEST(XLSFileSettings, ReadBackByOtherPrograms) {
    auto file = Opened();
    file->SetPrintToFit(true), file->SetPrintNumberOfHorizontalPages(2), file->SetPrintNumberOfVerticalPages(3);
    file->SplitWindow(1000, 2000);
    file->SetActiveSheet(2), file->SelectSheet(2);
    file->SetShowGridLines(false), file->SetShowGridHeaders(false), file->SetSheetZoom(150), file->FreezePanes(4, 1);
    file->SetPageHeader(u"&CVoda"), file->SetPageFooter(u"&RStrana &P"), file->SetPrintGridLines(true);
    file->SetMargins({1.25, 1.5, 0.5, 0.75, 0.375, 0.625});
    file->SetPrintScale(80), file->SetPrintPaperSize(9), file->SetPrintCopies(2);
    file->SetPrintHCentered(true), file->SetPrintVCentered(true);
    file->SetOutlineSummaryRowsBelowDetail(false), file->SetOutlineSummaryColsRightOfDetail(false), file->SetOutlineAutomaticStyles(true);
    file->SetOptions1904Dates(true), file->SetOptionsR1C1(true), file->SetColorPalette(1, 0x332211);
    file->SetRangeR2(1, 12), file->SetRangeC2(2, 4), file->SetRangeR1(3, 7);
    const std::string path = Out("settings.xls");
    Saved(*file, path);
    const TLines lines = Lines(OleCheck("settings", path));
    const TLines colour = Lines(OleCheck("book", path));
    EXPECT_THAT(colour, ::testing::IsSupersetOf({"datemode 1", "colour 8 17 34 51"}));
    EXPECT_THAT(lines, ::testing::IsSupersetOf(TLines{
        "xlrd 1 0 None 0 1000 2000 1 1", "xlrd 2 1 150 1 3 0 0 0", "rec 1 refmode 0", "rec 2 refmode 0", "rec 2 copies 2", "rec 2 wsbool 0421",
        "lo book 1 true", "lo name Block Sheet1!$C$5:$F$12", "lo name Cell Sheet1!$B$2:$D$2", "lo name Five 5",
        "lo 1 pageSetup paperSize=9 scale=100 fitToWidth=2 fitToHeight=3", "lo 1 pageSetUpPr fitToPage=true",
        "lo 2 sheetView zoomScale=150 showGridLines=false showRowColHeaders=false tabSelected=true",
        "lo 2 pane topLeftCell=A4 state=frozen ySplit=3 xSplit=0", "lo 2 pageMargins left=1.25 right=0.5 top=1.5 bottom=0.75 header=0.375 footer=0.625",
        "lo 2 pageSetup paperSize=9 scale=80 fitToWidth=1 fitToHeight=1", "lo 2 printOptions gridLines=true horizontalCentered=true verticalCentered=true",
        "lo 2 oddHeader &C&\"Arial,Regular\"Voda", "lo 2 oddFooter &R&\"Arial,Regular\"Strana &P"}));
    file->OpenFile(path);
    std::int32_t frozenRow = 0, frozenCol = 0, splitRow = -1, splitCol = -1;
    file->GetFrozenPanes(frozenRow, frozenCol), file->GetSplitWindow(splitRow, splitCol);
    EXPECT_EQ((std::vector<std::int64_t>{file->GetActiveSheet(), frozenRow, frozenCol, splitRow, splitCol, file->GetColorPalette(1),
                                         file->GetOptionsR1C1(), file->GetExcelNameCount(), file->GetRangeR1(1), file->GetRangeR2(1),
                                         file->GetRangeC1(2), file->GetRangeC2(2), file->GetRangeR1(3)}),
              (std::vector<std::int64_t>{2, 4, 1, 0, 0, 0x332211, true, 3, 5, 12, 2, 4, 0}));
    file->SetActiveSheet(1), file->GetSplitWindow(splitRow, splitCol);
    EXPECT_EQ(std::make_tuple(file->GetRangeName(2), splitRow, splitCol), std::make_tuple(u"Cell", 1000, 2000));
}

// Deleting the active and selected last sheet selects the new last one;
// cleared copies do not come back selected beside it.
TEST(XLSFileSettings, ActiveAndSelectedSheets) {
    auto file = Opened();
    file->InsertAndCopySheets(1, 2, 2);
    for (int sheet : {2, 3}) file->SetActiveSheet(sheet), file->ClearSheet();
    file->SelectSheet(4), file->SetActiveSheet(4), file->DeleteSheet(1);
    const std::string path = Out("selected.xls");
    Saved(*file, path);
    TLines found;
    for (const auto& line : Lines(OleCheck("settings", path)))
        if (line.starts_with("xlrd") || line.starts_with("lo book")) found.push_back(line.substr(0, line.starts_with("lo") ? 9 : 8));
    EXPECT_EQ(found, (TLines{"xlrd 1 0", "xlrd 2 0", "xlrd 3 1", "lo book 2"}));
    EXPECT_EQ(file->GetActiveSheet(), 3);
}

// On a chart sheet the worksheet settings read as their defaults and
// setting them changes no byte.
TEST(XLSFileSettings, ChartSheetKeepsItsRecords) {
    auto file = Opened(true);
    file->SetActiveSheet(3);
    const Bytes before = Saved(*file);
    file->SetShowGridLines(true), file->SetShowGridHeaders(true), file->SetSheetZoom(200), file->SetPrintGridLines(true);
    file->SetPrintScale(50), file->SetPrintToFit(true), file->SetPrintNumberOfHorizontalPages(5), file->SetPrintNumberOfVerticalPages(5);
    file->SetPrintOptions(4), file->SetPrintHCentered(false), file->SetPrintVCentered(true), file->SetPrintCopies(7);
    file->SetPrintPaperSize(1), file->SetPrintXResolution(100), file->SetPrintYResolution(100), file->SetPrinterDriverSettings({0, {1, 2}});
    file->SetOutlineSummaryRowsBelowDetail(true), file->SetOutlineSummaryColsRightOfDetail(true), file->SetOutlineAutomaticStyles(true);
    EXPECT_EQ(Saved(*file), before);
    EXPECT_EQ((std::vector<std::int64_t>{file->GetShowGridLines(), file->GetShowGridHeaders(), file->GetPrintGridLines(), file->GetPrintScale(),
                                         file->GetPrintToFit(), file->GetPrintNumberOfHorizontalPages(), file->GetPrintNumberOfVerticalPages(),
                                         file->GetPrintOptions(), file->GetPrintHCentered(), file->GetPrintVCentered(), file->GetPrintCopies(),
                                         file->GetPrintPaperSize(), file->GetPrintXResolution(), file->GetPrintYResolution(),
                                         file->GetOutlineSummaryRowsBelowDetail(), file->GetOutlineSummaryColsRightOfDetail(),
                                         file->GetOutlineAutomaticStyles(), file->GetSheetZoom()}),
              (std::vector<std::int64_t>{true, true, true, 100, false, 1, 1, 0, false, false, 1, 0, 600, 600, true, true, false, 75}));
    EXPECT_TRUE(file->GetPrinterDriverSettings().Data.empty());
}

// Bad input is refused and the next save is the same.
TEST(XLSFileSettings, Refusals) {
    auto file = Opened();
    const Bytes before = Saved(*file);
    TXLSFile unconnected(nullptr);
    const std::pair<std::function<void()>, std::string> refused[] = {
        {[&] { file->FreezePanes(0, 2); }, "Invalid Row (-1)"},
        {[&] { file->FreezePanes(2, 257); }, "Invalid Column (256)"},
        {[&] { file->SplitWindow(-1, 3); }, "The index \"-1\" of the property \"SplitWindow\" is not in the range 0-65535"},
        {[&] { file->SetPrintScale(70000); }, "The index \"70000\" of the property \"PrintScale\" is not in the range 0-65535"},
        {[&] { file->SetColorPalette(57, 0); }, "Too many entries for this kind of record (56 out of a maximum of 55)"},
        {[&] { file->GetColorPalette(0); }, "The index \"-1\" of the property \"Palette index\" is not in the range 0-55"},
        {[&] { file->SetRangeR1(4, 1); }, "The index \"4\" of the property \"NameIndex\" is not in the range 1-3"},
        {[&] { file->SetRangeR1(1, 0); }, "Invalid Row (-1)"},
        {[&] { file->SetRangeC2(2, 257); }, "Invalid Column (256)"},
        {[&] { file->SetActiveSheet(3); file->SetPageHeader(u"x"); }, "Sheet number \"2\" invalid. Must be between 0 and 1"},
        {[&] { file->SetSheetZoom(50); }, "Sheet number \"2\" invalid. Must be between 0 and 1"},
        {[&] { unconnected.SetOptions1904Dates(true); }, "There is no open file"},
    };
    for (const auto& [call, message] : refused) EXPECT_EQ(MessageOf(call), message);
    file->SetActiveSheet(1);
    EXPECT_EQ(Saved(*file), before);
}

// Each operation still waiting for its part of the model says so, changes
// nothing, and the probe counts the rest as there. Completing a part takes
// its rows out.
TEST(XLSFileSettings, NotYetBuilt) {
    const std::vector<std::pair<std::string, std::string>> waiting = {
        {"SetCellString", "formats"}, {"SetCellString", "formats"}, {"FormatListCount", "formats"}, {"GetFormatList", "formats"},
        {"SetFormatList", "formats"}, {"AddFormat", "formats"}, {"FontListCount", "formats"}, {"GetFontList", "formats"},
        {"SetFontList", "formats"}, {"AddFont", "formats"}, {"GetUsedPaletteColors", "formats"}, {"AddRange", "names"},
        {"GetRangeSheet", "names"}, {"HyperLinkCount", "hyperlinks"}, {"GetHyperLink", "hyperlinks"}, {"SetHyperLink", "hyperlinks"},
        {"GetHyperLinkCellRange", "hyperlinks"}, {"SetHyperLinkCellRange", "hyperlinks"}, {"AddHyperLink", "hyperlinks"},
        {"DeleteHyperLink", "hyperlinks"}, {"GetColumnWidth", "columns"}, {"GetColumnWidthHiddenIsZero", "columns"},
        {"SetColumnWidth", "columns"}, {"GetColumnHidden", "columns"}, {"SetColumnHidden", "columns"}, {"GetColumnFormat", "columns"},
        {"SetColumnFormat", "columns"}, {"GetRowOutlineLevel", "columns"}, {"SetRowOutlineLevel", "columns"},
        {"GetColOutlineLevel", "columns"}, {"SetColOutlineLevel", "columns"}, {"InsertHPageBreak", "columns"},
        {"DeleteHPageBreak", "columns"}, {"HasHPageBreak", "columns"}, {"InsertVPageBreak", "columns"}, {"DeleteVPageBreak", "columns"},
        {"HasVPageBreak", "columns"}, {"MakePageBreaks", "columns"}, {"CellMergedListCount", "merged"}, {"GetCellMergedList", "merged"},
        {"GetCellMergedBounds", "merged"}, {"MergeCells", "merged"}, {"UnMergeCells", "merged"}, {"GetCommentsCount", "comments"},
        {"GetCommentText", "comments"}, {"GetCommentColumn", "comments"}, {"AssignComment", "comments"}, {"GetCellComment", "comments"},
        {"SetCellComment", "comments"}, {"AutofitRow", "autofit"}, {"AutofitCol", "autofit"}, {"AutofitRowsOnWorkbook", "autofit"},
        {"GetPicturesCount", "pictures"}, {"GetPictureName", "pictures"}, {"GetPicture", "pictures"}, {"AssignPictureProperties", "pictures"},
        {"ClearImage", "pictures"}, {"DeleteImage", "pictures"}, {"SetAutoFilter", "pictures"}, {"RemoveAutoFilter", "pictures"},
        {"HasAutoFilter", "pictures"}, {"HasAutoFilter", "pictures"}, {"GetAutoFilterRange", "pictures"}, {"AssignPicture", "pictures"},
        {"AssignPicture", "pictures"}, {"AddImage", "pictures"}, {"CopyToClipboard", "clipboard"}, {"CopyToClipboard", "clipboard"},
        {"PasteFromClipboard", "clipboard"}};
    auto file = Opened();
    const Bytes before = Saved(*file);
    for (const auto& op : excelprobe::Operations()) {
        if (std::none_of(waiting.begin(), waiting.end(), [&](const auto& w) { return w.first == op.name; })) continue;
        EXPECT_EQ(MessageOf([&] { op.call(*file); }), "The operation \"" + std::string(op.name) + "\" is not available yet");
    }
    EXPECT_EQ(Saved(*file), before);
    TXLSAdapter adapter;
    auto notYet = excelprobe::Probe([&] { return adapter.GetWorkbook(); }).notYetNames;
    std::vector<std::string> listed;
    for (const auto& w : waiting) listed.push_back(w.first);
    std::sort(listed.begin(), listed.end()), std::sort(notYet.begin(), notYet.end());
    EXPECT_EQ(notYet, listed);
}
