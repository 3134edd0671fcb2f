#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include <QImage>

#include "tests/workbook/grid/GridTestApp.h"
#include "tests/workbook/storage/MessageOf.h"
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
        {TTextVAlign::Bottom, TTextHAlign::Right, 0, false, 2, {69, 19}, {69, 19, 99, 39}},
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
    // Text keeps two pixels from the sides, one from top and bottom.
    EXPECT_EQ((TPoint{canvas.Texts[0].X, canvas.Texts[0].Y}), (TPoint{2, 16 - 17}));
    EXPECT_EQ(canvas.Texts[0].Clip, (TRect{80, 1, 160, 16}));
    EXPECT_EQ(canvas.Fills.back().Rect, (TRect{159, 0, 161, 16}));
    Paint(1, 1);
    EXPECT_EQ(canvas.Texts.at(0).Clip, (TRect{2, 1, 80, 16}));
    EXPECT_EQ(canvas.Fills.back().Rect, (TRect{79, 0, 81, 16}));
    facade.SetCellValue(1, 2, TVariant(2.0));
    Paint(1, 1);
    EXPECT_EQ(canvas.Texts.at(0).Clip, (TRect{2, 1, 78, 16}));
    Paint(3, 1);  // C1 sees B1's number, which is right-aligned and fits
    EXPECT_TRUE(canvas.Texts.empty());
}

// A number too wide for its 80-pixel cell (76 inside the padding, ten
// characters) never flows: General shortens it, other formats fill the
// cell with "#".
TEST_F(DrawFixture, NumbersThatDoNotFitShortenOrShowHashes) {
    struct Case {
        TVariant value;
        const char16_t* format;
        bool wrap;
        const char16_t* shown;
    } cases[] = {
        {12345678901234.0, u"General", false, u"1.2346E+13"},
        {-12345678901234.0, u"", false, u"-1.235E+13"},
        {123456.789012, u"General", false, u"123456.789"},
        {1234567890.0, u"General", false, u"1234567890"},  // fits as it is
        {12345678901.0, u"General", true, u"1.2346E+10"},  // wrapping leaves numbers on one line
        {45366.0, u"dd.mm.yyyy hh:mm", false, u"##########"},
        {1234567890.5, u"0.00", false, u"##########"},
        {45366.0, u"d.m.yyyy", false, u"15.3.2024"},
    };
    for (const Case& c : cases) {
        facade.SetCellValue(12, 3, c.value);
        TKmrFormat f = facade.GetCellFormatDef1(12, 3);
        f.Format = c.format;
        f.WrapText = c.wrap;
        facade.SetCellFormat(12, 3, facade.AddFormat(f));
        Paint(3, 12);
        ASSERT_EQ(canvas.Texts.size(), 1u) << Utf16ToUtf8(c.shown);
        EXPECT_EQ(Utf16ToUtf8(canvas.Texts[0].Value), Utf16ToUtf8(c.shown));
        EXPECT_EQ(canvas.Texts[0].X + 7 * static_cast<int>(canvas.Texts[0].Value.size()), 3 * 80 - 2);
        // The empty neighbours on either side show nothing of it.
        for (int col : {2, 4}) {
            Paint(col, 12);
            EXPECT_TRUE(canvas.Texts.empty()) << col << " " << Utf16ToUtf8(c.shown);
        }
    }
    // Two columns wide, a merged range shows the whole number.
    facade.SetCellValue(12, 3, TVariant(12345678901234.0));
    facade.SetCellFormat(12, 3, 15);
    facade.MergeCells(12, 3, 12, 4);
    Paint(3, 12);
    ASSERT_EQ(canvas.Texts.size(), 1u);
    EXPECT_EQ(canvas.Texts[0].Value, u"12345678901234");
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
    TKmrFormat f = facade.GetCellFormatDef1(4, 4);
    f.Format = u"0;[Red]-0";
    f.Borders.Bottom = {TKmrBorderStyle::fbs_Thin, 3};
    facade.SetCellFormat(4, 4, facade.AddFormat(f));
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
        const TRect clips[] = {{82, 51, 160, 67}, {160, 51, 240, 67}, {240, 51, 318, 67}};
        EXPECT_EQ(canvas.Texts[0].Clip, clips[col - 2]) << col;
        EXPECT_EQ(canvas.Lines.at(0).first, (Points{{80, 67}, {319, 67}, {319, 16}})) << col;
    }
}

