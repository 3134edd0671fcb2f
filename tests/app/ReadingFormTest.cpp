// The reading control in the main window, with a worker that records what
// would go to the gateway: the guards of "Odečíst moduly" and the
// double-click, the gateway state handed over, and the dialogs opened from
// the window's commands. The readings end to end are ReadingEndToEndTest's.
#include "app/F1.h"
#include "app/Winfo.h"
#include "app/Wnulove.h"
#include "app/Wprovozni.h"
#include "app/Wselectserial.h"
#include "app/about.h"
#include "platform/qt/StatusBar.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/RecordingWorker.h"

#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <thread>

namespace {

using apptest::Boxes;
using apptest::Bytes;
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

TEST_F(ReadingFormTest, ReadModulesGuards) {
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), kNoFile);
    AddRow("1", "0x1a2b");
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), kNotActive);
    Tick(true);
    // Rows gone while running: the first guard unticks the readings.
    form->lvMeters->clear();
    EXPECT_EQ(Boxes([&] { form->btnReadModulesClick(); }), kNoFile);
    EXPECT_FALSE(form->cb_aktodecty->isChecked());
    EXPECT_EQ(workers.alive, 0);
    EXPECT_TRUE(workers.sent.empty());
}

// The gateway's state comes from a link thread as a copy through the
// hand-off (an OFFLINE after the worker is gone: ReadingEndToEnd).
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
    EXPECT_EQ(workers.sent.size(), 1u);
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
