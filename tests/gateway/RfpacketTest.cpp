#include "gateway/Rfpacket.h"

#include <gtest/gtest.h>

#include <cstring>

#include "GatewayTestSupport.h"

namespace {

class Rfpacket : public gatewayTest {};

bytes boxBytes(msgBox* box) { return bytes(box->data, box->data + box->length); }

// A received packet taken in place from `wire`, as the transport does.
rfPacket received(bytes& wire, std::int32_t rssi = 0) {
    rfPacket p = rfPacketInPlace(wire.data(), static_cast<int>(wire.size()));
    p.rssi = rssi;
    return p;
}

}  // namespace

TEST_F(Rfpacket, HeaderFieldsAndAddressesInHostOrder) {
    bytes wire = hex("11 22 33 44 55 66 77 88 25 80 05 3F 21 01");
    rfPacket p = received(wire);
    EXPECT_EQ(rfPacketDestination(p), 0x11223344u);
    EXPECT_EQ(rfPacketSource(p), 0x55667788u);
    EXPECT_EQ(rfPacketKind(p), 0x25);
    EXPECT_EQ(rfPacketFlag(p), 0x80);
    EXPECT_EQ(rfPacketSequence(p), 0x05);
    EXPECT_EQ(rfPacketRecordKind(p), 0x25);
    EXPECT_EQ(rfPacketPayloadSize(p), 3);
    wire[9] = 0x69;
    EXPECT_EQ(rfPacketRecordKind(p), 0);
}

TEST_F(Rfpacket, AcknowledgementSwapsTheAddressesAsTheyStand) {
    bytes wire = hex("11 22 33 44 55 66 77 88 22 00 05 64 21 07");
    msgBox* ack = buildAckPacket(received(wire, -70));
    ASSERT_NE(ack, nullptr);
    EXPECT_EQ(boxBytes(ack), hex("55 66 77 88 11 22 33 44 22 00 85"));
    packetFree(ack);
}

TEST_F(Rfpacket, ReadRequestOnAUsedBuffer) {
    msgBox* box = packetAlloc();
    ASSERT_NE(box, nullptr);
    std::memset(box->data, 0xA5, sizeof box->data);  // a buffer from the free list keeps old bytes
    buildRecordPacket(box, 6, 0x01020304, 0, 7, 0, 0);
    EXPECT_EQ(box->kind, boxKindRecordPacket);
    EXPECT_EQ(bytes(box->data, box->data + 14), hex("00 00 00 00 01 02 03 04 07 00 00 3F 31 06"));
    EXPECT_EQ(box->cursor.left, 297);
    EXPECT_EQ(box->cursor.pos, box->data + 14);

    rfPacket p = packetRfData(box);
    const std::uint8_t two = 2;
    box->length = rfHeaderSize + rfPacketSetPayload(p, 1, &two);
    EXPECT_EQ(boxBytes(box), hex("00 00 00 00 01 02 03 04 07 00 00 02"));
    EXPECT_EQ(packetRfData(box).payloadLength, 1);
    packetFree(box);
}

TEST_F(Rfpacket, RecordPacketRoomEndsAt300PayloadBytes) {
    msgBox* box = packetAlloc();
    buildRecordPacket(box, 5, 0x0A0B0C0D, 0x01020304, rfKindRecords, 0, 9);
    const bytes big(400, 0x77);
    putOctets(box->cursor, 1, -1, 400, big.data());
    EXPECT_EQ(box->cursor.left, 0);
    EXPECT_EQ(box->cursor.pos, box->data + rfHeaderSize + rfMaxPayload);

    rfPacket p = packetRfData(box);
    EXPECT_EQ(rfPacketSetPayload(p, 400, big.data()), 300);
    EXPECT_EQ(p.payloadLength, 300);
    EXPECT_EQ(rfPacketSetPayload(p, -3, big.data()), 0);
    EXPECT_EQ(p.payloadLength, 0);
    packetFree(box);
}

TEST_F(Rfpacket, AcknowledgementDecisions) {
    struct decision {
        const char* name;
        const char* wire;
        int first, second;
    };
    const decision cases[] = {
        {"kind 22 always", "11 22 33 44 55 66 77 88 22 00 05 C0 64 00 21 01", 1, 2},
        {"kind 25 without alarm", "11 22 33 44 55 66 77 88 25 00 05 C0 64 00 21 01", 0, -1},
        {"kind 25 with alarm first", "11 22 33 44 55 66 77 88 25 00 05 3F 31 05 C0 64 00 21 01", 1, 2},
        {"unsigned alarm", "11 22 33 44 55 66 77 88 25 00 05 3F 21 05", 1, 2},
        {"alarm not first", "11 22 33 44 55 66 77 88 25 00 05 C0 64 00 21 01 3F 31 05", 0, -1},
        {"packet type as octets", "11 22 33 44 55 66 77 88 25 00 05 3F 11 05", 0, -1},
        {"record packet alarm", "11 22 33 44 55 66 77 88 23 00 05 3F 31 05", 1, 2},
        {"acknowledgement of a kind 22", "11 22 33 44 55 66 77 88 22 00 85", 0, -1},
        {"acknowledgement with alarm", "11 22 33 44 55 66 77 88 25 00 85 3F 31 05", 0, -1},
    };
    for (const decision& d : cases) {
        duplicateFilterClear();
        bytes wire = hex(d.wire);
        EXPECT_EQ(checkReceivedPacket(received(wire)), d.first) << d.name;
        EXPECT_EQ(checkReceivedPacket(received(wire)), d.second) << d.name;
    }
}