// Real pixels on the Qt canvas: header highlight, fills, the pattern
// tiled from the device origin, gridlines.
TEST_F(DrawFixture, ScreenPixels) {
    auto fill = [&](int row, int col, int pattern) {
        TKmrFormat f = facade.GetCellFormatDef1(row, col);
        f.FillPattern = {pattern, 3, 2};
        facade.SetCellFormat(row, col, facade.AddFormat(f));
    };
    fill(3, 2, 2);
    fill(3, 3, 3);
    grid.resize(500, 200);
    grid.show();
    grid.LoadSheet();
    grid.SetSelection({5, 5, 5, 5});
    QImage image(grid.viewport()->size(), QImage::Format_RGB32);
    grid.viewport()->render(&image);
    auto at = [&](int x, int y) { return image.pixel(x, y) & 0xFFFFFF; };
    const std::uint32_t p3 = facade.GetColorPalette(3);
    const QRgb red = QColor(p3 & 0xFF, p3 >> 8 & 0xFF, p3 >> 16 & 0xFF).rgb() & 0xFFFFFF;
    // Column c starts at 48 + 80 (c - 1), row r at 17 r.
    EXPECT_EQ(at(48 + 4 * 80 + 5, 3), 0xAABEF2u);             // E's header
    EXPECT_EQ(at(48 + 4 * 80 + 79, 8), 0x808080u);            // its right line
    EXPECT_EQ(at(48 + 80 + 40, 3 * 17 + 8), red);             // B3 solid
    EXPECT_EQ(at(48 + 3 * 80 + 79, 5 * 17 + 16), 0xC0C0C0u);  // D6's corner
    const QRgb a = at(48 + 2 * 80 + 40, 3 * 17 + 8);
    EXPECT_NE(a, at(48 + 2 * 80 + 41, 3 * 17 + 8));  // C3's checkerboard
    EXPECT_EQ(a, at(48 + 2 * 80 + 42, 3 * 17 + 8));
    EXPECT_TRUE(a == red || at(48 + 2 * 80 + 41, 3 * 17 + 8) == red);
}

// Real pixels: a cell whose font is a superscript has its ink end above the
// baseline of a plain "x" beside it, a subscript cell below it; neither is
// cut by its cell.
TEST_F(DrawFixture, RaisedAndLoweredCellsOnScreen) {
    for (auto [row, style] : {std::pair{3, TKmrFontStyle::fs_Superscript}, {4, TKmrFontStyle::fs_Subscript}}) {
        facade.SetRowHeight(row, 600);  // 40 pixels, 120 at zoom 300
        facade.SetCellValue(row, 2, TVariant(u"2"));
        facade.SetCellValue(row, 3, TVariant(u"x"));
        TKmrFormat f = facade.GetCellFormatDef1(row, 2);
        f.Font.Style = {style};
        facade.SetCellFormat(row, 2, facade.AddFormat(f));
    }
    grid.resize(1000, 700);
    grid.show();
    grid.LoadSheet();
    grid.SetZoom(300);
    grid.SetSelection({6, 6, 6, 6});
    QImage image(grid.viewport()->size(), QImage::Format_RGB32);
    grid.viewport()->render(&image);
    // The first and last rows with dark ink inside a cell.
    auto ink = [&](int col, int row) {
        const QRect r = grid.CellRect(col, row);
        int top = -1, bottom = -1;
        for (int y = r.top() + 1; y < r.bottom(); ++y)
            for (int x = r.left() + 1; x < r.right(); ++x)
                if (qGray(image.pixel(x, y)) < 128) {
                    if (top < 0) top = y;
                    bottom = y;
                }
        return std::tuple{top, bottom, r.top(), r.bottom()};
    };
    const auto [supTop, supBottom, supCellTop, supCellBottom] = ink(2, 3);
    const auto [xTop, xBottom, xCellTop, xCellBottom] = ink(3, 3);
    EXPECT_LT(supBottom, xBottom - 3);  // raised by most of a small line
    EXPECT_LT(supTop, xTop);
    EXPECT_GT(supTop, supCellTop + 1);
    const auto [subTop, subBottom, subCellTop, subCellBottom] = ink(2, 4);
    const auto [x2Top, x2Bottom, x2CellTop, x2CellBottom] = ink(3, 4);
    EXPECT_GT(subBottom, x2Bottom + 1);  // lowered by an eighth of its line
    EXPECT_LT(subBottom, subCellBottom - 1);
    EXPECT_GE(subTop, x2Top);  // smaller, so not higher than the x
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

// An 8 × 11 inch page at 600 dpi, its whole paper printable.
class TRecordingPrinter : public TKmrPrinter {
public:
    int Dpi = 600;
    std::vector<std::string> Events;
    TRecordingCanvas Page;
    int DpiX() override { return Dpi; }
    int DpiY() override { return Dpi; }
    int PageWidth() override { return 8 * Dpi; }
    int PageHeight() override { return 11 * Dpi; }
    void BeginDoc() override { Events.push_back("begin"); }
    void NewPage() override { Events.push_back("new"); }
    void EndDoc() override { Events.push_back("end"); }
    TCanvas& Canvas() override { return Page; }
    std::vector<std::u16string> Texts() const {
        std::vector<std::u16string> t;
        for (const auto& x : Page.Texts) t.push_back(x.Value);
        return t;
    }
};

// N106 on the default page setup: columns of 501, rows of 106 pixels.
struct PrintFixture : DrawFixture {
    TRecordingPrinter printer;
    void SetUp() override {
        DrawFixture::SetUp();
        facade.SetCellValue(106, 14, TVariant(1.0));
        grid.SetPrinter(&printer);
        grid.OnNow = [] { return 45000.5; };
    }
    TXlsCellRange Page(int row, int col) {
        TXlsCellRange r{col, row, 0, 0};
        grid.CalcPrintedPage(row, col, r.Bottom, r.Right, {1, 1, 14, 106}, grid.CalcPrintParams({1, 1, 14, 106}));
        return r;
    }
    int Pages() {
        int n = 0;
        grid.CalcNumberOfPrintingPages(n);
        return n;
    }
};

using Range = TXlsCellRange;

// xlsview_check.py counts the pages of a sheet on the default setup.
TEST_F(PrintFixture, PagesFromThePageSetup) {
    EXPECT_EQ((std::vector<Range>{Page(1, 1), Page(52, 1), Page(103, 8)}),
              (std::vector<Range>{{1, 1, 7, 51}, {1, 52, 7, 102}, {8, 103, 14, 106}}));
    facade.InsertHPageBreak(20);
    EXPECT_EQ(Page(1, 1).Bottom, 20);
    facade.SetPrintToFit(true);  // breaks give way to the fit
    facade.SetPrintNumberOfHorizontalPages(1);
    facade.SetPrintNumberOfVerticalPages(0);
    EXPECT_EQ(grid.CalcPrintParams({1, 1, 14, 106}).Scale, 55);
    EXPECT_EQ(Pages(), 2);
    // A margin beyond the page, a scale of 0.
    facade.SetPrintToFit(false);
    facade.SetPrintScale(0);
    facade.SetPrintMargins({0, 0, 100, 0.5, 0.3, 0.3});
    const TPrintParams p = grid.CalcPrintParams({1, 1, 14, 106});
    EXPECT_EQ(p.PrintRect, (TRect{0, 0, 0, 6300}));
    EXPECT_EQ(p.Scale, 10);
    EXPECT_EQ(Pages(), 28);  // one column a page, the break after row 20
}

TEST_F(PrintFixture, PrintedPagesHeadersAndFooters) {
    facade.SetPageHeader(u"&L&A &&&F&C&\"Courier&R&B&99999999999x");
    facade.SetPageFooter(u"&CPage &P of &N");
    grid.Print(3, 4);
    EXPECT_EQ(printer.Events, (std::vector<std::string>{"begin", "new", "end"}));
    const auto texts = printer.Texts();
    for (const char16_t* t : {u"Page ", u"3 of ", u"4 of ", u"6", u"Sheet1 ", u"&", u"Courier", u"x"})
        EXPECT_NE(std::find(texts.begin(), texts.end(), t), texts.end()) << Utf16ToUtf8(t);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), u"Page "), 2);
    for (const auto& t : printer.Page.Texts)
        if (t.Value == u"6") {
            EXPECT_EQ(t.Y, 6270 - 14);  // the footer's baseline
        }
    // Ink stays within the margins.
    for (const auto& f : printer.Page.Fills) {
        EXPECT_GE(f.Rect.Left, 449);
        EXPECT_LE(f.Rect.Bottom, 6009);
    }
    // A range counts its own pages (a page beyond them: xlsview_check.py).
    printer = {};
    grid.Print({1, 1, 1, 1}, 1, -1);
    EXPECT_EQ(printer.Texts(), (std::vector<std::u16string>{u"long text here and more", u"Sheet1 ", u"&", u"Courier",
                                                            u"x", u"Page ", u"1 of ", u"1"}));
}

