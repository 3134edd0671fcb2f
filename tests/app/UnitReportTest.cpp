// The unit report of March 2026 against the private server, filled into the
// LibreOffice-made template through the real facade; every refusal leaves
// an earlier report as it was.
#include "app/Tunitreport.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/api/XLSAdapter.h"

using namespace ole2test;
namespace fs = std::filesystem;

namespace {

struct TReportRun {
    TReportRun() {
        std::ifstream in(std::string(ORVELO_PGTEMP_DIR) + "/port");
        std::string port;
        in >> port;
        conf.db.dbstring = "QPSQL";
        conf.db.dbodbcname = std::string(ORVELO_PGTEMP_DIR) + ":" + port;
        conf.db.dbname = conf.db.dbdefaultdb = "orvelo";
        conf.db.dbpass = "orvelo-pw";
        adapter.SetAllowOverwritingFiles(true);
        book.SetAdapter(&adapter);
    }
    TUnitReportResult Run(const std::string& progdir, const std::string& unit,
                          plat::TDateTimeParts now = {2026, 3, 31, 23, 59, 59, 0}, bool server = true) {
        TMyOdecty odecty(server ? &db : nullptr, sink);
        return MakeUnitReport(odecty, book, progdir, unit, ComputeCurrDates(now), sink);
    }
    TAllConf conf;
    std::vector<std::string> log;
    TDbLog sink = [this](const std::string& line) { log.push_back(line); };
    TMyDbBasic db{conf, sink};
    kalmira::TXLSAdapter adapter;
    kalmira::TKalmiraImport book;
};

}  // namespace

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

    std::vector<std::string> cells;
    for (const auto& line : Lines(OleCheck("cells", report)))
        if (!line.starts_with("Pokyny")) cells.push_back(line);
    const std::vector<std::string> expected = {
        "Přehled\t0\t0\t1\t'Přehled jednotky'",
        "Přehled\t3\t0\t1\t'Přehled jednotky za období :01.03.2026 00:00:00- 31.03.2026 23:59:59'",
        "Přehled\t4\t0\t1\t'Vlastník:'", "Přehled\t4\t1\t1\t'Jan Novák'", "Přehled\t4\t3\t1\t'Adresa:'",
        "Přehled\t4\t4\t1\t'Dlouhá 12'", "Přehled\t6\t0\t1\t'Plocha m2:'", "Přehled\t6\t1\t2\t64.5",
        "Přehled\t6\t3\t1\t'Podlaží:'", "Přehled\t6\t4\t2\t2.0", "Přehled\t8\t0\t1\t'Měřidlo'", "Přehled\t8\t1\t1\t'Id'",
        "Přehled\t8\t2\t1\t'První odečet'", "Přehled\t8\t3\t1\t'Počáteční stav'", "Přehled\t8\t4\t1\t'Konečný stav'",
        "Přehled\t9\t0\t1\t'Voda byt 1'", "Přehled\t9\t1\t2\t1.0", "Přehled\t9\t2\t1\t'01.03.2026 00:00:00'",
        "Přehled\t9\t3\t2\t20.5", "Přehled\t9\t4\t2\t22.84", "Přehled\t10\t0\t1\t'Voda byt 2'", "Přehled\t10\t1\t2\t2.0",
        "Přehled\t10\t2\t1\t'02.03.2026 08:00:00'", "Přehled\t10\t3\t2\t101.5", "Přehled\t10\t4\t2\t201.5",
        "Přehled\t11\t0\t1\t'Voda byt 4'", "Přehled\t11\t1\t2\t4.0", "Přehled\t11\t2\t1\t'10.03.2026 10:00:00'",
        "Přehled\t11\t3\t2\t12345.678", "Přehled\t11\t4\t2\t12345.678",
        "Voda byt 1\t1\t1\t1\t'Voda byt 1'", "Voda byt 1\t1\t3\t2\t1.0", "Voda byt 1\t3\t0\t1\t'01.03.2026 00:00:00'",
        "Voda byt 1\t3\t1\t2\t20.5", "Voda byt 1\t4\t0\t1\t'15.03.2026 12:00:00'", "Voda byt 1\t4\t1\t2\t21.0",
        "Voda byt 1\t5\t0\t1\t'31.03.2026 23:59:59'", "Voda byt 1\t5\t1\t2\t22.84",
        "Voda byt 2\t1\t1\t1\t'Voda byt 2'", "Voda byt 2\t1\t3\t2\t2.0", "Voda byt 2\t3\t0\t1\t'02.03.2026 08:00:00'",
        "Voda byt 2\t3\t1\t2\t101.5", "Voda byt 2\t4\t0\t1\t'20.03.2026 08:00:00'", "Voda byt 2\t4\t1\t2\t201.5",
        "Voda byt 4\t1\t1\t1\t'Voda byt 4'", "Voda byt 4\t1\t3\t2\t4.0", "Voda byt 4\t3\t0\t1\t'10.03.2026 10:00:00'",
        "Voda byt 4\t3\t1\t2\t12345.678"};
    EXPECT_EQ(cells, expected);

    // Each refusal: its message, the report as it was, nothing else left.
    const auto before = ReadFile(report);
    const std::pair<std::function<TUnitReportResult()>, std::string> refused[] = {
        {[&] { return run.Run(dir.string(), "T9"); }, "Nenalezeny detaily měřidla"},
        {[&] { return run.Run(dir.string(), "T1", {2026, 3, 31, 23, 59, 59, 0}, false); }, "Chyba databáze. Generování nelze dokončit."},
        {[&] { return run.Run(dir.string(), "T1", {2026, 6, 1, 8, 0, 0, 0}); }, "Nenalezen převodní soubor .Generování nelze dokončit."},
        {[&] { WriteFile(templ.string(), {1, 2, 3}); return run.Run(dir.string(), "T1"); }, "The file \"\" is invalid"},
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
    for (const auto& [name, id, sheet] : std::vector<std::tuple<std::u16string, int, std::u16string>>{
             {u"Voda byt 1", 1, u"Voda byt 1"}, {u"Měřidlo 12/3", 7, u"Měřidlo 12_3 (7)"}, {u"přehled", 2, u"přehled (2)"},
             {u"a[b]c:d*e?f\\g", 3, u"a_b_c_d_e_f_g"}, {std::u16string(40, u'x'), 12, std::u16string(31, u'x')},
             {u"", 5, u" (5)"}})
        EXPECT_EQ(MeterSheetName(name, id, taken), sheet);
}
