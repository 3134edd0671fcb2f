#include "workbook/grid/UKmrCustomGrid.h"

#include <algorithm>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

namespace kalmira {

namespace {

// How close to a border the mouse sizes a column or row.
constexpr int SizingMargin = 2;
constexpr int WheelNotch = 120;

// The lines shown along one axis: the fixed ones, then from first on.
int FirstLine(int fixed, int first) { return fixed > 0 ? 0 : first; }
int NextLine(int i, int fixed, int first) { return i + 1 == fixed ? first : i + 1; }

// The first line from which target is the last one that fits into room.
int FirstShowing(int target, const std::vector<int>& sizes, int room, int fixed) {
    int used = sizes[static_cast<std::size_t>(target)];
    int first = target;
    while (first > fixed && used + sizes[static_cast<std::size_t>(first - 1)] <= room)
        used += sizes[static_cast<std::size_t>(--first)];
    return first;
}

QString ToQString(const std::u16string& text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

}  // namespace

TKmrCustomGrid::TKmrCustomGrid(QWidget* parent) : QAbstractScrollArea(parent) {
    FRowHeights.assign(5, FDefaultRowHeight);
    FColWidths.assign(5, FDefaultColWidth);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    UpdateScrollBars();
}

TKmrCustomGrid::~TKmrCustomGrid() = default;

void TKmrCustomGrid::SetRowCount(int count) {
    count = std::max(count, FFixedRows + 1);
    FRowHeights.resize(static_cast<std::size_t>(count), FDefaultRowHeight);
    FRow = std::min(FRow, count - 1);
    FAnchorRow = std::min(FAnchorRow, count - 1);
    FTopRow = std::min(FTopRow, count - 1);
    SizesChanged();
}

void TKmrCustomGrid::SetColCount(int count) {
    count = std::max(count, FFixedCols + 1);
    FColWidths.resize(static_cast<std::size_t>(count), FDefaultColWidth);
    FCol = std::min(FCol, count - 1);
    FAnchorCol = std::min(FAnchorCol, count - 1);
    FLeftCol = std::min(FLeftCol, count - 1);
    SizesChanged();
}

void TKmrCustomGrid::SetFixedRows(int count) {
    FFixedRows = std::clamp(count, 0, RowCount() - 1);
    FRow = std::max(FRow, FFixedRows);
    FAnchorRow = std::max(FAnchorRow, FFixedRows);
    FTopRow = std::max(FTopRow, FFixedRows);
    SizesChanged();
}

void TKmrCustomGrid::SetFixedCols(int count) {
    FFixedCols = std::clamp(count, 0, ColCount() - 1);
    FCol = std::max(FCol, FFixedCols);
    FAnchorCol = std::max(FAnchorCol, FFixedCols);
    FLeftCol = std::max(FLeftCol, FFixedCols);
    SizesChanged();
}

void TKmrCustomGrid::SetDefaultRowHeight(int height) {
    FDefaultRowHeight = std::max(height, 0);
    std::fill(FRowHeights.begin(), FRowHeights.end(), FDefaultRowHeight);
    SizesChanged();
}

void TKmrCustomGrid::SetDefaultColWidth(int width) {
    FDefaultColWidth = std::max(width, 0);
    std::fill(FColWidths.begin(), FColWidths.end(), FDefaultColWidth);
    SizesChanged();
}

void TKmrCustomGrid::SetRowHeight(int row, int height) {
    FRowHeights.at(static_cast<std::size_t>(row)) = std::max(height, 0);
    SizesChanged();
    RowHeightsChanged();
}

void TKmrCustomGrid::SetColWidth(int col, int width) {
    FColWidths.at(static_cast<std::size_t>(col)) = std::max(width, 0);
    SizesChanged();
    ColWidthsChanged();
}

void TKmrCustomGrid::SizesChanged() {
    FTopRow = std::clamp(FTopRow, FFixedRows, std::max(FFixedRows, MaxTopRow()));
    FLeftCol = std::clamp(FLeftCol, FFixedCols, std::max(FFixedCols, MaxLeftCol()));
    UpdateScrollBars();
    if (EditorMode()) FEditor->setGeometry(CellRect(FCol, FRow));
    viewport()->update();
}

TGridRect TKmrCustomGrid::Selection() const {
    return {std::min(FCol, FAnchorCol), std::min(FRow, FAnchorRow), std::max(FCol, FAnchorCol),
            std::max(FRow, FAnchorRow)};
}

void TKmrCustomGrid::SetSelection(const TGridRect& rect) {
    FAnchorCol = std::clamp(rect.Right, FFixedCols, ColCount() - 1);
    FAnchorRow = std::clamp(rect.Bottom, FFixedRows, RowCount() - 1);
    FCol = std::clamp(rect.Left, FFixedCols, ColCount() - 1);
    FRow = std::clamp(rect.Top, FFixedRows, RowCount() - 1);
    viewport()->update();
}

void TKmrCustomGrid::FocusCell(int col, int row, bool moveAnchor) {
    col = std::clamp(col, FFixedCols, ColCount() - 1);
    row = std::clamp(row, FFixedRows, RowCount() - 1);
    if (EditorMode() && !HideEditor(true)) return;
    if (!SelectCell(col, row)) return;
    FCol = col;
    FRow = row;
    if (moveAnchor || !RangeSelect) {
        FAnchorCol = col;
        FAnchorRow = row;
    }
    ScrollIntoView(col, row);
    viewport()->update();
}

int TKmrCustomGrid::FixedWidth() const {
    int x = 0;
    for (int c = 0; c < FFixedCols; ++c) x += FColWidths[static_cast<std::size_t>(c)];
    return x;
}

int TKmrCustomGrid::FixedHeight() const {
    int y = 0;
    for (int r = 0; r < FFixedRows; ++r) y += FRowHeights[static_cast<std::size_t>(r)];
    return y;
}

int TKmrCustomGrid::ColLeft(int col) const {
    if (col < FFixedCols) {
        int x = 0;
        for (int c = 0; c < col; ++c) x += FColWidths[static_cast<std::size_t>(c)];
        return x;
    }
    if (col < FLeftCol) return -1;
    int x = FixedWidth();
    const int limit = viewport()->width();
    for (int c = FLeftCol; c < col && x <= limit; ++c) x += FColWidths[static_cast<std::size_t>(c)];
    return x;
}

int TKmrCustomGrid::RowTop(int row) const {
    if (row < FFixedRows) {
        int y = 0;
        for (int r = 0; r < row; ++r) y += FRowHeights[static_cast<std::size_t>(r)];
        return y;
    }
    if (row < FTopRow) return -1;
    int y = FixedHeight();
    const int limit = viewport()->height();
    for (int r = FTopRow; r < row && y <= limit; ++r) y += FRowHeights[static_cast<std::size_t>(r)];
    return y;
}

QRect TKmrCustomGrid::CellRect(int col, int row) const {
    if (col < 0 || row < 0 || col >= ColCount() || row >= RowCount()) return {};
    const int x = ColLeft(col);
    const int y = RowTop(row);
    if (x < 0 || y < 0 || x > viewport()->width() || y > viewport()->height()) return {};
    return {x, y, FColWidths[static_cast<std::size_t>(col)], FRowHeights[static_cast<std::size_t>(row)]};
}

QRect TKmrCustomGrid::BoxRect(int left, int top, int right, int bottom) const {
    auto span = [](int first, int last, int fixed, int scrolled, int fixedEnd, auto start, auto size) {
        // Start and end of the visible part of first..last along one axis.
        const int from = first < fixed || first >= scrolled ? first : (last >= scrolled ? scrolled : -1);
        if (from < 0) return std::pair{0, 0};
        const int begin = from < fixed || from == first ? start(from) : fixedEnd;
        const int to = last < fixed ? last : (last >= scrolled ? last : fixed - 1);
        const int end = start(to) + size(to);
        return std::pair{begin, std::max(begin, end)};
    };
    const auto [x1, x2] = span(left, right, FFixedCols, FLeftCol, FixedWidth(), [this](int c) { return ColLeft(c); },
                               [this](int c) { return FColWidths[static_cast<std::size_t>(c)]; });
    const auto [y1, y2] = span(top, bottom, FFixedRows, FTopRow, FixedHeight(), [this](int r) { return RowTop(r); },
                               [this](int r) { return FRowHeights[static_cast<std::size_t>(r)]; });
    if (x2 <= x1 || y2 <= y1) return {};
    return QRect(QPoint(x1, y1), QPoint(x2 - 1, y2 - 1)).intersected(viewport()->rect());
}

bool TKmrCustomGrid::MouseCoord(QPoint point, int& col, int& row) const {
    auto find = [](int pos, int fixed, int first, int count, int limit, const std::vector<int>& sizes) {
        int edge = 0;
        for (int i = FirstLine(fixed, first); i < count && edge <= limit; i = NextLine(i, fixed, first)) {
            if (pos >= edge && pos < edge + sizes[static_cast<std::size_t>(i)]) return i;
            edge += sizes[static_cast<std::size_t>(i)];
        }
        return -1;
    };
    col = find(point.x(), FFixedCols, FLeftCol, ColCount(), viewport()->width(), FColWidths);
    row = find(point.y(), FFixedRows, FTopRow, RowCount(), viewport()->height(), FRowHeights);
    return col >= 0 && row >= 0;
}

int TKmrCustomGrid::VisibleRowCount() const {
    const int room = viewport()->height() - FixedHeight();
    int used = 0;
    int n = 0;
    for (int r = FTopRow; r < RowCount(); ++r, ++n) {
        used += FRowHeights[static_cast<std::size_t>(r)];
        if (used > room) break;
    }
    return n;
}

int TKmrCustomGrid::VisibleColCount() const {
    const int room = viewport()->width() - FixedWidth();
    int used = 0;
    int n = 0;
    for (int c = FLeftCol; c < ColCount(); ++c, ++n) {
        used += FColWidths[static_cast<std::size_t>(c)];
        if (used > room) break;
    }
    return n;
}

int TKmrCustomGrid::MaxTopRow() const {
    return std::max(FirstShowing(RowCount() - 1, FRowHeights, viewport()->height() - FixedHeight(), FFixedRows),
                    FFixedRows);
}

int TKmrCustomGrid::MaxLeftCol() const {
    return std::max(FirstShowing(ColCount() - 1, FColWidths, viewport()->width() - FixedWidth(), FFixedCols),
                    FFixedCols);
}

void TKmrCustomGrid::SetTopRow(int row) {
    row = std::clamp(row, FFixedRows, std::max(FFixedRows, MaxTopRow()));
    if (row == FTopRow) return;
    FTopRow = row;
    SizesChanged();
    TopLeftChanged();
}

void TKmrCustomGrid::SetLeftCol(int col) {
    col = std::clamp(col, FFixedCols, std::max(FFixedCols, MaxLeftCol()));
    if (col == FLeftCol) return;
    FLeftCol = col;
    SizesChanged();
    TopLeftChanged();
}

void TKmrCustomGrid::ScrollIntoView(int col, int row) {
    if (row >= FFixedRows) {
        if (row < FTopRow)
            SetTopRow(row);
        else if (row > LastFullVisibleRow())
            SetTopRow(FirstShowing(row, FRowHeights, viewport()->height() - FixedHeight(), FFixedRows));
    }
    if (col >= FFixedCols) {
        if (col < FLeftCol)
            SetLeftCol(col);
        else if (col > LastFullVisibleCol())
            SetLeftCol(FirstShowing(col, FColWidths, viewport()->width() - FixedWidth(), FFixedCols));
    }
}

void TKmrCustomGrid::UpdateScrollBars() {
    FUpdatingScroll = true;
    verticalScrollBar()->setRange(0, std::max(0, MaxTopRow() - FFixedRows));
    verticalScrollBar()->setPageStep(std::max(1, VisibleRowCount()));
    verticalScrollBar()->setValue(FTopRow - FFixedRows);
    horizontalScrollBar()->setRange(0, std::max(0, MaxLeftCol() - FFixedCols));
    horizontalScrollBar()->setPageStep(std::max(1, VisibleColCount()));
    horizontalScrollBar()->setValue(FLeftCol - FFixedCols);
    FUpdatingScroll = false;
}

void TKmrCustomGrid::scrollContentsBy(int, int) {
    if (FUpdatingScroll) return;
    SetTopRow(FFixedRows + verticalScrollBar()->value());
    SetLeftCol(FFixedCols + horizontalScrollBar()->value());
}

void TKmrCustomGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    SizesChanged();
}

void TKmrCustomGrid::InvalidateCell(int col, int row) {
    const QRect r = CellRect(col, row);
    if (!r.isEmpty()) viewport()->update(r);
}

void TKmrCustomGrid::DrawCell(QPainter& painter, int, int, const QRect& rect, unsigned state) {
    const std::uint32_t c = state & gdFixed ? FixedColor : 0xFFFFFF;
    painter.fillRect(rect, QColor(c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF));
}

bool TKmrCustomGrid::SelectCell(int, int) { return true; }

bool TKmrCustomGrid::CanEditShow() { return Editing && FRow >= FFixedRows && FCol >= FFixedCols; }

std::u16string TKmrCustomGrid::GetEditText(int, int) { return {}; }

void TKmrCustomGrid::SetEditText(int, int, const std::u16string&) {}

void TKmrCustomGrid::CreateEditor(QLineEdit&) {}

void TKmrCustomGrid::ReportError(const std::exception&) {}

void TKmrCustomGrid::Paint(QPainter& painter, const QRect& clip) {
    painter.fillRect(clip, Qt::white);
    DrawCells(painter, clip);
}

void TKmrCustomGrid::DrawCells(QPainter& painter, const QRect& clip) {
    // The visible columns and rows: the fixed ones, then the scrolled ones
    // from LeftCol (TopRow) up to the viewport's edge.
    auto visible = [](int fixed, int first, int count, int limit, const std::vector<int>& sizes) {
        std::vector<std::pair<int, int>> result;  // index, start
        int edge = 0;
        for (int i = FirstLine(fixed, first); i < count && edge < limit; i = NextLine(i, fixed, first)) {
            if (sizes[static_cast<std::size_t>(i)] > 0) result.emplace_back(i, edge);
            edge += sizes[static_cast<std::size_t>(i)];
        }
        return result;
    };
    const auto cols = visible(FFixedCols, FLeftCol, ColCount(), viewport()->width(), FColWidths);
    const auto rows = visible(FFixedRows, FTopRow, RowCount(), viewport()->height(), FRowHeights);
    const TGridRect sel = Selection();
    for (const auto& [row, y] : rows)
        for (const auto& [col, x] : cols) {
            const QRect rect(x, y, FColWidths[static_cast<std::size_t>(col)], FRowHeights[static_cast<std::size_t>(row)]);
            if (!rect.intersects(clip)) continue;
            unsigned state = 0;
            if (row < FFixedRows || col < FFixedCols) state |= gdFixed;
            if (row == FRow && col == FCol) state |= gdFocused;
            if (col >= sel.Left && col <= sel.Right && row >= sel.Top && row <= sel.Bottom) state |= gdSelected;
            DrawCell(painter, col, row, rect, state);
        }
}

void TKmrCustomGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    try {
        Paint(painter, event->rect());
    } catch (...) {
        // A paint that fails simply ends.
    }
}

