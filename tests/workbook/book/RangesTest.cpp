// Merged cells and conditional formats through the sheets, on the
// LibreOffice workbook "ranges" (Sheet1: 1..30 in A1:A30, merges B1:D1,
// B5:C6, B10:B12, E20:G20 each with a text at its corner, formats on A1:A10
// and E1:E65536; Sheet2: 1,100 merges A1:B1.., a format on C1:C5 comparing
// with $F$1) and on hand-built records; xlrd and LibreOffice read the saves.
// The hyperlinks of LibreOffice's workbook hlinks (a URL, a place in the
// workbook, two relative files, a share) read, written again, moved with
// their rows and columns, and read back by xlrd and LibreOffice.
#include <gmock/gmock.h>

#include "tests/workbook/book/GlobalsStreams.h"

using namespace kalmira;
using namespace ole2test;

namespace {

const std::string Ranges = Fixture("ranges");

// The counts of the MERGEDCELLS records written, in order.
std::vector<int> MergedRecords(const Bytes& stream) {
    std::vector<int> counts;
    for (const auto& r : RecordsWithId(stream, 0xE5)) counts.push_back(GetWord(r.Data, 0));
    return counts;
}

// Merges B1:D1, B5:C6, B10:B12, E20:G20; a format on E1:E65536 whose
// condition compares with $F$1.
const Bytes MERGES = Rec(0xE5, {4, 0, 0, 0, 0, 0, 1, 0, 3, 0, 4, 0, 5, 0, 1, 0, 2, 0,
                                9, 0, 11, 0, 1, 0, 1, 0, 19, 0, 19, 0, 4, 0, 6, 0});
Bytes CondFmt(std::uint8_t lastRow, std::uint8_t col) {
    return Rec(0x1B0, {1, 0, 1, 0, 0, 0, lastRow, 0xFF, col, 0, col, 0, 1, 0, 0, 0, lastRow, 0xFF, col, 0, col, 0});
}
Bytes Cf(std::uint8_t token, std::uint8_t col = 5) {
    return Rec(0x1B1, {1, 5, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, token, 0, 0, col, 0});
}

struct TLoaded {
    TWorkbookGlobals Globals;
    TWorkSheet Sheet{&Globals};
};

std::unique_ptr<TLoaded> LoadSection(const Bytes& body) {
    auto loaded = std::make_unique<TLoaded>();
    EXPECT_EQ(LoadInto(loaded->Sheet, Cat({body, WINDOW2})), "no exception");
    return loaded;
}

std::string Merged(const TSheet& sheet) {
    std::string text;
    for (int i = 0; i < sheet.CellMergedListCount(); ++i)
        for (int v : {sheet.CellMergedList(i).Top, sheet.CellMergedList(i).Left, sheet.CellMergedList(i).Bottom,
                      sheet.CellMergedList(i).Right})
            text += std::to_string(v) + " ";
    return text;
}

using HL = THyperLinkType;

std::vector<std::string> Links(const TWorkSheet& sheet) {
    std::vector<std::string> out;
    for (int i = 0; i < sheet.HyperLinkCount(); ++i) {
        const TXlsCellRange r = sheet.GetHyperLinkCellRange(i);
        std::string line;
        for (int n : {r.Top, r.Left, r.Bottom, r.Right}) line += std::to_string(n) + " ";
        out.push_back(line + Utf16ToUtf8(sheet.GetHyperLink(i).Description) + " " + Utf16ToUtf8(sheet.GetHyperLink(i).Hint));
    }
    return out;
}

}  // namespace

// Sheet2's 1,027 and 73 merges are written 513, 513, 1, 73; a copied sheet
// writes the same ranges.
TEST(Ranges, RoundTripSplitsMergesAndKeepsFormats) {
    const Bytes once = booktest::RoundTrip(Ranges, [](TWorkbook& book) {
        const Bytes sheet = SaveSheet(book.Sheet(1)), copy = SaveSheet(*book.Sheet(1).CopyTo());
        // 1,100 merges in four records, a format with one condition, EOF.
        const std::ptrdiff_t tail = 4 * 4 + 1100 * 8 + 4 * 2 + 26 + 31 + 4;
        EXPECT_EQ(Bytes(copy.end() - tail, copy.end()), Bytes(sheet.end() - tail, sheet.end()));
        EXPECT_EQ(sheet[sheet.size() - tail], 0xE5);
    });
    EXPECT_EQ(MergedRecords(ReadStream(once, u"Workbook")), (std::vector<int>{4, 513, 513, 1, 73}));
}

