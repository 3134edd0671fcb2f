// The database operations against the private server of tests/tools/pgtemp
// (readings of March 2026, see tests/fixtures/db/orvelo.sql), through the
// PostgreSQL driver and again through ODBC, and the unit report made from them.
#include "app/Tmydbbasic.h"
#include "app/Tmymeridla.h"
#include "app/Tmyodecty.h"
#include "app/Tunitreport.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/api/XLSAdapter.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace ole2test;
namespace fs = std::filesystem;

const std::string kDir = ORVELO_PGTEMP_DIR;

std::string Port() {
    std::ifstream in(kDir + "/port");
    std::string port;
    in >> port;
    return port;
}

int Psql(const std::string& sql, bool background = false) {
    const std::string cmd = "PGPASSWORD=orvelo-pw psql -q -X -h " + kDir + " -p " + Port() +
                            " -U orvelo -d orvelo -c \"" + sql + "\" >/dev/null 2>&1" + (background ? " &" : "");
    return std::system(cmd.c_str());
}

class Env : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("TZ", "Europe/Prague", 1);
        tzset();
        setenv("ODBCSYSINI", kDir.c_str(), 1);
        setenv("ODBCINI", (kDir + "/odbc.ini").c_str(), 1);
        static int argc = 1;
        static char name[] = "test_app_db";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QCoreApplication> app_;
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new Env);

struct Session {
    explicit Session(const std::string& provider, int debug = 3) {
        conf.debug = debug;
        conf.db.dbstring = provider;
        conf.db.dbodbcname = provider == "QODBC" ? "orvelotest" : kDir + ":" + Port();
        conf.db.dbname = "orvelo";
        conf.db.dbpass = "orvelo-pw";
        conf.db.dbdefaultdb = "orvelo";
        conf.db.dbcommandtimeout = 1;
    }
    TAllConf conf;
    std::vector<std::string> log;
    TDbLog sink = [this](const std::string& line) { log.push_back(line); };
    TMyDbBasic db {conf, sink};
    TMyOdecty odecty {&db, sink};
    TMyMeridla meridla {&db, sink};
};

constexpr plat::TDateTimeParts kMarch1 {2026, 3, 1, 0, 0, 0, 0};
constexpr plat::TDateTimeParts kMarch31 {2026, 3, 31, 23, 59, 59, 0};

std::string Date(const plat::TDateTimeParts& t) { return plat::FormatDateTime("dd.mm.yyyy hh:nn:ss", t); }

class Operations : public ::testing::TestWithParam<const char*> {};

TEST_P(Operations, OverviewAndHistoryOfMarch) {
    Session s(GetParam());
    // The fields the unit report reads; the others wait until something does.
    struct Case {
        plat::TDateTimeParts from, to;
        std::vector<std::string> names;
        std::vector<double> minmj, maxmj;
    };
    const Case cases[] = {
        // Both bounds held; meter 3 of group T2 left out.
        {kMarch1, kMarch31, {"Voda byt 1", "Voda byt 2", "Voda byt 4"}, {20.5, 101.5, 12345.678}, {22.84, 201.5, 12345.678}},
        {{2026, 3, 1, 0, 0, 1, 0}, {2026, 3, 31, 23, 59, 58, 0}, {"Voda byt 1", "Voda byt 2", "Voda byt 4"},
         {21, 101.5, 12345.678}, {21, 201.5, 12345.678}},
        {{2026, 4, 1, 0, 0, 0, 0}, {2026, 4, 30, 0, 0, 0, 0}, {"Voda byt 1"}, {25}, {25}},
        {kMarch31, kMarch1, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Date(c.from));
        for (int call = 0; call < 2; ++call) {
            ASSERT_TRUE(s.odecty.MeterConsumptionReport("T1", c.from, c.to));
            Case got {c.from, c.to, {}, {}, {}};
            for (const TRychlaBilancerec& r : s.odecty.bilance) {
                got.names.push_back(r.mer_nazev);
                got.minmj.push_back(r.minmj);
                got.maxmj.push_back(r.maxmj);
            }
            EXPECT_EQ(got.names, c.names);
            EXPECT_EQ(got.minmj, c.minmj);
            EXPECT_EQ(got.maxmj, c.maxmj);
        }
    }
    ASSERT_TRUE(s.odecty.MeterConsumptionReport("T1", kMarch1, kMarch31));
    const TRychlaBilancerec& first = s.odecty.bilance.at(0);
    EXPECT_EQ((std::vector<int> {first.mer_id, first.od_sekaddr}), (std::vector<int> {1, 1001}));
    EXPECT_EQ(Date(first.mindatum), "01.03.2026 00:00:00");

    ASSERT_TRUE(s.odecty.AddressHistory(1001, kMarch1, kMarch31));
    ASSERT_TRUE(s.odecty.AddressHistory(1001, kMarch1, kMarch31));
    std::vector<std::string> history;
    for (const TOneOdecet& r : s.odecty.history) history.push_back(Date(r.od_date) + " " + plat::ShortestDouble(r.hodnota));
    EXPECT_EQ(history, (std::vector<std::string> {"01.03.2026 00:00:00 20.5", "15.03.2026 12:00:00 21",
                                                  "31.03.2026 23:59:59 22.84"}));
    ASSERT_TRUE(s.odecty.AddressHistory(3001, kMarch1, kMarch31));
    ASSERT_EQ(s.odecty.history.size(), 1u);
    EXPECT_EQ(s.odecty.history[0].hodnota, 12345.678);
}