bool TKmrCustomGrid::EditorMode() const { return FEditor != nullptr && FEditor->isVisible(); }

void TKmrCustomGrid::ShowEditor() {
    if (EditorMode() || !CanEditShow()) return;
    if (FEditor == nullptr) {
        FEditor = new QLineEdit(viewport());
        FEditor->setFrame(false);
        FEditor->installEventFilter(this);
        CreateEditor(*FEditor);
    }
    ScrollIntoView(FCol, FRow);
    FEditorStart = GetEditText(FCol, FRow);
    FEditor->setText(ToQString(FEditorStart));
    FEditor->setGeometry(CellRect(FCol, FRow));
    FEditor->show();
    FEditor->setFocus();
}

bool TKmrCustomGrid::HideEditor(bool commit) {
    // A failure report takes the focus from the editor: that focus-out
    // must not commit (and fail) again.
    if (!EditorMode() || FCommitting) return !FCommitting;
    const QString text = FEditor->text();
    const std::u16string value(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
    if (commit && value != FEditorStart) {
        FCommitting = true;
        try {
            SetEditText(FCol, FRow, value);
        } catch (const std::exception& e) {
            ReportError(e);
            FCommitting = false;
            return false;
        }
        FCommitting = false;
    }
    const bool hadFocus = FEditor->hasFocus();
    FEditor->hide();
    if (hadFocus) setFocus();
    viewport()->update();
    return true;
}

bool TKmrCustomGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FEditor && FEditor->isVisible()) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            switch (key->key()) {
                case Qt::Key_Escape:
                    HideEditor(false);
                    return true;
                case Qt::Key_Return:
                case Qt::Key_Enter:
                    HideEditor(true);
                    return true;
                case Qt::Key_Up:
                case Qt::Key_Down:
                case Qt::Key_Tab:
                case Qt::Key_Backtab:
                case Qt::Key_PageUp:
                case Qt::Key_PageDown:
                    // Moves out of the cell: the text goes in first.
                    if (HideEditor(true)) KeyDown(key);
                    return true;
                default: {
                    // The editor has every other key once, here; one it
                    // leaves goes no further: up through its parents it
                    // would reach the grid, which hands keys to the editor.
                    static_cast<QObject*>(FEditor)->event(key);
                    key->accept();
                    return true;
                }
            }
        } else if (event->type() == QEvent::FocusOut) {
            // Focus leaving the grid ends the edit; a refused text keeps
            // the editor.
            HideEditor(true);
        }
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void TKmrCustomGrid::MoveBy(int dCol, int dRow, bool extend) {
    int col = FCol;
    int row = FRow;
    auto step = [](int from, int delta, int fixed, int count, const std::vector<int>& sizes) {
        int to = from;
        for (int left = std::abs(delta); left > 0;) {
            const int next = to + (delta > 0 ? 1 : -1);
            if (next < fixed || next >= count) break;
            to = next;
            if (sizes[static_cast<std::size_t>(to)] > 0) --left;  // hidden lines are passed over
        }
        return sizes[static_cast<std::size_t>(to)] > 0 ? to : from;
    };
    col = step(col, dCol, FFixedCols, ColCount(), FColWidths);
    row = step(row, dRow, FFixedRows, RowCount(), FRowHeights);
    FocusCell(col, row, !extend);
}

