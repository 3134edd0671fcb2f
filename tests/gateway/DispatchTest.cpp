#include <gtest/gtest.h>

#include "GatewayTestSupport.h"
#include "gateway/Hlavni.h"

namespace {

using lines = std::vector<std::string>;

// Onward roads that note what reaches them. The sensor road yields a block
// for the sensor kinds, as the sensor decoder does.
struct recordingRoads {
    std::vector<std::uint8_t> sensorKinds;
    std::vector<packetHandle> handedOver;

    HlavniCem::radioRoads roads() {
        return {
            [this](const rfPacket& p) -> packetHandle {
                sensorKinds.push_back(rfPacketKind(p));
                if (rfPacketKind(p) != rfKindSensor && rfPacketKind(p) != rfKindSensorAlarm) return nullptr;
                packetHandle box = takePacket();
                box->kind = boxKindSensorReadings;
                box->length = 1;
                return box;
            },
            [this](packetHandle box) { handedOver.push_back(std::move(box)); },
        };
    }
};

// Packets from module 0x0A0B0C0D to gateway 0x01020304.
class Dispatch : public gatewayTest {
protected:
    void TearDown() override {
        road.handedOver.clear();
        gatewayTest::TearDown();
    }
    void deliver(const char* wire) {
        packet = hex(wire);
        worker.deliverRadioFrame(0x01020304, inPlace(packet));
    }
    lines withTid(lines plain) {
        for (std::string& l : plain) l += tidPart();
        return plain;
    }

    recordingLog log;
    recordingRoads road;
    HlavniCem worker{linkInterfaces{log.sink()}, road.roads(), HlavniCem::tickSource::manual};
    bytes packet;
};

}  // namespace

TEST_F(Dispatch, GreetingsAndRecordPacketsAreLogged) {
    const char* alarm = "01 02 03 04 0A 0B 0C 0D 23 00 01 3F 31 05 C0 64 01 21 4D";
    const struct {
        int level;
        const char* wire;
        lines logged;
    } cases[] = {
        {0, "01 02 03 04 0A 0B 0C 0D 08 00 01 3F 21 01", {"Receive HALLO from 0x0a0b0c0d over 0x01020304"}},
        {3, "01 02 03 04 0A 0B 0C 0D 08", {"Receive HALLO from 0x0a0b0c0d over 0x01020304"}},  // nothing read past it
        {1, alarm, {}},
        {2, alarm,
         {"  pck type 5", " ----- Alarm --------", "  OID 63, index -1 ,hodnota 5", "  OID 100, index 1 ,hodnota 77",
          "  OID 63, index -1 ,hodnota 5", "  OID 100, index 1 ,hodnota 77"}},
        // A config request; then a value of -1 printed unsigned, and OID 63 without a number.
        {2, "01 02 03 04 0A 0B 0C 0D 23 00 01 3F 31 07 C0 64 01 31 FF 3F 11 05",
         {"  pck type 7", " ----- Config request -----", "  OID 63, index -1 ,hodnota 7",
          "  OID 100, index 1 ,hodnota 4294967295", "  pck type 0", "  OID 63, index -1 ,hodnota 0"}},
    };
    for (const auto& c : cases) {
        log.clear();
        debugLevel = c.level;
        deliver(c.wire);
        EXPECT_EQ(log.lines(), withTid(c.logged)) << c.wire;
    }
    EXPECT_TRUE(road.handedOver.empty());
}

TEST_F(Dispatch, MarkedPacketGoesToTheHandOverAsACopy) {
    deliver("01 02 03 04 0A 0B 0C 0D 22 80 01 C0 64 00 21 07");
    ASSERT_EQ(road.handedOver.size(), 1u);
    const msgBox* copy = road.handedOver[0].get();
    EXPECT_EQ(copy->kind, boxKindPacketCopy);
    EXPECT_EQ(bytes(copy->data, copy->data + copy->length), hex("01 02 03 04 0A 0B 0C 0D 22 80 01 C0 64 00 21 07"));
    EXPECT_EQ(copy->source, 0x0A0B0C0Du);
    EXPECT_TRUE(road.sensorKinds.empty());
}

TEST_F(Dispatch, EachKindTakesItsRoad) {
    deliver("01 02 03 04 0A 0B 0C 0D 22 00 01 C0 64 00 21 07");
    deliver("01 02 03 04 0A 0B 0C 0D 25 00 02 C0 64 00 21 08");
    deliver("01 02 03 04 0A 0B 0C 0D 22 00 04");     // no payload: nothing to decode
    deliver("01 02 03 04 0A 0B 0C 0D 07 00 05 02");  // a read request: not handled
    EXPECT_EQ(road.sensorKinds, (std::vector<std::uint8_t>{0x22, 0x25, 0x07}));
    ASSERT_EQ(road.handedOver.size(), 2u);
    EXPECT_EQ(road.handedOver[1]->kind, boxKindSensorReadings);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(Dispatch, NoBufferForTheCopyLeavesThePacketUndelivered) {
    msgBoxPoolFree();
    msgBoxPoolSetLimit(0);
    debugLevel = 2;
    deliver("01 02 03 04 0A 0B 0C 0D 23 80 01 3F 31 07");
    EXPECT_TRUE(road.handedOver.empty());
    EXPECT_EQ(log.count(), 3u) << "without a copy the packet goes on to recvPacket";
}
