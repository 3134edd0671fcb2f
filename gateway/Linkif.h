// The link's own small interfaces to the application, and its log road.
//
// The link never calls the application directly: it hands finished values,
// by value, to the sinks it was given. A sink must not block on the thread
// that will show the value (the application queues it).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

// 0 connections, losses, time-outs, greetings; 1 readings and state changes;
// 2 packet summaries and configuration commands; 3 details and dumps.
// Set by the application, read on every thread of the link.
extern std::atomic<int> debugLevel;

// Receives one log line at a time, " tid N" already appended.
using logSink = std::function<void(std::string line)>;

// Receives one reading for the readings store: the source's RF address as
// text ("0x%02x"), the reading type without its sign, the RSSI, the value
// and the record's index.
using readingSink = std::function<void(const std::string& address, int type, int rssi, double value, int index)>;

// A gateway linked or lost, as the main window shows it.
struct gatewayState {
    bool online = false;
    // "0x%08x" of the gateway's own address; none when it was lost, and the
    // text shown before stays.
    std::optional<std::string> rfAddressText{};
    // False for a virtual interface: ONLINE/OFFLINE and the read button
    // stay as they are.
    bool showsOnline = true;
};

using gatewayStateSink = std::function<void(gatewayState state)>;

// What the link needs of the application. Left empty, a sink swallows.
struct linkInterfaces {
    logSink log{};
    readingSink reading{};
    // True while readings are only to be shown, not stored. Asked on the
    // transport's thread, so it must not reach into a widget.
    std::function<bool()> screenOnly{};
    gatewayStateSink state{};
};

// The kernel's id of the calling thread, as the log lines show it.
int currentThreadId();

// Starts one of the link's threads (the worker's, a transport's). It counts
// as running from here until its body has returned, so once it is joined
// it is no longer counted: unlike the kernel's task list, which may still
// show a joined thread for a moment.
std::thread startLinkThread(std::function<void()> body);
// The link's threads whose bodies have not returned.
int linkThreadsRunning();

// printf-style text for the link's log lines. Only integer, character and
// text conversions: a %f would follow the process locale.
std::string linkFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Fixed-point text with '.', whatever the process locale says.
std::string fixedText(double value, int decimals);

// A line above debugLevel is dropped; otherwise " tid %d" is appended and
// the line goes to the sink.
void logLine(const logSink& sink, int level, std::string_view text);

// Events 1 time-out, 2 removed, 3 greeting, each at level 0 with the name;
// other events log nothing. The id is the object's and is not shown.
void notifyObject(const logSink& sink, int event, int id, std::string_view name);

// Built only from debug level 2 up and logged at level 3:
// text ",data len N : 00, 01, ff".
void logHexDump(const logSink& sink, std::string_view text, int length, const std::uint8_t* bytes);
