// One named database connection on QtSql, opened from a provider and a
// data source through a table of dialects.  The interface carries no Qt
// types: values and rows are plain, dates travel as their parts.
#pragma once

#include "platform/sys/SysUtils.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace plat {

// A value bound in place of a placeholder or read from a column.  Dates are
// bound as text ("yyyy-mm-dd hh:nn:ss") and read back as their parts, as the
// server gives them.
using TSqlValue = std::variant<std::monostate, long long, double, std::string, TDateTimeParts>;

struct TSqlRow {
    std::vector<std::string> names;
    std::vector<TSqlValue> values;
    // The column of that name (any case); an empty value when absent.
    const TSqlValue& Field(std::string_view name) const;
};

struct TSqlLogin {
    std::string provider;    // the dialect's key, any case: QPSQL, QODBC
    std::string dataSource;  // host, host:port, a socket folder or a DSN
    std::string user;
    std::string password;
    std::string database;
    int commandTimeout = 300;  // seconds; 0: none; negative: 300
};

class TSqlConnection {
public:
    TSqlConnection();
    ~TSqlConnection();
    TSqlConnection(const TSqlConnection&) = delete;
    TSqlConnection& operator=(const TSqlConnection&) = delete;

    // "Provider=...;Data Source=...;" split into its two values; nothing
    // when either key is missing.
    static std::optional<TSqlLogin> ParseConnectionString(const std::string& text);
    // Whether a dialect exists for the provider (any case).
    static bool KnownProvider(const std::string& provider);

    // Opens the connection; false with Error() set on failure.
    bool Open(const TSqlLogin& login);
    bool IsOpen() const;
    void Close();

    // Runs one statement with its '?' placeholders bound in order; the rows
    // of a select replace *rows.  False with Error() set on failure.
    bool Exec(const std::string& sql, const std::vector<TSqlValue>& binds, std::vector<TSqlRow>* rows = nullptr);

    const std::string& Error() const { return error_; }

    // One entry of the dialect table: how a provider opens, limits time and
    // prepares its statements.
    struct Dialect;

private:
    // Whether the open session still answers.
    bool Alive() const;
    const Dialect* dialect_ = nullptr;
    std::string name_;
    std::string error_;
    int timeout_ = 0;
};

// A column's value as a number, text or date; a number's text (as some ODBC
// drivers give decimals) reads without regard to the locale.
long long SqlInt(const TSqlValue& v);
double SqlDouble(const TSqlValue& v);
std::string SqlText(const TSqlValue& v);
TDateTimeParts SqlDate(const TSqlValue& v);
// The shortest text that reads back to the same double.
std::string ShortestDouble(double d);

// A date as the servers read it unambiguously: "yyyy-mm-dd hh:nn:ss".
std::string SqlDateText(const TDateTimeParts& t);

}  // namespace plat
