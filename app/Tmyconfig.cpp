#include "app/Tmyconfig.h"

TMyConfig* myConfig = nullptr;

namespace {

constexpr int kDefaultCommandTimeout = 300;

// The string values in the order they are read, each with its field.
struct ValueSlot {
    const char* name;
    std::string& (*field)(TAllConf&);
};

constexpr ValueSlot kStringValues[] = {
    {"progdir", [](TAllConf& c) -> std::string& { return c.dir.progdir; }},
    {"logdir", [](TAllConf& c) -> std::string& { return c.dir.logdir; }},
    {"importdir", [](TAllConf& c) -> std::string& { return c.dir.importdir; }},
    {"prgdata", [](TAllConf& c) -> std::string& { return c.dir.prgdata; }},
    {"usbCom", [](TAllConf& c) -> std::string& { return c.dir.usbCom; }},
    {"dbodbcname", [](TAllConf& c) -> std::string& { return c.db.dbodbcname; }},
    {"dbname", [](TAllConf& c) -> std::string& { return c.db.dbname; }},
    {"dbpass", [](TAllConf& c) -> std::string& { return c.db.dbpass; }},
    {"dbstring", [](TAllConf& c) -> std::string& { return c.db.dbstring; }},
    {"dbdefaultdb", [](TAllConf& c) -> std::string& { return c.db.dbdefaultdb; }},
};

}  // namespace

std::uint8_t OfflineFlag(const std::string& value) {
    return value == "n" || value == "N" ? 0 : 1;
}

TMyConfig::TMyConfig(std::string programFileName, std::string storePath)
    : storePath_(std::move(storePath)), programFile_(std::move(programFileName)) {}

TMyConfig::~TMyConfig() = default;

bool TMyConfig::Load() {
    isWow64_ = IsWow64();
    LoadEnvironment();
    if (!reg_) {
        auto reg = std::make_unique<plat::TRegistryStore>(storePath_);
        if (!reg->OpenKey()) return false;
        reg->CloseKey();
        reg_ = std::move(reg);
        conf_ = std::make_unique<TAllConf>();
    }
    return ReadAll();
}

bool TMyConfig::ReadAll() {
    for (const ValueSlot& slot : kStringValues) slot.field(*conf_) = ReadRegString(slot.name);
    conf_->db.dbcommandtimeout =
        plat::StrToIntDef(ReadRegString("dbcommandtimeout"), kDefaultCommandTimeout);
    conf_->main.offline = OfflineFlag(ReadRegString("offline"));
    conf_->debug = 0;
    return true;
}

std::string TMyConfig::ReadRegString(const std::string& name) {
    if (!reg_ || !reg_->OpenKey()) return {};
    std::string value = reg_->ReadString(name);
    reg_->CloseKey();
    return value;
}

bool TMyConfig::WriteRegString(const std::string& name, const std::string& value) {
    if (!reg_ || !reg_->OpenKey()) return false;
    bool ok = reg_->WriteString(name, value);
    reg_->CloseKey();
    return ok;
}

int TMyConfig::SaveUsbCom() {
    if (conf_) WriteRegString("usbCom", conf_->dir.usbCom);
    return 0;
}

void TMyConfig::SetDefaults() {
    if (!conf_) return;
    conf_->debug = 0;
    conf_->maxLogLines = 500;
    conf_->main.mainNumber = 0;
    conf_->main.intervalMs = 900000;
    conf_->main.limitLow = 100.0f;
    conf_->main.limitHigh = 277.77f;
    conf_->main.autostart = 0;
    conf_->mail.senderAddress = "odecty@localhost";
    conf_->mail.accountUser = "odecty@localhost";
    conf_->mail.recipientAddress = "servis@localhost";
    conf_->mail.mailServer = "localhost";
    conf_->mail.accountPassword = "qv72lo3z";
    conf_->mail.subject = "pravik DEFAULT CONFIG !";
    conf_->mail.mailFlags = 1;
}

// Formats its own day text: the process keeps no date format that another
// thread could see change halfway.
std::string TMyConfig::LogFilePath(const plat::TDateTimeParts& day) const {
    std::string logdir = conf_ ? conf_->dir.logdir : std::string();
    return logdir + "/imlog" + plat::FormatDateTime("ddmmyy", day) + ".txt";
}

// A 64-bit process on Linux never runs under a 32-bit emulation layer.
bool TMyConfig::IsWow64() const { return false; }

void TMyConfig::LoadEnvironment() {
    for (std::string& line : plat::EnvironmentStrings()) environment_.push_back(std::move(line));
}