// Row changes on Sheet1, as xlrd and LibreOffice read them; each merge's
// corner keeps its text.
TEST(Ranges, RowsInsertedCopiedAndDeleted) {
    const struct {
        const char* Name;
        std::function<void(TSheet&, const TSheetInfo&)> Change;
        std::vector<std::string> Read;
    } cases[] = {
        {"insert2before6", [](TSheet& s, const TSheetInfo& i) { s.InsertAndCopyRowsAndCols(59, 59, 5, 2, 0, 0, 0, 0, i, false); },
         {"xlrd 1 merged B1:D1 B5:C8 B12:B14 E22:G22", "lo 1 cf A1:A12 5", "lo 1 cf E1:E65536 1 3"}},
        {"delete2to4", [](TSheet& s, const TSheetInfo& i) { s.DeleteRowsAndCols(1, 3, 0, 0, i); },
         {"xlrd 1 merged B1:D1 B2:C3 B7:B9 E17:G17", "lo 1 cf A1:A7 5", "lo 1 cf E1:E65536 1 3"}},
        {"delete12to15", [](TSheet& s, const TSheetInfo& i) { s.DeleteRowsAndCols(11, 4, 0, 0, i); },
         {"xlrd 1 merged B1:D1 B5:C6 B10:B11 E16:G16", "lo 1 cf A1:A10 5", "lo 1 cf E1:E65536 1 3"}},
        {"delete8to12", [](TSheet& s, const TSheetInfo& i) { s.DeleteRowsAndCols(7, 5, 0, 0, i); },
         {"xlrd 1 merged B1:D1 B5:C6 E15:G15", "lo 1 cf A1:A7 5", "lo 1 cf E1:E65536 1 3"}},
        {"copy1to10below", [](TSheet& s, const TSheetInfo& i) { s.InsertAndCopyRowsAndCols(0, 9, 10, 1, 0, 0, 0, 0, i, false); },
         {"xlrd 1 merged B1:D1 B5:C6 B10:B22 E30:G30", "lo 1 cf A1:A20 5", "lo 1 cf E1:E65536 1 3"}},
        {"copy1to6twice", [](TSheet& s, const TSheetInfo& i) { s.InsertAndCopyRowsAndCols(0, 5, 30, 2, 0, 0, 0, 0, i, false); },
         {"xlrd 1 merged B1:D1 B5:C6 B10:B12 E20:G20 B31:D31 B37:D37 B35:C36 B41:C42", "lo 1 cf A1:A10 A31:A42 5",
          "lo 1 cf E1:E65536 1 3"}},
    };
    for (const auto& c : cases) {
        const std::string path = booktest::SavedFile(Ranges, [&](TWorkbook& book) {
            c.Change(book.Sheet(0), book.Globals().SheetInfo(0, 0));
            const TWorkSheet& sheet = book.WorkSheets(0);
            for (int i = 0; i < sheet.CellMergedListCount(); ++i) {  // each corner keeps its text
                const TXlsCellRange r = sheet.CellMergedList(i);
                EXPECT_EQ(sheet.Cells().CellList().GetValue(r.Top, r.Left).VarType(), TVarType::String);
            }
        }, c.Name);
        EXPECT_THAT(Lines(OleCheck("ranges", path)), ::testing::IsSupersetOf(c.Read)) << c.Name;
    }
}

