#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/workbook/grid/GridTestApp.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/grid/UKalmiraGrid.h"

using namespace kalmira;

namespace {

using Points = std::vector<TPoint>;

// Fixed pitch (7 × 17 pixels a character at any font) and a record of
// every fill, line and text.
class TRecordingCanvas : public TCanvas {
public:
    struct Fill {
        TRect Rect;
        std::uint32_t Colour;
    };
    struct Text {
        TRect Clip;
        int X, Y;
        std::u16string Value;
        std::uint32_t Colour;
    };
    std::vector<Fill> Fills;
    std::vector<std::pair<Points, std::uint32_t>> Lines;
    std::vector<Text> Texts;

    TSize TextExtent(std::u16string_view text) override {
        return text.empty() ? TSize{} : TSize{7 * static_cast<int>(text.size()), 17};
    }
    int FitCount(std::u16string_view text, int width) override {
        return std::min(static_cast<int>(text.size()), width / 7);
    }
    int Ascent() override { return 14; }
    void TextOut(const TRect& clip, int x, int y, std::u16string_view text) override {
        Texts.push_back({clip, x, y, std::u16string(text), Font.Color});
    }
    void FillRect(const TRect& rect) override { Fills.push_back({rect, BrushColor}); }
    void Polyline(const Points& points) override { Lines.emplace_back(points, PenColor); }
};

// A new workbook in a grid whose columns are 80 and rows 17 pixels.
struct DrawFixture : ::testing::Test {
    TXLSAdapter adapter;
    TKalmiraImport facade;
    TKalmiraGrid grid;
    TRecordingCanvas canvas;

