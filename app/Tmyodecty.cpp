#include "app/Tmyodecty.h"

#include "app/Tmydates.h"

using plat::SqlDate;
using plat::SqlDouble;
using plat::SqlInt;
using plat::SqlText;

TMyOdecty* myOdecty = nullptr;

TMyOdecty::TMyOdecty(TMyDbBasic* db, TDbLog log) : db_(db), log_(std::move(log)) {}

double MeterValue(const TStradelCntrs& meter, double rawValue) {
    const long double divisor = meter.divisor == 0 ? 1 : meter.divisor;
    return static_cast<double>(static_cast<long double>(meter.multiplier) * rawValue / divisor +
                               meter.correction);
}

void TMyOdecty::SetReadings(TMeterKeyList* keys, TReadingOutlets outlets, Clock clock) {
    keys_ = keys;
    outlets_ = std::move(outlets);
    clock_ = std::move(clock);
}

void TMyOdecty::AddReading(const std::string& rfAddressText, int kind, int rssi, double rawValue, int msgIndex) {
    const int index = ReadingIndex(kind, msgIndex);
    if (debug_ > 0 && outlets_.log) outlets_.log("Odecet pro " + rfAddressText + " Idx:" + std::to_string(index));
    if (!keys_) return;
    // One reading of the clock: the record and the list row show the same second.
    const plat::TDateTimeParts now = clock_();
    const double readTime = EncodeDateTime(now);
    std::string key;
    const bool found = keys_->Update(rfAddressText + "=" + std::to_string(index), [&](TStradelCntrs& m) {
        m.rssi = rssi;
        m.value = MeterValue(m, rawValue);
        m.readTime = readTime;
        key = m.key;
    });
    if (!found) {
        FindMeter(rfAddressText, index, rawValue);  // only the voltage fallback is left to do
        return;
    }
    if (outlets_.row) outlets_.row({std::move(key), now, rawValue});
}

TMeterRecord TMyOdecty::FindMeter(const std::string& rfAddressText, int msgIndex, double rawValue) {
    if (!keys_) return nullptr;
    if (TMeterRecord found = keys_->Find(rfAddressText + "=" + std::to_string(msgIndex))) return found;
    if (msgIndex == 11)
        keys_->UpdateFirstOfAddress(rfAddressText, [rawValue](TStradelCntrs& m) { m.auxValue = rawValue; });
    return nullptr;
}

TSqlText TMyOdecty::ConsumptionSql(const std::string& tableName, const plat::TDateTimeParts& from,
                                   const plat::TDateTimeParts& to) {
    TSqlText sql;
    sql << "select o.od_id,m.mer_id,m.mer_nazev,m.mer_fashiontabname, v.od_sekaddr,v.mindatum,"
           "((o.od_mj*m.mer_nasob/m.mer_delitel)+m.mer_korekce) minmj,v.maxdatum,"
           "((om.od_mj*m.mer_nasob/m.mer_delitel)+m.mer_korekce) as maxmj,"
           "((om.od_mj*m.mer_nasob/m.mer_delitel)+m.mer_korekce) -((o.od_mj*m.mer_nasob/m.mer_delitel)+m.mer_korekce)"
           " spotreba from "
        << "( "
        << "select od_sekaddr,Min(od_date)mindatum,MAX(od_date)maxdatum from odecty where ";
    sql << "od_date>=";
    sql.Date(from) << " and od_date<=";
    sql.Date(to) << "group by od_sekaddr "
                 << ") as v  inner join odecty o on (o.od_sekaddr=v.od_sekaddr and v.mindatum=o.od_date) "
                 << "inner join meridla m on (m.mer_id=o.mer_id) "
                 << "inner join odecty om on (om.od_sekaddr=v.od_sekaddr and v.maxdatum=om.od_date) "
                 << " where mer_fashiontabname=";
    sql.Quoted(tableName) << " order by mer_nazev";
    return sql;
}

TSqlText TMyOdecty::HistorySql(int secondaryAddress, const plat::TDateTimeParts& from,
                               const plat::TDateTimeParts& to) {
    TSqlText sql;
    sql << "select mer_nazev,o.od_sekaddr,o.od_date,(m.mer_korekce+(o.od_mj*m.mer_nasob/m.mer_delitel)) hodnota "
           "from odecty o "
        << " inner join meridla m on (m.mer_id=o.mer_id)"
        << " where o.od_sekaddr=";
    sql.Number(secondaryAddress) << " and " << "o.od_date>=";
    sql.Date(from) << " and o.od_date<=";
    sql.Date(to) << " order by o.od_date";
    return sql;
}

bool TMyOdecty::MeterConsumptionReport(const std::string& tableName, const plat::TDateTimeParts& from,
                                       const plat::TDateTimeParts& to) {
    bilance.clear();
    rows.clear();
    try {
        if (!db_) throw EDbError("");
        rows = db_->Run(ConsumptionSql(tableName, from, to));
        for (const plat::TSqlRow& row : rows) {
            TRychlaBilancerec r;
            r.od_id = int(SqlInt(row.Field("od_id")));
            r.mer_id = int(SqlInt(row.Field("mer_id")));
            r.mer_nazev = SqlText(row.Field("mer_nazev"));
            r.od_sekaddr = int(SqlInt(row.Field("od_sekaddr")));
            r.mindatum = SqlDate(row.Field("mindatum"));
            r.minmj = SqlDouble(row.Field("minmj"));
            r.maxdatum = SqlDate(row.Field("maxdatum"));
            r.maxmj = SqlDouble(row.Field("maxmj"));
            r.spotreba = SqlDouble(row.Field("spotreba"));
            r.mer_fashiontabname = SqlText(row.Field("mer_fashiontabname"));
            bilance.push_back(std::move(r));
        }
        return true;
    } catch (const EDbError& e) {
        bilance.clear();
        rows.clear();
        LogDbFailure(log_, db_, "======Prehled jednoho meridla  TIMEOUT->CHYBA DB", e.what());
        return false;
    }
}

bool TMyOdecty::AddressHistory(int secondaryAddress, const plat::TDateTimeParts& from,
                               const plat::TDateTimeParts& to) {
    history.clear();
    rows.clear();
    try {
        if (!db_) throw EDbError("");
        rows = db_->Run(HistorySql(secondaryAddress, from, to));
        for (const plat::TSqlRow& row : rows) {
            TOneOdecet r;
            r.od_date = SqlDate(row.Field("od_date"));
            r.hodnota = SqlDouble(row.Field("hodnota"));
            history.push_back(r);
        }
        return true;
    } catch (const EDbError& e) {
        history.clear();
        rows.clear();
        LogDbFailure(log_, db_, "======Prehled by sekaddr  TIMEOUT->CHYBA DB", e.what());
        return false;
    }
}
