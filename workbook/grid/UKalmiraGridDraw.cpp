// Cell drawing: a cell's value through its number format, in its font and
// alignment, with fills, borders, merged ranges and text flowing over empty
// neighbours; and the backgrounds and lines of printed pages.
#include <algorithm>
#include <cmath>

#include <QLineEdit>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/UKmrNumberFormat.h"
#include "workbook/drawing/UXlsPictures.h"
#include "workbook/grid/UKalmiraGrid.h"
#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

constexpr std::uint32_t LineColor = 0xC0C0C0;
constexpr std::uint32_t HeaderLineColor = 0x808080;
constexpr std::uint32_t HeaderHighlight = 0xF2BEAA;
constexpr std::uint32_t FixedRowColor = 0x800000;
constexpr std::uint32_t DarkSelection = 0x5A4942;

bool IsBorder(const TKmrOneBorder& b) { return b.Style != TKmrBorderStyle::fbs_None; }

// n / 100 rounded, halves to even (n >= 0).
int DivRound100(int n) {
    const int q = n / 100;
    const int r = n % 100;
    return r > 50 || (r == 50 && q % 2 == 1) ? q + 1 : q;
}

// The selection shading of a background colour.
std::uint32_t Shaded(std::uint32_t c) {
    if ((c & 0xFFFFFF) == 0) return DarkSelection;
    const int lo = static_cast<int>(c & 0xFF);
    const int mid = static_cast<int>(c >> 8 & 0xFF);
    const int hi = static_cast<int>(c >> 16 & 0xFF);
    return static_cast<std::uint32_t>(DivRound100(hi * 68 + 3300)) << 16 |
           static_cast<std::uint32_t>(DivRound100(mid * 65 + 1200)) << 8 |
           static_cast<std::uint32_t>(DivRound100(lo * 68));
}

bool Overlap(const TRect& a, const TRect& b) {
    return std::max(a.Left, b.Left) < std::min(a.Right, b.Right) &&
           std::max(a.Top, b.Top) < std::min(a.Bottom, b.Bottom);
}

int Round(long double v) { return RoundEven(v); }

// The brush's pattern goes when the drawing ends, however it ends.
struct TBrushGuard {
    TCanvas& Canvas;
    ~TBrushGuard() { Canvas.BrushBitmap = nullptr; }
};

void SetPen(TCanvas& canvas, std::uint32_t colour) {
    if (canvas.PenColor != colour) canvas.PenColor = colour;
}

}  // namespace

// ---- Crossings

void TSpawnedCellList::Add(const TSpawnedCell& cell) {
    FItems.push_back(cell);
    FSorted = false;
}

void TSpawnedCellList::Sort() {
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const TSpawnedCell& a, const TSpawnedCell& b) { return a.Key() < b.Key(); });
    FSorted = true;
}

bool TSpawnedCellList::Find(std::int64_t key, int& index) {
    if (!FSorted) Sort();
    int lo = 0;
    int hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const std::int64_t k = FItems[static_cast<std::size_t>(mid)].Key();
        if (k < key) {
            lo = mid + 1;
        } else {
            if (k == key) found = true;
            hi = mid - 1;
        }
    }
    index = lo;
    return found;
}

// ---- Cell queries

bool TKalmiraGrid::IsEmptyCell(int row, int col) {
    // Row 65536 and column 256 count as occupied: text never flows there.
    if (row < 1 || row > 65535 || col < 1 || col > 255) return false;
    if (!Open()) return true;
    const TVariant v = GetCellValue(row, col);
    if (v.IsEmpty() || v.VarType() == TVarType::Null) return true;
    return v.VarType() == TVarType::String && v.Text().empty();
}

bool TKalmiraGrid::CellCanSpawn(int row, int col, THKmrAlignment blocking) {
    TKmrFormat f;
    GetCellFormatDef(row, col, f);
    if (f.HAlignment == blocking || f.WrapText) return false;
    const TXlsCellRange m = GetXCellMergedBounds(row, col);
    return m.Left == col && m.Right == col && m.Top == row && m.Bottom == row;
}

bool TKalmiraGrid::CellCanSpawnRight(int row, int col) { return CellCanSpawn(row, col, THKmrAlignment::fha_right); }

bool TKalmiraGrid::CellCanSpawnLeft(int row, int col) { return CellCanSpawn(row, col, THKmrAlignment::fha_left); }

