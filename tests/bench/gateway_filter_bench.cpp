// Cost of one duplicate filter call with every one of the 2000 slots used.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "gateway/Rfpacket.h"

namespace {

std::int64_t benchNow = 0;

packetId benchId(std::uint32_t n) {
    packetId id{};
    for (int i = 0; i < 4; ++i) id[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n >> (8 * i));
    id[8] = 0x22;
    return id;
}

// Fills every slot in the second `at`.
void fillFilter(std::int64_t at) {
    duplicateFilterClear();
    duplicateFilterSetClock([] { return benchNow; });
    benchNow = at;
    for (std::uint32_t i = 0; i < filterSlots; ++i) duplicateFilter(benchId(i));
}

void BM_FilterPresent(benchmark::State& state) {
    fillFilter(100);
    std::uint32_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(duplicateFilter(benchId(n)));
        n = (n + 1) % filterSlots;
    }
    duplicateFilterSetClock({});
}

// Absent identities in the second the table was filled: stored nowhere.
void BM_FilterAbsent(benchmark::State& state) {
    fillFilter(100);
    std::uint32_t n = filterSlots;
    for (auto _ : state) benchmark::DoNotOptimize(duplicateFilter(benchId(n++)));
    duplicateFilterSetClock({});
}

// A new second for each call: every new identity goes over the oldest slot.
void BM_FilterInsertOverOldest(benchmark::State& state) {
    fillFilter(100);
    std::uint32_t n = filterSlots;
    for (auto _ : state) {
        ++benchNow;
        benchmark::DoNotOptimize(duplicateFilter(benchId(n++)));
    }
    duplicateFilterSetClock({});
}

}  // namespace

BENCHMARK(BM_FilterPresent);
BENCHMARK(BM_FilterAbsent);
BENCHMARK(BM_FilterInsertOverOldest);
