#include "gateway/Sensor.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

struct SensorKind {
    std::uint16_t oid;
    std::int32_t type;
    bool isUnsigned; // pulse counts run past 2^31
    double scale;    // applied as written: -53 gives -53 * 0.1
    std::string_view text;
};

constexpr SensorKind sensorKinds[] = {
    {oidPulses, readingPulses, true, 1.0, "pulsy"},
    {oidTemperature, readingTemperature, false, 0.1, "teplota"},
    {oidVoltage, readingVoltage, false, 0.001, "napeti"},
    {oidHumidity, readingHumidity, false, 0.1, "vlhkomer"},
};

const SensorKind* sensorKind(std::uint16_t oid)
{
    for (const SensorKind& k : sensorKinds)
        if (k.oid == oid)
            return &k;
    return nullptr;
}

ReadingRecord makeReading(const SensorKind& kind, const msgItem& item)
{
    ReadingRecord r;
    r.type = kind.type;
    r.index = item.index;
    r.value = kind.isUnsigned ? static_cast<double>(item.value)
                              : static_cast<double>(static_cast<std::int32_t>(item.value)) * kind.scale;
    std::copy(kind.text.begin(), kind.text.end(), r.text);
    return r;
}

} // namespace

ReadingRecord blockReading(const msgBox* block, int i)
{
    ReadingRecord r;
    std::memcpy(&r, block->data + i * sizeof(ReadingRecord), sizeof r);
    return r;
}

void setBlockReading(msgBox* block, int i, const ReadingRecord& reading)
{
    std::memcpy(block->data + i * sizeof(ReadingRecord), &reading, sizeof reading);
}

int blockReadingCount(const msgBox* block)
{
    return std::clamp(block->length, 0, readingsPerBlock);
}

packetHandle decodeSensorPacket(const rfPacket& packet)
{
    std::uint8_t kind = rfPacketKind(packet);
    if (kind != rfKindSensor && kind != rfKindSensorAlarm)
        return nullptr;
    msgCursor cursor = makeCursor(rfPacketPayload(packet), rfPacketPayloadSize(packet));
    packetHandle block;
    int count = 0;
    msgItem item;
    while (count < readingsPerBlock && readRecord(cursor, item)) {
        const SensorKind* k = sensorKind(item.oid);
        if (!k || (item.type != recUnsigned && item.type != recSigned))
            continue;
        if (!block && !(block = takePacket()))
            return nullptr;
        setBlockReading(block.get(), count++, makeReading(*k, item));
    }
    if (!block)
        return nullptr;
    block->length = count;
    block->source = rfPacketSource(packet);
    block->rssi = packet.rssi;
    block->readingId = 0;
    block->kind = boxKindSensorReadings;
    return block;
}
