#include "platform/qt/Application.h"
#include "platform/qt/Clipboard.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/HandOff.h"
#include "platform/qt/StatusBar.h"
#include "platform/qt/TrayIcon.h"
#include "tests/tools/support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace plat;
using testsupport::ScopedEnv;

namespace {

// Never destroyed: Qt's own globals, which a shown window sets up after the
// application object, go before it at exit and would be used by its end.
TApplication& App() {
    static int argc = 1;
    static char name[] = "test_platform_qt";
    static char* argv[] = {name, nullptr};
    static TApplication* app = new TApplication(argc, argv);
    return *app;
}

class QtTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    ScopedEnv dialogs {"ORVELO_DIALOGS", std::string("auto")};
    ScopedEnv answer {"ORVELO_DIALOG_ANSWER", std::nullopt};
};

class Thrower : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw std::runtime_error("Soubor chybí");
        return QObject::event(e);
    }
};

}  // namespace

// What a box prints: every window test compares it.
// An answer the box has no button for gives its default button (the
// answers a box has: the window tests).
TEST_F(QtTest, AnAnswerWithoutItsButtonGivesTheDefault) {
    ScopedEnv cancel("ORVELO_DIALOG_ANSWER", std::string("cancel"));
    for (auto [buttons, answer] : {std::pair<unsigned, int>{mbYes | mbNo, mrYes}, {mbOK, mrOk}})
        EXPECT_EQ(MessageDlg("?", TMsgDlgType::Confirmation, buttons), answer);
}

TEST_F(QtTest, AnExceptionInAnEventHandlerBecomesTheErrorBox) {
    Thrower target;
    QEvent event(QEvent::User);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(QCoreApplication::sendEvent(&target, &event));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Orvelo|Soubor chybí.\n");
    // The loop goes on: the next event is delivered as usual.
    QEvent other(QEvent::None);
    EXPECT_NO_THROW(QCoreApplication::sendEvent(&target, &other));
}

TEST_F(QtTest, HandOffNeverMakesTheSenderWaitAndDropsWhatIsPendingWhenClosed) {
    std::vector<int> seen;
    std::vector<bool> onUiThread;
    THandOff<int> queue([&](const int& v) {
        seen.push_back(v);
        onUiThread.push_back(QThread::currentThread() == App().thread());
    });
    // The UI thread does not run its loop while the sender posts: the sender
    // must come back anyway.
    std::thread sender([&] {
        for (int i = 0; i < 1000; ++i) queue.Post(i);
    });
    sender.join();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(queue.Pending(), 1000u);
    QCoreApplication::processEvents();
    ASSERT_EQ(seen.size(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(seen[i], i);
    EXPECT_EQ(std::count(onUiThread.begin(), onUiThread.end(), false), 0);

    // Closed, it drops what is pending and refuses more; it holds its own
    // copies.
    std::vector<std::string> texts;
    THandOff<std::string> strings([&](const std::string& v) { texts.push_back(v); });
    std::string text = "první";
    EXPECT_TRUE(strings.Post(text));
    text = "změněno";
    QCoreApplication::processEvents();
    EXPECT_EQ(texts, std::vector<std::string>{"první"});
    EXPECT_TRUE(strings.Post("druhý"));
    strings.Close();
    EXPECT_EQ(strings.Pending(), 0u);
    EXPECT_FALSE(strings.Post("třetí"));
    QCoreApplication::processEvents();
    EXPECT_EQ(texts.size(), 1u);
}

// The UI thread drains while the sender still posts; the ThreadSanitizer
// run of scripts/test checks what crosses between them.
TEST_F(QtTest, HandOffDrainsWhileTheSenderPosts) {
    std::vector<int> seen, sent;
    std::atomic<bool> done {false};
    THandOff<int> queue([&](const int& v) { seen.push_back(v); });
    std::thread sender([&] {
        for (int i = 0; i < 3000; ++i) {
            if (queue.Post(i)) sent.push_back(i);
            if (i % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    sender.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, sent);
}

// The panels' places are the main window's look (the screenshot).
TEST_F(QtTest, StatusBarRefusesAPanelItDoesNotHave) {
    TStatusBar bar;
    bar.AddPanel(120);
    EXPECT_THROW(bar.SetText(1, "x"), std::out_of_range);
}

// A menu item ticks only when its handler says so: the end-to-end readings
// switch the debug level with the main window's item.
TEST_F(QtTest, WithANotificationAreaAMinimisedWindowLeavesTheTaskbar) {
    QWidget window;
    window.show();
    TTrayIcon tray(&window, true);
    ASSERT_TRUE(tray.Available());
    window.showMinimized();  // the window's own minimise box
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.isVisible());
    tray.Restore();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    tray.MinimizeToTray();  // Cancel in the closing question
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.isVisible());
    tray.Restore();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(ProgramIcon().isNull());
}

// The block and the text go together and come back as they went; a
// later copy of text alone drops the block.
TEST_F(QtTest, ClipboardKeepsBlockAndTextTogether) {
    TQtClipboard board;
    const std::vector<std::uint8_t> block{0xD0, 0xCF, 0, 0x11};
    board.PutBlock("Biff8", block, u"1\tžluť\r\n");
    EXPECT_TRUE(board.HasBlock("Biff8") && board.HasText() && !board.HasBlock("Other"));
    EXPECT_EQ(board.GetBlock("Biff8"), block);
    EXPECT_EQ(board.GetText(), u"1\tžluť\r\n");
    QGuiApplication::clipboard()->setText(QStringLiteral("plain"));
    EXPECT_FALSE(board.HasBlock("Biff8"));
    EXPECT_EQ(board.GetText(), u"plain");
}
