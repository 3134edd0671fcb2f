// Column settings, outlines and page breaks: the LibreOffice workbook
// layout.xls (values in A1:H30; widths, B hidden, F-G and rows 6-7
// grouped, breaks below row 4 and right of column 2) saved after changes
// and read by xlrd and LibreOffice; the lists and records on their own.
#include <gmock/gmock.h>

#include "tests/workbook/book/WorkbookFiles.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/Uxlssheet.h"

using namespace kalmira;
using namespace ole2test;
using ::testing::ElementsAre;
using TLines = std::vector<std::string>;

namespace {

const std::string Layout = Fixture("layout");
std::string SaveLayout(const std::string& name, const std::function<void(TWorkbook&)>& change,
                       const std::string& from = Layout) {
    return booktest::SavedFile(from, change, name);
}

// The records of one id the sheet writes, at the size it computed.
std::vector<TRec> RecordsOf(TSheet& sheet, std::uint16_t id) {
    sheet.FixRows();
    const std::int64_t size = sheet.FixTotalSize(false);
    const Bytes bytes = Written([&](TOle2File& ole) { sheet.SaveToStream(ole); });
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), size);
    std::vector<TRec> out;
    for (const TRec& r : ParseRecords(bytes))
        if (r.Id == id || id == 0) out.push_back(r);
    return out;
}

TLines Join(TLines lines, const TLines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

}  // namespace

// As read: one COLINFO for the run 7-256, GUTS kept; a copied sheet writes
// the same layout records.
TEST(Layout, RoundTripKeepsWidthsOutlinesAndBreaks) {
    std::vector<TRec> colInfo, guts;
    booktest::RoundTrip(Layout, [&](TWorkbook& book) {
        TWorkSheet& sheet = book.WorkSheets(0);
        colInfo = RecordsOf(sheet, xlr_COLINFO);
        guts = RecordsOf(sheet, xlr_GUTS);
        auto copy = sheet.CopyTo();
        for (std::uint16_t id : {xlr_HPAGEBREAKS, xlr_VPAGEBREAKS, xlr_COLINFO, xlr_GUTS})
            EXPECT_EQ(RecordsOf(*copy, id), RecordsOf(sheet, id)) << id;
    });
    ASSERT_EQ(colInfo.size(), 7u);
    EXPECT_EQ(Bytes(colInfo[6].Data.begin(), colInfo[6].Data.begin() + 4), (Bytes{7, 0, 0, 1}));
    ASSERT_EQ(guts.size(), 1u);
    EXPECT_EQ(guts[0].Data, (Bytes{0x1D, 0, 0x1D, 0, 2, 0, 2, 0}));
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
    for (const auto& c : cases) EXPECT_EQ(Lines(OleCheck("layout", SaveLayout(c.Name, c.Change))), c.Read) << c.Name;
}

