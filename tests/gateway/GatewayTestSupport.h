// Helpers shared by the gateway tests: literal bytes, a recording log sink
// and a fixture that leaves the process-wide state as it found it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "gateway/Hlavni.h"
#include "gateway/Linkif.h"
#include "gateway/Rfpacket.h"

using bytes = std::vector<std::uint8_t>;

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
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
        i += 2;
    }
    return out;
}

inline bytes concat(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The part every log line of the calling thread ends with.
inline std::string tidPart() { return " tid " + std::to_string(currentThreadId()); }

class recordingLog {
public:
    logSink sink() {
        return [this](std::string line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(std::move(line));
        };
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

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

// --- Interfaces and bus polling -------------------------------------------

// A transport that keeps what it is asked to send.
class recordingTransport : public transObject {
public:
    struct sent {
        std::uint32_t address;
        int parameter;
        bytes packet;
    };
    explicit recordingTransport(HlavniCem* owner) : transObject(owner) {}
    ~recordingTransport() override { Stop(); }
    void OnTick() override {}
    void SendRadioFrame(std::uint32_t address, int parameter, msgBox* box) override {
        std::lock_guard lock(mutex_);
        sends_.push_back({address, parameter, bytes(box->data, box->data + box->length)});
    }
    std::vector<sent> sends() {
        std::lock_guard lock(mutex_);
        return sends_;
    }

protected:
    void Execute() override {}

private:
    std::mutex mutex_;
    std::vector<sent> sends_;
};

// A worker whose gateway reports and meter protocol the test watches:
// requests come from `request`, and every decoder call is noted.
class testWorker : public HlavniCem {
public:
    struct decoded {
        int busId;
        bool optical;
        int result;
        int length;
        bytes frame;
        busReply reply;
    };
    struct notified {
        std::string name;
        std::uint32_t address;
        int channel;
        bool operator==(const notified&) const = default;
    };

    explicit testWorker(logSink log = {}) : HlavniCem(linkInterfaces{std::move(log)}, {}, tickSource::manual) {}

    void changeNotify(std::string_view name, std::uint32_t address, int channel) override {
        std::lock_guard lock(mutex_);
        notifies_.push_back({std::string(name), address, channel});
    }
    int buildBusRequest(BusObject&, std::uint8_t* buffer, int room) override {
        const int n = std::min(static_cast<int>(request.size()), room);
        std::copy(request.begin(), request.begin() + n, buffer);
        return n;
    }
    int decodeMBusResponse(BusObject& bus, const busReply& reply) override { return note(bus, false, reply); }
    int decodeOpticalResponse(BusObject& bus, const busReply& reply) override { return note(bus, true, reply); }

    std::vector<decoded> decodes() {
        std::lock_guard lock(mutex_);
        return decodes_;
    }
    std::vector<notified> notifies() {
        std::lock_guard lock(mutex_);
        return notifies_;
    }

    // An interface on "COM3" with a recording transport, linked to `address`
    // when that is not 0 and past its start delay.
    rfInterfaces* addGateway(std::uint32_t address, std::string port = "COM3") {
        auto itf = std::make_unique<rfInterfaces>(this, rfKindSerial, "Serial : " + port);
        auto transport = std::make_unique<recordingTransport>(this);
        itf->transport = std::move(transport);
        if (address) itf->storeInfo(address, 2);
        itf->startDelay = 0;
        rfInterfaces* raw = itf.get();
        addInterface(std::move(itf));
        return raw;
    }
    static recordingTransport& transportOf(rfInterfaces* itf) {
        return static_cast<recordingTransport&>(*itf->transport);
    }

    bytes request;

private:
    int note(BusObject& bus, bool optical, const busReply& reply) {
        std::lock_guard lock(mutex_);
        bytes frame;
        if (reply.length > 0) frame.assign(reply.bytes, reply.bytes + reply.length);
        decodes_.push_back({bus.id, optical, reply.result, reply.length, frame, reply});
        return bus.step;
    }

    std::mutex mutex_;
    std::vector<decoded> decodes_;
    std::vector<notified> notifies_;
};

// A bus object for gateway 0x01020304 and module 0x0A0B0C0D.
inline std::unique_ptr<BusObject> makeBus(int id, int replyTimeout = 30, int repeat = 100) {
    auto bus = std::make_unique<BusObject>();
    bus->id = id;
    bus->primaryAddress = static_cast<std::uint8_t>(id);
    bus->gateway = 0x01020304;
    bus->module = 0x0A0B0C0D;
    bus->replyTimeout = replyTimeout;
    bus->repeatInterval = repeat;
    return bus;
}
