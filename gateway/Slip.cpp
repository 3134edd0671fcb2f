#include "gateway/Slip.h"

#include <array>

namespace {

constexpr std::array<std::uint8_t, 256> makeCrcTable()
{
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        std::uint8_t r = static_cast<std::uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) ? static_cast<std::uint8_t>((r >> 1) ^ 0xE0) : static_cast<std::uint8_t>(r >> 1);
        table[i] = r;
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> crcTable = makeCrcTable();

// Writes one byte, escaped when it is a frame byte; returns the bytes used.
int putEscaped(std::uint8_t byte, std::uint8_t* out)
{
    if (byte == slip::End || byte == slip::Esc) {
        out[0] = slip::Esc;
        out[1] = byte == slip::End ? slip::EscapedEnd : slip::EscapedEsc;
        return 2;
    }
    out[0] = byte;
    return 1;
}

} // namespace

std::uint8_t crc8Update(std::uint8_t crc, std::uint8_t byte)
{
    return crcTable[crc ^ byte];
}

std::uint8_t crc8(const std::uint8_t* data, int length)
{
    std::uint8_t crc = crc8Initial;
    for (int i = 0; i < length; ++i)
        crc = crc8Update(crc, data[i]);
    return crc;
}

int SlipEncode(const std::uint8_t* message, int length, std::uint8_t* out)
{
    int n = 0;
    std::uint8_t crc = crc8Initial;
    out[n++] = slip::End;
    for (int i = 0; i < length; ++i) {
        crc = crc8Update(crc, message[i]);
        n += putEscaped(message[i], out + n);
    }
    n += putEscaped(static_cast<std::uint8_t>(~crc), out + n);
    out[n++] = slip::End;
    return n;
}

void SlipDeframer::Reset()
{
    escape_ = false;
    Restart();
}

void SlipDeframer::Restart()
{
    length_ = 0;
    overflowed_ = false;
    crc_ = crc8Initial;
}

void SlipDeframer::Append(std::uint8_t byte)
{
    if (length_ == frameCapacity) {
        overflowed_ = true;
        return;
    }
    buffer_[length_++] = byte;
    crc_ = crc8Update(crc_, byte);
}

int SlipDeframer::Feed(std::uint8_t byte)
{
    if (byte == slip::Esc) {
        // A second ESC gives up the frame but still escapes the next byte.
        if (escape_)
            Restart();
        escape_ = true;
        return 0;
    }
    if (escape_) {
        escape_ = false;
        // Only the two escape codes mean anything here; whatever else
        // follows an ESC, END included, is dropped and the frame goes on.
        if (byte == slip::EscapedEsc || byte == slip::EscapedEnd)
            Append(byte == slip::EscapedEsc ? slip::Esc : slip::End);
        return 0;
    }
    if (byte != slip::End) {
        Append(byte);
        return 0;
    }
    int length = overflowed_ ? overflowDropped : length_ > 0 && crc_ == crc8Residue ? length_ : 0;
    Restart();
    return length;
}
