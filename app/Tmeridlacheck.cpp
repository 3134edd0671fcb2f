#include "app/Tmeridlacheck.h"

#include "app/Tfieldnumber.h"
#include "app/Tformats.h"

#include "platform/sys/SysUtils.h"

#include <functional>

namespace {

double Number(const std::string& text) { return RoundToPlaces(ParseFieldNumber(text), kMeterDefPlaces); }

bool LengthWithin(const std::string& text, std::size_t low, std::size_t high) {
    std::size_t n = TrimmedLength(text);
    return n >= low && n <= high;
}

struct Check {
    const char* message;  // null: fails without a message
    std::function<bool(const TMeterDefInput&, TMeterDef&)> passAndStore;
};

bool WholeWithin(const std::string& text, int low, int high, int& out) {
    int v = FieldWholeNumber(Number(text));
    if (v < low || v > high) return false;
    out = v;
    return true;
}

bool WholeNonZero(const std::string& text, int& out) {
    int v = FieldWholeNumber(Number(text));
    if (v == 0) return false;
    out = v;
    return true;
}

const std::vector<Check>& Checks() {
    static const std::vector<Check> checks = {
        {"Zvolte medium",
         [](const TMeterDefInput& in, TMeterDef& r) { return in.mediaTypeIndex >= 0 && (r.mediaTypeIndex = in.mediaTypeIndex, true); }},
        {"Zvolte měřidlo",
         [](const TMeterDefInput& in, TMeterDef& r) { return in.meterTypeIndex >= 0 && (r.meterTypeIndex = in.meterTypeIndex, true); }},
        {"Název je příliš krátký. (3-32)",
         [](const TMeterDefInput& in, TMeterDef& r) {
             return LengthWithin(in.name, 3, 32) && (r.name = TrimmedText(in.name), true);
         }},
        {"Sekundární adresa je příliš krátká (4-20)",
         [](const TMeterDefInput& in, TMeterDef& r) {
             return LengthWithin(in.secondaryAddress, 4, 20) &&
                    (r.secondaryAddress = TrimmedText(in.secondaryAddress), true);
         }},
        {"Zvolte základní jednotku měřiče (1-6)",
         [](const TMeterDefInput& in, TMeterDef& r) {
             return LengthWithin(in.unit, 1, 6) && (r.unit = TrimmedText(in.unit), true);
         }},
        {nullptr,
         [](const TMeterDefInput& in, TMeterDef& r) {
             double v = Number(in.startState);
             return v >= 0 && (r.startState = static_cast<float>(v), true);
         }},
        {nullptr,
         [](const TMeterDefInput& in, TMeterDef& r) {
             r.correction = static_cast<float>(Number(in.correction));
             return true;
         }},
        {"Násobitel nesmí být 0",
         [](const TMeterDefInput& in, TMeterDef& r) { return WholeNonZero(in.multiplier, r.multiplier); }},
        {"Dělitel nesmí být 0",
         [](const TMeterDefInput& in, TMeterDef& r) { return WholeNonZero(in.divisor, r.divisor); }},
        {"Paušál nesmí být menší než 0",
         [](const TMeterDefInput& in, TMeterDef& r) {
             double v = Number(in.flatRate);
             return v >= 0 && (r.flatRate = static_cast<float>(v), true);
         }},
        {"Adresa musí být v rozsahu 1-253",
         [](const TMeterDefInput& in, TMeterDef& r) {
             return WholeWithin(in.mbusAddress, kMbusAddressMin, kMbusAddressMax, r.mbusAddress);
         }},
        {"Index musí být větší než 0",
         [](const TMeterDefInput& in, TMeterDef& r) {
             return WholeWithin(in.mbusIndex, kMbusIndexMin, kMbusIndexMax, r.mbusIndex);
         }},
        {"Interval musí být v rozsahu 60-1440",
         [](const TMeterDefInput& in, TMeterDef& r) {
             return WholeWithin(in.mbusInterval, kMbusIntervalMin, kMbusIntervalMax, r.mbusInterval);
         }},
    };
    return checks;
}

}  // namespace

TMeterDefCheck CheckMeterDef(const TMeterDefInput& input, TMeterDef& record) {
    TMeterDef work = record;
    const std::vector<Check>& checks = Checks();
    for (std::size_t i = 0; i < checks.size(); ++i) {
        if (checks[i].passAndStore(input, work)) continue;
        return {false, static_cast<int>(i + 1), checks[i].message ? checks[i].message : ""};
    }
    work.tableName = TrimmedText(input.tableName);
    record = work;
    return {true, 0, {}};
}

TMeterDefInput MeterDefTexts(const TMeterDef& r) {
    auto num = [](double v) { return NumberText(RoundToPlaces(v, kMeterDefPlaces)); };
    TMeterDefInput in;
    in.mediaTypeIndex = r.mediaTypeIndex;
    in.meterTypeIndex = r.meterTypeIndex;
    in.name = r.name;
    in.secondaryAddress = r.secondaryAddress;
    in.unit = r.unit;
    in.startState = num(r.startState);
    in.correction = num(r.correction);
    in.multiplier = num(r.multiplier);
    in.divisor = num(r.divisor);
    in.flatRate = num(r.flatRate);
    in.mbusAddress = num(r.mbusAddress);
    in.mbusIndex = num(r.mbusIndex);
    in.mbusInterval = num(r.mbusInterval);
    in.tableName = r.tableName;
    return in;
}
