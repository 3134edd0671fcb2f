#include "gateway/Msgitem.h"

#include <gtest/gtest.h>

#include <functional>

#include "GatewayTestSupport.h"

namespace {

bytes filled(int n, std::uint8_t start) {
    bytes b(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(start + i);
    return b;
}

// One record both ways: what the writer makes and what the reader gives.
struct recordCase {
    const char* name;
    std::function<void(msgCursor&)> write;
    bytes wire;
    std::uint16_t oid;
    std::int16_t index;
    std::uint16_t type;
    std::uint16_t length;
    std::uint32_t value;
};

const bytes octets11 = filled(11, 1);
const bytes octets15 = filled(15, 0x10);
const bytes octets16 = filled(16, 0x20);
const bytes octets40 = filled(40, 0x30);
const bytes octets128 = filled(128, 0x40);
std::uint8_t twoOctets[] = {0xAA, 0xBB};

std::vector<recordCase> recordCases() {
    using C = msgCursor;
    return {
        {"oid63 unsigned 1", [](C& c) { putUnsignedNoIndex(c, 63, 1); }, hex("3F 21 01"), 63, -1, 2, 1, 1},
        {"oid110 index1 request", [](C& c) { putRequest(c, 110, 1); }, hex("C0 6E 01 70"), 110, 1, 7, 0, 0},
        {"oid128 index1 3000", [](C& c) { putUnsigned(c, 128, 1, 3000); }, hex("C0 80 01 22 0B B8"), 128, 1, 2, 2,
         3000},
        {"oid63 signed 6", [](C& c) { putSignedNoIndex(c, 63, 6); }, hex("3F 31 06"), 63, -1, 3, 1, 6},
        {"oid119 11 octets", [](C& c) { putOctets(c, 119, 1, 11, octets11.data()); },
         hex("C0 77 01 1B") + octets11, 119, 1, 1, 11, 0},
        {"oid119 40 octets", [](C& c) { putOctets(c, 119, 1, 40, octets40.data()); },
         hex("C0 77 01 81 28") + octets40, 119, 1, 1, 40, 0},
        {"oid64 request", [](C& c) { putRequest(c, 64, -1); }, hex("80 40 70"), 64, -1, 7, 0, 0},
        {"oid0 request", [](C& c) { putRequest(c, 0, -1); }, hex("00 70"), 0, -1, 7, 0, 0},
        {"largest oid and index", [](C& c) { putRequest(c, 16383, 32767); }, hex("FF FF FF FF 70"), 16383, 32767, 7,
         0, 0},
        {"index 127", [](C& c) { putRequest(c, 1, 127); }, hex("41 7F 70"), 1, 127, 7, 0, 0},
        {"index 128", [](C& c) { putRequest(c, 1, 128); }, hex("41 80 80 70"), 1, 128, 7, 0, 0},
        {"index 0", [](C& c) { putRequest(c, 1, 0); }, hex("41 00 70"), 1, 0, 7, 0, 0},
        {"15 octets short form", [](C& c) { putOctets(c, 1, -1, 15, octets15.data()); },
         hex("01 1F") + octets15, 1, -1, 1, 15, 0},
        {"16 octets long form", [](C& c) { putOctets(c, 1, -1, 16, octets16.data()); },
         hex("01 81 10") + octets16, 1, -1, 1, 16, 0},
        {"128 octets two length bytes", [](C& c) { putOctets(c, 1, -1, 128, octets128.data()); },
         hex("01 81 80 80") + octets128, 1, -1, 1, 128, 0},
        {"unsigned 0", [](C& c) { putUnsigned(c, 1, -1, 0); }, hex("01 21 00"), 1, -1, 2, 1, 0},
        {"unsigned 255", [](C& c) { putUnsigned(c, 1, -1, 255); }, hex("01 21 FF"), 1, -1, 2, 1, 255},
        {"unsigned 256", [](C& c) { putUnsigned(c, 1, -1, 256); }, hex("01 22 01 00"), 1, -1, 2, 2, 256},
        {"unsigned 65535", [](C& c) { putUnsigned(c, 1, -1, 65535); }, hex("01 22 FF FF"), 1, -1, 2, 2, 65535},
        {"unsigned 65536", [](C& c) { putUnsigned(c, 1, -1, 65536); }, hex("01 23 01 00 00"), 1, -1, 2, 3, 65536},
        {"unsigned 16777215", [](C& c) { putUnsigned(c, 1, -1, 16777215); }, hex("01 23 FF FF FF"), 1, -1, 2, 3,
         16777215},
        {"unsigned 16777216", [](C& c) { putUnsigned(c, 1, -1, 16777216); }, hex("01 24 01 00 00 00"), 1, -1, 2, 4,
         16777216},
        {"unsigned max", [](C& c) { putUnsigned(c, 100, 0, 4294967295u); }, hex("C0 64 00 24 FF FF FF FF"), 100, 0, 2,
         4, 4294967295u},
        {"signed 0", [](C& c) { putSigned(c, 1, -1, 0); }, hex("01 31 00"), 1, -1, 3, 1, 0},
        {"signed -1", [](C& c) { putSigned(c, 1, -1, -1); }, hex("01 31 FF"), 1, -1, 3, 1, 0xFFFFFFFFu},
        {"signed 127", [](C& c) { putSigned(c, 1, -1, 127); }, hex("01 31 7F"), 1, -1, 3, 1, 127},
        {"signed -128", [](C& c) { putSigned(c, 1, -1, -128); }, hex("01 31 80"), 1, -1, 3, 1, 0xFFFFFF80u},
        {"signed 128", [](C& c) { putSigned(c, 1, -1, 128); }, hex("01 32 00 80"), 1, -1, 3, 2, 128},
        {"signed -129", [](C& c) { putSigned(c, 1, -1, -129); }, hex("01 32 FF 7F"), 1, -1, 3, 2, 0xFFFFFF7Fu},
        {"signed 32768", [](C& c) { putSigned(c, 1, -1, 32768); }, hex("01 33 00 80 00"), 1, -1, 3, 3, 32768},
        {"signed -8388608", [](C& c) { putSigned(c, 1, -1, -8388608); }, hex("01 33 80 00 00"), 1, -1, 3, 3,
         0xFF800000u},
        {"signed -8388609", [](C& c) { putSigned(c, 1, -1, -8388609); }, hex("01 34 FF 7F FF FF"), 1, -1, 3, 4,
         0xFF7FFFFFu},
        {"signed 8388608", [](C& c) { putSigned(c, 1, -1, 8388608); }, hex("01 34 00 80 00 00"), 1, -1, 3, 4,
         8388608},
        {"type above 7", [](C& c) { writeRecord(c, {1, -1, 9, 2, twoOctets, 0}); }, hex("01 89 02 AA BB"), 1, -1, 9, 2,
         0},
    };
}

}  // namespace

TEST(Msgitem, WritesEveryRecordForm) {
    for (const recordCase& rc : recordCases()) {
        bytes out(rc.wire.size() + 8, 0xEE);
        msgCursor c = makeCursor(out.data(), static_cast<int>(out.size()));
        rc.write(c);
        EXPECT_EQ(bytes(out.begin(), out.begin() + static_cast<long>(rc.wire.size())), rc.wire) << rc.name;
        EXPECT_EQ(c.left, 8) << rc.name;
        EXPECT_EQ(out[rc.wire.size()], 0xEE) << rc.name;
    }
}

TEST(Msgitem, ReadsEveryRecordForm) {
    for (const recordCase& rc : recordCases()) {
        bytes in = rc.wire;  // exactly the record: a read past it is caught
        msgCursor c = makeCursor(in.data(), static_cast<int>(in.size()));
        msgItem item;
        ASSERT_EQ(readRecord(c, item), 1) << rc.name;
        EXPECT_EQ(item.oid, rc.oid) << rc.name;
        EXPECT_EQ(item.index, rc.index) << rc.name;
        EXPECT_EQ(item.type, rc.type) << rc.name;
        EXPECT_EQ(item.length, rc.length) << rc.name;
        EXPECT_EQ(item.value, rc.value) << rc.name;
        EXPECT_EQ(item.data, in.data() + in.size() - rc.length) << rc.name << ": the value is not copied";
        EXPECT_EQ(c.left, 0) << rc.name;
        EXPECT_EQ(readRecord(c, item), 0) << rc.name;
    }
}

TEST(Msgitem, WriterSkipsWhatDoesNotFit) {
    bytes out(6, 0xEE);
    msgCursor c = makeCursor(out.data(), 3);
    EXPECT_EQ(putUnsigned(c, 128, 1, 3000), 1);
    EXPECT_EQ(out, hex("C0 80 01 EE EE EE"));
    EXPECT_EQ(c.left, 0);
    EXPECT_EQ(c.pos, out.data() + 3);
    EXPECT_EQ(putRequest(c, 1, -1), 1);
    EXPECT_EQ(out, hex("C0 80 01 EE EE EE"));

    msgCursor none = makeCursor(out.data(), -5);
    EXPECT_EQ(none.left, 0);
    EXPECT_EQ(putSignedNoIndex(none, 63, 6), 1);
    EXPECT_EQ(out[0], 0xC0);
}

TEST(Msgitem, LongValuesKeepTheirLastFourBytes) {
    const struct {
        const char* value;
        std::int32_t asSigned;
        std::uint32_t asUnsigned;
    } cases[] = {{"01 FF FF FF FE", -2, 0xFFFFFFFEu}, {"FF 7F", -129, 0xFF7Fu}, {"", 0, 0}};
    for (const auto& c : cases) {
        bytes v = hex(c.value);
        msgItem item;
        item.data = v.data();
        item.length = static_cast<std::uint16_t>(v.size());
        EXPECT_EQ(getSigned(item), c.asSigned) << c.value;
        EXPECT_EQ(getUnsigned(item), c.asUnsigned) << c.value;
    }
}

TEST(Msgitem, OnlyIntegerTypesCarryAValue) {
    // An unsigned 9, then OID 63 as one octet 05: the second has no number.
    bytes in = hex("3F 21 09 3F 11 05");
    msgCursor c = makeCursor(in.data(), static_cast<int>(in.size()));
    msgItem item;
    ASSERT_EQ(readRecord(c, item), 1);
    EXPECT_EQ(item.value, 9u);
    ASSERT_EQ(readRecord(c, item), 1);
    EXPECT_EQ(item.type, recOctets);
    EXPECT_EQ(item.value, 0u);
}

TEST(Msgitem, EveryPrefixYieldsTheWholeRecordsBeforeTheCut) {
    // Three records, then the CRC byte a gateway message still ends with.
    const bytes message = hex("3F 21 06  C0 80 01 22 0B B8  C0 77 01 81 10 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D "
                              "0E 0F  5A");
    const std::size_t ends[] = {3, 9, 30};
    for (std::size_t cut = 0; cut <= message.size(); ++cut) {
        bytes prefix(message.begin(), message.begin() + static_cast<long>(cut));
        msgCursor c = makeCursor(prefix.data(), static_cast<int>(prefix.size()));
        msgItem item;
        std::size_t got = 0;
        while (readRecord(c, item)) {
            ASSERT_LT(got, 3u);
            EXPECT_EQ(c.pos - prefix.data(), static_cast<long>(ends[got])) << "cut " << cut;
            ++got;
        }
        std::size_t whole = 0;
        while (whole < 3 && ends[whole] <= cut) ++whole;
        EXPECT_EQ(got, whole) << "cut " << cut;
    }
}

TEST(Msgitem, MalformedRecordsEndTheReading) {
    const char* cases[] = {
        "5A",           // one byte: no record
        "41 80",        // index announces a second byte that is missing
        "01 81",        // long length form without its length
        "01 81 80",     // two-byte length cut in the middle
        "01 13 AA BB",  // length runs past the end
        "C0 64 01",     // no type/length byte
        "C0 64",        // long OID and index flag, nothing more
    };
    for (const char* text : cases) {
        bytes in = hex(text);
        msgCursor c = makeCursor(in.data(), static_cast<int>(in.size()));
        msgItem item;
        EXPECT_EQ(readRecord(c, item), 0) << text;
        EXPECT_EQ(c.pos, in.data()) << text << ": a failed read leaves the cursor";
    }
}