void TKmrCustomGrid::KeyDown(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
        case Qt::Key_Up: MoveBy(0, -1, shift); break;
        case Qt::Key_Down: MoveBy(0, 1, shift); break;
        case Qt::Key_Left: MoveBy(-1, 0, shift); break;
        case Qt::Key_Right: MoveBy(1, 0, shift); break;
        case Qt::Key_Tab: MoveBy(1, 0, false); break;
        case Qt::Key_Backtab: MoveBy(-1, 0, false); break;
        case Qt::Key_PageDown: MoveBy(0, std::max(1, VisibleRowCount()), shift); break;
        case Qt::Key_PageUp: MoveBy(0, -std::max(1, VisibleRowCount()), shift); break;
        case Qt::Key_Home: FocusCell(FFixedCols, ctrl ? FFixedRows : FRow, !shift); break;
        case Qt::Key_End: FocusCell(ColCount() - 1, ctrl ? RowCount() - 1 : FRow, !shift); break;
        case Qt::Key_F2:
        case Qt::Key_Return:
        case Qt::Key_Enter: ShowEditor(); break;
        default: {
            const QString text = event->text();
            if (!ctrl && !(event->modifiers() & Qt::AltModifier) && !text.isEmpty() && text.at(0).isPrint()) {
                ShowEditor();
                if (EditorMode()) FEditor->setText(text);
            }
        }
    }
}

