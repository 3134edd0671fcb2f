// What the main window gives the workbook engine (the desktop's clipboard,
// text measuring) and the unit report behind "Deaktivovat ...".
#include "app/F1.h"
#include "app/Tmydates.h"
#include "app/Wlog.h"
#include "tests/app/AppTestSupport.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>

using apptest::Boxes;

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

// Without its transfer workbook or its database the report stops, says
// why, and leaves the earlier report as it was.
TEST_F(WindowWorkbookTest, TheUnitReportStopsWithItsReasonAndKeepsTheOldReport) {
    const std::filesystem::path prog = dir.File("prog dir ř");
    const std::filesystem::path exportDir = prog / "prgdata" / "export";
    std::filesystem::create_directories(exportDir);
    apptest::WriteFile((exportDir / "prehledJednotky.xls").string(), "old report");
    Start(std::string(apptest::kMasterStore) + "progdir=" + prog.string() + "\n");
    EXPECT_EQ(Boxes([&] { form->Export1Click(); }), "Chyba|Nejprve zvolte měřidlo.\n");
    form->lvMeters->setCurrentItem(AddRow("12", "0x1a2b"));

    EXPECT_EQ(Boxes([&] { form->Export1Click(); }), "Chyba|Nenalezen převodní soubor .Generování nelze dokončit.\n");
    EXPECT_TRUE(LogHas("Nenalezen převodní soubor  -> " + exportDir.string() + "/Voda "));

    TMyDates today;
    const TTransferMonth month = TransferMonth(today.dates.month, today.dates.year);
    apptest::WriteFile(
        (exportDir / ("Teplo " + std::to_string(month.month) + " " + std::to_string(month.year) + " pro přenos.xls"))
            .string(),
        "transfer");
    EXPECT_EQ(Boxes([&] { form->Export1Click(); }), "Chyba|Chyba databáze. Generování nelze dokončit.\n");
    EXPECT_EQ(apptest::ReadFile((exportDir / "prehledJednotky.xls").string()), "old report");
    EXPECT_FALSE(form->XLSAdapter1().AllowOverwritingFiles());
}

}  // namespace
