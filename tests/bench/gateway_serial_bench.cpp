// The serial receive road: the deframer with its CRC over a recorded line,
// and whole frames through a pseudo-terminal from a flooding gateway.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <unistd.h>
#include <vector>

#include "gateway/Hlavni.h"
#include "gateway/Serial.h"
#include "gateway/Slip.h"
#include "tests/tools/gwstandin/GatewayStandin.h"

namespace {

using standin::Bytes;
using standin::operator+;

// A gateway message carrying one sensor packet, with bytes that need
// escaping in its header and payload.
Bytes sensorMessage(std::uint8_t sequence, std::uint32_t count)
{
    Bytes packet = {0x01, 0xC0, 0x03, 0x04, 0x0A, 0xDB, 0x0C, 0x0D, 0x22, 0x00, sequence};
    packet = packet + standin::unsignedRecord(63, -1, 1) + standin::unsignedRecord(100, 0, count) +
             standin::signedRecord(105, 0, -53);
    return standin::signedRecord(120, -1, -60) + standin::octetsRecord(119, 1, packet);
}

// Every tenth frame has a spoilt CRC byte.
Bytes recordedLine()
{
    Bytes line;
    for (std::uint32_t i = 0; i < 2000; ++i) {
        Bytes frame = standin::encodeFrame(sensorMessage(static_cast<std::uint8_t>(i & 0x7F), 0xC0DB00 + i));
        if (i % 10 == 9)
            frame[frame.size() - 2] ^= 0x5A;
        line = line + frame;
    }
    return line;
}

void BM_DeframeIntoPoolBuffers(benchmark::State& state)
{
    const Bytes line = recordedLine();
    SlipDeframer deframer;
    std::int64_t good = 0;
    for (auto _ : state) {
        for (std::uint8_t b : line) {
            int n = deframer.Feed(b);
            if (n == 0)
                continue;
            msgBox* box = packetAlloc();
            std::memcpy(box->data, deframer.Frame(), static_cast<std::size_t>(n));
            box->length = n;
            benchmark::DoNotOptimize(box->data);
            packetFree(box);
            ++good;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
    state.counters["good_frames"] = benchmark::Counter(static_cast<double>(good), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DeframeIntoPoolBuffers);

// Thirty bytes on the line per frame, the gateway writing flat out.
void BM_FramesOverPseudoTerminal(benchmark::State& state)
{
    char pattern[] = "/tmp/orvelo-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    setenv("ORVELO_DEVICE_DIR", pattern, 1);
    std::atomic<std::int64_t> delivered{0};
    {
        standin::GatewayStandin gateway(pattern, "COM3");
        HlavniCem worker{linkInterfaces{}, {}, HlavniCem::tickSource::manual};
        serialObject transport(&worker, "COM3", [&](serialObject&, packetHandle) { ++delivered; });
        Bytes message(27);
        for (std::size_t i = 0; i < message.size(); ++i)
            message[i] = static_cast<std::uint8_t>(0x10 + i);
        gateway.startFlood(message);
        for (auto _ : state) {
            std::int64_t target = delivered + 1600;
            auto guard = std::chrono::steady_clock::now() + standin::hangGuard;
            while (delivered < target && std::chrono::steady_clock::now() < guard)
                std::this_thread::yield();
            if (delivered < target) {
                state.SkipWithError("the frames stopped coming");
                break;
            }
        }
        gateway.stopFlood();
    }
    std::filesystem::remove_all(pattern);
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * 1600), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FramesOverPseudoTerminal)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
