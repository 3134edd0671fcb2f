#include "app/Tmyconfig.h"
#include "tests/tools/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const char* const kStore =
    "ProgDir=/opt/orvelo\n"
    "LOGDIR=/var/log/orvelo\r\n"
    "importdir=/srv/import\n"
    "prgdata=/srv/data\n"
    "[poznámka bez hodnoty]\n"
    "# usbcom=COM0\n"
    "usbcom=COM3\n"
    "usbCom=COM9\n"
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

// Names in any case, the first line of a name, comments and line ends left
// out; a value is everything after the first '='; master mode only for "n"
// or "N".
TEST_F(ConfigTest, ReadsEveryValueWhateverTheCaseOfItsName) {
    const struct {
        std::string store, logdir, usbCom, dbpass;
        int offline;
    } cases[] = {
        {kStore, "/var/log/orvelo", "COM3", "tajné=heslo", 0}, {"usbCom=COM1\n", "", "COM1", "", 1},
        {"offline=N\n", "", "", "", 0}, {"offline=no\n", "", "", "", 1}, {"offline= n\n", "", "", "", 1},
        {"offline=\n", "", "", "", 1},
    };
    for (const auto& c : cases) {
        auto config = Loaded(c.store);
        const TAllConf& conf = *config->Conf();
        EXPECT_EQ(std::tie(conf.dir.logdir, conf.dir.usbCom, conf.db.dbpass, conf.main.offline),
                  std::tie(c.logdir, c.usbCom, c.dbpass, c.offline)) << c.store;
    }
}

// The store is opened again for every read and write; a missing one is
// never created, nor is a folder read as one.
TEST_F(ConfigTest, AMissingStoreFailsTheLoadAndEveryAccessOpensItAgain) {
    TMyConfig missing("x", dir.File("none"));
    EXPECT_FALSE(missing.Load());
    missing.SetDefaults();  // no record: nothing to do
    EXPECT_FALSE(TMyConfig("x", dir.Path()).Load());

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
