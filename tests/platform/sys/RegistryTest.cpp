#include "platform/sys/Registry.h"
#include "tests/tools/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

using plat::TRegistryStore;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class RegistryStoreTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string path = dir.File("registry");
};

}  // namespace

TEST_F(RegistryStoreTest, ReadsValuesWhateverTheCaseOfTheirNames) {
    WriteFile(path, "LOGDIR=/var/log/x\r\nusbcom=COM3\nempty=\n# note=not a value\njunk line\n"
                    "dbpass=a=b\nusbCom=COM9\n");
    TRegistryStore store(path);
    ASSERT_TRUE(store.OpenKey());
    EXPECT_EQ(store.ReadString("logdir"), "/var/log/x");
    EXPECT_EQ(store.ReadString("usbCom"), "COM3");  // the first line of that name
    EXPECT_EQ(store.ReadString("dbpass"), "a=b");
    EXPECT_EQ(store.ReadValue("empty"), std::optional<std::string>(""));
    EXPECT_EQ(store.ReadValue("missing"), std::nullopt);
    EXPECT_EQ(store.ReadString("missing"), "");
    EXPECT_EQ(store.ReadValue("# note"), std::nullopt);
    EXPECT_EQ(store.ReadValue("junk line"), std::nullopt);
}

TEST_F(RegistryStoreTest, AMissingOrUnreadableStoreDoesNotOpenAndIsNeverCreated) {
    TRegistryStore missing(path);
    EXPECT_FALSE(missing.OpenKey());
    EXPECT_FALSE(missing.WriteString("usbCom", "COM1"));
    EXPECT_FALSE(testsupport::FileExists(path));

    std::filesystem::create_directory(path);
    TRegistryStore folder(path);
    EXPECT_FALSE(folder.OpenKey());
}

TEST_F(RegistryStoreTest, WritingKeepsEveryOtherLineInItsOrder) {
    const std::string before = "progdir=/opt\r\n; comment\nnot a value\nUSBCOM=COM1\r\noffline=n\n";
    WriteFile(path, before);
    TRegistryStore store(path);
    ASSERT_TRUE(store.OpenKey());
    ASSERT_TRUE(store.WriteString("usbCom", "COM7"));
    EXPECT_EQ(ReadFile(path), "progdir=/opt\r\n; comment\nnot a value\nUSBCOM=COM7\r\noffline=n\n");
    EXPECT_EQ(store.ReadString("usbcom"), "COM7");

    ASSERT_TRUE(store.WriteString("dbname", "odecty"));
    EXPECT_EQ(ReadFile(path),
              "progdir=/opt\r\n; comment\nnot a value\nUSBCOM=COM7\r\noffline=n\ndbname=odecty\n");
}

TEST_F(RegistryStoreTest, AFileWithoutFinalNewlineStaysSoUnlessALineIsAdded) {
    WriteFile(path, "a=1\nusbCom=COM1");
    TRegistryStore store(path);
    ASSERT_TRUE(store.OpenKey());
    ASSERT_TRUE(store.WriteString("usbCom", "COM2"));
    EXPECT_EQ(ReadFile(path), "a=1\nusbCom=COM2");
    ASSERT_TRUE(store.WriteString("b", "2"));
    EXPECT_EQ(ReadFile(path), "a=1\nusbCom=COM2\nb=2\n");
}

TEST_F(RegistryStoreTest, WritingReplacesTheFileWholeAndKeepsItsMode) {
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
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);  // no temporary left behind
}

TEST_F(RegistryStoreTest, RefusesNamesAndValuesThatWouldBreakTheLines) {
    WriteFile(path, "usbCom=COM1\n");
    TRegistryStore store(path);
    ASSERT_TRUE(store.OpenKey());
    EXPECT_FALSE(store.WriteString("usbCom", "COM1\nofflne=n"));
    EXPECT_FALSE(store.WriteString("a=b", "x"));
    EXPECT_FALSE(store.WriteString("", "x"));
    EXPECT_EQ(ReadFile(path), "usbCom=COM1\n");
}
