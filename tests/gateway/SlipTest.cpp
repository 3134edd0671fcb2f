#include "gateway/Slip.h"
#include "tests/tools/gwstandin/GatewayStandin.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes encode(const Bytes& message)
{
    Bytes out(static_cast<std::size_t>(slipEncodedSize(static_cast<int>(message.size()))));
    out.resize(static_cast<std::size_t>(SlipEncode(message.data(), static_cast<int>(message.size()), out.data())));
    return out;
}

// Every good frame the bytes close, in order.
std::vector<Bytes> deframe(SlipDeframer& d, const Bytes& line)
{
    std::vector<Bytes> frames;
    for (std::uint8_t b : line)
        if (int n = d.Feed(b))
            frames.emplace_back(d.Frame(), d.Frame() + n);
    return frames;
}

std::vector<Bytes> deframe(const Bytes& line)
{
    SlipDeframer d;
    return deframe(d, line);
}

const Bytes statusQuery = {0x3F, 0x21, 0x01, 0xC0, 0x6E, 0x01, 0x70, 0xC0, 0x72, 0x01,
                           0x70, 0xC0, 0x76, 0x01, 0x70, 0xC0, 0x79, 0x01, 0x70};
const Bytes statusQueryFrame = {0xC0, 0x3F, 0x21, 0x01, 0xDB, 0xDC, 0x6E, 0x01, 0x70, 0xDB, 0xDC, 0x72, 0x01,
                                0x70, 0xDB, 0xDC, 0x76, 0x01, 0x70, 0xDB, 0xDC, 0x79, 0x01, 0x70, 0xF6, 0xC0};

TEST(Crc8, CheckValueAndResidue)
{
    const std::string digits = "123456789";
    EXPECT_EQ(crc8(reinterpret_cast<const std::uint8_t*>(digits.data()), 9), 0xD0);
    const Bytes abc = {0x61, 0x62, 0x63};
    EXPECT_EQ(crc8(abc.data(), 3), 0x24);
    // Table entries: 1 goes through the polynomial eight times.
    EXPECT_EQ(crc8Update(0x00, 0x01), 0x91);
    EXPECT_EQ(crc8Update(0x00, 0x00), 0x00);
    const Bytes withCrc = {0x61, 0x62, 0x63, 0xDB};
    EXPECT_EQ(crc8(withCrc.data(), 4), crc8Residue);
}

TEST(SlipEncode, LiteralFrames)
{
    EXPECT_EQ(encode({0x61, 0x62, 0x63}), (Bytes{0xC0, 0x61, 0x62, 0x63, 0xDB, 0xDD, 0xC0}));
    // The CRC byte is escaped like any other.
    EXPECT_EQ(encode({0x61, 0x32}), (Bytes{0xC0, 0x61, 0x32, 0xDB, 0xDC, 0xC0}));
    EXPECT_EQ(encode(statusQuery), statusQueryFrame);
    EXPECT_EQ(encode({}), (Bytes{0xC0, 0x00, 0xC0}));
}

TEST(SlipEncode, WorstCaseFitsAndAgreesWithTheStandIn)
{
    Bytes allEscapes(300, 0xC0);
    Bytes frame = encode(allEscapes);
    EXPECT_LE(frame.size(), static_cast<std::size_t>(slipEncodedSize(300)));
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        Bytes m(rng() % 64);
        for (auto& b : m)
            b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0xC0 + rng() % 28 : rng());
        ASSERT_EQ(encode(m), standin::encodeFrame(m)) << "round " << round;
    }
}

TEST(SlipDeframer, DeliversMessagesWithTheirCrcByte)
{
    EXPECT_EQ(deframe({0xC0, 0x61, 0x62, 0x63, 0xDB, 0xDD, 0xC0}), (std::vector<Bytes>{{0x61, 0x62, 0x63, 0xDB}}));
    Bytes withF6 = statusQuery;
    withF6.push_back(0xF6);
    EXPECT_EQ(deframe(statusQueryFrame), std::vector<Bytes>{withF6});
    // A sender that only ends its frames.
    EXPECT_EQ(deframe({0x11, 0x22, 0xB7, 0xC0}), (std::vector<Bytes>{{0x11, 0x22, 0xB7}}));
}

TEST(SlipDeframer, EscapeEdgeCases)
{
    // ESC ESC gives up what came before, and the flag stays for DD.
    EXPECT_EQ(deframe({0xC0, 0x01, 0x02, 0xDB, 0xDB, 0xDD, 0x61, 0x62, 0x50, 0xC0}),
              (std::vector<Bytes>{{0xDB, 0x61, 0x62, 0x50}}));
    // ESC END: the END is dropped, the frame goes on.
    EXPECT_EQ(deframe({0xC0, 0x61, 0xDB, 0xC0, 0x62, 0x63, 0xDB, 0xDD, 0xC0}),
              (std::vector<Bytes>{{0x61, 0x62, 0x63, 0xDB}}));
    // ESC and any other byte: dropped, CRC untouched.
    EXPECT_EQ(deframe({0xC0, 0x61, 0xDB, 0x41, 0x62, 0x63, 0xDB, 0xDD, 0xC0}),
              (std::vector<Bytes>{{0x61, 0x62, 0x63, 0xDB}}));
}

TEST(SlipDeframer, NoiseYieldsNothingAndLeavesTheNextFrameIntact)
{
    EXPECT_TRUE(deframe({0xC0, 0xC0, 0xC0, 0xC0}).empty());
    SlipDeframer d;
    EXPECT_TRUE(deframe(d, {0xC0, 0x61, 0x62, 0x63, 0x00, 0xC0}).empty()); // bad CRC
    EXPECT_TRUE(deframe(d, {0x12, 0x34, 0xDB, 0xC0, 0x56}).empty());       // garbage, stray ESC
    EXPECT_EQ(deframe(d, {0xC0, 0x61, 0x32, 0xDB, 0xDC, 0xC0}), (std::vector<Bytes>{{0x61, 0x32, 0xC0}}));
}

TEST(SlipDeframer, ResetForgetsAPendingEscape)
{
    SlipDeframer d;
    deframe(d, {0xC0, 0x11, 0xDB});
    d.Reset();
    EXPECT_EQ(deframe(d, {0xC0, 0x61, 0x32, 0xDB, 0xDC, 0xC0}), (std::vector<Bytes>{{0x61, 0x32, 0xC0}}));
    // Without the reset the pending ESC would swallow the opening END.
    SlipDeframer stale;
    deframe(stale, {0xC0, 0x11, 0xDB});
    EXPECT_TRUE(deframe(stale, {0xC0, 0x61, 0x32, 0xDB, 0xDC, 0xC0}).empty());
}

TEST(SlipDeframer, OverlongFrameKeepsItsFirst1024Bytes)
{
    Bytes message(1100);
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<std::uint8_t>((i * 7) & 0x7F);
    std::vector<Bytes> frames = deframe(standin::encodeFrame(message));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], Bytes(message.begin(), message.begin() + 1024));
    // A wrong byte past the stored part still spoils the CRC.
    Bytes line = standin::encodeFrame(message);
    line[1090] ^= 0x01;
    EXPECT_TRUE(deframe(line).empty());
}

} // namespace
