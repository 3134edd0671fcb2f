// The worker of the gateway link: the hub through which transports and
// interfaces reach the log and the rest of the program, and the dispatch of
// received RF packets.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "gateway/Linkif.h"
#include "gateway/Rfpacket.h"
#include "gateway/Sensor.h"

class HlavniCem {
public:
    // Where a received packet goes beyond the log. Left empty: sensor
    // packets are decoded (decodeSensorPacket) and handed to saveOdecet,
    // the byte feed drops the bytes.
    struct radioRoads {
        // Readings decoded from a packet (a pool buffer), or null.
        std::function<msgBox*(const rfPacket&)> decodeSensor;
        // Takes over a block of readings or a copied packet.
        std::function<void(msgBox*)> handOver;
        // The payload of a transparent (kind 0x20) packet.
        std::function<void(const rfPacket&)> byteFeed;
    };

    explicit HlavniCem(linkInterfaces sinks, radioRoads roads = {});
    HlavniCem(const HlavniCem&) = delete;
    HlavniCem& operator=(const HlavniCem&) = delete;

    void logLine(int level, std::string_view text) const;
    void notifyObject(int event, int id, std::string_view name) const;
    void logHexDump(std::string_view text, int length, const std::uint8_t* bytes) const;

    // A received packet after its acknowledgement and duplicate test, on the
    // transport's thread; ownAddress is the transport's gateway (host order).
    void deliverRadioFrame(std::uint32_t ownAddress, const rfPacket& packet);
    // A packet that yielded no readings.
    void recvPacket(std::uint32_t ownAddress, const rfPacket& packet);
    void logAlarm(std::uint32_t ownAddress, const rfPacket& packet);

    // The reading hand-over, on the transport's thread: every reading of a
    // block of kind 0 to 3 goes to the readings store and to the log, then
    // the block goes back to the pool; a block of any other kind goes back
    // untouched.
    void saveOdecet(msgBox* block);
    // One reading of the block: stored (unless only shown), then logged.
    void saveReading(const msgBox* block, const ReadingRecord& reading);

private:
    msgBox* copyPacket(const rfPacket& packet) const;
    void logRecords(const rfPacket& packet) const;

    linkInterfaces sinks_;
    radioRoads roads_;
};