TEST_F(PrintFixture, EmptySheetsLineWidthsAndNoWorkbook) {
    // A blank at A65536 and IV1 holds no value: nothing to print.
    facade.NewFile(1);
    facade.SetCellFormat(65536, 1, 0);
    facade.SetCellFormat(1, 256, 0);
    EXPECT_EQ(grid.GetMaxPrintableRow(), 0);
    EXPECT_EQ(grid.GetMaxPrintableCol(), 0);
    EXPECT_EQ(Pages(), 1);
    facade.SetPageHeader(u"head");
    grid.Print(1, -1);
    EXPECT_EQ(printer.Events, (std::vector<std::string>{"begin", "end"}));
    EXPECT_EQ(printer.Texts(), (std::vector<std::u16string>{u"head"}));
    EXPECT_TRUE(printer.Page.Fills.empty());

    // Printed lines are as wide as the printer's pixels per screen pixel.
    TSpawnedCellList none;
    for (const auto& [ratio, width] : {std::pair{6.25L, 4}, {3.125L, 2}}) {
        grid.DrawLines(canvas, {1, 1, 1, 1}, 1, ratio, ratio, {}, true, none, 1, false);
        EXPECT_EQ(canvas.PenWidth, width) << static_cast<double>(ratio);
    }

    printer = {};
    facade.CloseFile();
    EXPECT_THROW(grid.Print(1, -1), std::exception);
    grid.SetKalmiraImport(nullptr);
    int pages = 0;
    EXPECT_EQ(MessageOf([&] { grid.CalcNumberOfPrintingPages(pages); }), "There is no open file");
    EXPECT_TRUE(printer.Events.empty());
}

}  // namespace
