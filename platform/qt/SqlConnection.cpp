#include "platform/qt/SqlConnection.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QVariant>

#include <sql.h>
#include <sqlext.h>

#include <array>
#include <charconv>
#include <atomic>
#include <cstdio>

namespace plat {

namespace {

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

int Seconds(int commandTimeout) { return commandTimeout < 0 ? 300 : commandTimeout; }

// PostgreSQL: a host, host:port or the server's socket folder (":port"
// after it names the socket of a server on another port); the time limit is
// the session's statement_timeout.
void PsqlTarget(QSqlDatabase& db, const TSqlLogin& login) {
    const std::string& source = login.dataSource;
    const std::size_t colon = source.rfind(':');
    const bool portGiven = colon != std::string::npos && colon + 1 < source.size() &&
                           source.find_first_not_of("0123456789", colon + 1) == std::string::npos;
    if (portGiven) {
        db.setHostName(Q(source.substr(0, colon)));
        db.setPort(StrToIntDef(source.substr(colon + 1), -1));
    } else {
        db.setHostName(Q(source));
    }
    db.setDatabaseName(Q(login.database));
    db.setConnectOptions(QStringLiteral("connect_timeout=10"));
}

bool PsqlAfterOpen(QSqlDatabase& db, int seconds, std::string& error) {
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("SET statement_timeout = %1").arg(qlonglong(seconds) * 1000))) return true;
    error = q.lastError().text().toStdString();
    return false;
}

// ODBC: the data source name; the time limit is each statement's query
// time-out attribute, set once the statement handle exists.
void OdbcTarget(QSqlDatabase& db, const TSqlLogin& login) {
    db.setDatabaseName(Q(login.dataSource));
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=10"));
}

bool OdbcAfterOpen(QSqlDatabase&, int, std::string&) { return true; }

void OdbcBeforeExec(QSqlQuery& q, int seconds) {
    // Qt hands the statement handle over as a pointer registered under the
    // name SQLHANDLE.
    const QVariant handle = q.result()->handle();
    if (!handle.isValid() || (qstrcmp(handle.typeName(), "SQLHANDLE") != 0 && qstrcmp(handle.typeName(), "void*") != 0))
        return;
    SQLHANDLE statement = *static_cast<const SQLHANDLE*>(handle.constData());
    if (statement)
        SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
}

void NoBeforeExec(QSqlQuery&, int) {}

TSqlValue FromQt(const QVariant& v) {
    if (v.isNull()) return std::monostate {};
    switch (v.metaType().id()) {
    case QMetaType::QDateTime: {
        // The parts as the server wrote them, whatever zone Qt tagged.
        const QDateTime dt = v.toDateTime();
        const QDate d = dt.date();
        const QTime t = dt.time();
        return TDateTimeParts {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()};
    }
    case QMetaType::QDate: {
        const QDate d = v.toDate();
        return TDateTimeParts {d.year(), d.month(), d.day()};
    }
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Bool:
        return static_cast<long long>(v.toLongLong());
    case QMetaType::Double: case QMetaType::Float:
        return v.toDouble();
    default:
        return v.toString().toStdString();
    }
}

QVariant ToQt(const TSqlValue& v) {
    struct Visit {
        QVariant operator()(std::monostate) const { return QVariant(); }
        QVariant operator()(long long n) const { return QVariant(qlonglong(n)); }
        QVariant operator()(double d) const { return QVariant(d); }
        QVariant operator()(const std::string& s) const { return QVariant(Q(s)); }
        QVariant operator()(const TDateTimeParts& t) const { return QVariant(Q(SqlDateText(t))); }
    };
    return std::visit(Visit {}, v);
}

std::atomic<unsigned> connectionCount {0};

}  // namespace

struct TSqlConnection::Dialect {
    const char* provider;  // also the QtSql driver's name
    void (*target)(QSqlDatabase&, const TSqlLogin&);
    bool (*afterOpen)(QSqlDatabase&, int seconds, std::string& error);
    void (*beforeExec)(QSqlQuery&, int seconds);
};

namespace {
constexpr std::array<TSqlConnection::Dialect, 2> kDialects {{
    {"QPSQL", PsqlTarget, PsqlAfterOpen, NoBeforeExec},
    {"QODBC", OdbcTarget, OdbcAfterOpen, OdbcBeforeExec},
}};

const TSqlConnection::Dialect* FindDialect(const std::string& provider) {
    for (const auto& d : kDialects)
        if (SameText(d.provider, provider)) return &d;
    return nullptr;
}
}  // namespace

const TSqlValue& TSqlRow::Field(std::string_view name) const {
    static const TSqlValue none;
    for (std::size_t i = 0; i < names.size() && i < values.size(); ++i)
        if (SameText(names[i], name)) return values[i];
    return none;
}

TSqlConnection::TSqlConnection() : name_("orvelo-sql-" + std::to_string(++connectionCount)) {}

