// The reading control in the main window, with a worker that records what
// would go to the gateway: the check box, "Odečíst moduly", the double-click,
// "Debug", "Pouze na obrazovku" and the port dialog.
#include "app/F1.h"
#include "app/Tmyconfig.h"
#include "app/Winfo.h"
#include "app/Wlog.h"
#include "app/Wnulove.h"
#include "app/Wprovozni.h"
#include "app/Wselectserial.h"
#include "app/about.h"
#include "gateway/Linkif.h"
#include "platform/qt/StatusBar.h"
#include "platform/sys/Codepage.h"
#include "tests/app/DialogTestSupport.h"
#include "tests/tools/gwstandin/GatewayStandin.h"
#include "tests/tools/support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct WorkerLog {
    int made = 0;
    int alive = 0;
    std::vector<std::string> ports;
    std::vector<Bytes> packets;
    std::vector<std::uint32_t> gateways;
};

class RecordingWorker : public TGatewayWorker {
public:
    explicit RecordingWorker(WorkerLog* log) : log_(log) {
        ++log_->made;
        ++log_->alive;
    }
    ~RecordingWorker() override { --log_->alive; }
    int addSerialPort(const std::string& port, int channel) override {
        log_->ports.push_back(port + " " + std::to_string(channel) + " level " + std::to_string(debugLevel));
        return 1;
    }
    void sendMsg(std::uint32_t gateway, int, msgBox* box) override {
        log_->gateways.push_back(gateway);
        log_->packets.emplace_back(box->data, box->data + box->length);
        packetFree(box);
    }

private:
    WorkerLog* log_;
};

template <class F>
std::string Boxes(F&& f) {
    return dialogtest::BoxesShownBy(std::forward<F>(f));
}

// Runs fn on the modal window that the action opens, then lets it go on.
void WhenModal(std::function<void(QWidget*)> fn) {
    QTimer::singleShot(0, [fn] { fn(QApplication::activeModalWidget()); });
}

using dialogtest::ManualTicks;

class ReadingFormTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string store = dir.File("registry");
    std::string logdir = dir.File("log");
    ScopedEnv registry {"ORVELO_REGISTRY", store};
    ScopedEnv dialogs {"ORVELO_DIALOGS", std::string("auto")};
    WorkerLog workers;
    ManualTicks* ticks = new ManualTicks;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<Tfinfo> info;
    std::unique_ptr<Tfselectserial> ports;

    void SetUp() override {
        dialogtest::EnsureApp();
        std::filesystem::create_directory(logdir);
        WriteFile(store, "usbCom=COM3\noffline=n\nlogdir=" + logdir + "\n");
        form = std::make_unique<TForm1>();
        form->SetWorkerFactory([this] { return std::make_unique<RecordingWorker>(&workers); });
        info = std::make_unique<Tfinfo>(form.get(), std::unique_ptr<TTickSource>(ticks));
        finfo = info.get();
        ports = std::make_unique<Tfselectserial>(form.get());
        fselectserial = ports.get();
    }
    void TearDown() override {
        ports.reset();
        info.reset();
        form.reset();
        debugLevel = 0;
    }

    void AddRow(const std::string& flat, const std::string& rf) {
        form->AddMeterRow(dialogtest::SampleMeter(flat, rf));
    }
    std::string TodaysLog() const { return plat::Cp1250ToUtf8(ReadFile(myConfig->LogFilePath())); }
    void Tick(bool on) { form->cb_aktodecty->setChecked(on); }
};

TEST_F(ReadingFormTest, TickingWithoutRowsRefusesAndStartsNothing) {
    EXPECT_EQ(Boxes([&] { Tick(true); }), "Informace|Není načtený žádný soubor měřidel\n");
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_EQ(workers.made, 0);
    EXPECT_FALSE(form->Readings().Running());
    EXPECT_EQ(TodaysLog().find("Stradel zastaven"), std::string::npos) << "no worker, nothing to stop";
}

