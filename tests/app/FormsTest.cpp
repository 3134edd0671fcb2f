// The main window and the log window as stored, their commands, the closing
// question and what reaches them from other threads.
#include "app/F1.h"
#include "app/Tcheckandrefresh.h"
#include "app/Tfieldnumber.h"
#include "app/Tformats.h"
#include "app/Tmeridlacheck.h"
#include "app/Tmeterbook.h"
#include "app/Tlocalesettings.h"
#include "app/Wlog.h"
#include "app/Wnulove.h"
#include "app/Wprovozni.h"
#include "app/about.h"
#include "platform/qt/StatusBar.h"
#include "tests/app/AppTestSupport.h"
#include "workbook/storage/UKmrMessages.h"

#include <QAction>
#include <QCheckBox>
#include <QMessageBox>
#include <QTranslator>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <regex>
#include <thread>

using apptest::Boxes;
using apptest::ReadFile;
using apptest::ScopedEnv;

namespace {

class FormTest : public apptest::FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        Start();
    }
    QTreeWidgetItem* Row(const std::string& flat, const std::string& serial, const std::string& key = "") {
        TMeterRecord m = apptest::SampleMeter(flat, "0x1a2b");
        m->serialNumber = serial;
        m->divisor = 100;
        m->correction = 10.5;
        m->sheetRow = 5;
        m->key = key;
        return form->AddMeterRow(m);
    }
};

}  // namespace

// The start-up lines themselves are ProgramTest's: here the window shows
// what the file got.
TEST_F(FormTest, MasterModeStartsWithTheReadingsOffAndAClientRunsItsTimer) {
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_TRUE(form->cb_aktodecty->isEnabled());
    EXPECT_EQ(form->clientTimer, nullptr);
    EXPECT_EQ(kalmira::ProcessFormatSettings().ShortDateFormat, u"dd.mm.yyyy hh:nn:ss");
    ASSERT_EQ(logWindow->LineCount(), 2);
    EXPECT_EQ(TodaysLog(), (logWindow->Line(0) + "\n" + logWindow->Line(1) + "\n").toStdString());

    form.reset();
    Start("usbCom=COM4\noffline=no\n");
    EXPECT_EQ(form->sb->Text(0), "Klient");
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_FALSE(form->cb_aktodecty->isEnabled());
    ASSERT_NE(form->clientTimer, nullptr);
    EXPECT_TRUE(form->clientTimer->isActive());
    EXPECT_TRUE(logWindow->Line(0).endsWith(" : Klient mode - načítání offline - provádí ho master"));
}

// The order itself is MeterListOrder's: here a click sorts by its column.
TEST_F(FormTest, HeaderClicksSortByTheirColumn) {
    Row("9", "10");
    Row("10", "9");
    Row("A1", "abc");
    form->lvMetersColumnClick(7);
    EXPECT_EQ(apptest::ColumnTexts(form->lvMeters, 7), (QStringList {"9", "10", "abc"}));
    form->lvMetersColumnClick(0);
    EXPECT_EQ(apptest::ColumnTexts(form->lvMeters, 0), (QStringList {"10", "9", "A1"}));
}

TEST_F(FormTest, ARowShowsItsTooltipItsPanelAndCanBeEdited) {
    EXPECT_EQ(Boxes([&] { form->Upravit1Click(); }), "Chyba|Nejprve zvolte měřidlo.\n");
    QTreeWidgetItem* row = Row("1", "100");
    EXPECT_EQ(form->lvMetersInfoTip(row), "Dvojklikem odečti tento řádek\nUpřesnění místa : kuchyň");
    form->m_Debug->setChecked(true);
    EXPECT_EQ(form->lvMetersInfoTip(row),
              "Dvojklikem odečti tento řádek\nUpřesnění místa : kuchyň\nRF adresa : 0x1a2b\n"
              "Nasobitel : 1\nDelitel : 100\nKorekce : 10.5\nExcel row : 5\nMsg. idx : 1");
    EXPECT_EQ(form->lvMetersInfoTip(nullptr), "");
    form->lvMeters->setCurrentItem(row);
    EXPECT_EQ(form->sb->Text(4), "RF : 0x1a2b / kuchyň");
    // No database object: the record cannot be read, so no dialog opens.
    EXPECT_EQ(Boxes([&] { form->Upravit1Click(); }), "");
    EXPECT_TRUE(logWindow->Line(logWindow->LineCount() - 1).endsWith(" : Chyba editace meridla"));
    EXPECT_EQ(form->findChildren<QDialog*>(QStringLiteral("fmeridla")).size(), 0);
}

