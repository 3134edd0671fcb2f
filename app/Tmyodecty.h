// The readings store: each reading from the gateway link finds its meter
// in the key list, stores the meter's value and time there and has the
// meter's list row updated; and the two database reports, each filling a
// row list of its own that is emptied when the report starts.
#pragma once

#include "app/Tmycounters.h"
#include "app/Tmydbbasic.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// Where a stored reading goes besides its record.  Both are called on the
// reading's thread and must not wait for the UI thread.
struct TReadingOutlets {
    std::function<void(const std::string&)> log;  // the debug line, window and file
    std::function<void(TRowUpdate)> row;          // the meter's list row
};

// The meter's value for a received count: multiplier x raw / divisor +
// correction, worked in extended precision and rounded once to a double.
// A divisor of 0 (an empty cell) counts as 1, as the meter dialog's default.
double MeterValue(const TStradelCntrs& meter, double rawValue);

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

    using Clock = std::function<plat::TDateTimeParts()>;
    // The reading side: the key list it searches, where stored readings go,
    // and the clock, read once per reading.
    void SetReadings(TMeterKeyList* keys, TReadingOutlets outlets, Clock clock = plat::Now);
    void SetClock(Clock clock) { clock_ = std::move(clock); }
    // The debug level (0, or 3 while "Debug" is ticked); any thread.
    void SetDebug(int level) { debug_ = level; }

    // One reading record from the gateway link, on its thread.  A reading
    // for no loaded meter is dropped.
    void AddReading(const std::string& rfAddressText, int kind, int rssi, double rawValue, int msgIndex);
    // The meter of the address and index, or null.  A voltage (index 11)
    // that no meter takes is kept as the auxValue of the address's first
    // meter.
    TMeterRecord FindMeter(const std::string& rfAddressText, int msgIndex, double rawValue);

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
    TMeterKeyList* keys_ = nullptr;
    TReadingOutlets outlets_;
    Clock clock_ = plat::Now;
    std::atomic<int> debug_ {0};
};

extern TMyOdecty* myOdecty;
