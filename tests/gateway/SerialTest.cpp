// The serial transport against the gateway stand-in on a pseudo-terminal.

#include "gateway/Hlavni.h"
#include "gateway/Serial.h"
#include "platform/sys/SerialPort.h"
#include "tests/gateway/GatewayTestSupport.h"
#include "tests/tools/gwstandin/GatewayStandin.h"

#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using standin::GatewayStandin;

// Good frames as the transport hands them on: message and CRC byte.
class receivedFrames {
public:
    serialObject::frameReceiver receiver()
    {
        return [this](serialObject&, msgBox* box) {
            {
                std::lock_guard lock(mutex_);
                messages_.emplace_back(box->data, box->data + box->length);
            }
            packetFree(box);
        };
    }
    std::vector<bytes> messages()
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    bool waitCount(std::size_t n)
    {
        return eventually([&] { return messages().size() >= n; });
    }

private:
    std::mutex mutex_;
    std::vector<bytes> messages_;
};

std::size_t countLines(recordingLog& log, const std::string& start)
{
    std::size_t n = 0;
    for (const std::string& line : log.lines())
        n += line.rfind(start, 0) == 0;
    return n;
}

class serialTest : public gatewayTest {
protected:
    void SetUp() override
    {
        gatewayTest::SetUp();
        debugLevel = 3;
        char pattern[] = "/tmp/orvelo-dev-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        setenv("ORVELO_DEVICE_DIR", folder.c_str(), 1);
    }
    void TearDown() override
    {
        transport.reset();
        gateways.clear();
        fs::remove_all(folder);
        unsetenv("ORVELO_DEVICE_DIR");
        gatewayTest::TearDown();
    }

    GatewayStandin& gateway(const std::string& name)
    {
        gateways.push_back(std::make_unique<GatewayStandin>(folder, name));
        return *gateways.back();
    }
    void open(const char* name)
    {
        transport = std::make_unique<serialObject>(&worker, name, received.receiver());
    }
    void push(const bytes& message)
    {
        msgBox* box = packetAlloc();
        ASSERT_NE(box, nullptr);
        std::copy(message.begin(), message.end(), box->data);
        box->length = static_cast<int>(message.size());
        transport->PushTxPacket(box);
    }
    bool poolBalanced()
    {
        return eventually([] { return msgBoxPoolMade() == msgBoxPoolFreeCount(); });
    }

    std::string folder;
    recordingLog log;
    HlavniCem worker{linkInterfaces{log.sink()}, {}, HlavniCem::tickSource::manual};
    receivedFrames received;
    std::vector<std::unique_ptr<GatewayStandin>> gateways;
    std::unique_ptr<serialObject> transport;
};

const bytes awkward = hex("00 03 0A 0D 11 13 1A 7F FF");

TEST_F(serialTest, FramesCrossTheLineByteExactInRawMode)
{
    GatewayStandin& gw = gateway("COM3");
    open("COM3");
    ASSERT_TRUE(gw.waitHeld());
    termios tio = gw.lineSettings();
    EXPECT_EQ(cfgetospeed(&tio), B57600);
    EXPECT_EQ(cfgetispeed(&tio), B57600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB));

    // Bytes a cooked line would eat, turn or echo, both ways.
    ASSERT_TRUE(gw.sendMessage(awkward));
    ASSERT_TRUE(received.waitCount(1));
    EXPECT_EQ(received.messages()[0], hex("00 03 0A 0D 11 13 1A 7F FF 39"));
    push(awkward);
    ASSERT_TRUE(gw.waitFrames(1));
    EXPECT_EQ(gw.frames()[0].raw, hex("C0 00 03 0A 0D 11 13 1A 7F FF 39 C0"));

    // A status query, and the gateway's answer as the transport hands it on.
    gw.setSettings({0x01020304, 2, 0, 0});
    push(hex("3F 21 01 C0 6E 01 70 C0 72 01 70 C0 76 01 70 C0 79 01 70"));
    ASSERT_TRUE(gw.waitFrames(2));
    EXPECT_EQ(gw.frames()[1].raw, hex("C0 3F 21 01 DB DC 6E 01 70 DB DC 72 01 70 DB DC 76 01 70 DB DC 79 01 70 F6 C0"));
    ASSERT_TRUE(received.waitCount(2));
    EXPECT_EQ(received.messages()[1],
              hex("3F 21 01 C0 6E 01 21 02 C0 72 01 21 00 C0 76 01 14 01 02 03 04 C0 79 01 21 00 EE"));
    EXPECT_EQ(gw.badFrames(), 0);
}

