#include "gateway/Serial.h"

#include "gateway/Hlavni.h"
#include "gateway/Linkif.h"
#include "gateway/Rfpacket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr int baudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// Passes between open attempts: at once after start, soon after a read
// failure (a hang-up), about a second otherwise.
constexpr int openAtStart = 1;
constexpr int openAfterReadFailure = 10;
constexpr int openAfterOpenOrWriteFailure = 100;

constexpr int readTimeoutMs = 100;
constexpr auto closedPassSleep = std::chrono::milliseconds(10);
// A frame of the longest message takes under half a second at 57600 baud;
// a peer that takes nothing for this long has stopped reading.
constexpr int writeLimitMs = 1000;

} // namespace

int MapBaudRate(int baud)
{
    return std::find(std::begin(baudRates), std::end(baudRates), baud) != std::end(baudRates) ? baud : 9600;
}

bool OpenSerialPort(platform::SerialPort& port, const char* name, int baud)
{
    return name && port.open(name, MapBaudRate(baud));
}

void CloseSerialPort(platform::SerialPort& port)
{
    port.close();
}

std::vector<std::string> EnumerateComPorts()
{
    return platform::listSerialPorts();
}

serialObject::serialObject(HlavniCem* owner, const char* deviceName, frameReceiver receiver)
    : transObject(owner), deviceName_(deviceName ? deviceName : ""), receiver_(std::move(receiver)),
      txBuffer_(static_cast<std::size_t>(slipEncodedSize(msgBoxCapacity)))
{
    Start();
}

serialObject::~serialObject()
{
    Terminate();
    DrainTxQueue();
    Log(3, "Serial %s was deleted");
    Stop();
}

void serialObject::OnTick() {}

void serialObject::SendRadioFrame(std::uint32_t, int, msgBox*) {}

void serialObject::PushTxPacket(msgBox* box)
{
    if (!box)
        return;
    box->next = nullptr;
    poolLock();
    // Checked under the lock: the destructor drains under it after setting
    // the flag, so no buffer can slip in behind the drain.
    bool refused = Terminated();
    if (!refused) {
        if (txTail_)
            txTail_->next = box;
        else
            txHead_ = box;
        txTail_ = box;
    }
    poolUnlock();
    if (refused)
        packetFree(box);
}

msgBox* serialObject::PopTxPacket()
{
    poolLock();
    msgBox* box = txHead_;
    if (box) {
        txHead_ = box->next;
        if (!txHead_)
            txTail_ = nullptr;
        box->next = nullptr;
    }
    poolUnlock();
    return box;
}

void serialObject::DrainTxQueue()
{
    while (msgBox* box = PopTxPacket())
        packetFree(box);
}

gatewayReport serialObject::Reported() const
{
    std::lock_guard lock(reportMutex_);
    return report_;
}

void serialObject::SetReported(const gatewayReport& report)
{
    std::lock_guard lock(reportMutex_);
    report_ = report;
}

void serialObject::Log(int level, const char* format) const
{
    if (Owner())
        Owner()->logLine(level, linkFormat(format, deviceName_.c_str()));
}

void serialObject::RxByte(std::uint8_t byte)
{
    int length = rx_.Feed(byte);
    if (length == 0)
        return;
    msgBox* box = packetAlloc();
    if (!box)
        return;
    box->kind = 0;
    box->length = length;
    std::memcpy(box->data, rx_.Frame(), static_cast<std::size_t>(length));
    ProcessGatewayMessage(box);
}

void serialObject::ProcessGatewayMessage(msgBox* message)
{
    if (receiver_)
        receiver_(*this, message);
    else
        packetFree(message);
}

void serialObject::Execute()
{
    int openCountdown = openAtStart;
    rx_.Reset();
    Log(3, "Serial thread started for device %s");
    while (!Terminated())
        Pass(openCountdown);
    if (port_.isOpen())
        ClosePort(openCountdown, openAtStart);
}

void serialObject::Pass(int& openCountdown)
{
    if (!port_.isOpen())
        TryOpen(openCountdown);
    if (port_.isOpen())
        ReadOne(openCountdown);
    SendOne(openCountdown);
}

void serialObject::TryOpen(int& openCountdown)
{
    gatewayReport report = Reported();
    report.rfAddress = 0;
    report.channel = -1;
    SetReported(report);
    if (--openCountdown <= 0) {
        openCountdown = openAfterOpenOrWriteFailure;
        if (OpenSerialPort(port_, deviceName_.c_str(), serialBaudRate)) {
            // A frame cut by the last hang-up must not reach into the first
            // frame on the new line.
            rx_.Reset();
            portOpen_.store(true, std::memory_order_release);
            Log(3, "COM %s otevren");
        } else {
            Log(3, "COM %s nelze otevrit");
        }
    }
    std::this_thread::sleep_for(closedPassSleep);
}

void serialObject::ReadOne(int& openCountdown)
{
    std::uint8_t byte = 0;
    switch (port_.readByte(byte, readTimeoutMs)) {
    case platform::SerialPort::Read::Byte:
        RxByte(byte);
        break;
    case platform::SerialPort::Read::Failed:
        ClosePort(openCountdown, openAfterReadFailure);
        break;
    case platform::SerialPort::Read::Timeout:
        break;
    }
}

void serialObject::SendOne(int& openCountdown)
{
    msgBox* box = PopTxPacket();
    if (!box)
        return;
    if (port_.isOpen()) {
        int length = std::clamp(box->length, 0, msgBoxCapacity);
        int n = SlipEncode(box->data, length, txBuffer_.data());
        if (n > 0 && !port_.writeAll(txBuffer_.data(), static_cast<std::size_t>(n), writeLimitMs))
            ClosePort(openCountdown, openAfterOpenOrWriteFailure);
    }
    // Sent or not: a message queued while the port is closed is dropped.
    packetFree(box);
}

void serialObject::ClosePort(int& openCountdown, int retryAfter)
{
    CloseSerialPort(port_);
    portOpen_.store(false, std::memory_order_release);
    openCountdown = retryAfter;
}
