// Printing the sheet: the page setup into print parameters, pages cut from
// a range (down each column strip, then over), headers and footers with
// their codes, pictures on pages, the printable and visible extents.
#include <algorithm>
#include <chrono>
#include <cmath>

#include <QImage>
#include <QPainter>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/grid/UKalmiraGrid.h"
#include "workbook/storage/UKmrDateTime.h"
#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

namespace {

int Round(long double v) { return RoundEven(v); }

// A margin not finite or below 0 counts 0; one beyond the page, the page.
long double SaneMargin(long double inches, long double pageInches) {
    if (!std::isfinite(inches) || inches < 0) return 0;
    return std::min(inches, std::max<long double>(pageInches, 0));
}

bool EmptyRange(const TXlsCellRange& r) { return r.Right < r.Left || r.Bottom < r.Top; }

constexpr int MaxHeaderPoints = 409;

}  // namespace

// The grid without a facade fails as the facade does without a workbook.
TKalmiraImport& TKalmiraGrid::Facade() {
    if (FKalmiraImport == nullptr) Raise(ErrNoOpenFile);
    return *FKalmiraImport;
}

TKmrPrinter& TKalmiraGrid::ThePrinter() { return FPrinter != nullptr ? *FPrinter : Printer(); }

void TKalmiraGrid::SetPrintLineWidth(int width) {
    if (width >= 0) PrintLineWidth = width;
}

int TKalmiraGrid::RealRowHeight(int row, long double zoom, long double yRatio) {
    return Round(RowH(row) / RowMult * zoom * yRatio);
}

int TKalmiraGrid::RealColWidth(int col, long double zoom, long double xRatio) {
    return Round(ColW(col) / ColMult * zoom * xRatio);
}

// ---- Parameters and pages

TPrintParams TKalmiraGrid::CalcPrintParams(const TXlsCellRange& range) {
    Facade();
    TKmrPrinter& printer = ThePrinter();
    TPrintParams p;
    const int dpiX = std::max(printer.DpiX(), 1);
    const int dpiY = std::max(printer.DpiY(), 1);
    p.XRatio = dpiX / 96.0L;
    p.YRatio = dpiY / 96.0L;
    p.PageWidth = printer.PageWidth();
    p.PageHeight = printer.PageHeight();
    const TXlsMargins m = FKalmiraImport->GetPrintMargins();
    const long double wide = static_cast<long double>(p.PageWidth) / dpiX;
    const long double tall = static_cast<long double>(p.PageHeight) / dpiY;
    p.PrintRect = {Round(dpiX * SaneMargin(m.Left, wide)), Round(dpiY * SaneMargin(m.Top, tall)),
                   Round(p.PageWidth - dpiX * SaneMargin(m.Right, wide)),
                   Round(p.PageHeight - dpiY * SaneMargin(m.Bottom, tall))};
    const TRect& pr = p.PrintRect;
    if (FKalmiraImport->GetPrintToFit() && pr.Right > pr.Left && pr.Bottom > pr.Top) {
        const int pagesWide = FKalmiraImport->GetPrintNumberOfHorizontalPages();
        const int pagesTall = FKalmiraImport->GetPrintNumberOfVerticalPages();
        // The estimate leaves the last column and row out.
        const int w = CalcAcumColWidth(true, range.Left, range.Right, p.XRatio, 1);
        const int h = CalcAcumRowHeight(true, range.Top, range.Bottom, p.YRatio, 1);
        const long double scaleX =
            w == 0 || pagesWide == 0 ? 100 : Round(pagesWide * 100.0L * (pr.Right - pr.Left) / w);
        const long double scaleY =
            h == 0 || pagesTall == 0 ? 100 : Round(pagesTall * 100.0L * (pr.Bottom - pr.Top) / h);
        p.Scale = static_cast<int>(std::clamp<long double>(std::min(scaleX, scaleY), -1e9L, 100));
        while (p.Scale > 10) {
            p.Zoom = p.Scale / 100.0L;
            int across = 0;
            int down = 0;
            InternalCalcNumberOfPrintingPages(range, across, down, p);
            if ((pagesWide == 0 || across <= pagesWide) && (pagesTall == 0 || down <= pagesTall)) break;
            p.Scale -= 5;
        }
    } else {
        p.Scale = FKalmiraImport->GetPrintScale();
    }
    p.Scale = std::clamp(p.Scale, 10, 400);
    p.Zoom = p.Scale / 100.0L;
    return p;
}