bool TKalmiraGrid::PointInGridRange(int col, int row, TGridRect rect) {
    if (Open() && rect.Left == rect.Right && rect.Top == rect.Bottom) {
        const TXlsCellRange m = GetXCellMergedBounds(rect.Top, rect.Left);
        rect = {m.Left, m.Top, m.Right, m.Bottom};
    }
    return (col >= rect.Left && col <= rect.Right) || (row >= rect.Top && row <= rect.Bottom);
}

std::uint32_t TKalmiraGrid::GetColor(int index) {
    if (index > 0 && index <= TKalmiraImport::GetColorPaletteCount()) return FKalmiraImport->GetColorPalette(index);
    return ForegroundColor;
}

std::unique_ptr<TKmrGraphic> TKalmiraGrid::FillOf(const TKmrFormat& format, std::uint32_t& brush, bool& hasFill) {
    const TKmrFillPattern& p = format.FillPattern;
    const int count = TKalmiraImport::GetColorPaletteCount();
    auto colour = [&](int index, std::uint32_t otherwise) {
        return index >= 1 && index <= count ? FKalmiraImport->GetColorPalette(index) : otherwise;
    };
    const std::uint32_t fg = colour(p.FgColorIndex, ForegroundColor);
    const std::uint32_t bg = colour(p.BgColorIndex, BackgroundColor);
    hasFill = p.Pattern > 1;
    if (p.Pattern <= 1) {
        brush = BackgroundColor;
        return nullptr;
    }
    if (p.Pattern == 2) {
        brush = fg;
        return nullptr;
    }
    return CreateBmpPattern(p.Pattern, fg, bg);
}

// ---- Text placement

TTextPos TKalmiraGrid::CalcTextPos(TTextVAlign v, TTextHAlign h, long double a, const TRect& r, int m, TSize extent,
                                   bool general, bool stacked, int lines, long double s, long double c) {
    const long double w = extent.cx;
    const long double ht = extent.cy;
    const int n = lines;
    TTextPos p;
    if (a == 0) {
        switch (v) {
            case TTextVAlign::Top: p.Y = r.Top + m; break;
            case TTextVAlign::Center: p.Y = (r.Top + r.Bottom - extent.cy * n) / 2; break;
            case TTextVAlign::Bottom: p.Y = r.Bottom - m - extent.cy * n; break;
        }
        const TTextHAlign h2 = general && stacked ? TTextHAlign::Center : h;
        switch (h2) {
            case TTextHAlign::Center: p.X = (r.Left + r.Right - extent.cx) / 2; break;
            case TTextHAlign::Right: p.X = r.Right - m - extent.cx; break;
            case TTextHAlign::Left: p.X = r.Left + m; break;
        }
        p.Bounds = {p.X, p.Y, p.X + extent.cx, p.Y + extent.cy * n};
        return p;
    }
    const bool up = a > 0;
    switch (v) {
        case TTextVAlign::Top: p.Y = up ? Round(r.Top + m + w * s) : r.Top + m; break;
        case TTextVAlign::Center: p.Y = Round((r.Top + r.Bottom - ht * c + w * s) / 2); break;
        case TTextVAlign::Bottom: p.Y = up ? Round(r.Bottom - m - ht * c) : Round(r.Bottom - m - ht * c + w * s); break;
    }
    TTextHAlign h2 = h;
    if (general) {
        // Rising text hangs from the left, falling text from the right;
        // upright text (90 degrees either way) the other way round.
        const long double deg = a * 180 / 3.14159265358979323846L;
        if (std::fabs(deg - 90) < 1e-9L)
            h2 = TTextHAlign::Right;
        else if (std::fabs(deg + 90) < 1e-9L)
            h2 = TTextHAlign::Left;
        else
            h2 = up ? TTextHAlign::Left : TTextHAlign::Right;
    }
    const long double across = w * c + ht * s * n;
    switch (h2) {
        case TTextHAlign::Center: p.X = Round((r.Left + r.Right - across) / 2); break;
        case TTextHAlign::Right: p.X = up ? Round(r.Right - m - across) : Round(r.Right - m - w * c); break;
        case TTextHAlign::Left: p.X = up ? r.Left + m : Round(r.Left + m - ht * s * n); break;
    }
    if (up)
        p.Bounds = {p.X, Round(p.Y - w * s), Round(p.X + w * c + ht * s * n), Round(p.Y + ht * c)};
    else
        p.Bounds = {Round(p.X + ht * s * n), p.Y, Round(p.X + w * c), Round(p.Y + ht * c - w * s)};
    return p;
}

