// Sheets through hand-built sections, the template and the LibreOffice
// workbooks S (page breaks, merges, conditional format, hyperlink, note,
// picture, embedded chart), V (values, formulas) and M (one merge).
#include <gmock/gmock.h>

#include "tests/workbook/book/GlobalsStreams.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlssheet.h"

using namespace kalmira;
using namespace ole2test;

namespace {

struct TLoaded {
    TWorkbookGlobals Globals;
    std::unique_ptr<TSheet> Sheet;
};

// The section of a stream whose first record is its BOF, in the class its BOF names.
std::unique_ptr<TSheet> LoadSheet(const Bytes& stream, TWorkbookGlobals& globals) {
    TStreamFile f(stream);
    std::unique_ptr<TBOFRecord> bof(static_cast<TBOFRecord*>(f.Next().release()));
    auto sheet = NewSheetOfType(&globals, bof->GetBOFType());
    sheet->LoadFromStream(f.Ole, f.Header, std::move(bof), globals.SST());
    return sheet;
}

std::unique_ptr<TLoaded> LoadSection(const Bytes& stream) {
    auto loaded = std::make_unique<TLoaded>();
    loaded->Sheet = LoadSheet(stream, loaded->Globals);
    return loaded;
}

}  // namespace

// A chart sheet and a macro sheet come back byte for byte (less the chart
// font basis, an index record); a copied chart sheet writes the same
// bytes. The default column width follows DEFCOLWIDTH and STANDARDWIDTH in
// either order.
TEST(Sheets, HandBuiltSectionsComeBackAsRead) {
    const Bytes ai = Rec(0x1051, {1, 2, 0, 0, 0, 0, 3, 0, 0x24, 1, 0});
    const Bytes chartBody = Cat({Rec(0x1002, {1}), Rec(0x1033, {}), Rec(0x1033, {}), ai, Rec(0x1034, {}),
                                 Rec(0x1034, {}), Rec(0xA0, {3, 0, 4, 0})});
    auto chart = LoadSection(Cat({SheetBof(0x20), Rec(0x1060, {0, 0}), chartBody, EOF_}));
    EXPECT_EQ(SaveSheet(*chart->Sheet), Cat({SheetBof(0x20), chartBody, EOF_}));
    EXPECT_EQ(SaveSheet(*chart->Sheet->CopyTo()), SaveSheet(*chart->Sheet));  // its AI cache: ChartRecords

    const Bytes macro = Cat({SheetBof(0x40), Rec(0x55, {8, 0}), Rec(0x1234, {1, 2, 3}), WINDOW2, EOF_});
    auto plain = LoadSection(macro);
    EXPECT_TRUE(dynamic_cast<TKmrUnsupportedSheet*>(plain->Sheet.get()));
    EXPECT_EQ(SaveSheet(*plain->Sheet), macro);

    const struct {
        Bytes Records;
        int Width;
    } widths[] = {{Cat({Rec(0x55, {8, 0}), Rec(0x99, {0xC4, 9})}), 2500},
                  {Cat({Rec(0x99, {0xC4, 9}), Rec(0x55, {8, 0})}), 2500},
                  {Cat({Rec(0x99, {0xC4, 9}), Rec(0x55, {12, 0})}), 3516},
                  {Rec(0x225, {0, 0, 0x2C, 1}), 2930}};
    for (const auto& w : widths) {
        auto sheet = LoadSection(Cat({SheetBof(0x10), w.Records, WINDOW2, EOF_}));
        EXPECT_EQ(static_cast<TWorkSheet&>(*sheet->Sheet).DefColWidth(), w.Width);
    }
}

