// Column settings, outlines and page breaks: the LibreOffice workbook
// layout.xls (values in A1:H30; widths, B hidden, F-G and rows 6-7
// grouped, breaks below row 4 and right of column 2) saved after changes
// and read by xlrd and LibreOffice; the lists and records on their own.
#include <gmock/gmock.h>

#include "tests/workbook/book/GlobalsStreams.h"

using namespace kalmira;
using namespace ole2test;
using ::testing::ElementsAre;
using TLines = std::vector<std::string>;

namespace {

const std::string Layout = Fixture("layout");

// The records of one id the sheet writes (all for 0), at the size it computed.
std::vector<TRec> RecordsOf(TSheet& sheet, std::uint16_t id) {
    std::vector<TRec> out;
    for (const TRec& r : ParseRecords(SaveSheet(sheet)))
        if (r.Id == id || id == 0) out.push_back(r);
    return out;
}

TLines Join(TLines lines, const TLines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

}  // namespace

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

// Short records stop the load; a file's 1,371 breaks load but cannot be
// saved, 1,370 can; columns read past 256 are dropped.
TEST(Layout, BadRecordsAndTooManyBreaks) {
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals);
    EXPECT_EQ(LoadInto(sheet, Rec(xlr_HPAGEBREAKS, {2, 0, 1, 0, 0, 0, 255, 0})), "Record with ID 0x1B is invalid");
    EXPECT_EQ(LoadInto(sheet, Rec(xlr_VPAGEBREAKS, {1})), "Record with ID 0x1A is invalid");
    EXPECT_EQ(LoadInto(sheet, Rec(xlr_COLINFO, Bytes(9, 0))), "Record with ID 0x7D is invalid");
    EXPECT_EQ(LoadInto(sheet, Rec(xlr_GUTS, Bytes(7, 0))), "Record with ID 0x80 is invalid");

    Bytes breaks{0x5B, 5};  // 1371 breaks below rows 0-1370
    for (int i = 0; i < 1371; ++i) breaks.insert(breaks.end(), {std::uint8_t(i), std::uint8_t(i >> 8), 0, 0, 255, 0});
    ASSERT_EQ(LoadInto(sheet, Rec(xlr_HPAGEBREAKS, breaks)), "no exception");
    EXPECT_EQ(MessageOf([&] { RecordsOf(sheet, 0); }), "Too many manual Page breaks for this sheet");
    sheet.DeleteHPageBreak(0);
    EXPECT_EQ(RecordsOf(sheet, xlr_HPAGEBREAKS).at(0).Data.size(), 2u + 6 * 1370);

    ASSERT_EQ(LoadInto(sheet, Rec(xlr_COLINFO, {250, 0, 0xFF, 0xFF, 0, 1, 15, 0, 0, 0, 0, 0})), "no exception");
    EXPECT_EQ(sheet.ColInfo().Count(), 7u);
    EXPECT_EQ(RecordsOf(sheet, xlr_COLINFO).at(0).Data, (Bytes{250, 0, 0, 1, 0, 1, 15, 0, 0, 0, 0, 0}));
}
