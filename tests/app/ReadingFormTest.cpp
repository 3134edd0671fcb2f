// The reading control in the main window, with a worker that records what
// would go to the gateway: the check box, "Odečíst moduly", the double-click,
// the gateway state, "Debug", "Pouze na obrazovku" and the dialogs opened
// from the window's commands.
#include "app/F1.h"
#include "app/Winfo.h"
#include "app/Wnulove.h"
#include "app/Wprovozni.h"
#include "app/Wselectserial.h"
#include "app/about.h"
#include "platform/qt/StatusBar.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/RecordingWorker.h"
#include "tests/tools/gwstandin/GatewayStandin.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace {

using apptest::Boxes;
using apptest::Bytes;
using apptest::ReadFile;
using apptest::ScopedEnv;
using apptest::WhenModal;

const char kNoFile[] = "Informace|Není načtený žádný soubor měřidel\n";
const char kNotActive[] = "Informace|Před spuštěním nejprve aktivujte odečty.\n";
const char kNotOnline[] =
    "Informace|Odečítací gateway není připojena nebo není online.\\n"
    "Zkontrolujte připojení gatewaye a nastavení komunikačního portu\n";

class ReadingFormTest : public apptest::FormFixture {
protected:
    apptest::WorkerLog workers;
    apptest::ManualTicks* ticks = new apptest::ManualTicks;
    std::unique_ptr<Tfinfo> info;
    std::unique_ptr<Tfselectserial> ports;

    void SetUp() override {
        FormFixture::SetUp();
        Start("# nastavení\n" + std::string(apptest::kMasterStore));
        form->SetWorkerFactory(workers.Factory());
        info = std::make_unique<Tfinfo>(form.get(), std::unique_ptr<TTickSource>(ticks));
        finfo = info.get();
        ports = std::make_unique<Tfselectserial>(form.get());
        fselectserial = ports.get();
    }
    void TearDown() override {
        ports.reset();
        info.reset();
        FormFixture::TearDown();
        debugLevel = 0;
    }
    std::vector<Bytes> Packets() const {
        std::vector<Bytes> out;
        for (const apptest::Sent& s : workers.sent) out.push_back(s.packet);
        return out;
    }
};

TEST_F(ReadingFormTest, TickingStartsAWorkerOnlyWithRowsAndUntickingStopsIt) {
    EXPECT_EQ(Boxes([&] { Tick(true); }), kNoFile);
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_EQ(workers.made, 0);
    EXPECT_FALSE(LogHas("Stradel zastaven")) << "no worker, nothing to stop";

    AddRow("1", "0x1a2b");
    form->debugMode = 3;
    EXPECT_EQ(Boxes([&] { Tick(true); }), "");
    EXPECT_EQ(workers.alive, 1);
    EXPECT_EQ(workers.ports, (std::vector<std::string> {"COM3 -1 level 3"}));
    EXPECT_TRUE(std::regex_match(form->st_Spusteno->text().toStdString(),
                                 std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)")));
    EXPECT_TRUE(LogHas(" : Odecty spusteny .... \n"));
    EXPECT_TRUE(LogHas(" : GW pridana->COM3\n"));
    Tick(false);
    EXPECT_EQ(workers.alive, 0);
    EXPECT_TRUE(LogHas(" : Stradel zastaven .... \n"));
}

TEST_F(ReadingFormTest, ReadModulesSendsThreeRequestsPerShowing) {
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), kNoFile);
    AddRow("1", "0x1a2b");
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), kNotActive);
    Tick(true);
    form->SetGatewayRfAddress("0x01020304");
    for (int showing = 0; showing < 2; ++showing) {
        WhenModal([this](QWidget* modal) {
            EXPECT_EQ(modal, info.get());
            ticks->Fire(5);
        });
        form->btnReadModulesClick();
        EXPECT_FALSE(info->isVisible());
    }
    ASSERT_EQ(workers.sent.size(), 6u);
    EXPECT_EQ(workers.sent[0].packet, (Bytes {0, 0, 0, 0, 1, 2, 3, 4, 0x07, 0x00, 0x01, 0x02}));
    EXPECT_EQ(workers.sent[5].packet, (Bytes {0, 0, 0, 0, 1, 2, 3, 4, 0x07, 0x00, 0x06, 0x02}));
    EXPECT_EQ(workers.sent[0].gateway, 0x01020304u);

    // Rows gone while running: the first guard unticks the readings.
    form->lvMeters->clear();
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), kNoFile);
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_EQ(workers.alive, 0);
}

