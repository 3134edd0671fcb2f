#include "gateway/Rfpacket.h"

#include <gtest/gtest.h>

#include <cstring>

#include "GatewayTestSupport.h"

namespace {

class Rfpacket : public gatewayTest {};
class DuplicateFilter : public gatewayTest {};

bytes boxBytes(const msgBox* box) { return bytes(box->data, box->data + box->length); }

packetId idOf(int n) {
    packetId id{};
    id[0] = static_cast<std::uint8_t>(n >> 8);
    id[1] = static_cast<std::uint8_t>(n);
    id[15] = 0x5A;
    return id;
}

}  // namespace

// Both addresses go back swapped as they stand, even from a record shorter
// than the header, which reads nothing beyond it (whole ones: the worker's
// acknowledgement frames).
TEST_F(Rfpacket, AcknowledgementSwapsTheAddressesAsTheyStand) {
    bytes five = hex("11 22 33 44 55");  // exactly the record: a read past it is caught
    packetHandle ack = buildAckPacket(inPlace(five, -70));
    ASSERT_NE(ack, nullptr);
    EXPECT_EQ(boxBytes(ack.get()), hex("55 00 00 00 11 22 33 44 00 00 80"));
    EXPECT_EQ(rfPacketPayloadSize(inPlace(five)), 0);
    EXPECT_EQ(checkReceivedPacket(inPlace(five)), 0);
    EXPECT_EQ(checkReceivedPacket(inPlace(five)), -1);
}

// The bytes of a read request on a used buffer: ReadRequest's tests.
TEST_F(Rfpacket, RecordPacketsHaveRoomFor300PayloadBytes) {
    msgBox* box = packetAlloc();
    ASSERT_NE(box, nullptr);
    buildRecordPacket(box, 5, 0x0A0B0C0D, 0x01020304, rfKindRecords, 0, 9);
    rfPacket p = packetRfData(box);
    const bytes big(400, 0x77);
    putOctets(box->cursor, 1, -1, 400, big.data());
    EXPECT_EQ(box->cursor.pos, box->data + rfHeaderSize + rfMaxPayload);
    EXPECT_EQ(rfPacketSetPayload(p, 400, big.data()), 300);
    EXPECT_EQ(p.payloadLength, 300);
    EXPECT_EQ(rfPacketSetPayload(p, -3, big.data()), 0);
    EXPECT_EQ(p.payloadLength, 0);
    packetFree(box);
}

// Sensor packets, alarms first and record packets' alarms: the worker's tests.
TEST_F(Rfpacket, AcknowledgementDecisions) {
    const struct {
        const char* name;
        const char* wire;
        int first, second;
    } cases[] = {
        {"kind 25 without alarm", "11 22 33 44 55 66 77 88 25 00 05 C0 64 00 21 01", 0, -1},
        {"unsigned alarm", "11 22 33 44 55 66 77 88 25 00 05 3F 21 05", 1, 2},
        {"alarm not first", "11 22 33 44 55 66 77 88 25 00 05 C0 64 00 21 01 3F 31 05", 0, -1},
        {"packet type as octets", "11 22 33 44 55 66 77 88 25 00 05 3F 11 05", 0, -1},
        {"acknowledgement of a kind 22", "11 22 33 44 55 66 77 88 22 00 85", 0, -1},
        {"acknowledgement with alarm", "11 22 33 44 55 66 77 88 25 00 85 3F 31 05", 0, -1},
    };
    for (const auto& d : cases) {
        duplicateFilterClear();
        bytes wire = hex(d.wire);
        EXPECT_EQ(checkReceivedPacket(inPlace(wire)), d.first) << d.name;
        EXPECT_EQ(checkReceivedPacket(inPlace(wire)), d.second) << d.name;
    }
}

