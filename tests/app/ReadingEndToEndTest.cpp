// The readings end to end: the main window with the program's own gateway
// worker, a gateway stand-in on a pseudo-terminal as COM3 (RF address
// 0x01020304, channel 2), the boxes answered through the seam, the store and
// the log folder in a temporary folder, and the progress window ticking
// every 100 ms.
#include "app/F1.h"
#include "app/Tcheckandrefresh.h"
#include "app/Winfo.h"
#include "app/Wselectserial.h"
#include "gateway/Linkif.h"
#include "gateway/Rfpacket.h"
#include "platform/qt/StatusBar.h"
#include "tests/app/AppTestSupport.h"
#include "tests/tools/gwstandin/GatewayStandin.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <thread>

// Texts in failure messages, not their bytes.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using apptest::Boxes;
using apptest::ReadFile;
using apptest::ScopedEnv;
using apptest::WhenModal;
using Bytes = std::vector<std::uint8_t>;
using standin::operator+;
using namespace std::chrono_literals;

// Only against hangs: a broken program fails here instead of blocking.
template <class Pred>
bool WaitUntil(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The frames that carry an RF packet to the gateway (command 6), as on the line.
std::vector<Bytes> RfFrames(const standin::GatewayStandin& gateway) {
    std::vector<Bytes> out;
    for (const standin::Frame& f : gateway.frames())
        if (f.message.size() >= 3 && f.message[0] == 0x3F && f.message[1] == 0x21 && f.message[2] == 0x06)
            out.push_back(f.raw);
    return out;
}

// A read request's frame up to its packet: SLIP start, 3F 21 06 with the
// escaped C0 of its header, parameter 3000 (0B B8) and the escaped C0 of
// the packet type and length.
const Bytes kRequestFrame {0xC0, 0x3F, 0x21, 0x06, 0xDB, 0xDC, 0x80, 0x01,
                           0x22, 0x0B, 0xB8, 0xDB, 0xDC, 0x77, 0x01, 0x1C};

// A kind 0x22 sensor packet from module 0x0a0b0c0d to the gateway: its type
// record, then the pulse count under index 1.
Bytes SensorPacket(std::uint8_t sequence, std::uint32_t count) {
    const Bytes header {0x01, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0x0D, 0x22, 0x00, sequence};
    return header + standin::signedRecord(63, -1, 1) + standin::unsignedRecord(100, 1, count);
}

const char kNoFile[] = "Informace|Není načtený žádný soubor měřidel\n";
const char kNotActive[] = "Informace|Před spuštěním nejprve aktivujte odečty.\n";

const std::regex kDated(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)");

// The main window with the program's own gateway worker, a gateway
// stand-in on a pseudo-terminal as COM3 (RF address 0x01020304, channel 2)
// and the progress window ticking every 100 ms.
class ReadingEndToEnd : public apptest::FormFixture {
protected:
    std::string devices = dir.File("dev");
    ScopedEnv deviceDir {"ORVELO_DEVICE_DIR", devices};
    std::string machine = dir.File("machine");
    ScopedEnv machineDir {"ORVELO_DEV_ROOT", machine};
    std::unique_ptr<standin::GatewayStandin> com3;
    std::unique_ptr<Tfinfo> info;
    std::unique_ptr<Tfselectserial> ports;

    void SetUp() override {
        // The filter is the process's: a packet an earlier test sent would
        // be a duplicate for 60 s.
        duplicateFilterClear();
        FormFixture::SetUp();
        std::filesystem::create_directory(devices);
        std::filesystem::create_directory(machine);
        com3 = std::make_unique<standin::GatewayStandin>(devices, "COM3");
        Start();
        info = std::make_unique<Tfinfo>(form.get(), TimerTickSource(form.get(), 100));
        finfo = info.get();
        ports = std::make_unique<Tfselectserial>(form.get());
        fselectserial = ports.get();
    }
    // The dialogs first: the form owns them too.
    void TearDown() override {
        ports.reset();
        info.reset();
        form.reset();
        com3.reset();
        debugLevel = 0;
    }

    // As the meters workbook load will: the record, filed under its key and
    // listed.
    QTreeWidgetItem* AddRow(const std::string& flat, const std::string& rf) {
        TMeterRecord m = apptest::SampleMeter(flat, rf);
        meterKeyList->Add(m->key, m);
        return form->AddMeterRow(m);
    }
    bool WaitLog(const std::string& text) { return WaitUntil([&] { return LogHas(text); }); }
    std::string Panel(int i) const { return form->sb->Text(i).toStdString(); }
    bool WaitOnline() {
        return WaitUntil([&] { return Panel(3) == "ONLINE"; }) && form->btnReadModules->isEnabled();
    }
    bool WaitOffline() {
        return WaitUntil([&] { return Panel(3) == "OFFLINE"; }) && !form->btnReadModules->isEnabled();
    }
    void DoubleClick(QTreeWidgetItem* row) { emit form->lvMeters->itemDoubleClicked(row, 0); }
};

TEST_F(ReadingEndToEnd, ReadingsFromTickToUntick) {
    // No rows: refused, no worker, the port stays free.
    EXPECT_EQ(Boxes([&] { Tick(true); }), kNoFile);
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_FALSE(form->Readings().Running());
    EXPECT_FALSE(com3->isHeld());

    AddRow("1", "0x1a2b");
    QTreeWidgetItem* row = AddRow("10", "0xa0b0c0d");
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), kNotActive);
    EXPECT_EQ(Boxes([&] { Tick(true); }), "");
    EXPECT_TRUE(form->Readings().Running());
    EXPECT_TRUE(std::regex_match(form->st_Spusteno->text().toStdString(), kDated));
    EXPECT_TRUE(std::regex_search(TodaysLog(), std::regex(R"(\d\d:\d\d:\d\d : Odecty spusteny \.\.\.\. \n)")));
    EXPECT_TRUE(std::regex_search(TodaysLog(), std::regex(R"(\d\d:\d\d:\d\d : GW pridana->COM3\n)")));
    ASSERT_TRUE(com3->waitHeld());
    ASSERT_TRUE(WaitOnline());
    EXPECT_EQ(form->GatewayRfAddress(), "0x01020304");

    // "Odečíst moduly": three requests to all modules, then the window closes.
    form->btnReadModules->click();
    EXPECT_FALSE(info->isVisible());
    EXPECT_EQ(info->pb->value(), 0);
    ASSERT_TRUE(WaitUntil([&] { return RfFrames(*com3).size() >= 3; }));
    EXPECT_EQ(RfFrames(*com3),
              (std::vector<Bytes> {
                  kRequestFrame + Bytes {0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x07, 0x00, 0x01, 0x02, 0x15, 0xC0},
                  kRequestFrame + Bytes {0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x07, 0x00, 0x02, 0x02, 0xA2, 0xC0},
                  kRequestFrame + Bytes {0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x07, 0x00, 0x03, 0x02, 0xCF, 0xC0},
              }));

    // A double-click asks the row's module.
    EXPECT_EQ(Boxes([&] { DoubleClick(row); }), "");
    ASSERT_TRUE(WaitUntil([&] { return RfFrames(*com3).size() >= 4; }));
    EXPECT_EQ(RfFrames(*com3)[3],
              (kRequestFrame + Bytes {0x0A, 0x0B, 0x0C, 0x0D, 0x01, 0x02, 0x03, 0x04, 0x07, 0x00, 0x04, 0x02, 0x3B, 0xC0}));

    // The module answers: acknowledged, and its row shows the count.
    ASSERT_TRUE(com3->sendRfPacket(SensorPacket(0x15, 1234)));
    ASSERT_TRUE(WaitUntil([&] { return row->text(9) == QStringLiteral("1234"); }));
    EXPECT_TRUE(std::regex_match(row->text(8).toStdString(), kDated));
    EXPECT_EQ(form->lvMeters->topLevelItem(0)->text(9), QString());
    ASSERT_TRUE(WaitUntil([&] { return com3->rfSends().size() >= 5; }));
    EXPECT_EQ(com3->rfSends()[4].packet, (Bytes {0x0A, 0x0B, 0x0C, 0x0D, 0x01, 0x02, 0x03, 0x04, 0x22, 0x00, 0x95}));

    // Debug: the worker's detail lines reach the log.
    form->m_Debug->trigger();
    EXPECT_EQ(debugLevel, 3);
    ASSERT_TRUE(WaitLog(" :  fire timer COM3 tid "));

    // "Pouze na obrazovku": the reading is logged, its row stays.
    form->mPouzenaobrazovku->setEnabled(true);
    form->mPouzenaobrazovku->trigger();
    ASSERT_TRUE(com3->sendRfPacket(SensorPacket(0x16, 1300)));
    ASSERT_TRUE(WaitLog(" : Addr 0xa0b0c0d , Index 1 ,hodnota 1300 tid "));
    QCoreApplication::processEvents();
    EXPECT_EQ(row->text(9), QStringLiteral("1234"));
    form->mPouzenaobrazovku->trigger();
    form->m_Debug->trigger();
    EXPECT_EQ(debugLevel, 0);

    // The gateway takes another address: the next request comes from it.
    com3->setSettings({0x05060708, 2, 0, 0});
    ASSERT_TRUE(WaitUntil([&] { return form->GatewayRfAddress() == "0x05060708"; }));
    const std::size_t before = RfFrames(*com3).size();
    DoubleClick(row);
    ASSERT_TRUE(WaitUntil([&] { return RfFrames(*com3).size() > before; }));
    EXPECT_EQ(RfFrames(*com3)[before],
              (kRequestFrame + Bytes {0x0A, 0x0B, 0x0C, 0x0D, 0x05, 0x06, 0x07, 0x08, 0x07, 0x00, 0x05, 0x02, 0x13, 0xC0}));

    // Another port chosen: the readings stop, the new name is shown and stored.
    standin::GatewayStandin com7(devices, "COM7");
    WhenModal([](QWidget* modal) {
        auto* dialog = static_cast<Tfselectserial*>(modal);
        dialog->ComboBox1->setCurrentIndex(dialog->ComboBox1->findText(QStringLiteral("COM7")));
        dialog->Button1->click();
    });
    form->Nastavitkomunikaci1->trigger();
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_FALSE(form->Readings().Running());
    EXPECT_EQ(Panel(2), "COM7");
    EXPECT_NE(ReadFile(store).find("usbCom=COM7\n"), std::string::npos);
    EXPECT_TRUE(WaitUntil([&] { return !com3->isHeld(); }));
    EXPECT_TRUE(WaitOffline()) << "the OFFLINE of a worker that is gone";

    // On the new port, and unticked: stopped, OFFLINE, the port released.
    Tick(true);
    EXPECT_TRUE(LogHas(" : GW pridana->COM7\n"));
    ASSERT_TRUE(com7.waitHeld());
    ASSERT_TRUE(WaitOnline());
    Tick(false);
    EXPECT_FALSE(form->Readings().Running());
    const std::string log = TodaysLog();
    const std::regex stopped(" : Stradel zastaven \\.{4} \n");
    EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), stopped), std::sregex_iterator()), 2);
    EXPECT_TRUE(WaitOffline());
    EXPECT_TRUE(WaitUntil([&] { return !com7.isHeld(); }));
    EXPECT_EQ(form->GatewayRfAddress(), "0x01020304") << "a lost gateway keeps the address shown";

    const std::size_t sent = com7.frames().size();
    EXPECT_EQ(Boxes([&] { DoubleClick(row); }), kNotActive);
    QCoreApplication::processEvents();
    EXPECT_EQ(com7.frames().size(), sent);
}

