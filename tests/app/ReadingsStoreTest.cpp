// The readings store without the window: each reading finds its meter in
// the key list, stores value and time there and posts the list row; the
// clock is the test's.
#include "app/Tformats.h"
#include "app/Tmydates.h"
#include "app/Tmyodecty.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

const plat::TDateTimeParts kNow {2026, 3, 16, 10, 20, 30, 0};

TMeterRecord Meter(const std::string& address, int index, int multiplier, int divisor, double correction) {
    auto m = std::make_shared<TStradelCntrs>();
    m->rfAddress = address;
    m->msgIndex = index;
    m->multiplier = multiplier;
    m->divisor = divisor;
    m->correction = correction;
    m->key = address + "=" + std::to_string(index);
    return m;
}

class ReadingsStore : public ::testing::Test {
protected:
    TMeterKeyList keys;
    TMyOdecty store {nullptr, [](const std::string&) {}};
    std::mutex mutex;
    std::vector<TRowUpdate> rows;
    std::vector<std::string> lines;

    void SetUp() override {
        store.SetReadings(&keys,
                          {[this](const std::string& line) {
                               std::lock_guard<std::mutex> lock(mutex);
                               lines.push_back(line);
                           },
                           [this](TRowUpdate row) {
                               std::lock_guard<std::mutex> lock(mutex);
                               rows.push_back(std::move(row));
                           }},
                          [] { return kNow; });
    }
    void File(const TMeterRecord& m) { keys.Add(m->key, m); }
};

TEST_F(ReadingsStore, EachReadingStoresItsMetersValueAndTimeAndShowsTheRawValue) {
    const TMeterRecord pulses = Meter("0xA0B0C0D", 0, 1, 100, 10.5), heat = Meter("0xA0B0C0D", 8, 1, 1, 0),
                       first = Meter("0x1a2b", 1, 1, 1, 0), second = Meter("0x1a2b", 2, 1, 1, 0),
                       empty = Meter("0x5", 0, 2, 0, 0), fine = Meter("0x7", 0, 1, 10, 0.1),
                       zeros = Meter("0x0a0b0c0e", 0, 1, 1, 0);
    for (const TMeterRecord& m : {pulses, heat, first, second, empty, fine, zeros}) File(m);
    struct Case {
        const char* address;
        int kind, index;
        double raw;
        TMeterRecord meter;  // null: dropped
        std::uint64_t valueBits;
    };
    const Case cases[] = {
        {"0xa0b0c0d", 0, 0, 1234, pulses, std::bit_cast<std::uint64_t>(22.84)},
        {"0xa0b0c0d", 1, 0, 21.5, heat, std::bit_cast<std::uint64_t>(21.5)},
        {"0x1a2b", 0, 2, 7, second, std::bit_cast<std::uint64_t>(7.0)},
        {"0x5", 0, 0, 5, empty, std::bit_cast<std::uint64_t>(10.0)},  // divisor 0 counts as 1
        {"0x7", 0, 0, 22, fine, 0x4002666666666666},                 // not 2.3000000000000003
        {"0xa0b0c0e", 0, 0, 1, nullptr, 0},                           // written with a leading zero
        {"0x1a2b", 0, 9, 1, nullptr, 0},
        {"0x1a2b", 2, 0, 3.3, nullptr, 0},  // no index 11: the address's first meter keeps it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " kind " + std::to_string(c.kind));
        rows.clear();
        store.AddReading(c.address, c.kind, -70, c.raw, c.index);
        if (!c.meter) {
            EXPECT_TRUE(rows.empty());
            continue;
        }
        EXPECT_EQ(std::bit_cast<std::uint64_t>(c.meter->value), c.valueBits);
        EXPECT_EQ(c.meter->rssi, -70);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].key, c.meter->key);
        EXPECT_EQ(rows[0].value, c.raw);
        EXPECT_EQ(DateTimeText(rows[0].time), "16.03.2026 10:20:30");
        EXPECT_EQ(DateTimeText(DecodeDateTime(c.meter->readTime)), "16.03.2026 10:20:30");
    }
    EXPECT_EQ(first->auxValue, 3.3);
    EXPECT_EQ(first->readTime, 0);
    EXPECT_EQ(second->auxValue, 0);
    EXPECT_EQ(zeros->readTime, 0);
    EXPECT_TRUE(lines.empty()) << "no debug line at level 0";

    store.SetDebug(3);
    store.AddReading("0xa0b0c0d", 1, 0, 20, 0);
    store.AddReading("0xffff", 2, 0, 1, 4);
    EXPECT_EQ(lines, (std::vector<std::string> {"Odecet pro 0xa0b0c0d Idx:8", "Odecet pro 0xffff Idx:11"}));
}

// A reload swaps a whole new list in while a transport thread keeps
// storing readings; a reading after the last swap lands in the new list.
TEST_F(ReadingsStore, ReadingsGoOnWhileTheListIsReplaced) {
    std::atomic<bool> done {false};
    std::thread transport([&] {
        for (int i = 0; i < 20000; ++i) store.AddReading("0x" + std::to_string(i % 50), 0, 0, i, 1);
        done = true;
    });
    std::vector<TMeterRecord> last;
    for (int load = 0; load < 50; ++load) {
        TMeterKeyList loaded;
        last.clear();
        for (int m = 0; m < 50; ++m) {
            last.push_back(Meter("0x" + std::to_string(m), 1, 1, 1, 0));
            loaded.Add(last.back()->key, last.back());
        }
        keys.Swap(loaded);
        for (const TStradelCntrs& copy : keys.Snapshot())
            if (copy.readTime == 0) EXPECT_EQ(copy.value, 0) << "a value without its time";
    }
    transport.join();
    store.AddReading("0x49", 0, 0, 12.5, 1);
    EXPECT_EQ(last[49]->value, 12.5);
    EXPECT_EQ(keys.Count(), 50u);
}

}  // namespace
