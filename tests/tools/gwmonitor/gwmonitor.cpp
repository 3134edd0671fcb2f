// Runs the gateway worker on one port and prints, line by line as they
// come, what the link hands to the application:
//
//   gwmonitor PORT [--debug N] [--send-read ADDR]
//
//   <log line>                                every line the link logs
//   READING <address> <type> <index> <value>  every reading for the store
//   STATE ONLINE <address> | STATE OFFLINE    every gateway state report
//
// --send-read sends one read request to module ADDR once the gateway is
// online. SIGINT or SIGTERM destroys the worker and ends with 0.

#include "gateway/Hlavni.h"

#include <pthread.h>
#include <signal.h>

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

namespace {

struct options {
    std::string port;
    int debug = 3;
    std::optional<std::uint32_t> readModule;
};

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
        if (key == "--debug") {
            const std::optional<std::uint32_t> n = parseNumber(argv[i + 1], 10);
            if (!n || *n > 3)
                return std::nullopt;
            o.debug = static_cast<int>(*n);
        } else if (key == "--send-read") {
            o.readModule = parseNumber(argv[i + 1]);
            if (!o.readModule)
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    return o;
}

// Whole lines from any thread, each flushed at once so that a reader on a
// pipe sees it as it comes.
class output {
public:
    void line(const std::string& text)
    {
        std::lock_guard lock(mutex_);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

private:
    std::mutex mutex_;
};

// The shortest text that reads back as the same double, '.' whatever the
// locale.
std::string numberText(double value)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

// The gateway's address once it is online, 0 otherwise.
class gatewayAddress {
public:
    void take(const gatewayState& s)
    {
        std::lock_guard lock(mutex_);
        if (!s.online)
            address_ = 0;
        else if (s.rfAddressText)
            address_ = parseNumber(s.rfAddressText->c_str()).value_or(0);
    }
    std::uint32_t get()
    {
        std::lock_guard lock(mutex_);
        return address_;
    }

private:
    std::mutex mutex_;
    std::uint32_t address_ = 0;
};

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

} // namespace

int main(int argc, char** argv)
{
    const std::optional<options> o = parse(argc, argv);
    if (!o) {
        std::fprintf(stderr, "usage: gwmonitor PORT [--debug 0..3] [--send-read ADDR]\n");
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

    output out;
    gatewayAddress gateway;
    linkInterfaces sinks;
    sinks.log = [&out](std::string line) { out.line(line); };
    sinks.reading = [&out](const std::string& address, int type, int, double value, int index) {
        out.line("READING " + address + " " + std::to_string(type) + " " + std::to_string(index) + " " +
                 numberText(value));
    };
    sinks.state = [&out, &gateway](gatewayState s) {
        gateway.take(s);
        out.line(s.online ? "STATE ONLINE " + s.rfAddressText.value_or("") : std::string("STATE OFFLINE"));
    };

    debugLevel = o->debug;
    auto worker = std::make_unique<HlavniCem>(std::move(sinks));
    worker->addSerialPort(o->port, -1);

    bool readPending = o->readModule.has_value();
    const timespec pause{0, 100'000'000};
    for (;;) {
        if (sigtimedwait(&stopSignals, nullptr, &pause) > 0)
            break;
        if (readPending && gateway.get() != 0) {
            sendReadRequest(*worker, gateway.get(), *o->readModule, 1);
            readPending = false;
        }
    }
    worker.reset();
    return 0;
}