void TKalmiraGrid::CalcPrintedPage(int firstRow, int firstCol, int& lastRow, int& lastCol, const TXlsCellRange& range,
                                   const TPrintParams& p) {
    const bool fit = FKalmiraImport->GetPrintToFit();
    auto cut = [&](int first, int last, int start, int limit, auto size, auto brk) {
        int end = last;
        long double pos = start;
        for (int i = first; i <= last; ++i) {
            pos += size(i);
            if (pos > limit || (!fit && i > first && brk(i - 1))) {
                end = i - 1;
                break;
            }
        }
        return std::max(end, first);
    };
    lastCol = cut(
        firstCol, range.Right, p.PrintRect.Left, p.PrintRect.Right,
        [&](int c) { return RealColWidth(c, p.Zoom, p.XRatio); },
        [&](int c) { return FKalmiraImport->HasVPageBreak(c); });
    lastRow = cut(
        firstRow, range.Bottom, p.PrintRect.Top, p.PrintRect.Bottom,
        [&](int r) { return RealRowHeight(r, p.Zoom, p.YRatio); },
        [&](int r) { return FKalmiraImport->HasHPageBreak(r); });
}

void TKalmiraGrid::InternalCalcNumberOfPrintingPages(const TXlsCellRange& range, int& across, int& down,
                                                     const TPrintParams& p) {
    across = down = 0;
    int lastRow = 0;
    int lastCol = 0;
    for (int r = range.Top;; r = lastRow + 1) {
        CalcPrintedPage(r, range.Left, lastRow, lastCol, {range.Left, range.Top, range.Left, range.Bottom}, p);
        ++down;
        if (lastRow >= range.Bottom) break;
    }
    for (int c = range.Left;; c = lastCol + 1) {
        CalcPrintedPage(range.Top, c, lastRow, lastCol, {range.Left, range.Top, range.Right, range.Top}, p);
        ++across;
        if (lastCol >= range.Right) break;
    }
    across = std::max(across, 1);
    down = std::max(down, 1);
}

void TKalmiraGrid::CalcNumberOfPrintingPages(const TXlsCellRange& range, int& count) {
    const TPrintParams p = CalcPrintParams(range);
    int across = 1;
    int down = 1;
    if (!EmptyRange(range)) InternalCalcNumberOfPrintingPages(range, across, down, p);
    count = across * down;
}

void TKalmiraGrid::CalcNumberOfPrintingPages(int& count) {
    const int col = GetMaxPrintableCol();
    CalcNumberOfPrintingPages({1, 1, col, GetMaxPrintableRow()}, count);
}

// ---- Jobs

void TKalmiraGrid::Print(int firstPage, int lastPage) {
    const int col = GetMaxPrintableCol();
    Print({1, 1, col, GetMaxPrintableRow()}, firstPage, lastPage);
}

void TKalmiraGrid::Print(const TXlsCellRange& range, int firstPage, int lastPage) {
    GenericPrint(nullptr, range, firstPage, lastPage, false, 1);
}

void TKalmiraGrid::PreviewPage(const TXlsCellRange& range, int page, TCanvas& canvas, int zoom) {
    const long double d = zoom / 100.0L * 96 / std::max(ThePrinter().DpiX(), 1);
    GenericPrint(&canvas, range, page, page, true, d);
}