// Columns: a whole-column format follows, and goes with its column; a
// merge left one cell goes.
TEST(Ranges, ColumnsDeletedAndCopied) {
    const struct {
        int First, Count, Dest;  // Dest -1: delete
        std::string Merged;
        Bytes Formats;
    } cases[] = {
        {2, 1, -1, "0 1 0 2 4 1 5 1 9 1 11 1 19 3 19 5 ", Cat({CondFmt(0xFF, 3), Cf(0x44, 4)})},
        {2, 3, -1, "4 1 5 1 9 1 11 1 19 2 19 3 ",
         Rec(0xE5, {3, 0, 4, 0, 5, 0, 1, 0, 1, 0, 9, 0, 11, 0, 1, 0, 1, 0, 19, 0, 19, 0, 2, 0, 3, 0})},
        {1, 2, 7, "0 1 0 3 4 1 5 2 9 1 11 1 19 4 19 6 4 7 5 8 9 7 11 7 ", Cat({CondFmt(0xFF, 4), Cf(0x44)})},
    };
    for (const auto& c : cases) {
        auto loaded = LoadSection(Cat({MERGES, CondFmt(0xFF, 4), Cf(0x44)}));
        const TSheetInfo info = loaded->Globals.SheetInfo(0, 0);
        if (c.Dest < 0) loaded->Sheet.DeleteRowsAndCols(0, 0, c.First, c.Count, info);
        else loaded->Sheet.InsertAndCopyRowsAndCols(0, 0, 0, 0, c.First, c.First + c.Count - 1, c.Dest, 1, info, false);
        EXPECT_EQ(Merged(loaded->Sheet), c.Merged);
        const Bytes saved = SaveSheet(loaded->Sheet);
        EXPECT_EQ(Bytes(saved.end() - static_cast<std::ptrdiff_t>(c.Formats.size() + 4), saved.end() - 4), c.Formats);
    }
}

// Corners outside the sheet are refused; a range save writes the merges
// inside it, 513 a record (merging itself: XLSFileRangeOps.MergedCells).
TEST(Ranges, RangeSavesAndMergesAtTheSheetsEnd) {
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals, globals.SST());
    for (const auto& [row, col] : {std::pair{-1, 0}, {65536, 0}, {0, -1}, {0, 256}})
        EXPECT_EQ(MessageOf([&, row = row, col = col] { sheet.MergeCells(row, col, 0, 0); }),
                  row ? "Invalid Row (" + std::to_string(row) + ")" : "Invalid Column (" + std::to_string(col) + ")");
    EXPECT_EQ(sheet.CellMergedList(0), (TXlsCellRange{0, 0, 0, 0}));  // past the list: an empty range
    for (int row = 10; row < 610; ++row) sheet.MergeCells(row, 0, row, 1);
    for (const auto& [range, counts] : {std::pair{TXlsCellRange{0, 10, 255, 65535}, std::vector<int>{513, 87}},
                                        {TXlsCellRange{5, 0, 255, 65535}, std::vector<int>{}}}) {
        const Bytes bytes = Written([&, &range = range](TOle2File& ole) { sheet.SaveRangeToStream(ole, 0, range); });
        EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), sheet.TotalRangeSize(0, range));
        EXPECT_EQ(MergedRecords(bytes), counts);
    }
    sheet.MergeCells(65530, 0, 65535, 1);  // an end on the last row stays there
    sheet.AddHyperLink({2, 800, 3, 801}, {});  // the links move with the merges
    sheet.InsertAndCopyRowsAndCols(700, 700, 0, 1, 0, 0, 0, 0, globals.SheetInfo(0, 0), false);
    EXPECT_EQ(sheet.CellMergedBounds(65535, 0), (TXlsCellRange{0, 65531, 1, 65535}));
    EXPECT_EQ(sheet.CellMergedBounds(11, 1), (TXlsCellRange{0, 11, 1, 11}));
    sheet.DeleteRowsAndCols(0, 3, 0, 1, globals.SheetInfo(0, 0));
    EXPECT_EQ(sheet.CellMergedBounds(65535, 0), (TXlsCellRange{0, 65528, 0, 65535}));
    EXPECT_EQ(sheet.HyperLinkCount(), 1);
    EXPECT_EQ(sheet.GetHyperLinkCellRange(0), (TXlsCellRange{1, 798, 2, 799}));
}

