// The readings store.  Here: the two database reports, each filling a row
// list of its own that is emptied when the report starts.
#pragma once

#include "app/Tmydbbasic.h"

#include <string>
#include <vector>

// One meter of the consumption overview.
struct TRychlaBilancerec {
    int od_id = 0;
    int mer_id = 0;
    std::string mer_nazev;
    int od_sekaddr = 0;
    plat::TDateTimeParts mindatum;
    double minmj = 0;
    plat::TDateTimeParts maxdatum;
    double maxmj = 0;
    double spotreba = 0;
    std::string mer_fashiontabname;
};

// One reading of an address history.
struct TOneOdecet {
    float reserved1 = 0, reserved2 = 0;
    plat::TDateTimeParts od_date;
    double hodnota = 0;
    float reserved3 = 0, reserved4 = 0;
};

class TMyOdecty {
public:
    // db may be null: every report then logs its failure line.
    TMyOdecty(TMyDbBasic* db, TDbLog log);
    virtual ~TMyOdecty() = default;

    // Every meter of the group with readings between the two dates.
    bool MeterConsumptionReport(const std::string& tableName, const plat::TDateTimeParts& from,
                                const plat::TDateTimeParts& to);
    // Every reading of one module address between the two dates, in date
    // order.
    bool AddressHistory(int secondaryAddress, const plat::TDateTimeParts& from, const plat::TDateTimeParts& to);

    std::vector<TRychlaBilancerec> bilance;
    std::vector<TOneOdecet> history;
    // The last report's result as the server gave it, columns in the order
    // of the select list.
    std::vector<plat::TSqlRow> rows;

    // The statements as the reports send them.
    static TSqlText ConsumptionSql(const std::string& tableName, const plat::TDateTimeParts& from,
                                   const plat::TDateTimeParts& to);
    static TSqlText HistorySql(int secondaryAddress, const plat::TDateTimeParts& from,
                               const plat::TDateTimeParts& to);

private:
    TMyDbBasic* db_;
    TDbLog log_;
};
