// The external references through the globals: hand-built SUPBOOK,
// EXTERNNAME and EXTERNSHEET records (the LibreOffice workbooks' own entries
// after sheet changes: roundtrip_check.py). Formula text on the workbook's
// own references: workbook B (sheets Odecty, Skryty, Treti; no SUPBOOK)
// takes typed sheet references into its first sheet and names through the
// globals; xlrd and LibreOffice read the saved files.
#include <algorithm>
#include <array>

#include <gmock/gmock.h>

#include "tests/workbook/book/GlobalsStreams.h"
#include "tests/workbook/book/WorkbookFiles.h"
#include "workbook/cells/UXlsRowColEntries.h"

using namespace kalmira;
using namespace ole2test;

namespace {

using Entry = std::array<std::uint16_t, 3>;

// EXTERNSHEET data: the count, then supbook, first and last sheet each.
Bytes Entries(const std::vector<Entry>& entries) {
    Bytes data{static_cast<std::uint8_t>(entries.size()), static_cast<std::uint8_t>(entries.size() >> 8)};
    for (const Entry& e : entries)
        for (std::uint16_t v : e) data.insert(data.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    return data;
}

const Bytes LocalOf4 = Rec(0x1AE, {4, 0, 1, 4});
// One sheet "Data" of the book "\x01\x01C\x03dir\x03book.xls", then its name "Ext".
const Bytes External = Rec(0x1AE, {1, 0, 16, 0, 0, 1, 1, 'C', 3, 'd', 'i', 'r', 3, 'b', 'o', 'o', 'k', '.', 'x',
                                   'l', 's', 4, 0, 0, 'D', 'a', 't', 'a'});
const Bytes ExtName = Rec(0x23, {0, 0, 0, 0, 0, 0, 3, 0, 'E', 'x', 't', 2, 0, 0x1C, 0x17});
constexpr std::uint16_t Gone = 0xFFFF;
const std::uint8_t Seven[] = {0x1E, 7, 0};  // a name's tokens: the number 7

// Four sheets; entries on Sheet2, Sheet3, Sheet2:Sheet4, the external
// sheet, a deleted sheet, a SUPBOOK outside the list, a sheet outside the
// book; a workbook-wide name "Data".
std::unique_ptr<TWorkbookGlobals> FourSheets() {
    auto g = Load(Cat({BOF, Sheet("Sheet1"), Sheet("Sheet2"), Sheet("Sheet3"), Sheet("Sheet4"), LocalOf4, External,
                       ExtName,
                       Rec(0x17, Entries({{0, 1, 1}, {0, 2, 2}, {0, 1, 3}, {1, 0, 0}, {0, Gone, Gone}, {5, 0, 0},
                                          {0, 4, 4}})),
                       EOF_}));
    g->AddName({u"Data", u"", 0, -1}, Seven);
    return g;
}

}  // namespace

TEST(References, PrefixesNamesAndSheets) {
    auto g = FourSheets();
    TGlobalsAccess& access = g->Access();
    const std::tuple<int, const char16_t*, int> rows[] = {
        {0, u"'Sheet2'!", 1},   {1, u"'Sheet3'!", 2}, {2, u"'Sheet2:Sheet4'!", -1}, {3, u"'C:\\dir\\[book.xls]Data'!", -1},
        {4, u"", -1},           {5, u"", -1},         {6, u"", -1},
    };
    for (const auto& [index, prefix, sheet] : rows) {
        EXPECT_EQ(access.GetSheetName(index), prefix) << index;
        EXPECT_EQ(g->SheetInfo(-1, 0).GetSheet(static_cast<std::uint16_t>(index)), sheet) << index;
    }
    EXPECT_EQ(MessageOf([&] { access.GetSheetName(7); }),
              "The index \"7\" of the property \"Sheet Reference\" is not in the range 0-7");
    g->SetSheetName(2, u"O'Brien");
    EXPECT_EQ(access.GetSheetName(1), u"'O''Brien'!");

    EXPECT_EQ(access.GetName(3, 0), u"Ext");
    EXPECT_EQ(access.GetName(-1, 0), u"Data");
    EXPECT_EQ(access.GetName(0, 0), u"Data");
    EXPECT_EQ(MessageOf([&] { access.GetName(3, 1); }),
              "The index \"1\" of the property \"Name Index\" is not in the range 0-0");
    EXPECT_EQ(MessageOf([&] { access.GetName(9, 0); }),
              "The index \"9\" of the property \"Sheet Reference\" is not in the range 0-6");
}

// A deleted sheet empties only the entries that lose every sheet; a span
// keeps its surviving sheets; later sheets move down, then up again.
TEST(References, SheetsDeletedAndInsertedMoveTheEntries) {
    auto g = FourSheets();
    g->DeleteSheets(1, 1);
    Bytes saved = Save(*g);
    EXPECT_EQ(RecordsWithId(saved, 0x1AE).at(0).Data, (Bytes{3, 0, 1, 4}));
    EXPECT_EQ(RecordsWithId(saved, 0x17).at(0).Data,
              Entries({{0, Gone, Gone}, {0, 1, 1}, {0, 1, 2}, {1, 0, 0}, {0, Gone, Gone}, {5, 0, 0}, {0, 3, 3}}));
    g->InsertSheets(-1, 1, 2, u"New", 0);
    saved = Save(*g);
    EXPECT_EQ(RecordsWithId(saved, 0x1AE).at(0).Data, (Bytes{5, 0, 1, 4}));
    EXPECT_EQ(RecordsWithId(saved, 0x17).at(0).Data,
              Entries({{0, Gone, Gone}, {0, 3, 3}, {0, 3, 4}, {1, 0, 0}, {0, Gone, Gone}, {5, 0, 0}, {0, 5, 5}}));

    // Refused whole, the references as they were: names past their limit
    // (the entries had moved), the local count past 65000.
    auto named = Load(Cat({BOF, Sheet("A"), Sheet("B"), Sheet("C"), Sheet("D"), Rec(0x1AE, {1, 0, 1, 4}),
                           Rec(0x17, Entries({{0, 3, 3}})), EOF_}));
    named->AddName({u"Local", u"", 0, 3}, Seven);
    const Bytes unchanged = Save(*named);
    EXPECT_EQ(MessageOf([&] { named->InsertSheets(-1, 3, 64998, u"x", 0); }),
              "Too many entries for this kind of record (65002 out of a maximum of 65001)");
    EXPECT_EQ(MessageOf([&] { named->InsertSheets(-1, 0, 65000, u"x", 0); }),
              "Too many entries for this kind of record (65001 out of a maximum of 65000)");
    EXPECT_EQ(Save(*named), unchanged);
}

// The values an external book's cells had (XCT, CRN) stay with their
// SUPBOOK in the order read, around its names, whatever sheets move; they
// are no names.
TEST(References, CachedValuesStayWithTheirBook) {
    const Bytes xct = Rec(0x59, {1, 0, 0, 0});                            // one CRN, sheet 0
    const Bytes crn = Rec(0x5A, {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x40});  // A1: 2.0
    const Bytes crn2 = Rec(0x5A, {0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0x5E, 0x40});  // B2: 120.0
    auto g = Load(Cat({BOF, Sheet("Sheet1"), Sheet("Sheet2"), LocalOf4, External, xct, crn, ExtName, crn2,
                       Rec(0x17, Entries({{0, 1, 1}, {1, 0, 0}})), EOF_}));
    EXPECT_EQ(g->Access().GetName(1, 0), u"Ext");
    EXPECT_EQ(MessageOf([&] { g->Access().GetName(1, 1); }),
              "The index \"1\" of the property \"Name Index\" is not in the range 0-0");
    g->InsertSheets(-1, 0, 2, u"New", 0);
    g->DeleteSheets(3, 1);
    const Bytes saved = Save(*g);
    std::vector<TRec> kept = RecordsWithId(saved, 0);
    std::erase_if(kept, [](const TRec& r) { return r.Id != 0x1AE && r.Id != 0x23 && r.Id != 0x59 && r.Id != 0x5A; });
    EXPECT_EQ(kept, ParseRecords(Cat({Rec(0x1AE, {5, 0, 1, 4}), External, xct, crn, ExtName, crn2})));
    // A copy of the book holds copies of them.
    const std::unique_ptr<TBaseRecord> copy = g->References().SupBooks().GetItems(1)->CopyTo();
    EXPECT_EQ(ParseRecords(Saved(*copy)), ParseRecords(Cat({External, xct, crn, ExtName, crn2})));
    EXPECT_EQ(static_cast<const TSupBookRecord&>(*copy).ExternName(0).Name(), u"Ext");
}

TEST(References, ExternSheetRecordsAndAddedEntries) {
    // 1371 entries read across a CONTINUE that splits an entry; written as
    // 1370 in the EXTERNSHEET and one in a CONTINUE without a count.
    std::vector<Entry> many(1370, Entry{0, 0, 0});
    many.push_back({0, 1, 2});
    const Bytes all = Entries(many);
    const Bytes split = Cat({Rec(0x17, Bytes(all.begin(), all.begin() + 5)), Rec(0x3C, Bytes(all.begin() + 5, all.end()))});
    auto g = Load(Cat({BOF, Sheet("S"), Sheet("T"), Sheet("U"), Rec(0x1AE, {3, 0, 1, 4}), split, EOF_}));
    const Bytes saved = Save(*g);
    const Bytes expected = Cat({Rec(0x17, Bytes(all.begin(), all.end() - 6)), Rec(0x3C, {0, 0, 1, 0, 2, 0})});
    ASSERT_EQ(Bytes(expected.begin(), expected.begin() + 6), (Bytes{0x17, 0, 0x1E, 0x20, 0x5B, 5}));
    EXPECT_NE(std::search(saved.begin(), saved.end(), expected.begin(), expected.end()), saved.end());

    // No entries: no record.
    EXPECT_EQ(Save(*Load(Cat({BOF, Sheet("S"), Rec(0x17, {0, 0}), EOF_}))), Save(*Load(Cat({BOF, Sheet("S"), EOF_}))));

    // The 65,536th entry is refused.
    const Bytes most = Entries(std::vector<Entry>(65535, Entry{0, 0, 0}));
    Bytes chain;
    for (std::size_t at = 0; at < most.size(); at += 8224)
        chain = Cat({chain, Rec(at ? 0x3C : 0x17, Bytes(most.begin() + at, most.begin() + std::min(at + 8224, most.size())))});
    auto full = Load(Cat({BOF, Sheet("S"), Sheet("T"), Rec(0x1AE, {2, 0, 1, 4}), chain, EOF_}));
    EXPECT_EQ(MessageOf([&] { full->Access().AddExternSheet(1, 1); }),
              "Too many entries for this kind of record (65536 out of a maximum of 65535)");

    // Added with a new local SUPBOOK behind the others, then taken back.
    auto b = Load(Cat({BOF, Sheet("S"), Sheet("T"), External, ExtName, EOF_}));
    const Bytes before = Save(*b);
    const TReferencesMark mark = b->Access().MarkReferences();
    EXPECT_EQ(b->Access().AddExternSheet(0, 1), 0);
    EXPECT_EQ(b->Access().GetSheetName(0), u"'S:T'!");
    EXPECT_EQ(RecordsWithId(Save(*b), 0x17).at(0).Data, Entries({{1, 0, 1}}));
    EXPECT_EQ(RecordsWithId(Save(*b), 0x1AE).at(1).Data, (Bytes{2, 0, 1, 4})) << "the new SUPBOOK goes last";
    b->Access().RestoreReferences(mark);
    EXPECT_EQ(Save(*b), before);
}

TEST(References, BadInput) {
    const std::pair<Bytes, const char*> cases[] = {
        {Cat({BOF, ExtName, EOF_}), "Error reading Excel records. File invalid"},
        {Cat({BOF, Rec(0x1AE, {1, 0, 1}), EOF_}), "Record with ID 0x1AE is invalid"},
        {Cat({BOF, Rec(0x1AE, {1, 0, 1, 0, 0, 'a', 4, 0, 0, 'D'}), EOF_}), "Record with ID 0x1AE is invalid"},
        {Cat({BOF, LocalOf4, Rec(0x23, {0, 0, 0, 0, 0, 0, 1}), EOF_}), "Record with ID 0x23 is invalid"},
        {Cat({BOF, LocalOf4, Rec(0x223, {0, 0, 0, 0, 0, 0, 2, 1, 'a', 0}), EOF_}), "Record with ID 0x223 is invalid"},
        {Cat({BOF, Rec(0x17, {2, 0, 0, 0, 0, 0, 0, 0}), EOF_}), "Error reading record"},
    };
    for (const auto& [stream, message] : cases) EXPECT_EQ(MessageOf([&stream = stream] { Load(stream); }), message);
}

// A refused formula leaves no entries: FormulaParser.RefusedFormulaStoresNothing
// (the wiring) and ExternSheetRecordsAndAddedEntries (the globals taking
// entries back).

// Typed, as the writer gives it back, as LibreOffice exports it (plain
// references and spans: parser_check.py).
TEST(FormulaReferences, SheetReferencesReadBackInBothReaders) {
    const struct {
        std::u16string Typed, Text;
        std::string LibreOffice;
    } cases[] = {
        {u"=sum(skryty!a1:b2)+'o''brien'!$C$1", u"=SUM('Skryty'!A1:B2)+'O''Brien'!$C$1",
         "=SUM($Skryty.A1:B2)+$'O''Brien'.$C$1"},
        {u"=SUM('skryty:O''Brien'!A1)", u"=SUM('Skryty:O''Brien'!A1)", "=SUM($Skryty.A1:$'O''Brien'.A1)"},
        {u"=SUM('O''Brien:Skryty'!A1)", u"=SUM('Skryty:O''Brien'!A1)", "=SUM($Skryty.A1:$'O''Brien'.A1)"},
    };
    const std::string path = SaveWorkbook("globals_b", [&](TWorkbook& book) {
        book.Globals().SetSheetName(2, u"O'Brien");
        TCellList& cells = booktest::FirstCells(book).CellList();
        for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
            cells.SetFormula(10 + i, 0, cases[i].Typed);
            EXPECT_EQ(Utf16ToUtf8(cells.GetFormula(10 + i, 0)), Utf16ToUtf8(cases[i].Text));
        }
        // Repeated references share their entry: Skryty, O'Brien, Skryty:O'Brien.
        EXPECT_EQ(RecordsWithId(Written([&](TOle2File& ole) { book.Globals().SaveToStream(ole); }), 0x17),
                  (std::vector<TRec>{{0x17, {3, 0, 0, 0, 1, 0, 1, 0, 0, 0, 2, 0, 2, 0, 0, 0, 1, 0, 2, 0}, 0}}));
    });
    std::vector<std::string> shown;
    std::string sheet;
    for (const std::string& line : Lines(OleCheck("loformulas", path))) {
        if (line.starts_with("sheet ")) sheet = line.substr(6);
        else if (sheet == "Odecty" && line.starts_with("=")) shown.push_back(Split(line, ',').at(0));
    }
    std::vector<std::string> want;
    for (const auto& c : cases) want.push_back(c.LibreOffice);
    EXPECT_EQ(shown, want);
}

