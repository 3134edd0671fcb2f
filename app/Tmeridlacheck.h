// The meter definition that the meter dialog edits, and the dialog's checks
// in the order the operator meets their messages.
#pragma once

#include <string>
#include <vector>

// An entry of the dialog's two type lists (media, meter types).
struct TTypeEntry {
    int id = 0;
    std::string name;
};

// The database meter record the dialog fills.
struct TMeterDef {
    int meterId = 0;
    int mediaTypeIndex = -1;  // into the media type list
    int meterTypeIndex = -1;  // into the meter type list
    std::string name;
    std::string secondaryAddress;
    std::string unit;
    int multiplier = 1;
    int divisor = 1;
    float startState = 0;
    float correction = 0;
    float flatRate = 0;
    std::string tableName;
    int mbusAddress = 1;
    int mbusIndex = 0;
    int mbusInterval = 60;
};

// What the dialog's fields hold when "Uložit" is pressed.
struct TMeterDefInput {
    int mediaTypeIndex = -1;
    int meterTypeIndex = -1;
    std::string name, secondaryAddress, unit;
    std::string startState, correction, multiplier, divisor, flatRate;
    std::string mbusAddress, mbusIndex, mbusInterval;
    std::string tableName;
};

struct TMeterDefCheck {
    bool ok = false;
    int failedCheck = 0;  // 1..13; 0 when all passed
    std::string message;  // empty for a check that fails silently
};

inline constexpr int kMeterDefPlaces = 4;
inline constexpr int kMbusAddressMin = 1, kMbusAddressMax = 253;
inline constexpr int kMbusIndexMin = 0, kMbusIndexMax = 125;
inline constexpr int kMbusIntervalMin = 60, kMbusIntervalMax = 1440;

// Runs the checks on a copy of the record; the record takes the new values
// only when every check passed, so a failed save leaves it as it was.
TMeterDefCheck CheckMeterDef(const TMeterDefInput& input, TMeterDef& record);

// The fields' texts for an existing record.
TMeterDefInput MeterDefTexts(const TMeterDef& record);
