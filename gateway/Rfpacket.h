// RF packets, the process-wide buffer pool, acknowledgements and the
// duplicate filter.
//
// An RF packet on the wire (the value of an OID 119 record):
//   0-3   destination RF address, big-endian (0 = all modules)
//   4-7   source RF address, big-endian
//   8     kind
//   9     flag (bit 7 set: not decoded on receipt)
//   10    sequence 0..127; bit 7 marks an acknowledgement
//   11..  payload
// RF addresses are host-order numbers everywhere else in the link.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "gateway/Msgitem.h"

inline constexpr int rfHeaderSize = 11;
// Binds only the packets the PC builds; a received payload may be longer.
inline constexpr int rfMaxPayload = 300;

// Packet kinds.
inline constexpr std::uint8_t rfKindReadRequest = 0x07;
inline constexpr std::uint8_t rfKindHallo = 0x08;
inline constexpr std::uint8_t rfKindTransparent = 0x20;
inline constexpr std::uint8_t rfKindSensor = 0x22;   // always acknowledged
inline constexpr std::uint8_t rfKindRecords = 0x23;  // records logged
inline constexpr std::uint8_t rfKindSensorAlarm = 0x25;

// Flag byte of the transparent packets the PC sends.
inline constexpr std::uint8_t rfFlagTransparent = 0x69;

// A packet's wire bytes with what the receiver knows beside them. The RSSI
// and the payload length are never written into the bytes, so a packet can
// be taken in place out of a received message. With a payload length below
// 0 only 11 + payloadLength header bytes exist; the rest read as 0.
struct rfPacket {
    std::uint8_t* bytes = nullptr;
    std::int32_t rssi = 0;
    std::int32_t payloadLength = 0;
};

// Takes `length` received bytes in place as a packet.
rfPacket rfPacketInPlace(std::uint8_t* bytes, int length);

std::uint32_t rfPacketDestination(const rfPacket& p);
std::uint32_t rfPacketSource(const rfPacket& p);
std::uint8_t rfPacketKind(const rfPacket& p);
std::uint8_t rfPacketFlag(const rfPacket& p);
std::uint8_t rfPacketSequence(const rfPacket& p);
// The kind when bit 7 of the flag is set, else 0.
std::uint8_t rfPacketRecordKind(const rfPacket& p);
// The payload bytes there are: 0 for a negative payload length.
int rfPacketPayloadSize(const rfPacket& p);
std::uint8_t* rfPacketPayload(const rfPacket& p);

// Copies at most 300 bytes into the payload and stores their number.
int rfPacketSetPayload(rfPacket& p, int length, const std::uint8_t* bytes);

// --- Pool buffers -------------------------------------------------------

inline constexpr int msgBoxCapacity = 8196;

// Values of msgBox::kind.
inline constexpr std::int32_t boxKindSensorReadings = 0;
inline constexpr std::int32_t boxKindOpticalReadings = 1;
inline constexpr std::int32_t boxKindMBusReadings = 2;
inline constexpr std::int32_t boxKindRecordPacket = 11;  // being built
inline constexpr std::int32_t boxKindPacketCopy = -1;    // discarded by the reading hand-over
inline constexpr std::int32_t boxKindRawData = -2;       // likewise

using packetId = std::array<std::uint8_t, 16>;

struct msgBox {
    msgCursor cursor;  // where a record packet being built goes on
    msgBox* next = nullptr;
    std::uint32_t source = 0;  // host order, of a block of readings
    std::int32_t rssi = 0;
    std::int32_t readingId = 0;
    std::int32_t kind = 0;
    std::int32_t length = 0;  // message bytes, or reading records
    packetId identity{};
    std::uint8_t data[msgBoxCapacity];
};

// Once per process, and again after msgBoxPoolFree.
void msgBoxPoolInit();
// A buffer from the free list (former contents kept) or a new one; null when
// no memory is left. The taker sets kind and length.
msgBox* packetAlloc();
void packetFree(msgBox* box);

// A pool buffer held by its taker: dropping the handle returns the buffer
// to the pool, on every path.
struct packetReturn {
    void operator()(msgBox* box) const { packetFree(box); }
};
using packetHandle = std::unique_ptr<msgBox, packetReturn>;
// packetAlloc() in a handle; empty when no memory is left.
packetHandle takePacket();
// Frees the buffers of the free list; buffers still out come back later.
void msgBoxPoolFree();
// The pool mutex; the transports guard their send queues with it too.
void poolLock();
void poolUnlock();
// Buffers that exist, and those on the free list.
int msgBoxPoolMade();
int msgBoxPoolFreeCount();
// Lets tests run the pool dry: no more than `made` buffers exist at once
// (negative: no limit).
void msgBoxPoolSetLimit(int made);

// The packet held in a buffer's data area; its payload length follows from
// the buffer's length.
rfPacket packetRfData(msgBox* box);

// Sets every header byte of the packet in the buffer's data area.
void buildPacketHeader(msgBox* box, std::uint32_t source, std::uint32_t destination, std::uint8_t kind,
                       std::uint8_t flag, std::uint8_t sequence);

// Starts a record packet: header, then OID 63 = packetType (signed) with
// room for 300 payload bytes at the buffer's cursor. The caller adds
// records and sets the length to 11 + the payload bytes.
void buildRecordPacket(msgBox* box, std::int32_t packetType, std::uint32_t source, std::uint32_t destination,
                       std::uint8_t kind, std::uint8_t flag, std::uint8_t sequence);

// 1 new, acknowledge and deliver; 0 new, deliver; 2 duplicate, acknowledge
// again; -1 duplicate, drop.
int checkReceivedPacket(const rfPacket& p);

// The acknowledgement of a received packet (length 11), or empty when the
// pool had no buffer.
packetHandle buildAckPacket(const rfPacket& p);

// --- Duplicate filter ---------------------------------------------------

inline constexpr int filterSlots = 2000;
inline constexpr std::int64_t filterWindowSeconds = 60;

// Destination and source as on the wire, kind, sequence, and the payload
// folded by XOR into bytes 10 to 15 (payload byte i into 10 + i mod 6).
packetId packetIdentity(const rfPacket& p);

// 1 when new (and stored if a slot can take it), 0 when seen within 60 s.
int duplicateFilter(const packetId& identity);

// Tests set the filter's clock (whole seconds); an empty function restores
// the monotonic clock.
void duplicateFilterSetClock(std::function<std::int64_t()> clock);
// Empties every slot.
void duplicateFilterClear();
