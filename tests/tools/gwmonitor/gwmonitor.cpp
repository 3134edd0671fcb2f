// Runs the gateway worker on one port and prints, line by line as they
// come, what the link hands to the application:
//
//   gwmonitor PORT [--debug N] [--send-read ADDR] [--mbus MODULE,P]...
//             [--mbus-id MODULE,ID]... [--optical MODULE[,ADDRESS]]...
//             [--bus-repeat TICKS]
//
//   <log line>                                every line the link logs
//   READING <address> <type> <index> <value>  every reading for the store
//   STATE ONLINE <address> | STATE OFFLINE    every gateway state report
//   BUS <id> <name>                           every wired meter polled
//
// --send-read sends one read request to module ADDR once the gateway is
// online. At that moment the wired meters are made too, ids 1, 2, ... in
// the order given: an M-Bus meter behind module MODULE with primary address
// P (0-250) or secondary address ID (8 hexadecimal digits), an optical
// meter with its device address (1-32 letters or digits), each read again
// every TICKS of 100 ms (default 600; 0 reads once). SIGINT or SIGTERM
// destroys the worker and ends with 0.

#include "gateway/Hlavni.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace {

// A wired meter as given on the command line.
struct meterOption {
    std::int16_t mode = busModeMBus;
    std::uint32_t module = 0;
    std::uint8_t primary = 0;
    std::string identification;
};

struct options {
    std::string port;
    int debug = 3;
    std::optional<std::uint32_t> readModule;
    std::vector<meterOption> meters;
    int busRepeat = 600;
};

constexpr int busReplyTimeout = 20;
constexpr std::uint32_t maxBusRepeat = 864000;

