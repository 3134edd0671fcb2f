// What the main window hands the workbook engine (text measuring in Qt's
// fonts, only compared by relations as installed fonts differ, the sizes
// themselves judged against LibreOffice by autofit_check.py; the
// desktop's clipboard) and the unit report behind "Deaktivovat ...".
#include "tests/app/AppTestSupport.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"

#include <QClipboard>

using WindowWorkbookTest = apptest::FormFixture;

TEST_F(WindowWorkbookTest, TheEngineMeasuresInQtFontsAndCopiesToTheDesktop) {
    Start();
    const auto measure = form->XLSAdapter1().TextMeasure()();
    kalmira::TKmrFont small, big;  // the default family
    small.Size20 = 200, big.Size20 = 600;
    const std::u16string text = u"one two three four five six";
    const auto word = measure->TextExtent(small, 1, u"one", {}), whole = measure->TextExtent(small, 1, text, {});
    EXPECT_GT(whole.Width, word.Width);
    EXPECT_EQ(measure->TextExtent(small, std::numeric_limits<long double>::quiet_NaN(), u"one", {}).Width, word.Width);
    EXPECT_GT(measure->TextExtent(small, 1, u"one", {{2, big}}).Height, word.Height);
    auto lines = [&](long double width) { return measure->SplitText(small, 1, text, {}, width, false).Count; };
    EXPECT_EQ(lines(-5), 22);  // a character a line, a space joining the one before
    form->xls().NewFile(1);
    form->xls().CopyToClipboard(kalmira::TXlsCellRange {1, 1, 1, 1});
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "\r\n");
}

// The report's refusals reach a box and leave the earlier report as it was
// (each refusal: UnitReport).
TEST_F(WindowWorkbookTest, TheUnitReportStopsWithItsReasonAndKeepsTheOldReport) {
    const std::filesystem::path exportDir = std::filesystem::path(dir.File("prog ř")) / "prgdata" / "export";
    std::filesystem::create_directories(exportDir);
    apptest::WriteFile((exportDir / "prehledJednotky.xls").string(), "old report");
    Start(std::string(apptest::kMasterStore) + "progdir=" + dir.File("prog ř") + "\n");
    form->lvMeters->setCurrentItem(AddRow("12", "0x1a2b"));
    EXPECT_EQ(apptest::Boxes([&] { form->Export1Click(); }), "Chyba|Nenalezen převodní soubor .Generování nelze dokončit.\n");
    EXPECT_EQ(apptest::ReadFile((exportDir / "prehledJednotky.xls").string()), "old report");
    EXPECT_FALSE(form->XLSAdapter1().AllowOverwritingFiles());
}
