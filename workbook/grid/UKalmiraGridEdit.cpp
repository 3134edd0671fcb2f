// The grid's editing in place, moves over merged cells, wheel and zoom, and
// the clipboard keys.
#include <algorithm>

#include <QKeyEvent>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/UKmrNumberFormat.h"
#include "workbook/grid/UKalmiraGrid.h"

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
