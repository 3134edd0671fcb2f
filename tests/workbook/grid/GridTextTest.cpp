#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/workbook/grid/GridTestApp.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/grid/UKalmiraGrid.h"

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
    // 13 px × 2/3 → 9 px: 5 px a character, 12 high, lowered by 12 / 8 → 2.
    TSize extent;
    int ascent = 0;
    TKalmiraGrid::CalcTextExtent(*book, canvas, u"abcd", {{3, subIndex}}, 1, extent, ascent);
    EXPECT_EQ(extent, (TSize{14 + 10, 17}));
    EXPECT_EQ(ascent, 14);
    TKalmiraGrid::CalcTextExtent(*book, canvas, u"ab", {{1, subIndex}}, 1, extent, ascent);
    EXPECT_EQ(extent, (TSize{10, -2 + 12}));
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

}  // namespace