// A machine device chosen by its path; while the readings run on it, the
// dialog lists it and has it selected, though the scan leaves a held port
// out.
TEST_F(ReadingEndToEnd, ThePortInUseIsListedAndSelected) {
    standin::GatewayStandin usb(machine, "ttyUSB0");
    const std::string path = machine + "/ttyUSB0";
    const auto choose = [](const std::string& port) {
        WhenModal([port](QWidget* modal) {
            auto* dialog = static_cast<Tfselectserial*>(modal);
            dialog->ComboBox1->setCurrentIndex(dialog->ComboBox1->findText(QString::fromStdString(port)));
            dialog->Button1->click();
        });
    };
    choose(path);
    form->Nastavitkomunikaci1->trigger();
    EXPECT_EQ(Panel(2), path);
    EXPECT_NE(ReadFile(store).find("usbCom=" + path + "\n"), std::string::npos);

    AddRow("10", "0xa0b0c0d");
    Tick(true);
    ASSERT_TRUE(usb.waitHeld());
    ASSERT_TRUE(WaitOnline());
    std::vector<std::string> listed;
    std::string selected;
    WhenModal([&](QWidget* modal) {
        auto* dialog = static_cast<Tfselectserial*>(modal);
        for (int i = 0; i < dialog->ComboBox1->count(); ++i)
            listed.push_back(dialog->ComboBox1->itemText(i).toStdString());
        selected = dialog->ChosenPort();
        dialog->Button2->click();
    });
    form->Nastavitkomunikaci1->trigger();
    EXPECT_EQ(listed, (std::vector<std::string> {"COM3", path}));
    EXPECT_EQ(selected, path);
    EXPECT_TRUE(form->cb_aktodecty->isChecked()) << "Zavřít leaves the readings running";
    Tick(false);
    EXPECT_TRUE(WaitUntil([&] { return !usb.isHeld(); }));
}