TEST_F(serialTest, PushedMessagesLeaveInOrderAndSlowFramesArriveWhole)
{
    GatewayStandin& gw = gateway("COM3");
    gw.setSilent(true);
    open("COM3");
    ASSERT_TRUE(gw.waitHeld());
    for (std::uint8_t i = 1; i <= 5; ++i)
        push({0x3F, 0x21, i});
    ASSERT_TRUE(gw.waitFrames(5));
    for (std::uint8_t i = 1; i <= 5; ++i)
        EXPECT_EQ(gw.frames()[i - 1].message, (bytes{0x3F, 0x21, i}));

    // Pauses longer than a read time-out between the bytes of one frame.
    ASSERT_TRUE(gw.sendRaw(hex("C0 61 62 63 DB DD C0"), 250ms));
    ASSERT_TRUE(received.waitCount(1));
    EXPECT_EQ(received.messages(), std::vector<bytes>{hex("61 62 63 DB")});
}

TEST_F(serialTest, LogsItsStartAndTheOpenAtLevelThree)
{
    GatewayStandin& gw = gateway("COM3");
    open("COM3");
    ASSERT_TRUE(gw.waitHeld());
    ASSERT_TRUE(eventually([&] { return countLines(log, "COM COM3 otevren tid ") == 1; }));
    std::vector<std::string> lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("Serial thread started for device COM3 tid ", 0), 0u);
    EXPECT_EQ(lines[1].rfind("COM COM3 otevren tid ", 0), 0u);
    transport.reset();
    EXPECT_EQ(log.lines().back().rfind("Serial COM3 was deleted tid ", 0), 0u);
}

TEST_F(serialTest, KeepsTryingAMissingPortUntilItAppears)
{
    open("COM7");
    ASSERT_TRUE(eventually([&] { return countLines(log, "COM COM7 nelze otevrit tid ") >= 2; }));
    GatewayStandin& gw = gateway("COM7");
    ASSERT_TRUE(gw.waitHeld());
    ASSERT_TRUE(gw.sendMessage(hex("61 32")));
    ASSERT_TRUE(received.waitCount(1));
    EXPECT_EQ(received.messages()[0], hex("61 32 C0"));
    EXPECT_EQ(countLines(log, "COM COM7 otevren tid "), 1u);
}

TEST_F(serialTest, HangUpClosesTheLineAndTheReturnStartsClean)
{
    GatewayStandin& gw = gateway("COM3");
    open("COM3");
    ASSERT_TRUE(gw.waitHeld());
    transport->SetReported({0x01020304, 2, 0, 0});
    // A frame cut right after an ESC.
    ASSERT_TRUE(gw.sendRaw(hex("C0 11 DB")));
    ASSERT_TRUE(gw.waitTaken());
    std::size_t failures = countLines(log, "COM COM3 nelze otevrit");
    gw.hangUp();
    ASSERT_TRUE(eventually([&] { return countLines(log, "COM COM3 nelze otevrit") > failures; }));
    EXPECT_FALSE(transport->PortOpen());
    gatewayReport report = transport->Reported();
    EXPECT_EQ(report.rfAddress, 0u);
    EXPECT_EQ(report.channel, -1);

    push(hex("3F 21 01")); // goes back to the pool unsent
    ASSERT_TRUE(poolBalanced());
    gw.comeBack();
    ASSERT_TRUE(gw.waitHeld());
    ASSERT_TRUE(gw.sendMessage(hex("61 32")));
    ASSERT_TRUE(received.waitCount(1));
    EXPECT_EQ(received.messages(), std::vector<bytes>{hex("61 32 C0")});
    push(hex("3F 21 02"));
    ASSERT_TRUE(gw.waitFrames(1));
    EXPECT_EQ(gw.frames().size(), 1u);
    EXPECT_EQ(gw.frames()[0].message, hex("3F 21 02"));
}

