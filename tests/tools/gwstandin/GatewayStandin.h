#pragma once
// A radio gateway on a pseudo-terminal, for tests and for trying the
// program without hardware. It speaks the line protocol with code of its
// own (bitwise CRC-8, its own SLIP and records), so that a fault in the
// program's framing cannot hide behind the same fault here.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <termios.h>
#include <thread>
#include <vector>

#include "tests/tools/gwstandin/Meters.h"

namespace standin {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Generous, only so that a broken program cannot hang a test.
constexpr std::chrono::milliseconds hangGuard = 15s;

std::uint8_t crc8(const std::uint8_t* data, std::size_t length);
// END, escaped message, escaped complemented CRC, END.
Bytes encodeFrame(const Bytes& message);

// Records, written the way the gateway writes them (index -1: none).
Bytes unsignedRecord(int oid, int index, std::uint32_t value);
Bytes signedRecord(int oid, int index, std::int32_t value);
Bytes octetsRecord(int oid, int index, const Bytes& value);
Bytes operator+(Bytes a, const Bytes& b);

struct Frame {
    Bytes message; // without its CRC byte
    Bytes raw;     // as on the line, from the opening to the closing END
};

struct RfSend {
    std::optional<std::uint32_t> parameter; // OID 128
    Bytes packet;                           // OID 119
};

struct Settings {
    std::uint32_t address = 0x01020304;
    std::uint32_t channel = 2;
    std::uint32_t group = 0;
    std::uint32_t mode = 0;
};

class GatewayStandin {
public:
    // Opens a pseudo-terminal and enters its slave as folder/name.
    GatewayStandin(std::string folder, std::string name);
    ~GatewayStandin();
    GatewayStandin(const GatewayStandin&) = delete;
    GatewayStandin& operator=(const GatewayStandin&) = delete;

    std::string entryPath() const { return folder_ + "/" + name_; }
    std::string slavePath() const;

    // The gateway's own settings, as it reports them.
    void setSettings(const Settings& s);
    Settings settings() const { return locked(settings_); }
    bool saved() const { return locked(saved_); }

    // True once the transport has the port locked and in raw mode.
    bool isHeld() const;
    bool waitHeld(std::chrono::milliseconds limit = hangGuard) const;
    // The line settings the transport left on the terminal.
    termios lineSettings() const;

    bool waitFrames(std::size_t count, std::chrono::milliseconds limit = hangGuard) const;
    std::vector<Frame> frames() const { return locked(frames_); }
    std::vector<RfSend> rfSends() const { return locked(rfSends_); }
    // Waits until the other side has read everything written to it.
    bool waitTaken(std::chrono::milliseconds limit = hangGuard) const;

    // As the modules and as the gateway. Each waits first until the
    // transport holds the port: a cooked terminal would echo.
    bool sendMessage(const Bytes& message);
    // An RF packet (header and payload) in OID 119, with an RSSI record
    // (OID 120) before or after it when asked.
    bool sendRfPacket(const Bytes& packet, std::optional<std::int32_t> rssi = {}, bool rssiAfter = false);
    bool sendRaw(const Bytes& bytes);

    // Silent: reads and records, never answers. Not reading: leaves the
    // line alone, so that the other side's writes stall.
    void setSilent(bool silent) { silent_ = silent; }
    void setReading(bool reading) { reading_ = reading; }
    // Writes frames flat out on a thread of its own, the n-th carrying
    // make(n): packets that differ pass the other side's duplicate filter.
    void startFlood(std::function<Bytes(std::uint64_t n)> make);
    void stopFlood();
    std::uint64_t floodedFrames() const { return flooded_; }

    // The wired meters behind the modules: each packet sent to one of them
    // is answered (RSSI -60).
    Meters meters;

    // Closes the pseudo-terminal: the other side sees a hang-up, and the
    // entry goes too (left dangling, it would lead to the next terminal the
    // system hands out, maybe another test's). comeBack opens a new one
    // under the same name.
    void hangUp();
    void comeBack();

private:
    template <class T>
    T locked(const T& member) const
    {
        std::lock_guard lock(mutex_);
        return member;
    }
    void readLoop();
    void handleFrame(const Bytes& raw);
    Bytes answer(const Bytes& message, Bytes& sentPacket);
    bool writeBytes(const Bytes& bytes, const std::atomic<bool>* abort = nullptr);

    std::string folder_;
    std::string name_;
    int master_ = -1;
    int slave_ = -1; // kept open so that the line survives the other side's close

    mutable std::mutex mutex_;
    std::vector<Frame> frames_;
    std::vector<RfSend> rfSends_;
    Settings settings_;
    bool saved_ = false;

    std::mutex writeMutex_;
    std::atomic<bool> silent_{false};
    std::atomic<bool> reading_{true};
    std::atomic<bool> stopReader_{false};
    std::atomic<bool> stopFlood_{false};
    std::atomic<std::uint64_t> flooded_{0};
    std::thread reader_;
    std::thread flood_;
    Bytes pending_; // raw bytes of the frame being received
};

} // namespace standin
