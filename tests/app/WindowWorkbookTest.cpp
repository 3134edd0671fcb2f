// What the main window gives the workbook engine (the desktop's clipboard,
// text measuring).
#include "app/F1.h"
#include "tests/app/AppTestSupport.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

class WindowWorkbookTest : public apptest::FormFixture {};

TEST_F(WindowWorkbookTest, TheMetersFacadeCopiesToTheDesktopAndFitsColumns) {
    Start();
    kalmira::TKalmiraImport& xls = form->xls();
    xls.NewFile(1);
    xls.SetCellValue(1, 1, kalmira::TVariant(std::u16string(u"a long text of the meter list")));
    xls.SetCellValue(1, 2, kalmira::TVariant(std::u16string(u"ab")));
    xls.AutofitCol(1, 2, false, 1);
    EXPECT_GT(xls.GetColumnWidth(1), xls.GetColumnWidth(2));
    xls.CopyToClipboard(kalmira::TXlsCellRange {2, 1, 2, 1});
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "ab\r\n");
}

}  // namespace