void TKalmiraGrid::GenericPrint(TCanvas* target, const TXlsCellRange& range, int firstPage, int lastPage,
                                bool preview, long double d) {
    // Everything the workbook is asked comes before the document begins.
    const bool gridLines = Facade().GetPrintGridLines();
    const TPrintParams p = CalcPrintParams(range);
    int total = 1;
    if (!EmptyRange(range)) {
        int across = 1;
        int down = 1;
        InternalCalcNumberOfPrintingPages(range, across, down, p);
        total = across * down;  // the printed range's own count
    }
    const TRect clipRect{Round(p.PrintRect.Left * d), Round(p.PrintRect.Top * d), Round(p.PrintRect.Right * d),
                         Round(p.PrintRect.Bottom * d)};
    const TRect pageRect{0, 0, Round(p.PageWidth * d), Round(p.PageHeight * d)};
    const long double fx = preview ? 1 : p.XRatio;
    const long double fy = preview ? 1 : p.YRatio;
    const long double cellZoom = preview ? p.Zoom * d * p.YRatio : p.Zoom;
    auto wanted = [&](int page) { return page >= firstPage && (lastPage < 0 || page <= lastPage); };
    if (preview && !(firstPage <= total)) return;  // a page beyond the count: the canvas stays as it was
    TKmrPrinter& printer = ThePrinter();
    if (!preview) printer.BeginDoc();
    try {
        TCanvas& canvas = preview ? *target : printer.Canvas();
        canvas.ResetClip(clipRect);
        TSpawnedCellList spawned;
        bool begun = false;  // a wanted page was drawn: the next one needs a new sheet
        auto finish = [&](int page, const TXlsCellRange& cells) {
            if (!EmptyRange(cells)) {
                DrawLines(canvas, cells, p.Zoom, p.XRatio, p.YRatio, p.PrintRect, gridLines, spawned, d, preview);
            }
            DrawHeadersAndFooters(canvas, page, cellZoom, p, d, total, clipRect, pageRect);
            if (!EmptyRange(cells)) PrintImages(canvas, p, cells, d);
        };
        auto start = [&] {
            if (begun && !preview) printer.NewPage();
            begun = true;
        };
        if (EmptyRange(range)) {
            // Nothing to cut: one page with its header and footer.
            if (wanted(1)) start(), finish(1, {1, 1, 0, 0});
        } else {
            int page = 1;
            std::vector<int> widths;
            bool ended = false;
            for (int c0 = range.Left; c0 <= range.Right && !ended;) {
                int lastRow = 0;
                int lastCol = 0;
                for (int r0 = range.Top; r0 <= range.Bottom; r0 = lastRow + 1, ++page) {
                    if (lastPage >= 0 && page > lastPage) {
                        ended = true;
                        break;
                    }
                    CalcPrintedPage(r0, c0, lastRow, lastCol, range, p);
                    spawned.Clear();
                    if (!wanted(page)) continue;
                    start();
                    const TXlsCellRange cells{c0, r0, lastCol, lastRow};
                    DrawBackground(canvas, cells, p.Zoom, p.XRatio, p.YRatio, p.PrintRect, d);
                    widths.clear();
                    for (int c = c0; c <= lastCol; ++c) widths.push_back(RealColWidth(c, p.Zoom, p.XRatio));
                    long double y = p.PrintRect.Top;
                    for (int r = r0; r <= lastRow; ++r) {
                        const int h = RealRowHeight(r, p.Zoom, p.YRatio);
                        long double x = p.PrintRect.Left;
                        for (int c = c0; c <= lastCol; ++c) {
                            const int w = widths[static_cast<std::size_t>(c - c0)];
                            TDrawCellArgs a;
                            a.Col = a.PaintCol = a.LastCol = c;
                            a.Row = a.LastRow = r;
                            a.CellClip = a.ContentRect = {Round(x * d), Round(y * d), Round((x + w) * d),
                                                          Round((y + h) * d)};
                            a.XScale = fx;
                            a.YScale = fy;
                            a.ClipRect = clipRect;
                            a.Zoom = p.Scale;
                            a.ZoomFactor = cellZoom;
                            a.GridLines = gridLines;
                            a.SheetSizes = true;
                            a.Spawned = &spawned;
                            MyDrawCell(canvas, a);
                            x += w;
                        }
                        y += h;
                    }
                    finish(page, cells);
                }
                c0 = lastCol + 1;
            }
        }
    } catch (...) {
        if (!preview) printer.EndDoc();
        throw;
    }
    if (!preview) printer.EndDoc();
}

// ---- Pictures