// Widths, hidden and shown columns, a column format new cells take, outline
// levels with their GUTS, and breaks, set on the sheet (the breaks added
// through the workbook); a new sheet gets its GUTS before DEFAULTROWHEIGHT.
TEST(Layout, SettingsSetOnTheSheet) {
    int newCellXF = -1;
    std::vector<TRec> guts;
    const std::string saved = SaveLayout("set", [&](TWorkbook& b) {
        TWorkSheet& s = b.WorkSheets(0);
        s.SetColWidth(4, 5000);
        s.SetColHidden(3, true);
        s.SetColHidden(1, false);
        s.SetColWidth(8, 0);
        s.SetColHidden(8, true);
        s.SetColHidden(8, false);
        s.SetColFormat(0, 20);
        s.Cells().CellList().SetValueX2(40, 0, {TVariant(1.0), -1, false}, {}, false);
        newCellXF = s.Cells().CellList().FindCell(40, 0)->GetXF();
        s.SetColOutlineLevel(9, 2);
        s.SetRowOutlineLevel(20, 3);
        b.InsertHPageBreak(0, 10);
        b.InsertVPageBreak(0, 5);
        s.DeleteHPageBreak(4);
        guts = RecordsOf(s, xlr_GUTS);
    });
    EXPECT_EQ(newCellXF, 20);
    EXPECT_EQ(guts.at(0).Data, (Bytes{0x41, 0, 0x35, 0, 4, 0, 3, 0}));
    EXPECT_EQ(Lines(OleCheck("layout", saved)),
              (TLines{"col 0-0 3429 0 0", "col 1-1 2286 0 0", "col 2-2 4572 0 0", "col 3-3 1714 1 0", "col 4-4 5000 0 0",
                      "col 5-6 1714 0 1", "col 7-7 2581 0 0", "col 8-8 2344 0 0", "col 9-9 2581 0 2",
                      "col 10-255 2581 0 0", "row 5 1 0", "row 6 1 0", "row 20 3 0", "hbreak 10", "vbreak 2",
                      "vbreak 5"}));

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
// the save is the plain one.
TEST(Layout, BadValuesChangeNothing) {
    TLines messages;
    const std::string saved = SaveLayout("refused", [&](TWorkbook& b) {
        TWorkSheet& s = b.WorkSheets(0);
        for (const auto& change : std::vector<std::function<void()>>{
                 [&] { s.SetColWidth(1, 70000); }, [&] { s.SetColOutlineLevel(2, 9); },
                 [&] { s.SetColOutlineLevel(2, 16); }, [&] { s.SetColFormat(1, 5000); },
                 [&] { b.InsertHPageBreak(0, 70000); }, [&] { s.InsertVPageBreak(256); },
                 [&] { b.InsertVPageBreak(b.SheetCount(), 1); }})
            messages.push_back(MessageOf(change));
        s.SetColHidden(300, true);
        s.DeleteHPageBreak(70000);
    });
    EXPECT_THAT(messages, ElementsAre(R"(The index "70000" of the property "ColumnWidth" is not in the range 0-65535)",
                                      R"(The index "9" of the property "OutlineLevel" is not in the range 0-7)",
                                      R"(The index "16" of the property "OutlineLevel" is not in the range 0-7)",
                                      ::testing::StartsWith(R"(The index "5000" of the property "XF" is not in the range 0-)"),
                                      "Invalid Row (70000)", "Invalid Column (256)",
                                      ::testing::StartsWith("Sheet number \"")));
    EXPECT_EQ(ReadFile(saved), ReadFile(SaveLayout("unrefused", nullptr)));
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

namespace {

// A worksheet section of the record; the load's message.
std::string LoadSection(TWorkSheet& sheet, const Bytes& body) {
    TStreamFile f(Cat({Rec(0x809, {0, 6, 0x10, 0, 0xBB, 0x0D, 0xCC, 7, 0, 0, 0, 0, 6, 0, 0, 0}), body, Rec(0x0A, {})}));
    auto header = f.FirstHeader();
    std::unique_ptr<TBOFRecord> bof(static_cast<TBOFRecord*>(LoadRecords(f.Ole, header).release()));
    return MessageOf([&] { sheet.LoadFromStream(f.Ole, header, std::move(bof), sheet.Globals()->SST()); });
}

}  // namespace

// Short records stop the load; a file's 1,371 breaks load but cannot be
// saved, 1,370 can; columns read past 256 are dropped.
TEST(Layout, BadRecordsAndTooManyBreaks) {
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals);
    EXPECT_EQ(LoadSection(sheet, Rec(xlr_HPAGEBREAKS, {2, 0, 1, 0, 0, 0, 255, 0})), "Record with ID 0x1B is invalid");
    EXPECT_EQ(LoadSection(sheet, Rec(xlr_VPAGEBREAKS, {1})), "Record with ID 0x1A is invalid");
    EXPECT_EQ(LoadSection(sheet, Rec(xlr_COLINFO, Bytes(9, 0))), "Record with ID 0x7D is invalid");
    EXPECT_EQ(LoadSection(sheet, Rec(xlr_GUTS, Bytes(7, 0))), "Record with ID 0x80 is invalid");

    Bytes breaks{0x5B, 5};  // 1371 breaks below rows 0-1370
    for (int i = 0; i < 1371; ++i) breaks.insert(breaks.end(), {std::uint8_t(i), std::uint8_t(i >> 8), 0, 0, 255, 0});
    ASSERT_EQ(LoadSection(sheet, Rec(xlr_HPAGEBREAKS, breaks)), "no exception");
    EXPECT_EQ(MessageOf([&] { RecordsOf(sheet, 0); }), "Too many manual Page breaks for this sheet");
    sheet.DeleteHPageBreak(0);
    EXPECT_EQ(RecordsOf(sheet, xlr_HPAGEBREAKS).at(0).Data.size(), 2u + 6 * 1370);

    ASSERT_EQ(LoadSection(sheet, Rec(xlr_COLINFO, {250, 0, 0xFF, 0xFF, 0, 1, 15, 0, 0, 0, 0, 0})), "no exception");
    EXPECT_EQ(sheet.ColInfo().Count(), 7u);
    EXPECT_EQ(RecordsOf(sheet, xlr_COLINFO).at(0).Data, (Bytes{250, 0, 0, 1, 0, 1, 15, 0, 0, 0, 0, 0}));
}
