#include "gateway/Hlavni.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

void logRecordLine(const logSink& sink, const msgItem& item) {
    logLine(sink, 2, linkFormat("  OID %d, index %d ,hodnota %u", item.oid, item.index, item.value));
}

msgCursor payloadCursor(const rfPacket& packet) {
    return makeCursor(rfPacketPayload(packet), rfPacketPayloadSize(packet));
}

// Fixed-point text with '.', whatever the process locale says.
std::string fixedText(double value, int decimals) {
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("?");
}

// How a reading reads in the log, after "Addr 0x.. ", by reading type.
struct readingForm {
    std::int32_t type;
    const char* format;  // index, then the value as text
    int decimals;
};

constexpr readingForm readingForms[] = {
    {readingPulses, ", Index %d ,hodnota %s", 0},
    {readingTemperature, ", Index %d ,teplota %s °C", 2},
    {readingVoltage, ", Index %d ,napeti %s V", 3},
    {readingHumidity, ", Index %d ,vlhkost %s %%", 1},
};

// A bus meter's reading type is minus its primary address.
int typeMagnitude(std::int32_t type) {
    return type == std::numeric_limits<std::int32_t>::min() ? std::numeric_limits<std::int32_t>::max() : std::abs(type);
}

std::string readingPart(const ReadingRecord& r) {
    for (const readingForm& f : readingForms)
        if (f.type == r.type) return linkFormat(f.format, r.index, fixedText(r.value, f.decimals).c_str());
    const std::string value = fixedText(r.value, 3);
    if (r.type == readingOptical) {
        const std::string text(r.text, strnlen(r.text, sizeof r.text));
        return linkFormat(",OPTO %s, Index %d ,hodnota %s", text.c_str(), r.index, value.c_str());
    }
    if (r.type < 0) return linkFormat(",MBUS %d, Index %d ,hodnota %s", typeMagnitude(r.type), r.index, value.c_str());
    return {};
}

bool isReadingBlock(const msgBox* block) {
    return block->kind >= boxKindSensorReadings && block->kind <= 3;
}

}  // namespace

HlavniCem::HlavniCem(linkInterfaces sinks, radioRoads roads) : sinks_(std::move(sinks)), roads_(std::move(roads)) {
    msgBoxPoolInit();
    if (!roads_.decodeSensor) roads_.decodeSensor = decodeSensorPacket;
    if (!roads_.handOver) roads_.handOver = [this](msgBox* block) { saveOdecet(block); };
    if (!roads_.byteFeed) roads_.byteFeed = [](const rfPacket&) {};
}

void HlavniCem::logLine(int level, std::string_view text) const { ::logLine(sinks_.log, level, text); }

void HlavniCem::notifyObject(int event, int id, std::string_view name) const {
    ::notifyObject(sinks_.log, event, id, name);
}

void HlavniCem::logHexDump(std::string_view text, int length, const std::uint8_t* bytes) const {
    ::logHexDump(sinks_.log, text, length, bytes);
}

void HlavniCem::deliverRadioFrame(std::uint32_t ownAddress, const rfPacket& packet) {
    if (rfPacketKind(packet) == rfKindHallo) {
        notifyObject(3, 0, linkFormat("0x%08x over 0x%08x", rfPacketSource(packet), rfPacketDestination(packet)));
        return;
    }
    msgBox* result = nullptr;
    if (packet.payloadLength > 0) {
        // A packet marked "not to be decoded" still reaches the hand-over,
        // as a copy that it discards.
        result = rfPacketRecordKind(packet) != 0 ? copyPacket(packet) : roads_.decodeSensor(packet);
    }
    if (result)
        roads_.handOver(result);
    else
        recvPacket(ownAddress, packet);
}

msgBox* HlavniCem::copyPacket(const rfPacket& packet) const {
    msgBox* box = packetAlloc();
    if (!box) return nullptr;
    const int size = rfHeaderSize + std::min(rfPacketPayloadSize(packet), msgBoxCapacity - rfHeaderSize);
    std::memcpy(box->data, packet.bytes, static_cast<std::size_t>(size));
    box->kind = boxKindPacketCopy;
    box->length = size;
    box->rssi = packet.rssi;
    box->source = rfPacketSource(packet);
    box->readingId = 0;
    return box;
}

void HlavniCem::recvPacket(std::uint32_t ownAddress, const rfPacket& packet) {
    const std::uint8_t kind = rfPacketKind(packet);
    if (kind == rfKindTransparent) {
        roads_.byteFeed(packet);
        return;
    }
    if (kind != rfKindRecords) return;
    msgCursor c = payloadCursor(packet);
    msgItem item;
    while (readRecord(c, item)) {
        if (item.oid == oidPacketType) {
            logLine(2, linkFormat("  pck type %d", static_cast<std::int32_t>(item.value)));
            if (item.value == pckAlarm) logAlarm(ownAddress, packet);
            if (item.value == pckConfigRequest) logLine(2, " ----- Config request -----");
        }
        logRecordLine(sinks_.log, item);
    }
}

void HlavniCem::logAlarm(std::uint32_t, const rfPacket& packet) {
    logLine(2, " ----- Alarm --------");
    logRecords(packet);
}

void HlavniCem::logRecords(const rfPacket& packet) const {
    msgCursor c = payloadCursor(packet);
    msgItem item;
    while (readRecord(c, item)) logRecordLine(sinks_.log, item);
}

void HlavniCem::saveOdecet(msgBox* block) {
    if (!block) return;
    if (isReadingBlock(block)) {
        const int count = blockReadingCount(block);
        logLine(1, linkFormat("  -- Odecty z Addr 0x%02x, id %d, rssi %d -- Pocez zaznamu %d, Max. %d", block->source,
                              block->readingId, block->rssi, count, readingsPerBlock));
        for (int i = 0; i < count; ++i) saveReading(block, blockReading(block, i));
    }
    packetFree(block);
}

void HlavniCem::saveReading(const msgBox* block, const ReadingRecord& reading) {
    const std::string address = linkFormat("0x%02x", block->source);
    // Stored first: a reading reaches the meter list even when the debug
    // level keeps its line out of the log.
    if (sinks_.reading && !(sinks_.screenOnly && sinks_.screenOnly()))
        sinks_.reading(address, typeMagnitude(reading.type), block->rssi, reading.value, reading.index);
    if (debugLevel.load(std::memory_order_relaxed) >= 1) logLine(1, "Addr " + address + " " + readingPart(reading));
}