void TKalmiraGrid::WriteText(TExcelFile& workbook, TCanvas& canvas, const TRect& clip, int x, int y,
                             std::u16string_view text, const TRTFRunList& runs, long double zoom, long double offset) {
    y += Round(offset);
    if (runs.empty()) {
        canvas.TextOut(clip, x, y, text);
        return;
    }
    TSize line;
    int ascent = 0;
    CalcTextExtent(workbook, canvas, text, runs, zoom, line, ascent);
    const TSavedFont saved = SaveFont(canvas.Font);
    auto part = [&](std::size_t from, std::size_t to) {
        from = std::min(from, text.size());
        return text.substr(from, std::max(from, std::min(to, text.size())) - from);
    };
    auto draw = [&](std::u16string_view piece, int shift) {
        canvas.TextOut(clip, x, y + ascent - canvas.Ascent() + shift, piece);
        x += canvas.TextExtent(piece).cx;
    };
    try {
        draw(part(0, runs.front().FirstChar - 1u), 0);
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const std::size_t to = i + 1 < runs.size() ? runs[i + 1].FirstChar - 1u : text.size();
            const TKmrFont font = workbook.GetFontList(runs[i].FontIndex);
            const TSubscriptData sub = GetSubscriptData(font.Style.Bits());
            LoadFont(nullptr, nullptr, saved.Color, zoom * sub.Factor, canvas, font);
            canvas.Font.Escapement = saved.Rotation;
            draw(part(runs[i].FirstChar - 1u, to), Round(SubscriptOffset(sub, canvas)));
        }
    } catch (...) {
        RestoreFont(canvas.Font, saved);
        throw;
    }
    RestoreFont(canvas.Font, saved);
}

// ---- One cell

void TKalmiraGrid::RecordCrossing(TCanvas& canvas, const TDrawCellArgs& args, int col) {
    if (args.Spawned != nullptr)
        args.Spawned->Add({args.Row, col});
    else if (args.Draw)
        // The gridline under the text goes.
        canvas.FillRect(
            {args.CellClip.Right - 1, args.CellClip.Top, args.CellClip.Right + 1, args.CellClip.Bottom - 1});
}