void TKmrCustomGrid::keyPressEvent(QKeyEvent* event) {
    if (!EditorMode()) {
        KeyDown(event);
        return;
    }
    // Keys that reach the grid while its editor is open are the editor's
    // (its filter above stops each there, so none comes back).
    QCoreApplication::sendEvent(FEditor, event);
}

bool TKmrCustomGrid::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        // Tab and Shift+Tab move between cells, not the focus to the next
        // widget.
        auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            keyPressEvent(key);
            return true;
        }
    }
    if (event->type() == QEvent::ShortcutOverride) {
        // Copy, cut, paste and clear keys belong to the grid, not to an
        // application shortcut.
        auto* key = static_cast<QKeyEvent*>(event);
        const auto mods = key->modifiers() & ~Qt::KeypadModifier;
        if (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Insert ||
            (mods == Qt::ControlModifier &&
             (key->key() == Qt::Key_C || key->key() == Qt::Key_V || key->key() == Qt::Key_X))) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TKmrCustomGrid::mousePressEvent(QMouseEvent* event) {
    FMouseDown = true;
    const QPoint p = event->position().toPoint();
    int col = 0;
    int row = 0;
    if (!MouseCoord(p, col, row)) return;
    const QRect cell = CellRect(col, row);
    if (row < FFixedRows && ColSizing && std::abs(p.x() - (cell.left() + cell.width())) <= SizingMargin) {
        FSizingCol = col;
        FSizingStart = cell.left();
    } else if (col < FFixedCols && RowSizing && std::abs(p.y() - (cell.top() + cell.height())) <= SizingMargin) {
        FSizingRow = row;
        FSizingStart = cell.top();
    } else if (row >= FFixedRows && col >= FFixedCols) {
        FocusCell(col, row, !(event->modifiers() & Qt::ShiftModifier));
    }
}

void TKmrCustomGrid::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (FSizingCol >= 0) {
        FColWidths[static_cast<std::size_t>(FSizingCol)] = std::max(0, p.x() - FSizingStart);
        viewport()->update();
    } else if (FSizingRow >= 0) {
        FRowHeights[static_cast<std::size_t>(FSizingRow)] = std::max(0, p.y() - FSizingStart);
        viewport()->update();
    } else if (FMouseDown && RangeSelect) {
        int col = 0;
        int row = 0;
        if (MouseCoord(p, col, row) && (col != FCol || row != FRow)) FocusCell(col, row, false);
    }
}