// Cancel hides to the tray (minimises here: the offscreen desktop has no
// notification area); every restore shows the window again, and the
// once-a-second refresh must still start only once.
TEST_F(FormTest, CancelInTheClosingQuestionKeepsRunningAndTheRefreshStartsOnce) {
    EXPECT_EQ(form->refreshThread, nullptr);
    form->show();
    TCheckAndRefresh* first = form->refreshThread;
    ASSERT_NE(first, nullptr);
    ScopedEnv cancel("ORVELO_DIALOG_ANSWER", std::string("cancel"));
    bool closed = true;
    EXPECT_EQ(Boxes([&] { closed = form->close(); }),
              "Potvrzení|Přejete si zcela ukončit odečty ?\\nStiskněte Cancel pro minimalizaci.\n");
    EXPECT_FALSE(closed);
    EXPECT_TRUE(form->isMinimized());
    EXPECT_TRUE(first->Running());
    EXPECT_EQ(logWindow->LineCount(), 2);
    form->showNormal();
    form->hide();
    form->show();
    EXPECT_EQ(form->refreshThread, first);
    int refreshers = 0;
    for (QObject* child : form->findChildren<QObject*>()) refreshers += dynamic_cast<TCheckAndRefresh*>(child) != nullptr;
    EXPECT_EQ(refreshers, 1);
}

// Rows updated from other threads: ReadingEndToEnd, and with keys of
// another case MeterWorkbook. The refresh counts the rows read.
TEST_F(FormTest, TheRefreshCountsTheRowsReadAndAVirtualGatewayLeavesTheState) {
    Row("1", "100", "0x1a2b=1");
    Row("2", "200", "0x1a2b=2");
    form->PostRowUpdate({"0X1A2B=2", {2026, 12, 5, 20, 4, 39, 0}, 1234.56789});
    QCoreApplication::processEvents();
    form->show();
    form->refreshThread->Refresh();
    EXPECT_EQ(form->sb->Text(5), " Odečtených: 1");
    EXPECT_TRUE(std::regex_match(form->sb->Text(6).toStdString(), std::regex(R"(\d\d:\d\d:\d\d)")));
    // The gateway's state as handed over; a virtual interface leaves panel 3
    // and the button as they were.
    form->PostGatewayState({true, std::string("0x01020304"), true});
    form->PostGatewayState({false, std::nullopt, false});
    QCoreApplication::processEvents();
    EXPECT_EQ(form->GatewayRfAddress(), "0x01020304");
    EXPECT_EQ(form->sb->Text(3), "ONLINE");
    EXPECT_TRUE(form->btnReadModules->isEnabled());
}

