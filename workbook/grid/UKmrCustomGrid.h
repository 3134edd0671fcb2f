// A grid control over QAbstractScrollArea: counts, fixed rows and columns
// (headers and frozen panes), sizes with defaults, the current cell and the
// selection, whole-cell scrolling, an in-place editor, sizing by mouse and a
// paint loop that calls DrawCell for every visible cell. Column and row 0
// are the first fixed ones; positions are those of the class library's grid.
#pragma once

#include <QAbstractScrollArea>
#include <QLineEdit>

#include <memory>
#include <string>
#include <vector>

#include "workbook/grid/UKmrCanvas.h"

namespace kalmira {

// A block of cells: columns Left..Right, rows Top..Bottom.
using TGridRect = TRect;

enum TGridDrawState : unsigned { gdSelected = 1, gdFocused = 2, gdFixed = 4 };

class TKmrCustomGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TKmrCustomGrid(QWidget* parent = nullptr);
    ~TKmrCustomGrid() override;

    int RowCount() const { return static_cast<int>(FRowHeights.size()); }
    int ColCount() const { return static_cast<int>(FColWidths.size()); }
    void SetRowCount(int count);
    void SetColCount(int count);
    int FixedRows() const { return FFixedRows; }
    int FixedCols() const { return FFixedCols; }
    // At least one scrollable row and column stays.
    void SetFixedRows(int count);
    void SetFixedCols(int count);

    // Setting a default drops every row's (column's) own size.
    int DefaultRowHeight() const { return FDefaultRowHeight; }
    int DefaultColWidth() const { return FDefaultColWidth; }
    void SetDefaultRowHeight(int height);
    void SetDefaultColWidth(int width);
    int RowHeights(int row) const { return FRowHeights.at(static_cast<std::size_t>(row)); }
    int ColWidths(int col) const { return FColWidths.at(static_cast<std::size_t>(col)); }
    // Each call announces the change (RowHeightsChanged, ColWidthsChanged).
    void SetRowHeight(int row, int height);
    void SetColWidth(int col, int width);

    int Row() const { return FRow; }
    int Col() const { return FCol; }
    // Moves the current cell (through SelectCell) and scrolls it into view;
    // moveAnchor false extends the selection from its anchor.
    void FocusCell(int col, int row, bool moveAnchor = true);
    TGridRect Selection() const;
    void SetSelection(const TGridRect& rect);

    int TopRow() const { return FTopRow; }
    int LeftCol() const { return FLeftCol; }
    void SetTopRow(int row);
    void SetLeftCol(int col);
    int MaxTopRow() const;
    int MaxLeftCol() const;
    // Scrollable rows and columns that fit wholly, and the last of them.
    int VisibleRowCount() const;
    int VisibleColCount() const;
    int LastFullVisibleRow() const { return FTopRow + std::max(VisibleRowCount(), 1) - 1; }
    int LastFullVisibleCol() const { return FLeftCol + std::max(VisibleColCount(), 1) - 1; }

    // Screen rectangles in the viewport; empty where nothing of it shows.
    QRect CellRect(int col, int row) const;
    // The visible part of the block.
    QRect BoxRect(int left, int top, int right, int bottom) const;
    // The cell under a viewport point; false outside every cell.
    bool MouseCoord(QPoint point, int& col, int& row) const;

    bool EditorMode() const;
    void ShowEditor();
    // Ends editing; commit hands changed text to SetEditText first. False
    // when that failed: the editor then stays open.
    bool HideEditor(bool commit);
    QLineEdit* InplaceEditor() const { return FEditor; }

    void InvalidateGrid() { viewport()->update(); }
    void InvalidateCell(int col, int row);

    // Options of the class library's grid.
    bool Editing = true;
    bool RangeSelect = true;
    bool RowSizing = true;
    bool ColSizing = true;
    std::uint32_t FixedColor = 0xF0F0F0;

protected:
    virtual void DrawCell(QPainter& painter, int col, int row, const QRect& rect, unsigned state);
    virtual bool SelectCell(int col, int row);
    virtual bool CanEditShow();
    virtual std::u16string GetEditText(int col, int row);
    virtual void SetEditText(int col, int row, const std::u16string& text);
    virtual void CreateEditor(QLineEdit& editor);
    virtual void ColWidthsChanged() {}
    virtual void RowHeightsChanged() {}
    virtual void TopLeftChanged() {}
    // A failure of an editing step; the grid keeps its state.
    virtual void ReportError(const std::exception& error);
    // The whole paint; the default draws every visible cell.
    virtual void Paint(QPainter& painter, const QRect& clip);
    void DrawCells(QPainter& painter, const QRect& clip);
    // The class library's key handling: moves, selection, editing.
    virtual void KeyDown(QKeyEvent* event);
    // One wheel notch; true when handled.
    virtual bool DoMouseWheelDown(Qt::KeyboardModifiers modifiers, QPoint pos);
    virtual bool DoMouseWheelUp(Qt::KeyboardModifiers modifiers, QPoint pos);
    // Sizes without a notification each, for loading whole sheets; the
    // caller announces once.
    std::vector<int>& RowHeightList() { return FRowHeights; }
    std::vector<int>& ColWidthList() { return FColWidths; }
    void SizesChanged();
    bool MouseButtonDown() const { return FMouseDown; }

    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Left edges of the fixed columns, then of the scrolled ones from
    // LeftCol, while they show; likewise for rows.
    int ColLeft(int col) const;
    int RowTop(int row) const;
    int FixedWidth() const;
    int FixedHeight() const;
    void ScrollIntoView(int col, int row);
    void UpdateScrollBars();
    void MoveBy(int dCol, int dRow, bool extend);

    std::vector<int> FRowHeights;
    std::vector<int> FColWidths;
    int FFixedRows = 1;
    int FFixedCols = 1;
    int FDefaultRowHeight = 24;
    int FDefaultColWidth = 64;
    int FRow = 1;
    int FCol = 1;
    int FAnchorRow = 1;
    int FAnchorCol = 1;
    int FTopRow = 1;
    int FLeftCol = 1;
    QLineEdit* FEditor = nullptr;
    std::u16string FEditorStart;
    int FWheelDelta = 0;
    bool FMouseDown = false;
    bool FUpdatingScroll = false;
    bool FCommitting = false;
    // Sizing by mouse: the column (row) dragged, -1 when none.
    int FSizingCol = -1;
    int FSizingRow = -1;
    int FSizingStart = 0;
};

}  // namespace kalmira
