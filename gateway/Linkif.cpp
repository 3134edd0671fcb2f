#include "gateway/Linkif.h"

#include <unistd.h>

#include <charconv>
#include <cstdarg>
#include <cstdio>

std::atomic<int> debugLevel{0};

namespace {

// Texts of notifyObject, by event number.
constexpr const char* notifyTexts[] = {nullptr, "Object %s has timeout", "Object %s was removed",
                                       "Receive HALLO from %s"};

std::atomic<int> runningLinkThreads{0};

}  // namespace

std::thread startLinkThread(std::function<void()> body) {
    runningLinkThreads.fetch_add(1, std::memory_order_acq_rel);
    try {
        return std::thread([body = std::move(body)] {
            body();
            runningLinkThreads.fetch_sub(1, std::memory_order_acq_rel);
        });
    } catch (...) {
        runningLinkThreads.fetch_sub(1, std::memory_order_acq_rel);
        throw;
    }
}

int linkThreadsRunning() { return runningLinkThreads.load(std::memory_order_acquire); }

int currentThreadId() {
    return static_cast<int>(gettid());
}

std::string fixedText(double value, int decimals) {
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("?");
}

std::string linkFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

void logLine(const logSink& sink, int level, std::string_view text) {
    if (level > debugLevel.load(std::memory_order_relaxed) || !sink) return;
    std::string line(text);
    line += " tid ";
    line += std::to_string(currentThreadId());
    sink(std::move(line));
}

void notifyObject(const logSink& sink, int event, int, std::string_view name) {
    if (event < 1 || event > 3) return;
    const std::string n(name);
    logLine(sink, 0, linkFormat(notifyTexts[event], n.c_str()));
}

void logHexDump(const logSink& sink, std::string_view text, int length, const std::uint8_t* bytes) {
    if (debugLevel.load(std::memory_order_relaxed) < 2) return;
    std::string line(text);
    line += linkFormat(" ,data len %d", length);
    for (int i = 0; i < length; ++i) line += linkFormat(i == 0 ? " : %02x" : ", %02x", bytes[i]);
    logLine(sink, 3, line);
}
