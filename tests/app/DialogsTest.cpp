// The dialogs as stored, offscreen, their controls found by name.
#include "app/Tmyconfig.h"
#include "app/Tmydates.h"
#include "app/Wmeridla.h"
#include "app/Wnulove.h"
#include "app/Wprovozni.h"
#include "app/Wselectserial.h"
#include "tests/app/AppTestSupport.h"

#include <QDateTimeEdit>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using apptest::Boxes;

namespace {

template <class T>
T* Find(QWidget* window, const char* name) {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// What a field shows once it is left after the text was typed.
QString Typed(QLineEdit* edit, const char* text) {
    edit->setText(QString::fromUtf8(text));
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(edit, &out);
    return edit->text();
}

class DialogTest : public ::testing::Test {
protected:
    apptest::ScopedEnv dialogs {"ORVELO_DIALOGS", std::string("auto")};
    void SetUp() override { apptest::EnsureApp(); }
};

TEST_F(DialogTest, PortDialogChoosesOnlyAPresentPort) {
    Tfselectserial dialog;
    dialog.SetPorts({});
    dialog.show();
    dialog.Button1->click();
    EXPECT_TRUE(dialog.isVisible()) << "no port: Nastavit does nothing";  // choosing one: ReadingEndToEnd
}

// The current port is selected when listed; one in use (which the scan
// leaves out, as it is held) is listed where the scan would have put it.
TEST_F(DialogTest, PortDialogListsAndSelectsThePortInUse) {
    const std::vector<std::string> scan = {"COM3", "COM12", "/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB10"};
    const struct {
        std::string current;
        bool inUse;
        std::string listed;  // the items, the selected one in brackets
    } cases[] = {
        {"", false, "[COM3] COM12 /dev/ttyACM0 /dev/ttyUSB2 /dev/ttyUSB10"},
        {"COM12", false, "COM3 [COM12] /dev/ttyACM0 /dev/ttyUSB2 /dev/ttyUSB10"},
        {"COM1", false, "[COM3] COM12 /dev/ttyACM0 /dev/ttyUSB2 /dev/ttyUSB10"},
        {"COM1", true, "[COM1] COM3 COM12 /dev/ttyACM0 /dev/ttyUSB2 /dev/ttyUSB10"},
        {"COM40", true, "COM3 COM12 [COM40] /dev/ttyACM0 /dev/ttyUSB2 /dev/ttyUSB10"},
        {"/dev/ttyUSB3", true, "COM3 COM12 /dev/ttyACM0 /dev/ttyUSB2 [/dev/ttyUSB3] /dev/ttyUSB10"},
        {"/dev/ttyUSB2", true, "COM3 COM12 /dev/ttyACM0 [/dev/ttyUSB2] /dev/ttyUSB10"},
        {"/dev/ttyUSB11", true, "COM3 COM12 /dev/ttyACM0 /dev/ttyUSB2 /dev/ttyUSB10 [/dev/ttyUSB11]"},
    };
    Tfselectserial dialog;
    for (const auto& c : cases) {
        dialog.SetPorts(scan, c.current, c.inUse);
        std::string listed;
        for (int i = 0; i < dialog.ComboBox1->count(); ++i) {
            const std::string item = dialog.ComboBox1->itemText(i).toStdString();
            listed += (i ? " " : "") + (i == dialog.ComboBox1->currentIndex() ? "[" + item + "]" : item);
        }
        EXPECT_EQ(listed, c.listed) << c.current;
    }
    dialog.SetPorts({}, "COM1", true);
    EXPECT_EQ(dialog.ChosenPort(), "COM1");
}

// Each opening takes "now" anew: a dialog opened after midnight of the 1st
// starts the new month. A click sorts by its column; the list frees itself
// when closed, as do the operating parameters.
TEST_F(DialogTest, ZeroConsumptionListTakesTheMonthSortsAndFreesItself) {
    plat::TDateTimeParts now {2026, 3, 31, 23, 59, 59, 0};
    TMyDates dates([&now] { return now; });
    myDates = &dates;
    std::vector<std::string> seen;
    QPointer<Tfnulove> dialog;
    for (const plat::TDateTimeParts later : {now, plat::TDateTimeParts {2026, 4, 1, 0, 0, 10, 0}}) {
        now = later;
        if (dialog) dialog->close();
        dialog = new Tfnulove();
        for (const char* name : {"bilOdDate", "bilToDate"})
            seen.push_back(Find<QDateTimeEdit>(dialog, name)->dateTime().toString("dd.MM.yyyy HH:mm:ss").toStdString());
    }
    myDates = nullptr;
    EXPECT_EQ(seen, (std::vector<std::string> {"01.03.2026 00:00:00", "31.03.2026 23:59:59", "01.04.2026 00:00:00",
                                               "01.04.2026 00:00:10"}));
    QTreeWidget* list = Find<QTreeWidget>(dialog, "lvMeters");
    for (const char* n : {"9", "10", "Byt 2"})
        dialog->AddRow({QString::fromLatin1(n), "1", "", "", "", "", QString::number(std::atoi(n) + 1)});
    dialog->lvMetersColumnClick(0);
    EXPECT_EQ(apptest::ColumnTexts(list, 0), (QStringList {"10", "9", "Byt 2"}));
    dialog->lvMetersColumnClick(6);
    EXPECT_EQ(apptest::ColumnTexts(list, 6), (QStringList {"1", "10", "11"}));

    dialog->show();
    dialog->Button1->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    apptest::FreeClosed();
    EXPECT_TRUE(dialog.isNull()) << "frees itself when closed";
    QPointer<TfProvozni> parameters = new TfProvozni();
    parameters->show();
    parameters->close();
    apptest::FreeClosed();
    EXPECT_TRUE(parameters.isNull());
}

class MeterDialogTest : public DialogTest {
protected:
    testsupport::TempDir dir;
    TMyConfig config {"/opt/orvelo/orvelo", dir.File("registry")};
    TMyConfig* saved = myConfig;
    void SetUp() override {
        DialogTest::SetUp();
        config.mediaTypes = {{1, "Studená voda"}, {2, "Teplá voda"}};
        config.meterTypes = {{7, "Vodoměr"}, {8, "Kalorimetr"}};
        myConfig = &config;
    }
    void TearDown() override { myConfig = saved; }

    void FillGood(Tfmeridla& d) {
        d.cb_typmedia->setCurrentIndex(0);
        d.cb_typmeridla->setCurrentIndex(1);
        d.le_nazev->setText(QStringLiteral("Byt 12 studená"));
        d.le_sekaddr->setText(QStringLiteral("12345678"));
        d.le_merjednotka->setText(QStringLiteral("m3"));
    }
};

// Every number field rewrites what was typed when it is left (the rules
// themselves: DialogCoreTest); a text field keeps what was typed.
TEST_F(MeterDialogTest, NumberFieldsAreRewrittenWhenLeft) {
    TMeterDef record;
    Tfmeridla d(nullptr, true, &record);
    ASSERT_EQ(d.NumberFields().size(), 10u);
    for (QLineEdit* field : d.NumberFields()) {
        EXPECT_EQ(Typed(field, "1,23456"), QStringLiteral("1.2346")) << field->objectName().toStdString();
        EXPECT_EQ(Typed(field, "nan"), QStringLiteral("0")) << field->objectName().toStdString();
    }
    EXPECT_EQ(Typed(d.le_nazev, "12,5"), QStringLiteral("12,5"));
}

// Each field reaches its check and its box in their order, a failed save
// keeps the dialog open; the bounds pass, the name is trimmed and counted in
// characters.
TEST_F(MeterDialogTest, EachFieldSpeaksThroughItsBoxAndTheDialogStaysOpen) {
    TMeterDef record;
    Tfmeridla d(nullptr, true, &record);
    d.show();
    auto save = [&] { return Boxes([&] { d.Button1->click(); }); };
    EXPECT_EQ(save(), "Chyba|Zvolte medium\n");
    d.cb_typmedia->setCurrentIndex(0);
    EXPECT_EQ(save(), "Chyba|Zvolte měřidlo\n");
    FillGood(d);
    const struct {
        QLineEdit* Tfmeridla::*field;
        const char* text;
        const char* box;
    } spoilt[] = {
        {&Tfmeridla::le_nazev, "AB", "Chyba|Název je příliš krátký. (3-32)\n"},
        {&Tfmeridla::le_nazev, "  AB   ", "Chyba|Název je příliš krátký. (3-32)\n"},
        {&Tfmeridla::le_nazev, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", "Chyba|Název je příliš krátký. (3-32)\n"},
        {&Tfmeridla::le_sekaddr, "123", "Chyba|Sekundární adresa je příliš krátká (4-20)\n"},
        {&Tfmeridla::le_merjednotka, "   ", "Chyba|Zvolte základní jednotku měřiče (1-6)\n"},
        {&Tfmeridla::le_merjednotka, "kWh/m3x", "Chyba|Zvolte základní jednotku měřiče (1-6)\n"},
        {&Tfmeridla::le_pocstav, "-1", ""},  // fails silently
        {&Tfmeridla::le_nasobitel, "0", "Chyba|Násobitel nesmí být 0\n"},
        {&Tfmeridla::le_delitel, "abc", "Chyba|Dělitel nesmí být 0\n"},
        {&Tfmeridla::le_merpausal, "-0,01", "Chyba|Paušál nesmí být menší než 0\n"},
        {&Tfmeridla::le_mbusaddr, "0", "Chyba|Adresa musí být v rozsahu 1-253\n"},
        {&Tfmeridla::le_mbusaddr, "254", "Chyba|Adresa musí být v rozsahu 1-253\n"},
        {&Tfmeridla::le_mbusindex, "126", "Chyba|Index musí být větší než 0\n"},
        {&Tfmeridla::le_mbusindex, "-1", "Chyba|Index musí být větší než 0\n"},
        {&Tfmeridla::le_mbusinterval, "59", "Chyba|Interval musí být v rozsahu 60-1440\n"},
        {&Tfmeridla::le_mbusinterval, "1441", "Chyba|Interval musí být v rozsahu 60-1440\n"},
    };
    for (const auto& c : spoilt) {
        QLineEdit* field = d.*c.field;
        const QString good = field->text();
        field->setText(QString::fromUtf8(c.text));
        EXPECT_EQ(save(), c.box) << c.text;
        EXPECT_TRUE(d.isVisible()) << c.text;
        field->setText(good);
    }
    EXPECT_EQ(record.name, "") << "nothing stored before all checks pass";
    d.le_nazev->setText(QStringLiteral(" Žlu "));  // three characters, five bytes
    d.le_sekaddr->setText(QString(20, '1'));
    d.le_korekce->setText(QStringLiteral("-1,5"));
    d.le_mbusaddr->setText(QStringLiteral("253"));
    d.le_mbusindex->setText(QStringLiteral("125"));
    d.le_mbusinterval->setText(QStringLiteral("1440"));
    EXPECT_EQ(save(), "");
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(std::tie(record.name, record.secondaryAddress, record.correction),
              std::make_tuple("Žlu", std::string(20, '1'), -1.5f));
    EXPECT_EQ(std::tie(record.mbusAddress, record.mbusIndex, record.mbusInterval), std::make_tuple(253, 125, 1440));
}

TEST_F(MeterDialogTest, FailedSaveThenCancelLeavesTheRecordUnchanged) {
    TMeterDef record;
    record.meterId = 5;
    record.mediaTypeIndex = 1;
    record.meterTypeIndex = 0;
    record.name = "Původní název";
    record.secondaryAddress = "55555";
    record.unit = "kWh";
    record.multiplier = 2;
    record.correction = 0.1f;
    const TMeterDef before = record;
    QPointer<Tfmeridla> d = new Tfmeridla(nullptr, false, &record);
    EXPECT_EQ(d->le_nazev->text(), QStringLiteral("Původní název"));
    EXPECT_EQ(d->le_korekce->text(), QStringLiteral("0.1"));
    EXPECT_EQ(d->cb_typmedia->currentIndex(), 1);
    d->show();
    FillGood(*d);
    d->le_nasobitel->setText(QStringLiteral("0"));  // check 8 fails after seven passed
    EXPECT_EQ(Boxes([&] { d->Button1->click(); }), "Chyba|Násobitel nesmí být 0\n");
    d->Button2->click();
    EXPECT_EQ(d->result(), QDialog::Rejected);
    EXPECT_EQ(std::tie(record.name, record.unit, record.secondaryAddress, record.mediaTypeIndex,
                       record.meterTypeIndex, record.multiplier),
              std::tie(before.name, before.unit, before.secondaryAddress, before.mediaTypeIndex,
                       before.meterTypeIndex, before.multiplier));
    apptest::FreeClosed();
    EXPECT_TRUE(d.isNull()) << "frees itself when closed";
}

// The progress window of "Odečíst moduly", driven by a hand-ticked source.
class InfoTest : public DialogTest {
protected:
    apptest::ManualTicks* ticks = new apptest::ManualTicks;
    std::unique_ptr<Tfinfo> window;
    std::vector<int> sent;
    std::vector<int> positions;

    void SetUp() override {
        DialogTest::SetUp();
        window = std::make_unique<Tfinfo>(nullptr, std::unique_ptr<TTickSource>(ticks));
        window->sendReadRequest = [this](int parameter) {
            sent.push_back(parameter);
            positions.push_back(window->pb->value() + 1);
        };
    }
};

// Each showing starts the count over, whether the last one ended early
// (Escape, the window's close) or after its five ticks.
TEST_F(InfoTest, FiveTicksSendThreeRequestsAndCloseAndEachShowingStartsOver) {
    window->show();
    ticks->Fire(2);
    window->reject();
    EXPECT_FALSE(ticks->Active());
    EXPECT_EQ(window->pb->value(), 0);
    window->show();
    ticks->Fire();
    window->close();
    EXPECT_FALSE(ticks->Active());
    for (int showing = 1; showing <= 2; ++showing) {
        window->show();
        ticks->Fire(4);
        EXPECT_EQ(window->pb->value(), 3);
        EXPECT_EQ(sent.size(), 3u + 3u * showing) << "the fourth tick sends nothing";
        EXPECT_TRUE(window->isVisible());
        ticks->Fire();
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(window->result(), QDialog::Accepted);
        EXPECT_EQ(window->pb->value(), 0);
        EXPECT_FALSE(ticks->Active());
    }
    EXPECT_EQ(sent, std::vector<int>(9, 3000));
    EXPECT_EQ(positions, (std::vector<int> {1, 2, 1, 1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(ticks->starts, 4);
}

}  // namespace
