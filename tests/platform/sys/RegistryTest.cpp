#include "platform/sys/Registry.h"
#include "tests/tools/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

using plat::TRegistryStore;
using testsupport::ReadFile;
using testsupport::WriteFile;

// Reading, and a missing store: ConfigTest, through the configuration.

// A write keeps every other line in its order with its line end; a missing
// final newline stays missing unless a line is added; names and values that
// would break the lines are refused and change nothing.
TEST(RegistryStore, WritingKeepsEveryOtherLineInItsOrderAndTheFilesMode) {
    testsupport::TempDir dir;
    const std::string path = dir.File("registry");
    const struct {
        const char *before, *name, *value, *after;
    } cases[] = {
        {"progdir=/opt\r\n; comment\nnot a value\nUSBCOM=COM1\r\noffline=n\n", "usbCom", "COM7",
         "progdir=/opt\r\n; comment\nnot a value\nUSBCOM=COM7\r\noffline=n\n"},
        {"progdir=/opt\r\nUSBCOM=COM7\r\n", "dbname", "odecty", "progdir=/opt\r\nUSBCOM=COM7\r\ndbname=odecty\n"},
        {"a=1\nusbCom=COM1", "usbCom", "COM2", "a=1\nusbCom=COM2"},
        {"a=1\nusbCom=COM2", "b", "2", "a=1\nusbCom=COM2\nb=2\n"},
        {"usbCom=COM1\n", "usbCom", "COM1\nofflne=n", nullptr},
        {"usbCom=COM1\n", "a=b", "x", nullptr},
        {"usbCom=COM1\n", "", "x", nullptr},
    };
    for (const auto& c : cases) {
        WriteFile(path, c.before);
        TRegistryStore store(path);
        ASSERT_TRUE(store.OpenKey());
        EXPECT_EQ(store.WriteString(c.name, c.value), c.after != nullptr) << c.name;
        EXPECT_EQ(ReadFile(path), c.after ? c.after : c.before) << c.name;
        if (c.after) {
            EXPECT_EQ(store.ReadString(c.name), c.value);
        }
    }

    // The file is replaced whole, with its mode.
    WriteFile(path, "usbCom=COM1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    TRegistryStore store(path);
    ASSERT_TRUE(store.OpenKey());
    ASSERT_TRUE(store.WriteString("usbCom", "COM4"));
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);  // renamed over, not rewritten in place
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    const std::filesystem::directory_iterator files(dir.Path());
    EXPECT_EQ(std::distance(files, std::filesystem::directory_iterator()), 1);  // no temporary left behind
}
