// The program's settings: read from the configuration store into one
// record, completed by built-in defaults; only the COM port is ever written
// back.
#pragma once

#include "app/Tmeridlacheck.h"
#include "platform/sys/Registry.h"
#include "platform/sys/SysUtils.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TDirConf {
    std::string progdir;
    std::string logdir;
    std::string importdir;
    std::string prgdata;
    std::string usbCom;
};

struct TDBconf {
    std::string dbodbcname;
    std::string dbname;
    std::string dbpass;
    std::string dbstring;
    std::string dbdefaultdb;
    int dbcommandtimeout = 0;
};

// Kept as the program has always carried it; nothing reads it.
struct TMailConfig {
    std::string senderAddress;
    std::string recipientAddress;
    std::string mailServer;
    std::string accountUser;
    std::string accountPassword;
    std::string subject;
    int mailFlags = 0;
};

struct TMainConf {
    int mainNumber = 0;
    int intervalMs = 0;
    float limitLow = 0;
    float limitHigh = 0;
    std::uint8_t autostart = 0;
    std::string text1, text2, text3, text4;
    std::uint8_t offline = 0;  // 1: client mode, 0: master mode
};

struct TAllConf {
    // Written on the UI thread, read by the threads that log readings.
    std::atomic<int> debug {0};
    int maxLogLines = 0;
    TDirConf dir;
    TDBconf db;
    TMailConfig mail;
    TMainConf main;
};

class TMyConfig {
public:
    explicit TMyConfig(std::string programFileName = plat::ProgramFileName(),
                       std::string storePath = plat::TRegistryStore::DefaultPath());
    virtual ~TMyConfig();

    // True when the store was opened and read.
    bool Load();
    bool ReadAll();
    // Opens the store for this one read; empty when it cannot be opened or
    // the value is missing.
    std::string ReadRegString(const std::string& name);
    // False when the store cannot be opened (it is never created).
    bool WriteRegString(const std::string& name, const std::string& value);
    int SaveUsbCom();
    void SetDefaults();

    // The daily log file of the given day ("imlog" + ddmmyy + ".txt").
    std::string LogFilePath(const plat::TDateTimeParts& day) const;
    std::string LogFilePath() const { return LogFilePath(plat::Now()); }

    bool IsWow64() const;
    void LoadEnvironment();

    // Null until the first successful load.
    TAllConf* Conf() { return conf_.get(); }
    const TAllConf* Conf() const { return conf_.get(); }
    const std::vector<std::string>& Environment() const { return environment_; }
    const std::string& ProgramFile() const { return programFile_; }

    // The meter dialog's two type lists; nothing in the program fills them.
    std::vector<TTypeEntry> mediaTypes;
    std::vector<TTypeEntry> meterTypes;

private:
    std::string storePath_;
    std::unique_ptr<plat::TRegistryStore> reg_;
    std::unique_ptr<TAllConf> conf_;
    bool isWow64_ = false;
    std::vector<std::string> environment_;
    std::string programFile_;
};

// Whether the offline value selects client mode ("n" or "N": master).
std::uint8_t OfflineFlag(const std::string& value);

extern TMyConfig* myConfig;
