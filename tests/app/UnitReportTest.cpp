// The unit report of March 2026 against the private server, filled into the
// LibreOffice-made template through the real facade; every refusal leaves
// an earlier report as it was.
#include "app/Tunitreport.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/api/XLSAdapter.h"

#include <map>

using namespace ole2test;
namespace fs = std::filesystem;

namespace {

struct TReportRun {
    TReportRun() {
        std::string port;
        std::ifstream(std::string(ORVELO_PGTEMP_DIR) + "/port") >> port;
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
    for (const auto& [name, sheet] : std::vector<std::pair<std::u16string, std::u16string>>{
             {u"Měřidlo 12/3", u"Měřidlo 12_3 (7)"}, {u"a[b]c:d*e?f\\g", u"a_b_c_d_e_f_g"}, {std::u16string(40, u'x'), std::u16string(31, u'x')}})
        EXPECT_EQ(MeterSheetName(name, 7, taken), sheet);
}