    DrawFixture() : grid((GridTestApp(), nullptr)) {}
    void SetUp() override {
        facade.SetAdapter(&adapter);
        facade.NewFile(1);
        facade.SetCellValue(1, 1, TVariant(u"long text here and more"));
        facade.SetCellValue(9, 9, TVariant(1.0));
        grid.SetKalmiraImport(&facade);
        grid.LoadSheet();
        grid.SetSelection({5, 5, 5, 5});
    }
    // Paints cell (col, row) as the grid does, at (80 (col - 1), 17 (row - 1)).
    void Paint(int col, int row, unsigned state = 0) {
        canvas = {};
        TDrawCellArgs a;
        a.Col = a.PaintCol = a.LastCol = col;
        a.Row = a.LastRow = row;
        a.CellClip = a.ContentRect = {80 * (col - 1), 17 * (row - 1), 80 * col, 17 * row};
        a.State = state;
        grid.MyDrawCell(canvas, a);
    }
    int Format(const std::u16string& numberFormat, int bottomColour = 0) {
        TKmrFormat f = facade.GetCellFormatDef1(1, 1);
        f.Format = numberFormat;
        if (bottomColour != 0) f.Borders.Bottom = {TKmrBorderStyle::fbs_Thin, bottomColour};
        return facade.AddFormat(f);
    }
};

TEST(CellDraw, TextPositionsAndCrossingLookup) {
    const TRect r{0, 0, 100, 40};
    struct Case {
        TTextVAlign v;
        TTextHAlign h;
        int rotation;
        bool general;
        int lines;
        TPoint start;
        TRect bounds;
    } cases[] = {
        {TTextVAlign::Top, TTextHAlign::Left, 0, false, 1, {1, 1}, {1, 1, 31, 11}},
        {TTextVAlign::Bottom, TTextHAlign::Right, 0, false, 2, {69, 19}, {69, 19, 99, 39}},
        {TTextVAlign::Center, TTextHAlign::Center, 0, false, 1, {35, 15}, {35, 15, 65, 25}},
        // Upright text with general alignment hangs from the right edge.
        {TTextVAlign::Bottom, TTextHAlign::Left, 90, true, 1, {89, 39}, {89, 9, 99, 39}},
        {TTextVAlign::Top, TTextHAlign::Left, 90, false, 1, {1, 31}, {1, 1, 11, 31}},
    };
    for (const Case& c : cases) {
        const long double a = c.rotation * std::numbers::pi_v<long double> / 180;
        const TTextPos p = TKalmiraGrid::CalcTextPos(c.v, c.h, a, r, 1, {30, 10}, c.general, false, c.lines,
                                                     std::sin(a), std::cos(a));
        EXPECT_EQ((TPoint{p.X, p.Y}), c.start) << c.rotation << " " << int(c.h);
        EXPECT_EQ(p.Bounds, c.bounds) << c.rotation << " " << int(c.h);
    }
    TSpawnedCellList list;
    for (auto [row, col] : {std::pair{5, 2}, {1, 3}, {5, 2}, {-1, 2}, {5, 2}, {2, -1}}) list.Add({row, col});
    int index = -1;
    EXPECT_TRUE(list.Find(TSpawnedCell::Key(2, 5), index));
    EXPECT_EQ(index, 1);  // column -1 sorts first, row -1 (unsigned) after every row of column 2
    EXPECT_FALSE(list.Find(TSpawnedCell::Key(2, 6), index));
    EXPECT_EQ(index, 4);
    EXPECT_TRUE(list.Find(TSpawnedCell::Key(-1, 2), index));
    EXPECT_EQ(index, 0);
}

TEST_F(DrawFixture, TextFlowsIntoEmptyNeighboursAndIsCutByAValue) {
    Paint(2, 1);  // B1 shows A1's text and hides the gridline under it
    ASSERT_EQ(canvas.Texts.size(), 1u);
    EXPECT_EQ(canvas.Texts[0].Value, u"long text here and more");
    EXPECT_EQ((TPoint{canvas.Texts[0].X, canvas.Texts[0].Y}), (TPoint{1, 16 - 17}));
    EXPECT_EQ(canvas.Texts[0].Clip, (TRect{80, 1, 160, 16}));
    EXPECT_EQ(canvas.Fills.back().Rect, (TRect{159, 0, 161, 16}));
    Paint(1, 1);
    EXPECT_EQ(canvas.Texts.at(0).Clip, (TRect{1, 1, 80, 16}));
    EXPECT_EQ(canvas.Fills.back().Rect, (TRect{79, 0, 81, 16}));
    facade.SetCellValue(1, 2, TVariant(2.0));
    Paint(1, 1);
    EXPECT_EQ(canvas.Texts.at(0).Clip, (TRect{1, 1, 79, 16}));
    Paint(3, 1);  // C1 sees B1's number, which is right-aligned and fits
    EXPECT_TRUE(canvas.Texts.empty());
}

TEST_F(DrawFixture, BackgroundsLinesAndInk) {
    struct Case {
        std::uint32_t color;
        TGridRect selection;
        std::uint32_t painted;
    } shades[] = {
        {0xFFFFFF, {1, 1, 2, 2}, 0xCEB2AD},
        {0x000A00, {1, 1, 2, 1}, 0x211200},
        {0x000000, {1, 1, 1, 2}, 0x5A4942},
        {0xFFFFFF, {1, 1, 1, 1}, 0xFFFFFF},  // a single cell shows the cursor frame
    };
    for (const Case& c : shades) {
        grid.BackgroundColor = c.color;
        grid.SetSelection(c.selection);
        Paint(1, 1, gdSelected);
        EXPECT_EQ(canvas.Fills.at(0).Colour, c.painted) << std::hex << c.color;
    }
    grid.SetSelection({5, 5, 5, 5});
    Paint(4, 4);
    ASSERT_EQ(canvas.Lines.size(), 1u);
    EXPECT_EQ(canvas.Lines[0], (std::pair{Points{{240, 67}, {319, 67}, {319, 50}}, 0xC0C0C0u}));
    // A bottom border (palette 3 is red) is one pixel longer each way.
    facade.SetCellValue(4, 4, TVariant(-5.0));
    facade.SetCellFormat(4, 4, Format(u"0;[Red]-0", 3));
    Paint(4, 4);
    ASSERT_EQ(canvas.Lines.size(), 2u);
    EXPECT_EQ(canvas.Lines[0], (std::pair{Points{{239, 67}, {320, 67}}, facade.GetColorPalette(3)}));
    EXPECT_EQ(canvas.Lines[1], (std::pair{Points{{319, 66}, {319, 51}}, 0xC0C0C0u}));
    ASSERT_EQ(canvas.Texts.size(), 1u);
    EXPECT_EQ(canvas.Texts[0].Value, u"-5");
    EXPECT_EQ(canvas.Texts[0].Colour, 0x0000FFu);
}

TEST_F(DrawFixture, MergedRangeDrawsItsTextInEachPiece) {
    facade.SetCellValue(2, 2, TVariant(u"abcdefghijklmnopqrstuvwxyz0123"));
    TKmrFormat f = facade.GetCellFormatDef1(2, 2);
    f.HAlignment = THKmrAlignment::fha_center;
    facade.SetCellFormat(2, 2, facade.AddFormat(f));
    facade.MergeCells(2, 2, 4, 4);
    for (int col : {2, 3, 4}) {
        Paint(col, 4);
        ASSERT_EQ(canvas.Texts.size(), 1u) << col;
        // Centred in B2:D4 (80..320 × 17..68), clipped to the piece.
        EXPECT_EQ((TPoint{canvas.Texts[0].X, canvas.Texts[0].Y}), (TPoint{95, 50}));
        const TRect clips[] = {{81, 51, 160, 67}, {160, 51, 240, 67}, {240, 51, 319, 67}};
        EXPECT_EQ(canvas.Texts[0].Clip, clips[col - 2]) << col;
        EXPECT_EQ(canvas.Lines.at(0).first, (Points{{80, 67}, {319, 67}, {319, 16}})) << col;
    }
}

TEST_F(DrawFixture, PrintedLinesLeaveOutCrossedEdges) {
    TSpawnedCellList spawned;
    spawned.Add({1, 1});
    grid.DrawLines(canvas, {1, 1, 2, 1}, 1, 1, 1, {0, 0, 0, 0}, true, spawned, 1, false);
    const std::vector<std::pair<Points, std::uint32_t>> expected{
        {{{0, 0}, {160, 0}}, 0xC0C0C0},
        {{{0, 17}, {160, 17}}, 0xC0C0C0},
        {{{0, 0}, {0, 17}}, 0xC0C0C0},
        {{{160, 0}, {160, 17}}, 0xC0C0C0},
    };
    EXPECT_EQ(canvas.Lines, expected);
    EXPECT_EQ(canvas.PenWidth, 1);
}

}  // namespace
