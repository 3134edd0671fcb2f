// The interfaces' bus framers; the interface state's guard is checked by
// the compiler.
#include "gateway/Rfinterfaces.h"

#include <gtest/gtest.h>

#include "GatewayTestSupport.h"

namespace {

class BusPolling : public gatewayTest {
protected:
    recordingLog log;
    HlavniCem worker{linkInterfaces{log.sink()}, {}, HlavniCem::tickSource::manual};
};

struct framed {
    int result;
    int length;
    bytes frame;
    std::uint8_t after;  // the byte handed on behind the frame
};

// Feeds bytes straight into the framer, as the transport thread does.
std::vector<framed> frameAll(rfInterfaces& itf, const bytes& in) {
    std::vector<framed> out;
    for (std::uint8_t b : in) {
        frameDelivery d;
        if (itf.frameByte(b, d)) {
            const auto end = d.frame.begin() + std::max(d.reply.length, 0);
            out.push_back({d.reply.result, d.reply.length, bytes(d.frame.begin(), end), *end});
        }
    }
    return out;
}

const bytes longFrame = hex("68 1B 1B 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 04 13 15 CD 5B 07 0C 13 89 67 "
                            "45 23 DE 16");

bytes opticalBlock(std::uint8_t check) {
    bytes b{0x02};
    for (char c : std::string("1.8.0(0012345.678*kWh)\r\n!\r\n")) b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(0x03);
    b.push_back(check);
    return b;
}

}  // namespace

TEST_F(BusPolling, FramersFromLiteralBytes) {
    bytes changed = longFrame, badEnd = longFrame, highBlock = opticalBlock(0x42);
    changed[20] ^= 0x01;
    badEnd.back() = 0x17;
    for (std::uint8_t& b : highBlock) b |= 0x80;
    const bytes ident = hex("2F 41 42 43 35 58 59 5A 0D 0A");  // "/ABC5XYZ" CR LF
    const struct {
        const char* name;
        int mode;
        bytes in;
        int result;
        bytes frame;
    } cases[] = {
        {"short frame", busModeMBus, hex("10 5B 01 5C 16"), 2, hex("10 5B 01 5C 16")},
        {"short, wrong check", busModeMBus, hex("10 5B 01 5D 16"), -2, {}},
        {"short, wrong end", busModeMBus, hex("10 5B 01 5C 17"), -2, {}},
        {"single character", busModeMBus, hex("E5"), 1, hex("E5")},
        {"stray bytes first", busModeMBus, hex("00 FF 16 5B 10 5B 01 5C 16"), 2, hex("10 5B 01 5C 16")},
        {"long frame", busModeMBus, longFrame, 3, longFrame},
        {"long, one byte changed", busModeMBus, changed, -3, {}},
        {"long, wrong end", busModeMBus, badEnd, -3, {}},
        {"unequal L", busModeMBus, hex("68 05 06 68"), -3, hex("68 05 06 68")},
        {"L not below 250", busModeMBus, hex("68 FA FA 68"), -3, {}},
        {"no second 68", busModeMBus, hex("68 03 03 67"), -3, {}},
        {"optical block", busModeOptical, opticalBlock(0x42), 2, {}},
        {"optical block, wrong check", busModeOptical, opticalBlock(0x43), -1, {}},
        {"optical block, bit 7 set", busModeOptical, highBlock, 2, {}},
        {"identification, stray 'A' first", busModeOptical, hex("41") + ident, 1, ident},
        {"identification, bit 7 set", busModeOptical, hex("AF C1 C2 C3 B5 D8 D9 DA 8D 8A"), 1, ident},
    };
    rfInterfaces itf(&worker, interfaceKind::serial, "Serial : COM3");
    for (const auto& c : cases) {
        itf.setMode(c.mode, 30);
        const auto got = frameAll(itf, c.in);
        ASSERT_EQ(got.size(), 1u) << c.name;
        EXPECT_EQ(got[0].result, c.result) << c.name;
        if (!c.frame.empty()) {
            EXPECT_EQ(got[0].frame, c.frame) << c.name;
        }
    }
    EXPECT_EQ(itf.snapshot().buffer[ident.size()], 0) << "each optical byte is stored followed by a zero";
}

// The optical framer stops storing at 4094 bytes; the copy handed on still
// ends in a zero (the line parser reads up to the first unprintable byte).
TEST_F(BusPolling, OpticalBlockCutAtTheBufferEndStillEndsInAZero) {
    rfInterfaces itf(&worker, interfaceKind::serial, "Serial : COM3");
    itf.setMode(busModeOptical, 30);
    bytes endless{0x02};
    endless.insert(endless.end(), 6000, 'A');
    EXPECT_TRUE(frameAll(itf, endless).empty());
    const auto end = frameAll(itf, hex("03 00"));
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].length, 4094);
    EXPECT_EQ(end[0].after, 0);
}
