// The grid view: the sheet's sizes on screen, loading a sheet, painting
// with the cursor frame and the pictures; text measuring (fonts from the
// workbook, rich runs, sub- and superscripts, rotation, lines); editing in
// place, moves over merged cells, wheel, zoom and the clipboard keys; cell
// drawing; printing.
#include "workbook/grid/UKalmiraGrid.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QRegion>

#include "platform/qt/Dialogs.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/UKmrNumberFormat.h"
#include "workbook/drawing/UXlsPictures.h"
#include "workbook/storage/UKmrDateTime.h"
#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

namespace {

constexpr int HeaderWidth = 48;  // the row number column at zoom 100
constexpr std::uint32_t NoFacadeColor = 0xC0C0C0;
constexpr int FullRowCount = 65537;
constexpr int FullColCount = 257;

QColor Qt0BGR(std::uint32_t c) { return QColor(c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF); }

// A workbook object without pictures (the abstract one): the sheet then
// shows without them.
int PicturesOffered(TKalmiraImport& facade) {
    try {
        return facade.GetPicturesCount();
    } catch (const Exception& e) {
        const std::string_view message = e.what();
        if (message == "Abstract Error") return 0;
        throw;
    }
}

bool IsMetafile(TXlsImgTypes type) { return type == TXlsImgTypes::xli_Emf || type == TXlsImgTypes::xli_Wmf; }

// A metafile on screen is drawn as vectors once for the size it shows at,
// and that image is copied at each paint: a metafile of many elements
// drawn anew for every move of the cursor would slow the grid down. One
// zoomed larger than MaxShownPixels is drawn as vectors each time.
constexpr qint64 MaxShownPixels = qint64(2048) * 2048;

void DrawShownMetafile(QPainter& painter, const QRect& target, TPictureData& d) {
    if (target.isEmpty()) return;
    const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1;
    const QSize pixels = (QSizeF(target.size()) * ratio).toSize();
    if (qint64(pixels.width()) * pixels.height() > MaxShownPixels) {
        d.Shown = QImage();
        d.Metafile->Draw(painter, target);
        return;
    }
    if (d.Shown.size() != pixels || d.Shown.devicePixelRatio() != ratio) {
        d.Shown = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        d.Shown.fill(Qt::transparent);
        d.Shown.setDevicePixelRatio(ratio);
        QPainter shown(&d.Shown);
        d.Metafile->Draw(shown, QRectF(QPointF(0, 0), QSizeF(target.size())));
    }
    painter.drawImage(target.topLeft(), d.Shown);
}

QImage ToQImage(const TKmrGraphic& graphic) {
    QImage image(graphic.Width, graphic.Height, QImage::Format_ARGB32);
    for (int y = 0; y < graphic.Height; ++y)
        std::copy_n(graphic.Pixels.begin() + static_cast<std::ptrdiff_t>(y) * graphic.Width, graphic.Width,
                    reinterpret_cast<std::uint32_t*>(image.scanLine(y)));
    return image;
}

}  // namespace

TKalmiraGrid::TKalmiraGrid(QWidget* parent) : TKmrCustomGrid(parent) {
    GridFont.Name = u"Arial";
    GridFont.Height = -RoundEven(8 * 96 / 72.0L);
    FCurrentCellFont = GridFont;
}

TKalmiraGrid::~TKalmiraGrid() = default;

void TKalmiraGrid::SetKalmiraImport(TKalmiraImport* facade) {
    FKalmiraImport = facade;
    InvalidateGrid();
}

bool TKalmiraGrid::Open() const { return FKalmiraImport != nullptr && FKalmiraImport->IsLoaded(); }

void TKalmiraGrid::SetReadOnly(bool value) {
    FReadOnly = value;
    Editing = !value;
}

// ---- Sheet queries

bool TKalmiraGrid::RowHidden(int row) { return !ShowHiddenRows && FKalmiraImport->GetRowHidden(row); }

bool TKalmiraGrid::ColumnHidden(int col) { return !ShowHiddenCols && FKalmiraImport->GetColumnHidden(col); }

int TKalmiraGrid::RowH(int row) { return RowHidden(row) ? 0 : FKalmiraImport->GetRowHeight(row); }

int TKalmiraGrid::ColW(int col) { return ColumnHidden(col) ? 0 : FKalmiraImport->GetColumnWidth(col); }

TVariant TKalmiraGrid::GetCellValue(int row, int col) {
    return ColumnHidden(col) ? TVariant(u"") : FKalmiraImport->GetCellValue(row, col);
}

void TKalmiraGrid::GetCellFormatDef(int row, int col, TKmrFormat& format) {
    FKalmiraImport->GetCellFormatDef(row, col, format);
}

std::u16string TKalmiraGrid::ColTitle(int col) {
    if (col > 26) return {static_cast<char16_t>(64 + (col - 1) / 26), static_cast<char16_t>(65 + (col - 1) % 26)};
    return {static_cast<char16_t>(64 + col)};
}

// ---- Sizes

int TKalmiraGrid::RowPixels(int twips) const { return RoundEven(twips / RowMult * FZoomFactor); }
int TKalmiraGrid::ColPixels(int width) const { return RoundEven(width / ColMult * FZoomFactor); }

int TKalmiraGrid::CalcAcumColWidth(bool sheetSizes, int from, int to, long double scaleA, long double scaleB) {
    int sum = 0;
    for (int c = std::min(from, to); c < std::max(from, to); ++c)
        sum += sheetSizes ? RoundEven(ColW(c) * scaleA / ColMult * scaleB)
                          : (c < ColCount() ? ColWidths(c) : DefaultColWidth());
    return to < from ? -sum : sum;
}

int TKalmiraGrid::CalcAcumRowHeight(bool sheetSizes, int from, int to, long double scaleA, long double scaleB) {
    int sum = 0;
    for (int r = std::min(from, to); r < std::max(from, to); ++r)
        sum += sheetSizes ? RoundEven(RowH(r) * scaleA / RowMult * scaleB)
                          : (r < RowCount() ? RowHeights(r) : DefaultRowHeight());
    return to < from ? -sum : sum;
}

int TKalmiraGrid::CalcAcumColWidthZoom100(int from, int to) {
    long long sum = 0;
    for (int c = std::min(from, to); c < std::max(from, to); ++c) sum += ColW(c);
    return RoundEven((to < from ? -sum : sum) / ColMult);
}

int TKalmiraGrid::CalcAcumRowHeightZoom100(int from, int to) {
    long long sum = 0;
    for (int r = std::min(from, to); r < std::max(from, to); ++r) sum += RowH(r);
    return RoundEven((to < from ? -sum : sum) / RowMult);
}

// ---- Sheet to grid

