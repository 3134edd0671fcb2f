#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/workbook/cells/CellsTestSupport.h"
#include "workbook/cells/UXlsFormula.h"
#include "workbook/cells/UXlsTokenArray.h"

using namespace kalmira;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The id of the token that a call refuses, or -1.
template <class F>
int RefusedToken(F f) {
    try {
        f();
    } catch (const ETokenException& e) {
        return e.Token;
    }
    return -1;
}

Bytes Expanded(Bytes tokens, int row, int col) {
    UXlsTokenArray_ArrangeSharedFormulas(tokens, 0, tokens.size(), row, col);
    return tokens;
}

// EXTERNSHEET index i is sheet i; 9 is a reference to another book.
TSheetInfo OnSheet(int insSheet, int formulaSheet) {
    TSheetInfo info = cellstest::OnSheet(insSheet, formulaSheet);
    info.GetSheet = [](std::uint16_t index) { return index == 9 ? -1 : static_cast<std::int32_t>(index); };
    return info;
}

// Tokens before a change of sheet 0's rows or columns (insert row, row
// count, row copy offset, insert column, column count, column copy offset)
// and after it; none after: refused.
struct TRowCase {
    Bytes Before;
    int Change[6];
    Bytes After;
};

}  // namespace

// Tokens the changes below do not step over.
TEST(TokenArray, StepsOverKnownTokensAndRefusesTheRest) {
    const std::vector<std::pair<Bytes, std::size_t>> tokens = {
        {{0x02, 1, 0, 2, 0}, 5},                        // table
        {{0x15}, 1},                                    // operators
        {{0x16}, 1},
        {{0x17, 1, 1, 0x0D, 0x01}, 5},                  // 16-bit text
        {{0x19, 0x10, 0, 0}, 4},                        // attr sum
        {{0x19, 0x04, 2, 0, 1, 0, 2, 0, 3, 0}, 10},     // choose with a jump table
        {{0x1C, 7}, 2},
        {{0x1D, 1}, 2},
        {{0x1F, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, 9},
        {{0x40, 0, 0, 0, 0, 0, 0, 0}, 8},               // array
        {{0x41, 1, 0}, 3},                              // function
        {{0x62, 2, 4, 0}, 4},                           // variable function
        {{0x2B, 0, 0, 9, 0, 0, 0, 2, 0}, 9},
        {{0x29, 9, 0}, 3},                              // memory function
        {{0x2D, 0, 0, 9, 0, 0, 0, 2, 0}, 9},
        {{0x3C, 1, 0, 3, 0, 1, 0}, 7},
        {{0x7B, 1, 0, 0, 0, 9, 0, 0, 0, 2, 0}, 11},     // 3-D area
        {{0x3D, 1, 0, 0, 0, 9, 0, 0, 0, 2, 0}, 11},
    };
    for (const auto& [bytes, size] : tokens) {
        Bytes padded = bytes;
        padded.push_back(0x03);
        EXPECT_EQ(TokenSize(padded, 0, padded.size()), size) << std::hex << int(bytes[0]);
    }

    for (int id : {0x00, 0x18, 0x1A, 0x1B, 0x26, 0x46, 0x27, 0x28, 0x2E, 0x2F, 0x30, 0x38, 0x58, 0x3E, 0x7F,
                   0x80, 0x81, 0xA4, 0xC5, 0xFA}) {
        const Bytes tokens = {static_cast<std::uint8_t>(id), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(RefusedToken([&] { TokenSize(tokens, 0, tokens.size()); }), id) << std::hex << id;
    }
    // Tokens that run past the end of the array.
    const std::vector<Bytes> cut = {{0x1F, 0, 0, 0, 0}, {0x17, 5, 0, 'a'}, {0x17}, {0x19, 0x04, 2, 0, 1, 0},
                                    {0x3B, 1, 0, 0, 0}, {0x19, 0x04}};
    for (const auto& tokens : cut) EXPECT_EQ(RefusedToken([&] { TokenSize(tokens, 0, tokens.size()); }), tokens[0]);
    // The end of the range counts, not the end of the data.
    const Bytes number = {0x1E, 1, 0, 0x03};
    EXPECT_EQ(RefusedToken([&] { TokenSize(number, 0, 2); }), 0x1E);
}

TEST(TokenArray, SharedFormulaExpansion) {
    // A reference one column left, as LibreOffice writes it (FF C0), at
    // column 1: the offset adds within the column byte, no carry into the flags.
    EXPECT_EQ(Expanded({0x4C, 0, 0, 0xFF, 0xC0}, 0, 1), (Bytes{0x44, 0, 0, 0, 0xC0}));
    EXPECT_EQ(Expanded({0x4C, 0, 0, 0xFF, 0xC0}, 7, 4), (Bytes{0x44, 7, 0, 3, 0xC0}));
    // Row offset 1 at row 10 refers to row 11; row offset -1 wraps.
    EXPECT_EQ(Expanded({0x2C, 1, 0, 0, 0xC0}, 10, 3), (Bytes{0x24, 11, 0, 3, 0xC0}));
    EXPECT_EQ(Expanded({0x6C, 0xFF, 0xFF, 0, 0x80}, 5, 3), (Bytes{0x64, 4, 0, 0, 0x80}));
    // An area: first row and column relative, last row and column absolute.
    EXPECT_EQ(Expanded({0x4D, 0, 0, 9, 0, 0xFF, 0xC0, 2, 0}, 5, 3), (Bytes{0x45, 5, 0, 9, 0, 2, 0xC0, 2, 0}));
    // Absolute references, 3-D relative parts and other tokens.
    const Bytes mixed = {0x1E, 2, 0,  0x44, 4, 0, 1, 0,  0x3A, 0, 0, 1, 0, 2, 0xC0,  0x17, 1, 0, 'x',  0x05};
    EXPECT_EQ(Expanded(mixed, 10, 20),
              (Bytes{0x1E, 2, 0, 0x44, 4, 0, 1, 0, 0x3A, 0, 0, 11, 0, 22, 0xC0, 0x17, 1, 0, 'x', 0x05}));
    // A bad token anywhere leaves every byte as it was: FormulaRecord.SharedFormulaExpansion.
    // Only the range is touched.
    Bytes framed = {0xAA, 0x4C, 1, 0, 0, 0xC0, 0xBB};
    UXlsTokenArray_ArrangeSharedFormulas(framed, 1, 6, 1, 1);
    EXPECT_EQ(framed, (Bytes{0xAA, 0x44, 2, 0, 1, 0xC0, 0xBB}));
}

TEST(TokenArray, RowAndColumnChanges) {
    constexpr int No = 0x10000;
    const TRowCase cases[] = {
        // 2 rows in at row 5: $B$8, B5, A4:A11, A7:A65536, A:A, 3-D on sheet 0, on sheet 1, in another book,
        // ptgExp, ptgRefN.
        {{0x24, 7, 0, 1, 0,  0x44, 4, 0, 1, 0xC0,  0x25, 3, 0, 10, 0, 0, 0, 0, 0,  0x25, 6, 0, 0xFF, 0xFF, 0, 0, 0, 0,
          0x25, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0,  0x3A, 0, 0, 7, 0, 1, 0,  0x3A, 1, 0, 7, 0, 1, 0,  0x3A, 9, 0, 7, 0, 1, 0,
          0x01, 7, 0, 1, 0,  0x2C, 7, 0, 1, 0xC0}, {5, 2, 0, No, 0, 0},
         {0x24, 9, 0, 1, 0,  0x44, 4, 0, 1, 0xC0,  0x25, 3, 0, 12, 0, 0, 0, 0, 0,  0x25, 8, 0, 0xFF, 0xFF, 0, 0, 0, 0,
          0x25, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0,  0x3A, 0, 0, 9, 0, 1, 0,  0x3A, 1, 0, 7, 0, 1, 0,  0x3A, 9, 0, 7, 0, 1, 0,
          0x01, 9, 0, 1, 0,  0x2C, 7, 0, 1, 0xC0}},
        // Rows 5..6 go: rows 5, 6 (#REF!), 9, an error form, areas 3..10, 5..6, 6..12, 2..5, A7:A65536, A:A.
        {{0x44, 5, 0, 1, 0xC0,  0x64, 6, 0, 1, 0,  0x24, 9, 0, 1, 0,  0x2A, 9, 0, 1, 0,  0x25, 3, 0, 10, 0, 0, 0, 0, 0,
          0x45, 5, 0, 6, 0, 0, 0, 0, 0,  0x25, 6, 0, 12, 0, 0, 0, 0, 0,  0x25, 2, 0, 5, 0, 0, 0, 0, 0,
          0x25, 6, 0, 0xFF, 0xFF, 0, 0, 0, 0,  0x25, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0}, {5, -2, 0, No, 0, 0},
         {0x4A, 5, 0, 1, 0xC0,  0x6A, 6, 0, 1, 0,  0x24, 7, 0, 1, 0,  0x2A, 7, 0, 1, 0,  0x25, 3, 0, 8, 0, 0, 0, 0, 0,
          0x4B, 5, 0, 6, 0, 0, 0, 0, 0,  0x25, 5, 0, 10, 0, 0, 0, 0, 0,  0x25, 2, 0, 4, 0, 0, 0, 0, 0,
          0x25, 5, 0, 0xFF, 0xFF, 0, 0, 0, 0,  0x25, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0}},
        // Columns B..C go: B:D, 3-D B:C, B2, E2 (flags kept), D1:IV1, 1:1.
        {{0x25, 0, 0, 9, 0, 1, 0, 3, 0,  0x3B, 0, 0, 0, 0, 9, 0, 1, 0, 2, 0,  0x24, 1, 0, 1, 0,  0x44, 1, 0, 4, 0xC0,
          0x25, 0, 0, 0, 0, 3, 0, 0xFF, 0,  0x25, 0, 0, 0, 0, 0, 0, 0xFF, 0}, {No, 0, 0, 1, -2, 0},
         {0x25, 0, 0, 9, 0, 1, 0, 1, 0,  0x3D, 0, 0, 0, 0, 9, 0, 1, 0, 2, 0,  0x2A, 1, 0, 1, 0,  0x44, 1, 0, 2, 0xC0,
          0x25, 0, 0, 0, 0, 1, 0, 0xFF, 0,  0x25, 0, 0, 0, 0, 0, 0, 0xFF, 0}},
        // A copy 3 rows down, 1 column right: relative parts, A:A's column, 3-D, ptgExp.
        {{0x44, 7, 0, 1, 0x80,  0x24, 7, 0, 1, 0,  0x25, 0, 0, 0xFF, 0xFF, 0, 0xC0, 0, 0xC0,
          0x3A, 2, 0, 4, 0, 1, 0xC0,  0x01, 7, 0, 1, 0}, {0, 0, 3, 0, 0, 1},
         {0x44, 10, 0, 1, 0x80,  0x24, 7, 0, 1, 0,  0x25, 0, 0, 0xFF, 0xFF, 1, 0xC0, 1, 0xC0,
          0x3A, 2, 0, 7, 0, 2, 0xC0,  0x01, 10, 0, 2, 0}},
        // A copy 3 rows up: above row 0 is #REF!, no deleted-block test.
        {{0x44, 1, 0, 1, 0xC0,  0x44, 5, 0, 1, 0x80}, {0, 0, -3, 0, 0, 0}, {0x4A, 1, 0, 1, 0xC0,  0x44, 2, 0, 1, 0x80}},
        // Refused: a ptgExp into the deleted block, a memory area, a cut area.
        {{0x24, 9, 0, 1, 0,  0x01, 5, 0, 1, 0}, {5, -1, 0, No, 0, 0}, {}},
        {{0x1E, 1, 0, 0x26, 0, 0, 0, 0, 0, 0}, {5, 2, 0, No, 0, 0}, {}},
        {{0x25, 1, 0, 2, 0, 0, 0}, {5, 2, 0, No, 0, 0}, {}},
    };
    for (const TRowCase& c : cases) {
        Bytes work = c.Before;
        const int refused = RefusedToken([&] {
            UXlsTokenArray_ArrangeInsertRowsAndCols(work, 0, work.size(), c.Change[0], c.Change[1], c.Change[2],
                                                    c.Change[3], c.Change[4], c.Change[5], OnSheet(0, 0),
                                                    true);
        });
        EXPECT_EQ(refused == -1, !c.After.empty()) << &c - cases;
        EXPECT_EQ(work, c.After.empty() ? c.Before : c.After) << &c - cases;
    }
}

TEST(TokenArray, SheetCopies) {
    TNameRecordList names;
    for (const auto& [name, sheet] : {std::pair{u"Own", 1}, {u"All", -1}, {u"Own", 3}, {u"All", 3}})
        names.Add(std::make_unique<TNameRecord>(TXlsNamedRange{name, u"", 0, sheet}, Bytes{0x1E, 1, 0}));
    TSheetInfo copy = OnSheet(3, 1);  // sheet 1 copied to sheet 3
    copy.SetSheet = [](std::uint16_t sheet) { return static_cast<std::uint16_t>(sheet + 20); };
    copy.Names = &names;
    Bytes tokens = {0x5A, 1, 0, 3, 0, 1, 0,  0x3B, 2, 0, 0, 0, 9, 0, 0, 0, 2, 0,  0x43, 1, 0, 0, 0,
                    0x23, 2, 0, 0, 0,  0x23, 9, 0, 0, 0,  0x59, 1, 0, 1, 0, 0, 0,  0x39, 9, 0, 2, 0, 0, 0};
    UXlsTokenArray_ArrangeInsertSheets(tokens, 0, tokens.size(), copy);
    EXPECT_EQ(tokens, (Bytes{0x5A, 23, 0, 3, 0, 1, 0,  0x3B, 2, 0, 0, 0, 9, 0, 0, 0, 2, 0,  0x43, 3, 0, 0, 0,
                             0x23, 4, 0, 0, 0,  0x23, 9, 0, 0, 0,  0x59, 1, 0, 3, 0, 0, 0,  0x39, 9, 0, 2, 0, 0, 0}));
    Bytes bad = {0x5A, 1, 0, 3, 0, 1, 0, 0x06, 0x1A};
    EXPECT_EQ(RefusedToken([&] { UXlsTokenArray_ArrangeInsertSheets(bad, 0, bad.size(), copy); }), 0x1A);
    EXPECT_EQ(bad[1], 1);
}

// Conditional formats keep their rules in ptgRefN and ptgAreaN: relative
// parts are offsets from the cell the rule is read for and stay; absolute
// parts are places on the sheet and move as ordinary references do.
TEST(TokenArray, SharedRelativeTokensMoveTheirAbsoluteParts) {
    constexpr int No = 0x10000;
    const TRowCase cases[] = {
        // A column in before B: $B1 (LibreOffice's RefN, row offset 0) becomes $C1; B1 (both relative) stays.
        {{0x4C, 0, 0, 1, 0x80,  0x4C, 0, 0, 1, 0xC0}, {No, 0, 0, 1, 1, 0}, {0x4C, 0, 0, 2, 0x80,  0x4C, 0, 0, 1, 0xC0}},
        // 3 rows in at the top: $A$1:$A1 becomes $A$4:$A4 (the last row an offset); $A$3:$A$6 grows as an area.
        {{0x2D, 0, 0, 0, 0, 0, 0, 0, 0x80,  0x4D, 2, 0, 5, 0, 0xFF, 0x40, 1, 0x40}, {0, 3, 0, No, 0, 0},
         {0x2D, 3, 0, 0, 0, 0, 0, 0, 0x80,  0x4D, 5, 0, 8, 0, 0xFF, 0x40, 1, 0x40}},
        // Rows 3..4 go: rows $3:$6 shrink to $3:$4; an absolute row in them is #REF! (ptgRefErr, ptgAreaErr).
        {{0x4D, 2, 0, 5, 0, 0xFF, 0x40, 1, 0x40,  0x2C, 3, 0, 0, 0x40,  0x6D, 3, 0, 0, 0, 0, 0, 0, 0x80},
         {3, -2, 0, No, 0, 0},
         {0x4D, 2, 0, 3, 0, 0xFF, 0x40, 1, 0x40,  0x2A, 3, 0, 0, 0x40,  0x6B, 3, 0, 0, 0, 0, 0, 0, 0x80}},
        // A copy moves neither part: the offsets go with the rule, the places stay.
        {{0x4C, 2, 0, 1, 0xC0,  0x4C, 2, 0, 1, 0}, {0, 0, 3, 0, 0, 2}, {0x4C, 2, 0, 1, 0xC0,  0x4C, 2, 0, 1, 0}},
    };
    for (const TRowCase& c : cases) {
        Bytes work = c.Before;
        UXlsTokenArray_ArrangeInsertRowsAndCols(work, 0, work.size(), c.Change[0], c.Change[1], c.Change[2],
                                                c.Change[3], c.Change[4], c.Change[5], OnSheet(0, 0), true);
        EXPECT_EQ(work, c.After) << &c - cases;
    }
    // A rule of another sheet stays.
    Bytes other = {0x4C, 0, 0, 1, 0x80};
    UXlsTokenArray_ArrangeInsertRowsAndCols(other, 0, other.size(), No, 0, 0, 1, 1, 0, OnSheet(0, 1), true);
    EXPECT_EQ(other, (Bytes{0x4C, 0, 0, 1, 0x80}));
}

// Names 2 and 3 (from 1) went with their sheet: 4 is now 2, a token of a
// name gone is the #REF! error of its size and class, a ptgNameX counts
// only through an EXTERNSHEET entry on this workbook (entry 0 here).
TEST(TokenArray, NamesRenumberedWhenSheetsGo) {
    const TNameRenumbering renumbering{{0, -1, -1, 1}, [](std::uint16_t index) { return index == 0; }};
    TSheetInfo info;
    info.Renumbering = &renumbering;
    Bytes tokens = {0x23, 1, 0, 0, 0,  0x43, 2, 0, 0, 0,  0x63, 4, 0, 0, 0,  0x23, 9, 0, 0, 0,  0x1E, 1, 0,  0x03,
                    0x39, 0, 0, 4, 0, 0, 0,  0x59, 0, 0, 3, 0, 0, 0,  0x39, 5, 0, 4, 0, 0, 0};
    UXlsTokenArray_ArrangeInsertSheets(tokens, 0, tokens.size(), info);
    EXPECT_EQ(tokens, (Bytes{0x23, 1, 0, 0, 0,  0x4A, 0, 0, 0, 0xC0,  0x63, 2, 0, 0, 0,  0x23, 9, 0, 0, 0,  0x1E, 1, 0,
                             0x03,  0x39, 0, 0, 2, 0, 0, 0,  0x5C, 0, 0, 0, 0, 0, 0xC0,  0x39, 5, 0, 4, 0, 0, 0}));
    // The check pass raises where the change would and changes nothing.
    Bytes bad = {0x23, 2, 0, 0, 0, 0x1A};
    EXPECT_EQ(RefusedToken([&] { UXlsTokenArray_ArrangeInsertSheets(bad, 0, bad.size(), info); }), 0x1A);
    EXPECT_EQ(bad, (Bytes{0x23, 2, 0, 0, 0, 0x1A}));
    EXPECT_FALSE((TNameRenumbering{{0, 1, 2}, {}}.Changes()));
    EXPECT_TRUE(renumbering.Changes());
}