// The identity leaves out flag and RSSI; every payload byte counts, up to
// the last of the longest payload a frame carries.
TEST_F(Rfpacket, IdentityIgnoresFlagAndRssiButNotSequenceOrAnyPayloadByte) {
    bytes wire = hex("11 22 33 44 55 66 77 88 25 00 05 C0 64 00 21 01");
    EXPECT_EQ(checkReceivedPacket(inPlace(wire, -40)), 0);
    wire[9] = 0x69;
    EXPECT_EQ(checkReceivedPacket(inPlace(wire, -90)), -1);
    wire[10] = 0x06;
    EXPECT_EQ(checkReceivedPacket(inPlace(wire)), 0);

    bytes a = hex("11 22 33 44 55 66 77 88 25 00 05") + bytes(20, 0x31);
    bytes b = a, c = a;
    b[rfHeaderSize + 6] ^= 0x01;
    c[rfHeaderSize + 13] ^= 0x80;
    const packetId ia = packetIdentity(inPlace(a));
    EXPECT_NE(ia, packetIdentity(inPlace(b)));
    EXPECT_NE(ia, packetIdentity(inPlace(c)));

    bytes longest = hex("11 22 33 44 55 66 77 88 22 00 05 C0 64 00 83 83 F0") + bytes(1008, 0x5C);
    EXPECT_EQ(inPlace(longest).payloadLength, 1014);
    EXPECT_EQ(checkReceivedPacket(inPlace(longest)), 1);
    longest.back() = 0x5D;
    EXPECT_EQ(checkReceivedPacket(inPlace(longest)), 1);
}

TEST_F(Rfpacket, PoolReusesBuffersWithTheirContentsAndRunsDry) {
    msgBoxPoolFree();
    msgBox* a = packetAlloc();
    msgBox* b = packetAlloc();
    EXPECT_EQ(msgBoxPoolMade(), 2);
    a->length = 77;
    b->next = a;
    packetFree(a);
    poolLock();
    poolLock();  // the transports take it again while they hold it
    packetFree(b);
    poolUnlock();
    poolUnlock();
    EXPECT_EQ(packetAlloc(), b);
    EXPECT_EQ(b->next, nullptr);
    EXPECT_EQ(packetAlloc(), a);
    EXPECT_EQ(a->length, 77);
    packetFree(b);
    msgBoxPoolFree();
    EXPECT_EQ(msgBoxPoolMade(), 1);  // the one still out
    packetFree(a);                   // comes back after the free
    EXPECT_EQ(msgBoxPoolFreeCount(), 1);

    msgBoxPoolFree();
    msgBoxPoolSetLimit(0);
    EXPECT_EQ(takePacket(), nullptr);
    bytes wire = hex("11 22 33 44 55 66 77 88 22 00 05");
    EXPECT_EQ(buildAckPacket(inPlace(wire)), nullptr);
    EXPECT_EQ(checkReceivedPacket(inPlace(wire)), 1);
}

TEST_F(DuplicateFilter, AHitDoesNotRenewTheTimeAndAFullTableReplacesTheOldest) {
    const struct {
        std::int64_t at;
        int result;
    } arrivals[] = {{0, 1}, {30, 0}, {59, 0}, {60, 1}, {119, 0}};
    for (const auto& a : arrivals) {
        now = a.at;
        EXPECT_EQ(duplicateFilter(idOf(1)), a.result) << a.at;
    }

    // Full in the current second: nothing more is stored. Full later: the
    // first of the oldest slots is replaced.
    duplicateFilterClear();
    for (int i = 0; i < filterSlots; ++i) ASSERT_EQ(duplicateFilter(idOf(i)), 1) << i;
    EXPECT_EQ(duplicateFilter(idOf(5000)), 1);
    EXPECT_EQ(duplicateFilter(idOf(5000)), 1) << "it was not stored";
    duplicateFilterClear();
    for (int i = 0; i < filterSlots; ++i) {
        now = (i == 1 || i == 2) ? 5 : 10;
        ASSERT_EQ(duplicateFilter(idOf(i)), 1);
    }
    now = 20;
    EXPECT_EQ(duplicateFilter(idOf(7000)), 1);
    EXPECT_EQ(duplicateFilter(idOf(7000)), 0);
    EXPECT_EQ(duplicateFilter(idOf(2)), 0);
    EXPECT_EQ(duplicateFilter(idOf(1)), 1) << "slot 1 was replaced";
}
