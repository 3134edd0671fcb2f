#include "platform/qt/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

using namespace plat;

// The block and the text go together and come back as they went; a
// later copy of text alone drops the block.
TEST(QtClipboard, KeepsBlockAndTextTogether) {
    static int argc = 1;
    static char name[] = "test_platform_qt";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QGuiApplication(argc, argv);
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