void TKalmiraGrid::ResizeRowsAndCols() {
    FResizing = true;
    auto finish = [this] {
        // The sizes are announced once, whatever happened.
        FResizing = false;
        SizesChanged();
        ColWidthsChanged();
        RowHeightsChanged();
    };
    try {
        const int defaultRow = RowPixels(FKalmiraImport->GetDefaultRowHeight());
        SetDefaultRowHeight(defaultRow);
        std::vector<int>& rows = RowHeightList();
        const int lastRow = std::min(RowCount() - 1, FKalmiraImport->GetMaxRow());
        for (int r = 1; r <= lastRow; ++r) rows[static_cast<std::size_t>(r)] = RowPixels(RowH(r));
        SetDefaultColWidth(ColPixels(FKalmiraImport->GetDefaultColWidth()));
        std::vector<int>& cols = ColWidthList();
        for (int c = 1; c < ColCount(); ++c) cols[static_cast<std::size_t>(c)] = ColPixels(ColW(c));
        const bool headers = FKalmiraImport->GetShowGridHeaders();
        cols[0] = headers ? RoundEven(FZoomFactor * HeaderWidth) : 0;
        rows[0] = headers ? defaultRow : 0;
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TKalmiraGrid::ApplySheet() {
    HideEditor(true);
    if (!Open() || !FSheetLoaded) return;
    for (int r = 1; r < RowCount(); ++r) {
        if (FKalmiraImport->GetRowHidden(r)) continue;
        if (RowHeights(r) != RowPixels(FKalmiraImport->GetRowHeight(r)))
            FKalmiraImport->SetRowHeight(r, RoundEven(RowHeights(r) * RowMult / FZoomFactor));
    }
    for (int c = 1; c < ColCount(); ++c) {
        if (FKalmiraImport->GetColumnHidden(c)) continue;
        if (ColWidths(c) != ColPixels(FKalmiraImport->GetColumnWidth(c)))
            FKalmiraImport->SetColumnWidth(c, RoundEven(ColWidths(c) * ColMult / FZoomFactor));
    }
}

void TKalmiraGrid::LoadPicture(int index) {
    TKmrMemoryStream stream;
    TXlsImgTypes type = TXlsImgTypes::xli_Unknown;
    TClientAnchor anchor;
    FKalmiraImport->GetPicture(index, stream, type, anchor);
    auto data = std::make_unique<TPictureData>();
    data->Col1 = anchor.Col1;
    data->Row1 = anchor.Row1;
    data->Col2 = anchor.Col2;
    data->Row2 = anchor.Row2;
    // Offsets are 1/1024 of the width and 1/255 of the height of their cell.
    data->LeftOffset = RoundEven(static_cast<long long>(ColW(anchor.Col1)) * anchor.Dx1 / ColMult / 1024);
    data->TopOffset = RoundEven(static_cast<long long>(RowH(anchor.Row1)) * anchor.Dy1 / RowMult / 255);
    data->Width = CalcAcumColWidthZoom100(anchor.Col1, anchor.Col2) +
                  RoundEven(static_cast<long long>(ColW(anchor.Col2)) * anchor.Dx2 / ColMult / 1024) - data->LeftOffset;
    data->Height = CalcAcumRowHeightZoom100(anchor.Row1, anchor.Row2) +
                   RoundEven(static_cast<long long>(RowH(anchor.Row2)) * anchor.Dy2 / RowMult / 255) - data->TopOffset;
    data->Opaque = type == TXlsImgTypes::xli_Jpeg || type == TXlsImgTypes::xli_Png || type == TXlsImgTypes::xli_Bmp;
    stream.Seek(0);
    TKmrGraphic graphic;
    bool ok = false;
    if (IsMetafile(type)) {
        // A metafile that does not even unpack is one the libraries cannot
        // read: it shows as the frame, the rest of the sheet as it is.
        try {
            SaveImgStreamToGraphic(stream, type, graphic, ok);
        } catch (const Exception&) {
            ok = false;
        }
    } else {
        SaveImgStreamToGraphic(stream, type, graphic, ok);
    }
    if (ok && graphic.Kind == TKmrGraphic::TKind::Raster)
        data->Picture = ToQImage(graphic);
    else if (ok && graphic.Kind == TKmrGraphic::TKind::Metafile)
        data->Metafile = FMetafiles.Get(graphic.Metafile, type);
    if (!data->HasGraphic() && OnFormatPicture) OnFormatPicture(*this, stream.Bytes(), type, data->Picture);
    FPictures.push_back(std::move(data));
}

void TKalmiraGrid::LoadSheet() {
    HideEditor(true);
    if (!Open()) return;
    if (!FKalmiraImport->CanOptimizeRead()) Raise("This component does not support OLE adapter");
    FPictures.clear();
    const int pictures = PicturesOffered(*FKalmiraImport);
    for (int i = 0; i < pictures; ++i) LoadPicture(i);
    SetFixedRows(1);
    SetFixedCols(1);
    SetRowCount(FullWorksheet ? FullRowCount : std::max(GetMaxVisibleRow() + 1, 2));
    SetColCount(FullWorksheet ? FullColCount : std::max(GetMaxVisibleCol() + 1, 2));
    int fixedRows = 1;
    int fixedCols = 1;
    if (UseFixedCells) FKalmiraImport->GetFrozenPanes(fixedRows, fixedCols);
    SetFixedRows(fixedRows);
    SetFixedCols(fixedCols);
    SetSelection({FixedCols(), FixedRows(), FixedCols(), FixedRows()});
    SetTopRow(FixedRows());
    SetLeftCol(FixedCols());
    FShowGridLines = FKalmiraImport->GetShowGridLines();
    FSheetLoaded = true;
    ResizeRowsAndCols();
    InvalidateGrid();
}

void TKalmiraGrid::Loaded() {
    SetDefaultColWidth(220);
    SetDefaultRowHeight(16);
    ColWidthList()[0] = HeaderWidth;
    SizesChanged();
}

void TKalmiraGrid::CacheVisibleFormats(std::vector<bool>& flags) {
    flags.assign(static_cast<std::size_t>(FKalmiraImport->GetFormatListCount()), false);
    for (std::size_t i = 0; i < flags.size(); ++i) {
        const TKmrFormat f = FKalmiraImport->GetKmrFormatList(static_cast<int>(i));
        const TKmrBorders& b = f.Borders;
        flags[i] = f.FillPattern.Pattern != 1 || b.Left.Style != TKmrBorderStyle::fbs_None ||
                   b.Right.Style != TKmrBorderStyle::fbs_None || b.Top.Style != TKmrBorderStyle::fbs_None ||
                   b.Bottom.Style != TKmrBorderStyle::fbs_None || b.DiagonalStyle != TKmrDiagonalBorder::fdb_None;
    }
}

bool TKalmiraGrid::IsVisibleFormat(int xf, const std::vector<bool>& flags) {
    return xf >= 0 && static_cast<std::size_t>(xf) < flags.size() && flags[static_cast<std::size_t>(xf)];
}

void TKalmiraGrid::LastMerged(int& row, int& col) {
    for (int i = 0; i < FKalmiraImport->CellMergedListCount(); ++i) {
        const TXlsCellRange r = FKalmiraImport->GetCellMergedList(i);
        col = std::max(col, r.Right);
        row = std::max(row, r.Bottom);
    }
}

// ---- Painting

TXlsCellRange TKalmiraGrid::GetCursorCoords() {
    if (Open()) return GetXCellMergedBounds(Row(), Col());
    return {Col(), Row(), Col(), Row()};
}

void TKalmiraGrid::DrawCursor(QPainter& painter, const TXlsCellRange& range) {
    if (HideCursor) return;
    const QRect box = BoxRect(range.Left, range.Top, range.Right, range.Bottom);
    if (box.isEmpty()) return;
    // A frame two pixels wide inside the block.
    painter.setPen(QPen(Qt0BGR(ForegroundColor), 1));
    painter.setBrush(Qt::NoBrush);
    for (int i = 0; i < 2; ++i)
        painter.drawRect(box.left() + i, box.top() + i, box.width() - 2 * i - 1, box.height() - 2 * i - 1);
}

bool TKalmiraGrid::CalcPictureRect(int index, int maxCol, int maxRow, TRect& rect, bool whole, long double xFactor,
                                   long double yFactor, long double zoomFactor) {
    const TPictureData& d = *FPictures.at(static_cast<std::size_t>(index));
    rect = {};
    int c = d.Col1;
    int r = d.Row1;
    if (c > maxCol || r > maxRow) return false;
    int w = RoundEven(d.Width * zoomFactor * xFactor) + RoundEven(d.LeftOffset * zoomFactor * xFactor);
    for (; c < LeftCol() - FixedCols() + 1 && w > 0; ++c) w -= RoundEven(ColW(c) / ColMult * zoomFactor);
    if (w <= 0) return false;
    int h = RoundEven(d.Height * zoomFactor * yFactor) + RoundEven(d.TopOffset * zoomFactor * yFactor);
    for (; r < TopRow() - FixedRows() + 1 && h > 0; ++r) h -= RoundEven(RowH(r) / RowMult * zoomFactor);
    if (h <= 0) return false;
    const int baseX = CalcAcumColWidth(false, 0, FixedCols(), xFactor, zoomFactor);
    const int baseY = CalcAcumRowHeight(false, 0, FixedRows(), yFactor, zoomFactor);
    if (whole) {
        rect.Left = RoundEven(baseX + CalcAcumColWidth(false, LeftCol(), d.Col1, xFactor, zoomFactor) +
                              d.LeftOffset * zoomFactor * xFactor);
        rect.Top = RoundEven(baseY + CalcAcumRowHeight(false, TopRow(), d.Row1, yFactor, zoomFactor) +
                             d.TopOffset * zoomFactor * yFactor);
        rect.Right = rect.Left + RoundEven(d.Width * zoomFactor * xFactor);
        rect.Bottom = rect.Top + RoundEven(d.Height * zoomFactor * yFactor);
        return true;
    }
    rect.Left = baseX + CalcAcumColWidth(false, LeftCol(), c, xFactor, zoomFactor);
    rect.Top = baseY + CalcAcumRowHeight(false, TopRow(), r, yFactor, zoomFactor);
    rect.Right = rect.Left + w;
    rect.Bottom = rect.Top + h;
    if (d.Col1 >= LeftCol()) rect.Left += RoundEven(d.LeftOffset * zoomFactor * xFactor);
    if (d.Row1 >= TopRow()) rect.Top += RoundEven(d.TopOffset * zoomFactor * yFactor);
    return true;
}

void TKalmiraGrid::Paint(QPainter& painter, const QRect& clip) {
    if (FKalmiraImport == nullptr) {
        painter.fillRect(clip, Qt0BGR(NoFacadeColor));
        TQtCanvas canvas(&painter);
        canvas.Font = GridFont;
        canvas.TextOut({clip.left(), clip.top(), clip.right() + 1, clip.bottom() + 1}, 10, 10,
                       u"Please connect a KalmiraImport component to the grid.");
        return;
    }
    const int lastCol = LastFullVisibleCol();
    const int lastRow = LastFullVisibleRow();
    auto qrect = [](const TRect& r) { return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top); };
    // Cells under raster pictures are not painted: the pictures cover them.
    QRegion cells(clip);
    TRect p;
    for (std::size_t i = 0; i < FPictures.size(); ++i)
        if (FPictures[i]->Opaque && !FPictures[i]->Picture.isNull() &&
            CalcPictureRect(static_cast<int>(i), lastCol + 1, lastRow + 1, p, false, 1, 1, FZoomFactor))
            cells -= qrect(p);
    painter.setClipRegion(cells);
    painter.fillRect(clip, Qt::white);
    TXlsCellRange cursor;
    if (!HideCursor) {
        cursor = GetCursorCoords();
        const bool spans = cursor.Left != cursor.Right || cursor.Top != cursor.Bottom;
        // A frame round a merged cell reaches into cells a move would not
        // repaint.
        if ((FLastSpanned || spans) &&
            (Row() != FLastRow || Col() != FLastCol || TopRow() != FLastTopRow || LeftCol() != FLastLeftCol)) {
            InvalidateGrid();
            FLastRow = Row();
            FLastCol = Col();
            FLastTopRow = TopRow();
            FLastLeftCol = LeftCol();
        }
        FLastSpanned = spans;
    }
    DrawCells(painter, clip);
    if (!HideCursor) DrawCursor(painter, cursor);
    // Pictures never cover the headers.
    painter.setClipRect(clip);
    painter.setClipRect(QRect(QPoint(ColWidths(0), RowHeights(0)), viewport()->rect().bottomRight()),
                        Qt::IntersectClip);
    painter.setBrush(Qt0BGR(BackgroundColor));
    painter.setPen(Qt0BGR(ForegroundColor));
    for (std::size_t i = 0; i < FPictures.size(); ++i) {
        if (!CalcPictureRect(static_cast<int>(i), lastCol + 1, lastRow + 1, p, true, 1, 1, FZoomFactor)) continue;
        const QRect target = qrect(p);
        TPictureData& d = *FPictures[i];
        if (d.Metafile)
            DrawShownMetafile(painter, target, d);
        else if (d.Picture.isNull())
            painter.drawRect(target.adjusted(0, 0, -1, -1));
        else
            painter.drawImage(target, d.Picture);
    }
    painter.setClipRect(clip);
}

void TKalmiraGrid::DrawCell(QPainter& painter, int col, int row, const QRect& rect, unsigned state) {
    TQtCanvas canvas(&painter);
    FGridCanvas = &canvas;
    struct TReset {
        TCanvas*& Canvas;
        ~TReset() { Canvas = nullptr; }
    } reset{FGridCanvas};
    TDrawCellArgs args;
    args.Col = args.PaintCol = args.LastCol = col;
    args.Row = args.LastRow = row;
    args.CellClip = {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
    args.ContentRect = args.CellClip;
    args.State = state;
    args.ClipRect = canvas.ClipRect();
    args.Zoom = FZoom;
    args.ZoomFactor = FZoomFactor;
    args.GridLines = FShowGridLines;
    MyDrawCell(canvas, args);
}

void TKalmiraGrid::ReportError(const std::exception& error) {
    if (OnError)
        OnError(*this, error);
    else
        plat::ShowException(error);
}

}  // namespace kalmira

// ==========================================================================
// Text measuring: fonts from the workbook, rich runs, sub- and superscripts,
// rotation and the cutting of text into lines.
namespace kalmira {

namespace {

constexpr int MaxFontPixels = 4096;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The length of the character at i: a surrogate pair is one character.
int CharLength(std::u16string_view text, std::size_t i) {
    return i + 1 < text.size() && IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1]) ? 2 : 1;
}

// n units from p, moved off the middle of a pair: back when that leaves
// something, else forward over the whole pair.
int WholeChars(std::u16string_view text, std::size_t p, int n) {
    const std::size_t end = p + static_cast<std::size_t>(n);
    if (end < text.size() && end > p && IsLowSurrogate(text[end]) && IsHighSurrogate(text[end - 1]))
        return n > 1 ? n - 1 : n + 1;
    return n;
}

// The runs of the n units from p (0-based), with the run in effect at p
// carried to the line's first character, so that a run crossing a line
// break keeps its font on the next line.
TRTFRunList LineRuns(const TRTFRunList& runs, std::size_t p, int n) {
    TRTFRunList result = TKalmiraGridText::GetRuns(runs, static_cast<int>(p) + 1, n);
    const auto before = std::find_if(runs.rbegin(), runs.rend(),
                                     [&](const TRTFRun& r) { return r.FirstChar > 0 && r.FirstChar <= p; });
    if (before != runs.rend() && (result.empty() || result.front().FirstChar != 1))
        result.insert(result.begin(), TRTFRun{1, before->FontIndex});
    return result;
}

bool Shifted(const TSubscriptData& data) { return data.Divisor != 0 || data.Factor != 1; }

// A run's colour: its palette entry, or for the automatic colour (and any
// index outside the palette) the colour of the cell.
std::uint32_t RunColour(TExcelFile& workbook, const TKmrFont& font, std::uint32_t cellColour) {
    if (font.ColorIndex > 0 && font.ColorIndex <= TKalmiraImport::GetColorPaletteCount())
        return workbook.GetColorPalette(font.ColorIndex);
    return cellColour;
}

}  // namespace

