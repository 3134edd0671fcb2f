#include <gtest/gtest.h>

#include <QBuffer>
#include <QTest>

#include "tests/workbook/grid/GridTestApp.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/grid/UKalmiraGrid.h"

using namespace kalmira;

namespace {

// A workbook file whose sheet has one red 8 × 8 PNG anchored over the
// whole of cells B15:B17.
class TShapedFile : public TXLSFile {
public:
    using TXLSFile::TXLSFile;
    std::int32_t GetPicturesCount(std::int32_t) override { return 1; }
    void GetPicture(std::int32_t, std::int32_t, TKmrStream& image, TXlsImgTypes& type, TClientAnchor& anchor) override {
        QImage red(8, 8, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        red.save(&buffer, "PNG");
        image.Write(png.data(), static_cast<std::size_t>(png.size()));
        type = TXlsImgTypes::xli_Png;
        anchor = {0, 2, 0, 15, 0, 2, 1024, 17, 255};
    }
};

struct TShapedAdapter : TXLSAdapter {
    std::unique_ptr<TExcelFile> GetWorkbook() override { return std::make_unique<TShapedFile>(this); }
};

struct ShapedFixture : ::testing::Test {
    TShapedAdapter adapter;
    TKalmiraImport facade;
    TKalmiraGrid grid;
    ShapedFixture() : grid((GridTestApp(), nullptr)) {}
    void SetUp() override {
        facade.SetAdapter(&adapter);
        facade.NewFile(1);
        facade.SetCellValue(8, 6, TVariant(1.0));
        facade.MergeCells(2, 2, 4, 4);
        grid.SetKalmiraImport(&facade);
        grid.resize(640, 480);
        grid.show();
        grid.LoadSheet();
    }
    QImage Shot() { return grid.viewport()->grab().toImage(); }
};

TEST_F(ShapedFixture, MovesTreatTheMergedRangeAsOneCell) {
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(3, 3).center());
    EXPECT_EQ(std::make_pair(grid.Col(), grid.Row()), std::make_pair(2, 2));
    QTest::keyClick(&grid, Qt::Key_Right);
    EXPECT_EQ(std::make_pair(grid.Col(), grid.Row()), std::make_pair(5, 2));
    QTest::keyClick(&grid, Qt::Key_Left);
    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(std::make_pair(grid.Col(), grid.Row()), std::make_pair(2, 5));
    QTest::keyClick(&grid, Qt::Key_Up);
    EXPECT_EQ(std::make_pair(grid.Col(), grid.Row()), std::make_pair(2, 2));

    // The frame runs round the whole range, two pixels inside its rectangle.
    const QImage shot = Shot();
    const QRect box = grid.BoxRect(2, 2, 4, 4);
    for (int i : {0, 1}) {
        EXPECT_EQ(shot.pixelColor(box.left() + i, box.center().y()), QColor(Qt::black)) << i;
        EXPECT_EQ(shot.pixelColor(box.center().x(), box.bottom() - i), QColor(Qt::black)) << i;
    }
    EXPECT_NE(shot.pixelColor(box.left() + 2, box.center().y()), QColor(Qt::black));
    EXPECT_NE(shot.pixelColor(grid.CellRect(2, 2).right() - 1, grid.CellRect(2, 2).center().y()), QColor(Qt::black));
}

TEST_F(ShapedFixture, PictureCoversItsCellsButNeverTheHeaders) {
    EXPECT_EQ(grid.RowCount(), 18);  // rows 15 to 17 hold the picture
    ASSERT_EQ(grid.Pictures().size(), 1u);
    const TPictureData& p = *grid.Pictures()[0];
    EXPECT_EQ(std::make_pair(p.Width, p.Height), std::make_pair(grid.ColWidths(2), 3 * grid.RowHeights(15)));
    EXPECT_EQ(Shot().pixelColor(grid.CellRect(2, 16).center()), QColor(Qt::red));

    // Scrolled below its first row, it shows under the headers only.
    grid.resize(640, 120);
    grid.SetZoom(200);
    grid.SetTopRow(16);
    ASSERT_EQ(grid.TopRow(), 16);
    const QImage shot = Shot();
    const QRect cell = grid.CellRect(2, 16);
    EXPECT_EQ(shot.pixelColor(cell.center()), QColor(Qt::red));
    EXPECT_NE(shot.pixelColor(cell.center().x(), grid.RowHeights(0) / 2), QColor(Qt::red));
}

}  // namespace
