#include "gateway/Serial.h"

#include "gateway/Linkif.h"
#include "gateway/Rfinterfaces.h"
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

// The worker's ticks before the first gateway message, and between two.
constexpr std::uint16_t ticksBeforeFirstMessage = 5;
constexpr std::uint16_t ticksBetweenMessages = 15;

// What one gateway message has said so far, record by record.
struct gatewayMessage {
    serialObject& transport;
    gatewayReport report;
    std::uint32_t command = 0;
    std::int32_t rssi = 0;
    bool stateTaken = false;
};

void logTo(const serialObject& t, int level, const std::string& line)
{
    if (t.Owner())
        t.Owner()->logLine(level, line);
}

void takeCommand(gatewayMessage& m, const msgItem& item)
{
    if (item.type == recUnsigned)
        m.command = item.value;
}

void takeSetting(gatewayMessage& m, const msgItem& item, int gatewayReport::*field)
{
    if (item.type != recUnsigned)
        return;
    m.report.*field = static_cast<int>(item.value);
    m.stateTaken = true;
}

void takeAddress(gatewayMessage& m, const msgItem& item)
{
    if (item.type != recOctets || item.length != 4)
        return;
    // On the wire in network order; a number in host order from here on.
    m.report.rfAddress = getUnsigned(item);
    m.stateTaken = true;
    logTo(m.transport, 3,
          linkFormat("on %s is address 0x%X, channel %d", m.transport.DeviceName().c_str(), m.report.rfAddress,
                     m.report.channel));
}

// A packet is delivered as soon as its record is read: an RSSI that comes
// after it is too late for its readings.
void takeRssi(gatewayMessage& m, const msgItem& item)
{
    m.rssi = static_cast<std::int32_t>(item.value);
}

void takeRfPacket(gatewayMessage& m, const msgItem& item)
{
    // A record shorter than the header holds no whole packet, whatever
    // the message's command says.
    if (item.length < rfHeaderSize)
        return;
    // A view of the record's bytes with its own RSSI and payload length:
    // the message itself is never written.
    rfPacket packet = rfPacketInPlace(item.data, item.length);
    packet.rssi = m.rssi;
    const int result = checkReceivedPacket(packet);
    if (result > 0) {
        // Queued before the decoding, so it leaves before anything the
        // decoding may send.
        if (packetHandle ack = buildAckPacket(packet))
            m.transport.SendRadioFrame(0, 0, ack.get());
    }
    if ((result == 0 || result == 1) && m.transport.Owner())
        m.transport.Owner()->deliverRadioFrame(m.report.rfAddress, packet);
}

void takeRawData(gatewayMessage& m, const msgItem& item)
{
    if (item.length == 0 || item.length != item.data[0] + 1 || m.command != cmdSendRfPacket || !m.transport.Owner())
        return;
    packetHandle box = takePacket();
    if (!box)
        return;
    std::memcpy(box->data, item.data + 1, item.length - 1u);
    box->kind = boxKindRawData;
    box->length = item.length - 1;
    m.transport.Owner()->saveOdecet(std::move(box));
}

using recordHandler = void (*)(gatewayMessage&, const msgItem&);

struct recordRule {
    std::uint16_t oid;
    recordHandler take;
};

// The records a gateway message may carry; any other OID is skipped.
constexpr recordRule recordRules[] = {
    {oidPacketType, takeCommand},
    {oidChannel, [](gatewayMessage& m, const msgItem& i) { takeSetting(m, i, &gatewayReport::channel); }},
    {oidGroup, [](gatewayMessage& m, const msgItem& i) { takeSetting(m, i, &gatewayReport::group); }},
    {oidPromiscuous, [](gatewayMessage& m, const msgItem& i) { takeSetting(m, i, &gatewayReport::promiscuous); }},
    {oidRfAddress, takeAddress},
    {oidRssi, takeRssi},
    {oidRssi2, takeRssi},
    {oidRfPacket, takeRfPacket},
    {oidRawData, takeRawData},
};

void writeStatusQuery(msgCursor& out)
{
    putUnsignedNoIndex(out, oidPacketType, cmdQuery);
    for (std::uint16_t oid : {oidChannel, oidGroup, oidRfAddress, oidPromiscuous})
        putRequest(out, oid, 1);
}

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

serialObject::serialObject(linkHub* owner, const char* deviceName, frameReceiver receiver)
    : transObject(owner), deviceName_(deviceName ? deviceName : ""), receiver_(std::move(receiver)),
      tickCountdown_(ticksBeforeFirstMessage), txBuffer_(static_cast<std::size_t>(slipEncodedSize(msgBoxCapacity)))
{
    Start([this] { serialObject::Execute(); });
}

serialObject::~serialObject()
{
    Terminate();
    DrainTxQueue();
    Log(3, "Serial %s was deleted");
    Stop();
}

void serialObject::OnTick()
{
    if (Terminated())
        return;
    if (tickCountdown_ > 0) {
        --tickCountdown_;
        return;
    }
    tickCountdown_ = ticksBetweenMessages;
    packetHandle box = takePacket();
    if (!box)
        return;
    msgCursor out = makeCursor(box->data, msgBoxCapacity);
    if (!WriteConfiguration(out))
        writeStatusQuery(out);
    box->kind = 0;
    box->length = msgBoxCapacity - out.left;
    Log(3, " fire timer %s");
    PushTxPacket(std::move(box));
}

