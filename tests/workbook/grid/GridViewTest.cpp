#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMimeData>
#include <QClipboard>
#include <QTest>
#include <QWheelEvent>

#include "tests/workbook/grid/GridTestApp.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/grid/UKalmiraGrid.h"
#include "platform/qt/Clipboard.h"

using namespace kalmira;

namespace {

// A new workbook with rows of their own heights and a few values, shown in
// a 640 × 480 grid.
struct GridFixture : ::testing::Test {
    TXLSAdapter adapter;
    TKalmiraImport facade;
    TKalmiraGrid grid;
    std::vector<std::string> errors;

    GridFixture() : grid((GridTestApp(), nullptr)) {}
    void SetUp() override {
        adapter.SetClipboard(std::make_shared<plat::TQtClipboard>());
        facade.SetAdapter(&adapter);
        Fill(facade);
        grid.OnError = [this](TKalmiraGrid&, const std::exception& e) { errors.push_back(e.what()); };
        grid.SetKalmiraImport(&facade);
        grid.resize(640, 480);
        grid.show();
        grid.LoadSheet();
    }
    static void Fill(TKalmiraImport& f) {
        f.NewFile(1);
        f.SetRowHeight(2, 300);
        f.SetRowHeight(5, 417);
        f.SetColumnWidth(2, 2560);
        f.SetCellValue(1, 1, TVariant(1.5));
        f.SetCellFormula(3, 2, u"=1+1");
        f.SetCellValue(8, 4, TVariant(u"end"));
    }
    std::vector<std::uint8_t> Saved(TKalmiraImport& f) {
        TKmrMemoryStream out;
        f.SaveToStream(out);
        return out.Bytes();
    }
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(&grid, Qt::Key(key), mods); }
    void Wheel(int delta, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWheelEvent e(QPointF(100, 100), QPointF(100, 100), {}, {0, delta}, Qt::NoButton, mods, Qt::NoScrollPhase,
                      false);
        QApplication::sendEvent(grid.viewport(), &e);
    }
};

// xlsview_check.py compares the sizes, hidden ones too, at several zooms
// with xlrd's reading.
TEST_F(GridFixture, SheetSizesHiddenPartsAndFrozenPanes) {
    grid.SetZoom(10);
    facade.SetShowGridHeaders(false);
    facade.SetRowHidden(5, true);
    grid.LoadSheet();
    EXPECT_EQ((std::vector<int>{grid.ColWidths(0), grid.RowHeights(0), grid.RowHeights(5)}), (std::vector<int>{0, 0, 0}));

    grid.FullWorksheet = true;
    grid.UseFixedCells = true;
    facade.GetWorkbook()->FreezePanes(3, 2);  // two rows and one column frozen
    grid.LoadSheet();
    EXPECT_EQ(std::make_pair(grid.RowCount(), grid.ColCount()), std::make_pair(65537, 257));
    EXPECT_EQ(std::make_pair(grid.FixedRows(), grid.FixedCols()), std::make_pair(3, 2));
    EXPECT_EQ(std::make_pair(grid.Row(), grid.Col()), std::make_pair(3, 2));

    const std::pair<int, std::u16string> titles[] = {{1, u"A"}, {26, u"Z"}, {27, u"AA"},
                                                     {52, u"AZ"}, {53, u"BA"}, {256, u"IV"}};
    for (const auto& [col, title] : titles) EXPECT_EQ(TKalmiraGrid::ColTitle(col), title);
}

TEST_F(GridFixture, ZoomingWritesNothingBackAndADraggedRowDoes) {
    for (int zoom : {10, 55, 110, 150, 400, 100}) grid.SetZoom(zoom);
    TKalmiraImport plain;
    plain.SetAdapter(&adapter);
    Fill(plain);
    EXPECT_EQ(Saved(facade), Saved(plain));

    grid.SetZoom(200);
    grid.SetRowHeight(3, 40);  // as a dragged border announces it
    EXPECT_EQ(facade.GetRowHeight(3), RoundEven(40 * 15 / 2.0L));
    grid.SetColWidth(3, 140);
    EXPECT_EQ(facade.GetColumnWidth(3), 2560);
    EXPECT_TRUE(errors.empty());
}

