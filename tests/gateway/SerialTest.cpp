// The serial transport against the gateway stand-in on a pseudo-terminal.

#include "gateway/Hlavni.h"
#include "gateway/Serial.h"
#include "platform/sys/SerialPort.h"
#include "tests/gateway/GatewayTestSupport.h"
#include "tests/tools/gwstandin/GatewayStandin.h"

#include <filesystem>
#include <memory>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using standin::GatewayStandin;

class serialTest : public deviceFolderTest {
protected:
    void SetUp() override
    {
        deviceFolderTest::SetUp();
        debugLevel = 3;
    }
    void TearDown() override
    {
        transport.reset();
        deviceFolderTest::TearDown();
    }

    // Good frames as the transport hands them on: message and CRC byte.
    void open(const std::string& name)
    {
        transport = std::make_unique<serialObject>(&worker, name.c_str(), [this](serialObject&, packetHandle box) {
            received.add(bytes(box->data, box->data + box->length));
        });
    }
    bool waitReceived(std::size_t n)
    {
        return eventually([&] { return received.count() >= n; });
    }
    void push(const bytes& message)
    {
        packetHandle box = takePacket();
        std::copy(message.begin(), message.end(), box->data);
        box->length = static_cast<int>(message.size());
        transport->PushTxPacket(std::move(box));
    }
    // Far more than the terminal buffers: with the stand-in not reading,
    // the writes stall.
    void pushStallingLoad()
    {
        for (int i = 0; i < 12; ++i)
            push(bytes(msgBoxCapacity, 0xC0));
    }
    bool poolBalanced()
    {
        return eventually([] { return msgBoxPoolMade() == msgBoxPoolFreeCount(); });
    }
    // The transport ends whatever the line is doing, and gives back what it held.
    void destroyTransport()
    {
        transport.reset();
        EXPECT_EQ(log.lines().back().rfind("Serial COM3 was deleted tid ", 0), 0u);
        EXPECT_TRUE(poolBalanced());
    }

    recordingLog log;
    HlavniCem worker{linkInterfaces{log.sink()}, {}, HlavniCem::tickSource::manual};
    recorder<bytes> received;
    std::unique_ptr<serialObject> transport;
};

TEST_F(serialTest, FramesCrossTheLineByteExactInRawMode)
{
    GatewayStandin& gw = gateway("COM3");
    gw.setSilent(true);
    open("COM3");
    ASSERT_TRUE(gw.waitHeld());
    ASSERT_TRUE(eventually([&] { return log.starting("COM COM3 otevren tid ") == 1; }));
    EXPECT_EQ(log.lines()[0].rfind("Serial thread started for device COM3 tid ", 0), 0u);
    termios tio = gw.lineSettings();
    EXPECT_EQ(cfgetospeed(&tio), B57600);
    EXPECT_EQ(cfgetispeed(&tio), B57600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB));

    // Bytes a cooked line would eat, turn or echo, both ways; an overlong
    // frame dropped whole; a frame with pauses longer than a read time-out.
    const bytes awkward = hex("00 03 0A 0D 11 13 1A 7F FF");
    ASSERT_TRUE(gw.sendMessage(awkward));
    ASSERT_TRUE(gw.sendRaw(standin::encodeFrame(bytes(1100, 0x42))));
    ASSERT_TRUE(gw.sendRaw(hex("C0 61 62 63 DB DD C0"), 250ms));
    ASSERT_TRUE(waitReceived(2));
    EXPECT_EQ(received.all(), (std::vector<bytes>{hex("00 03 0A 0D 11 13 1A 7F FF 39"), hex("61 62 63 DB")}));
    EXPECT_EQ(log.starting("Serial COM3: frame longer than 1024 bytes dropped tid "), 1u);

    // And out, byte exact (their order: the worker's tick test).
    push(awkward);
    ASSERT_TRUE(gw.waitFrames(1));
    EXPECT_EQ(gw.frames()[0].raw, hex("C0 00 03 0A 0D 11 13 1A 7F FF 39 C0"));
    EXPECT_EQ(gw.badFrames(), 0);
    destroyTransport();
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
    std::size_t failures = log.starting("COM COM3 nelze otevrit");
    gw.hangUp();
    ASSERT_TRUE(eventually([&] { return log.starting("COM COM3 nelze otevrit") > failures; }));
    EXPECT_FALSE(transport->PortOpen());
    gatewayReport report = transport->Reported();
    EXPECT_EQ(report.rfAddress, 0u);
    EXPECT_EQ(report.channel, -1);

    push(hex("3F 21 01")); // goes back to the pool unsent
    ASSERT_TRUE(poolBalanced());
    gw.comeBack();
    ASSERT_TRUE(gw.waitHeld());
    ASSERT_TRUE(gw.sendMessage(hex("61 32")));
    ASSERT_TRUE(waitReceived(1));
    EXPECT_EQ(received.all(), std::vector<bytes>{hex("61 32 C0")});
    push(hex("3F 21 02"));
    ASSERT_TRUE(gw.waitFrames(1));
    EXPECT_EQ(gw.frames().size(), 1u);
    EXPECT_EQ(gw.frames()[0].message, hex("3F 21 02"));
}

TEST_F(serialTest, StalledWritesFailAndDestroyingDoesNotWaitForThem)
{
    GatewayStandin& gw = gateway("COM3");
    open("COM3");
    ASSERT_TRUE(gw.waitHeld());
    gw.setReading(false);
    pushStallingLoad();
    // The write gives up, the line is closed, the rest goes back unsent.
    ASSERT_TRUE(eventually([&] { return !transport->PortOpen(); }));
    ASSERT_TRUE(poolBalanced());
    gw.setReading(true);
    ASSERT_TRUE(eventually([&] { return transport->PortOpen(); }));

    gw.setReading(false);
    pushStallingLoad();
    std::this_thread::sleep_for(300ms); // into a stalled write
    destroyTransport();
}

// Only terminals open, each by one holder; the port scan lists what would
// open when chosen.
TEST_F(serialTest, OnlyAFreeTerminalOpensAndIsListed)
{
    fs::create_directory(folder + "/COM6");
    { std::FILE* f = std::fopen((folder + "/COM4").c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
    fs::create_symlink(folder + "/nowhere", folder + "/COM5");
    platform::SerialPort port;
    for (const std::string& name : std::vector<std::string>{"COM4", "COM5", "COM6", "COM8", "", "/dev/null", std::string(300, 'C')})
        EXPECT_FALSE(OpenSerialPort(port, name.c_str(), 57600)) << name;
    EXPECT_FALSE(OpenSerialPort(port, nullptr, 57600));
    EXPECT_TRUE(EnumerateComPorts().empty());

    gateway("COM12");
    gateway("COM3");
    EXPECT_EQ(EnumerateComPorts(), (std::vector<std::string>{"COM3", "COM12"}));
    platform::SerialPort held;
    ASSERT_TRUE(OpenSerialPort(held, "COM3", 57600));
    EXPECT_EQ(EnumerateComPorts(), std::vector<std::string>{"COM12"});
    EXPECT_FALSE(OpenSerialPort(port, "COM3", 57600));
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
    t.PushTxPacket(takePacket());
    EXPECT_EQ(t.PopTxPacket(), nullptr);
    EXPECT_EQ(msgBoxPoolMade(), msgBoxPoolFreeCount());
}

} // namespace
