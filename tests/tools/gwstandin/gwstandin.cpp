// Stands in for a radio gateway on a pseudo-terminal, so that the program
// can be tried by hand: it answers status queries, shows every frame it
// gets, and can play a meter module that reports now and then.
//
//   gwstandin [--folder DIR] [--name COMn] [--address HEX] [--channel N]
//             [--module HEX] [--every SECONDS]
//             [--mbus-meter MODULE,P[,ID]]... [--optical-meter MODULE[,ADDRESS]]...
//
// --mbus-meter plays an M-Bus meter with primary address P (and secondary
// address ID, 8 hexadecimal digits) behind module MODULE (hexadecimal),
// --optical-meter an optical meter; each answers the requests sent to it.

#include "tests/tools/gwstandin/GatewayStandin.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using standin::operator+;

namespace {

volatile std::sig_atomic_t stopping = 0;

void onSignal(int)
{
    stopping = 1;
}

// "A,B,C" -> {"A", "B", "C"}.
std::vector<std::string> fields(const std::string& text)
{
    std::vector<std::string> out(1);
    for (char c : text) {
        if (c == ',')
            out.emplace_back();
        else
            out.back().push_back(c);
    }
    return out;
}

std::optional<std::uint32_t> hexNumber(const std::string& text, int digits)
{
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 16);
    if (text.empty() || *end || static_cast<int>(text.size()) > digits + 2 || v > 0xFFFFFFFFul)
        return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

bool addMBusMeter(std::vector<standin::MBusMeter>& meters, const std::string& value)
{
    const std::vector<std::string> f = fields(value);
    standin::MBusMeter m;
    const auto module = hexNumber(f[0], 8);
    const int primary = f.size() >= 2 ? std::atoi(f[1].c_str()) : -1;
    const auto id = f.size() == 3 ? hexNumber(f[2], 8) : std::optional<std::uint32_t>(m.id);
    if (!module || f.size() < 2 || f.size() > 3 || primary < 0 || primary > 250 || !id)
        return false;
    m.module = *module;
    m.primary = static_cast<std::uint8_t>(primary);
    m.id = *id;
    meters.push_back(std::move(m));
    return true;
}

bool addOpticalMeter(std::vector<standin::OpticalMeter>& meters, const std::string& value)
{
    const std::vector<std::string> f = fields(value);
    const auto module = hexNumber(f[0], 8);
    if (!module || f.size() > 2)
        return false;
    meters.push_back(standin::OpticalMeter{*module, f.size() == 2 ? f[1] : ""});
    return true;
}

struct Options {
    std::string folder;
    std::string name = "COM1";
    standin::Settings settings;
    std::uint32_t module = 0x0A0B0C0D;
    int every = 0; // seconds between module reports, 0 = none
    std::vector<standin::MBusMeter> mbus;
    std::vector<standin::OpticalMeter> optical;
};

bool parse(int argc, char** argv, Options& o)
{
    const char* env = std::getenv("ORVELO_DEVICE_DIR");
    o.folder = env && *env ? env : "/dev/orvelo";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string key = argv[i];
        const char* v = argv[i + 1];
        if (key == "--folder")
            o.folder = v;
        else if (key == "--name")
            o.name = v;
        else if (key == "--address")
            o.settings.address = static_cast<std::uint32_t>(std::strtoul(v, nullptr, 16));
        else if (key == "--channel")
            o.settings.channel = static_cast<std::uint32_t>(std::strtoul(v, nullptr, 10));
        else if (key == "--module")
            o.module = static_cast<std::uint32_t>(std::strtoul(v, nullptr, 16));
        else if (key == "--every")
            o.every = std::atoi(v);
        else if (key == "--mbus-meter" ? !addMBusMeter(o.mbus, v)
                 : key == "--optical-meter" ? !addOpticalMeter(o.optical, v)
                                            : true)
            return false;
    }
    return argc % 2 == 1;
}

void printHex(const char* what, const standin::Bytes& bytes)
{
    std::printf("%s", what);
    for (std::uint8_t b : bytes)
        std::printf(" %02X", b);
    std::printf("\n");
    std::fflush(stdout);
}

// A sensor packet (kind 0x22) from the module to the gateway: a pulse
// count and a temperature in tenths of a degree.
standin::Bytes sensorPacket(const Options& o, std::uint8_t sequence, std::uint32_t count)
{
    standin::Bytes packet;
    for (std::uint32_t a : {o.settings.address, o.module})
        for (int shift = 24; shift >= 0; shift -= 8)
            packet.push_back(static_cast<std::uint8_t>(a >> shift));
    packet.push_back(0x22);
    packet.push_back(0);
    packet.push_back(sequence & 0x7F);
    return packet + standin::unsignedRecord(63, -1, 1) + standin::unsignedRecord(100, 0, count) +
           standin::signedRecord(105, 0, 215);
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: gwstandin [--folder DIR] [--name COMn] [--address HEX] [--channel N]"
                     " [--module HEX] [--every SECONDS]\n"
                     "                 [--mbus-meter MODULE,P[,ID]]... [--optical-meter MODULE[,ADDRESS]]...\n");
        return 2;
    }
    std::filesystem::create_directories(o.folder);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    standin::GatewayStandin gateway(o.folder, o.name);
    gateway.setSettings(o.settings);
    for (const standin::MBusMeter& m : o.mbus)
        gateway.meters.add(m);
    for (const standin::OpticalMeter& m : o.optical)
        gateway.meters.add(m);
    std::printf("%s -> %s\n", gateway.entryPath().c_str(), gateway.slavePath().c_str());
    std::fflush(stdout);

    std::size_t shown = 0;
    std::uint32_t count = 0;
    for (int tick = 1; !stopping; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto frames = gateway.frames();
        for (; shown < frames.size(); ++shown)
            printHex("<-", frames[shown].raw);
        if (o.every > 0 && tick % (o.every * 10) == 0 && gateway.isHeld()) {
            standin::Bytes packet = sensorPacket(o, static_cast<std::uint8_t>(tick), ++count);
            gateway.sendRfPacket(packet, -60);
            printHex("-> RF", packet);
        }
    }
    return 0;
}