void TKalmiraGrid::MyDrawCell(TCanvas& canvas, const TDrawCellArgs& args) {
    const int col = args.Col;
    const int row = args.Row;
    TRect r = args.ContentRect;
    const int m = args.Zoom <= 50 ? 0 : Round(args.XScale);
    canvas.Font = GridFont;
    canvas.Font.Height = Round(GridFont.Height * args.ZoomFactor);
    std::uint32_t rightColour = LineColor;
    std::uint32_t bottomColour = LineColor;
    bool rightBorder = false;
    bool bottomBorder = false;
    long double a = 0;
    long double sinA = 0;
    long double cosA = 1;
    bool stacked = false;
    std::unique_ptr<TKmrGraphic> pattern;
    TTextHAlign h = TTextHAlign::Left;
    TTextVAlign v = TTextVAlign::Bottom;
    bool general = false;
    bool multiLine = false;
    bool hasFill = false;
    std::u16string text;
    TRTFRunList runs;
    TSubscriptData sub;
    std::uint32_t b = canvas.BrushColor;
    if (args.DrawBack) {
        b = Color;
        canvas.PenWidth = 1;
    }
    if (FKalmiraImport == nullptr) return;
    TBrushGuard guard{canvas};
    const bool open = Open();
    if (open && row > 0 && col > 0) {
        const TXlsCellRange mr = GetXCellMergedBounds(row, col);
        if (mr.Right > col)
            r.Right = r.Left + CalcAcumColWidth(args.SheetSizes, col, mr.Right + 1, args.XScale, args.ZoomFactor);
        if (mr.Bottom > row)
            r.Bottom = r.Top + CalcAcumRowHeight(args.SheetSizes, row, mr.Bottom + 1, args.YScale, args.ZoomFactor);
        if (col > mr.Left || row > mr.Top) {
            TDrawCellArgs top = args;
            top.Col = mr.Left;
            top.Row = mr.Top;
            top.ContentRect = {
                r.Left + CalcAcumColWidth(args.SheetSizes, col, mr.Left, args.XScale, args.ZoomFactor),
                r.Top + CalcAcumRowHeight(args.SheetSizes, row, mr.Top, args.YScale, args.ZoomFactor),
                r.Left + CalcAcumColWidth(args.SheetSizes, col, mr.Right + 1, args.XScale, args.ZoomFactor),
                r.Top + CalcAcumRowHeight(args.SheetSizes, row, mr.Bottom + 1, args.YScale, args.ZoomFactor)};
            top.DrawBack = true;
            top.MayGrowLeft = top.MayGrowRight = false;
            top.LastCol = mr.Right;
            top.LastRow = mr.Bottom;
            MyDrawCell(canvas, top);
            return;
        }
        const TVariant value = GetCellValue(row, col);
        runs = FKalmiraImport->GetRTFRuns(row, col);
        h = value.VarType() == TVarType::Boolean  ? TTextHAlign::Center
            : value.VarType() == TVarType::String ? TTextHAlign::Left
                                                  : TTextHAlign::Right;
        TKmrFormat f;
        GetCellFormatDef(row, col, f);
        multiLine = f.WrapText || f.HAlignment == THKmrAlignment::fha_justify ||
                    f.VAlignment == TVKmrAlignment::fva_justify || f.VAlignment == TVKmrAlignment::fva_distributed;
        if (args.DrawBack) pattern = FillOf(f, b, hasFill);
        sub = GetSubscriptData(f.Font.Style.Bits());
        LoadFont(FKalmiraImport, this, ForegroundColor, args.ZoomFactor * sub.Factor, canvas, f.Font);
        a = CalcAngle(f.Rotation, stacked);
        sinA = std::sin(a);
        cosA = std::cos(a);
        if (f.Rotation != 0) RotateFont(canvas.Font, f.Rotation);
        TKmrFormat f2;
        if (args.LastCol == col && args.LastRow == row)
            f2 = f;
        else
            GetCellFormatDef(args.LastRow, args.LastCol, f2);
        if (IsBorder(f2.Borders.Bottom)) bottomColour = GetColor(f2.Borders.Bottom.ColorIndex), bottomBorder = true;
        if (IsBorder(f2.Borders.Right)) rightColour = GetColor(f2.Borders.Right.ColorIndex), rightBorder = true;
        TKmrFormat n;
        if (args.LastCol < ColCount() - 1) {
            GetCellFormatDef(args.LastRow, args.LastCol + 1, n);
            if (IsBorder(n.Borders.Left)) rightColour = GetColor(n.Borders.Left.ColorIndex), rightBorder = true;
        }
        if (args.LastRow < RowCount() - 1) {
            GetCellFormatDef(args.LastRow + 1, args.LastCol, n);
            if (IsBorder(n.Borders.Top)) bottomColour = GetColor(n.Borders.Top.ColorIndex), bottomBorder = true;
        }
        switch (f.HAlignment) {
            case THKmrAlignment::fha_general: general = true; break;
            case THKmrAlignment::fha_left: h = TTextHAlign::Left; break;
            case THKmrAlignment::fha_center:
            case THKmrAlignment::fha_center_across_selection: h = TTextHAlign::Center; break;
            case THKmrAlignment::fha_right: h = TTextHAlign::Right; break;
            default: break;
        }
        if (f.VAlignment == TVKmrAlignment::fva_top) v = TTextVAlign::Top;
        if (f.VAlignment == TVKmrAlignment::fva_center) v = TTextVAlign::Center;
        if (FormulaReadOnly && FKalmiraImport->GetIsFormula(row, col)) b = LineColor;
        if (row == Row() && col == Col()) {
            if (InplaceEditor() != nullptr) {
                TCanvasFont unrotated;
                AssignUnrotatedFont(canvas.Font, unrotated);
                InplaceEditor()->setFont(QtFont(unrotated));
            }
            FCurrentCellFont = canvas.Font;
        }
        std::uint32_t colour = canvas.Font.Color;
        text = XlsFormatValue1904(value, f.Format, FKalmiraImport->GetOptions1904Dates(), colour);
        canvas.Font.Color = colour;
    }

    const bool header = col == 0 || row == 0;
    if (open && col == 0 && row > 0 && !FKalmiraImport->GetAutoRowHeight(row)) {
        canvas.Font.Bold = true;
        canvas.Font.Color = FixedRowColor;
    }
    if (header) {
        h = TTextHAlign::Center;
        b = FixedColor;
        rightColour = bottomColour = HeaderLineColor;
        if (!HideCursor && (row == Row() || col == Col() || PointInGridRange(col, row, Selection())))
            b = HeaderHighlight;
        if (row != 0)
            text = QString::number(row).toStdU16String();
        else if (col != 0)
            text = ColTitle(col);
    } else if (!HideCursor && (args.State & gdSelected) && args.DrawBack) {
        const TGridRect sel = Selection();
        if (sel.Left != sel.Right || sel.Top != sel.Bottom) b = Shaded(b);
    }
    if (canvas.BrushColor != b) canvas.BrushColor = b;
    canvas.BrushBitmap = pattern.get();

    if (args.DrawBack && args.Draw && !args.SheetSizes) {
        canvas.FillRect(args.CellClip);
        const bool showLine = header || (args.Zoom >= 50 && args.GridLines && !hasFill);
        SetPen(canvas, bottomColour);
        if (bottomColour == rightColour && (showLine || (bottomBorder && rightBorder))) {
            canvas.Polyline({{r.Left, r.Bottom - 1}, {r.Right - 1, r.Bottom - 1}, {r.Right - 1, r.Top - 1}});
        } else {
            if (showLine || bottomBorder) {
                const int k = bottomBorder ? 0 : 1;
                canvas.Polyline({{r.Left - 1 + k, r.Bottom - 1}, {r.Right - k, r.Bottom - 1}});
            }
            SetPen(canvas, rightColour);
            if (showLine || rightBorder) {
                const int k = rightBorder ? 0 : 1;
                canvas.Polyline({{r.Right - 1, r.Bottom - 1 - k}, {r.Right - 1, r.Top - 1 + k}});
            }
        }
    }

    if (!header && open && IsEmptyCell(row, col) && !EditorMode()) {
        if (!args.SheetSizes && args.Zoom <= 25) return;
        auto neighbour = [&](int c, bool growLeft, bool growRight) {
            TDrawCellArgs n = args;
            n.Col = c;
            n.ContentRect = {r.Left + CalcAcumColWidth(args.SheetSizes, col, c, args.XScale, args.ZoomFactor), r.Top,
                             r.Left + CalcAcumColWidth(args.SheetSizes, col, c + 1, args.XScale, args.ZoomFactor),
                             r.Bottom};
            n.DrawBack = false;
            n.MayGrowLeft = growLeft;
            n.MayGrowRight = growRight;
            n.LastCol = c;
            n.LastRow = row;
            MyDrawCell(canvas, n);
        };
        int i = FKalmiraImport->GetColIndex(row, col) - 1;
        while (i > 0 && IsEmptyCell(row, FKalmiraImport->GetColByIndex(row, i))) --i;
        if (i > 0) {
            const int c = FKalmiraImport->GetColByIndex(row, i);
            if (CellCanSpawnRight(row, c)) neighbour(c, true, IsEmptyCell(row, col + 1));
        }
        const int count = FKalmiraImport->GetColIndexCount(row);
        i = FKalmiraImport->GetColIndex(row, col);
        while (i > 0 && i <= count && IsEmptyCell(row, FKalmiraImport->GetColByIndex(row, i))) ++i;
        if (i > 0 && i <= count) {
            const int c = FKalmiraImport->GetColByIndex(row, i);
            if (CellCanSpawnLeft(row, c)) neighbour(c, IsEmptyCell(row, col - 1), true);
        }
        return;
    }

    TRect t{args.CellClip.Left + m, args.CellClip.Top + m, args.CellClip.Right - m, args.CellClip.Bottom - m};
    TSize extent;
    int ascent = 0;
    TExcelFile* book = FKalmiraImport->GetWorkbook();
    std::vector<std::u16string> lines;
    std::vector<TRTFRunList> lineRuns;
    if (book != nullptr) CalcTextExtent(*book, canvas, text, runs, args.ZoomFactor, extent, ascent);
    else WideTextExtent(canvas, text, extent);
    if (book != nullptr && (multiLine || stacked)) {
        const int width = a == 0 ? r.Right - r.Left - 2 * m
                                 : static_cast<int>((r.Bottom - r.Top - 2 * m - extent.cy * cosA) / std::fabs(sinA));
        SplitText(*book, canvas, text, width, args.ZoomFactor, stacked, runs, lines, lineRuns, extent);
    } else {
        lines.push_back(text);
        lineRuns.push_back(runs);
    }
    const TTextPos pos =
        CalcTextPos(v, h, a, r, m, extent, general, stacked, static_cast<int>(lines.size()), sinA, cosA);
    TRect clip = args.CellClip;
    if (&canvas == FGridCanvas) clip.Right = std::min(clip.Right, viewport()->width());
    canvas.IntersectClip(clip);
    try {
        const TRect& bounds = pos.Bounds;
        auto crosses = [&] { return bounds.Right >= t.Right && bounds.Left < t.Right; };
        if (args.DrawBack) {
            if (!(r == args.CellClip)) {
                if (r.Right != args.CellClip.Right) t.Right += m;
                if (r.Left != args.CellClip.Left) t.Left -= m;
            } else if (!multiLine) {
                if (IsEmptyCell(row, col + 1)) {
                    t.Right += m;
                    if (crosses())
                        RecordCrossing(canvas, args, col);
                    else
                        t.Right -= m;
                }
                if (IsEmptyCell(row, col - 1)) t.Left -= m;
            }
        } else {
            if (args.MayGrowLeft) t.Left -= m;
            if (args.MayGrowRight) t.Right += m;
            if (args.MayGrowRight && crosses()) RecordCrossing(canvas, args, args.PaintCol);
        }
        if (Overlap(t, bounds)) {
            TRect vclip = t;
            if (r.Top != args.CellClip.Top) vclip.Top -= m;
            if (r.Bottom != args.CellClip.Bottom) vclip.Bottom += m;
            int x = pos.X;
            int y = pos.Y;
            for (std::size_t i = 0; args.Draw && i < lines.size(); ++i) {
                if (book != nullptr)
                    WriteText(*book, canvas, vclip, x, y, lines[i], lineRuns[i], args.ZoomFactor,
                              SubscriptOffset(sub, canvas));
                else
                    canvas.TextOut(vclip, x, y, lines[i]);
                if (a == 0)
                    y += extent.cy;
                else
                    x += Round(extent.cy / sinA);
            }
        }
    } catch (...) {
        canvas.ResetClip(args.ClipRect);
        throw;
    }
    canvas.ResetClip(args.ClipRect);
}