// Refused changes and records leave the sheet (and the load) as they were.
TEST(Ranges, FaultsAndBadInput) {
    const Bytes low = Rec(0xE5, {1, 0, 0xF9, 0xFF, 0xFC, 0xFF, 0, 0, 1, 0});  // A65530:B65533
    const struct {
        Bytes Body;
        std::function<void(TSheet&, const TSheetInfo&)> Change;
        std::string Message;
    } refused[] = {
        {low, [](TSheet& s, const TSheetInfo& i) { s.InsertAndCopyRowsAndCols(100, 100, 0, 10, 0, 0, 0, 0, i, false); },
         "Too many entries for this kind of record (65539 out of a maximum of 65535)"},
        {Cat({CondFmt(0xFF, 4), Cf(0x26)}),
         [](TSheet& s, const TSheetInfo& i) { s.DeleteRowsAndCols(3, 1, 0, 0, i); },
         "Bad Conditional format. Token Id: 0x26"},
    };
    for (const auto& c : refused) {
        auto loaded = LoadSection(c.Body);
        loaded->Sheet.AddHyperLink({0, 5, 0, 5}, {});  // a link the change would move stays too
        const Bytes before = SaveSheet(loaded->Sheet);
        EXPECT_EQ(MessageOf([&] { c.Change(loaded->Sheet, loaded->Globals.SheetInfo(0, 0)); }), c.Message);
        EXPECT_EQ(SaveSheet(loaded->Sheet), before);
    }

    const struct {
        Bytes Body;
        std::string Message;
    } bad[] = {
        {Rec(0xE5, {1}), "Record with ID 0xE5 is invalid"},
        {Rec(0x1B0, Bytes(13, 0)), "Record with ID 0x1B0 is invalid"},
        {Rec(0x1B1, Bytes(5, 0)), "Record with ID 0x1B1 is invalid"},
        {Rec(0x1B1, {1, 5, 3, 0, 1, 0, 0, 0, 0}), "Record with ID 0x1B1 is invalid"},
        {Rec(0xE5, {2, 0, 1, 0, 2, 0, 1, 0, 2, 0}), "Error reading record"},
        {Cat({CondFmt(0xFF, 4), Rec(0x1B0, Bytes(14, 0))}), "Invalid conditional format record"},
    };
    for (const auto& c : bad) {
        TLoaded loaded;
        EXPECT_EQ(LoadInto(loaded.Sheet, Cat({c.Body, WINDOW2})), c.Message);
    }

    // Sheet2's format moves a row down with its absolute reference.
    const std::string path = booktest::SavedFile(Ranges, [](TWorkbook& book) {
        book.Sheet(1).InsertAndCopyRowsAndCols(2000, 2000, 0, 1, 0, 0, 0, 0, book.Globals().SheetInfo(1, 1), false);
    });
    EXPECT_THAT(Lines(OleCheck("ranges", path)), ::testing::Contains("lo 2 cf C2:C6 C2<$F$2"));
}