// "0x.." hexadecimal, a leading 0 octal, else decimal; the whole text.
std::optional<std::uint32_t> parseNumber(const char* text, int base = 0)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, base);
    if (!*text || *end || errno || v > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

bool allOf(const std::string& text, std::size_t most, int (*kind)(int))
{
    return !text.empty() && text.size() <= most &&
           std::all_of(text.begin(), text.end(), [kind](char c) { return kind(static_cast<unsigned char>(c)) != 0; });
}

// MODULE,P / MODULE,ID / MODULE[,ADDRESS]
std::optional<meterOption> parseMeter(const std::string& key, const std::string& value)
{
    meterOption m;
    const std::size_t comma = value.find(',');
    const std::optional<std::uint32_t> module = parseNumber(value.substr(0, comma).c_str());
    const std::string rest = comma == std::string::npos ? "" : value.substr(comma + 1);
    if (!module || *module == 0)
        return std::nullopt;
    m.module = *module;
    if (key == "--mbus") {
        const std::optional<std::uint32_t> p = parseNumber(rest.c_str(), 10);
        if (!p || *p > 250)
            return std::nullopt;
        m.primary = static_cast<std::uint8_t>(*p);
    } else if (key == "--mbus-id") {
        if (rest.size() != 8 || !allOf(rest, 8, isxdigit))
            return std::nullopt;
        m.primary = mbusSelectBySecondary;
        m.identification = rest;
    } else {
        if (comma != std::string::npos && !allOf(rest, 32, isalnum))
            return std::nullopt;
        m.mode = busModeOptical;
        m.identification = rest;
    }
    return m;
}

std::optional<options> parse(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    options o;
    o.port = argv[1];
    for (int i = 2; i < argc; i += 2) {
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string key = argv[i];
        if (key == "--debug" || key == "--bus-repeat") {
            const bool debug = key == "--debug";
            const std::optional<std::uint32_t> n = parseNumber(argv[i + 1], 10);
            if (!n || *n > (debug ? 3 : maxBusRepeat))
                return std::nullopt;
            (debug ? o.debug : o.busRepeat) = static_cast<int>(*n);
        } else if (key == "--send-read") {
            o.readModule = parseNumber(argv[i + 1]);
            if (!o.readModule)
                return std::nullopt;
        } else if (key == "--mbus" || key == "--mbus-id" || key == "--optical") {
            const std::optional<meterOption> m = parseMeter(key, argv[i + 1]);
            if (!m)
                return std::nullopt;
            o.meters.push_back(*m);
        } else {
            return std::nullopt;
        }
    }
    return o;
}

// A whole line from any thread, flushed at once so that a reader on a pipe
// sees it as it comes.
void printLine(const std::string& text)
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The shortest text that reads back as the same double, '.' whatever the
// locale.
std::string numberText(double value)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

// A read request as the application sends it: packet type 6, kind 7,
// flag 0, the payload the single byte 2.
void sendReadRequest(HlavniCem& worker, std::uint32_t gateway, std::uint32_t module, std::uint8_t sequence)
{
    packetHandle box = takePacket();
    if (!box)
        return;
    buildRecordPacket(box.get(), 6, gateway, module, rfKindReadRequest, 0, sequence);
    rfPacket packet = packetRfData(box.get());
    const std::uint8_t request = 2;
    box->length = rfHeaderSize + rfPacketSetPayload(packet, 1, &request);
    worker.sendMsg(gateway, 3000, std::move(box));
}

// The wired meters, made with the worker's own calls once the gateway's
// address is known, and queued for the next tick.
void addMeters(HlavniCem& worker, const options& o, std::uint32_t gateway)
{
    int id = 0;
    for (const meterOption& m : o.meters) {
        auto bus = std::make_unique<BusObject>();
        bus->id = ++id;
        bus->mode = m.mode;
        bus->primaryAddress = m.primary;
        bus->identification = m.identification;
        bus->repeatInterval = o.busRepeat;
        bus->replyTimeout = busReplyTimeout;
        bus->gateway = gateway;
        bus->module = m.module;
        BusObject* raw = bus.get();
        const std::string line = "BUS " + std::to_string(id) + " " + busObjectName(*bus);
        worker.addBusObject(std::move(bus));
        worker.addToQueue(1, raw, true);
        printLine(line);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<options> o = parse(argc, argv);
    if (!o) {
        std::fprintf(stderr, "usage: gwmonitor PORT [--debug 0..3] [--send-read ADDR]\n"
                             "                 [--mbus MODULE,P]... [--mbus-id MODULE,ID]...\n"
                             "                 [--optical MODULE[,ADDRESS]]... [--bus-repeat TICKS]\n");
        return 2;
    }
    // Blocked before any thread starts, so that only the wait below takes
    // them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // The gateway's address once it is online, 0 otherwise.
    std::atomic<std::uint32_t> gateway{0};
    linkInterfaces sinks;
    sinks.log = [](std::string line) { printLine(line); };
    sinks.reading = [](const std::string& address, int type, int, double value, int index) {
        printLine("READING " + address + " " + std::to_string(type) + " " + std::to_string(index) + " " +
                  numberText(value));
    };
    sinks.state = [&gateway](gatewayState s) {
        if (!s.online)
            gateway = 0;
        else if (s.rfAddressText)
            gateway = parseNumber(s.rfAddressText->c_str()).value_or(0);
        printLine(s.online ? "STATE ONLINE " + s.rfAddressText.value_or("") : std::string("STATE OFFLINE"));
    };

    debugLevel = o->debug;
    auto worker = std::make_unique<HlavniCem>(std::move(sinks));
    worker->addSerialPort(o->port, -1);

    bool readPending = o->readModule.has_value();
    bool metersPending = !o->meters.empty();
    const timespec pause{0, 100'000'000};
    for (;;) {
        if (sigtimedwait(&stopSignals, nullptr, &pause) > 0)
            break;
        if (readPending && gateway != 0) {
            sendReadRequest(*worker, gateway, *o->readModule, 1);
            readPending = false;
        }
        if (metersPending && gateway != 0) {
            addMeters(*worker, *o, gateway);
            metersPending = false;
        }
    }
    worker.reset();
    return 0;
}
