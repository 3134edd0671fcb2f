// Formula text to tokens and back, through the cell list with a stand-in
// for the workbook's references.
#include <gtest/gtest.h>

#include <string>

#include "tests/workbook/cells/FormulaGlobals.h"
#include "tests/workbook/storage/MessageOf.h"
#include "tests/workbook/book/WorkbookFiles.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/cells/UXlsFormula.h"
#include "workbook/storage/UKmrStreams.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/cells/UXlsFormulaParser.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/cells/UXlsTokenArray.h"

namespace {

using namespace kalmira;
using Bytes = std::vector<std::uint8_t>;

struct TSheet {
    TFormulaGlobals Globals;
    TCells Cells{&Globals, nullptr};

    Bytes Tokens(const std::u16string& text) {
        TParseString parse(text, Cells.CellList(), TFmReturnType::fmValue);
        parse.Parse();
        return Bytes(parse.Tokens().begin(), parse.Tokens().end());
    }
};

// Token bytes that LibreOffice reads alike either way (spaces, operand
// classes, sum attributes); parser_check.py has LibreOffice read the rest.
TEST(FormulaParser, TokensOfTypedFormulas) {
    const struct {
        std::u16string Text;
        Bytes Tokens;
    } cases[] = {
        {u"=A1 + 1", {0x44, 0, 0, 0, 0xC0, 0x19, 0x40, 0, 1, 0x1E, 1, 0, 0x19, 0x40, 0, 1, 0x03}},
        {u"=( 1 )", {0x19, 0x40, 0, 1, 0x1E, 1, 0, 0x19, 0x40, 4, 1, 0x15}},
        {u"=SUM(A1:B2)", {0x25, 0, 0, 1, 0, 0, 0xC0, 1, 0xC0, 0x42, 1, 4, 0}},
        {u"=TRANSPOSE(A1:B2)", {0x65, 0, 0, 1, 0, 0, 0xC0, 1, 0xC0, 0x61, 0x53, 0}},
        {u"=INDEX(A1:B2,1,1)+1",
         {0x25, 0, 0, 1, 0, 0, 0xC0, 1, 0xC0, 0x1E, 1, 0, 0x1E, 1, 0, 0x42, 3, 0x1D, 0, 0x1E, 1, 0, 0x03}},
        {u"=SUMPRODUCT(A1:A3,B1:B3)",
         {0x65, 0, 0, 2, 0, 0, 0xC0, 0, 0xC0, 0x65, 0, 0, 2, 0, 1, 0xC0, 1, 0xC0, 0x42, 2, 0xE4, 0}},
        {u"=SUM()", {0x42, 0, 4, 0}},
        {u"=$A$1", {0x44, 0, 0, 0, 0}},
        {u"=Sheet2!B3", {0x5A, 0, 0, 2, 0, 1, 0xC0}},
        {u"='sheet1:Sheet3'!$A$1:B2", {0x5B, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0xC0}},
        {u"=\"a\"\"č\"", {0x17, 3, 1, 'a', 0, '"', 0, 0x0D, 0x01}},
        {u"=5%%", {0x1E, 5, 0, 0x14, 0x14}},
        {u"=1<=2", {0x1E, 1, 0, 0x1E, 2, 0, 0x0A}},
        // Spaces after the formula are dropped.
        {u"=A1+1  ", {0x44, 0, 0, 0, 0xC0, 0x1E, 1, 0, 0x03}},
        {u"=SUM(1) ", {0x1E, 1, 0, 0x42, 1, 4, 0}},
    };
    for (const auto& c : cases) {
        TSheet sheet;
        EXPECT_EQ(sheet.Tokens(c.Text), c.Tokens) << Utf16ToUtf8(c.Text);
    }
}

TEST(FormulaParser, MessagesAndDeepNesting) {
    std::u16string tooLong = u"=1";
    for (int i = 0; i < 511; ++i) tooLong += u"+1";
    const struct {
        std::u16string Text;
        std::string Message;
    } cases[] = {
        {u"1+1", "Formula must start with \"=\": \"1+1\""},
        {u"=1+", "Unexpected end of formula: \"=1+\""},
        {u"=1 2", "Unexpected char \" \" at pos 3 on formula: \"=1 2\""},
        {u"=(1", "Missing closing parentheses on formula: \"=(1\""},
        {u"=\"ab", "Unterminated string on formula: \"=\"ab\""},
        {u"=FOO", "Unexpected Identifier: \"FOO\" on formula \"=FOO\""},
        {u"=A65537", "Unexpected Identifier: \"A65537\" on formula \"=A65537\""},
        {u"=foo(1)", "Function not found: \"FOO\" on formula \"=foo(1)\""},
        {u"=ROUND(1)", "Invalid number of parameters to function \"ROUND\": Expected 2 and found 1"},
        // The table's placeholders are no functions.
        {u"=notafunction53(1)", "Function not found: \"NOTAFUNCTION53\" on formula \"=notafunction53(1)\""},
        {u"=NotAFunction53()", "Function not found: \"NOTAFUNCTION53\" on formula \"=NotAFunction53()\""},
        {u"=1 2 ", "Unexpected char \" \" at pos 3 on formula: \"=1 2 \""},
        {u"=Sheet9!A1", "Invalid sheet: Sheet9"},
        {u"=Sheet2!Data", "External names are not supported: DATA"},
        {u"=Sheet2!B", "Unexpected Identifier: \"B\" on formula \"=Sheet2!B\""},
        {u"=1+ ř", "Unexpected char \"ř\" at pos 5 on formula: \"=1+ ř\""},
        {u"={1,2}", "Writing array formulas is not yet supported"},
        {u"=,1", "Formula can't be evaluated: \"=,1\""},
        {u"=@", "Kalmira: Logical Error"},
        {u"=1.2.3", "'1.2.3' is not a valid floating point value"},
        {u"=#FOO", "Unexpected Identifier: \"#FOO\" on formula \"=#FOO\""},
        {u"=\"" + std::u16string(256, u'x') + u"\"", "Invalid String record"},
        {tooLong + u"1", "Formula too long: \"" + Utf16ToUtf8(tooLong) + "1\""},
    };
    for (const auto& c : cases) {
        TSheet sheet;
        EXPECT_EQ(MessageOf([&] { sheet.Tokens(c.Text); }), c.Message) << Utf16ToUtf8(c.Text);
    }
    TSheet sheet;
    EXPECT_EQ(sheet.Tokens(tooLong).size(), 512u * 3 + 511);
    // Deep nesting parses up to the same limit.
    const std::u16string text = u"=" + std::u16string(511, u'(') + u"1" + std::u16string(511, u')');
    EXPECT_EQ(sheet.Tokens(text).size(), 3u + 511);
    const std::u16string deeper = u"=" + std::u16string(1023, u'(') + u"1";
    EXPECT_EQ(MessageOf([&] { sheet.Tokens(deeper); }), "Formula too long: \"" + Utf16ToUtf8(deeper) + "\"");
}

TEST(FormulaParser, TextReadsBackAsTyped) {
    const struct {
        std::u16string Typed, Shown;
    } cases[] = {
        {u"=A1 + 1", u"=A1 + 1"},
        {u"=( 1 )", u"=( 1 )"},
        {u"=SUM(A1:B2,$C$3,,D$4)", u"=SUM(A1:B2,$C$3,,D$4)"},
        {u"=IF(A1>=2,\"a\"\"b\",#N/A)", u"=IF(A1>=2,\"a\"\"b\",#N/A)"},
        {u"=A1:IV1", u"=1:1"},
        {u"=$B:D", u"=$B:D"},
        {u"='O''Brien'!A1", u"='O''Brien'!A1"},
        {u"=Sheet1:Sheet3!A1:B2", u"='Sheet1:Sheet3'!A1:B2"},
        {u"=-5%+0.1+1E-5+1E15+123456.5", u"=-5%+0.1+1E-5+1E15+123456.5"},
        {u"=NOW()&TRUE", u"=NOW()&TRUE"},
        {u"=(A1,B1:C2)", u"=(A1,B1:C2)"},
    };
    for (const auto& c : cases) {
        TSheet sheet;
        sheet.Cells.CellList().SetFormula(3, 2, c.Typed);
        EXPECT_EQ(Utf16ToUtf8(sheet.Cells.CellList().GetFormula(3, 2)), Utf16ToUtf8(c.Shown));
    }
}

TEST(FormulaParser, RefusedFormulaStoresNothing) {
    TSheet sheet;
    auto& cells = sheet.Cells.CellList();
    EXPECT_EQ(MessageOf([&] { cells.SetFormula(4, 0, u"=Sheet2!A1+FOO(1)"); }),
              "Function not found: \"FOO\" on formula \"=Sheet2!A1+FOO(1)\"");
    EXPECT_TRUE(sheet.Globals.Extern.empty());
    EXPECT_EQ(sheet.Globals.SupBooks, 0);
    EXPECT_EQ(cells.Count(), 0u);
    cells.SetFormula(0, 0, u"=Sheet3!A1");
    EXPECT_NE(MessageOf([&] { cells.SetFormula(1, 0, u"=Sheet2!A1+Sheet3!A1+"); }), "no exception");
    EXPECT_EQ(sheet.Globals.Extern, (std::vector<std::pair<int, int>>{{2, 2}}));
    EXPECT_EQ(cells.Count(), 1u);
}

TEST(FormulaWriter, TokensAndNumbersToText) {
    TFormulaGlobals globals;
    globals.Names = {u"Data"};
    globals.Extern = {{-1, -1}, {1, 1}};
    const struct {
        Bytes Tokens;
        std::string Text;
    } cases[] = {
        {{0x1C, 0x05}, "=#KALMIRA_UNKNOWN"},
        {{0x23, 1, 0, 0, 0}, "=Data"},
        {{0x3A, 0, 0, 1, 0, 1, 0xC0}, "=#REF!"},
        {{0x3B, 1, 0, 0, 0, 9, 0, 0, 0xC0, 0xFF, 0xC0}, "='Sheet2'!A1:IV10"},
        {{0x2A, 0, 0, 0, 0}, "=#REF!"},
        {{0x19, 0x40, 1, 2, 0x1E, 1, 0}, "=\r\r1"},
        {{0x1E, 1, 0, 0x19, 0x10, 0, 0}, "=SUM(1)"},
        {{0x1E, 1, 0, 0x19, 0x04, 1, 0, 9, 0, 9, 0, 0x42, 1, 100, 0}, "=CHOOSE(1)"},
        {{0x60, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0x02, 1, 0, 0, 'x', 0x04, 1, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x07, 0, 0, 0, 0,
          0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F},
         "={\"x\",TRUE;#DIV/0!,1.5}"},
        {{0x18}, "Error reading formula, Token Id: 0x18 is not supported"},
        {{0x41, 0x70, 0x01}, "The index \"368\" of the property \"Function name\" is not in the range 0-367"},
        {{0x03}, "String Stack is empty"},
        {{0x24, 0, 0}, "Error reading formula, Token Id: 0x24 is not supported"},
    };
    for (const auto& c : cases) {
        // The token length, the tokens; an array constant's values follow.
        const std::size_t length = c.Tokens[0] == 0x60 ? 8 : c.Tokens.size();
        Bytes data{static_cast<std::uint8_t>(length), 0};
        data.insert(data.end(), c.Tokens.begin(), c.Tokens.end());
        EXPECT_EQ(MessageOf([&] { throw Exception(Utf16ToUtf8(RPNToString(data, 2, &globals, nullptr))); }), c.Text);
    }
    // Numbers in 15 significant digits.
    const std::pair<double, std::u16string> numbers[] = {
        {0.1 + 0.2, u"0.3"}, {1e-5, u"1E-5"}, {0.0001, u"0.0001"}, {1e15, u"1E15"},
        {999999999999999, u"999999999999999"}, {-2.5e20, u"-2.5E20"}, {1.0 / 3, u"0.333333333333333"}};
    for (const auto& [value, text] : numbers) EXPECT_EQ(FmFloatToStr(value), text) << value;
}

}  // namespace