// Values are bound: quotes in them reach no statement.
TEST_P(Operations, ValuesWithQuotesSelectNothingAndChangeNothing) {
    Session s(GetParam());
    for (const char* table : {"T1' or '1'='1", "x'; drop table odecty; --"}) {
        ASSERT_TRUE(s.odecty.MeterConsumptionReport("T1", kMarch1, kMarch31));
        EXPECT_TRUE(s.odecty.MeterConsumptionReport(table, kMarch1, kMarch31)) << table;
        EXPECT_TRUE(s.odecty.bilance.empty()) << table;
    }
    ASSERT_TRUE(s.odecty.MeterConsumptionReport("T1", kMarch1, kMarch31));
    EXPECT_EQ(s.odecty.bilance.size(), 3u);
}

TEST(EditMeter, StoresTheElevenColumnsAndRefusesBadInput) {
    Session s("qpsql");
    s.meridla.meterTypes = {{1, "vodoměr"}, {2, "kalorimetr"}};
    s.meridla.mediaTypes = {{1, "voda"}, {2, "teplo"}};
    TMeterDef record;
    ASSERT_TRUE(s.meridla.ReadMeter("3001", record));
    EXPECT_EQ((std::vector<int> {record.meterId, record.meterTypeIndex, record.mediaTypeIndex}),
              (std::vector<int> {4, 0, 1}));
    record.name = "O'Brien ř";
    record.meterTypeIndex = 1;
    record.correction = 0.1f;
    record.tableName = "T9";
    ASSERT_TRUE(s.meridla.EditMeter(record));

    TMeterDef bad = record;
    bad.name = "nikdy";
    struct Bad { const char* what; TMeterDef def; };
    std::vector<Bad> bads(4, {"", bad});
    bads[0].what = "unknown id", bads[0].def.meterId = 99;
    bads[1].what = "type index", bads[1].def.meterTypeIndex = 2;
    bads[2].what = "media index", bads[2].def.mediaTypeIndex = -1;
    bads[3].what = "address", bads[3].def.secondaryAddress = "30.01";
    for (const Bad& b : bads) {
        s.log.clear();
        EXPECT_FALSE(s.meridla.EditMeter(b.def)) << b.what;
        EXPECT_EQ(s.log.back(), "Chyba editace meridla") << b.what;
    }
    TMeterDef back;
    ASSERT_TRUE(s.meridla.ReadMeter("3001", back));
    EXPECT_EQ(back.name + "|" + back.tableName, "O'Brien ř|T9");
    EXPECT_EQ((std::vector<int> {back.meterTypeIndex, back.multiplier}), (std::vector<int> {1, 1}));
    EXPECT_EQ(back.correction, 0.1f);
    ASSERT_EQ(Psql("update meridla set typmer_id=1, mer_nazev='Voda byt 4', mer_korekce=0, "
                   "mer_fashiontabname='T1' where mer_id=4"), 0);
}

