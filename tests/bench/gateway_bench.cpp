// The gateway link, by hand: the worker's stop under traffic at the highest
// debug level (goal: under 0.5 s); readings per second from the line to the
// readings sink (goal: at least 1,600).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "gateway/Hlavni.h"
#include "tests/tools/gwstandin/GatewayStandin.h"
#include "tests/tools/support/TestSupport.h"

namespace {

using standin::Bytes;
using standin::operator+;

// A sensor packet with two readings, unlike any other, with bytes that need
// escaping in its header.
Bytes trafficMessage(std::uint64_t n) {
    const auto seq = static_cast<std::uint8_t>(n & 0x7F);
    const Bytes sensor = Bytes{0x01, 0x02, 0x03, 0x04, 0x0A, 0xC0, 0xDB, 0x0D, 0x22, 0x00, seq} +
                         standin::unsignedRecord(100, 0, static_cast<std::uint32_t>(n)) +
                         standin::signedRecord(105, 0, -53);
    return standin::signedRecord(120, -1, -60) + standin::octetsRecord(119, 1, sensor);
}

// A worker on COM3 of a device folder of its own, against a flooding stand-in.
struct link {
    link() {
        setenv("ORVELO_DEVICE_DIR", folder.Path().c_str(), 1);
        gateway = std::make_unique<standin::GatewayStandin>(folder.Path(), "COM3");
        duplicateFilterClear();
    }
    bool start(std::uint64_t from) {
        readings = 0;
        online = false;
        linkInterfaces sinks;
        sinks.reading = [this](const std::string&, int, int, double, int) { ++readings; };
        sinks.state = [this](gatewayState s) { online = s.online; };
        worker = std::make_unique<HlavniCem>(std::move(sinks));
        worker->addSerialPort("COM3", -1);
        if (!until([this] { return online.load(); })) return false;
        gateway->startFlood([from](std::uint64_t n) { return trafficMessage(from + n); });
        return true;
    }
    template <class Pred>
    static bool until(Pred pred) {
        return testsupport::WaitUntil(pred, standin::hangGuard, std::chrono::microseconds(200));
    }
    // Members go in reverse: the worker, the stand-in, what the sinks
    // count, then the folder.
    testsupport::TempDir folder;
    std::atomic<std::int64_t> readings{0};
    std::atomic<bool> online{false};
    std::unique_ptr<standin::GatewayStandin> gateway;
    std::unique_ptr<HlavniCem> worker;
};

void BM_WorkerStopUnderTraffic(benchmark::State& state) {
    link l;
    debugLevel = 3;
    std::uint64_t from = 0;
    for (auto _ : state) {
        if (!l.start(from) || !link::until([&] { return l.readings >= 200; })) return state.SkipWithError("no readings");
        const auto start = std::chrono::steady_clock::now();
        l.worker.reset();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        l.gateway->stopFlood();
        from += l.gateway->floodedFrames() + 1000;
    }
    debugLevel = 0;
}
BENCHMARK(BM_WorkerStopUnderTraffic)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_ReadingsFrameToSink(benchmark::State& state) {
    link l;
    if (!l.start(0)) return state.SkipWithError("the gateway never came online");
    for (auto _ : state) {
        const std::int64_t target = l.readings + 1600;
        if (!link::until([&] { return l.readings >= target; })) return state.SkipWithError("the readings stopped");
    }
    state.SetItemsProcessed(state.iterations() * 1600);
}
BENCHMARK(BM_ReadingsFrameToSink)->Unit(benchmark::kMillisecond);

}  // namespace
