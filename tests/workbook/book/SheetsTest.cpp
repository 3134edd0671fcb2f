// Sheets through hand-built sections, the template and the LibreOffice
// workbooks S (page breaks, merges, conditional format, hyperlink, note,
// picture, embedded chart), V (values, formulas) and M (one merge).
// Column settings, outlines and page breaks: the LibreOffice workbook
// layout.xls (values in A1:H30; widths, B hidden, F-G and rows 6-7
// grouped, breaks below row 4 and right of column 2) saved after changes
// and read by xlrd and LibreOffice; the lists and records on their own.
#include <gmock/gmock.h>

#include "tests/workbook/book/GlobalsStreams.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlssheet.h"

using namespace kalmira;
using namespace ole2test;
using ::testing::ElementsAre;
using TLines = std::vector<std::string>;

namespace {

// The section of a stream whose first record is its BOF, in the class its BOF names.
std::unique_ptr<TSheet> LoadSheet(const Bytes& stream, TWorkbookGlobals& globals) {
    TStreamFile f(stream);
    std::unique_ptr<TBOFRecord> bof(static_cast<TBOFRecord*>(f.Next().release()));
    auto sheet = NewSheetOfType(&globals, bof->GetBOFType());
    sheet->LoadFromStream(f.Ole, f.Header, std::move(bof), globals.SST());
    return sheet;
}

const std::string Layout = Fixture("layout");

// The records of one id the sheet writes (all for 0), at the size it computed.
std::vector<TRec> RecordsOf(TSheet& sheet, std::uint16_t id) { return RecordsWithId(SaveSheet(sheet), id); }

TLines Join(TLines lines, const TLines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

}  // namespace

// A chart sheet and a macro sheet come back byte for byte (less the chart
// font basis, an index record); a copied chart sheet writes the same
// bytes. The default column width follows DEFCOLWIDTH and STANDARDWIDTH in
// either order.
TEST(Sheets, HandBuiltSectionsComeBackAsRead) {
    TWorkbookGlobals globals;
    const Bytes ai = Rec(0x1051, {1, 2, 0, 0, 0, 0, 3, 0, 0x24, 1, 0});
    const Bytes chartBody = Cat({Rec(0x1002, {1}), Rec(0x1033, {}), Rec(0x1033, {}), ai, Rec(0x1034, {}),
                                 Rec(0x1034, {}), Rec(0xA0, {3, 0, 4, 0})});
    auto chart = LoadSheet(Cat({SheetBof(0x20), Rec(0x1060, {0, 0}), chartBody, EOF_}), globals);
    EXPECT_EQ(SaveSheet(*chart), Cat({SheetBof(0x20), chartBody, EOF_}));
    EXPECT_EQ(SaveSheet(*chart->CopyTo()), SaveSheet(*chart));  // its AI cache: ChartRecords

    const Bytes macro = Cat({SheetBof(0x40), Rec(0x55, {8, 0}), Rec(0x1234, {1, 2, 3}), WINDOW2, EOF_});
    auto plain = LoadSheet(macro, globals);
    EXPECT_TRUE(dynamic_cast<TKmrUnsupportedSheet*>(plain.get()));
    EXPECT_EQ(SaveSheet(*plain), macro);

    const struct {
        Bytes Records;
        int Width;
    } widths[] = {{Cat({Rec(0x55, {8, 0}), Rec(0x99, {0xC4, 9})}), 2500},
                  {Cat({Rec(0x99, {0xC4, 9}), Rec(0x55, {8, 0})}), 2500},
                  {Cat({Rec(0x99, {0xC4, 9}), Rec(0x55, {12, 0})}), 3516},
                  {Rec(0x225, {0, 0, 0x2C, 1}), 2930}};
    for (const auto& w : widths) {
        auto sheet = LoadSheet(Cat({SheetBof(0x10), w.Records, WINDOW2, EOF_}), globals);
        EXPECT_EQ(static_cast<TWorkSheet&>(*sheet).DefColWidth(), w.Width);
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

// Without setting records the getters give their defaults and the setters
// write nothing; on the template the setters change the records they find and insert zoom,
// margins and printer settings once (their values as LibreOffice reads
// them: settings_check.py).
TEST(Sheets, SettingsWithAndWithoutTheirRecords) {
    TWorkbookGlobals globals;
    auto bare = LoadSheet(Cat({SheetBof(0x10), EOF_}), globals);
    TSheet& b = *bare;
    const Bytes before = SaveSheet(b);
    EXPECT_EQ(std::make_tuple(b.GetSelected(), b.GetShowGridLines(), b.GetPrintGridLines(), b.GetIsR1C1(),
                              b.GetSheetZoom(), b.GetWindow2Frozen(), b.GetPrintScale(), b.GetPrintCopies(),
                              b.GetPrintPaperSize(), b.GetPrintXResolution(), b.GetOutlineSummaryRowsBelowDetail(),
                              b.GetOutlineAutomaticStyles()),
              std::make_tuple(false, true, true, false, 100, true, 100, 1, 1, 600, true, false));
    EXPECT_EQ(b.GetMargins(), (TXlsMargins{0.7480314960629921, 0.984251968503937, 0.7480314960629921,
                                           0.984251968503937, 0, 0}));
    b.SetSelected(true);
    b.SetPrintScale(50);
    b.SetSheetZoom(75);  // no tail list to take an SCL
    b.SetPageHeader(u"x");
    b.FreezePanes(2, 2);
    EXPECT_EQ(SaveSheet(b), before);

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

// A refused change of rows and columns leaves the sheet as it was (a
// sheet copy with its drawing: drawing_check.py).
TEST(Sheets, RefusedChangesLeaveNothingHalfDone) {
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
        {Rec(0x4BC, Bytes(10, 0)), "Error reading Excel records. File invalid"},
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

// Members of shared formulas take their tokens whether the SHRFMLA comes
// right behind the group's first cell (as LibreOffice writes it) or after
// all its cells; of two SHRFMLA for one cell the first counts. Tokens a
// member refuses refuse the sheet with its first such cell's message,
// wherever the SHRFMLA comes.
TEST(Sheets, SharedFormulasExpandWhereverTheirRecordComes) {
    const auto b = [](int value) { return static_cast<std::uint8_t>(value); };
    const auto formula = [&](int row, int col, int firstRow, int firstCol) {
        return Rec(0x06, {b(row), 0, b(col), 0, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0, 0, 0, 0, 0, 5, 0, 0x01,
                          b(firstRow), 0, b(firstCol), 0});
    };
    // Rows first to last of the column: the cell on the left times factor.
    const auto shared = [&](int first, int last, int col, int factor) {
        return Rec(0x4BC, {b(first), 0, b(last), 0, b(col), b(col), 0, 10, 9, 0, 0x4C, 0, 0, 0xFF, 0xC0, 0x1E,
                           b(factor), 0, 0x05});
    };
    const Bytes body = Cat({formula(0, 1, 0, 1), shared(0, 2, 1, 2), shared(0, 2, 1, 3), formula(1, 1, 0, 1),
                            formula(2, 1, 0, 1), formula(0, 3, 0, 3), formula(1, 3, 0, 3), shared(0, 1, 3, 4)});
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals);
    ASSERT_EQ(LoadInto(sheet, body), "no exception");
    const std::pair<std::array<int, 2>, std::u16string> expected[] = {
        {{0, 1}, u"=A1*2"}, {{1, 1}, u"=A2*2"}, {{2, 1}, u"=A3*2"}, {{0, 3}, u"=C1*4"}, {{1, 3}, u"=C2*4"}};
    for (const auto& [cell, text] : expected)
        EXPECT_EQ(sheet.Cells().CellList().GetFormula(cell[0], cell[1]), text) << cell[0] << "," << cell[1];
    // The rows' sizes followed the members that grew.
    const std::int64_t size = sheet.TotalSize();
    TWorkSheet again(&globals);
    const Bytes saved = SaveSheet(sheet);
    EXPECT_EQ(size, static_cast<std::int64_t>(saved.size()));
    ASSERT_EQ(LoadInto(again, Bytes(saved.begin() + 20, saved.end() - 4)), "no exception");
    EXPECT_EQ(SaveSheet(again), saved);

    const Bytes refused = Rec(0x4BC, {0, 0, 2, 0, 1, 1, 0, 10, 8, 0, 0x4C, 0, 0, 0xFF, 0xC0, 0x26, 0, 0});
    for (const Bytes& bad : {Cat({formula(0, 1, 0, 1), refused, formula(1, 1, 0, 1)}),
                             Cat({formula(0, 1, 0, 1), formula(1, 1, 0, 1), refused})}) {
        TWorkSheet refusing(&globals);
        EXPECT_EQ(LoadInto(refusing, bad), "Formula at Row 0, column 1 is not supported. Token Id: 0x26");
    }
}

// A copied sheet writes the same layout records (as read, they come back
// unchanged: roundtrip_check.py).
TEST(Layout, ACopiedSheetKeepsWidthsOutlinesAndBreaks) {
    booktest::RoundTrip(Layout, [&](TWorkbook& book) {
        TWorkSheet& sheet = book.WorkSheets(0);
        auto copy = sheet.CopyTo();
        for (std::uint16_t id : {xlr_HPAGEBREAKS, xlr_VPAGEBREAKS, xlr_COLINFO, xlr_GUTS})
            EXPECT_EQ(RecordsOf(*copy, id), RecordsOf(sheet, id)) << id;
    });
}

// Rows and columns deleted and copied: the settings and breaks follow.
TEST(Layout, SettingsFollowRowAndColumnChanges) {
    const TLines plainToE = {"col 0-0 3429 0 0", "col 1-1 2286 1 0", "col 2-2 4572 0 0", "col 3-3 1714 0 0",
                             "col 4-4 2581 0 0"};
    const struct {
        const char* Name;
        std::function<void(TWorkbook&)> Change;
        TLines Read;
    } cases[] = {
        {"deleteB", [](TWorkbook& b) { b.DeleteRowsAndCols(0, 0, 0, 1, 1); },
         {"col 0-0 3429 0 0", "col 1-1 4572 0 0", "col 2-2 1714 0 0", "col 3-3 2581 0 0", "col 4-5 1714 0 1",
          "col 6-255 2581 0 0", "row 5 1 0", "row 6 1 0", "hbreak 4", "vbreak 1"}},
        {"copyCD", [](TWorkbook& b) { b.InsertAndCopyRowsAndCols(0, 0, 0, 0, 0, 2, 3, 10, 2, false); },
         Join(plainToE, {"col 5-6 1714 0 1", "col 7-9 2581 0 0", "col 10-10 4572 0 0", "col 11-11 1714 0 0",
                         "col 12-12 4572 0 0", "col 13-13 1714 0 0", "col 14-255 2581 0 0", "row 5 1 0", "row 6 1 0",
                         "hbreak 4", "vbreak 2"})},
        {"copyRows", [](TWorkbook& b) { b.InsertAndCopyRowsAndCols(0, 0, 1, 2, 3, 0, 0, 0, 0, false); },
         Join(plainToE, {"col 5-6 1714 0 1", "col 7-255 2581 0 0", "row 11 1 0", "row 12 1 0", "hbreak 10", "vbreak 2"})},
    };
    for (const auto& c : cases) EXPECT_EQ(Lines(OleCheck("layout", booktest::SavedFile(Layout, c.Change, c.Name))), c.Read) << c.Name;
}

// A column format new cells take, a zero-width column shown again, outline
// levels with their GUTS, a break deleted; a new sheet gets its GUTS before
// DEFAULTROWHEIGHT (widths, hiding, levels and breaks as other programs read
// them: XLSFileRangeOps.ColumnsOutlinesAndBreaks).
TEST(Layout, SettingsSetOnTheSheet) {
    booktest::RoundTrip(Layout, [&](TWorkbook& b) {
        TWorkSheet& s = b.WorkSheets(0);
        s.SetColWidth(8, 0);
        s.SetColHidden(8, true);
        s.SetColHidden(8, false);
        EXPECT_EQ(s.GetColWidth(8, true), 2344);
        s.SetColFormat(0, 20);
        s.Cells().CellList().SetValueX2(40, 0, {TVariant(1.0), -1, false}, {}, false);
        EXPECT_EQ(s.Cells().CellList().FindCell(40, 0)->GetXF(), 20);
        s.SetColOutlineLevel(9, 2);
        s.SetRowOutlineLevel(20, 3);
        s.DeleteHPageBreak(4);
        EXPECT_FALSE(s.HasHPageBreak(4));
        EXPECT_EQ(RecordsOf(s, xlr_GUTS).at(0).Data, (Bytes{0x41, 0, 0x35, 0, 4, 0, 3, 0}));
    });

    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals, globals.SST());
    sheet.SetRowOutlineLevel(1, 2);
    const auto records = RecordsOf(sheet, 0);
    const auto at = std::find_if(records.begin(), records.end(), [](const TRec& r) { return r.Id == xlr_GUTS; });
    ASSERT_NE(at, records.end());
    EXPECT_EQ(at->Data, (Bytes{0x35, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(std::next(at)->Id, xlr_DEFAULTROWHEIGHT);
}

// Values out of range are refused with their message and change nothing:
// the save is the plain one (the width, a row level, the format and a row
// break: XLSFileRangeOps.ColumnsOutlinesAndBreaks).
TEST(Layout, BadValuesChangeNothing) {
    TLines messages;
    const Bytes saved = booktest::RoundTrip(Layout, [&](TWorkbook& b) {
        TWorkSheet& s = b.WorkSheets(0);
        for (const auto& change : std::vector<std::function<void()>>{
                 [&] { s.SetColOutlineLevel(2, 9); }, [&] { s.InsertVPageBreak(256); },
                 [&] { b.InsertVPageBreak(b.SheetCount(), 1); }})
            messages.push_back(MessageOf(change));
        s.DeleteHPageBreak(70000);
    });
    EXPECT_THAT(messages, ElementsAre(R"(The index "9" of the property "OutlineLevel" is not in the range 0-7)",
                                      "Invalid Column (256)", ::testing::StartsWith("Sheet number \"")));
    EXPECT_EQ(saved, booktest::RoundTrip(Layout, nullptr));
}

// Moves capped at the last position keep one break there; added breaks are
// limited, breaks read from a file only by what one record holds on save.
TEST(Layout, BreakListsMoveAndCount) {
    THPageBreakList list;
    for (int row : {4, 5, 9, 12, 65530, 65533}) list.AddBreak(row);
    list.InsertRows(5, 10);  // 4, 15, 19, 22, 65535 once
    list.DeleteRows(15, 5);
    std::vector<int> after;
    for (std::size_t i = 0; i < list.Count(); ++i) after.push_back(list.Position(i));
    EXPECT_EQ(after, (std::vector<int>{4, 17, 65530}));
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals, globals.SST());
    for (int row = 0; row < 1026; ++row) sheet.InsertHPageBreak(row);
    EXPECT_EQ(MessageOf([&] { sheet.InsertHPageBreak(2000); }), "Too many manual Page breaks for this sheet");
    EXPECT_FALSE(sheet.HasHPageBreak(2000));
}

// Short records stop the load, and a record over 8,224 bytes; a file's
// 1,371 breaks (in two records) load but cannot be saved, 1,370 can;
// columns read past 256 are dropped.
TEST(Layout, BadRecordsAndTooManyBreaks) {
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals);
    EXPECT_EQ(LoadInto(sheet, Rec(xlr_HPAGEBREAKS, {2, 0, 1, 0, 0, 0, 255, 0})), "Record with ID 0x1B is invalid");
    EXPECT_EQ(LoadInto(sheet, Rec(xlr_VPAGEBREAKS, {1})), "Record with ID 0x1A is invalid");
    EXPECT_EQ(LoadInto(sheet, Rec(xlr_COLINFO, Bytes(9, 0))), "Record with ID 0x7D is invalid");
    EXPECT_EQ(LoadInto(sheet, Rec(xlr_GUTS, Bytes(7, 0))), "Record with ID 0x80 is invalid");

    Bytes breaks{0x5B, 5};  // 1371 breaks below rows 0-1370: 8,228 bytes
    for (int i = 0; i < 1371; ++i) breaks.insert(breaks.end(), {std::uint8_t(i), std::uint8_t(i >> 8), 0, 0, 255, 0});
    EXPECT_EQ(LoadInto(sheet, Rec(xlr_HPAGEBREAKS, breaks)), "Record with ID 0x1B is invalid");
    Bytes first{0xBC, 2}, second{0x9F, 2};  // 700 and 671 of them
    first.insert(first.end(), breaks.begin() + 2, breaks.begin() + 2 + 6 * 700);
    second.insert(second.end(), breaks.begin() + 2 + 6 * 700, breaks.end());
    ASSERT_EQ(LoadInto(sheet, Cat({Rec(xlr_HPAGEBREAKS, first), Rec(xlr_HPAGEBREAKS, second)})), "no exception");
    EXPECT_EQ(MessageOf([&] { RecordsOf(sheet, 0); }), "Too many manual Page breaks for this sheet");
    sheet.DeleteHPageBreak(0);
    EXPECT_EQ(RecordsOf(sheet, xlr_HPAGEBREAKS).at(0).Data.size(), 2u + 6 * 1370);

    ASSERT_EQ(LoadInto(sheet, Rec(xlr_COLINFO, {250, 0, 0xFF, 0xFF, 0, 1, 15, 0, 0, 0, 0, 0})), "no exception");
    EXPECT_EQ(sheet.ColInfo().Count(), 7u);
    EXPECT_EQ(RecordsOf(sheet, xlr_COLINFO).at(0).Data, (Bytes{250, 0, 0, 1, 0, 1, 15, 0, 0, 0, 0, 0}));
}