bool TKalmiraGrid::CalcPrintPictureRect(int index, TRect& rect, const TPrintParams& p, const TXlsCellRange& page) {
    const TPictureData& pic = *FPictures.at(static_cast<std::size_t>(index));
    rect = {};
    if (page.Right < pic.Col1 || page.Bottom < pic.Row1) return false;
    rect.Left = p.PrintRect.Left + CalcAcumColWidth(true, page.Left, pic.Col1, p.XRatio, p.Zoom) +
                Round(pic.LeftOffset * p.Zoom * p.XRatio);
    rect.Top = p.PrintRect.Top + CalcAcumRowHeight(true, page.Top, pic.Row1, p.YRatio, p.Zoom) +
               Round(pic.TopOffset * p.Zoom * p.YRatio);
    rect.Right = rect.Left + Round(pic.Width * p.Zoom * p.XRatio);
    rect.Bottom = rect.Top + Round(pic.Height * p.Zoom * p.YRatio);
    return rect.Bottom >= p.PrintRect.Top && rect.Right >= p.PrintRect.Left;
}

void TKalmiraGrid::PrintImages(TCanvas& canvas, const TPrintParams& p, const TXlsCellRange& page, long double d) {
    for (std::size_t i = 0; i < FPictures.size(); ++i) {
        // A picture ending before the page cannot reach it: its position
        // is not summed over the rows between.
        if (FPictures[i]->Row2 < page.Top || FPictures[i]->Col2 < page.Left) continue;
        TRect r;
        if (!CalcPrintPictureRect(static_cast<int>(i), r, p, page)) continue;
        if (d != 1) r = {Round(r.Left * d), Round(r.Top * d), Round(r.Right * d), Round(r.Bottom * d)};
        if (FPictures[i]->Picture.isNull())
            canvas.Polyline({{r.Left, r.Top}, {r.Right - 1, r.Top}, {r.Right - 1, r.Bottom - 1}, {r.Left, r.Bottom - 1},
                             {r.Left, r.Top}});
        else
            canvas.DrawImage(r, FPictures[i]->Picture);
    }
}

// ---- Headers and footers

void TKalmiraGrid::DrawHeadersAndFooters(TCanvas& canvas, int page, long double f, const TPrintParams& p,
                                         long double d, int total, const TRect& clipRect, const TRect& pageRect) {
    canvas.ResetClip(pageRect);
    try {
        const TXlsMargins m = FKalmiraImport->GetPrintMargins();
        const long double tall = static_cast<long double>(p.PageHeight) / (p.YRatio * 96);
        const long double header = SaneMargin(m.Header, tall);
        const long double footer = SaneMargin(m.Footer, tall);
        DrawHeaderOrFooter(FKalmiraImport->GetPageHeader(), canvas, f, p, d, page, total,
                           Round(header * p.YRatio * 96 * d), 1);
        DrawHeaderOrFooter(FKalmiraImport->GetPageFooter(), canvas, f, p, d, page, total,
                           Round((p.PageHeight - (footer + 0.05L) * p.YRatio * 96) * d), 0);
    } catch (...) {
        canvas.ResetClip(clipRect);
        throw;
    }
    canvas.ResetClip(clipRect);
}

void TKalmiraGrid::DrawHeaderOrFooter(const std::u16string& text, TCanvas& canvas, long double f,
                                      const TPrintParams& p, long double d, int page, int total, int y,
                                      int direction) {
    const int pw = Round(p.PageWidth * d);
    const int ph = Round(p.PageHeight * d);
    const TRect clip{0, 0, pw, ph};
    std::u16string sections[3];
    TKalmiraImport::FillPageHeaderFooter(text, sections[0], sections[1], sections[2]);
    const int margin = Round(0.8L * p.XRatio * 96 * d);
    for (int i = 0; i < 3; ++i) {
        int w = 0;
        int h = 0;
        DoWriteHeader(page, total, sections[i], canvas, false, 0, 0, w, h, clip, f);
        const int x = i == 0 ? margin : i == 1 ? (pw - w) / 2 : pw - margin - w;
        int w2 = 0;
        int h2 = 0;
        DoWriteHeader(page, total, sections[i], canvas, true, x, y + h * direction, w2, h2, clip, f);
    }
}