int RoundEven(long double value) { return static_cast<int>(std::nearbyintl(value)); }

template <class F>
void TKalmiraGridText::ForEachPiece(TExcelFile& workbook, TCanvas& canvas, std::u16string_view text,
                                    const TRTFRunList& runs, long double zoom, const TSubscriptData& whole,
                                    bool colours, F each) {
    const TSavedFont saved = SaveFont(canvas.Font);
    auto part = [&](std::size_t from, std::size_t to) {
        from = std::min(from, text.size());
        return text.substr(from, std::max(from, std::min(to, text.size())) - from);
    };
    try {
        if (Shifted(whole))
            canvas.Font.Height = -std::clamp(RoundEven(std::abs(saved.Height) * whole.Factor), 1, MaxFontPixels);
        const std::size_t first = runs.empty() ? text.size() : runs.front().FirstChar - 1u;
        each(part(0, first), RoundEven(SubscriptOffset(whole, canvas)));
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const std::size_t to = i + 1 < runs.size() ? runs[i + 1].FirstChar - 1u : text.size();
            const TKmrFont font = workbook.GetFontList(runs[i].FontIndex);
            const TSubscriptData sub = GetSubscriptData(font.Style.Bits());
            LoadFont(nullptr, nullptr, colours ? RunColour(workbook, font, saved.Color) : saved.Color, zoom * sub.Factor,
                     canvas, font);
            canvas.Font.Escapement = saved.Rotation;
            each(part(runs[i].FirstChar - 1u, to), RoundEven(SubscriptOffset(sub, canvas)));
        }
    } catch (...) {
        RestoreFont(canvas.Font, saved);
        throw;
    }
    RestoreFont(canvas.Font, saved);
}

