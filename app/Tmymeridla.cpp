#include "app/Tmymeridla.h"

#include <charconv>

TMyMeridla* myMeridla = nullptr;

namespace {

constexpr const char* kEditFailed = "Chyba editace meridla";

// A whole int, the whole text; nothing else.
std::optional<int> WholeInt(const std::string& text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

int IndexOfId(const std::vector<TTypeEntry>& list, long long id) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].id == id) return int(i);
    return -1;
}

// A single-precision field as the decimal it shows, not its binary
// neighbourhood (0.1f is stored as 0.1).
double FieldValue(float value) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    double d = 0;
    std::from_chars(buf, end, d);
    return d;
}

}  // namespace

TMyMeridla::TMyMeridla(TMyDbBasic* db, TDbLog log) : db_(db), log_(std::move(log)) {}

bool TMyMeridla::ReadMeter(const std::string& secondaryAddress, TMeterDef& record) {
    try {
        const std::optional<int> address = WholeInt(secondaryAddress);
        if (!db_ || !address) throw EDbError("");
        TSqlText sql;
        sql << "select * from Meridla where mer_sekaddr=";
        sql.Number(*address);
        const std::vector<plat::TSqlRow> rows = db_->Run(sql);
        if (rows.empty()) throw EDbError("");
        const plat::TSqlRow& row = rows.front();
        TMeterDef read = record;
        read.meterId = int(plat::SqlInt(row.Field("mer_id")));
        read.meterTypeIndex = IndexOfId(meterTypes, plat::SqlInt(row.Field("typmer_id")));
        read.mediaTypeIndex = IndexOfId(mediaTypes, plat::SqlInt(row.Field("tm_id")));
        read.name = plat::SqlText(row.Field("mer_nazev"));
        read.secondaryAddress = std::to_string(plat::SqlInt(row.Field("mer_sekaddr")));
        read.unit = plat::SqlText(row.Field("mer_jednotka"));
        read.multiplier = int(plat::SqlInt(row.Field("mer_nasob")));
        read.divisor = int(plat::SqlInt(row.Field("mer_delitel")));
        read.startState = float(plat::SqlDouble(row.Field("mer_pocstav")));
        read.correction = float(plat::SqlDouble(row.Field("mer_korekce")));
        read.flatRate = float(plat::SqlDouble(row.Field("mer_pausal")));
        read.tableName = plat::SqlText(row.Field("mer_fashiontabname"));
        record = read;
        return true;
    } catch (const EDbError& e) {
        LogDbFailure(log_, db_, kEditFailed, e.what());
        return false;
    }
}

bool TMyMeridla::EditMeter(const TMeterDef& record) {
    try {
        if (!db_) throw EDbError("");
        TSqlText select;
        select << "select * from Meridla where mer_id=";
        select.Number(record.meterId);
        if (db_->Run(select).empty()) throw EDbError("");
        const std::optional<int> address = WholeInt(record.secondaryAddress);
        const bool typesKnown = record.meterTypeIndex >= 0 && record.meterTypeIndex < int(meterTypes.size()) &&
                                record.mediaTypeIndex >= 0 && record.mediaTypeIndex < int(mediaTypes.size());
        if (!address || !typesKnown) throw EDbError("");
        const std::pair<const char*, plat::TSqlValue> columns[] = {
            {"typmer_id", static_cast<long long>(meterTypes[record.meterTypeIndex].id)},
            {"tm_id", static_cast<long long>(mediaTypes[record.mediaTypeIndex].id)},
            {"mer_nazev", record.name},
            {"mer_sekaddr", static_cast<long long>(*address)},
            {"mer_jednotka", record.unit},
            {"mer_nasob", static_cast<long long>(record.multiplier)},
            {"mer_delitel", static_cast<long long>(record.divisor)},
            {"mer_pocstav", FieldValue(record.startState)},
            {"mer_korekce", FieldValue(record.correction)},
            {"mer_pausal", FieldValue(record.flatRate)},
            {"mer_fashiontabname", record.tableName},
        };
        TSqlText update;
        update << "update Meridla set ";
        for (const auto& [name, value] : columns) {
            update << (&name == &columns[0].first ? "" : ",") << name << "=";
            update.Value(value);
        }
        update << " where mer_id=";
        update.Number(record.meterId);
        db_->Run(update, false);
        return true;
    } catch (const EDbError& e) {
        LogDbFailure(log_, db_, kEditFailed, e.what());
        return false;
    }
}