TEST(HyperLinks, LibreOfficeLinksReadWriteAndMove) {
    const std::string path = std::string(ORVELO_BINARY_DIR) + "/hlinks-moved.xls";
    WriteFile(path, booktest::RoundTrip(FixtureDir() + "/hlinks.xls", [](TWorkbook& book) {
        auto& sheet = book.WorkSheets(0);
        std::vector<THyperLink> links;
        std::vector<std::int64_t> sizes;
        for (int i = 0; i < sheet.HyperLinkCount(); ++i) {
            links.push_back(sheet.GetHyperLink(i));
            sheet.SetHyperLink(i, links.back());
            sizes.push_back(sheet.HyperLinks().GetItems(static_cast<std::size_t>(i))->TotalSize() - 4);
        }
        // Each link set as read (XLSFileRangeOps lists them): only the files'
        // Unicode extensions go, where 8 bits hold the path.
        EXPECT_EQ(sizes, (std::vector<std::int64_t>{124, 74, 110, 135, 116}));

        links[0].Hint = u"Tip";
        sheet.SetHyperLink(0, links[0]);
        const TSheetInfo info = book.Globals().SheetInfo(0, 0);
        sheet.InsertAndCopyRowsAndCols(20, 21, 1, 1, 0, 0, 0, 0, info, false);  // two empty rows before row 2
        sheet.InsertAndCopyRowsAndCols(3, 3, 12, 2, 0, 0, 0, 0, info, false);   // "Internal" twice at row 13
        sheet.AddHyperLink({2, 8, 1, 5}, {HL::hl_URL, u"Range", u"", u"", u"http://example.com/", u"Range"});
        sheet.AddHyperLink({1, 3, 1, 4}, {HL::hl_CurrentWorkbook, u"Ends", u"", u"A1", u"", u""});
        sheet.AddHyperLink({1, 4, 2, 5}, {HL::hl_CurrentWorkbook, u"Deleted", u"", u"A1", u"", u""});
        sheet.DeleteHyperLink(9);
        sheet.DeleteRowsAndCols(4, 2, 0, 0, info);  // File and Up go, Range and Ends shrink
        EXPECT_EQ(Links(dynamic_cast<TWorkSheet&>(*sheet.CopyTo())), Links(sheet));
    }));
    EXPECT_EQ(Lines(OleCheck("links", path)),
              (std::vector<std::string>{
                  "xlrd\tOdkazy\t0\t0\t0\t0\turl\thttp://example.com/a?b=c\tWeb link\tNone\tTip",
                  "xlrd\tOdkazy\t3\t3\t0\t0\tworkbook\tNone\tInternal\tData!B2\tNone",
                  "xlrd\tOdkazy\t4\t4\t0\t0\tlocal file\t\\\\srv\\share\\f.xls\tShare\tNone\tNone",
                  "xlrd\tOdkazy\t10\t10\t0\t0\tworkbook\tNone\tInternal\tData!B2\tNone",
                  "xlrd\tOdkazy\t11\t11\t0\t0\tworkbook\tNone\tInternal\tData!B2\tNone",
                  "xlrd\tOdkazy\t4\t6\t1\t2\turl\thttp://example.com/\tRange\tNone\tRange",
                  "xlrd\tOdkazy\t3\t3\t1\t1\tworkbook\tNone\tEnds\tA1\tNone",
                  "lo A1", "lo A4", "lo A5", "lo A11", "lo A12"}));
}

// Columns copied in move links right and copy those inside the copied
// columns; rows pushed past the sheet's end stop at its last row.
TEST(HyperLinks, ColumnsAndTheSheetsEnd) {
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals, globals.SST());
    const TSheetInfo info = globals.SheetInfo(0, 0);
    sheet.AddHyperLink({0, 0, 0, 0}, {HL::hl_URL, u"A1", u"", u"", u"http://a/", u"Tip"});
    sheet.AddHyperLink({2, 65534, 2, 65535}, {HL::hl_URL, u"End", u"", u"", u"http://b/", u""});
    sheet.InsertAndCopyRowsAndCols(0, 0, 0, 0, 0, 0, 0, 2, info, false);
    sheet.InsertAndCopyRowsAndCols(0, 2, 0, 1, 0, 0, 0, 0, info, false);
    EXPECT_EQ(Links(sheet), (std::vector<std::string>{"3 2 3 2 A1 Tip", "65535 4 65535 4 End ", "3 0 3 0 A1 Tip",
                                                      "3 1 3 1 A1 Tip", "0 2 0 2 A1 Tip", "0 0 0 0 A1 Tip",
                                                      "0 1 0 1 A1 Tip"}));
}

