#include "gateway/Hlavni.h"

#include <algorithm>
#include <cstring>

namespace {

void logRecordLine(const logSink& sink, const msgItem& item) {
    logLine(sink, 2, linkFormat("  OID %d, index %d ,hodnota %u", item.oid, item.index, item.value));
}

msgCursor payloadCursor(const rfPacket& packet) {
    return makeCursor(rfPacketPayload(packet), rfPacketPayloadSize(packet));
}

}  // namespace

HlavniCem::HlavniCem(linkInterfaces sinks, radioRoads roads) : sinks_(std::move(sinks)), roads_(std::move(roads)) {
    msgBoxPoolInit();
    if (!roads_.decodeSensor) roads_.decodeSensor = [](const rfPacket&) -> msgBox* { return nullptr; };
    if (!roads_.handOver) roads_.handOver = packetFree;
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
