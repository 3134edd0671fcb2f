#pragma once
// The serial transport of one gateway: a thread that keeps the port open,
// cuts the incoming bytes into SLIP frames and writes the queued messages.

#include "gateway/Msgitem.h"
#include "gateway/Slip.h"
#include "gateway/Transobject.h"
#include "platform/sys/SerialPort.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class serialObject;

// The transport always asks for this speed.
inline constexpr int serialBaudRate = 57600;

// 1200..115200 give themselves; anything else gives 9600.
int MapBaudRate(int baud);

// Opens the named port exclusively, raw, 8N1 at MapBaudRate(baud).
bool OpenSerialPort(platform::SerialPort& port, const char* name, int baud);
// Puts the line back to 9600 8N1 and closes it.
void CloseSerialPort(platform::SerialPort& port);

// Port names for the port dialog, each of which opens when chosen.
std::vector<std::string> EnumerateComPorts();

// The gateway's settings as it reported them; an address of 0 and -1
// elsewhere mean "not reported".
struct gatewayReport {
    std::uint32_t rfAddress = 0; // host order, read from the four bytes as received
    int channel = -1;
    int group = -1;
    int promiscuous = -1;
};

class serialObject : public transObject {
public:
    // Takes over each good frame (a pool buffer holding the message and its
    // CRC byte) on the transport's thread and returns it to the pool. Left
    // empty, the frames go to ProcessGatewayMessage; tests of the line
    // alone give their own.
    using frameReceiver = std::function<void(serialObject& transport, packetHandle message)>;

    // The thread starts at once.
    serialObject(linkHub* owner, const char* deviceName, frameReceiver receiver = {});
    // Ends the thread; queued messages go back to the pool.
    ~serialObject() override;

    // From the 6th call on, every 16th queues a status query, or the set
    // configuration when the worker finds the wanted settings unmet.
    void OnTick() override;
    // Queues the packet in a send-RF-packet message; the parameter goes
    // along only when above 0. The box stays the caller's.
    void SendRadioFrame(std::uint32_t rfAddress, int parameter, msgBox* packet) override;

    // At most this many messages wait for the line: the line takes one a
    // pass, and whatever is queued faster pushes out the oldest.
    static constexpr std::size_t txQueueLimit = 64;

    // The transmit queue, shared under the pool lock. A buffer pushed to a
    // terminating transport goes straight back to the pool; one pushed to a
    // full queue drops the oldest message, with a line in the log (level 3).
    void PushTxPacket(packetHandle box);
    packetHandle PopTxPacket();

    // One received byte through the deframer; a good frame goes, in a pool
    // buffer, to ProcessGatewayMessage.
    void RxByte(std::uint8_t byte);
    // One gateway message, record by record in message order: settings,
    // RSSI, received RF packets (acknowledged, filtered, delivered) and raw
    // data blocks. The message goes back to the pool; taken settings go to
    // the worker.
    void ProcessGatewayMessage(packetHandle message);

    const std::string& DeviceName() const { return deviceName_; }
    // Written on the transport's thread, read on the worker's.
    gatewayReport Reported() const;
    void SetReported(const gatewayReport& report);
    bool PortOpen() const { return portOpen_.load(std::memory_order_acquire); }

protected:
    // The thread body.
    void Execute();

private:
    void Pass(int& openCountdown);
    void TryOpen(int& openCountdown);
    void ReadOne(int& openCountdown);
    void SendOne(int& openCountdown);
    void ClosePort(int& openCountdown, int retryAfter);
    void OpenFailed(int error);
    void Log(int level, const char* format) const;
    void DrainTxQueue();
    bool WriteConfiguration(msgCursor& out);

    std::string deviceName_;
    frameReceiver receiver_;
    platform::SerialPort port_;
    std::atomic<bool> portOpen_{false};
    // Why the port last would not open, as reported; empty once it opened.
    // The transport's thread alone uses it.
    std::string openFailure_;

    mutable std::mutex reportMutex_;
    gatewayReport report_;

    // The worker's ticks until the next gateway query.
    std::uint16_t tickCountdown_;
    SlipDeframer rx_;
    std::vector<std::uint8_t> txBuffer_;
    std::deque<packetHandle> txQueue_; // guarded by the pool lock
};