TSqlConnection::~TSqlConnection() { Close(); }

std::optional<TSqlLogin> TSqlConnection::ParseConnectionString(const std::string& text) {
    std::optional<std::string> provider, source;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        const std::size_t eq = part.find('=');
        if (eq != std::string::npos) {
            const std::string key = part.substr(0, eq);
            if (SameText(key, "Provider")) provider = part.substr(eq + 1);
            else if (SameText(key, "Data Source")) source = part.substr(eq + 1);
        }
        start = end + 1;
    }
    if (!provider || !source) return std::nullopt;
    TSqlLogin login;
    login.provider = *provider;
    login.dataSource = *source;
    return login;
}

bool TSqlConnection::KnownProvider(const std::string& provider) { return FindDialect(provider) != nullptr; }

bool TSqlConnection::Open(const TSqlLogin& login) {
    Close();
    error_.clear();
    dialect_ = FindDialect(login.provider);
    if (!dialect_) {
        error_ = "Neznámý poskytovatel databáze: " + login.provider;
        return false;
    }
    timeout_ = Seconds(login.commandTimeout);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QString::fromLatin1(dialect_->provider), Q(name_));
        dialect_->target(db, login);
        db.setUserName(Q(login.user));
        db.setPassword(Q(login.password));
        ok = db.open();
        if (!ok) error_ = db.lastError().text().toStdString();
        else ok = dialect_->afterOpen(db, timeout_, error_);
    }
    if (!ok) Close();
    return ok;
}

bool TSqlConnection::IsOpen() const {
    return QSqlDatabase::contains(Q(name_)) && QSqlDatabase::database(Q(name_), false).isOpen();
}

void TSqlConnection::Close() {
    if (!QSqlDatabase::contains(Q(name_))) return;
    QSqlDatabase::database(Q(name_), false).close();
    QSqlDatabase::removeDatabase(Q(name_));
}

bool TSqlConnection::Exec(const std::string& sql, const std::vector<TSqlValue>& binds, std::vector<TSqlRow>* rows) {
    error_.clear();
    if (rows) rows->clear();
    if (!IsOpen()) {
        error_ = "not connected";
        return false;
    }
    bool ok = false;
    {
        QSqlQuery q(QSqlDatabase::database(Q(name_), false));
        q.setForwardOnly(true);
        ok = q.prepare(Q(sql));
        if (ok) {
            dialect_->beforeExec(q, timeout_);
            for (const TSqlValue& v : binds) q.addBindValue(ToQt(v));
            ok = q.exec();
        }
        if (ok && rows && q.isSelect()) {
            const QSqlRecord record = q.record();
            std::vector<std::string> names;
            for (int i = 0; i < record.count(); ++i) names.push_back(record.fieldName(i).toStdString());
            while (q.next()) {
                TSqlRow row;
                row.names = names;
                for (int i = 0; i < record.count(); ++i) row.values.push_back(FromQt(q.value(i)));
                rows->push_back(std::move(row));
            }
            if (q.lastError().isValid()) ok = false;
        }
        if (!ok) {
            error_ = q.lastError().text().toStdString();
            if (rows) rows->clear();
        }
    }
    // A failed statement may have left the session broken (a restarted
    // server, a lost socket): then it is closed and the next use opens it
    // anew.  A statement that merely failed (a time-out) keeps it.
    if (!ok && !Alive()) Close();
    return ok;
}

long long SqlInt(const TSqlValue& v) {
    if (auto* n = std::get_if<long long>(&v)) return *n;
    if (auto* d = std::get_if<double>(&v)) return static_cast<long long>(*d);
    if (auto* s = std::get_if<std::string>(&v)) return StrToIntDef(*s, 0);
    return 0;
}

double SqlDouble(const TSqlValue& v) {
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* n = std::get_if<long long>(&v)) return static_cast<double>(*n);
    if (auto* s = std::get_if<std::string>(&v)) {
        double d = 0;
        std::from_chars(s->data(), s->data() + s->size(), d);
        return d;
    }
    return 0;
}

std::string SqlText(const TSqlValue& v) {
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    if (auto* n = std::get_if<long long>(&v)) return std::to_string(*n);
    if (auto* d = std::get_if<double>(&v)) return ShortestDouble(*d);
    if (auto* t = std::get_if<TDateTimeParts>(&v)) return FormatDateTime("dd.mm.yyyy hh:nn:ss", *t);
    return {};
}

TDateTimeParts SqlDate(const TSqlValue& v) {
    if (auto* t = std::get_if<TDateTimeParts>(&v)) return *t;
    return {};
}

std::string ShortestDouble(double d) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

bool TSqlConnection::Alive() const {
    if (!IsOpen()) return false;
    QSqlQuery probe(QSqlDatabase::database(Q(name_), false));
    return probe.exec(QStringLiteral("select 1")) && probe.next();
}

std::string SqlDateText(const TDateTimeParts& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buf;
}

}  // namespace plat
