// The database connection that the meter editing and the reports share,
// and the statement builder that makes a statement's text with bound
// placeholders and its log line from the same pieces.
#pragma once

#include "app/Tmyconfig.h"
#include "platform/qt/SqlConnection.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using TDbLog = std::function<void(const std::string&)>;

// A database failure inside an operation: the driver's text, or the reason
// the connection could not be made.
class EDbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Literal pieces go to both texts; every value becomes a placeholder in the
// statement and its text in the log line.
class TSqlText {
public:
    TSqlText& operator<<(std::string_view literal);
    TSqlText& Number(long long value);
    TSqlText& Text(const std::string& value);       // logged as it stands
    TSqlText& Quoted(const std::string& value);     // logged between quotes
    TSqlText& Date(const plat::TDateTimeParts& t);  // logged 'dd.mm.yyyy hh:nn:ss'
    TSqlText& Value(const plat::TSqlValue& value);  // logged as its text

    const std::string& Sql() const { return sql_; }
    const std::string& LogText() const { return log_; }
    const std::vector<plat::TSqlValue>& Binds() const { return binds_; }

private:
    TSqlText& Bind(plat::TSqlValue value, const std::string& shown);
    std::string sql_, log_;
    std::vector<plat::TSqlValue> binds_;
};

class TMyDbBasic {
public:
    // The configuration record must outlive the object; its db values are
    // read at every connect, `debug` at every log decision.
    TMyDbBasic(const TAllConf& conf, TDbLog log);
    virtual ~TMyDbBasic();

    // "Provider=" + dbstring + ";Data Source=" + dbodbcname + ";".
    std::string ConnectionString() const;
    void CreateConnection();
    // Creates the connection when missing and opens it when closed; raises
    // EDbError when it cannot be opened.
    bool Connect();
    void Disconnect();

    // Connects, logs the statement's text, then runs it; raises EDbError on failure
    // (the connection is closed then, the next Connect opens it anew).
    // Statements of the program's own making (not the operations' texts)
    // go unlogged.
    std::vector<plat::TSqlRow> Run(const TSqlText& sql, bool logged = true);

    int DebugLevel() const { return conf_.debug; }
    void Log(const std::string& line) const { if (log_) log_(line); }

private:
    void LogDisconnect();
    const TAllConf& conf_;
    TDbLog log_;
    std::unique_ptr<plat::TSqlConnection> connection_;
    std::optional<plat::TSqlLogin> login_;
    bool wasOpen_ = false;
};

// What every operation does with a failure: its line, then the reason when
// debugging.
void LogDbFailure(const TDbLog& log, const TMyDbBasic* db, const std::string& line, const std::string& reason);

// The database object of the program; none is created, so every operation
// ends in its failure branch.
extern TMyDbBasic* myDbBasic;
