#include "tests/tools/gwstandin/Meters.h"

#include "tests/tools/gwstandin/GatewayStandin.h"

#include <algorithm>
#include <utility>

namespace standin {

namespace {

constexpr std::uint8_t Transparent = 0x20;
constexpr std::uint8_t Selected = 253;
constexpr std::size_t HeaderSize = 11;
constexpr std::size_t ChunkSize = 32;

std::uint32_t readAddress(const Bytes& p, std::size_t at)
{
    return static_cast<std::uint32_t>(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3];
}

std::uint8_t sum(const Bytes& b, std::size_t from, std::size_t to)
{
    std::uint8_t s = 0;
    for (std::size_t i = from; i < to; ++i)
        s = static_cast<std::uint8_t>(s + b[i]);
    return s;
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// The meter's default RSP_UD: two volume records, 123456.789 m3 (binary)
// and 23456.789 m3 (BCD).
Bytes defaultTelegram(std::uint8_t primary, std::uint32_t id)
{
    Bytes t{0x68, 0x1B, 0x1B, 0x68, 0x08, primary, 0x72};
    for (int i = 0; i < 4; ++i)
        t.push_back(static_cast<std::uint8_t>(id >> (8 * i)));
    for (std::uint8_t b : {0x43, 0x04, 0x01, 0x07, 0x2A, 0x00, 0x00, 0x00, 0x04, 0x13, 0x15, 0xCD, 0x5B, 0x07,
                           0x0C, 0x13, 0x89, 0x67, 0x45, 0x23})
        t.push_back(b);
    t.push_back(sum(t, 4, t.size()));
    t.push_back(0x16);
    return t;
}

} // namespace

void Meters::add(MBusMeter m)
{
    std::lock_guard lock(mutex_);
    mbus_.push_back(MBusState{m, false, std::nullopt, {}});
}

void Meters::add(OpticalMeter m)
{
    std::lock_guard lock(mutex_);
    optical_.push_back(std::move(m));
}

void Meters::leaveUnanswered(int n)
{
    std::lock_guard lock(mutex_);
    unanswered_ = n;
}

void Meters::spoilNextChecksum()
{
    std::lock_guard lock(mutex_);
    spoil_ = true;
}

std::vector<Bytes> Meters::answer(const Bytes& packet)
{
    std::lock_guard lock(mutex_);
    if (packet.size() <= HeaderSize || packet[8] != Transparent)
        return {};
    const std::uint32_t module = readAddress(packet, 0);
    const Bytes request(packet.begin() + HeaderSize, packet.end());
    Bytes reply;
    bool known = false;
    for (MBusState& m : mbus_)
        if (m.meter.module == module) {
            known = true;
            if (unanswered_ == 0)
                reply = mbusAnswer(m, request);
        }
    for (const OpticalMeter& m : optical_)
        if (m.module == module) {
            known = true;
            if (unanswered_ == 0)
                reply = opticalAnswer(m, request);
        }
    if (known && unanswered_ > 0)
        --unanswered_;
    std::vector<Bytes> out;
    for (std::size_t at = 0; at < reply.size(); at += ChunkSize) {
        Bytes p(packet.begin() + 4, packet.begin() + 8); // to the gateway
        p.insert(p.end(), packet.begin(), packet.begin() + 4);
        p.insert(p.end(), {Transparent, 0x69, packet[10]});
        p.insert(p.end(), reply.begin() + static_cast<long>(at),
                 reply.begin() + static_cast<long>(std::min(reply.size(), at + ChunkSize)));
        out.push_back(std::move(p));
    }
    return out;
}

// 10 C A CS 16: SND_NKE (C 0x40) or REQ_UD2 (0x5B, 0x7B with the frame
// count bit 0x20); 68 0B 0B 68 73 FD 52 ID FF FF FF FF CS 16: a selection.
Bytes Meters::mbusAnswer(MBusState& m, const Bytes& r)
{
    const Bytes ack{0xE5};
    if (r.size() == 5 && r[0] == 0x10 && r[4] == 0x16 && r[3] == sum(r, 1, 3)) {
        if (r[2] != m.meter.primary && !(r[2] == Selected && m.selected))
            return {};
        if (r[1] == 0x40) {
            m.selected = false;
            m.fcb.reset();
            return ack;
        }
        if ((r[1] & 0xDF) != 0x5B)
            return {};
        const std::uint8_t fcb = r[1] & 0x20;
        if (!(m.fcb && *m.fcb == fcb && !m.last.empty()))
            m.last = defaultTelegram(m.meter.primary, m.meter.id);
        m.fcb = fcb;
        Bytes sent = m.last; // spoilt on the way: a repeat goes out whole
        if (std::exchange(spoil_, false))
            sent[sent.size() - 2] ^= 0xFF;
        return sent;
    }
    if (r.size() == 17 && r[0] == 0x68 && r[1] == 0x0B && r[2] == 0x0B && r[3] == 0x68 && r[5] == Selected &&
        r[6] == 0x52 && r[16] == 0x16 && r[15] == sum(r, 4, 15)) {
        m.selected = readAddress({r[10], r[9], r[8], r[7]}, 0) == m.meter.id;
        m.fcb.reset();
        return m.selected ? ack : Bytes{};
    }
    return {};
}

// "/?" ADDRESS "!" CR LF: the identification; ACK "0" x y CR LF: the data.
Bytes Meters::opticalAnswer(const OpticalMeter& m, const Bytes& r)
{
    const Bytes crlf{'\r', '\n'};
    if (r.size() >= 5 && r[0] == '/' && r[1] == '?' && r[r.size() - 3] == '!' &&
        Bytes(r.end() - 2, r.end()) == crlf) {
        const std::string address(r.begin() + 2, r.end() - 3);
        return address.empty() || address == m.address ? text("/ABC5XYZ\r\n") : Bytes{};
    }
    if (r.size() == 6 && r[0] == 0x06 && r[1] == '0' && Bytes(r.end() - 2, r.end()) == crlf)
        return Bytes{0x02} + text("1.8.0(0012345.678*kWh)\r\n2.8.0(0000001.250*kWh)\r\n!\r\n") + Bytes{0x03, 0x28};
    return {};
}

} // namespace standin