// ---- Printed backgrounds and lines

void TKalmiraGrid::DrawBackground(TCanvas& canvas, const TXlsCellRange& range, long double s, long double x,
                                  long double y, const TRect& rect, long double m) {
    TBrushGuard guard{canvas};
    long double top = rect.Top;
    for (int row = range.Top; row <= range.Bottom; ++row) {
        const int hr = Round(RowH(row) / RowMult * s * y);
        long double left = rect.Left;
        for (int col = range.Left; col <= range.Right; ++col) {
            const int wc = Round(ColW(col) / ColMult * s * x);
            const TXlsCellRange mr = GetXCellMergedBounds(row, col);
            TKmrFormat f;
            GetCellFormatDef(mr.Top, mr.Left, f);
            std::uint32_t brush = BackgroundColor;
            bool hasFill = false;
            const std::unique_ptr<TKmrGraphic> pattern = FillOf(f, brush, hasFill);
            canvas.BrushColor = brush;
            canvas.BrushBitmap = pattern.get();
            canvas.FillRect({Round(left * m), Round(top * m), Round((left + wc) * m), Round((top + hr) * m)});
            canvas.BrushBitmap = nullptr;
            left += wc;
        }
        top += hr;
    }
}

namespace {

// One direction of DrawLines: lines run along the "along" axis, one band
// ("across" index) after the other; each band's leading edge (top or left)
// and trailing edge (bottom or right) are pending segments that grow while
// their colour stays.
struct TLineSide {
    bool On = false;
    std::uint32_t Colour = 0;
    int Start = 0;
};

struct TEdge {
    bool Lead = false;
    bool Trail = false;
    bool TrailBorder = false;
    std::uint32_t LeadColour = LineColor;
    std::uint32_t TrailColour = LineColor;
};

}  // namespace

