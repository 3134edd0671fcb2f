// The progress window of "Odečíst moduly" driven by a hand-ticked source.
#include "app/Winfo.h"
#include "tests/app/DialogTestSupport.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

namespace {

using dialogtest::ManualTicks;

class InfoTest : public ::testing::Test {
protected:
    ManualTicks* ticks = new ManualTicks;
    std::unique_ptr<Tfinfo> window;
    std::vector<int> sent;
    std::vector<int> positions;

    void SetUp() override {
        dialogtest::EnsureApp();
        window = std::make_unique<Tfinfo>(nullptr, std::unique_ptr<TTickSource>(ticks));
        window->sendReadRequest = [this](int parameter) {
            sent.push_back(parameter);
            positions.push_back(window->pb->value() + 1);
        };
    }
    void Fire(int n) {
        for (int i = 0; i < n; ++i) ticks->Fire();
    }
};

TEST(InfoWindow, AsStoredWithTheProgramsInterval) {
    dialogtest::EnsureApp();
    Tfinfo info;
    EXPECT_EQ(info.windowTitle(), QStringLiteral("Info"));
    EXPECT_EQ(info.size(), QSize(372, 96));
    EXPECT_FALSE(info.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(info.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    EXPECT_EQ(info.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("Vyčkejte, probíhá zpracování dat ..."));
    QProgressBar* pb = info.findChild<QProgressBar*>(QStringLiteral("pb"));
    ASSERT_NE(pb, nullptr);
    EXPECT_EQ(pb->minimum(), 0);
    EXPECT_EQ(pb->maximum(), 4);
    EXPECT_EQ(pb->value(), 0);
    EXPECT_EQ(info.RequestCount(), 3);
    EXPECT_EQ(info.timer().Interval(), 5000);
    EXPECT_FALSE(info.timer().Active()) << "disabled until shown";
    info.show();
    EXPECT_TRUE(info.timer().Active());
    EXPECT_TRUE(info.findChild<QTimer*>(QStringLiteral("timer"))->isActive());
    info.reject();
    EXPECT_FALSE(info.timer().Active());
    EXPECT_TRUE(dialogtest::SaveShot(&info, "Tfinfo"));
}

TEST_F(InfoTest, FiveTicksSendThreeRequestsAndClose) {
    window->show();
    Fire(3);
    EXPECT_EQ(sent, (std::vector<int> {3000, 3000, 3000}));
    EXPECT_EQ(window->pb->value(), 3);
    Fire(1);
    EXPECT_EQ(sent.size(), 3u) << "the fourth tick sends nothing";
    EXPECT_TRUE(window->isVisible());
    Fire(1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_EQ(window->pb->value(), 0);
    EXPECT_FALSE(ticks->Active());
    EXPECT_EQ(positions, (std::vector<int> {1, 2, 3}));
}

TEST_F(InfoTest, EveryShowingSendsThreeAgain) {
    window->show();
    Fire(5);
    window->show();
    EXPECT_TRUE(ticks->Active());
    Fire(5);
    EXPECT_EQ(sent.size(), 6u);
    EXPECT_EQ(ticks->starts, 2);
}

TEST_F(InfoTest, AnEarlyCloseStartsTheCountOver) {
    window->show();
    Fire(2);
    window->reject();  // Escape
    EXPECT_FALSE(ticks->Active());
    EXPECT_EQ(window->pb->value(), 0);
    window->show();
    Fire(1);
    EXPECT_EQ(window->pb->value(), 1);
    window->close();  // the window's close
    EXPECT_FALSE(ticks->Active());
    window->show();
    Fire(5);
    EXPECT_EQ(sent.size(), 2u + 1u + 3u);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(InfoTest, ModalShowingSendsAndReturns) {
    QTimer::singleShot(0, [this] { Fire(5); });
    EXPECT_EQ(window->exec(), QDialog::Accepted);
    EXPECT_EQ(sent.size(), 3u);
}

}  // namespace