void TKalmiraGrid::DoWriteHeader(int page, int total, const std::u16string& section, TCanvas& canvas, bool draw,
                                 int x, int y, int& width, int& height, const TRect& clip, long double f) {
    auto setPoints = [&](long double points) {
        const long double pt = std::clamp<long double>(std::isfinite(points) ? points : 1, 1, MaxHeaderPoints);
        canvas.Font.Height = -std::max(1, Round(Round(pt) * canvas.PixelsPerInch() / 72.0L));
    };
    canvas.Font = GridFont;
    canvas.Font.Name = u"Arial";
    canvas.Font.Bold = canvas.Font.Italic = canvas.Font.Underline = canvas.Font.StrikeOut = false;
    canvas.Font.Escapement = 0;
    canvas.BrushColor = BackgroundColor;
    setPoints(std::max(1, Round(10 * f)));
    width = height = 0;
    std::u16string pending;
    bool underline = false;
    bool doubleUnderline = false;
    const std::u16string s = section + u'&';
    TExcelFile* book = FKalmiraImport->GetWorkbook();
    auto piece = [&](std::u16string_view text) {
        const std::u16string t = pending + std::u16string(text);
        pending.clear();
        TSize size;
        int ascent = 0;
        if (book != nullptr)
            CalcTextExtent(*book, canvas, t, {}, 1, size, ascent);
        else
            WideTextExtent(canvas, t, size);
        // Headers stand on their baseline.
        if (draw && !t.empty()) canvas.TextOut(clip, x + width, y - canvas.Ascent(), t);
        width += size.cx;
        height = std::max(height, size.cy);
    };
    auto now = [&] {
        if (OnNow) return OnNow();
        using namespace std::chrono;
        const auto t = system_clock::now();
        const auto days = floor<std::chrono::days>(t);
        const long double fraction = duration<long double>(t - days).count() / 86400;
        return static_cast<double>(days.time_since_epoch().count() + 25569 + fraction);
    };
    auto fileParts = [&](bool folder) {
        const std::u16string name = Utf8ToUtf16(FKalmiraImport->FileName());
        const std::size_t cut = name.find_last_of(u"/\\:");
        if (cut == std::u16string::npos) return folder ? std::u16string() : name;
        return folder ? name.substr(0, cut + 1) : name.substr(cut + 1);
    };
    std::size_t pos = 0;
    std::size_t searchFrom = 0;
    while (pos < s.size()) {
        const std::size_t amp = s.find(u'&', searchFrom);
        piece(std::u16string_view(s).substr(pos, amp - pos));
        pos = amp + 1;
        searchFrom = pos;
        if (pos >= s.size()) break;
        const char16_t code = s[pos];
        TFormatSettings settings;
        switch (code) {
            case u'&':
                searchFrom = pos + 1;  // the second "&" begins the next piece
                continue;
            case u'A': pending = FKalmiraImport->GetActiveSheetName(); break;
            case u'D':
                GetLocaleFormatSettings(0, settings);
                pending = TryFormatDateTime(settings.ShortDateFormat, now(), settings);
                break;
            case u'T':
                GetLocaleFormatSettings(0, settings);
                pending = TryFormatDateTime(settings.LongTimeFormat, now(), settings);
                break;
            case u'P': pending = Utf8ToUtf16(std::to_string(page)); break;
            case u'N': pending = Utf8ToUtf16(std::to_string(total)); break;
            case u'F': pending = fileParts(false); break;
            case u'Z': pending = fileParts(true); break;
            case u'U':
                canvas.Font.Underline = !underline;
                doubleUnderline = false;
                underline = !underline;
                break;
            case u'E':
                canvas.Font.Underline = !(doubleUnderline && !underline);
                underline = false;
                doubleUnderline = !doubleUnderline;
                break;
            case u'S': canvas.Font.StrikeOut = !canvas.Font.StrikeOut; break;
            case u'"': {
                const std::size_t close = s.find(u'"', pos + 1);
                if (close == std::u16string::npos) break;  // prints as text
                const std::u16string inner = s.substr(pos + 1, close - pos - 1);
                canvas.Font.Name = inner.substr(0, inner.find(u','));
                pos = close;
                break;
            }
            default:
                if (code >= u'0' && code <= u'9') {
                    long double n = 0;
                    while (pos < s.size() && s[pos] >= u'0' && s[pos] <= u'9') n = n * 10 + (s[pos++] - u'0');
                    setPoints(n * f);
                    searchFrom = pos;
                    continue;
                }
                break;  // any other code is dropped
        }
        ++pos;
        searchFrom = pos;
    }
}