void TKalmiraGrid::DrawLines(TCanvas& canvas, const TXlsCellRange& range, long double s, long double x,
                             long double y, const TRect& rect, bool gridLines, TSpawnedCellList& spawned,
                             long double m, bool preview) {
    canvas.PenWidth = preview ? 1 : PrintLineWidth != 0 ? PrintLineWidth : Round(x / 150 * 96);
    const int cols = range.Right - range.Left + 1;
    const int rows = range.Bottom - range.Top + 1;
    if (cols <= 0 || rows <= 0) return;
    std::vector<int> w(static_cast<std::size_t>(cols));
    std::vector<int> hgt(static_cast<std::size_t>(rows));
    for (int c = 0; c < cols; ++c) w[static_cast<std::size_t>(c)] = Round(ColW(range.Left + c) / ColMult * s * x);
    for (int r = 0; r < rows; ++r) hgt[static_cast<std::size_t>(r)] = Round(RowH(range.Top + r) / RowMult * s * y);
    auto line = [&](bool horizontal, int fixed, int from, int to, std::uint32_t colour) {
        SetPen(canvas, colour);
        if (horizontal)
            canvas.Polyline({{Round(from * m), Round(fixed * m)}, {Round(to * m), Round(fixed * m)}});
        else
            canvas.Polyline({{Round(fixed * m), Round(from * m)}, {Round(fixed * m), Round(to * m)}});
    };
    // horizontal: bands are rows, cells along a band are columns.
    auto pass = [&](bool horizontal) {
        const int bands = horizontal ? rows : cols;
        const int cells = horizontal ? cols : rows;
        const std::vector<int>& bandSize = horizontal ? hgt : w;
        const std::vector<int>& cellSize = horizontal ? w : hgt;
        std::vector<bool> flags(static_cast<std::size_t>(cells) + 1, false);
        int bandPos = horizontal ? rect.Top : rect.Left;
        for (int bi = 0; bi < bands; ++bi) {
            int pos = horizontal ? rect.Left : rect.Top;
            TLineSide lead{false, BackgroundColor, 0};
            TLineSide trail{false, BackgroundColor, 0};
            const int band = bi + (horizontal ? range.Top : range.Left);
            const int size = bandSize[static_cast<std::size_t>(bi)];
            for (int ci = 0; ci <= cells; ++ci) {
                TEdge e;
                const int cell = ci + (horizontal ? range.Left : range.Top);
                if (ci < cells) {
                    const int row = horizontal ? band : cell;
                    const int col = horizontal ? cell : band;
                    TKmrFormat f;
                    GetCellFormatDef(row, col, f);
                    const bool g = gridLines && f.FillPattern.Pattern == 1;
                    e.Lead = g && bi == 0;
                    e.Trail = g;
                    const TKmrOneBorder& lb = horizontal ? f.Borders.Top : f.Borders.Left;
                    const TKmrOneBorder& tb = horizontal ? f.Borders.Bottom : f.Borders.Right;
                    if (IsBorder(lb)) e.LeadColour = GetColor(lb.ColorIndex), e.Lead = true;
                    if (IsBorder(tb)) e.TrailColour = GetColor(tb.ColorIndex), e.Trail = e.TrailBorder = true;
                    const TXlsCellRange mr = GetXCellMergedBounds(row, col);
                    if (horizontal ? mr.Top < row : mr.Left < col) e.Lead = false;
                    if (horizontal ? mr.Bottom > row : mr.Right > col) e.Trail = e.TrailBorder = false;
                    if (!horizontal) {
                        int index = 0;
                        // Text crossing a vertical line hides it.
                        if (col >= 2 && e.Lead && spawned.Find(TSpawnedCell::Key(col - 1, row), index))
                            e.Lead = false;
                        if (e.Trail && spawned.Find(TSpawnedCell::Key(col, row), index))
                            e.Trail = e.TrailBorder = false;
                    }
                }
                if (flags[static_cast<std::size_t>(ci)]) e.Lead = false;
                flags[static_cast<std::size_t>(ci)] = e.TrailBorder;
                auto step = [&](TLineSide& side, bool on, std::uint32_t colour, int fixed) {
                    if (side.On && (!on || side.Colour != colour))
                        line(horizontal, fixed, side.Start, pos, side.Colour);
                    if (on && !(side.On && side.Colour == colour)) side.Start = pos;
                    side.On = on;
                    side.Colour = colour;
                };
                step(lead, e.Lead, e.LeadColour, bandPos);
                step(trail, e.Trail, e.TrailColour, bandPos + size);
                if (ci < cells) pos += cellSize[static_cast<std::size_t>(ci)];
            }
            bandPos += size;
        }
    };
    pass(true);
    pass(false);
}

}  // namespace kalmira