// S's embedded chart as a chart sheet of M, and its copy beside it: both
// open in LibreOffice as charts.
TEST(Sheets, ACopiedChartSheetOpensInLibreOffice) {
    const Bytes s = ReadStream(ReadFile(Fixture("sheets_s")), u"Workbook");
    std::size_t from = 0, to = 0, bofs = 0;
    for (const auto& r : ParseRecords(s)) {
        if (r.Id == 0x809 && ++bofs == 3) from = r.At;
        if (bofs == 3 && r.Id == 0x0A && !to) to = r.At + 4;
    }
    const Bytes chart(s.begin() + static_cast<std::ptrdiff_t>(from), s.begin() + static_cast<std::ptrdiff_t>(to));
    const std::string path = SaveWorkbook("sheets_m", [&](TWorkbook& book) {
        book.Globals().InsertSheets(0, 1, 2, u"Graf", 0x0200);
        book.Sheets().Add(LoadSheet(chart, book.Globals()));
        book.Sheets().Add(book.Sheet(1).CopyTo());
    });
    const auto fods = Lines(OleCheck("lofods", path));
    for (const std::string tag : {"<chart:chart ", "<chart:series "})
        EXPECT_EQ(std::count_if(fods.begin(), fods.end(), [&](const std::string& l) { return l.find(tag) != l.npos; }), 2)
            << tag;
    EXPECT_THAT(fods, ::testing::IsSupersetOf({::testing::HasSubstr("<table:table table:name=\"Graf\""),
                                               ::testing::HasSubstr("<table:table table:name=\"Graf1\"")}));
}

// Without setting records the getters give their defaults (those the
// interface shows: XLSFileSettings) and the setters write nothing; on the
// template the setters change the records they find and insert zoom,
// margins and printer settings once (their values as LibreOffice reads
// them: settings_check.py).
TEST(Sheets, SettingsWithAndWithoutTheirRecords) {
    auto bare = LoadSection(Cat({SheetBof(0x10), EOF_}));
    TSheet& b = *bare->Sheet;
    const Bytes before = SaveSheet(b);
    EXPECT_EQ(std::make_tuple(b.GetSelected(), b.GetWindow2Frozen(), b.GetPrintXResolution(), b.GetOutlineAutomaticStyles()),
              std::make_tuple(false, true, 600, false));
    EXPECT_EQ(b.GetMargins(), (TXlsMargins{0.7480314960629921, 0.984251968503937, 0.7480314960629921,
                                           0.984251968503937, 0, 0}));
    b.SetSelected(true);
    b.SetPrintScale(50);
    b.SetSheetZoom(75);  // no tail list to take an SCL
    b.SetPageHeader(u"x");
    b.FreezePanes(2, 2);
    EXPECT_EQ(SaveSheet(b), before);

    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals, globals.SST());
    const Bytes empty = SaveSheet(sheet);
    sheet.SetSheetZoom(75);
    TXlsMargins margins{1, 2, 3, 4, 0.5, 0.25};
    sheet.SetMargins(margins);
    margins.Left = 1.5;
    sheet.SetMargins(margins);
    sheet.SetPageHeader(u"&CHlavička");
    EXPECT_EQ(MessageOf([&] { sheet.SetPrintCopies(70000); }),
              "The index \"70000\" of the property \"PrintCopies\" is not in the range 0-65535");
    sheet.SetPrinterDriverSettings({0, {1, 2, 3}});
    sheet.SetPrinterDriverSettings({0, {4, 5}});
    EXPECT_EQ(sheet.GetPrinterDriverSettings(), (TPrinterDriverSettings{0, {4, 5}}));
    // Margins once each after VCENTER, one PLS before SETUP, SCL behind WINDOW2.
    std::vector<std::uint16_t> ids;
    for (const auto& r : ParseRecords(SaveSheet(sheet))) ids.push_back(r.Id);
    std::erase_if(ids, [](auto id) { return (id < 0x26 || id > 0x29) && id != 0x84 && id != 0x4D && id != 0xA1 &&
                                            id != 0x23E && id != 0xA0 && id != 0x1D; });
    EXPECT_EQ(ids, (std::vector<std::uint16_t>{0x84, 0x26, 0x27, 0x28, 0x29, 0x4D, 0xA1, 0x23E, 0xA0, 0x1D}));
    sheet.SetPrinterDriverSettings({});
    EXPECT_EQ(sheet.GetPrinterDriverSettings(), TPrinterDriverSettings{});
    // A row format reaches the row's cells (row heights and hiding: XLSFileOps).
    sheet.Cells().CellList().SetValueX2(2, 1, {TVariant(1.5), -1, false}, {}, false);
    sheet.SetRowFormat(2, 20);
    EXPECT_EQ(sheet.Cells().CellList().FindCell(2, 1)->GetXF(), 20);
    sheet.SetPrinterDriverSettings({0, {6}});
    sheet.FreezePanes(1, 1);
    sheet.ClearValues();  // PANE, SCL and PLS forgotten with their records
    EXPECT_EQ(SaveSheet(sheet), empty);
    EXPECT_EQ(std::make_tuple(sheet.GetSheetZoom(), sheet.GetFrozenPanes(), sheet.GetPrinterDriverSettings()),
              std::make_tuple(100, std::make_pair(0, 0), TPrinterDriverSettings{}));
}