// ---- Extents

bool TKalmiraGrid::HoldsNoValue(int row, int col) {
    const TVariant v = GetCellValue(row, col);
    return v.IsEmpty() || v.VarType() == TVarType::Null || (v.VarType() == TVarType::String && v.Text().empty());
}

bool TKalmiraGrid::IsPrintingRow(int row, const std::vector<bool>& flags) {
    if (RowHidden(row)) return false;
    if (IsVisibleFormat(FKalmiraImport->GetRowFormat(row), flags)) return true;
    for (int i = FKalmiraImport->GetColIndexCount(row); i >= 1; --i) {
        const int c = FKalmiraImport->GetColByIndex(row, i);
        if ((!HoldsNoValue(row, c) || IsVisibleFormat(FKalmiraImport->GetCellFormat(row, c), flags)) &&
            !ColumnHidden(c))
            return true;
    }
    return false;
}

int TKalmiraGrid::PrintableColCount(const std::vector<bool>& flags) {
    int result = 0;
    for (int r = FKalmiraImport->GetMaxRow(); r >= 1; --r) {
        if (RowHidden(r)) continue;
        for (int i = FKalmiraImport->GetColIndexCount(r); i >= 1; --i) {
            const int c = FKalmiraImport->GetColByIndex(r, i);
            if (c <= result) break;
            if ((!HoldsNoValue(r, c) || IsVisibleFormat(FKalmiraImport->GetCellFormat(r, c), flags)) &&
                !ColumnHidden(c)) {
                result = c;
                break;
            }
        }
    }
    return result;
}

int TKalmiraGrid::GetMaxVRow(bool printable) {
    int row = Facade().GetMaxRow();
    if (printable) {
        std::vector<bool> flags;
        CacheVisibleFormats(flags);
        while (row > 0 && !IsPrintingRow(row, flags)) --row;
        int col = 0;
        LastMerged(row, col);
    }
    for (const auto& p : FPictures) row = std::max(row, p->Row2);
    return row;
}

int TKalmiraGrid::GetMaxVCol(bool printable) {
    Facade();
    int col;
    if (printable) {
        std::vector<bool> flags;
        CacheVisibleFormats(flags);
        col = PrintableColCount(flags);
        int row = 0;
        LastMerged(row, col);
    } else {
        col = FKalmiraImport->GetMaxCol();
    }
    if (col >= 1) {
        // Text flowing past the last column: laid out, never drawn, on a
        // scratch image of the screen's resolution.
        QImage scratch(1, 1, QImage::Format_RGB32);
        QPainter painter(&scratch);
        TQtCanvas canvas(&painter);
        TSpawnedCellList spawned;
        const int maxRow = FKalmiraImport->GetMaxRow();
        for (int r = 1; r <= maxRow; ++r) {
            if (FKalmiraImport->IsEmptyRow(r)) continue;
            for (;;) {
                TDrawCellArgs a;
                a.Col = a.PaintCol = a.LastCol = col;
                a.Row = a.LastRow = r;
                a.CellClip = a.ContentRect = {0, 0, RealColWidth(col, 1, 1), RealRowHeight(r, 1, 1)};
                a.ClipRect = canvas.ClipRect();
                a.SheetSizes = true;
                a.Spawned = &spawned;
                a.Draw = false;
                MyDrawCell(canvas, a);
                int index = 0;
                if (col >= 255 || !spawned.Find(TSpawnedCell::Key(col, r), index)) break;
                ++col;
            }
        }
    }
    for (const auto& p : FPictures) col = std::max(col, p->Col2);
    return col;
}

int TKalmiraGrid::GetMaxVisibleRow() { return GetMaxVRow(false); }
int TKalmiraGrid::GetMaxVisibleCol() { return GetMaxVCol(false); }
int TKalmiraGrid::GetMaxPrintableRow() { return GetMaxVRow(true); }
int TKalmiraGrid::GetMaxPrintableCol() { return GetMaxVCol(true); }

}  // namespace kalmira