// The gateway's state comes from a link thread as a copy through the
// hand-off; an OFFLINE that arrives after its worker is gone still counts.
TEST_F(ReadingFormTest, DoubleClickFollowsTheGatewayStateHandedOver) {
    QTreeWidgetItem* row = AddRow("7", "0xa0b0c0d");
    EXPECT_EQ(Boxes([&] { form->lvMetersDblClick(row); }), kNotActive);
    Tick(true);
    EXPECT_EQ(Boxes([&] { form->lvMetersDblClick(row); }), kNotOnline);
    std::thread link([this] { form->PostGatewayState({true, std::string("0x01020304"), true}); });
    link.join();
    EXPECT_EQ(form->GatewayRfAddress(), "0x00000000") << "applied on the UI thread only";
    QCoreApplication::processEvents();
    EXPECT_EQ(form->GatewayRfAddress(), "0x01020304");
    EXPECT_EQ(form->sb->Text(3), "ONLINE");
    EXPECT_TRUE(form->btnReadModules->isEnabled());
    EXPECT_EQ(Boxes([&] { form->lvMetersDblClick(row); }), "");
    EXPECT_EQ(Packets(), (std::vector<Bytes> {{0x0A, 0x0B, 0x0C, 0x0D, 1, 2, 3, 4, 0x07, 0x00, 0x01, 0x02}}));

    // A virtual interface: the online flag follows, panel 3 and the button stay.
    form->PostGatewayState({false, std::nullopt, false});
    QCoreApplication::processEvents();
    EXPECT_EQ(form->sb->Text(3), "ONLINE");
    EXPECT_TRUE(form->btnReadModules->isEnabled());
    EXPECT_EQ(Boxes([&] { form->lvMetersDblClick(row); }), kNotOnline);

    Tick(false);
    form->PostGatewayState({false, std::nullopt, true});
    QCoreApplication::processEvents();
    EXPECT_EQ(form->sb->Text(3), "OFFLINE");
    EXPECT_FALSE(form->btnReadModules->isEnabled());
    EXPECT_EQ(form->GatewayRfAddress(), "0x01020304") << "a lost gateway keeps its address";
    EXPECT_EQ(Boxes([&] { form->lvMetersDblClick(row); }), kNotActive);
    EXPECT_EQ(workers.sent.size(), 1u);
}

TEST_F(ReadingFormTest, DebugAndOnlyOnScreenFlipTheirTicks) {
    form->m_Debug->trigger();  // no worker: tick and level stay
    EXPECT_FALSE(form->m_Debug->isChecked());
    EXPECT_EQ(form->debugMode, 0);
    EXPECT_EQ(myConfig->Conf()->debug, 0);
    AddRow("1", "0x1a2b");
    Tick(true);
    form->m_Debug->trigger();
    EXPECT_TRUE(form->m_Debug->isChecked());
    EXPECT_EQ(form->debugMode, 3);
    EXPECT_EQ(debugLevel, 3);
    EXPECT_EQ(myConfig->Conf()->debug, 3);
    form->m_Debug->trigger();
    EXPECT_FALSE(form->m_Debug->isChecked());
    EXPECT_EQ(debugLevel, 0);
    EXPECT_EQ(myConfig->Conf()->debug, 0);

    form->mPouzenaobrazovku->setEnabled(true);
    for (bool on : {true, false}) {
        form->mPouzenaobrazovku->trigger();
        EXPECT_EQ(form->onlyOnScreen, on);
        EXPECT_EQ(form->mPouzenaobrazovku->isChecked(), on);
    }
}

// The port dialog lists the COM ports present in the device folder; Zavřít
// changes nothing, another port stops the readings and is shown and stored.
TEST_F(ReadingFormTest, PortDialogListsThePortsPresentAndStoresTheChoice) {
    testsupport::TempDir devices;
    ScopedEnv folder {"ORVELO_DEVICE_DIR", devices.Path()};
    standin::GatewayStandin com7(devices.Path(), "COM7");
    standin::GatewayStandin com3(devices.Path(), "COM3");
    AddRow("1", "0x1a2b");
    Tick(true);
    QStringList listed;
    WhenModal([&](QWidget* modal) {
        auto* dialog = static_cast<Tfselectserial*>(modal);
        for (int i = 0; i < dialog->ComboBox1->count(); ++i) listed << dialog->ComboBox1->itemText(i);
        EXPECT_EQ(dialog->ComboBox1->currentIndex(), 0);
        dialog->Button2->click();
    });
    form->Nastavitkomunikaci1->trigger();
    EXPECT_TRUE(listed.contains(QStringLiteral("COM3")));
    EXPECT_TRUE(listed.contains(QStringLiteral("COM7")));
    EXPECT_FALSE(listed.contains(QStringLiteral("COM4")));
    EXPECT_TRUE(form->cb_aktodecty->isChecked()) << "Zavřít changes nothing";
    EXPECT_EQ(form->sb->Text(2), "COM3");

    apptest::ChoosePort(form.get(), "COM7");
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_EQ(workers.alive, 0);
    EXPECT_EQ(form->sb->Text(2), "COM7");
    EXPECT_EQ(myConfig->Conf()->dir.usbCom, "COM7");
    EXPECT_EQ(ReadFile(store), "# nastavení\nusbCom=COM7\noffline=n\nlogdir=" + logdir + "\n");
    Tick(true);
    EXPECT_EQ(workers.ports.back(), "COM7 -1 level 0");
}

TEST_F(ReadingFormTest, ListDialogsOpenFromTheirCommands) {
    WhenModal([](QWidget* modal) {
        EXPECT_NE(dynamic_cast<Tfnulove*>(modal), nullptr);
        static_cast<Tfnulove*>(modal)->Button1->click();
    });
    form->Button1Click();
    WhenModal([](QWidget* modal) {
        EXPECT_NE(dynamic_cast<TfProvozni*>(modal), nullptr);
        modal->close();
    });
    form->Zobrazitdoplkovservisnnformace1->trigger();
    TAboutBox about(form.get());
    AboutBox = &about;
    WhenModal([](QWidget* modal) { static_cast<TAboutBox*>(modal)->OKButton->click(); });
    form->Informace1->trigger();
    EXPECT_EQ(about.result(), QDialog::Accepted);
    AboutBox = nullptr;
}

}  // namespace