// The log window only hides and keeps its last 500 lines; saving appends
// the window to the day's file, clearing keeps the file, a missing log
// folder keeps the line in the window only.
TEST_F(FormTest, TheLogWindowOnlyHidesAndItsFileIsOnlyEverAppendedTo) {
    form->mShow->trigger();
    EXPECT_TRUE(logWindow->close());
    EXPECT_FALSE(logWindow->isVisible());
    form->mShow->trigger();  // hidden, not freed: the same window with its lines
    EXPECT_EQ(logWindow->LineCount(), 2);
    const std::string before = TodaysLog();
    logWindow->AddMemoLine("jen v okně");
    logWindow->Button3Click();
    const std::string after = TodaysLog();
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_EQ(after.substr(before.size()),
              (logWindow->Line(0) + "\n" + logWindow->Line(1) + "\njen v okně\n").toStdString());
    {
        ScopedEnv cancel("ORVELO_DIALOG_ANSWER", std::string("cancel"));
        EXPECT_EQ(Boxes([&] { logWindow->Button1Click(); }),
                  "Upozornění|Obsah okna bude vymazán, údaje jsou zachovány v log souboru\n");
        EXPECT_EQ(logWindow->LineCount(), 3);
    }
    Boxes([&] { logWindow->Button1Click(); });
    EXPECT_EQ(logWindow->LineCount(), 0);
    EXPECT_EQ(TodaysLog(), after);

    for (int i = 1; i <= 501; ++i) EXPECT_EQ(logWindow->AddLogLine("řádek " + std::to_string(i)), 1);
    ASSERT_EQ(logWindow->LineCount(), 500);
    EXPECT_TRUE(logWindow->Line(0).endsWith(" : řádek 2"));
    EXPECT_TRUE(logWindow->Line(499).endsWith(" : řádek 501"));
    const std::string file = TodaysLog();
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 506);
    EXPECT_NE(file.find(" : řádek 1\n"), std::string::npos);

    std::filesystem::remove_all(logdir);
    int written = 1;
    EXPECT_EQ(Boxes([&] { written = logWindow->AddLogLine("bez souboru"); }), "");
    EXPECT_EQ(written, 0);
    EXPECT_TRUE(logWindow->Line(499).endsWith(" : bez souboru"));
}

// A worker's line is written to the file at once and shown when the UI
// thread runs; a line of the UI thread itself waits behind those handed
// over before it, so the window keeps the order they were logged in.
TEST_F(FormTest, LinesFromOtherThreadsReachTheWindowInTheirOrder) {
    int written = 0;
    std::thread worker([&] {
        written = logWindow->AddLogLine("GW pridana->COM3");
        logWindow->AddMemoLine("z linky");
    });
    worker.join();
    EXPECT_EQ(written, 1);
    EXPECT_TRUE(LogHas(" : GW pridana->COM3\n"));
    EXPECT_EQ(logWindow->LineCount(), 2);  // not yet: the UI thread has not run
    logWindow->AddMemoLine("z okna");
    QCoreApplication::processEvents();
    ASSERT_EQ(logWindow->LineCount(), 5);
    EXPECT_TRUE(logWindow->Line(2).endsWith(" : GW pridana->COM3"));
    EXPECT_EQ(logWindow->Line(3), QStringLiteral("z linky"));
    EXPECT_EQ(logWindow->Line(4), QStringLiteral("z okna"));
}

// Number texts in the user's decimal separator (the program's settings
// made from the locale, as the start-up makes them from the environment's):
// the list's value, the tooltip's correction, the number fields, a cell's
// number as text; typed numbers take the separator and the point.
TEST(NumberTexts, FollowTheUsersDecimalSeparator) {
    apptest::EnsureApp();
    auto texts = [] {
        TStradelCntrs m;
        m.correction = 10.5;
        TMeterDef def;
        def.correction = 0.125f;
        const std::string hint = MeterHint(m, true);
        auto parsed = [](const char* typed) {
            const std::optional<double> v = TryParseFieldNumber(typed);
            return v ? plat::FloatToStr(*v) : std::string("none");
        };
        return std::vector<std::string> {ValueText(21.5), ValueText(1234.56789), NumberText(-0.000015),
                                         NumberText(1e20), NumberText(3), FieldNumberText("12,3456", 3),
                                         FieldNumberText(" 7.5 ", 3), hint.substr(hint.find("Korekce")),
                                         MeterDefTexts(def).correction, CellText(kalmira::TVariant(2.5)),
                                         parsed("21,5"), parsed("21.5"), parsed("1.234,5")};
    };
    using Strings = std::vector<std::string>;
    const std::pair<QLocale, Strings> cases[] = {
        {QLocale::c(), {"21.5", "1234.5679", "-1.5E-5", "1E20", "3", "12.346", "7.5",
                        "Korekce : 10.5\nExcel row : 0\nMsg. idx : 0", "0.125", "2.5", "21.5", "21.5", "none"}},
        {QLocale(QLocale::Czech, QLocale::Czechia),
         {"21,5", "1234,5679", "-1,5E-5", "1E20", "3", "12,346", "7,5",
          "Korekce : 10,5\nExcel row : 0\nMsg. idx : 0", "0,125", "2,5", "21.5", "21.5", "none"}},
    };
    for (const auto& [locale, expected] : cases) {
        UseProgramFormatSettings(LocaleFormatSettings(locale));
        EXPECT_EQ(texts(), expected) << locale.name().toStdString();
    }
    UseProgramFormatSettings(kalmira::InvariantFormatSettings());
    EXPECT_EQ(NumberText(0.5), "0.5");
}