// A port that is not there: one line with the reason, OFFLINE, no box;
// the link keeps trying and comes online once the port is there.
TEST_F(ReadingEndToEnd, APortThatIsNotThereSaysWhyAndShowsOffline) {
    form->ApplyComPort("COM1");
    AddRow("10", "0xa0b0c0d");
    const std::string line = "COM COM1 nelze otevrit: " + std::string(std::strerror(ENOENT));
    EXPECT_EQ(Boxes([&] {
                  Tick(true);
                  ASSERT_TRUE(WaitOffline());
                  ASSERT_TRUE(WaitLog(line));
              }),
              "");
    EXPECT_TRUE(LogHas(" : GW pridana->COM1\n"));
    standin::GatewayStandin com1(devices, "COM1");
    ASSERT_TRUE(WaitOnline());
    const std::string log = TodaysLog();
    std::size_t lines = 0;
    for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++lines;
    EXPECT_EQ(lines, 1u) << log;
    Tick(false);
}

TEST_F(ReadingEndToEnd, OkInTheClosingQuestionStopsTheReadingsUnderTraffic) {
    QTreeWidgetItem* row = AddRow("10", "0xa0b0c0d");
    form->debugMode = 3;  // a log line from the link for every step
    form->show();  // with the once-a-second refresh
    Tick(true);
    ASSERT_TRUE(com3->waitHeld());
    ASSERT_TRUE(WaitOnline());
    com3->startFlood([](std::uint64_t n) {
        return standin::octetsRecord(119, 1, SensorPacket(static_cast<std::uint8_t>(n & 0x7F),
                                                          static_cast<std::uint32_t>(n + 1)));
    });
    ASSERT_TRUE(WaitUntil([&] { return !row->text(9).isEmpty(); }));

    ScopedEnv ok("ORVELO_DIALOG_ANSWER", std::string("ok"));
    bool closed = false;
    EXPECT_EQ(Boxes([&] { closed = form->close(); }),
              "Potvrzení|Přejete si zcela ukončit odečty ?\\nStiskněte Cancel pro minimalizaci.\n");
    EXPECT_TRUE(closed);
    EXPECT_FALSE(form->Readings().Running());
    EXPECT_FALSE(com3->isHeld()) << "the port is released before the window goes";
    com3->stopFlood();
    const QString last = row->text(9);
    QCoreApplication::processEvents();
    EXPECT_EQ(row->text(9), last) << "no reading reaches the closing window";
    EXPECT_EQ(Panel(3), "ONLINE") << "nor the OFFLINE of the worker's end";
    EXPECT_FALSE(form->refreshThread->Running());
    EXPECT_FALSE(form->PostRowUpdate({"0xa0b0c0d=1", {}, 5}));
    EXPECT_FALSE(form->PostGatewayState({false, std::nullopt, true}));
    const std::string log = TodaysLog();
    const std::size_t end = log.find(" : Program ukoncen...\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_NE(log.find(" : Stradel zastaven .... \n", end), std::string::npos);
}

TEST_F(ReadingEndToEnd, AGatewayThatHangsUpIsRetriedAndRequestsNobodyTakesAreDropped) {
    QTreeWidgetItem* row = AddRow("1", "0x1a2b");
    Tick(true);
    ASSERT_TRUE(com3->waitHeld());
    ASSERT_TRUE(WaitOnline());
    com3->hangUp();
    ASSERT_TRUE(WaitOffline()) << "the silent gateway is reported lost";
    EXPECT_TRUE(form->Readings().Running());
    EXPECT_EQ(form->GatewayRfAddress(), "0x01020304");
    EXPECT_EQ(Boxes([&] { DoubleClick(row); }),
              "Informace|Odečítací gateway není připojena nebo není online.\\n"
              "Zkontrolujte připojení gatewaye a nastavení komunikačního portu\n");

    // No interface has that address now: each request is dropped and its
    // buffer goes back, so the pool does not grow with the requests.
    const int made = msgBoxPoolMade();
    for (int i = 0; i < 1000; ++i) EXPECT_TRUE(form->SendReadRequest(3000));
    EXPECT_LE(msgBoxPoolMade(), made + 2);
    EXPECT_TRUE(WaitUntil([] { return msgBoxPoolFreeCount() == msgBoxPoolMade(); }));

    // Rows gone while running: "Odečíst moduly" unticks the readings.
    com3->comeBack();
    ASSERT_TRUE(com3->waitHeld());
    EXPECT_TRUE(WaitOnline());
    form->lvMeters->clear();
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), kNoFile);
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_TRUE(WaitOffline());
}

}  // namespace
