#include "app/Tmydbbasic.h"

#include <cctype>

TMyDbBasic* myDbBasic = nullptr;

TSqlText& TSqlText::operator<<(std::string_view literal) {
    // A quoted value ran straight into a word ("'group by"); a placeholder
    // cannot, the server reads "$2group" as one token.
    const auto wordChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    if (!sql_.empty() && sql_.back() == '?' && !literal.empty() && wordChar(literal.front())) sql_ += ' ';
    sql_ += literal;
    log_ += literal;
    return *this;
}

TSqlText& TSqlText::Bind(plat::TSqlValue value, const std::string& shown) {
    sql_ += '?';
    log_ += shown;
    binds_.push_back(std::move(value));
    return *this;
}

TSqlText& TSqlText::Value(const plat::TSqlValue& value) { return Bind(value, plat::SqlText(value)); }
TSqlText& TSqlText::Number(long long value) { return Bind(value, std::to_string(value)); }
TSqlText& TSqlText::Text(const std::string& value) { return Bind(value, value); }
TSqlText& TSqlText::Quoted(const std::string& value) { return Bind(value, "'" + value + "'"); }

// Bound as text cut to whole seconds, as the log shows the date.
TSqlText& TSqlText::Date(const plat::TDateTimeParts& t) {
    plat::TDateTimeParts whole = t;
    whole.millisecond = 0;
    return Bind(plat::SqlDateText(whole), "'" + plat::FormatDateTime("dd.mm.yyyy hh:nn:ss", whole) + "'");
}

TMyDbBasic::TMyDbBasic(const TAllConf& conf, TDbLog log) : conf_(conf), log_(std::move(log)) {}

TMyDbBasic::~TMyDbBasic() { Disconnect(); }

std::string TMyDbBasic::ConnectionString() const {
    return "Provider=" + conf_.db.dbstring + ";" + "Data Source=" + conf_.db.dbodbcname + ";";
}

void TMyDbBasic::CreateConnection() {
    connection_ = std::make_unique<plat::TSqlConnection>();
    login_ = plat::TSqlConnection::ParseConnectionString(ConnectionString());
    if (login_) {
        login_->user = conf_.db.dbname;
        login_->password = conf_.db.dbpass;
        login_->database = conf_.db.dbdefaultdb;
        login_->commandTimeout = conf_.db.dbcommandtimeout;
    }
}

bool TMyDbBasic::Connect() {
    if (!connection_) CreateConnection();
    if (connection_->IsOpen()) return true;
    if (!login_ || !plat::TSqlConnection::KnownProvider(login_->provider))
        throw EDbError("Neznámý poskytovatel databáze: " + conf_.db.dbstring);
    if (!connection_->Open(*login_)) throw EDbError(connection_->Error());
    wasOpen_ = true;
    return true;
}

void TMyDbBasic::LogDisconnect() {
    if (wasOpen_ && conf_.debug > 1) Log("Disconect DB");
    wasOpen_ = false;
}

void TMyDbBasic::Disconnect() {
    if (connection_) connection_->Close();
    LogDisconnect();
}

std::vector<plat::TSqlRow> TMyDbBasic::Run(const TSqlText& sql, bool logged) {
    Connect();
    if (logged) Log(sql.LogText());
    std::vector<plat::TSqlRow> rows;
    if (!connection_->Exec(sql.Sql(), sql.Binds(), &rows)) {
        const std::string reason = connection_->Error();
        if (!connection_->IsOpen()) LogDisconnect();
        throw EDbError(reason);
    }
    return rows;
}

void LogDbFailure(const TDbLog& log, const TMyDbBasic* db, const std::string& line, const std::string& reason) {
    if (!log) return;
    log(line);
    if (db && db->DebugLevel() > 1 && !reason.empty()) log(reason);
}