// Without a database object at all: the unit report's refusal and the main
// window's meter editing.
TEST(Connections, EachFailureLogsItsLineAndNoStatement) {
    const struct {
        const char* what;
        std::string provider, source, password;
        const char* reason;  // part of the line after the failure line
    } cases[] = {
        {"no server", "QPSQL", "127.0.0.1:1", "orvelo-pw", "Connection refused"},
        {"wrong password", "QPSQL", "", "wrong", "password authentication failed"},
        {"unknown provider", "QFOO", "", "orvelo-pw", "Neznámý poskytovatel databáze: QFOO"},
        {"empty provider", "", "", "orvelo-pw", "Neznámý poskytovatel databáze: "},
    };
    for (const auto& c : cases) {
        Session s("QPSQL");
        s.conf.db.dbstring = c.provider;
        if (!c.source.empty()) s.conf.db.dbodbcname = c.source;
        s.conf.db.dbpass = c.password;
        EXPECT_FALSE(s.odecty.AddressHistory(1001, kMarch1, kMarch31)) << c.what;
        ASSERT_EQ(s.log.size(), 2u) << c.what;
        EXPECT_EQ(s.log[0], "======Prehled by sekaddr  TIMEOUT->CHYBA DB") << c.what;
        EXPECT_NE(s.log[1].find(c.reason), std::string::npos) << c.what << ": " << s.log[1];
    }
}

