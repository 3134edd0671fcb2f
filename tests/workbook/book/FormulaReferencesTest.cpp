// Formula text on the workbook's own references: workbook B (sheets
// Odecty, Skryty, Treti; no SUPBOOK) takes typed sheet references into its
// first sheet and names through the globals; xlrd and LibreOffice read the
// saved files.
#include <gmock/gmock.h>

#include "tests/workbook/book/GlobalsStreams.h"
#include "tests/workbook/book/WorkbookFiles.h"
#include "workbook/cells/UXlsRowColEntries.h"

using namespace kalmira;
using namespace ole2test;

namespace {

// The data of every record with the id among the globals (up to their EOF).
std::vector<Bytes> GlobalRecords(const Bytes& stream, std::uint16_t id) {
    std::vector<Bytes> out;
    for (const TRec& r : ParseRecords(stream)) {
        if (r.Id == xlr_EOF) break;
        if (r.Id == id) out.push_back(r.Data);
    }
    return out;
}

// The lines of a LibreOffice or xlrd reading that start with the prefix.
std::vector<std::string> LinesOf(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : Lines(text))
        if (line.starts_with(prefix)) out.push_back(line);
    return out;
}

TEST(FormulaReferences, RefusedFormulaLeavesNoEntries) {
    booktest::TOpened b(Fixture("globals_b"));
    const auto cells = [&]() -> TCellList& { return booktest::FirstCells(b.Book).CellList(); };
    const auto save = [&] { return Written([&](TOle2File& ole) { b.Book.SaveToStream(ole); }); };
    const Bytes before = save();
    EXPECT_EQ(MessageOf([&] { cells().SetFormula(6, 0, u"=Skryty!A1+FOO(1)"); }),
              "Function not found: \"FOO\" on formula \"=Skryty!A1+FOO(1)\"");
    EXPECT_EQ(save(), before);

    cells().SetFormula(6, 0, u"=Skryty!B3");
    const Bytes after = save();
    EXPECT_EQ(GlobalRecords(after, 0x1AE), std::vector<Bytes>{Bytes({3, 0, 1, 4})});
    EXPECT_EQ(GlobalRecords(after, 0x17), std::vector<Bytes>{Bytes({1, 0, 0, 0, 1, 0, 1, 0})});
    EXPECT_EQ(MessageOf([&] { cells().SetFormula(7, 0, u"='Treti'!A1+"); }),
              "Unexpected end of formula: \"='Treti'!A1+\"");
    EXPECT_EQ(save(), after);
}

// Typed, as the writer gives it back, as LibreOffice exports it.
TEST(FormulaReferences, SheetReferencesReadBackInBothReaders) {
    const struct {
        std::u16string Typed, Text;
        std::string LibreOffice;
    } cases[] = {
        {u"=Skryty!B3", u"='Skryty'!B3", "=$Skryty.B3"},
        {u"=SUM(Odecty:Skryty!A1)", u"=SUM('Odecty:Skryty'!A1)", "=SUM($Odecty.A1:$Skryty.A1)"},
        {u"='O''Brien'!A1", u"='O''Brien'!A1", "=$'O''Brien'.A1"},
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
        // Repeated references share their entry: Skryty, Odecty:Skryty, O'Brien, Skryty:O'Brien.
        EXPECT_EQ(GlobalRecords(Written([&](TOle2File& ole) { book.Globals().SaveToStream(ole); }), 0x17),
                  std::vector<Bytes>{Bytes({4, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 2, 0, 0, 0, 1, 0,
                                            2, 0})});
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

}  // namespace