TEST_F(ReadingFormTest, StartAndStopWithRows) {
    AddRow("1", "0x1a2b");
    form->debugMode = 3;
    EXPECT_EQ(Boxes([&] { Tick(true); }), "");
    EXPECT_EQ(workers.alive, 1);
    EXPECT_EQ(workers.ports, (std::vector<std::string> {"COM3 -1 level 3"}));
    EXPECT_TRUE(std::regex_match(form->st_Spusteno->text().toStdString(),
                                 std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)")));
    const std::string log = TodaysLog();
    EXPECT_NE(log.find(" : Odecty spusteny .... \n"), std::string::npos);
    EXPECT_NE(log.find(" : GW pridana->COM3\n"), std::string::npos);
    Tick(false);
    EXPECT_EQ(workers.alive, 0);
    EXPECT_NE(TodaysLog().find(" : Stradel zastaven .... \n"), std::string::npos);
}

TEST_F(ReadingFormTest, ReadModulesSendsThreeRequestsPerShowing) {
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), "Informace|Není načtený žádný soubor měřidel\n");
    AddRow("1", "0x1a2b");
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), "Informace|Před spuštěním nejprve aktivujte odečty.\n");
    Tick(true);
    form->SetGatewayRfAddress("0x01020304");
    for (int showing = 0; showing < 2; ++showing) {
        WhenModal([this](QWidget* modal) {
            EXPECT_EQ(modal, info.get());
            for (int i = 0; i < 5; ++i) ticks->Fire();
        });
        form->btnReadModulesClick();
        EXPECT_FALSE(info->isVisible());
    }
    ASSERT_EQ(workers.packets.size(), 6u);
    EXPECT_EQ(workers.packets[0], (Bytes {0, 0, 0, 0, 1, 2, 3, 4, 0x07, 0x00, 0x01, 0x02}));
    EXPECT_EQ(workers.packets[5], (Bytes {0, 0, 0, 0, 1, 2, 3, 4, 0x07, 0x00, 0x06, 0x02}));
    EXPECT_EQ(workers.gateways[0], 0x01020304u);
}

TEST_F(ReadingFormTest, NoRowsWhileRunningUnticksTheReadings) {
    AddRow("1", "0x1a2b");
    Tick(true);
    form->lvMeters->clear();
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), "Informace|Není načtený žádný soubor měřidel\n");
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_EQ(workers.alive, 0);
}

TEST_F(ReadingFormTest, DoubleClickSendsOneRequestToTheRow) {
    AddRow("7", "0xa0b0c0d");
    QTreeWidgetItem* row = form->lvMeters->topLevelItem(0);
    EXPECT_EQ(Boxes([&] { form->lvMetersDblClick(row); }), "Informace|Před spuštěním nejprve aktivujte odečty.\n");
    Tick(true);
    form->SetGatewayRfAddress("0x01020304");
    EXPECT_EQ(Boxes([&] { form->lvMetersDblClick(row); }),
              "Informace|Odečítací gateway není připojena nebo není online.\\n"
              "Zkontrolujte připojení gatewaye a nastavení komunikačního portu\n");
    form->ApplyGatewayOnline(true);
    EXPECT_EQ(form->sb->Text(3), "ONLINE");
    EXPECT_TRUE(form->btnReadModules->isEnabled());
    EXPECT_EQ(Boxes([&] { form->lvMetersDblClick(row); }), "");
    ASSERT_EQ(workers.packets.size(), 1u);
    EXPECT_EQ(workers.packets[0], (Bytes {0x0A, 0x0B, 0x0C, 0x0D, 1, 2, 3, 4, 0x07, 0x00, 0x01, 0x02}));
    form->SetGatewayRfAddress("0x00000000");
    form->lvMetersDblClick(row);
    EXPECT_EQ(workers.packets.size(), 1u) << "no gateway address yet: nothing sent";

    Tick(false);
    form->ApplyGatewayOnline(false);  // the OFFLINE that follows the worker's end
    EXPECT_EQ(form->sb->Text(3), "OFFLINE");
    EXPECT_FALSE(form->btnReadModules->isEnabled());
    EXPECT_EQ(Boxes([&] { form->lvMetersDblClick(row); }), "Informace|Před spuštěním nejprve aktivujte odečty.\n");
    EXPECT_EQ(workers.packets.size(), 1u);
}