TEST_F(Rfpacket, IdentityIgnoresFlagAndRssiButNotSequence) {
    bytes wire = hex("11 22 33 44 55 66 77 88 25 00 05 C0 64 00 21 01");
    EXPECT_EQ(checkReceivedPacket(received(wire, -40)), 0);
    wire[9] = 0x69;
    EXPECT_EQ(checkReceivedPacket(received(wire, -90)), -1);
    wire[10] = 0x06;
    EXPECT_EQ(checkReceivedPacket(received(wire)), 0);
    wire[8] = 0x22;
    EXPECT_EQ(checkReceivedPacket(received(wire)), 1);
}

TEST_F(Rfpacket, EveryPayloadByteCountsInTheIdentity) {
    // Payloads of 20 bytes that differ only in their 7th or 14th byte.
    bytes a = concat(hex("11 22 33 44 55 66 77 88 25 00 05"), bytes(20, 0x31));
    bytes b = a, c = a;
    b[rfHeaderSize + 6] ^= 0x01;
    c[rfHeaderSize + 13] ^= 0x80;
    const packetId ia = packetIdentity(received(a));
    EXPECT_NE(ia, packetIdentity(received(b)));
    EXPECT_NE(ia, packetIdentity(received(c)));
    EXPECT_EQ(bytes(ia.begin(), ia.begin() + 10), hex("11 22 33 44 55 66 77 88 25 05"));
    EXPECT_EQ(duplicateFilter(ia), 1);
    EXPECT_EQ(duplicateFilter(packetIdentity(received(b))), 1);
    EXPECT_EQ(duplicateFilter(packetIdentity(received(c))), 1);
    EXPECT_EQ(duplicateFilter(packetIdentity(received(a))), 0);
}

TEST_F(Rfpacket, ShortRecordReadsNothingBeyondIt) {
    bytes wire = hex("11 22 33 44 55");  // exactly five bytes: a read past them is caught
    rfPacket p = received(wire);
    EXPECT_EQ(p.payloadLength, -6);
    EXPECT_EQ(rfPacketPayloadSize(p), 0);
    EXPECT_EQ(rfPacketDestination(p), 0x11223344u);
    EXPECT_EQ(rfPacketSource(p), 0x55000000u);
    EXPECT_EQ(rfPacketKind(p), 0);
    EXPECT_EQ(checkReceivedPacket(p), 0);
    EXPECT_EQ(checkReceivedPacket(p), -1);
    msgBox* ack = buildAckPacket(p);
    ASSERT_NE(ack, nullptr);
    EXPECT_EQ(boxBytes(ack), hex("55 00 00 00 11 22 33 44 00 00 80"));
    packetFree(ack);
}

TEST_F(Rfpacket, LongestReceivedPayloadIsHandledWhole) {
    bytes wire = concat(hex("11 22 33 44 55 66 77 88 22 00 05 C0 64 00 83 83 F0"), bytes(1008, 0x5C));
    rfPacket p = received(wire);
    EXPECT_EQ(p.payloadLength, 1014);
    EXPECT_EQ(checkReceivedPacket(p), 1);
    wire.back() = 0x5D;
    EXPECT_EQ(checkReceivedPacket(received(wire)), 1);
}

TEST_F(Rfpacket, PoolReusesBuffersWithTheirContents) {
    msgBoxPoolFree();
    EXPECT_EQ(msgBoxPoolMade(), 0);
    msgBox* a = packetAlloc();
    msgBox* b = packetAlloc();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(msgBoxPoolMade(), 2);
    EXPECT_EQ(a->kind, 0);
    EXPECT_EQ(a->length, 0);
    a->kind = 2;
    a->length = 77;
    b->next = a;
    packetFree(a);
    packetFree(b);
    EXPECT_EQ(msgBoxPoolFreeCount(), msgBoxPoolMade());
    msgBox* again = packetAlloc();
    EXPECT_EQ(again, b);
    EXPECT_EQ(again->next, nullptr);
    msgBox* second = packetAlloc();
    EXPECT_EQ(second, a);
    EXPECT_EQ(second->kind, 2);
    EXPECT_EQ(second->length, 77);
    packetFree(again);
    packetFree(second);
    packetFree(nullptr);
}

TEST_F(Rfpacket, PoolFreeEmptiesTheListAndAllowsANewStart) {
    msgBoxPoolFree();
    msgBox* out = packetAlloc();
    packetFree(packetAlloc());
    msgBoxPoolFree();
    EXPECT_EQ(msgBoxPoolFreeCount(), 0);
    EXPECT_EQ(msgBoxPoolMade(), 1);  // the one still out
    packetFree(out);                 // comes back after the free
    msgBoxPoolInit();
    EXPECT_EQ(msgBoxPoolFreeCount(), 1);
    poolLock();
    poolLock();  // the transports take it again while they hold it
    msgBox* inside = packetAlloc();
    packetFree(inside);
    poolUnlock();
    poolUnlock();
}

TEST_F(Rfpacket, EmptyPoolGivesNoneAndNoAcknowledgement) {
    msgBoxPoolFree();
    msgBoxPoolSetLimit(0);
    EXPECT_EQ(packetAlloc(), nullptr);
    bytes wire = hex("11 22 33 44 55 66 77 88 22 00 05");
    EXPECT_EQ(buildAckPacket(received(wire)), nullptr);
    EXPECT_EQ(checkReceivedPacket(received(wire)), 1);
}
