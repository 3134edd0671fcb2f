#include <gtest/gtest.h>

#include <cstring>

#include "GatewayTestSupport.h"
#include "gateway/Hlavni.h"

namespace {

using lines = std::vector<std::string>;

// Onward roads that note what reaches them. The sensor road yields a block
// for the sensor kinds, as the sensor decoder does.
struct recordingRoads {
    std::vector<std::uint8_t> sensorKinds;
    std::vector<msgBox*> handedOver;

    HlavniCem::radioRoads roads() {
        return {
            [this](const rfPacket& p) -> msgBox* {
                sensorKinds.push_back(rfPacketKind(p));
                if (rfPacketKind(p) != rfKindSensor && rfPacketKind(p) != rfKindSensorAlarm) return nullptr;
                msgBox* box = packetAlloc();
                box->kind = boxKindSensorReadings;
                box->length = 1;
                return box;
            },
            [this](msgBox* box) { handedOver.push_back(box); },
        };
    }
    void giveBack() {
        for (msgBox* box : handedOver) packetFree(box);
        handedOver.clear();
    }
};

class Dispatch : public gatewayTest {
protected:
    void TearDown() override {
        road.giveBack();
        gatewayTest::TearDown();
    }
    void deliver(const char* wire) {
        packet = hex(wire);
        worker.deliverRadioFrame(0x01020304, rfPacketInPlace(packet.data(), static_cast<int>(packet.size())));
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

TEST_F(Dispatch, GreetingLogsAtLevelZero) {
    deliver("01 02 03 04 0A 0B 0C 0D 08 00 01 3F 21 01");
    EXPECT_EQ(log.lines(), withTid({"Receive HALLO from 0x0a0b0c0d over 0x01020304"}));
    EXPECT_TRUE(road.sensorKinds.empty());
}

TEST_F(Dispatch, AlarmRecordPacketLogsItsRecordsTwice) {
    const char* alarm = "01 02 03 04 0A 0B 0C 0D 23 00 01 3F 31 05 C0 64 01 21 4D";
    debugLevel = 1;
    deliver(alarm);
    EXPECT_TRUE(log.lines().empty());
    debugLevel = 2;
    deliver(alarm);
    EXPECT_EQ(log.lines(), withTid({"  pck type 5", " ----- Alarm --------", "  OID 63, index -1 ,hodnota 5",
                                    "  OID 100, index 1 ,hodnota 77", "  OID 63, index -1 ,hodnota 5",
                                    "  OID 100, index 1 ,hodnota 77"}));
    EXPECT_TRUE(road.handedOver.empty());
}

TEST_F(Dispatch, ConfigRequestAndValuesWithoutANumber) {
    debugLevel = 2;
    deliver("01 02 03 04 0A 0B 0C 0D 23 00 01 3F 31 07 C0 64 01 31 FF 3F 11 05");
    EXPECT_EQ(log.lines(), withTid({"  pck type 7", " ----- Config request -----", "  OID 63, index -1 ,hodnota 7",
                                    "  OID 100, index 1 ,hodnota 4294967295", "  pck type 0",
                                    "  OID 63, index -1 ,hodnota 0"}));
}

TEST_F(Dispatch, MarkedPacketGoesToTheHandOverAsACopy) {
    deliver("01 02 03 04 0A 0B 0C 0D 22 80 01 C0 64 00 21 07");
    ASSERT_EQ(road.handedOver.size(), 1u);
    msgBox* copy = road.handedOver[0];
    EXPECT_EQ(copy->kind, boxKindPacketCopy);
    EXPECT_EQ(bytes(copy->data, copy->data + copy->length), hex("01 02 03 04 0A 0B 0C 0D 22 80 01 C0 64 00 21 07"));
    EXPECT_EQ(copy->source, 0x0A0B0C0Du);
    EXPECT_TRUE(road.sensorKinds.empty());
}

TEST_F(Dispatch, EachKindTakesItsRoad) {
    deliver("01 02 03 04 0A 0B 0C 0D 22 00 01 C0 64 00 21 07");
    deliver("01 02 03 04 0A 0B 0C 0D 25 00 02 C0 64 00 21 08");
    ASSERT_EQ(road.handedOver.size(), 2u);
    EXPECT_EQ(road.handedOver[0]->kind, boxKindSensorReadings);
    deliver("01 02 03 04 0A 0B 0C 0D 22 00 04");  // no payload: nothing to decode
    deliver("01 02 03 04 0A 0B 0C 0D 07 00 05 02");  // a read request: not handled
    EXPECT_EQ(road.sensorKinds, (std::vector<std::uint8_t>{0x22, 0x25, 0x07}));
    EXPECT_EQ(road.handedOver.size(), 2u);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(Dispatch, NoBufferForTheCopyLeavesThePacketUndelivered) {
    msgBoxPoolFree();
    msgBoxPoolSetLimit(0);
    debugLevel = 2;
    deliver("01 02 03 04 0A 0B 0C 0D 23 80 01 3F 31 07");
    EXPECT_TRUE(road.handedOver.empty());
    EXPECT_EQ(log.lines().size(), 3u) << "without a copy the packet goes on to recvPacket";
}

TEST_F(Dispatch, DefaultRoadsGiveTheBuffersBack) {
    HlavniCem plain{linkInterfaces{log.sink()}, {}, HlavniCem::tickSource::manual};
    bytes wire = hex("01 02 03 04 0A 0B 0C 0D 22 80 01 C0 64 00 21 07");
    plain.deliverRadioFrame(0x01020304, rfPacketInPlace(wire.data(), static_cast<int>(wire.size())));
    wire[9] = 0;
    plain.deliverRadioFrame(0x01020304, rfPacketInPlace(wire.data(), static_cast<int>(wire.size())));
    wire[8] = rfKindTransparent;
    plain.deliverRadioFrame(0x01020304, rfPacketInPlace(wire.data(), static_cast<int>(wire.size())));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(Dispatch, ShortPacketIsDispatchedWithoutReadingPastIt) {
    debugLevel = 3;
    deliver("01 02 03 04 0A 0B 0C 0D 08");
    EXPECT_EQ(log.lines(), withTid({"Receive HALLO from 0x0a0b0c0d over 0x01020304"}));
}

TEST_F(Dispatch, TransparentBytesReachTheFramerOfTheAddressedGateway) {
    testWorker bus;
    rfInterfaces* com3 = bus.addGateway(0x01020304);
    rfInterfaces* com4 = bus.addGateway(0x05060708, "COM4");
    bus.addBusObject(makeBus(5));
    ASSERT_EQ(com3->attachBusObject(bus.busObjectList()), 1);
    com3->startDelay = 0;
    bytes wire = hex("01 02 03 04 0A 0B 0C 0D 20 00 03 10 5B 01 5C 16");
    rfPacket p = rfPacketInPlace(wire.data(), static_cast<int>(wire.size()));
    p.rssi = -61;
    bus.deliverRadioFrame(0x01020304, p);
    ASSERT_EQ(bus.decodes().size(), 1u);
    const auto d = bus.decodes()[0];
    EXPECT_EQ(d.result, 2);
    EXPECT_EQ(d.frame, hex("10 5B 01 5C 16"));
    EXPECT_EQ(d.reply.rssi, -61);
    EXPECT_EQ(d.reply.source, 0x0A0B0C0Du);
    EXPECT_EQ(d.reply.destination, 0x01020304u);
    EXPECT_EQ(d.reply.kind, rfKindSerial);

    wire[3] = 0x05;  // to 0x01020305: no gateway has it
    bus.deliverRadioFrame(0x01020304, rfPacketInPlace(wire.data(), static_cast<int>(wire.size())));
    EXPECT_EQ(bus.decodes().size(), 1u);
    EXPECT_EQ(com4->length, 0);
    EXPECT_EQ(com3->length, 0);

    com3->transport.reset();  // an interface without a transport is not fed
    wire[3] = 0x04;
    bus.deliverRadioFrame(0x01020304, rfPacketInPlace(wire.data(), static_cast<int>(wire.size())));
    EXPECT_EQ(bus.decodes().size(), 1u);
}
