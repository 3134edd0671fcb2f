#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include <QFontInfo>

#include "tests/workbook/grid/GridTestApp.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/grid/UKalmiraGrid.h"
#include "workbook/storage/XlsMessages.h"

using namespace kalmira;

namespace {

// Every character advances round(em × 7 / 13), lines are round(em × 17 / 13)
// high: the default 13-pixel font gives 7 × 17.
class TFixedCanvas : public TCanvas {
public:
    TFixedCanvas() { Font.Height = -13; }
    int Em() const { return std::max(1, std::abs(Font.Height)); }
    int Advance() const { return static_cast<int>(std::nearbyint(Em() * 7 / 13.0)); }
    TSize TextExtent(std::u16string_view text) override {
        if (text.empty()) return {};
        return {Advance() * static_cast<int>(text.size()), static_cast<int>(std::nearbyint(Em() * 17 / 13.0))};
    }
    int FitCount(std::u16string_view text, int width) override {
        return std::min(static_cast<int>(text.size()), width / Advance());
    }
    int Ascent() override { return static_cast<int>(std::nearbyint(Em() * 14 / 13.0)); }
};

struct TextFixture : ::testing::Test {
    TXLSAdapter adapter;
    std::unique_ptr<TExcelFile> book{adapter.GetWorkbook()};
    TFixedCanvas canvas;
    void SetUp() override {
        book->Connect();
        book->NewFile(1);
    }
    std::vector<std::u16string> Split(std::u16string_view text, int width, bool stacked = false,
                                      const TRTFRunList& runs = {}, TSize* extent = nullptr) {
        std::vector<std::u16string> lines;
        std::vector<TRTFRunList> lineRuns;
        TSize size;
        TKalmiraGrid::SplitText(*book, canvas, text, width, 1, stacked, runs, lines, lineRuns, size);
        if (extent != nullptr) *extent = size;
        return lines;
    }
};

using Lines = std::vector<std::u16string>;

TEST_F(TextFixture, SplitTextCutsAtSpacesLineFeedsAndWholeCharacters) {
    const TRTFRunList rich{{1, 0}};  // font 0 is the default 13-pixel Arial
    struct Case {
        std::u16string text;
        int width;
        bool stacked;
        TRTFRunList runs;
        Lines lines;
    } cases[] = {
        {u"", 100, false, {}, {}},
        {u"abcdefghij", 28, false, {}, {u"abcd", u"efgh", u"ij"}},
        {u"aaaa bbbb", 42, false, {}, {u"aaaa ", u"bbbb"}},
        {u"aa  bb", 700, false, {}, {u"aa  bb"}},
        {u"ab\ncd\r", 700, false, {}, {u"ab", u"cd\r"}},
        {u"abc", 700, true, {}, {u"a", u"b", u"c"}},
        // A surrogate pair is one character: never cut, never stacked apart.
        {u"a\U0001F600b", 14, false, {}, {u"a", u"\U0001F600", u"b"}},
        {u"a\U0001F600b", 700, true, {}, {u"a", u"\U0001F600", u"b"}},
        // Rich lines grow only while one more character still fits.
        {u"abcdefgh", 30, false, rich, {u"abcd", u"efgh"}},
        {u"abcdefgh", 6, false, rich, {u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Split(c.text, c.width, c.stacked, c.runs), c.lines) << c.width << " " << c.lines.size();
    TSize extent;
    Split(u"abcdefghij", 28, false, {}, &extent);
    EXPECT_EQ(extent, (TSize{28, 17}));  // the widest line by one line's height
}

TEST_F(TextFixture, FontsAnglesAndRunsMeasuredOnOneBaseline) {
    TKmrFont sub = book->GetFontList(0);
    sub.Style = {TKmrFontStyle::fs_Subscript};
    const auto subIndex = static_cast<std::uint16_t>(book->AddFont(sub));
    // 13 px × 2/3 → 9 px: 5 px a character, 12 high (10 above the baseline),
    // lowered by 12 / 8 → 2: its descent of 2 reaches 4 below the canvas
    // font's baseline (14 down a 17-pixel line), one more than the 3 there.
    TSize extent;
    int ascent = 0;
    TKalmiraGrid::CalcTextExtent(*book, canvas, u"abcd", {{3, subIndex}}, 1, extent, ascent);
    EXPECT_EQ(extent, (TSize{14 + 10, 14 + 4}));
    EXPECT_EQ(ascent, 14);
    TKalmiraGrid::CalcTextExtent(*book, canvas, u"ab", {{1, subIndex}}, 1, extent, ascent);
    EXPECT_EQ(extent, (TSize{10, 14 + 4}));  // the normal baseline stays the line's
    EXPECT_EQ(canvas.Font.Height, -13);  // the canvas font comes back

    // A run crossing a line break keeps its font on the next line.
    std::vector<std::u16string> lines;
    std::vector<TRTFRunList> lineRuns;
    TKalmiraGrid::SplitText(*book, canvas, u"ab cd", 24, 1, false, {{2, subIndex}}, lines, lineRuns, extent);
    ASSERT_EQ(lines, (Lines{u"ab ", u"cd"}));
    EXPECT_EQ(lineRuns[1], (TRTFRunList{{1, subIndex}}));

    struct {
        std::uint16_t size20;
        long double zoom;
        int height;
    } fonts[] = {{200, 1, -13}, {220, 1, -15}, {195, 0.5L, -6}, {0, 1, -1}, {0xFFFF, 4, -4096}};
    for (const auto& f : fonts) {
        TKmrFont font;
        font.Size20 = f.size20;
        font.Style = {TKmrFontStyle::fs_Bold};
        font.ColorIndex = 12;
        TKalmiraGrid::LoadFont(nullptr, nullptr, 0x123456, f.zoom, canvas, font);
        EXPECT_EQ(canvas.Font.Height, f.height) << f.size20;
        EXPECT_TRUE(canvas.Font.Bold && canvas.Font.Color == 0x123456);
    }
    bool stacked = false;
    EXPECT_EQ(TKalmiraGrid::CalcAngle(255, stacked), 0);
    EXPECT_TRUE(stacked);
    EXPECT_NEAR(static_cast<double>(TKalmiraGrid::CalcAngle(135, stacked)), -std::numbers::pi / 4, 1e-12);
    EXPECT_FALSE(stacked);
    EXPECT_EQ(TKalmiraGrid::CalcAngle(181, stacked), 0);
    TCanvasFont rotated;
    TKalmiraGrid::RotateFont(rotated, 135);
    EXPECT_EQ(TKalmiraGrid::GetFontRotation(rotated), -450);
    EXPECT_EQ(TKalmiraGrid::GetRuns({{1, 5}, {4, 6}, {9, 7}}, 4, 5), (TRTFRunList{{1, 6}}));
}

// A canvas of TFixedCanvas's metrics that records what it draws.
class TDrawnCanvas : public TFixedCanvas {
public:
    struct Text {
        int X, Y, Height;
        std::u16string Value;
        std::uint32_t Colour;
    };
    std::vector<Text> Texts;
    void TextOut(const TRect&, int x, int y, std::u16string_view text) override {
        Texts.push_back({x, y, TextExtent(text).cy, std::u16string(text), Font.Color});
    }
};

// Superscripts go up from the normal baseline, subscripts down, in runs and
// in text that is one as a whole; measuring makes room for both.
TEST_F(TextFixture, RaisedAndLoweredTextOnTheRightSideOfTheBaseline) {
    auto styled = [&](TKmrFontStyle style, int colour = 0x7FFF) {
        TKmrFont font = book->GetFontList(0);
        font.Style = {style};
        font.ColorIndex = colour;
        return static_cast<std::uint16_t>(book->AddFont(font));
    };
    const std::uint16_t sup = styled(TKmrFontStyle::fs_Superscript);
    const std::uint16_t sub = styled(TKmrFontStyle::fs_Subscript);
    const std::uint16_t plain = styled(TKmrFontStyle::fs_Bold);
    // 9-pixel pieces are 12 high with 10 above their baseline; a superscript
    // goes up by 12 / 1.5 = 8, a subscript down by 2. The canvas font's
    // baseline lies 14 below the line's top (17 high).
    struct Case {
        std::u16string text;
        TRTFRunList runs;
        TSubscriptData whole;
        TSize extent;
        int baseline;                // of the line, from its top
        std::vector<int> pieceTops;  // of each piece drawn
    } cases[] = {
        // x²: the 2's bottom (8 + 12 - 2 = 18 - 8) lies above the x's baseline.
        {u"x2", {{2, sup}}, {}, {12, 18 + 3}, 18, {18 - 14, 18 - 8 - 10}},
        // H₂O: the 2 reaches 4 below the baseline, the O is on it again.
        {u"H2O", {{2, sub}, {3, plain}}, {}, {7 + 5 + 7, 14 + 4}, 14, {0, 14 + 2 - 10, 0}},
        // Whole cells: the canvas font stays the cell's full one.
        {u"2", {}, TKalmiraGrid::GetSubscriptData(1 << 3), {5, 18 + 3}, 18, {0}},
        {u"2", {}, TKalmiraGrid::GetSubscriptData(1 << 4), {5, 18}, 14, {6}},
    };
    for (const Case& c : cases) {
        TSize extent;
        int ascent = 0;
        TKalmiraGrid::CalcTextExtent(*book, canvas, c.text, c.runs, 1, extent, ascent, c.whole);
        EXPECT_EQ(extent, c.extent) << c.pieceTops.size();
        EXPECT_EQ(ascent, c.baseline) << c.pieceTops.size();
        TDrawnCanvas drawn;
        TKalmiraGrid::WriteText(*book, drawn, {0, 0, 100, 100}, 0, 0, c.text, c.runs, 1, c.whole);
        ASSERT_EQ(drawn.Texts.size(), c.pieceTops.size());
        for (std::size_t i = 0; i < drawn.Texts.size(); ++i) EXPECT_EQ(drawn.Texts[i].Y, c.pieceTops[i]) << i;
        EXPECT_EQ(drawn.Font.Height, -13);
    }
    // A whole-cell superscript cut into lines fits the smaller font: 5 a
    // character, not 7.
    std::vector<std::u16string> lines;
    std::vector<TRTFRunList> lineRuns;
    TSize extent;
    TKalmiraGrid::SplitText(*book, canvas, u"abcdefgh", 20, 1, false, {}, lines, lineRuns, extent,
                            TKalmiraGrid::GetSubscriptData(1 << 3));
    EXPECT_EQ(lines, (Lines{u"abcd", u"efgh"}));
}

// A run's colour goes through the palette; the automatic colour (and an
// index beyond the palette) keeps the cell's colour.
TEST_F(TextFixture, EachRunInItsOwnColour) {
    auto coloured = [&](int colour) {
        TKmrFont font = book->GetFontList(0);
        font.ColorIndex = colour;
        return static_cast<std::uint16_t>(book->AddFont(font));
    };
    const std::uint16_t red = coloured(3);
    const std::uint16_t automatic = coloured(0x7FFF);
    const std::uint16_t beyond = coloured(57);
    const std::uint16_t blue = coloured(5);
    TDrawnCanvas drawn;
    drawn.Font.Color = 0x123456;
    TKalmiraGrid::WriteText(*book, drawn, {0, 0, 100, 100}, 0, 0, u"abcde",
                            {{2, red}, {3, automatic}, {4, beyond}, {5, blue}}, 1, {});
    ASSERT_EQ(drawn.Texts.size(), 5u);
    const std::uint32_t want[] = {0x123456, book->GetColorPalette(3), 0x123456, 0x123456, book->GetColorPalette(5)};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(drawn.Texts[i].Colour, want[i]) << i;
    EXPECT_NE(want[1], want[4]);
    EXPECT_EQ(drawn.Font.Color, 0x123456u);
}

TEST(QtCanvas, MeasuresAsItFits) {
    GridTestApp();
    TQtCanvas canvas;
    EXPECT_EQ(canvas.TextExtent(u""), (TSize{}));
    canvas.Font.Height = 0;  // clamped to one pixel, not the previous font
    const TSize tiny = canvas.TextExtent(u"Mg");
    canvas.Font.Height = -40;
    const TSize big = canvas.TextExtent(u"Mg");
    EXPECT_LT(tiny.cy, big.cy);
    const std::u16string text = u"The quick brown fox jumps";
    const int n = canvas.FitCount(text, 150);
    ASSERT_GT(n, 0);
    ASSERT_LT(n, static_cast<int>(text.size()));
    EXPECT_LE(canvas.TextExtent(std::u16string_view(text).substr(0, n)).cx, 150);
    EXPECT_GT(canvas.TextExtent(std::u16string_view(text).substr(0, n + 1)).cx, 150);
}

// The sheets' usual faces come from the fonts scripts/deps installs: the
// same face (so the same widths) as their metric-compatible twins, also
// when the name carries a Windows character set.
TEST(QtCanvas, SheetFontsGetTheirMetricTwins) {
    GridTestApp();
    const std::pair<const char16_t*, const char*> names[] = {
        {u"Arial", "Liberation Sans"},          {u"Arial CE", "Liberation Sans"},
        {u"Times New Roman", "Liberation Serif"}, {u"Times New Roman CE", "Liberation Serif"},
        {u"Courier New", "Liberation Mono"},    {u"courier new cyr", "Liberation Mono"},
        {u"Calibri", "Carlito"},                {u"Cambria", "Caladea"},
    };
    for (const auto& [name, twin] : names) {
        TQtCanvas canvas;
        canvas.Font.Name = name;
        canvas.Font.Height = -13;
        EXPECT_EQ(QFontInfo(QtFont(canvas.Font)).family().toStdString(), twin) << Utf16ToUtf8(name);
        const TSize size = canvas.TextExtent(u"1528 Horní Lhota");
        canvas.Font.Name = QString(twin).toStdU16String();
        EXPECT_EQ(size, canvas.TextExtent(u"1528 Horní Lhota")) << Utf16ToUtf8(name);
    }
    const std::pair<const char16_t*, const char*> families[] = {
        {u"Arial CE", "Arial"}, {u"Arial Baltic", "Arial"}, {u"CE", "CE"}, {u"Arial Black", "Arial Black"}, {u"", ""}};
    for (const auto& [name, family] : families) EXPECT_EQ(FontFamily(name).toStdString(), family);
}

}  // namespace