void TKalmiraGridText::WideTextExtent(TCanvas& canvas, std::u16string_view text, TSize& extent) {
    extent = canvas.TextExtent(text);
}

TSubscriptData TKalmiraGridText::GetSubscriptData(std::uint8_t styleBits) {
    if (styleBits & 1u << static_cast<int>(TKmrFontStyle::fs_Subscript)) return {2.0L / 3.0L, -8};
    if (styleBits & 1u << static_cast<int>(TKmrFontStyle::fs_Superscript)) return {2.0L / 3.0L, 1.5L};
    return {1, 0};
}

long double TKalmiraGridText::SubscriptOffset(const TSubscriptData& data, TCanvas& canvas) {
    if (data.Divisor == 0) return 0;
    return canvas.TextExtent(u"Mg").cy / data.Divisor;
}

int TKalmiraGridText::FontDescent(TCanvas& canvas) { return canvas.Ascent(); }

long double TKalmiraGridText::CalcAngle(int rotation, bool& stacked) {
    stacked = rotation == 255;
    if (rotation >= 0 && rotation <= 90) return rotation * std::numbers::pi_v<long double> / 180;
    if (rotation > 90 && rotation <= 180) return (90 - rotation) * std::numbers::pi_v<long double> / 180;
    return 0;
}

void TKalmiraGridText::RotateFont(TCanvasFont& font, int rotation) {
    if (rotation >= 1 && rotation <= 90) RotateFontDirect(font, rotation * 10);
    if (rotation > 90 && rotation <= 180) RotateFontDirect(font, (90 - rotation) * 10);
}

void TKalmiraGridText::RotateFontDirect(TCanvasFont& font, int tenths) { font.Escapement = tenths; }

int TKalmiraGridText::GetFontRotation(const TCanvasFont& font) { return font.Escapement; }

void TKalmiraGridText::AssignUnrotatedFont(const TCanvasFont& source, TCanvasFont& target) {
    target = source;
    target.Escapement = 0;
}

TSavedFont TKalmiraGridText::SaveFont(const TCanvasFont& font) {
    return {font.Bold, font.Italic, font.Underline, font.StrikeOut, font.Height, font.Name, font.Color, font.Escapement};
}

void TKalmiraGridText::RestoreFont(TCanvasFont& font, const TSavedFont& saved) {
    font.Bold = saved.Bold;
    font.Italic = saved.Italic;
    font.Underline = saved.Underline;
    font.StrikeOut = saved.StrikeOut;
    font.Height = saved.Height;
    font.Name = saved.Name;
    font.Color = saved.Color;
    RotateFontDirect(font, saved.Rotation);
}

void TKalmiraGridText::LoadFont(TKalmiraImport* facade, TKalmiraGrid* grid, std::uint32_t defaultColor,
                                long double zoom, TCanvas& canvas, const TKmrFont& font) {
    // Palette entries count from 1 to 56; anything else (the automatic
    // colour among them) is the default.
    const bool paletteColour = facade != nullptr && facade->IsLoaded() && font.ColorIndex > 0 &&
                               font.ColorIndex <= TKalmiraImport::GetColorPaletteCount();
    canvas.Font.Color = paletteColour ? facade->GetColorPalette(font.ColorIndex) : defaultColor;
    std::u16string name = font.Name;
    if (grid != nullptr && grid->OnGetFontName) grid->OnGetFontName(*grid, name);
    canvas.Font.Name = name;
    const int pixels = RoundEven(font.Size20 / 20.0L * zoom * canvas.PixelsPerInch() / 72);
    canvas.Font.Height = -std::clamp(pixels, 1, MaxFontPixels);
    canvas.Font.Underline = font.Underline != TKmrUnderline::fu_None;
    canvas.Font.Bold = font.Style.Has(TKmrFontStyle::fs_Bold);
    canvas.Font.Italic = font.Style.Has(TKmrFontStyle::fs_Italic);
    canvas.Font.StrikeOut = font.Style.Has(TKmrFontStyle::fs_StrikeOut);
}

TRTFRunList TKalmiraGridText::GetRuns(const TRTFRunList& runs, int start, int count) {
    TRTFRunList result;
    for (const TRTFRun& r : runs)
        if (r.FirstChar >= start && r.FirstChar < start + count)
            result.push_back({static_cast<std::uint16_t>(r.FirstChar - start + 1), r.FontIndex});
    return result;
}

void TKalmiraGridText::CalcTextExtent(TExcelFile& workbook, TCanvas& canvas, std::u16string_view text,
                                      const TRTFRunList& runs, long double zoom, TSize& extent, int& ascent,
                                      const TSubscriptData& whole) {
    ascent = FontDescent(canvas);
    if (runs.empty() && !Shifted(whole)) {
        WideTextExtent(canvas, text, extent);
        return;
    }
    if (text.empty()) {
        extent = {};
        return;
    }
    // The line holds the canvas font's own line, so that its baseline is
    // the normal one; each piece reaches its ascent above and its descent
    // below that baseline, moved up by its shift.
    int descent = canvas.TextExtent(u"Mg").cy - ascent;
    int width = 0;
    ForEachPiece(workbook, canvas, text, runs, zoom, whole, false, [&](std::u16string_view piece, int shift) {
        if (piece.empty()) return;
        const TSize size = canvas.TextExtent(piece);
        const int pieceAscent = FontDescent(canvas);
        width += size.cx;
        ascent = std::max(ascent, shift + pieceAscent);
        descent = std::max(descent, size.cy - pieceAscent - shift);
    });
    extent = {width, ascent + descent};
}

