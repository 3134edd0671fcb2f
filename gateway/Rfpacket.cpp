#include "gateway/Rfpacket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>

namespace {

constexpr int destinationAt = 0;
constexpr int sourceAt = 4;
constexpr int kindAt = 8;
constexpr int flagAt = 9;
constexpr int sequenceAt = 10;
constexpr std::uint8_t ackBit = 0x80;
constexpr std::uint8_t noDecodeBit = 0x80;

// A received record shorter than the header has only part of it; what is
// missing reads as 0 rather than past the record.
std::uint8_t headerByte(const rfPacket& p, int at) {
    const int present = p.payloadLength < 0 ? rfHeaderSize + p.payloadLength : rfHeaderSize;
    return at < present ? p.bytes[at] : 0;
}

std::uint32_t headerAddress(const rfPacket& p, int at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | headerByte(p, at + i);
    return v;
}

void putAddress(std::uint8_t* out, std::uint32_t address) {
    out[0] = static_cast<std::uint8_t>(address >> 24);
    out[1] = static_cast<std::uint8_t>(address >> 16);
    out[2] = static_cast<std::uint8_t>(address >> 8);
    out[3] = static_cast<std::uint8_t>(address);
}

struct poolState {
    std::recursive_mutex mutex;  // re-entered by a transport that queues under it
    msgBox* freeList = nullptr;
    int made = 0;
    int onList = 0;
    int limit = -1;
    bool initialised = false;
};

poolState& pool() {
    static poolState state;
    return state;
}

struct filterSlot {
    packetId identity{};
    std::int64_t time = 0;
    bool used = false;
};

// Seconds of a clock that a changed wall clock cannot move: an identity
// stays recent for exactly 60 s of real time.
std::int64_t monotonicSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

struct filterState {
    std::mutex mutex;
    filterSlot slots[filterSlots];
    std::function<std::int64_t()> clock;
};

filterState& filter() {
    static filterState state;
    return state;
}

}  // namespace

// --- Packets ------------------------------------------------------------

rfPacket rfPacketInPlace(std::uint8_t* bytes, int length) {
    return rfPacket{bytes, 0, length - rfHeaderSize};
}

std::uint32_t rfPacketDestination(const rfPacket& p) { return headerAddress(p, destinationAt); }
std::uint32_t rfPacketSource(const rfPacket& p) { return headerAddress(p, sourceAt); }
std::uint8_t rfPacketKind(const rfPacket& p) { return headerByte(p, kindAt); }
std::uint8_t rfPacketFlag(const rfPacket& p) { return headerByte(p, flagAt); }
std::uint8_t rfPacketSequence(const rfPacket& p) { return headerByte(p, sequenceAt); }

std::uint8_t rfPacketRecordKind(const rfPacket& p) {
    return (rfPacketFlag(p) & noDecodeBit) ? rfPacketKind(p) : 0;
}

int rfPacketPayloadSize(const rfPacket& p) { return std::max(p.payloadLength, 0); }

std::uint8_t* rfPacketPayload(const rfPacket& p) { return p.bytes + rfHeaderSize; }

int rfPacketSetPayload(rfPacket& p, int length, const std::uint8_t* bytes) {
    const int n = std::clamp(length, 0, rfMaxPayload);
    if (n > 0) std::memmove(rfPacketPayload(p), bytes, static_cast<std::size_t>(n));
    p.payloadLength = n;
    return n;
}

// --- Pool ---------------------------------------------------------------

void msgBoxPoolInit() {
    std::lock_guard lock(pool().mutex);
    pool().initialised = true;
}

msgBox* packetAlloc() {
    poolState& s = pool();
    std::lock_guard lock(s.mutex);
    s.initialised = true;
    msgBox* box = s.freeList;
    if (box) {
        s.freeList = box->next;
        --s.onList;
    } else {
        if (s.limit >= 0 && s.made >= s.limit) return nullptr;
        box = new (std::nothrow) msgBox();
        if (!box) return nullptr;
        ++s.made;
    }
    box->next = nullptr;
    return box;
}

void packetFree(msgBox* box) {
    if (!box) return;
    poolState& s = pool();
    std::lock_guard lock(s.mutex);
    box->next = s.freeList;
    s.freeList = box;
    ++s.onList;
}

void msgBoxPoolFree() {
    poolState& s = pool();
    std::lock_guard lock(s.mutex);
    while (msgBox* box = s.freeList) {
        s.freeList = box->next;
        delete box;
        --s.made;
        --s.onList;
    }
    s.initialised = false;
}

void poolLock() { pool().mutex.lock(); }
void poolUnlock() { pool().mutex.unlock(); }

int msgBoxPoolMade() {
    std::lock_guard lock(pool().mutex);
    return pool().made;
}

