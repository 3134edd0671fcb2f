#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TSheetInfo OnSheet(int insSheet, int formulaSheet) {
    TSheetInfo info;
    info.InsSheet = insSheet;
    info.FormulaSheet = formulaSheet;
    return info;
}

// Refused token of a row/column change over the whole array; the bytes
// must come out as they went in either way.
int RowChange(const Bytes& tokens, int insRow, int rowCount, int copyRow, int insCol, int colCount, int copyCol,
              const TSheetInfo& info, bool relativeOnly = true) {
    Bytes work = tokens;
    const int refused = RefusedToken([&] {
        UXlsTokenArray_ArrangeInsertRowsAndCols(work, 0, work.size(), insRow, rowCount, copyRow, insCol, colCount,
                                                copyCol, info, relativeOnly);
    });
    EXPECT_EQ(work, tokens);
    return refused;
}

}  // namespace

TEST(TokenArray, StepsOverEveryKnownToken) {
    const std::vector<std::pair<Bytes, std::size_t>> tokens = {
        {{0x01, 1, 0, 2, 0}, 5},                        // exp
        {{0x02, 1, 0, 2, 0}, 5},                        // table
        {{0x03}, 1},                                    // add ... 0x16
        {{0x15}, 1},
        {{0x16}, 1},
        {{0x17, 2, 0, 'a', 'b'}, 5},                    // 8-bit text
        {{0x17, 1, 1, 0x0D, 0x01}, 5},                  // 16-bit text
        {{0x19, 0x10, 0, 0}, 4},                        // attr sum
        {{0x19, 0x04, 2, 0, 1, 0, 2, 0, 3, 0}, 10},     // choose with a jump table
        {{0x1C, 7}, 2},
        {{0x1D, 1}, 2},
        {{0x1E, 5, 0}, 3},
        {{0x1F, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, 9},
        {{0x40, 0, 0, 0, 0, 0, 0, 0}, 8},               // array
        {{0x41, 1, 0}, 3},                              // function
        {{0x62, 2, 4, 0}, 4},                           // variable function
        {{0x43, 1, 0, 0, 0}, 5},                        // name
        {{0x24, 1, 0, 1, 0xC0}, 5},
        {{0x6A, 1, 0, 1, 0xC0}, 5},                     // reference error
        {{0x45, 0, 0, 9, 0, 0, 0, 2, 0}, 9},
        {{0x2B, 0, 0, 9, 0, 0, 0, 2, 0}, 9},
        {{0x29, 9, 0}, 3},                              // memory function
        {{0x4C, 0, 0, 0xFF, 0xC0}, 5},
        {{0x2D, 0, 0, 9, 0, 0, 0, 2, 0}, 9},
        {{0x59, 1, 0, 2, 0, 0, 0}, 7},                  // external name
        {{0x5A, 1, 0, 3, 0, 1, 0}, 7},                  // 3-D reference
        {{0x3C, 1, 0, 3, 0, 1, 0}, 7},
        {{0x7B, 1, 0, 0, 0, 9, 0, 0, 0, 2, 0}, 11},     // 3-D area
        {{0x3D, 1, 0, 0, 0, 9, 0, 0, 0, 2, 0}, 11},
    };
    for (const auto& [bytes, size] : tokens) {
        Bytes padded = bytes;
        padded.push_back(0x03);
        EXPECT_EQ(TokenSize(padded, 0, padded.size()), size) << std::hex << int(bytes[0]);
    }
}

TEST(TokenArray, RefusesUnknownAndCutTokens) {
    for (int id : {0x00, 0x18, 0x1A, 0x1B, 0x26, 0x46, 0x27, 0x28, 0x2E, 0x2F, 0x30, 0x38, 0x58, 0x3E, 0x7F,
                   0x80, 0x81, 0xA4, 0xC5, 0xFA}) {
        const Bytes tokens = {static_cast<std::uint8_t>(id), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(RefusedToken([&] { TokenSize(tokens, 0, tokens.size()); }), id) << std::hex << id;
    }
    try {
        const Bytes memArea = {0x26, 0, 0, 0, 0, 0, 0};
        TokenSize(memArea, 0, memArea.size());
        ADD_FAILURE() << "no exception";
    } catch (const EExcelException& e) {
        EXPECT_STREQ(e.what(), "Error reading formula, Token Id: 0x26 is not supported");
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
    // A bad token anywhere leaves every byte as it was.
    Bytes bad = {0x4C, 0, 0, 0xFF, 0xC0, 0x26, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(RefusedToken([&] { UXlsTokenArray_ArrangeSharedFormulas(bad, 0, bad.size(), 3, 3); }), 0x26);
    EXPECT_EQ(bad, (Bytes{0x4C, 0, 0, 0xFF, 0xC0, 0x26, 0, 0, 0, 0, 0, 0}));
    // Only the range is touched.
    Bytes framed = {0xAA, 0x4C, 1, 0, 0, 0xC0, 0xBB};
    UXlsTokenArray_ArrangeSharedFormulas(framed, 1, 6, 1, 1);
    EXPECT_EQ(framed, (Bytes{0xAA, 0x44, 2, 0, 1, 0xC0, 0xBB}));
}

TEST(TokenArray, RowAndColumnChangesRefuseTokensTheyWouldMove) {
    const TSheetInfo own = OnSheet(0, 0);
    const Bytes noRefs = {0x1E, 2, 0, 0x1E, 3, 0, 0x03, 0x17, 1, 0, 'x', 0x41, 1, 0, 0x43, 1, 0, 0, 0};
    EXPECT_EQ(RowChange(noRefs, 0, 5, 3, 0, 5, 3, own), -1);
    EXPECT_EQ(RowChange(noRefs, 0, -5, 0, 0, 0, 0, own, false), -1);

    const Bytes row7 = {0x1E, 1, 0, 0x24, 7, 0, 1, 0x00};  // $B$8 after a number
    EXPECT_EQ(RowChange(row7, 5, 2, 0, 0, 0, 0, own), 0x24);
    EXPECT_EQ(RowChange(row7, 8, 2, 0, 0, 0, 0, own), -1);   // inserted below it
    EXPECT_EQ(RowChange(row7, 5, -2, 0, 0, 0, 0, own), 0x24);
    EXPECT_EQ(RowChange(row7, 0, 0, 0, 1, -1, 0, own), 0x24);  // its column goes
    EXPECT_EQ(RowChange(row7, 5, 2, 0, 0, 0, 0, OnSheet(1, 0)), -1);  // another sheet changes
    EXPECT_EQ(RowChange(row7, 0, 0, 3, 0, 0, 0, own), -1);   // absolute: a copy keeps it
    EXPECT_EQ(RowChange(row7, 0, 0, 3, 0, 0, 0, own, false), 0x24);
    EXPECT_EQ(RowChange({0x44, 7, 0, 1, 0x80}, 0, 0, 3, 0, 0, 0, own), 0x44);  // relative row copied

    // A whole-column area starting above the insertion stays.
    const Bytes column = {0x25, 0, 0, 0xFF, 0xFF, 1, 0, 1, 0};
    EXPECT_EQ(RowChange(column, 5, 2, 0, 0, 0, 0, own), -1);
    EXPECT_EQ(RowChange(column, 0, 0, 0, 1, 1, 0, own), 0x25);
    EXPECT_EQ(RowChange({0x2B, 3, 0, 10, 0, 1, 0, 1, 0}, 5, -2, 0, 0, 0, 0, own), 0x2B);

    // 3-D tokens follow the sheet they point at.
    TSheetInfo lookup = OnSheet(2, 0);
    lookup.GetSheet = [](std::uint16_t index) { return index == 1 ? 2 : 0; };
    EXPECT_EQ(RowChange({0x3A, 1, 0, 7, 0, 1, 0}, 5, 2, 0, 0, 0, 0, lookup), 0x3A);
    EXPECT_EQ(RowChange({0x3A, 0, 0, 7, 0, 1, 0}, 5, 2, 0, 0, 0, 0, lookup), -1);

    // An array or table member moves with its own sheet only.
    EXPECT_EQ(RowChange({0x01, 7, 0, 1, 0}, 5, 2, 0, 0, 0, 0, own), 0x01);
    EXPECT_EQ(RowChange({0x02, 7, 0, 1, 0}, 0, 0, 0, 0, 3, 0, own), 0x02);
    EXPECT_EQ(RowChange({0x01, 7, 0, 1, 0}, 5, 2, 0, 0, 0, 0, OnSheet(1, 0)), -1);
    EXPECT_EQ(RowChange({0x1E, 1, 0, 0x26, 0, 0, 0, 0, 0, 0}, 5, 2, 0, 0, 0, 0, own), 0x26);
}