// A data validation as LibreOffice writes it: whole numbers at least $A$1
// on B5:B10 (four empty texts, formula 1 a ptgRef, formula 2 a dummy 0).
TEST(DataValidations, RangesAndReferencesFollowRowsAndColumns) {
    RegisterRangeRecords();
    const Bytes head = {0x02, 0x01, 0x60, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    auto dv = [&](const Bytes& ref, const Bytes& ranges) {
        return Cat({head, {5, 0, 0, 0, 0x44}, ref, {3, 0, 0, 0, 0x1E, 0, 0}, ranges});
    };
    const Bytes b5b10 = {1, 0, 4, 0, 9, 0, 1, 0, 1, 0};
    TSheetInfo info;
    info.InsSheet = info.FormulaSheet = 0;
    const struct {
        std::function<void(TDVRecord&)> Change;
        Bytes After;
    } cases[] = {
        // Three rows in at the top: B8:B13 on $A$4.
        {[&](TDVRecord& r) { r.ArrangeInsertRowsAndCols(0, 3, NoMovePosition, 0, info); },
         dv({3, 0, 0, 0}, {1, 0, 7, 0, 12, 0, 1, 0, 1, 0})},
        // A column in before B: C5:C10, $A$1 stays.
        {[&](TDVRecord& r) { r.InsertAndCopyRowsOrCols(255, 255, true, info, 1, 1); },
         dv({0, 0, 0, 0}, {1, 0, 4, 0, 9, 0, 2, 0, 2, 0})},
        // Rows 6..7 go: B5:B8.
        {[&](TDVRecord& r) { r.DeleteRowsOrCols(5, 2, info, false); }, dv({0, 0, 0, 0}, {1, 0, 4, 0, 7, 0, 1, 0, 1, 0})},
        // Row 1 goes: $A$1 is #REF! (ptgRefErr), the range moves up.
        {[&](TDVRecord& r) { r.DeleteRowsOrCols(0, 1, info, false); },
         Cat({head, {5, 0, 0, 0, 0x4A, 0, 0, 0, 0, 3, 0, 0, 0, 0x1E, 0, 0}, {1, 0, 3, 0, 8, 0, 1, 0, 1, 0}})},
        // Rows 5..10 copied below: the range grows over the copy.
        {[&](TDVRecord& r) { r.InsertAndCopyRowsOrCols(4, 9, false, info, 1, 10); },
         dv({0, 0, 0, 0}, {1, 0, 4, 0, 15, 0, 1, 0, 1, 0})},
        // Rows 5..10 go: no range left.
        {[&](TDVRecord& r) { r.DeleteRowsOrCols(4, 6, info, false); }, dv({0, 0, 0, 0}, {0, 0})},
    };
    for (const auto& c : cases) {
        auto record = LoadAs<TDVRecord>(xlr_DV, dv({0, 0, 0, 0}, b5b10));
        ASSERT_TRUE(record && record->Understood());
        c.Change(*record);
        EXPECT_EQ(record->Data, c.After) << &c - cases;
    }
    // Pushed off the sheet: refused, unchanged.
    auto record = LoadAs<TDVRecord>(xlr_DV, dv({0, 0, 0, 0}, b5b10));
    EXPECT_EQ(MessageOf([&] { record->ArrangeInsertRowsAndCols(0, 65530, NoMovePosition, 0, info); }),
              "Too many entries for this kind of record (65539 out of a maximum of 65535)");
    EXPECT_EQ(record->Data, dv({0, 0, 0, 0}, b5b10));
    // A layout that does not end with its ranges is kept as read.
    auto odd = LoadAs<TDVRecord>(xlr_DV, Cat({dv({0, 0, 0, 0}, b5b10), {0}}));
    EXPECT_FALSE(odd->Understood());
    odd->ArrangeInsertRowsAndCols(0, 3, NoMovePosition, 0, info);
    EXPECT_EQ(odd->Data, Cat({dv({0, 0, 0, 0}, b5b10), {0}}));

    // On a sheet's lists: a DV left without a range goes and DVAL counts one fewer.
    TBaseRecordList list;
    list.Add(Load(xlr_DVAL, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0}));
    list.Add(Load(xlr_DV, dv({0, 0, 0, 0}, b5b10)));
    list.Add(Load(xlr_DV, dv({0, 0, 0, 0}, {1, 0, 0, 0, 1, 0, 2, 0, 2, 0})));
    TValidationChange change({&list}, [&](TDVRecord& r) { r.DeleteRowsOrCols(4, 6, info, false); });
    EXPECT_EQ(list.Count(), 3u);  // nothing changes before the commit
    change.Commit();
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(GetLongWord(list.GetItems(0)->Data, 14), 1u);
    EXPECT_EQ(list.GetItems(1)->Data, dv({0, 0, 0, 0}, {1, 0, 0, 0, 1, 0, 2, 0, 2, 0}));
    EXPECT_EQ(list.GetTotalSize(), 4 + 18 + 4 + static_cast<std::int64_t>(list.GetItems(1)->Data.size()));
}