void TKalmiraGridText::SplitText(TExcelFile& workbook, TCanvas& canvas, std::u16string_view text, int width,
                                 long double zoom, bool stacked, const TRTFRunList& runs,
                                 std::vector<std::u16string>& lines, std::vector<TRTFRunList>& lineRuns,
                                 TSize& extent, const TSubscriptData& whole) {
    lines.clear();
    lineRuns.clear();
    extent = {};
    auto richWidth = [&](std::size_t p, int n) {
        TSize size;
        int ascent = 0;
        CalcTextExtent(workbook, canvas, text.substr(p, n), LineRuns(runs, p, n), zoom, size, ascent, whole);
        return size.cx;
    };
    // Plain text that is a sub- or superscript as a whole fits in the
    // smaller font it is drawn in.
    auto fitCount = [&](std::u16string_view part) {
        if (!Shifted(whole)) return canvas.FitCount(part, width);
        const int height = canvas.Font.Height;
        canvas.Font.Height = -std::clamp(RoundEven(std::abs(height) * whole.Factor), 1, MaxFontPixels);
        const int n = canvas.FitCount(part, width);
        canvas.Font.Height = height;
        return n;
    };
    const int em = canvas.TextExtent(u"M").cx;
    std::size_t p = 0;
    while (p < text.size()) {
        const int rest = static_cast<int>(text.size() - p);
        int n;
        if (stacked) {
            n = CharLength(text, p);
        } else if (!runs.empty()) {
            n = std::clamp(em > 0 ? RoundEven(static_cast<long double>(width) / em) : 1, 1, rest);
            while (n > 1 && richWidth(p, n) > width) n = WholeChars(text, p, n - 1);
            // Grow while one character more still fits.
            while (n < rest) {
                const int next = n + CharLength(text, p + n);
                if (next > rest || richWidth(p, next) > width) break;
                n = next;
            }
        } else {
            // Only a prefix of about width units can fit: measuring the
            // whole rest would make long texts in narrow columns quadratic.
            const int prefix = std::min(rest, std::max(width, 0) + 2);
            n = fitCount(text.substr(p, prefix));
        }
        n = WholeChars(text, p, std::max(n, 1));
        if (text.substr(p, n).find(u' ') != std::u16string_view::npos)
            while (n > 1 && p + n < text.size() && text[p + n] != u' ') --n;
        n = WholeChars(text, p, n);
        while (p + n < text.size() && text[p + n] == u' ') ++n;
        std::size_t next = p + n;
        const std::size_t lf = text.substr(p, n).find(u'\n');
        if (lf != std::u16string_view::npos) {
            n = static_cast<int>(lf);
            next = p + lf + 1;
        }
        lines.emplace_back(text.substr(p, n));
        lineRuns.push_back(LineRuns(runs, p, n));
        TSize size;
        int ascent = 0;
        CalcTextExtent(workbook, canvas, lines.back(), runs.empty() ? TRTFRunList{} : lineRuns.back(), zoom, size,
                       ascent, whole);
        extent.cx = std::max(extent.cx, size.cx);
        extent.cy = std::max(extent.cy, size.cy);
        p = next;
    }
}

}  // namespace kalmira

// ==========================================================================
// The grid's editing in place, moves over merged cells, wheel and zoom, and
// the clipboard keys.
namespace kalmira {

namespace {

constexpr int MinZoom = 10;
constexpr int MaxZoom = 400;
constexpr int ZoomStep = 5;
constexpr int WheelZoomMin = 20;
constexpr int WheelZoomMax = 200;
constexpr int LastSheetCol = 256;

bool SingleCell(const TGridRect& r) { return r.Left == r.Right && r.Top == r.Bottom; }

}  // namespace

template <class F>
void TKalmiraGrid::Guarded(F action) {
    try {
        action();
    } catch (const std::exception& e) {
        ReportError(e);
    }
}

TXlsCellRange TKalmiraGrid::GetXCellMergedBounds(int row, int col) {
    TXlsCellRange range = FKalmiraImport->GetCellMergedBounds(row, col);
    TKmrFormat format;
    GetCellFormatDef(row, col, format);
    if (format.HAlignment != THKmrAlignment::fha_center_across_selection) return range;
    // Centring across a selection widens only over empty neighbours that
    // centre across it too: a neighbour with a value of its own keeps it.
    auto joins = [&](int c) {
        TKmrFormat f;
        GetCellFormatDef(row, c, f);
        return f.HAlignment == THKmrAlignment::fha_center_across_selection &&
               FKalmiraImport->GetCellValue(row, c).IsEmpty();
    };
    while (range.Left > 1 && joins(range.Left - 1)) --range.Left;
    while (range.Right < LastSheetCol && joins(range.Right + 1)) ++range.Right;
    return range;
}

bool TKalmiraGrid::CanEditShow() {
    if (!Open() || FReadOnly) return false;
    if (FormulaReadOnly && FKalmiraImport->GetIsFormula(Row(), Col())) return false;
    const TXlsCellRange merged = GetXCellMergedBounds(Row(), Col());
    if (merged.Left != Col() || merged.Top != Row()) return false;
    bool allowed = TKmrCustomGrid::CanEditShow();
    if (OnAllowEditCell) OnAllowEditCell(*this, Col(), allowed, Row());
    return allowed;
}

std::u16string TKalmiraGrid::GetEditText(int col, int row) {
    if (!Open()) return {};
    if (FKalmiraImport->GetIsFormula(row, col)) return FKalmiraImport->GetCellFormula(row, col);
    TKmrFormat format;
    GetCellFormatDef(row, col, format);
    std::uint32_t colour = 0;
    return XlsFormatValue1904(FKalmiraImport->GetCellValue(row, col), format.Format,
                              FKalmiraImport->GetOptions1904Dates(), colour);
}

void TKalmiraGrid::SetEditText(int col, int row, const std::u16string& text) {
    SetCell(row, col, text);
    if (OnSetEditText) OnSetEditText(*this, col, row, text);
}

void TKalmiraGrid::SetCell(int row, int col, const std::u16string& text) {
    if (!Open()) return;
    if (text.starts_with(u'='))
        FKalmiraImport->AssignCellFormulaX(row, col, text, TVariant());
    else
        FKalmiraImport->SetCellString(row, col, text);
    InvalidateGrid();
}

bool TKalmiraGrid::SelectCell(int col, int row) {
    if (FInSelectCell) return true;
    FInSelectCell = true;
    bool result = true;
    Guarded([&] {
        InvalidateGrid();  // the headers show the new current cell
        if (!Open() || !SingleCell(Selection())) return;
        const TXlsCellRange merged = GetXCellMergedBounds(row, col);
        if (merged.Left != col || merged.Top != row) {
            // The move goes to the merged range's first cell instead, and
            // the one asked for is refused so that the redirect sticks.
            FocusCell(merged.Left, merged.Top);
            result = false;
        }
    });
    FInSelectCell = false;
    if (OnSelectCell) OnSelectCell(*this, col, result, row);
    return result;
}

void TKalmiraGrid::MergedMove(int key) {
    const TXlsCellRange k = GetXCellMergedBounds(Row(), Col());
    switch (key) {
        case Qt::Key_Right:
            if (k.Right + 1 < ColCount()) FocusCell(k.Right + 1, Row());
            break;
        case Qt::Key_Down:
            if (k.Bottom + 1 < RowCount()) FocusCell(Col(), k.Bottom + 1);
            break;
        case Qt::Key_Left:
            if (k.Left - 1 >= FixedCols()) FocusCell(k.Left - 1, Row());
            break;
        default:
            if (k.Top - 1 >= FixedRows()) FocusCell(Col(), k.Top - 1);
            break;
    }
}

void TKalmiraGrid::KeyDown(QKeyEvent* event) {
    const int key = event->key();
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool none = mods == Qt::NoModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    const bool shift = mods == Qt::ShiftModifier;
    Guarded([&] {
        const bool arrowMove = Open() && none &&
                               (((key == Qt::Key_Right || key == Qt::Key_Down) && SingleCell(Selection())) ||
                                key == Qt::Key_Left || key == Qt::Key_Up);
        if (arrowMove) {
            MergedMove(key);
            return;
        }
        TKmrCustomGrid::KeyDown(event);
        if ((ctrl && (key == Qt::Key_C || key == Qt::Key_Insert || key == Qt::Key_X)) ||
            (shift && key == Qt::Key_Delete))
            CopyToClipboard();
        if ((ctrl && key == Qt::Key_V) || (shift && key == Qt::Key_Insert)) PasteFromClipboard();
        if (key == Qt::Key_Delete || (ctrl && key == Qt::Key_X)) {
            if (Open() && !FReadOnly) ClearSelection();
            InvalidateGrid();
            event->accept();
        }
    });
}

void TKalmiraGrid::ClearSelection() {
    const TGridRect sel = Selection();
    // A whole-sheet selection clears only the used cells.
    const int lastCol = std::min(sel.Right, FKalmiraImport->GetMaxCol());
    const int lastRow = std::min(sel.Bottom, FKalmiraImport->GetMaxRow());
    for (int c = sel.Left; c <= lastCol; ++c)
        for (int r = sel.Top; r <= lastRow; ++r) FKalmiraImport->SetCellValue(r, c, TVariant());
}

void TKalmiraGrid::CopyToClipboard() {
    if (!Open()) return;
    const TGridRect sel = Selection();
    FKalmiraImport->CopyToClipboard(TXlsCellRange{sel.Left, sel.Top, sel.Right, sel.Bottom});
}

void TKalmiraGrid::PasteFromClipboard() {
    if (!Open() || FReadOnly) return;
    const TGridRect sel = Selection();
    FKalmiraImport->PasteFromClipboard(sel.Top, sel.Left);
    InvalidateGrid();
}

bool TKalmiraGrid::DoMouseWheelDown(Qt::KeyboardModifiers modifiers, QPoint pos) {
    if (ScrollWheelOffset < 0) return TKmrCustomGrid::DoMouseWheelDown(modifiers, pos);
    bool handled = false;
    if (OnMouseWheelDown) OnMouseWheelDown(*this, modifiers, pos, handled);
    if (handled) return true;
    const auto mods = modifiers & ~Qt::KeypadModifier;
    Guarded([&] {
        if (mods == Qt::ShiftModifier)
            SetLeftCol(std::min(LeftCol() + ScrollWheelOffset, ColCount() - VisibleColCount()));
        else if (mods == Qt::ControlModifier) {
            if (FZoom > WheelZoomMin) SetZoom(FZoom - ZoomStep);
        } else
            SetTopRow(std::min(TopRow() + ScrollWheelOffset, RowCount() - VisibleRowCount()));
    });
    return true;
}

bool TKalmiraGrid::DoMouseWheelUp(Qt::KeyboardModifiers modifiers, QPoint pos) {
    if (ScrollWheelOffset < 0) return TKmrCustomGrid::DoMouseWheelUp(modifiers, pos);
    bool handled = false;
    if (OnMouseWheelUp) OnMouseWheelUp(*this, modifiers, pos, handled);
    if (handled) return true;
    const auto mods = modifiers & ~Qt::KeypadModifier;
    Guarded([&] {
        if (mods == Qt::ShiftModifier)
            SetLeftCol(std::max(LeftCol() - ScrollWheelOffset, FixedCols()));
        else if (mods == Qt::ControlModifier) {
            if (FZoom < WheelZoomMax) SetZoom(FZoom + ZoomStep);
        } else
            SetTopRow(std::max(TopRow() - ScrollWheelOffset, FixedRows()));
    });
    return true;
}

void TKalmiraGrid::SetZoom(int value) {
    ApplySheet();
    FZoom = std::clamp(value, MinZoom, MaxZoom);
    FZoomFactor = FZoom / 100.0L;
    if (Open()) ResizeRowsAndCols();
    InvalidateGrid();
    if (OnZoomChanged) OnZoomChanged(*this, value);
}

void TKalmiraGrid::CreateEditor(QLineEdit& editor) {
    TCanvasFont font;
    AssignUnrotatedFont(FCurrentCellFont, font);
    editor.setFont(QtFont(font));
}

void TKalmiraGrid::TopLeftChanged() {
    if (OnTopLeftChanged) OnTopLeftChanged(*this);
}

void TKalmiraGrid::ColWidthsChanged() {
    if (FResizing) return;
    Guarded([&] { ApplySheet(); });
    if (OnColWidthsChanged) OnColWidthsChanged(*this);
}

void TKalmiraGrid::RowHeightsChanged() {
    if (FResizing) return;
    Guarded([&] { ApplySheet(); });
    if (OnRowHeightsChanged) OnRowHeightsChanged(*this);
}

}  // namespace kalmira

