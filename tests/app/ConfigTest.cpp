#include "app/Tmyconfig.h"
#include "tests/tools/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const char* const kStore =
    "ProgDir=/opt/orvelo\n"
    "LOGDIR=/var/log/orvelo\n"
    "importdir=/srv/import\n"
    "prgdata=/srv/data\n"
    "[poznámka bez hodnoty]\n"
    "usbcom=COM3\n"
    "dbodbcname=odecty\n"
    "dbname=uzivatel\n"
    "dbpass=tajné=heslo\n"
    "dbstring=SQLOLEDB.1\n"
    "dbdefaultdb=pravik\n"
    "dbcommandtimeout=45\n"
    "offline=n\n";

class ConfigTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string store = dir.File("registry");

    std::unique_ptr<TMyConfig> Loaded(const std::string& text) {
        WriteFile(store, text);
        auto config = std::make_unique<TMyConfig>("/opt/orvelo/orvelo", store);
        EXPECT_TRUE(config->Load());
        return config;
    }
};

}  // namespace

TEST_F(ConfigTest, ReadsEveryValueWhateverTheCaseOfItsName) {
    auto config = Loaded(kStore);
    const TAllConf& c = *config->Conf();
    EXPECT_EQ(c.dir.logdir, "/var/log/orvelo");
    EXPECT_EQ(c.dir.usbCom, "COM3");
    EXPECT_EQ(c.db.dbpass, "tajné=heslo");  // everything after the first '='
    EXPECT_EQ(c.main.offline, 0);
}

TEST_F(ConfigTest, MissingValuesReadEmptyAndGiveClientMode) {
    auto config = Loaded("usbCom=COM1\n");
    const TAllConf& c = *config->Conf();
    EXPECT_EQ(c.dir.logdir, "");
    EXPECT_EQ(c.main.offline, 1);
}

TEST_F(ConfigTest, OfflineNamesMasterModeOnlyWithNOrBigN) {
    for (auto [value, flag] : {std::pair{"n", 0}, {"N", 0}, {"no", 1}, {"", 1}, {"y", 1}, {" n", 1}})
        EXPECT_EQ(Loaded(std::string("offline=") + value + "\n")->Conf()->main.offline, flag) << value;
}

TEST_F(ConfigTest, DefaultsResetDebugAndTheLineCap) {
    auto config = Loaded(kStore);
    TAllConf& c = *config->Conf();
    EXPECT_EQ(c.maxLogLines, 0);
    c.debug = 3;
    c.maxLogLines = 7;
    config->SetDefaults();
    EXPECT_EQ(c.debug, 0);
    EXPECT_EQ(c.maxLogLines, 500);
    EXPECT_EQ(c.dir.usbCom, "COM3");  // what was read stays
}

// The store is opened again for every read and write, and never created.
TEST_F(ConfigTest, AMissingStoreFailsTheLoadAndEveryAccessOpensItAgain) {
    TMyConfig missing("x", dir.File("none"));
    EXPECT_FALSE(missing.Load());
    EXPECT_EQ(missing.Conf(), nullptr);
    missing.SetDefaults();  // no record: nothing to do

    auto config = Loaded(kStore);
    WriteFile(store, "usbCom=COM8\n");
    EXPECT_EQ(config->ReadRegString("USBCOM"), "COM8");
    std::filesystem::remove(store);
    EXPECT_EQ(config->ReadRegString("usbCom"), "");
    EXPECT_FALSE(config->WriteRegString("usbCom", "COM1"));
    EXPECT_FALSE(testsupport::FileExists(store));
}

TEST_F(ConfigTest, OnlyTheComPortIsWrittenBack) {
    auto config = Loaded(kStore);
    config->Conf()->dir.usbCom = "COM12";
    config->Conf()->dir.logdir = "/jinam";
    EXPECT_EQ(config->SaveUsbCom(), 0);
    std::string expected = kStore;
    expected.replace(expected.find("usbcom=COM3"), 11, "usbcom=COM12");
    EXPECT_EQ(ReadFile(store), expected);
}

TEST_F(ConfigTest, TheLogFileIsNamedByItsDay) {
    auto config = Loaded("logdir=/var/log/orvelo\n");
    EXPECT_EQ(config->LogFilePath(plat::TDateTimeParts {2026, 3, 1, 23, 59, 59, 999}),
              "/var/log/orvelo/imlog010326.txt");
    EXPECT_EQ(config->LogFilePath(plat::TDateTimeParts {2026, 12, 5, 20, 4, 39, 0}),
              "/var/log/orvelo/imlog051226.txt");
}

