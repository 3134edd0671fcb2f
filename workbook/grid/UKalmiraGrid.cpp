// The grid view: the sheet's sizes on screen, loading a sheet, painting
// with the cursor frame and the pictures.
#include "workbook/grid/UKalmiraGrid.h"

#include <algorithm>

#include <QPainter>
#include <QRegion>

#include "platform/qt/Dialogs.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/UKmrNumberFormat.h"
#include "workbook/drawing/UXlsPictures.h"
#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

namespace {

constexpr int HeaderWidth = 48;  // the row number column at zoom 100
constexpr std::uint32_t NoFacadeColor = 0xC0C0C0;
constexpr std::uint32_t GridLineColor = 0xD0D0D0;
constexpr std::uint32_t HeaderHighlight = 0xD8D8D8;
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
    SaveImgStreamToGraphic(stream, type, graphic, ok);
    if (ok && graphic.Kind == TKmrGraphic::TKind::Raster)
        data->Picture = ToQImage(graphic);
    else if (OnFormatPicture)
        OnFormatPicture(*this, stream.Bytes(), type, data->Picture);
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

int TKalmiraGrid::GetMaxVisibleRow() {
    int row = FKalmiraImport->GetMaxRow();
    for (const auto& p : FPictures) row = std::max(row, p->Row2);
    return row;
}

int TKalmiraGrid::GetMaxVisibleCol() {
    int col = FKalmiraImport->GetMaxCol();
    for (const auto& p : FPictures) col = std::max(col, p->Col2);
    return col;
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
        if (FPictures[i]->Picture.isNull())
            painter.drawRect(target.adjusted(0, 0, -1, -1));
        else
            painter.drawImage(target, FPictures[i]->Picture);
    }
    painter.setClipRect(clip);
}

void TKalmiraGrid::DrawCell(QPainter& painter, int col, int row, const QRect& rect, unsigned state) {
    const bool header = row == 0 || col == 0;
    const TGridRect sel = Selection();
    if (header) {
        const bool marked = !HideCursor && ((row == 0 && col >= sel.Left && col <= sel.Right) ||
                                            (col == 0 && row >= sel.Top && row <= sel.Bottom));
        painter.fillRect(rect, Qt0BGR(marked ? HeaderHighlight : FixedColor));
        painter.setPen(Qt0BGR(0xA0A0A0));
        painter.drawLine(rect.topRight(), rect.bottomRight());
        painter.drawLine(rect.bottomLeft(), rect.bottomRight());
        const std::u16string title = row == 0 && col > 0   ? ColTitle(col)
                                     : col == 0 && row > 0 ? std::u16string(QString::number(row).toStdU16String())
                                                           : std::u16string();
        TQtCanvas canvas(&painter);
        canvas.Font = GridFont;
        canvas.Font.Height = -std::max(1, RoundEven(-GridFont.Height * FZoomFactor));
        const TSize size = canvas.TextExtent(title);
        canvas.TextOut({rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1},
                       rect.left() + (rect.width() - size.cx) / 2, rect.top() + (rect.height() - size.cy) / 2, title);
        return;
    }
    // A merged range paints as one cell: each of its cells shows its part
    // of the first cell's text, and no grid line runs inside it.
    const bool open = Open();
    const TXlsCellRange merged = open ? GetXCellMergedBounds(row, col) : TXlsCellRange{col, row, col, row};
    const bool formula = open && FormulaReadOnly && FKalmiraImport->GetIsFormula(merged.Top, merged.Left);
    std::uint32_t back = formula ? 0xC0C0C0 : Color;
    if (!HideCursor && (state & gdSelected) && !(state & gdFocused)) back = 0xF2E6D9;
    painter.fillRect(rect, Qt0BGR(back));
    if (FShowGridLines) {
        painter.setPen(Qt0BGR(GridLineColor));
        if (col == merged.Right) painter.drawLine(rect.topRight(), rect.bottomRight());
        if (row == merged.Bottom) painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    }
    if (!open) return;
    row = merged.Top;
    col = merged.Left;
    const TVariant value = GetCellValue(row, col);
    if (value.IsEmpty()) return;
    TKmrFormat format;
    GetCellFormatDef(row, col, format);
    std::uint32_t colour = ForegroundColor;
    const std::u16string text =
        XlsFormatValue1904(value, format.Format, FKalmiraImport->GetOptions1904Dates(), colour);
    if (text.empty()) return;
    TQtCanvas canvas(&painter);
    LoadFont(FKalmiraImport, this, ForegroundColor, FZoomFactor, canvas, format.Font);
    if (colour != ForegroundColor) canvas.Font.Color = colour;
    if (state & gdFocused) FCurrentCellFont = canvas.Font;
    const QRect box = merged.Left == merged.Right && merged.Top == merged.Bottom
                          ? rect
                          : BoxRect(merged.Left, merged.Top, merged.Right, merged.Bottom);
    const TRect clip{rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1};
    const TSize size = canvas.TextExtent(text);
    const bool number = value.VarType() != TVarType::String;
    int x = box.left() + 2;
    switch (format.HAlignment) {
        case THKmrAlignment::fha_center:
        case THKmrAlignment::fha_center_across_selection: x = box.left() + (box.width() - size.cx) / 2; break;
        case THKmrAlignment::fha_right: x = box.right() - 2 - size.cx; break;
        case THKmrAlignment::fha_general:
            if (number) x = box.right() - 2 - size.cx;
            break;
        default: break;
    }
    int y = box.bottom() - 1 - size.cy;
    if (format.VAlignment == TVKmrAlignment::fva_top) y = box.top() + 1;
    if (format.VAlignment == TVKmrAlignment::fva_center) y = box.top() + (box.height() - size.cy) / 2;
    canvas.TextOut(clip, x, y, text);
}

void TKalmiraGrid::ReportError(const std::exception& error) {
    if (OnError)
        OnError(*this, error);
    else
        plat::ShowException(error);
}

}  // namespace kalmira