void TKmrCustomGrid::mouseReleaseEvent(QMouseEvent*) {
    FMouseDown = false;
    if (FSizingCol >= 0) {
        FSizingCol = -1;
        SizesChanged();
        ColWidthsChanged();
    } else if (FSizingRow >= 0) {
        FSizingRow = -1;
        SizesChanged();
        RowHeightsChanged();
    }
}

bool TKmrCustomGrid::DoMouseWheelDown(Qt::KeyboardModifiers, QPoint) {
    SetTopRow(FTopRow + 1);
    return true;
}

bool TKmrCustomGrid::DoMouseWheelUp(Qt::KeyboardModifiers, QPoint) {
    SetTopRow(FTopRow - 1);
    return true;
}

void TKmrCustomGrid::wheelEvent(QWheelEvent* event) {
    // Partial deltas (touchpads, fine wheels) add up to whole notches.
    const QPoint angle = event->angleDelta();
    FWheelDelta += angle.y() != 0 ? angle.y() : angle.x();
    const QPoint pos = event->position().toPoint();
    while (FWheelDelta >= WheelNotch) {
        FWheelDelta -= WheelNotch;
        DoMouseWheelUp(event->modifiers(), pos);
    }
    while (FWheelDelta <= -WheelNotch) {
        FWheelDelta += WheelNotch;
        DoMouseWheelDown(event->modifiers(), pos);
    }
    event->accept();
}

}  // namespace kalmira
