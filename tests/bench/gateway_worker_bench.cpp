// The whole gateway link against a flooding stand-in: how long the worker
// takes to stop under traffic at the highest debug level (goal: under
// 0.5 s), and how many readings per second go from the line to the
// readings sink (goal: at least 1,600).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

#include "gateway/Hlavni.h"
#include "tests/tools/gwstandin/GatewayStandin.h"

namespace {

using standin::Bytes;
using standin::operator+;

// A sensor packet with two readings that differs from every other one, and
// now and then a greeting beside it.
Bytes trafficMessage(std::uint64_t n)
{
    const auto seq = static_cast<std::uint8_t>(n & 0x7F);
    Bytes sensor = Bytes{0x01, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0x0D, 0x22, 0x00, seq} +
                   standin::unsignedRecord(63, -1, 1) + standin::unsignedRecord(100, 0, static_cast<std::uint32_t>(n)) +
                   standin::signedRecord(105, 0, -53);
    Bytes message = standin::signedRecord(120, -1, -60) + standin::octetsRecord(119, 1, sensor);
    if (n % 8 == 0)
        message = message + standin::octetsRecord(119, 1, Bytes{0x01, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0x0D, 0x08,
                                                               0x00, seq});
    return message;
}

// A device folder of its own with a stand-in on COM3, and counting sinks.
struct bench {
    bench()
    {
        char pattern[] = "/tmp/orvelo-bench-XXXXXX";
        if (mkdtemp(pattern))
            folder = pattern;
        setenv("ORVELO_DEVICE_DIR", folder.c_str(), 1);
        gateway = std::make_unique<standin::GatewayStandin>(folder, "COM3");
        duplicateFilterSetClock({});
        duplicateFilterClear();
    }
    ~bench()
    {
        gateway.reset();
        std::filesystem::remove_all(folder);
    }
    linkInterfaces sinks()
    {
        linkInterfaces s;
        s.log = [this](std::string) { ++lines; };
        s.reading = [this](const std::string&, int, int, double, int) { ++readings; };
        s.state = [this](gatewayState st) { online = st.online; };
        return s;
    }
    // Until the count has grown by n; false when it stopped growing.
    static bool waitFor(const std::atomic<std::int64_t>& count, std::int64_t target)
    {
        const auto guard = std::chrono::steady_clock::now() + standin::hangGuard;
        while (count < target && std::chrono::steady_clock::now() < guard)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        return count >= target;
    }
    bool waitOnline()
    {
        const auto guard = std::chrono::steady_clock::now() + standin::hangGuard;
        while (!online && std::chrono::steady_clock::now() < guard)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return online;
    }

    std::string folder;
    std::unique_ptr<standin::GatewayStandin> gateway;
    std::atomic<std::int64_t> lines{0};
    std::atomic<std::int64_t> readings{0};
    std::atomic<bool> online{false};
    std::uint64_t sent = 0;
};

void BM_WorkerStopUnderTraffic(benchmark::State& state)
{
    bench b;
    debugLevel = 3;
    for (auto _ : state) {
        auto worker = std::make_unique<HlavniCem>(b.sinks());
        worker->addSerialPort("COM3", -1);
        if (!b.waitOnline()) {
            state.SkipWithError("the gateway never came online");
            break;
        }
        const std::uint64_t base = b.sent;
        b.gateway->startFlood([base](std::uint64_t n) { return trafficMessage(base + n); });
        if (!bench::waitFor(b.readings, b.readings + 200)) {
            state.SkipWithError("no readings came");
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        worker.reset();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        b.gateway->stopFlood();
        b.sent = base + b.gateway->floodedFrames() + 1;
        b.online = false;
    }
    debugLevel = 0;
    state.counters["log_lines"] = static_cast<double>(b.lines);
}
BENCHMARK(BM_WorkerStopUnderTraffic)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_ReadingsFrameToSink(benchmark::State& state)
{
    bench b;
    debugLevel = 0;
    auto worker = std::make_unique<HlavniCem>(b.sinks());
    worker->addSerialPort("COM3", -1);
    if (!b.waitOnline()) {
        state.SkipWithError("the gateway never came online");
        return;
    }
    b.gateway->startFlood(trafficMessage);
    constexpr std::int64_t perIteration = 1600;
    for (auto _ : state) {
        if (!bench::waitFor(b.readings, b.readings + perIteration)) {
            state.SkipWithError("the readings stopped coming");
            break;
        }
    }
    b.gateway->stopFlood();
    worker.reset();
    state.counters["readings_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * perIteration), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadingsFrameToSink)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
