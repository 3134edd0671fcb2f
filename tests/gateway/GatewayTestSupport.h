// Helpers shared by the gateway tests: literal bytes, a recording log sink
// and a fixture that leaves the process-wide state as it found it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/Linkif.h"
#include "gateway/Rfpacket.h"

using bytes = std::vector<std::uint8_t>;

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
