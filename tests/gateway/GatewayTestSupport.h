// Helpers shared by the gateway tests: literal bytes, recording sinks, and
// fixtures that leave the process-wide state as they found it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "gateway/Hlavni.h"
#include "gateway/Linkif.h"
#include "gateway/Rfpacket.h"
#include "tests/tools/gwstandin/GatewayStandin.h"
#include "tests/tools/support/TestSupport.h"

using bytes = std::vector<std::uint8_t>;
using standin::operator+;

// Polls until pred() holds; the limit only keeps a broken link from
// hanging the test.
template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// "3F 31 06" -> {0x3F, 0x31, 0x06}.
inline bytes hex(std::string_view text) {
    bytes out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != ' ') out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i++, 2)), nullptr, 16)));
    return out;
}

// A received packet taken in place from `wire`, as the transport does.
inline rfPacket inPlace(bytes& wire, std::int32_t rssi = 0) {
    rfPacket p = rfPacketInPlace(wire.data(), static_cast<int>(wire.size()));
    p.rssi = rssi;
    return p;
}

// The part every log line of the calling thread ends with.
inline std::string tidPart() { return " tid " + std::to_string(currentThreadId()); }

// Whatever a sink hands over, kept in order; sinks run on the link's threads.
template <class T>
class recorder {
public:
    void add(T value) {
        std::lock_guard lock(mutex_);
        values_.push_back(std::move(value));
    }
    std::vector<T> all() {
        std::lock_guard lock(mutex_);
        return values_;
    }
    std::size_t count() { return all().size(); }
    void clear() {
        std::lock_guard lock(mutex_);
        values_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<T> values_;
};

class recordingLog : public recorder<std::string> {
public:
    logSink sink() {
        return [this](std::string line) { add(std::move(line)); };
    }
    std::vector<std::string> lines() { return all(); }
    std::size_t starting(const std::string& start) {
        const auto l = lines();
        return static_cast<std::size_t>(
            std::count_if(l.begin(), l.end(), [&](const std::string& s) { return s.rfind(start, 0) == 0; }));
    }
};

// What the reading sink gets: address text, type, RSSI, value, index.
using reading = std::tuple<std::string, int, int, double, int>;

inline readingSink recordTo(recorder<reading>& readings) {
    return [&readings](const std::string& address, int type, int rssi, double value, int index) {
        readings.add({address, type, rssi, value, index});
    };
}

// Every gateway test starts at debug level 0 with an empty duplicate filter
// on a clock of its own, and ends with every pool buffer given back.
class gatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        debugLevel = 0;
        duplicateFilterClear();
        duplicateFilterSetClock([this] { return now; });
        msgBoxPoolSetLimit(-1);
    }
    void TearDown() override {
        EXPECT_EQ(msgBoxPoolMade(), msgBoxPoolFreeCount()) << "a pool buffer was not given back";
        msgBoxPoolSetLimit(-1);
        duplicateFilterSetClock({});
        duplicateFilterClear();
        debugLevel = 0;
    }
    std::int64_t now = 1000;
};

// Stand-ins on pseudo-terminals, entered in a device folder of the test's
// own; the machine's devices are those of a folder of the test's own too.
class deviceFolderTest : public gatewayTest {
protected:
    void SetUp() override {
        gatewayTest::SetUp();
        setenv("ORVELO_DEVICE_DIR", folder.c_str(), 1);
        setenv("ORVELO_DEV_ROOT", devRoot.Path().c_str(), 1);
    }
    // Whoever holds the ports lets go of them first.
    void TearDown() override {
        gateways.clear();
        unsetenv("ORVELO_DEV_ROOT");
        unsetenv("ORVELO_DEVICE_DIR");
        gatewayTest::TearDown();
    }
    standin::GatewayStandin& gateway(const std::string& name = "COM3") {
        gateways.push_back(std::make_unique<standin::GatewayStandin>(folder, name));
        return *gateways.back();
    }

    testsupport::TempDir dir;
    std::string folder = dir.Path();
    testsupport::TempDir devRoot;
    std::vector<std::unique_ptr<standin::GatewayStandin>> gateways;
};