// ==========================================================================
// Cell drawing: a cell's value through its number format, in its font and
// alignment, with fills, borders, merged ranges and text flowing over empty
// neighbours; and the backgrounds and lines of printed pages.
namespace kalmira {

namespace {

constexpr std::uint32_t LineColor = 0xC0C0C0;
constexpr std::uint32_t HeaderLineColor = 0x808080;
constexpr std::uint32_t HeaderHighlight = 0xF2BEAA;
constexpr std::uint32_t FixedRowColor = 0x800000;
constexpr std::uint32_t DarkSelection = 0x5A4942;
constexpr int SidePadding = 2;  // pixels between a cell's text and its left and right sides

// Numbers and dates: they never flow into neighbours nor wrap.
bool IsNumber(const TVariant& v) { return v.IsNumeric() || v.VarType() == TVarType::Date; }

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
    if (IsNumber(GetCellValue(row, col))) return false;
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
    return CalcTextPos(v, h, a, r, m, m, extent, general, stacked, lines, s, c);
}

TTextPos TKalmiraGrid::CalcTextPos(TTextVAlign v, TTextHAlign h, long double a, const TRect& r, int mx, int my,
                                   TSize extent, bool general, bool stacked, int lines, long double s, long double c) {
    const long double w = extent.cx;
    const long double ht = extent.cy;
    const int n = lines;
    TTextPos p;
    if (a == 0) {
        switch (v) {
            case TTextVAlign::Top: p.Y = r.Top + my; break;
            case TTextVAlign::Center: p.Y = (r.Top + r.Bottom - extent.cy * n) / 2; break;
            case TTextVAlign::Bottom: p.Y = r.Bottom - my - extent.cy * n; break;
        }
        const TTextHAlign h2 = general && stacked ? TTextHAlign::Center : h;
        switch (h2) {
            case TTextHAlign::Center: p.X = (r.Left + r.Right - extent.cx) / 2; break;
            case TTextHAlign::Right: p.X = r.Right - mx - extent.cx; break;
            case TTextHAlign::Left: p.X = r.Left + mx; break;
        }
        p.Bounds = {p.X, p.Y, p.X + extent.cx, p.Y + extent.cy * n};
        return p;
    }
    const bool up = a > 0;
    switch (v) {
        case TTextVAlign::Top: p.Y = up ? RoundEven(r.Top + my + w * s) : r.Top + my; break;
        case TTextVAlign::Center: p.Y = RoundEven((r.Top + r.Bottom - ht * c + w * s) / 2); break;
        case TTextVAlign::Bottom: p.Y = up ? RoundEven(r.Bottom - my - ht * c) : RoundEven(r.Bottom - my - ht * c + w * s); break;
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
        case TTextHAlign::Center: p.X = RoundEven((r.Left + r.Right - across) / 2); break;
        case TTextHAlign::Right: p.X = up ? RoundEven(r.Right - mx - across) : RoundEven(r.Right - mx - w * c); break;
        case TTextHAlign::Left: p.X = up ? r.Left + mx : RoundEven(r.Left + mx - ht * s * n); break;
    }
    if (up)
        p.Bounds = {p.X, RoundEven(p.Y - w * s), RoundEven(p.X + w * c + ht * s * n), RoundEven(p.Y + ht * c)};
    else
        p.Bounds = {RoundEven(p.X + ht * s * n), p.Y, RoundEven(p.X + w * c), RoundEven(p.Y + ht * c - w * s)};
    return p;
}

void TKalmiraGrid::WriteText(TExcelFile& workbook, TCanvas& canvas, const TRect& clip, int x, int y,
                             std::u16string_view text, const TRTFRunList& runs, long double zoom,
                             const TSubscriptData& whole) {
    if (runs.empty() && !Shifted(whole)) {
        canvas.TextOut(clip, x, y, text);
        return;
    }
    TSize line;
    int ascent = 0;
    CalcTextExtent(workbook, canvas, text, runs, zoom, line, ascent, whole);
    // All pieces share the line's baseline, y + ascent; a superscript's
    // positive shift raises it, a subscript's negative one lowers it.
    const int baseline = y + ascent;
    ForEachPiece(workbook, canvas, text, runs, zoom, whole, true, [&](std::u16string_view piece, int shift) {
        if (piece.empty()) return;
        canvas.TextOut(clip, x, baseline - shift - canvas.Ascent(), piece);
        x += canvas.TextExtent(piece).cx;
    });
}

// ---- One cell

std::u16string TKalmiraGrid::FitNumber(TCanvas& canvas, TExcelFile* book, const TVariant& value,
                                       std::u16string_view format, std::u16string text, int width,
                                       const TSubscriptData& sub, long double zoom) {
    auto wide = [&](std::u16string_view t) {
        TSize extent;
        int ascent = 0;
        if (book != nullptr)
            CalcTextExtent(*book, canvas, t, {}, zoom, extent, ascent, sub);
        else
            WideTextExtent(canvas, t, extent);
        return extent.cx;
    };
    if (text.empty() || wide(text) <= width) return text;
    for (std::u16string& form : XlsGeneralNarrowerForms(value, format))
        if (wide(form) <= width) return std::move(form);
    // As many "#" as the cell holds.
    const int one = wide(u"#");
    int n = one > 0 ? std::max(width, 0) / one : 0;
    std::u16string hashes(static_cast<std::size_t>(n), u'#');
    while (n > 0 && wide(hashes) > width) hashes.resize(static_cast<std::size_t>(--n));
    return hashes;
}

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
    // Text keeps two pixels (at zoom 100, growing with the text) from the
    // cell's sides, so that a right-aligned number never touches the next
    // cell's text, and one from its top and bottom; at small zooms none.
    const int mx = args.Zoom <= 50 ? 0 : RoundEven(SidePadding * args.XScale * std::max(args.ZoomFactor, 1.0L));
    const int my = args.Zoom <= 50 ? 0 : RoundEven(args.XScale);
    canvas.Font = GridFont;
    canvas.Font.Height = RoundEven(GridFont.Height * args.ZoomFactor);
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
    TVariant value;
    TKmrFormat f;
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
        value = GetCellValue(row, col);
        runs = FKalmiraImport->GetRTFRuns(row, col);
        h = value.VarType() == TVarType::Boolean  ? TTextHAlign::Center
            : value.VarType() == TVarType::String ? TTextHAlign::Left
                                                  : TTextHAlign::Right;
        GetCellFormatDef(row, col, f);
        multiLine = !IsNumber(value) &&
                    (f.WrapText || f.HAlignment == THKmrAlignment::fha_justify ||
                     f.VAlignment == TVKmrAlignment::fva_justify || f.VAlignment == TVKmrAlignment::fva_distributed);
        if (args.DrawBack) pattern = FillOf(f, b, hasFill);
        // A sub- or superscript cell keeps its font's full size on the
        // canvas: its baseline is the one normal text would have, and the
        // text is drawn smaller, raised or lowered from there.
        sub = GetSubscriptData(f.Font.Style.Bits());
        LoadFont(FKalmiraImport, this, ForegroundColor, args.ZoomFactor, canvas, f.Font);
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