TEST(FormulaReferences, NamesWithSheetReferences) {
    const std::string path = SaveBook("globals_b", [](TWorkbookGlobals& g) {
        g.AddName({u"Local", u"=$B$2:$C$3", 0, 1});
        g.AddName({u"Data", u"=$A$1:$B$2", 0, -1});
        g.AddName({u"Empty", u"", 0, -1});
        g.AddName({u"Soucet", u"=1+2", 0, -1});
        const std::size_t names = g.Names().Count();
        EXPECT_EQ(MessageOf([&] { g.AddName({u"Far", u"=1+2", 0, 3}); }),
                  "Sheet number \"3\" invalid. Must be between 0 and 2");
        EXPECT_EQ(MessageOf([&] { g.AddName({u"Spatne", u"=FOO(1)", 0, -1}); }),
                  "Function not found: \"FOO\" on formula \"=FOO(1)\"");
        EXPECT_EQ(g.Names().Count(), names);
    });
    // Local on entry 0 (Skryty), Data on entry 1 (Odecty); a name without a
    // formula keeps its text, so other readers open the file.
    EXPECT_THAT(LinesOf(OleCheck("book", path), "name "),
                testing::ElementsAre("name Local 1 3b00000100020001000200", "name Data -1 3b01000000010000000100",
                                     "name Empty -1 ", "name Soucet -1 1e01001e020003"));
    EXPECT_THAT(Lines(OleCheck("lonames", path)),
                testing::UnorderedElementsAre("Local 1 Skryty!$B$2:$C$3", "Data -1 Odecty!$A$1:$B$2", "Soucet -1 1+2"));
}
