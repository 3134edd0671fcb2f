#pragma once
// Wired meters behind the stand-in's modules: an M-Bus meter and an optical
// meter that answer the transparent packets (kind 0x20) sent to their
// module. Requests are read with code of this file's own.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace standin {

using Bytes = std::vector<std::uint8_t>;

struct MBusMeter {
    std::uint32_t module = 0;
    std::uint8_t primary = 0;
    std::uint32_t id = 0x12345678;
};

struct OpticalMeter {
    std::uint32_t module = 0;
    std::string address;
};

class Meters {
public:
    void add(MBusMeter m);
    void add(OpticalMeter m);
    // The RF packets that answer one sent packet (header and payload), at
    // most 32 payload bytes each; none for a packet no meter takes.
    std::vector<Bytes> answer(const Bytes& packet);

    // For tests: the next n requests left unanswered, the next telegram's
    // check sum spoilt.
    void leaveUnanswered(int n);
    void spoilNextChecksum();

private:
    // An M-Bus meter within its exchange.
    struct MBusState {
        MBusMeter meter;
        bool selected = false;
        std::optional<std::uint8_t> fcb;
        Bytes last;
    };

    Bytes mbusAnswer(MBusState& m, const Bytes& request);
    Bytes opticalAnswer(const OpticalMeter& m, const Bytes& request);

    std::mutex mutex_;
    std::vector<MBusState> mbus_;
    std::vector<OpticalMeter> optical_;
    int unanswered_ = 0;
    bool spoil_ = false;
};

}  // namespace standin
