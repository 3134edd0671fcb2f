#pragma once
// SLIP framing with a CRC-8 trailer, as the gateway speaks it on the line.

#include <cstdint>

namespace slip {
constexpr std::uint8_t End = 0xC0;
constexpr std::uint8_t Esc = 0xDB;
constexpr std::uint8_t EscapedEnd = 0xDC;
constexpr std::uint8_t EscapedEsc = 0xDD;
} // namespace slip

// CRC-8, polynomial 0x07 in right-shifting form, register starting at 0xFF.
// Over a message followed by its complemented register the register always
// ends at crc8Residue.
constexpr std::uint8_t crc8Initial = 0xFF;
constexpr std::uint8_t crc8Residue = 0xCF;
std::uint8_t crc8Update(std::uint8_t crc, std::uint8_t byte);
std::uint8_t crc8(const std::uint8_t* data, int length);

// Room SlipEncode needs for a message of the given length.
constexpr int slipEncodedSize(int length)
{
    return 2 * length + 4;
}

// END, the escaped message, its escaped complemented CRC, END. Returns the
// number of bytes written to out, which holds slipEncodedSize(length).
int SlipEncode(const std::uint8_t* message, int length, std::uint8_t* out);

// The receive side, fed one byte at a time. A frame longer than the buffer
// is dropped whole, whatever its CRC: the deframer waits for the next END.
class SlipDeframer {
public:
    static constexpr int frameCapacity = 1024;
    // What Feed returns for the END of a frame that overflowed the buffer.
    static constexpr int overflowDropped = -1;

    // Returns the length of a frame with a good CRC that this byte closed
    // (its bytes, the CRC byte last, are at Frame() until the next byte),
    // overflowDropped when it closed an overlong frame, else 0.
    int Feed(std::uint8_t byte);
    // Forgets any frame in progress, and a pending escape.
    void Reset();

    const std::uint8_t* Frame() const { return buffer_; }

private:
    void Append(std::uint8_t byte);
    void Restart();

    bool escape_ = false;
    bool overflowed_ = false;
    int length_ = 0;
    std::uint8_t crc_ = crc8Initial;
    std::uint8_t buffer_[frameCapacity] = {};
};
