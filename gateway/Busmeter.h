// The wired meters behind the meter modules: the request of each step of an
// exchange, and what an M-Bus (EN 13757-2/-3) or optical (IEC 62056-21)
// reply gives. Pure functions over the reply's bytes and the bus object;
// the worker logs, hands the readings over and queues the object again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gateway/Busobject.h"
#include "gateway/Sensor.h"

// The unit text and decimal exponent of a VIF (bit 7 removed); the first
// VIFE as received picks among the 0x7D extensions. "?" and 0 when unknown.
const char* vifToUnit(int vif, int vife, int& exponent);
// The fixed data structure's 6-bit unit codes; "?" outside the table.
const char* fixedStructureUnit(int code, int& exponent);
// count bytes, least significant first, as an unsigned number (binary) or
// two BCD digits a byte, scaled by 10^exponent. count, or -1 when a BCD
// digit is above 9 or count is beyond 8 bytes.
int bytesToValue(const std::uint8_t* bytes, int count, int exponent, bool binary, double& value);
// Two hexadecimal digits ('0'-'9', 'A'-'F', 'a'-'f') as a byte.
std::uint8_t hexPairToByte(const char* pair);
// High nibble times 10 plus the low nibble.
int bcdByteToNumber(std::uint8_t b);

// The request of the bus object's step into buffer (room bytes); 0 when
// none can be made (a secondary address that is not 8 hexadecimal digits,
// an identification too long for the request).
int buildBusRequest(BusObject& bus, std::uint8_t* buffer, int room);

struct busLogLine {
    int level;
    std::string text;
};

// What one reply gave, once the bus object's step has moved on.
struct busDecoded {
    bool ended = false;     // the exchange is over: queue the object again
    bool timedOut = false;  // and it ended by a second failed reply
    std::vector<busLogLine> log;
    std::vector<ReadingRecord> readings;  // at most a block's worth
};

// Replies as the framers deliver them: result (M-Bus 1 E5, 2 short frame,
// 3 long frame; optical 1 identification, 2 data block; negative a framing
// error, 0 with length -1 a time-out) and length bytes.
busDecoded decodeMBusReply(BusObject& bus, int result, int length, const std::uint8_t* bytes);
busDecoded decodeOpticalReply(BusObject& bus, int result, int length, const std::uint8_t* bytes);

// One data line address(value*unit) CR LF of at most room bytes into the
// bus object's value, address and unit (a number beyond the double range
// leaves the value NaN). Bytes taken up to the LF, 0 when the line is
// empty, -1 when it does not end in ")" CR LF.
int parseOpticalLine(BusObject& bus, const char* text, int room);