    TRect t{args.CellClip.Left + mx, args.CellClip.Top + my, args.CellClip.Right - mx, args.CellClip.Bottom - my};
    TSize extent;
    int ascent = 0;
    TExcelFile* book = FKalmiraImport->GetWorkbook();
    std::vector<std::u16string> lines;
    std::vector<TRTFRunList> lineRuns;
    auto measure = [&] {
        if (book != nullptr) CalcTextExtent(*book, canvas, text, runs, args.ZoomFactor, extent, ascent, sub);
        else WideTextExtent(canvas, text, extent);
    };
    measure();
    // A number that does not fit is measured again only then.
    const int room = r.Right - r.Left - 2 * mx;
    if (!header && a == 0 && !stacked && IsNumber(value) && extent.cx > room) {
        text = FitNumber(canvas, book, value, f.Format, std::move(text), room, sub, args.ZoomFactor);
        measure();
    }
    if (book != nullptr && (multiLine || stacked)) {
        const int width = a == 0 ? r.Right - r.Left - 2 * mx
                                 : static_cast<int>((r.Bottom - r.Top - 2 * my - extent.cy * cosA) / std::fabs(sinA));
        SplitText(*book, canvas, text, width, args.ZoomFactor, stacked, runs, lines, lineRuns, extent, sub);
    } else {
        lines.push_back(text);
        lineRuns.push_back(runs);
    }
    const TTextPos pos =
        CalcTextPos(v, h, a, r, mx, my, extent, general, stacked, static_cast<int>(lines.size()), sinA, cosA);
    TRect clip = args.CellClip;
    if (&canvas == FGridCanvas) clip.Right = std::min(clip.Right, viewport()->width());
    canvas.IntersectClip(clip);
    try {
        const TRect& bounds = pos.Bounds;
        auto crosses = [&] { return bounds.Right >= t.Right && bounds.Left < t.Right; };
        if (args.DrawBack) {
            if (!(r == args.CellClip)) {
                if (r.Right != args.CellClip.Right) t.Right += mx;
                if (r.Left != args.CellClip.Left) t.Left -= mx;
            } else if (!multiLine) {
                if (IsEmptyCell(row, col + 1)) {
                    t.Right += mx;
                    if (crosses())
                        RecordCrossing(canvas, args, col);
                    else
                        t.Right -= mx;
                }
                if (IsEmptyCell(row, col - 1)) t.Left -= mx;
            }
        } else {
            if (args.MayGrowLeft) t.Left -= mx;
            if (args.MayGrowRight) t.Right += mx;
            if (args.MayGrowRight && crosses()) RecordCrossing(canvas, args, args.PaintCol);
        }
        if (Overlap(t, bounds)) {
            TRect vclip = t;
            if (r.Top != args.CellClip.Top) vclip.Top -= my;
            if (r.Bottom != args.CellClip.Bottom) vclip.Bottom += my;
            int x = pos.X;
            int y = pos.Y;
            for (std::size_t i = 0; args.Draw && i < lines.size(); ++i) {
                if (book != nullptr)
                    WriteText(*book, canvas, vclip, x, y, lines[i], lineRuns[i], args.ZoomFactor, sub);
                else
                    canvas.TextOut(vclip, x, y, lines[i]);
                if (a == 0)
                    y += extent.cy;
                else
                    x += RoundEven(extent.cy / sinA);
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
        const int hr = RoundEven(RowH(row) / RowMult * s * y);
        long double left = rect.Left;
        for (int col = range.Left; col <= range.Right; ++col) {
            const int wc = RoundEven(ColW(col) / ColMult * s * x);
            const TXlsCellRange mr = GetXCellMergedBounds(row, col);
            TKmrFormat f;
            GetCellFormatDef(mr.Top, mr.Left, f);
            std::uint32_t brush = BackgroundColor;
            bool hasFill = false;
            const std::unique_ptr<TKmrGraphic> pattern = FillOf(f, brush, hasFill);
            canvas.BrushColor = brush;
            canvas.BrushBitmap = pattern.get();
            canvas.FillRect({RoundEven(left * m), RoundEven(top * m), RoundEven((left + wc) * m), RoundEven((top + hr) * m)});
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
    canvas.PenWidth = PrintedLineWidth(preview, x);
    const int cols = range.Right - range.Left + 1;
    const int rows = range.Bottom - range.Top + 1;
    if (cols <= 0 || rows <= 0) return;
    std::vector<int> w(static_cast<std::size_t>(cols));
    std::vector<int> hgt(static_cast<std::size_t>(rows));
    for (int c = 0; c < cols; ++c) w[static_cast<std::size_t>(c)] = RoundEven(ColW(range.Left + c) / ColMult * s * x);
    for (int r = 0; r < rows; ++r) hgt[static_cast<std::size_t>(r)] = RoundEven(RowH(range.Top + r) / RowMult * s * y);
    auto line = [&](bool horizontal, int fixed, int from, int to, std::uint32_t colour) {
        SetPen(canvas, colour);
        if (horizontal)
            canvas.Polyline({{RoundEven(from * m), RoundEven(fixed * m)}, {RoundEven(to * m), RoundEven(fixed * m)}});
        else
            canvas.Polyline({{RoundEven(fixed * m), RoundEven(from * m)}, {RoundEven(fixed * m), RoundEven(to * m)}});
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

// ==========================================================================
// Printing the sheet: the page setup into print parameters, pages cut from
// a range (down each column strip, then over), headers and footers with
// their codes, pictures on pages, the printable and visible extents.
namespace kalmira {

namespace {

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

int TKalmiraGrid::PrintedLineWidth(bool preview, long double xRatio) const {
    return preview ? 1 : PrintLineWidth != 0 ? PrintLineWidth : RoundEven(xRatio / 150 * 96);
}

void TKalmiraGrid::SetPrintLineWidth(int width) {
    if (width >= 0) PrintLineWidth = width;
}

int TKalmiraGrid::RealRowHeight(int row, long double zoom, long double yRatio) {
    return RoundEven(RowH(row) / RowMult * zoom * yRatio);
}

int TKalmiraGrid::RealColWidth(int col, long double zoom, long double xRatio) {
    return RoundEven(ColW(col) / ColMult * zoom * xRatio);
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
    p.PrintRect = {RoundEven(dpiX * SaneMargin(m.Left, wide)), RoundEven(dpiY * SaneMargin(m.Top, tall)),
                   RoundEven(p.PageWidth - dpiX * SaneMargin(m.Right, wide)),
                   RoundEven(p.PageHeight - dpiY * SaneMargin(m.Bottom, tall))};
    const TRect& pr = p.PrintRect;
    if (FKalmiraImport->GetPrintToFit() && pr.Right > pr.Left && pr.Bottom > pr.Top) {
        const int pagesWide = FKalmiraImport->GetPrintNumberOfHorizontalPages();
        const int pagesTall = FKalmiraImport->GetPrintNumberOfVerticalPages();
        // The estimate leaves the last column and row out.
        const int w = CalcAcumColWidth(true, range.Left, range.Right, p.XRatio, 1);
        const int h = CalcAcumRowHeight(true, range.Top, range.Bottom, p.YRatio, 1);
        const long double scaleX =
            w == 0 || pagesWide == 0 ? 100 : RoundEven(pagesWide * 100.0L * (pr.Right - pr.Left) / w);
        const long double scaleY =
            h == 0 || pagesTall == 0 ? 100 : RoundEven(pagesTall * 100.0L * (pr.Bottom - pr.Top) / h);
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
    const TRect clipRect{RoundEven(p.PrintRect.Left * d), RoundEven(p.PrintRect.Top * d), RoundEven(p.PrintRect.Right * d),
                         RoundEven(p.PrintRect.Bottom * d)};
    const TRect pageRect{0, 0, RoundEven(p.PageWidth * d), RoundEven(p.PageHeight * d)};
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
            if (!EmptyRange(cells)) PrintImages(canvas, p, cells, d, preview);
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
                            a.CellClip = a.ContentRect = {RoundEven(x * d), RoundEven(y * d), RoundEven((x + w) * d),
                                                          RoundEven((y + h) * d)};
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
                RoundEven(pic.LeftOffset * p.Zoom * p.XRatio);
    rect.Top = p.PrintRect.Top + CalcAcumRowHeight(true, page.Top, pic.Row1, p.YRatio, p.Zoom) +
               RoundEven(pic.TopOffset * p.Zoom * p.YRatio);
    rect.Right = rect.Left + RoundEven(pic.Width * p.Zoom * p.XRatio);
    rect.Bottom = rect.Top + RoundEven(pic.Height * p.Zoom * p.YRatio);
    return rect.Bottom >= p.PrintRect.Top && rect.Right >= p.PrintRect.Left;
}

void TKalmiraGrid::PrintImages(TCanvas& canvas, const TPrintParams& p, const TXlsCellRange& page, long double d,
                               bool preview) {
    for (std::size_t i = 0; i < FPictures.size(); ++i) {
        const TPictureData& pic = *FPictures[i];
        // A picture ending before the page cannot reach it: its position
        // is not summed over the rows between.
        if (pic.Row2 < page.Top || pic.Col2 < page.Left) continue;
        TRect r;
        if (!CalcPrintPictureRect(static_cast<int>(i), r, p, page)) continue;
        if (d != 1) r = {RoundEven(r.Left * d), RoundEven(r.Top * d), RoundEven(r.Right * d), RoundEven(r.Bottom * d)};
        if (pic.Metafile) {
            canvas.DrawVector(r, *pic.Metafile);
        } else if (pic.Picture.isNull()) {
            // As on screen, in the grid's colours rather than in whatever
            // the lines and headers left on the canvas.
            canvas.BrushBitmap = nullptr;
            canvas.BrushColor = BackgroundColor;
            canvas.FillRect(r);
            canvas.PenColor = ForegroundColor;
            canvas.PenWidth = PrintedLineWidth(preview, p.XRatio);
            canvas.Polyline({{r.Left, r.Top}, {r.Right - 1, r.Top}, {r.Right - 1, r.Bottom - 1}, {r.Left, r.Bottom - 1},
                             {r.Left, r.Top}});
        } else {
            canvas.DrawImage(r, pic.Picture);
        }
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
                           RoundEven(header * p.YRatio * 96 * d), 1);
        DrawHeaderOrFooter(FKalmiraImport->GetPageFooter(), canvas, f, p, d, page, total,
                           RoundEven((p.PageHeight - (footer + 0.05L) * p.YRatio * 96) * d), 0);
    } catch (...) {
        canvas.ResetClip(clipRect);
        throw;
    }
    canvas.ResetClip(clipRect);
}

void TKalmiraGrid::DrawHeaderOrFooter(const std::u16string& text, TCanvas& canvas, long double f,
                                      const TPrintParams& p, long double d, int page, int total, int y,
                                      int direction) {
    const int pw = RoundEven(p.PageWidth * d);
    const int ph = RoundEven(p.PageHeight * d);
    const TRect clip{0, 0, pw, ph};
    std::u16string sections[3];
    TKalmiraImport::FillPageHeaderFooter(text, sections[0], sections[1], sections[2]);
    const int margin = RoundEven(0.8L * p.XRatio * 96 * d);
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
        canvas.Font.Height = -std::max(1, RoundEven(RoundEven(pt) * canvas.PixelsPerInch() / 72.0L));
    };
    canvas.Font = GridFont;
    canvas.Font.Name = u"Arial";
    canvas.Font.Bold = canvas.Font.Italic = canvas.Font.Underline = canvas.Font.StrikeOut = false;
    canvas.Font.Escapement = 0;
    canvas.BrushColor = BackgroundColor;
    setPoints(std::max(1, RoundEven(10 * f)));
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