TEST_F(ReadingFormTest, GatewayStatesArriveByHandOffAndOutliveTheirWorker) {
    AddRow("7", "0xa0b0c0d");
    QTreeWidgetItem* row = form->lvMeters->topLevelItem(0);
    Tick(true);
    // Posted on a link thread while this one runs no loop: the poster does not wait.
    std::thread link([this] { form->PostGatewayState({true, std::string("0x01020304"), true}); });
    link.join();
    EXPECT_EQ(form->GatewayRfAddress(), "0x00000000") << "applied on the UI thread only";
    QCoreApplication::processEvents();
    EXPECT_EQ(form->GatewayRfAddress(), "0x01020304");
    EXPECT_EQ(form->sb->Text(3), "ONLINE");
    EXPECT_TRUE(form->btnReadModules->isEnabled());

    // A virtual interface: the online flag follows, panel 3 and the button stay.
    form->PostGatewayState({false, std::nullopt, false});
    QCoreApplication::processEvents();
    EXPECT_EQ(form->sb->Text(3), "ONLINE");
    EXPECT_TRUE(form->btnReadModules->isEnabled());
    EXPECT_EQ(Boxes([&] { form->lvMetersDblClick(row); }),
              "Informace|Odečítací gateway není připojena nebo není online.\\n"
              "Zkontrolujte připojení gatewaye a nastavení komunikačního portu\n");

    // The worker's last word comes after it is gone.
    Tick(false);
    form->PostGatewayState({false, std::nullopt, true});
    QCoreApplication::processEvents();
    EXPECT_EQ(form->sb->Text(3), "OFFLINE");
    EXPECT_FALSE(form->btnReadModules->isEnabled());
    EXPECT_EQ(form->GatewayRfAddress(), "0x01020304") << "a lost gateway keeps its address";
    EXPECT_TRUE(workers.packets.empty());
}

TEST_F(ReadingFormTest, DebugFlipsWithAWorkerAndAlwaysReachesTheConfiguration) {
    form->m_Debug->trigger();
    EXPECT_FALSE(form->m_Debug->isChecked());
    EXPECT_EQ(form->debugMode, 0);
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
}

TEST_F(ReadingFormTest, OnlyOnScreenFlipsItsTickAndFlag) {
    form->mPouzenaobrazovku->setEnabled(true);
    form->mPouzenaobrazovku->trigger();
    EXPECT_TRUE(form->onlyOnScreen);
    EXPECT_TRUE(form->mPouzenaobrazovku->isChecked());
    form->mPouzenaobrazovku->trigger();
    EXPECT_FALSE(form->onlyOnScreen);
    EXPECT_FALSE(form->mPouzenaobrazovku->isChecked());
}

TEST_F(ReadingFormTest, ChoosingAnotherPortStopsTheReadingsAndStoresIt) {
    form->comPortScan = [] { return std::vector<std::string> {"COM3", "COM7"}; };
    AddRow("1", "0x1a2b");
    Tick(true);
    WhenModal([](QWidget* modal) {
        auto* dialog = static_cast<Tfselectserial*>(modal);
        EXPECT_EQ(dialog->ComboBox1->currentText(), QStringLiteral("COM3"));
        dialog->ComboBox1->setCurrentIndex(1);
        dialog->Button1->click();
    });
    form->Nastavitkomunikaci1->trigger();
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_EQ(workers.alive, 0);
    EXPECT_EQ(form->sb->Text(2), "COM7");
    EXPECT_NE(ReadFile(store).find("usbCom=COM7\n"), std::string::npos);
    Tick(true);
    EXPECT_EQ(workers.ports.back(), "COM7 -1 level 0");

    WhenModal([](QWidget* modal) { static_cast<Tfselectserial*>(modal)->Button2->click(); });
    form->Nastavitkomunikaci1->trigger();
    EXPECT_TRUE(form->cb_aktodecty->isChecked()) << "Zavřít changes nothing";
}

TEST_F(ReadingFormTest, PortDialogListsThePortsPresent) {
    testsupport::TempDir devices;
    ScopedEnv folder {"ORVELO_DEVICE_DIR", devices.Path()};
    standin::GatewayStandin com7(devices.Path(), "COM7");
    standin::GatewayStandin com3(devices.Path(), "COM3");
    QStringList listed;
    QString selected;
    WhenModal([&](QWidget* modal) {
        auto* dialog = static_cast<Tfselectserial*>(modal);
        for (int i = 0; i < dialog->ComboBox1->count(); ++i) listed << dialog->ComboBox1->itemText(i);
        selected = dialog->ComboBox1->currentText();
        dialog->Button2->click();
    });
    form->Nastavitkomunikaci1->trigger();
    EXPECT_TRUE(listed.contains(QStringLiteral("COM3")));
    EXPECT_TRUE(listed.contains(QStringLiteral("COM7")));
    EXPECT_FALSE(listed.contains(QStringLiteral("COM4")));
    EXPECT_EQ(selected, listed.value(0));
    EXPECT_EQ(form->sb->Text(2), "COM3") << "Zavřít keeps the port";
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