// Whether the exclusive lock on odecty is held (or gone), asked for up to
// 30 seconds.
bool WaitForLock(bool held) {
    const std::string check = std::string("do \\$\\$ begin if ") + (held ? "not " : "") +
                              "exists (select 1 from pg_locks l join pg_class c on c.oid = l.relation "
                              "where c.relname = 'odecty' and l.mode = 'AccessExclusiveLock' and l.granted) "
                              "then raise exception 'wait'; end if; end \\$\\$;";
    for (int i = 0; i < 300; ++i) {
        if (Psql(check) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

TEST_P(Operations, ATimeoutOrARestartCostsOneCall) {
    Session s(GetParam());
    ASSERT_TRUE(s.odecty.AddressHistory(1001, kMarch1, kMarch31));
    Psql("begin; lock table odecty; select pg_sleep(6); commit;", true);
    // The lock is held before the history asks for the table (a loaded
    // machine may take its time to start the locking session).
    ASSERT_TRUE(WaitForLock(true));
    EXPECT_FALSE(s.odecty.AddressHistory(1001, kMarch1, kMarch31));
    EXPECT_NE(s.log.back().find("cancel"), std::string::npos) << s.log.back();
    EXPECT_EQ(std::count(s.log.begin(), s.log.end(), "Disconect DB"), 0);  // the session is kept
    ASSERT_TRUE(WaitForLock(false));
    EXPECT_TRUE(s.odecty.AddressHistory(1001, kMarch1, kMarch31));
    EXPECT_EQ(s.odecty.history.size(), 3u);

    // A restarted server leaves the kept connection dead: one failure, then
    // the next call opens a new one.
    ASSERT_EQ(std::system(("\"" ORVELO_SOURCE_DIR "/tests/tools/pgtemp\" restart " + kDir).c_str()), 0);
    EXPECT_FALSE(s.odecty.AddressHistory(1001, kMarch1, kMarch31));
    EXPECT_TRUE(s.odecty.history.empty());
    EXPECT_EQ(std::count(s.log.begin(), s.log.end(), "Disconect DB"), 1);
    EXPECT_TRUE(s.odecty.AddressHistory(1001, kMarch1, kMarch31));
    EXPECT_EQ(s.odecty.history.size(), 3u);
}

// The unit report of March 2026, filled into the LibreOffice-made template
// through the real facade; every refusal leaves an earlier report as it was.
struct TReportRun : Session {
    TReportRun() : Session("QPSQL") {
        adapter.SetAllowOverwritingFiles(true);
        book.SetAdapter(&adapter);
    }
    TUnitReportResult Run(const std::string& progdir, const std::string& unit,
                          plat::TDateTimeParts now = {2026, 3, 31, 23, 59, 59, 0}, bool server = true) {
        TMyOdecty report(server ? &db : nullptr, sink);
        return MakeUnitReport(report, book, progdir, unit, ComputeCurrDates(now), sink);
    }
    kalmira::TXLSAdapter adapter;
    kalmira::TKalmiraImport book;
};

TEST(UnitReport, MarchOfUnitT1AndRefusals) {
    const fs::path dir = fs::path(ORVELO_BINARY_DIR) / "unit-report-test" / "prog dir ěščř";
    fs::remove_all(dir);
    fs::create_directories(dir / "prgdata" / "export");
    fs::create_directories(dir / "prgdata" / "sestavy");
    fs::copy_file(FixtureDir() + "/unit_transfer.xls", dir / "prgdata" / "export" / "Voda 1 2026 pro přenos.xls");
    const fs::path templ = dir / "prgdata" / "sestavy" / "sablonaJednotka.xls";
    fs::copy_file(FixtureDir() + "/unit_template.xls", templ);
    const std::string report = (dir / "prgdata" / "export" / "prehledJednotky.xls").string();
    TReportRun run;
    const TUnitReportResult made = run.Run(dir.string(), "T1");
    EXPECT_EQ(std::make_pair(made.ok, made.message), std::make_pair(true, "Soubor vygenerovan: " + report));

    // Sheets as xlrd reads them, and a sample of every kind of cell.
    std::map<std::string, std::string> cells;
    for (const auto& line : Lines(OleCheck("cells", report))) {
        const auto f = Split(line);
        cells[f[0] + " " + f[1] + " " + f[2]] = f[4];
    }
    std::vector<std::string> sheets;
    for (const auto& line : Lines(OleCheck("book", report)))
        if (line.starts_with("sheet ")) sheets.push_back(line.substr(6));
    EXPECT_EQ(sheets, (std::vector<std::string>{"Přehled 0", "Pokyny 0", "Voda byt 1 0", "Voda byt 2 0", "Voda byt 4 0"}));
    const std::vector<std::string> sample = {cells["Přehled 3 0"], cells["Přehled 4 1"], cells["Přehled 6 4"], cells["Přehled 9 2"],
                                             cells["Přehled 10 3"], cells["Přehled 11 4"], cells["Voda byt 1 5 1"],
                                             cells["Voda byt 2 1 3"], cells["Voda byt 4 3 0"], cells["Voda byt 4 4 0"]};
    EXPECT_EQ(sample, (std::vector<std::string>{"'Přehled jednotky za období :01.03.2026 00:00:00- 31.03.2026 23:59:59'",
                                                "'Jan Novák'", "2.0", "'01.03.2026 00:00:00'", "101.5", "12345.678", "22.84",
                                                "2.0", "'10.03.2026 10:00:00'", ""}));

    // Each refusal: its message, the report as it was, nothing else left.
    const auto before = ReadFile(report);
    const std::pair<std::function<TUnitReportResult()>, std::string> refused[] = {
        {[&] { return run.Run(dir.string(), "T9"); }, "Nenalezeny detaily měřidla"},
        {[&] { return run.Run(dir.string(), "T1", {2026, 3, 31, 23, 59, 59, 0}, false); }, "Chyba databáze. Generování nelze dokončit."},
        {[&] { return run.Run(dir.string(), "T1", {2026, 6, 1, 8, 0, 0, 0}); }, "Nenalezen převodní soubor .Generování nelze dokončit."},
        {[&] { WriteFile(templ.string(), {1, 2, 3}); return run.Run(dir.string(), "T1"); }, "The file \"" + templ.string() + "\" is invalid"},
    };
    for (const auto& [call, message] : refused) {
        const TUnitReportResult result = call();
        EXPECT_EQ(std::make_pair(result.ok, result.message), std::make_pair(false, message));
        EXPECT_EQ(ReadFile(report), before);
        EXPECT_FALSE(run.book.IsLoaded());
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "prgdata" / "export"), fs::directory_iterator()), 2);
    const std::string missing = "Nenalezen převodní soubor  -> " + (dir / "prgdata" / "export" / "Voda 4 2026 pro přenos.xls").string();
    EXPECT_NE(std::find(run.log.begin(), run.log.end(), missing), run.log.end());
}

// Sheet names: cleaned, cut to 31 characters, made unique with the id.
TEST(UnitReport, MeterSheetNames) {
    const std::vector<std::u16string> taken = {u"Přehled", u"Měřidlo 12_3"};
    for (const auto& [name, sheet] : std::vector<std::pair<std::u16string, std::u16string>>{
             {u"Měřidlo 12/3", u"Měřidlo 12_3 (7)"}, {u"a[b]c:d*e?f\\g", u"a_b_c_d_e_f_g"}, {std::u16string(40, u'x'), std::u16string(31, u'x')}})
        EXPECT_EQ(MeterSheetName(name, 7, taken), sheet);
}

INSTANTIATE_TEST_SUITE_P(Providers, Operations, ::testing::Values("QPSQL", "QODBC"));

}  // namespace