namespace {

// LibreOffice's own formulas (shared, array, texts, an error; SUM of one
// area as a sum attribute) read as text, and each but the array formula
// parses back to itself.
TEST(FormulaWriter, LibreOfficeFormulasReadAsText) {
    std::vector<std::string> texts;
    booktest::RoundTrip(ole2test::FixtureDir() + "/formulas.xls", [&](TWorkbook& book) {
        TCellList& cells = booktest::FirstCells(book).CellList();
        for (std::size_t row = 0; row < cells.Count(); ++row)
            for (int col = 0; col <= MaxSheetCol; ++col) {
                if (!dynamic_cast<const TFormulaRecord*>(cells.FindCell(static_cast<int>(row), col))) continue;
                const std::u16string text = cells.GetFormula(static_cast<int>(row), col);
                texts.push_back(Utf16ToUtf8(EncodeColumn(col + 1)) + std::to_string(row + 1) + " " + Utf16ToUtf8(text));
                if (text.starts_with(u"{")) continue;
                TParseString parse(text, cells, TFmReturnType::fmValue);
                parse.Parse();
                Bytes copied(parse.TotalSize());
                parse.CopyToPtr(copied, 0);
                EXPECT_EQ(RPNToString(copied, 2, cells.Globals(), &cells), text);
            }
    });
    const std::vector<std::string> want = {
        "B1 =A1*2",     "D1 =1/0",      "E1 {=A1:A3*2}", "B2 =A2*2",         "D2 =A1>0",
        "E2 {=A1:A3*2}", "B3 =A3*2",     "C3 =\"x\"&A3", "D3 =\"\"",         "E3 {=A1:A3*2}",
        "B4 =A4*2",     "C4 =\"x\"&A4", "D4 =SUM(A1:A10)", "B5 =A5*2",       "C5 =\"x\"&A5",
        "B6 =A6*2",     "B7 =A7*2",     "B8 =A8*2",      "B9 =A9*2",         "B10 =A10*2"};
    EXPECT_EQ(texts, want);
}

// An array formula is shown in braces; one whose tokens hold a ptgExp of
// their own is refused, not followed.
TEST(FormulaWriter, ArrayFormulasAreNotNested) {
    TSheet sheet;
    auto& cells = sheet.Cells.CellList();
    cells.AssignFormulaX(0, 0, Bytes{0x01, 0, 0, 0, 0}, TVariant(), false);
    auto* formula = dynamic_cast<TFormulaRecord*>(cells.FindCell(0, 0));
    const Bytes array = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 13, 0,
                         0x25, 0, 0, 2, 0, 0, 0xC0, 0, 0xC0, 0x1E, 2, 0, 0x05};
    formula->SetArrayRecord(std::make_unique<TArrayRecord>(xlr_ARRAY, array));
    EXPECT_EQ(cells.GetFormula(0, 0), u"{=A1:A3*2}");
    Bytes nested = array;
    nested[12] = 5;
    nested.resize(19);
    std::copy_n(Bytes{0x01, 0, 0, 0, 0}.begin(), 5, nested.begin() + 14);
    formula->SetArrayRecord(std::make_unique<TArrayRecord>(xlr_ARRAY, nested));
    EXPECT_EQ(MessageOf([&] { cells.GetFormula(0, 0); }), "Error reading formula, Token Id: 0x 1 is not supported");
}

}  // namespace