// Both getters give their own order; unfreezing removes the pane and both
// flags (frozen rows as other programs read them: XLSFileSettings).
TEST(Sheets, PanesFreezeSplitAndGo) {
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals, globals.SST());
    const Bytes empty = SaveSheet(sheet);
    sheet.SplitWindow(2, 5);
    EXPECT_EQ(sheet.GetSplitWindow(), std::make_pair(2, 5));
    EXPECT_EQ(sheet.GetFrozenPanes(), std::make_pair(0, 0));
    sheet.FreezePanes(0, 4);
    EXPECT_EQ(sheet.GetFrozenPanes(), std::make_pair(0, 4));
    sheet.FreezePanes(0, 0);
    EXPECT_EQ(SaveSheet(sheet), empty);
}

// A sheet copy takes the drawing along; a refused change of rows and
// columns leaves the sheet as it was.
TEST(Sheets, DrawingCopiesAndRefusedChangesLeaveNothingHalfDone) {
    booktest::RoundTrip(Fixture("sheets_m"), [&](TWorkbook& book) {
        TSheet& sheet = book.Sheet(0);
        auto copy = sheet.CopyTo();  // the drawing comes along
        EXPECT_EQ(ParseRecords(SaveSheet(*copy)).size(), ParseRecords(SaveSheet(sheet)).size());
    });

    // Rows and columns at once: the refused columns leave the rows too.
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals, globals.SST());
    // An array member pointing at A1: it follows the rows, but has no error
    // form when its column goes.
    const std::uint8_t memberOfA1[] = {0x01, 0, 0, 0, 0};
    sheet.Cells().CellList().AssignFormulaX(0, 5, memberOfA1, TVariant(1.0), false);
    sheet.Cells().CellList().SetValueX2(12, 0, {TVariant(2.0), -1, false}, {}, false);
    const Bytes before = SaveSheet(sheet);
    EXPECT_THAT(MessageOf([&] { sheet.DeleteRowsAndCols(10, 1, 0, 1, globals.SheetInfo(0, 0)); }),
                "Formula at Row 0, column 5 is not supported. Token Id: 0x 1");
    EXPECT_EQ(SaveSheet(sheet), before);
}

// Refused sections stop the load and leave the sheet empty (records out of
// place: RecordFactory.PlacementRules; deep chart nesting:
// NestedBlocksAreCountedNotRecursed).
TEST(Sheets, BadSectionsAreRefused) {
    const struct {
        Bytes Body;
        std::string Message;
    } cases[] = {
        {SheetBof(0x10), "Error reading Excel records. File invalid"},
        {Cat({WINDOW2, Rec(0x41, Bytes(9, 0))}), "Record with ID 0x41 is invalid"},
        {Rec(0x200, Bytes(12, 0)), "Record with ID 0x200 is invalid"},
        {Cat({Rec(0x1B8, Bytes(32, 0)), Rec(0x800, Bytes(11, 0))}), "Record with ID 0x800 is invalid"},
    };
    for (const auto& c : cases) {
        TWorkbookGlobals globals;
        TWorkSheet sheet(&globals);
        EXPECT_EQ(LoadInto(sheet, c.Body), c.Message);
        EXPECT_EQ(MessageOf([&] { SaveSheet(sheet); }), "A section of the workbook is not loaded");
    }
}