TEST_F(serialTest, HeldPortRefusesASecondTransport)
{
    GatewayStandin& gw = gateway("COM3");
    open("COM3");
    ASSERT_TRUE(gw.waitHeld());
    recordingLog secondLog;
    HlavniCem secondWorker{linkInterfaces{secondLog.sink()}, {}, HlavniCem::tickSource::manual};
    {
        serialObject second(&secondWorker, "COM3");
        ASSERT_TRUE(eventually([&] { return countLines(secondLog, "COM COM3 nelze otevrit tid ") >= 1; }));
        EXPECT_EQ(countLines(secondLog, "COM COM3 otevren"), 0u);
    }
    // The first one still has the line.
    ASSERT_TRUE(gw.sendMessage(hex("61 32")));
    ASSERT_TRUE(received.waitCount(1));
}

TEST_F(serialTest, DestroyingWhileTheGatewayFloods)
{
    GatewayStandin& gw = gateway("COM3");
    open("COM3");
    gw.startFlood(hex("3F 21 01 C0 6E 01 21 02"));
    ASSERT_TRUE(received.waitCount(20));
    push(hex("3F 21 01"));
    transport.reset();
    gw.stopFlood();
    EXPECT_EQ(log.lines().back().rfind("Serial COM3 was deleted tid ", 0), 0u);
    EXPECT_TRUE(poolBalanced());
}

TEST_F(serialTest, DestroyingWhileTheGatewayStoppedReading)
{
    GatewayStandin& gw = gateway("COM3");
    open("COM3");
    ASSERT_TRUE(gw.waitHeld());
    gw.setReading(false);
    // Far more than the terminal buffers: the writes stall.
    bytes big(msgBoxCapacity, 0xC0);
    for (int i = 0; i < 12; ++i)
        push(big);
    std::this_thread::sleep_for(300ms);
    transport.reset();
    EXPECT_EQ(log.lines().back().rfind("Serial COM3 was deleted tid ", 0), 0u);
    EXPECT_TRUE(poolBalanced());
}

TEST_F(serialTest, StalledWritesCountAsFailures)
{
    GatewayStandin& gw = gateway("COM3");
    open("COM3");
    ASSERT_TRUE(gw.waitHeld());
    gw.setReading(false);
    bytes big(msgBoxCapacity, 0xC0);
    for (int i = 0; i < 12; ++i)
        push(big);
    // The write gives up, the line is closed, the rest goes back unsent.
    ASSERT_TRUE(eventually([&] { return !transport->PortOpen(); }));
    ASSERT_TRUE(poolBalanced());
    gw.setReading(true);
    ASSERT_TRUE(eventually([&] { return transport->PortOpen(); }));
}

