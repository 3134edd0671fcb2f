// Sheet view, page setup, workbook options, palette and names through
// TXLSFile as TExcelFile, and the operations still waiting for their model.
#include <algorithm>

#include <gmock/gmock.h>

#include "tests/workbook/api/XLSFileTestSupport.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/Uxlssheet.h"

using namespace xlsfiletest;
using namespace ole2test;
using TLines = std::vector<std::string>;

namespace {

// A new workbook of two sheets with the names Block (C5:F9), Cell (B2)
// and Five (a constant), and, when asked, a chart sheet "Graf" third whose
// records hold other values than the defaults.
std::unique_ptr<TXLSFile> Named(bool chart = false) {
    auto file = Opened("", 2);
    TWorkbookGlobals& globals = file->GetTWorkbook().Globals();
    for (const auto& [name, text] : {std::pair{u"Block", u"=Sheet1!$C$5:$F$9"}, {u"Cell", u"=Sheet1!$B$2"}, {u"Five", u"=5"}})
        globals.AddName({name, text, 0, -1});
    if (!chart) return file;
    const Bytes setup = {9, 0, 80, 0, 1, 0, 2, 0, 3, 0, 0, 0, 44, 1, 44, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0};
    TStreamFile f(Cat({Rec(0x809, {0, 6, 0x20, 0, 0xBB, 0x0D, 0xCC, 7, 0, 0, 0, 0, 6, 0, 0, 0}), Rec(0x81, {0, 0}), Rec(0x2B, {0, 0}),
                       Rec(0x83, {1, 0}), Rec(0xA1, setup), Rec(0x23E, Bytes(10)), Rec(0xA0, {3, 0, 4, 0}), Rec(0x0A, {})}));
    auto header = f.FirstHeader();
    std::unique_ptr<TBOFRecord> bof(static_cast<TBOFRecord*>(LoadRecords(f.Ole, header).release()));
    auto sheet = NewSheetOfType(&globals, 0x20);
    sheet->LoadFromStream(f.Ole, header, std::move(bof), globals.SST());
    globals.InsertSheets(0, 2, 1, u"Graf", 0x0200);
    file->GetTWorkbook().Sheets().Add(std::move(sheet));
    return file;
}

}  // namespace

// What xlrd and LibreOffice read of frozen panes, the date system, a
// palette colour and name bounds set through the interface.
TEST(XLSFileSettings, ReadBackByOtherPrograms) {
    auto file = Named();
    file->FreezePanes(4, 1), file->SetOptions1904Dates(true), file->SetColorPalette(1, 0x332211);
    file->SetRangeR2(1, 12), file->SetRangeC2(2, 4), file->SetRangeR1(3, 7);
    const std::string path = Out("settings.xls");
    WriteFile(path, Saved(*file));
    EXPECT_THAT(Lines(OleCheck("panes", path) + OleCheck("book", path) + OleCheck("lonames", path)), ::testing::IsSupersetOf(TLines{
        "xlrd 1 3 0", "lo A4 frozen", "datemode 1", "colour 8 17 34 51", "Block -1 Sheet1!$C$5:$F$12", "Cell -1 Sheet1!$B$2:$D$2", "Five -1 5"}));
}

// On a chart sheet setting the worksheet settings changes no byte.
TEST(XLSFileSettings, ChartSheetKeepsItsRecords) {
    auto file = Named(true);
    file->SetActiveSheet(3);
    const Bytes before = Saved(*file);
    file->SetShowGridLines(true), file->SetSheetZoom(200), file->SetPrintGridLines(true), file->SetPrintScale(50);
    file->SetPrintToFit(true), file->SetPrintHCentered(false), file->SetPrintCopies(7), file->SetOutlineSummaryRowsBelowDetail(true);
    EXPECT_EQ(Saved(*file), before);
}

// Bad input is refused and the next save is the same.
TEST(XLSFileSettings, Refusals) {
    auto file = Named();
    TXLSFile unconnected(nullptr);
    ExpectRefused(*file, {
        {[&] { file->FreezePanes(INT32_MIN, 2); }, "Invalid Row (-2147483648)"},
        {[&] { file->FreezePanes(2, 257); }, "Invalid Column (256)"},
        {[&] { file->SplitWindow(-1, 3); }, "The index \"-1\" of the property \"SplitWindow\" is not in the range 0-65535"},
        {[&] { file->SetMargins({1, 1, 1, -0.5, 0, 0}); }, "Error in Margin Record"},
        {[&] { file->SetColorPalette(57, 0); }, "Too many entries for this kind of record (56 out of a maximum of 55)"},
        {[&] { file->SetRangeR1(4, 1); }, "The index \"4\" of the property \"NameIndex\" is not in the range 1-3"},
        {[&] { file->SetRangeR1(1, 0); }, "Invalid Row (-1)"},
        {[&] { file->SetColorPalette(INT32_MIN, 0); }, "Too many entries for this kind of record (-2147483648 out of a maximum of 55)"},
        {[&] { file->SetActiveSheet(3); file->SetPageHeader(u"x"); }, "Sheet number \"2\" invalid. Must be between 0 and 1"},
        {[&] { file->SetSheetZoom(50); }, "Sheet number \"2\" invalid. Must be between 0 and 1"},
        {[&] { unconnected.SetOptions1904Dates(true); }, "There is no open file"},
        {[&] { file->SetActiveSheet(1); }, "no exception"},
    });
}
