#include "workbook/cells/UXlsAutofit.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

// The cell's padding on either side, in pixels.
constexpr long double CellMargin = 0.72L;
// No limit to the lines' length.
constexpr long double Unlimited = 1000000;

// Sizes are rounded up to whole units; what a sine or cosine leaves past
// a whole number is no reason to add one. Huge texts in huge fonts stay
// within the range the callers cap.
std::int32_t CeilUnits(long double value) {
    return static_cast<std::int32_t>(std::clamp<long double>(std::ceil(value - 1e-9L), 0, INT32_MAX));
}

// The measuring font of an XF's font: its size in whole points.
TKmrFont MeasuringFont(TKmrFont font) {
    font.Size20 = static_cast<std::uint16_t>(std::nearbyint(font.Size20 / 20.0L) * 20);
    return font;
}

// The value of the cell as shown, with its runs when the text is the
// cell's own rich text; false for an empty text.
bool CellText(const TCellList& cells, const TCellRecord& cell, const TAutofitCalc& calc, std::u16string& text,
              TKmrFontRunList& runs) {
    TXlsCellValue value;
    TRTFRunList rtf;
    cells.GetValueX2(cell.GetRow(), cell.GetColumn(), value, rtf);
    text = calc.ShownText(value.Value, cell.GetXF());
    runs.clear();
    if (value.Value.VarType() == TVarType::String && text == value.Value.Text())
        for (const TRTFRun& run : rtf)
            if (run.FirstChar < text.size())
                runs.push_back({run.FirstChar + 1, calc.Book().Font(run.FontIndex)});
    return !text.empty();
}

}  // namespace

std::int32_t AdjustSize(std::int32_t size, long double adjustment, std::int32_t cap) {
    long double result = size;
    if (adjustment != 1 && adjustment >= 0) result = std::nearbyint(result * adjustment);
    return static_cast<std::int32_t>(std::min<long double>(result, cap));
}

std::u16string TAutofitCalc::ShownText(const TVariant& value, int xf) const {
    return FBook.ShownText(value, ValidXF(xf) ? FXF[static_cast<std::size_t>(xf)].NumberFormat : std::u16string());
}

void TAutofitCalc::InitXF() {
    const int count = FBook.FormatCount();
    FXF.assign(static_cast<std::size_t>(std::max(count, 0)), {});
    for (int xf = 0; xf < count; ++xf) {
        const TKmrFormat format = FBook.Format(xf);
        TXFData& data = FXF[static_cast<std::size_t>(xf)];
        data.Font = MeasuringFont(format.Font);
        data.NumberFormat = format.Format;
        data.Wrap = format.WrapText;
        data.Rotation = format.Rotation;
    }
}

TAutofitCalc::TBlock TAutofitCalc::Split(const std::u16string& text, const TKmrFontRunList& runs, int xf,
                                         long double width, bool stacked) const {
    const TKmrTextLines lines =
        FMeasure.SplitText(FXF[static_cast<std::size_t>(xf)].Font, 1, text, runs, width, stacked);
    return {static_cast<long double>(lines.Extent.Width),
            static_cast<long double>(lines.Count) * lines.Extent.Height, lines.Count};
}

void TRowHeightCalc::InitXF() {
    TAutofitCalc::InitXF();
    for (TXFData& data : FXF) data.OneLine = CeilUnits(FMeasure.TextExtent(data.Font, 1, u"Mg", {}).Height * RowMult);
}

std::int32_t TRowHeightCalc::CalcCellHeight(int row, int col, const std::u16string& text, const TKmrFontRunList& runs,
                                            int xf) {
    if (!ValidXF(xf)) return 255;
    const TXFData& data = FXF[static_cast<std::size_t>(xf)];
    bool stacked = false;
    const long double angle = CalcAngle(data.Rotation, stacked);
    if (text.empty() || (!data.Wrap && !stacked && angle == 0)) return data.OneLine;
    const TXlsCellRange range = FBook.MergedBounds(row, col);
    if (range.Bottom > range.Top) return data.OneLine;
    long double width = Unlimited;
    if (angle == 0) {
        long double units = 0;
        for (int c = range.Left; c <= range.Right; ++c) units += FBook.ColumnWidth(c);
        width = units / ColMult - 2 * CellMargin;
    }
    const TBlock block = Split(text, runs, xf, width, stacked);
    if (block.Lines == 0) return data.OneLine;
    const long double extent =
        angle != 0 ? std::fabs(std::sin(angle)) * block.Width + std::cos(angle) * block.Height : block.Height;
    return CeilUnits(extent * RowMult);
}