// The separator comes from the environment as the C library reads it:
// LC_ALL before LC_NUMERIC before LANG.
TEST(NumberTexts, TheSeparatorIsTheEnvironmentsNumericLocales) {
    apptest::EnsureApp();
    using Env = std::array<std::optional<std::string>, 3>;  // LC_ALL, LC_NUMERIC, LANG
    const std::pair<Env, char16_t> cases[] = {
        {{std::nullopt, "cs_CZ.UTF-8", "C"}, u','},
        {{"C", "cs_CZ.UTF-8", "cs_CZ.UTF-8"}, u'.'},
        {{std::nullopt, std::nullopt, "cs_CZ.UTF-8"}, u','},
        {{std::nullopt, "POSIX", "cs_CZ.UTF-8"}, u'.'},
        {{"cs_CZ@euro", std::nullopt, std::nullopt}, u','},
        {{std::nullopt, std::nullopt, std::nullopt}, u'.'},
        {{"", "", "en_US.UTF-8"}, u'.'},
    };
    for (const auto& [env, separator] : cases) {
        ScopedEnv all("LC_ALL", env[0]), numeric("LC_NUMERIC", env[1]), lang("LANG", env[2]);
        EXPECT_EQ(NumericLocale().decimalPoint(), QString(QChar(separator))) << env[1].value_or("-");
        EXPECT_EQ(TLocaleSettingsSource().LocaleSettings().DecimalSeparator, separator);
    }
}

// Under a Czech locale Qt's buttons and its file dialog speak Czech.
TEST(QtTranslations, CzechBoxButtonsAndFileDialog) {
    apptest::EnsureApp();
    QTranslator* czech = plat::InstallQtTranslations(QLocale(QLocale::Czech, QLocale::Czechia));
    ASSERT_NE(czech, nullptr) << "qt6-translations-l10n (scripts/deps) is missing";
    QMessageBox box;
    box.addButton(QMessageBox::Yes);
    box.addButton(QMessageBox::No);
    box.addButton(QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), "&Ano");
    EXPECT_EQ(box.button(QMessageBox::No)->text(), "&Ne");
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "Zrušit");
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "&Open"), "&Open");
    QCoreApplication::removeTranslator(czech);
    delete czech;
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "&Open"), "&Open");
}

// The desktop locale reaches the engine in its own format letters.
TEST(LocaleSettings, QtFormatsBecomeEngineLetters) {
    for (auto [qt, engine] : {std::pair{"d.M.yyyy H:mm:ss", "d.m.yyyy h:nn:ss"}, {"dd/MM/yy h:mm AP", "dd/mm/yy h:nn AMPM"},
                              {"dddd d. MMMM yyyy", "dddd d. mmmm yyyy"}, {"h:mm ap t", "h:nn ampm"},
                              {"d 'de' MMMM", "d \"de\" mmmm"}})
        EXPECT_EQ(EngineDateTimeFormat(QString::fromUtf8(qt)), QString::fromUtf8(engine)) << qt;
    const kalmira::TFormatSettings cz = LocaleFormatSettings(QLocale(QLocale::Czech, QLocale::Czechia));
    EXPECT_EQ(cz.DecimalSeparator, u',');
    EXPECT_EQ(cz.ListSeparator, u';');
    const kalmira::TFormatSettings en = LocaleFormatSettings(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(en.DecimalSeparator, u'.');
    EXPECT_EQ(en.LongDayNames[0], u"Sunday");
    EXPECT_EQ(en.LongMonthNames[0], u"January");
}
