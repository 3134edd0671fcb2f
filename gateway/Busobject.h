// A wired meter polled through a meter module: an M-Bus meter or a meter
// with an optical port. It waits in the worker's poll queue or sits in one
// gateway's poll list (both through pollNext, so never in both at once).
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::int16_t busModeMBus = 0;
inline constexpr std::int16_t busModeOptical = 1;  // any mode but 0
inline constexpr std::uint8_t mbusSelectBySecondary = 253;

struct BusObject {
    int id = 0;
    std::string identification;  // optical device address, or M-Bus secondary address (8 hex digits)
    std::uint8_t primaryAddress = 0;
    std::int16_t mode = busModeMBus;
    bool selected = false;  // read, and to be released
    int repeatInterval = 0;  // ticks
    int replyTimeout = 0;    // ticks
    std::uint32_t gateway = 0;  // host order
    std::uint32_t module = 0;   // host order
    int step = 0;
    int savedStep = 0;
    int retries = 0;
    int valueIndex = 0;
    double value = 0;
    char valueAddress[20] = {};
    char unit[20] = {};
    int exponent = 0;
    BusObject* pollNext = nullptr;    // poll queue or poll list
    int delta = 0;                    // ticks after the one before it in the poll queue
};

// "OPTO <id>", "OPTO", "MBUS <primary>" or "MBUS <secondary>".
std::string busObjectName(const BusObject& bus);
void busObjectResetState(BusObject& bus, int step);