int msgBoxPoolFreeCount() {
    std::lock_guard lock(pool().mutex);
    return pool().onList;
}

void msgBoxPoolSetLimit(int made) {
    std::lock_guard lock(pool().mutex);
    pool().limit = made;
}

rfPacket packetRfData(msgBox* box) {
    return rfPacket{box->data, box->rssi, std::max(box->length - rfHeaderSize, 0)};
}

void buildPacketHeader(msgBox* box, std::uint32_t source, std::uint32_t destination, std::uint8_t kind,
                       std::uint8_t flag, std::uint8_t sequence) {
    putAddress(box->data + destinationAt, destination);
    putAddress(box->data + sourceAt, source);
    box->data[kindAt] = kind;
    box->data[flagAt] = flag;
    box->data[sequenceAt] = sequence;
}

void buildRecordPacket(msgBox* box, std::int32_t packetType, std::uint32_t source, std::uint32_t destination,
                       std::uint8_t kind, std::uint8_t flag, std::uint8_t sequence) {
    box->kind = boxKindRecordPacket;
    buildPacketHeader(box, source, destination, kind, flag, sequence);
    box->cursor = makeCursor(box->data + rfHeaderSize, rfMaxPayload);
    putSignedNoIndex(box->cursor, oidPacketType, packetType);
    box->length = rfHeaderSize + rfMaxPayload - box->cursor.left;
}

// --- Acknowledgement ----------------------------------------------------

int checkReceivedPacket(const rfPacket& p) {
    bool acknowledge = false;
    if (!(rfPacketSequence(p) & ackBit)) {
        msgCursor c = makeCursor(rfPacketPayload(p), rfPacketPayloadSize(p));
        msgItem first;
        const bool alarm = readRecord(c, first) && first.oid == oidPacketType && first.value == pckAlarm;
        acknowledge = alarm || rfPacketKind(p) == rfKindSensor;
    }
    const bool fresh = duplicateFilter(packetIdentity(p)) == 1;
    if (acknowledge) return fresh ? 1 : 2;
    return fresh ? 0 : -1;
}

packetHandle takePacket() { return packetHandle(packetAlloc()); }

packetHandle buildAckPacket(const rfPacket& p) {
    packetHandle box = takePacket();
    if (!box) return box;
    // Both addresses go back as they came, swapped but never re-ordered.
    for (int i = 0; i < 4; ++i) {
        box->data[destinationAt + i] = headerByte(p, sourceAt + i);
        box->data[sourceAt + i] = headerByte(p, destinationAt + i);
    }
    box->data[kindAt] = rfPacketKind(p);
    box->data[flagAt] = rfPacketFlag(p);
    box->data[sequenceAt] = static_cast<std::uint8_t>(rfPacketSequence(p) | ackBit);
    box->kind = boxKindPacketCopy;
    box->length = rfHeaderSize;
    box->rssi = 0;
    return box;
}

// --- Duplicate filter ---------------------------------------------------

packetId packetIdentity(const rfPacket& p) {
    packetId id{};
    for (int i = 0; i < 8; ++i) id[i] = headerByte(p, i);
    id[8] = rfPacketKind(p);
    id[9] = rfPacketSequence(p);
    // Six places, every payload byte in one of them: a payload that differs
    // in a single byte always gives another identity.
    const std::uint8_t* payload = rfPacketPayload(p);
    for (int i = 0, n = rfPacketPayloadSize(p); i < n; ++i) id[10 + i % 6] ^= payload[i];
    return id;
}

int duplicateFilter(const packetId& identity) {
    filterState& f = filter();
    std::lock_guard lock(f.mutex);
    const std::int64_t now = f.clock ? f.clock() : monotonicSeconds();
    filterSlot* firstEmpty = nullptr;
    filterSlot* oldest = nullptr;
    for (filterSlot& slot : f.slots) {
        if (!slot.used) {
            if (!firstEmpty) firstEmpty = &slot;
            continue;
        }
        if (slot.time > now - filterWindowSeconds && slot.identity == identity) return 0;
        if (slot.time < now && (!oldest || slot.time < oldest->time)) oldest = &slot;
    }
    filterSlot* target = firstEmpty ? firstEmpty : oldest;
    if (target) *target = filterSlot{identity, now, true};
    return 1;
}

void duplicateFilterSetClock(std::function<std::int64_t()> clock) {
    filterState& f = filter();
    std::lock_guard lock(f.mutex);
    f.clock = std::move(clock);
}

void duplicateFilterClear() {
    filterState& f = filter();
    std::lock_guard lock(f.mutex);
    for (filterSlot& slot : f.slots) slot = filterSlot{};
}