TEST_F(serialTest, WhatIsNoTerminalNeverOpens)
{
    fs::create_directory(folder + "/COM6");
    { std::FILE* f = std::fopen((folder + "/COM4").c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
    fs::create_symlink(folder + "/nowhere", folder + "/COM5");
    platform::SerialPort port;
    for (const std::string& name : std::vector<std::string>{"COM4", "COM5", "COM6", "COM8", "", "/dev/null", std::string(300, 'C')})
        EXPECT_FALSE(OpenSerialPort(port, name.c_str(), 57600)) << name;
    EXPECT_FALSE(OpenSerialPort(port, nullptr, 57600));

    open((folder + "/COM4").c_str());
    ASSERT_TRUE(eventually([&] { return countLines(log, "COM " + folder + "/COM4 nelze otevrit tid ") >= 1; }));
    EXPECT_FALSE(transport->PortOpen());
}

TEST_F(serialTest, PortScanListsWhatResolvesToATerminal)
{
    EXPECT_TRUE(EnumerateComPorts().empty());
    gateway("COM12");
    gateway("COM3");
    fs::create_symlink(folder + "/gone", folder + "/COM5");
    EXPECT_EQ(EnumerateComPorts(), (std::vector<std::string>{"COM3", "COM12"}));
    // Every listed name opens when chosen.
    for (const std::string& name : EnumerateComPorts()) {
        platform::SerialPort port;
        EXPECT_TRUE(OpenSerialPort(port, name.c_str(), 57600)) << name;
    }
}

TEST_F(serialTest, StandInPlaysGatewayAndModules)
{
    GatewayStandin& gw = gateway("COM3");
    open("COM3");
    // A set configuration: channel 1, then save; answered like a query.
    push(hex("3F 21 03 C0 6E 01 21 01 0F 21 02"));
    ASSERT_TRUE(received.waitCount(1));
    EXPECT_EQ(received.messages()[0],
              hex("3F 21 01 C0 6E 01 21 01 C0 72 01 21 00 C0 76 01 14 01 02 03 04 C0 79 01 21 00 56"));
    EXPECT_EQ(gw.settings().channel, 1u);
    EXPECT_TRUE(gw.saved());

    // RF sends, with and without a send parameter; no answer.
    push(hex("3F 21 06 C0 80 01 22 0B B8 C0 77 01 1C 00 00 00 00 01 02 03 04 07 00 00 02"));
    push(hex("3F 21 06 C0 77 01 1B 55 66 77 88 11 22 33 44 22 00 85"));
    ASSERT_TRUE(gw.waitFrames(3));
    std::vector<standin::RfSend> sends = gw.rfSends();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[0].parameter, 3000u);
    EXPECT_EQ(sends[0].packet, hex("00 00 00 00 01 02 03 04 07 00 00 02"));
    EXPECT_FALSE(sends[1].parameter.has_value());
    EXPECT_EQ(sends[1].packet, hex("55 66 77 88 11 22 33 44 22 00 85"));

    // A module's packet with its RSSI record before, then after it.
    const bytes packet = hex("01 02 03 04 0A 0B 0C 0D 22 00 05 3F 21 01");
    ASSERT_TRUE(gw.sendRfPacket(packet, -60));
    ASSERT_TRUE(gw.sendRfPacket(packet, -60, true));
    ASSERT_TRUE(received.waitCount(3));
    EXPECT_EQ(received.messages()[1], hex("80 78 31 C4 C0 77 01 1E 01 02 03 04 0A 0B 0C 0D 22 00 05 3F 21 01 AC"));
    EXPECT_EQ(received.messages()[2], hex("C0 77 01 1E 01 02 03 04 0A 0B 0C 0D 22 00 05 3F 21 01 80 78 31 C4 2B"));
}

TEST_F(serialTest, StandInChecksWhatItReceives)
{
    GatewayStandin& gw = gateway("COM3");
    platform::SerialPort port;
    ASSERT_TRUE(OpenSerialPort(port, "COM3", 57600));
    ASSERT_TRUE(gw.waitHeld());
    // Bad CRC, broken escape, too short; then a good frame.
    const bytes line = hex("C0 61 62 63 00 C0 61 DB 41 62 C0 C0 07 C0 C0 61 32 DB DC C0");
    ASSERT_TRUE(port.writeAll(line.data(), line.size(), 5000));
    ASSERT_TRUE(gw.waitFrames(1));
    EXPECT_EQ(gw.badFrames(), 3);
    EXPECT_EQ(gw.frames()[0].message, hex("61 32"));
    EXPECT_EQ(gw.frames()[0].raw, hex("C0 61 32 DB DC C0"));
}

// Stands for the moment between the terminate flag and the end of the
// destructor, when the transport's own thread may still queue replies.
struct terminatingSerial : serialObject {
    using serialObject::serialObject;
    void terminateNow() { Terminate(); }
};

TEST_F(serialTest, ATerminatingTransportGivesPushedBuffersBack)
{
    terminatingSerial t(&worker, "COM9");
    t.terminateNow();
    msgBox* box = packetAlloc();
    ASSERT_NE(box, nullptr);
    t.PushTxPacket(box);
    EXPECT_EQ(t.PopTxPacket(), nullptr);
    EXPECT_EQ(msgBoxPoolMade(), msgBoxPoolFreeCount());
}

TEST(MapBaudRate, KnownRatesStayOthersGive9600)
{
    for (int baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200})
        EXPECT_EQ(MapBaudRate(baud), baud);
    for (int baud : {0, -1, 300, 14400, 56000, 230400})
        EXPECT_EQ(MapBaudRate(baud), 9600);
}

} // namespace
