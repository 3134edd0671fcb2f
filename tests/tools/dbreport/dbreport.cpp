// dbreport overview TABLE FROM TO | history ADDRESS FROM TO | unit FLAT
//          [--debug N]
// Dates "dd.mm.yyyy hh:nn:ss".  Rows go tab-separated to stdout, one line a
// row, columns in the order of the select list; log lines go to stderr.
// unit FLAT writes the unit report of this month under the store's progdir
// and prints where (or why not). Exit 1 when the operation fails, 2 on
// usage or a malformed date.
#include "app/Tmyconfig.h"
#include "app/Tmydbbasic.h"
#include "app/Tmyodecty.h"
#include "app/Tunitreport.h"
#include "workbook/api/XLSAdapter.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::cerr << "usage: dbreport overview TABLE FROM TO | history ADDRESS FROM TO | unit FLAT [--debug N]\n"
                 "       dates as dd.mm.yyyy hh:nn:ss\n";
    return 2;
}

std::optional<plat::TDateTimeParts> ParseDate(const std::string& text) {
    plat::TDateTimeParts t;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%2d.%2d.%4d %2d:%2d:%2d%c", &t.day, &t.month, &t.year, &t.hour, &t.minute,
                    &t.second, &tail) != 6 ||
        text.size() != 19)
        return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{year(t.year), month(static_cast<unsigned>(t.month)), day(static_cast<unsigned>(t.day))};
    if (!date.ok() || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59)
        return std::nullopt;
    return t;
}

void PrintRows(const std::vector<plat::TSqlRow>& rows) {
    for (const plat::TSqlRow& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.values.size(); ++i) {
            if (i) line += '\t';
            line += plat::SqlText(row.values[i]);
        }
        std::cout << line << '\n';
    }
}

int UnitReport(TMyOdecty& odecty, const std::string& progdir, const std::string& flat, const TDbLog& log) {
    kalmira::TXLSAdapter adapter;
    adapter.SetAllowOverwritingFiles(true);
    kalmira::TKalmiraImport book;
    book.SetAdapter(&adapter);
    TMyDates dates;
    dates.Refresh();
    const TUnitReportResult result = MakeUnitReport(odecty, book, progdir, flat, dates.dates, log);
    (result.ok ? std::cout : std::cerr) << result.message << '\n';
    return result.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    int debug = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--debug") continue;
        if (i + 1 >= args.size()) return Usage();
        debug = plat::StrToIntDef(args[i + 1], -1);
        if (debug < 0) return Usage();
        args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
        break;
    }
    if (args.empty()) return Usage();
    const std::string& command = args[0];
    if (command == "unit" && args.size() != 2) return Usage();
    if (command != "unit" && ((command != "overview" && command != "history") || args.size() != 4)) return Usage();
    const bool unit = command == "unit";
    const auto from = unit ? plat::TDateTimeParts() : ParseDate(args[2]), to = unit ? from : ParseDate(args[3]);
    if (!from || !to) return Usage();
    std::optional<int> address;
    if (command == "history") {
        address = plat::StrToIntDef(args[1], -1);
        if (*address < 0 && args[1] != "-1") return Usage();
    }

    TMyConfig config;
    if (!config.Load()) {
        std::cerr << "dbreport: configuration store not found: " << plat::TRegistryStore::DefaultPath() << '\n';
        return 1;
    }
    TAllConf& conf = *config.Conf();
    conf.debug = debug;
    TDbLog log = [](const std::string& line) { std::cerr << line << '\n'; };
    bool ok = false;
    {
        TMyDbBasic db(conf, log);
        TMyOdecty odecty(&db, log);
        if (unit) return UnitReport(odecty, conf.dir.progdir, args[1], log);
        ok = command == "overview" ? odecty.MeterConsumptionReport(args[1], *from, *to)
                                   : odecty.AddressHistory(*address, *from, *to);
        PrintRows(odecty.rows);
    }
    return ok ? 0 : 1;
}
