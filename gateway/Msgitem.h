// Gateway message records: the compact OID / index / type / value form that
// every gateway message and every record packet payload is made of.
//
// Wire form of one record:
//   OID < 64:   0 i o o o o o o            (i = an index follows)
//   OID >= 64:  1 i o o o o o o  oooooooo  (bits 8-13, then the low byte)
//   index:      0 x x x x x x x  or  1 x x x x x x x  xxxxxxxx   (15 bits)
//   type/len:   0 t t t l l l l  (type < 8, length < 16)
//               or 1 t t t t t t t  followed by the length in the index form
//   value:      length bytes; integers big-endian in the fewest bytes
#pragma once

#include <cstdint>

// Record types.
inline constexpr std::uint16_t recOctets = 1;
inline constexpr std::uint16_t recUnsigned = 2;
inline constexpr std::uint16_t recSigned = 3;
inline constexpr std::uint16_t recRequest = 7;  // empty request, no value

// Every OID the link uses, written once.
inline constexpr std::uint16_t oidSaveConfig = 15;    // PC -> gateway, value 2
inline constexpr std::uint16_t oidPacketType = 63;    // command, or first record of a record packet
inline constexpr std::uint16_t oidHumidity = 90;      // tenths of a percent
inline constexpr std::uint16_t oidPulses = 100;       // pulse count
inline constexpr std::uint16_t oidTemperature = 105;  // tenths of a degree Celsius
inline constexpr std::uint16_t oidVoltage = 106;      // millivolts
inline constexpr std::uint16_t oidChannel = 110;
inline constexpr std::uint16_t oidGroup = 114;
inline constexpr std::uint16_t oidRfAddress = 118;    // 4 octets, the gateway's own address
inline constexpr std::uint16_t oidRfPacket = 119;     // one RF packet as octets
inline constexpr std::uint16_t oidRssi = 120;
inline constexpr std::uint16_t oidPromiscuous = 121;
inline constexpr std::uint16_t oidSendParam = 128;
inline constexpr std::uint16_t oidRawData = 215;
inline constexpr std::uint16_t oidRssi2 = 216;        // handled like oidRssi

// Values of oidPacketType.
inline constexpr std::uint32_t cmdQuery = 1;
inline constexpr std::uint32_t cmdSetConfig = 3;
inline constexpr std::uint32_t cmdSendRfPacket = 6;
inline constexpr std::uint32_t pckAlarm = 5;
inline constexpr std::uint32_t pckConfigRequest = 7;

// One decoded record. `data` points into the message it was read from.
struct msgItem {
    std::uint16_t oid = 0;
    std::int16_t index = -1;  // -1: no index
    std::uint16_t type = 0;
    std::uint16_t length = 0;
    std::uint8_t* data = nullptr;
    std::uint32_t value = 0;  // types 2 and 3 only; 0 for every other type
};

// Serves both the writer and the reader: bytes that remain, and the position.
struct msgCursor {
    std::int16_t left = 0;
    std::uint8_t* pos = nullptr;
};

// A cursor over `length` bytes; a negative length counts as none and a
// length beyond the 16-bit count is cut to it.
msgCursor makeCursor(std::uint8_t* bytes, int length);

// Writer. Bytes that do not fit the room left are skipped, so a record that
// does not fit is cut off silently; each returns 1.
int writeRecord(msgCursor& cursor, const msgItem& item);
int putRequest(msgCursor& cursor, std::uint16_t oid, int index);
int putOctets(msgCursor& cursor, std::uint16_t oid, int index, int length, const std::uint8_t* bytes);
int putUnsigned(msgCursor& cursor, std::uint16_t oid, int index, std::uint32_t value);
int putUnsignedNoIndex(msgCursor& cursor, std::uint16_t oid, std::uint32_t value);
int putSigned(msgCursor& cursor, std::uint16_t oid, int index, std::int32_t value);
int putSignedNoIndex(msgCursor& cursor, std::uint16_t oid, std::int32_t value);

// Reader: 1 with `item` filled and the cursor past the record, or 0 when no
// further whole record is there (the cursor is then left as it was).
int readRecord(msgCursor& cursor, msgItem& item);

// The value bytes as a big-endian number; of a longer value only the last
// four bytes count. 0 for no bytes.
std::uint32_t getUnsigned(const msgItem& item);
std::int32_t getSigned(const msgItem& item);
