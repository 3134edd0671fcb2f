// Starting and stopping the readings, and the read requests that ask the
// radio modules for their readings at once.  No widgets: the main window
// shows the messages and ticks that this unit decides.
#pragma once

#include "gateway/Linkif.h"
#include "gateway/Rfpacket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// What the reading control needs of the gateway worker.
class TGatewayWorker {
public:
    virtual ~TGatewayWorker() = default;
    // 1 when a new gateway interface was made for the port, else 0.
    virtual int addSerialPort(const std::string& port, int wantedChannel) = 0;
    // Sends the prepared packet through the gateway with that RF address;
    // takes over the buffer.
    virtual void sendMsg(std::uint32_t gatewayAddress, int parameter, packetHandle box) = 0;
};

// The program's worker: the gateway link's HlavniCem, its thread started,
// reporting through the given sinks.
std::unique_ptr<TGatewayWorker> MakeHlavniWorker(linkInterfaces sinks);

// An RF address as the operator and the worker write it: "0x"/"0X" hex, a
// leading 0 octal, else decimal; leading blanks skipped, text after the
// number ignored, no number 0.  Read as the 32-bit platform did: too large
// a number gives 0xFFFFFFFF, never a wrapped value such as 0 (= all modules).
std::uint32_t RfAddressFromText(std::string_view text);

inline constexpr int kReadRequestParameter = 3000;
inline constexpr std::uint8_t kReadRequestPayload = 0x02;
inline constexpr int kReadRequestPacketType = 6;

// The read requests' own sequence: 1 first; after 127 comes 0, since bit 7
// of the sequence byte marks an acknowledgement.
class TReadSequence {
public:
    std::uint8_t Take();
    std::uint8_t Peek() const { return next_; }

private:
    std::uint8_t next_ = 1;
};

// Builds one read request from the gateway to the module and hands it to
// the worker.  False, with no buffer kept, when nothing was sent: no worker,
// gateway address 0, a negative parameter or an empty pool.
bool SendReadRequestPacket(TGatewayWorker* worker, TReadSequence& sequence, std::uint32_t gateway,
                           std::uint32_t module, int parameter);

// Texts of the reading control's messages.
inline constexpr char kNoMeterFile[] = "Není načtený žádný soubor měřidel";
inline constexpr char kActivateFirst[] = "Před spuštěním nejprve aktivujte odečty.";
inline constexpr char kGatewayOffline[] =
    "Odečítací gateway není připojena nebo není online.\n"
    "Zkontrolujte připojení gatewaye a nastavení komunikačního portu";

class TReadingControl {
public:
    using Factory = std::function<std::unique_ptr<TGatewayWorker>()>;
    using Log = std::function<void(const std::string&)>;

    TReadingControl(Factory factory, Log log);
    ~TReadingControl();

    bool Running() const { return worker_ != nullptr; }

    // Creates the worker (when none runs) at the given log level and adds
    // the port; the worker stays when the port cannot be added.
    void Start(const std::string& port, int debugMode);
    // Destroys the worker, which ends its threads and releases the port.
    void Stop();

    // The state the gateway last reported, as the UI thread received it.
    void SetOnline(bool online) { online_ = online; }

    // The message that refuses "Odečíst moduly" (the first also unticks the
    // readings), or null when the requests may go.
    const char* ReadAllRefusal(bool hasRows) const;
    // The message that refuses a double-click on a row, or null.
    const char* ReadOneRefusal() const;

    // To all modules, and to the module whose address the text gives.
    bool SendReadRequest(const std::string& gatewayText, int parameter);
    bool SendReadRequestTo(const std::string& gatewayText, const std::string& addressText, int parameter);

    // "Debug": with a worker, flips the tick and the level between 0 and 3;
    // without one, both stay.  Returns the level to keep in the configuration.
    int DebugClick(bool& ticked, int debugMode) const;

    const TReadSequence& Sequence() const { return sequence_; }

private:
    Factory factory_;
    Log log_;
    std::unique_ptr<TGatewayWorker> worker_;
    TReadSequence sequence_;
    bool online_ = false;
};

// The progress window's counter: with 3 requests, ticks 1 to 3 send, tick 4
// waits and tick 5 closes and starts over.
class TInfoCounter {
public:
    enum class Step { Send, Wait, Close };

    explicit TInfoCounter(int requests = 3) : requests_(requests) {}
    Step Tick();
    void Reset() { tick_ = 1; position_ = 0; }
    int Position() const { return position_; }
    int Maximum() const { return requests_ + 1; }

private:
    int requests_;
    int tick_ = 1;
    int position_ = 0;
};