std::int32_t TColWidthCalc::CalcCellWidth(int row, int col, const std::u16string& text, const TKmrFontRunList& runs,
                                          int xf) {
    if (text.empty() || !ValidXF(xf)) return 0;
    const TXFData& data = FXF[static_cast<std::size_t>(xf)];
    const TXlsCellRange range = FBook.MergedBounds(row, col);
    if (range.Right > range.Left) return 0;
    bool stacked = false;
    const long double angle = CalcAngle(data.Rotation, stacked);
    long double height = Unlimited;
    if (data.Rotation == 90 || data.Rotation == 180) {
        long double units = 0;
        for (int r = range.Top; r <= range.Bottom; ++r) units += FBook.RowHeight(r);
        height = units / RowMult - 2 * CellMargin;
    }
    const TBlock block = Split(text, runs, xf, height, stacked);
    const long double extent =
        angle != 0 ? std::fabs(std::sin(angle)) * block.Height + block.Width * std::cos(angle) : block.Width;
    return CeilUnits((2 * CellMargin + extent) * ColMult);
}

// ---- Fitting a sheet's rows and columns ----

void TCellList::RecalcRowHeights(TAutofitBook& book, TKmrTextMeasure& measure, int firstRow, int lastRow,
                                 bool keepAutomatic, bool forced, long double adjustment) {
    TRowHeightCalc calc(book, measure);
    calc.InitXF();
    std::u16string text;
    TKmrFontRunList runs;
    for (int row = std::max(firstRow, 0); row <= lastRow && row <= MaxSheetRow; ++row) {
        if (!FRows->HasRow(row)) continue;
        TRowRecord& record = *FRows->GetItems(static_cast<std::size_t>(row));
        if (!forced && !record.IsAutoHeight()) continue;
        std::int32_t height = calc.OneLineHeight(record.GetXF());
        if (const TCellRecordList* cells = GetItems(static_cast<std::size_t>(row)))
            for (std::size_t i = 0; i < cells->Count(); ++i) {
                const TCellRecord& cell = *cells->GetItems(i);
                if (CellText(*this, cell, calc, text, runs))
                    height = std::max(height, calc.CalcCellHeight(row, cell.GetColumn(), text, runs, cell.GetXF()));
            }
        record.SetHeight(static_cast<std::uint16_t>(AdjustSize(height, adjustment, 0x7FFF)));
        if (!keepAutomatic) record.ManualHeight();
    }
}

void TCellList::RecalcColWidths(TAutofitBook& book, TKmrTextMeasure& measure, int firstCol, int lastCol,
                                bool ignoreStrings, long double adjustment) {
    TColWidthCalc calc(book, measure);
    calc.InitXF();
    for (int col = std::max(firstCol, 0); col <= lastCol && col <= MaxSheetCol; ++col)
        AutofitColumn(book, col, calc, ignoreStrings, adjustment);
}

void TCellList::AutofitColumn(TAutofitBook& book, int col, TColWidthCalc& calc, bool ignoreStrings,
                              long double adjustment) const {
    std::int32_t width = 0;
    std::u16string text;
    TKmrFontRunList runs;
    for (std::size_t row = Count(); row-- > 0;) {
        const TCellRecord* cell = FindCell(static_cast<int>(row), col);
        if (!cell || (ignoreStrings && dynamic_cast<const TLabelSSTRecord*>(cell))) continue;
        if (CellText(*this, *cell, calc, text, runs))
            width = std::max(width, calc.CalcCellWidth(static_cast<int>(row), col, text, runs, cell->GetXF()));
    }
    width = AdjustSize(width, adjustment, 0xFFFF);
    if (width > 0) book.SetColumnWidth(col, width);
}

}  // namespace kalmira