TEST_F(GridFixture, KeysEditMoveAndClear) {
    grid.FocusCell(1, 2);
    QTest::keyClicks(&grid, "12");
    Key(Qt::Key_Return);
    EXPECT_EQ(facade.GetCellValue(2, 1).AsDouble(), 12);
    Key(Qt::Key_Right);
    QTest::keyClicks(&grid, "=1+2");
    Key(Qt::Key_Return);
    EXPECT_TRUE(facade.GetIsFormula(2, 2));
    Key(Qt::Key_Right);
    QTest::keyClicks(&grid, "x");
    Key(Qt::Key_Escape);
    EXPECT_TRUE(facade.GetCellValue(2, 3).IsEmpty());
    EXPECT_EQ(std::make_pair(grid.Col(), grid.Row()), std::make_pair(3, 2));

    // A refused formula keeps the cell and the editor.
    QTest::keyClicks(&grid, "=SUM(");
    Key(Qt::Key_Return);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_TRUE(grid.EditorMode());
    Key(Qt::Key_Escape);

    // Delete clears the 3 × 2 selection.
    grid.SetSelection({1, 1, 3, 2});
    Key(Qt::Key_Delete);
    for (int r : {1, 2})
        for (int c : {1, 2, 3}) EXPECT_TRUE(facade.GetCellValue(r, c).IsEmpty()) << r << c;
    EXPECT_TRUE(facade.GetIsFormula(3, 2));
}

TEST_F(GridFixture, WheelScrollsAndZoomsWithinLimits) {
    grid.resize(200, 120);
    Wheel(-60);
    EXPECT_EQ(grid.TopRow(), 1);
    Wheel(-60);  // two half notches make one
    EXPECT_EQ(grid.TopRow(), 2);
    Wheel(120);
    EXPECT_EQ(grid.TopRow(), 1);
    grid.SetZoom(195);
    Wheel(120, Qt::ControlModifier);
    Wheel(120, Qt::ControlModifier);
    EXPECT_EQ(grid.Zoom(), 200);
    grid.SetZoom(25);
    Wheel(-120, Qt::ControlModifier);
    Wheel(-120, Qt::ControlModifier);
    EXPECT_EQ(grid.Zoom(), 20);
    grid.SetZoom(500);
    EXPECT_EQ(grid.Zoom(), 400);

    // Without a facade the zoom is only stored.
    TKalmiraGrid bare;
    bare.SetZoom(5);
    EXPECT_EQ(bare.Zoom(), 10);
}

TEST_F(GridFixture, CentreAcrossSelectionJoinsOnlyEmptyNeighbours) {
    TKmrFormat across = facade.GetCellFormatDef1(6, 2);
    across.HAlignment = THKmrAlignment::fha_center_across_selection;
    const int xf = facade.AddFormat(across);
    for (int c = 2; c <= 4; ++c) facade.SetCellFormat(6, c, xf);
    EXPECT_EQ(grid.GetXCellMergedBounds(6, 2), (TXlsCellRange{2, 6, 4, 6}));
    facade.SetCellValue(6, 4, TVariant(u"own"));
    EXPECT_EQ(grid.GetXCellMergedBounds(6, 2), (TXlsCellRange{2, 6, 3, 6}));
}

TEST_F(GridFixture, TheEditorTakesTheCurrentCellsFont) {
    TKmrFormat big = facade.GetCellFormatDef1(1, 1);
    big.Font.Name = u"Courier";
    big.Font.Size20 = 280;
    facade.SetCellFormat(1, 1, facade.AddFormat(big));
    grid.FocusCell(1, 1);
    grid.viewport()->grab();
    Key(Qt::Key_F2);
    ASSERT_TRUE(grid.EditorMode());
    EXPECT_EQ(grid.InplaceEditor()->font().pixelSize(), 19);
}

TEST_F(GridFixture, ClipboardKeysCopyCutAndPasteWholeBlocks) {
    facade.SetCellValue(1, 2, TVariant(u"č"));
    grid.SetSelection({1, 1, 2, 2});
    Key(Qt::Key_C, Qt::ControlModifier);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_FALSE(data->data("application/x-qt-windows-mime;value=\"Biff8\"").isEmpty());
    EXPECT_TRUE(data->data("text/plain").startsWith("1.5\t\xc4\x8d"));

    grid.FocusCell(4, 5);
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(facade.GetCellValue(5, 4).AsDouble(), 1.5);
    EXPECT_EQ(facade.GetCellValue(5, 5).Text(), u"č");

    grid.FocusCell(4, 5);
    Key(Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(facade.GetCellValue(5, 4).IsEmpty());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "1.5\r\n");
}

}  // namespace