bool serialObject::WriteConfiguration(msgCursor& out)
{
    const gatewayReport r = Reported();
    linkHub* owner = Owner();
    if (r.rfAddress == 0 || !owner)
        return false;
    const std::optional<wantedSettings> wanted =
        owner->checkParams(this, r.rfAddress, r.channel, r.group, r.promiscuous);
    if (!wanted)
        return false;
    putUnsignedNoIndex(out, oidPacketType, cmdSetConfig);
    struct setting {
        std::uint16_t oid;
        int value;
        const char* text;
    };
    const setting settings[] = {
        {oidChannel, wanted->channel < 0 ? -1 : wanted->channel & 3, "Set Channel to %d"},
        {oidGroup, wanted->group, "Set Group to %d"},
        {oidPromiscuous, wanted->promiscuous, "Set prom. mode to %d"},
    };
    for (const setting& w : settings) {
        if (w.value < 0)
            continue;
        putUnsigned(out, w.oid, 1, static_cast<std::uint32_t>(w.value));
        owner->logLine(2, linkFormat(w.text, w.value));
    }
    // Bit 3 asks for a save; a wanted channel of -1 has it set too.
    if (wanted->channel & 8) {
        putUnsignedNoIndex(out, oidSaveConfig, 2);
        owner->logLine(2, " save cfg");
    }
    return true;
}

void serialObject::SendRadioFrame(std::uint32_t, int parameter, msgBox* packet)
{
    if (!packet)
        return;
    packetHandle box = takePacket();
    if (!box)
        return;
    msgCursor out = makeCursor(box->data, msgBoxCapacity);
    putUnsignedNoIndex(out, oidPacketType, cmdSendRfPacket);
    if (parameter > 0)
        putUnsigned(out, oidSendParam, 1, static_cast<std::uint32_t>(parameter));
    putOctets(out, oidRfPacket, 1, std::clamp(packet->length, 0, msgBoxCapacity), packet->data);
    box->kind = 0;
    box->length = msgBoxCapacity - out.left;
    PushTxPacket(std::move(box));
}

void serialObject::PushTxPacket(packetHandle box)
{
    if (!box)
        return;
    packetHandle dropped;
    poolLock();
    // Checked under the lock: the destructor drains under it after setting
    // the flag, so no buffer can slip in behind the drain. A refused or
    // dropped buffer goes back with its handle once the lock is given back.
    if (!Terminated()) {
        if (txQueue_.size() >= txQueueLimit) {
            dropped = std::move(txQueue_.front());
            txQueue_.pop_front();
        }
        txQueue_.push_back(std::move(box));
    }
    poolUnlock();
    if (dropped)
        Log(3, "Serial %s: send queue full, oldest message dropped");
}

packetHandle serialObject::PopTxPacket()
{
    packetHandle box;
    poolLock();
    if (!txQueue_.empty()) {
        box = std::move(txQueue_.front());
        txQueue_.pop_front();
    }
    poolUnlock();
    return box;
}

void serialObject::DrainTxQueue()
{
    while (PopTxPacket()) {
    }
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
    if (length == SlipDeframer::overflowDropped)
        Log(3, "Serial %s: frame longer than 1024 bytes dropped");
    if (length <= 0)
        return;
    packetHandle box = takePacket();
    if (!box)
        return;
    box->kind = 0;
    box->length = length;
    std::memcpy(box->data, rx_.Frame(), static_cast<std::size_t>(length));
    if (receiver_)
        receiver_(*this, std::move(box));
    else
        ProcessGatewayMessage(std::move(box));
}

void serialObject::ProcessGatewayMessage(packetHandle message)
{
    gatewayMessage m{*this, Reported()};
    msgCursor in = makeCursor(message->data, message->length);
    msgItem item;
    // A malformed record ends the message; those before it count.
    while (readRecord(in, item)) {
        for (const recordRule& rule : recordRules)
            if (rule.oid == item.oid)
                rule.take(m, item);
    }
    message.reset();
    if (!m.stateTaken)
        return;
    SetReported(m.report);
    // Every answer that carries a setting keeps the gateway alive, changed
    // or not.
    if (Owner())
        Owner()->setInfo(this, m.report.rfAddress, m.report.channel, m.report.group, m.report.promiscuous);
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
            openFailure_.clear();
            Log(3, "COM %s otevren");
        } else {
            OpenFailed(port_.openError());
        }
    }
    std::this_thread::sleep_for(closedPassSleep);
}

// Reported once per reason: the attempts go on quietly until the reason
// changes or the port has opened in between.
void serialObject::OpenFailed(int error)
{
    char buffer[256];
    const std::string reason = strerror_r(error, buffer, sizeof buffer);
    if (reason == openFailure_)
        return;
    openFailure_ = reason;
    if (Owner())
        Owner()->portFailed(this, linkFormat("COM %s nelze otevrit: %s", deviceName_.c_str(), reason.c_str()));
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
    packetHandle box = PopTxPacket();
    if (!box)
        return;
    if (port_.isOpen()) {
        int length = std::clamp(box->length, 0, msgBoxCapacity);
        int n = SlipEncode(box->data, length, txBuffer_.data());
        if (n > 0 && !port_.writeAll(txBuffer_.data(), static_cast<std::size_t>(n), writeLimitMs))
            ClosePort(openCountdown, openAfterOpenOrWriteFailure);
    }
    // Sent or not (a message queued while the port is closed is dropped),
    // the box goes back with its handle.
}

void serialObject::ClosePort(int& openCountdown, int retryAfter)
{
    CloseSerialPort(port_);
    portOpen_.store(false, std::memory_order_release);
    openCountdown = retryAfter;
}
