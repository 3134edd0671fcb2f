#include "gateway/Slip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GatewayTestSupport.h"

namespace {

bytes encode(const bytes& message)
{
    bytes out(static_cast<std::size_t>(slipEncodedSize(static_cast<int>(message.size()))));
    out.resize(static_cast<std::size_t>(SlipEncode(message.data(), static_cast<int>(message.size()), out.data())));
    return out;
}

// Every good frame the bytes close, in order, and the count of frames
// dropped as too long.
std::pair<std::vector<bytes>, int> deframe(const bytes& line)
{
    SlipDeframer d;
    std::vector<bytes> frames;
    int dropped = 0;
    for (std::uint8_t b : line) {
        const int n = d.Feed(b);
        dropped += n == SlipDeframer::overflowDropped;
        if (n > 0)
            frames.emplace_back(d.Frame(), d.Frame() + n);
    }
    return {frames, dropped};
}

// The CRC itself: every frame the worker's tests compare.
TEST(SlipEncode, LiteralFrames)
{
    EXPECT_EQ(encode(hex("61 62 63")), hex("C0 61 62 63 DB DD C0"));
    EXPECT_EQ(encode(hex("61 32")), hex("C0 61 32 DB DC C0")) << "the CRC byte is escaped like any other";
    EXPECT_EQ(encode({}), hex("C0 00 C0"));

    EXPECT_LE(encode(bytes(300, 0xC0)).size(), static_cast<std::size_t>(slipEncodedSize(300)));
}

// A bad CRC, garbage and a stray ESC before a good frame: the worker's tests.
TEST(SlipDeframer, LiteralLines)
{
    const struct {
        const char* name;
        bytes line;
        std::vector<bytes> frames;
    } cases[] = {
        {"the CRC byte stays", hex("C0 61 62 63 DB DD C0"), {hex("61 62 63 DB")}},
        {"a sender that only ends its frames", hex("11 22 B7 C0"), {hex("11 22 B7")}},
        {"ESC ESC gives up what came before, the flag stays for DD", hex("C0 01 02 DB DB DD 61 62 50 C0"),
         {hex("DB 61 62 50")}},
        {"ESC END: the END is dropped, the frame goes on", hex("C0 61 DB C0 62 63 DB DD C0"), {hex("61 62 63 DB")}},
        {"ESC and any other byte: dropped, CRC untouched", hex("C0 61 DB 41 62 63 DB DD C0"), {hex("61 62 63 DB")}},
        {"empty frames", hex("C0 C0 C0 C0"), {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(deframe(c.line), std::make_pair(c.frames, 0)) << c.name;
}

// A frame that overflows the 1024-byte buffer is dropped whole, whatever
// its CRC; the frame after it comes through.
TEST(SlipDeframer, OverlongFrameIsDroppedWhole)
{
    struct overlong {
        std::size_t size;
        std::uint8_t fill;  // 0xC0 is sent escaped
        bool kept;
    };
    const overlong cases[] = {
        {1023, 0x11, true},  // with its CRC byte the buffer is just full
        {1024, 0x11, false}, {1100, 0x11, false}, {1024, 0xC0, false}, {1100, 0xC0, false},
    };
    for (const overlong& c : cases) {
        const bytes message(c.size, c.fill);
        std::vector<bytes> expected{hex("61 32 C0")};
        const auto crc = static_cast<std::uint8_t>(~crc8(message.data(), static_cast<int>(message.size())));
        if (c.kept)
            expected.insert(expected.begin(), message + bytes{crc});
        EXPECT_EQ(deframe(standin::encodeFrame(message) + standin::encodeFrame(hex("61 32"))),
                  std::make_pair(expected, c.kept ? 0 : 1)) << c.size << " bytes of " << int(c.fill);
    }
}

} // namespace
