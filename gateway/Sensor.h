#pragma once
// Sensor record packets turned into blocks of readings.
//
// A block is a pool buffer whose data area holds ReadingRecords one after
// the other; its header gives the count (length), the source RF address
// (host order), the packet's RSSI, the reading id and the kind (0 sensor,
// 1 optical, 2 M-Bus).

#include "gateway/Rfpacket.h"

#include <cstdint>

// Reading types; a bus meter's reading carries minus its primary address.
inline constexpr std::int32_t readingPulses = 0;
inline constexpr std::int32_t readingTemperature = 1;
inline constexpr std::int32_t readingVoltage = 2;
inline constexpr std::int32_t readingHumidity = 3;
inline constexpr std::int32_t readingOptical = -1000;

struct ReadingRecord {
    double value = 0;
    std::int32_t type = 0;
    std::uint8_t dif = 0; // M-Bus data and value information, 0 for sensors
    std::uint8_t vif = 0;
    std::uint8_t vife = 0;
    std::int32_t index = -1; // the record's index, or the value's number in a telegram
    char text[40] = {};      // label or unit, zero-terminated
};
static_assert(sizeof(ReadingRecord) == 64, "a block holds 128 readings of 64 bytes");

inline constexpr int readingsPerBlock = msgBoxCapacity / static_cast<int>(sizeof(ReadingRecord));

// Readings are copied in and out: the data area is bytes, not records.
ReadingRecord blockReading(const msgBox* block, int i);
void setBlockReading(msgBox* block, int i, const ReadingRecord& reading);
// The block's count, within what the data area holds.
int blockReadingCount(const msgBox* block);

// A block of the packet's sensor records (kinds 0x22 and 0x25 only; at most
// 128), or empty when it holds none or the pool has no buffer. A sensor
// record without a number (of a type other than unsigned or signed) is
// skipped: taking it as 0 would store a wrong meter value.
packetHandle decodeSensorPacket(const rfPacket& packet);
