#include "gateway/Msgitem.h"

#include <gtest/gtest.h>

#include <functional>

#include "GatewayTestSupport.h"

namespace {

// One record both ways: what the writer makes and what the reader gives.
struct recordCase {
    std::function<void(msgCursor&)> write;
    bytes wire;
    std::uint16_t oid;
    std::int16_t index;
    std::uint16_t type;
    std::uint16_t length;
    std::uint32_t value;
};

const bytes octets16(16, 0x20), octets128(128, 0x40);
std::uint8_t twoOctets[] = {0xAA, 0xBB};

// The forms of the status query and the read request: the worker's frames.
std::vector<recordCase> recordCases() {
    using C = msgCursor;
    return {
        {[](C& c) { putSignedNoIndex(c, 63, 6); }, hex("3F 31 06"), 63, -1, 3, 1, 6},
        {[](C& c) { putOctets(c, 119, 1, 2, twoOctets); }, hex("C0 77 01 12 AA BB"), 119, 1, 1, 2, 0},
        {[](C& c) { putOctets(c, 1, -1, 16, octets16.data()); }, hex("01 81 10") + octets16, 1, -1, 1, 16, 0},
        {[](C& c) { putOctets(c, 1, -1, 128, octets128.data()); }, hex("01 81 80 80") + octets128, 1, -1, 1, 128, 0},
        {[](C& c) { putRequest(c, 64, -1); }, hex("80 40 70"), 64, -1, 7, 0, 0},
        {[](C& c) { putRequest(c, 16383, 32767); }, hex("FF FF FF FF 70"), 16383, 32767, 7, 0, 0},
        {[](C& c) { putRequest(c, 1, 127); }, hex("41 7F 70"), 1, 127, 7, 0, 0},
        {[](C& c) { putRequest(c, 1, 128); }, hex("41 80 80 70"), 1, 128, 7, 0, 0},
        {[](C& c) { putUnsigned(c, 1, -1, 255); }, hex("01 21 FF"), 1, -1, 2, 1, 255},
        {[](C& c) { putUnsigned(c, 1, -1, 256); }, hex("01 22 01 00"), 1, -1, 2, 2, 256},
        {[](C& c) { putUnsigned(c, 1, -1, 65536); }, hex("01 23 01 00 00"), 1, -1, 2, 3, 65536},
        {[](C& c) { putUnsigned(c, 100, 0, 4294967295u); }, hex("C0 64 00 24 FF FF FF FF"), 100, 0, 2, 4, 4294967295u},
        {[](C& c) { putSigned(c, 1, -1, -128); }, hex("01 31 80"), 1, -1, 3, 1, 0xFFFFFF80u},
        {[](C& c) { putSigned(c, 1, -1, 128); }, hex("01 32 00 80"), 1, -1, 3, 2, 128},
        {[](C& c) { putSigned(c, 1, -1, -8388608); }, hex("01 33 80 00 00"), 1, -1, 3, 3, 0xFF800000u},
        {[](C& c) { putSigned(c, 1, -1, 8388608); }, hex("01 34 00 80 00 00"), 1, -1, 3, 4, 8388608},
        {[](C& c) { writeRecord(c, {1, -1, 9, 2, twoOctets, 0}); }, hex("01 89 02 AA BB"), 1, -1, 9, 2, 0},
    };
}

}  // namespace

TEST(Msgitem, WritesAndReadsEveryRecordForm) {
    for (const recordCase& rc : recordCases()) {
        const std::string name = testing::PrintToString(rc.wire);
        bytes out(rc.wire.size() + 8, 0xEE);
        msgCursor w = makeCursor(out.data(), static_cast<int>(out.size()));
        rc.write(w);
        EXPECT_EQ(bytes(out.begin(), out.begin() + static_cast<long>(rc.wire.size())), rc.wire) << name;
        EXPECT_EQ(w.left, 8) << name;

        bytes in = rc.wire;  // exactly the record: a read past it is caught
        msgCursor c = makeCursor(in.data(), static_cast<int>(in.size()));
        msgItem item;
        ASSERT_EQ(readRecord(c, item), 1) << name;
        EXPECT_EQ(std::make_tuple(item.oid, item.index, item.type, item.length, item.value),
                  std::make_tuple(rc.oid, rc.index, rc.type, rc.length, rc.value)) << name;
        EXPECT_EQ(item.data, in.data() + in.size() - rc.length) << name << ": the value is not copied";
        EXPECT_EQ(readRecord(c, item), 0) << name;
    }
}

TEST(Msgitem, WriterSkipsWhatDoesNotFit) {
    bytes out(6, 0xEE);
    msgCursor c = makeCursor(out.data(), 3);
    EXPECT_EQ(putUnsigned(c, 128, 1, 3000), 1);
    EXPECT_EQ(putRequest(c, 1, -1), 1);
    EXPECT_EQ(out, hex("C0 80 01 EE EE EE"));
    EXPECT_EQ(c.left, 0);
    msgCursor none = makeCursor(out.data(), -5);
    EXPECT_EQ(putSignedNoIndex(none, 63, 6), 1);
    EXPECT_EQ(out[0], 0xC0);
}

TEST(Msgitem, MalformedRecordsEndTheReading) {
    // No record; a missing second index byte; a long length form without its
    // length, or cut; a length past the end; no type byte; nothing after the OID.
    for (const char* text : {"5A", "41 80", "01 81", "01 81 80", "01 13 AA BB", "C0 64 01", "C0 64"}) {
        bytes in = hex(text);
        msgCursor c = makeCursor(in.data(), static_cast<int>(in.size()));
        msgItem item;
        EXPECT_EQ(readRecord(c, item), 0) << text;
        EXPECT_EQ(c.pos, in.data()) << text << ": a failed read leaves the cursor";
    }
    // Long values keep their last four bytes (an octet string under OID 63
    // carries no number: the acknowledgement decisions).
    bytes in = hex("01 15 01 FF FF FF FE");
    msgCursor c = makeCursor(in.data(), static_cast<int>(in.size()));
    msgItem item;
    ASSERT_EQ(readRecord(c, item), 1);
    EXPECT_EQ(getSigned(item), -2);
    EXPECT_EQ(getUnsigned(item), 0xFFFFFFFEu);
}
