// The worker, its serial transport and interface end to end, against the
// gateway stand-in on a pseudo-terminal; sensor packets handed straight to
// the dispatch.

#include "gateway/Hlavni.h"
#include "gateway/Serial.h"
#include "platform/sys/SerialPort.h"
#include "tests/gateway/GatewayTestSupport.h"
#include "tests/tools/gwstandin/GatewayStandin.h"

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <numeric>
#include <regex>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using standin::GatewayStandin;

const bytes queryMessage = hex("3F 21 01 C0 6E 01 70 C0 72 01 70 C0 76 01 70 C0 79 01 70");
const bytes queryFrame = hex("C0 3F 21 01 DB DC 6E 01 70 DB DC 72 01 70 DB DC 76 01 70 DB DC 79 01 70 F6 C0");
// dst 01020304, src 0A0B0C0D, kind 22, seq 5: OID 63 = 1, OID 100/0 = 1234, OID 105/0 = 215.
const bytes sensorFrame = hex("C0 DB DC 77 01 81 19 01 02 03 04 0A 0B 0C 0D 22 00 05 3F 21 01 DB DC 64 00 22 04 D2 "
                              "DB DC 69 00 21 D7 99 C0");
const bytes sensorAckFrame = hex("C0 3F 21 06 DB DC 77 01 1B 0A 0B 0C 0D 01 02 03 04 22 00 85 49 C0");

void expectState(const gatewayState& s, bool online, std::optional<std::string> text, bool shows = true) {
    EXPECT_EQ(s.online, online);
    EXPECT_EQ(s.rfAddressText, text);
    EXPECT_EQ(s.showsOnline, shows);
}

// The kernel's count: a thread that was just joined may still be listed for
// a moment, so only a count that stays too high means a thread too many.
long threadCount() { return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()); }

// Destroys the worker; fails the test (and ends the process) only when
// that hangs.
void destroyUnlessItHangs(std::unique_ptr<HlavniCem>& worker) {
    std::promise<void> done;
    std::thread destroyer([&] {
        worker.reset();
        done.set_value();
    });
    if (done.get_future().wait_for(60s) != std::future_status::ready) {
        std::fprintf(stderr, "the worker hangs\n");
        std::abort();
    }
    destroyer.join();
}

class workerTest : public deviceFolderTest {
protected:
    void TearDown() override {
        worker.reset();
        deviceFolderTest::TearDown();
    }

    void start(HlavniCem::tickSource ticks = HlavniCem::tickSource::thread) {
        linkInterfaces sinks{log.sink(), recordTo(readings)};
        sinks.state = [this](gatewayState s) { states.add(std::move(s)); };
        worker = std::make_unique<HlavniCem>(std::move(sinks), HlavniCem::radioRoads{}, ticks);
    }
    // A running worker on COM3 whose gateway has reported itself.
    GatewayStandin& link(int wantedChannel = -1) {
        GatewayStandin& gw = gateway();
        start();
        EXPECT_EQ(worker->addSerialPort("COM3", wantedChannel), 1);
        EXPECT_TRUE(eventually([&] { return states.count() >= 1; }));
        return gw;
    }
    serialObject& transport() { return static_cast<serialObject&>(*worker->interfaces().front()->transport()); }
    // A message to send, or one handed in as the gateway's.
    void push(const bytes& message, bool received = false) {
        packetHandle box = takePacket();
        std::copy(message.begin(), message.end(), box->data);
        box->length = static_cast<int>(message.size());
        if (received) transport().ProcessGatewayMessage(std::move(box));
        else transport().PushTxPacket(std::move(box));
    }
    // Far more than the terminal buffers: with the stand-in not reading,
    // the writes stall.
    void pushStallingLoad() {
        for (int i = 0; i < 12; ++i) push(bytes(msgBoxCapacity, 0xC0));
    }
    static bool poolBalanced() {
        return eventually([] { return msgBoxPoolMade() == msgBoxPoolFreeCount(); });
    }
    // A packet from module 0x0A0B0C0D to gateway 0x01020304, sequence 5,
    // through the dispatch as the transport hands it on.
    void deliver(const char* kind, const bytes& payload, std::int32_t rssi = 0) {
        bytes wire = hex(std::string("01 02 03 04 0A 0B 0C 0D ") + kind + " 00 05") + payload;
        worker->deliverRadioFrame(0x01020304, inPlace(wire, rssi));
    }

    // Frames on the line that are not status queries.
    static std::vector<bytes> sent(const GatewayStandin& gw) {
        std::vector<bytes> out;
        for (const standin::Frame& f : gw.frames())
            if (f.message != queryMessage) out.push_back(f.raw);
        return out;
    }
    // What the stand-in was asked to send by radio.
    static std::vector<bytes> radioed(const GatewayStandin& gw) {
        std::vector<bytes> out;
        for (const standin::RfSend& s : gw.rfSends()) out.push_back(s.packet);
        return out;
    }
    // The transport handles messages in order: once a greeting sent after
    // them is logged, everything before it is done.
    void sync(GatewayStandin& gw) {
        const std::uint8_t seq = static_cast<std::uint8_t>(syncs++ & 0x7F);
        const std::size_t before = log.starting(syncLine);
        ASSERT_TRUE(gw.sendRfPacket(hex("01 02 03 04 0F 0F 0F 0F 08 00") + bytes{seq}));
        ASSERT_TRUE(eventually([&] { return log.starting(syncLine) > before; }));
    }
    // The lines logged since `mark`, but for those of sync(), without the
    // " tid N" that each ends with: the thread that logs it is the link's.
    std::vector<std::string> linesSince(std::size_t mark = 0) {
        static const std::regex tid(" tid [0-9]+$");
        const std::vector<std::string> all = log.lines();
        std::vector<std::string> out;
        for (std::size_t i = mark; i < all.size(); ++i) {
            EXPECT_TRUE(std::regex_search(all[i], tid)) << all[i];
            if (all[i].rfind(syncLine, 0) != 0) out.push_back(std::regex_replace(all[i], tid, ""));
        }
        return out;
    }
    // How often exactly this line was logged.
    std::size_t logged(const std::string& line) {
        const std::vector<std::string> all = linesSince();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), line));
    }
    static constexpr const char* syncLine = "Receive HALLO from 0x0f0f0f0f over 0x01020304";
    recordingLog log;
    recorder<reading> readings;
    recorder<gatewayState> states;
    std::unique_ptr<HlavniCem> worker;
    int syncs = 0;
};

// --- Start, queries, ONLINE/OFFLINE ----------------------------------------

TEST_F(workerTest, StartsOnceAndKeepsQueryingASilentGateway) {
    GatewayStandin& gw = gateway();
    gw.setSilent(true);
    debugLevel = 3;
    start();
    EXPECT_EQ(worker->addSerialPort("COM3", -1), 1);
    EXPECT_EQ(worker->addSerialPort("COM3", -1), 0);
    ASSERT_TRUE(gw.waitFrames(2));
    for (const standin::Frame& f : gw.frames()) EXPECT_EQ(f.raw, queryFrame);
    EXPECT_TRUE(states.all().empty());
    const termios tio = gw.lineSettings();
    EXPECT_EQ(cfgetospeed(&tio), B57600);
    EXPECT_EQ(cfgetispeed(&tio), B57600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB));

    const std::vector<std::string> lines = linesSince();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Hlavni start");
    // The worker's thread and the transport's start together: their first
    // lines come in either order.
    for (const char* line : {"Casovac bezi ...", "Serial thread started for device COM3"})
        EXPECT_EQ(logged(line), 1u) << line;
    EXPECT_GE(logged(" fire timer COM3"), 2u);

    worker.reset();
    for (const char* line : {"Serial COM3 was deleted", "Hlavni stop", "Casovac konci ...!"})
        EXPECT_EQ(logged(line), 1u) << line;
    EXPECT_FALSE(gw.isHeld());
}

TEST_F(workerTest, ReportsTheLinkOnceAtLevelZeroAndTheLossOnDestruction) {
    GatewayStandin& gw = link();
    // Answers to three further queries change nothing.
    ASSERT_TRUE(gw.waitFrames(4));
    sync(gw);
    std::vector<gatewayState> all = states.all();
    ASSERT_EQ(all.size(), 1u);
    expectState(all[0], true, "0x01020304");
    EXPECT_EQ(linesSince(), std::vector<std::string>{"Interface Serial : COM3 has RF addr 01020304 on channel 2"});

    // Destroyed while linked: the loss is reported before the worker stops,
    // and the pool is freed.
    debugLevel = 2;
    worker.reset();
    ASSERT_EQ(states.count(), 2u);
    expectState(states.all()[1], false, std::nullopt);
    const std::vector<std::string> lines = linesSince();
    const auto lost = std::find(lines.begin(), lines.end(), "Interface Serial : COM3 was disconnected");
    ASSERT_NE(lost, lines.end());
    EXPECT_LT(lost, std::find(lines.begin(), lines.end(), "Hlavni stop"));
    EXPECT_EQ(msgBoxPoolMade(), 0);
}

TEST_F(workerTest, VirtualPortShowsItsAddressButNotOnline) {
    gateway("Virtual7");
    start();
    ASSERT_EQ(worker->addSerialPort(folder + "/Virtual7", -1), 1);
    ASSERT_TRUE(eventually([&] { return states.count() >= 1; }));
    expectState(states.all()[0], true, "0x01020304", false);
    worker.reset();
    ASSERT_EQ(states.count(), 2u);
    expectState(states.all()[1], false, std::nullopt, false);
}

// --- The line ------------------------------------------------------------------

// Bytes a cooked line would eat, turn or echo cross it both ways as they
// are: a count made of control characters in a frame cut by a pause longer
// than a read time-out right after an ESC. A frame longer than the buffer
// is dropped whole.
TEST_F(workerTest, TheLineCarriesEveryByteAndStartsCleanAfterAHangUp) {
    debugLevel = 3;
    GatewayStandin& gw = link();
    ASSERT_TRUE(gw.sendRaw(standin::encodeFrame(bytes(1100, 0x42))));
    const bytes frame = standin::encodeFrame(standin::octetsRecord(
        119, 1, hex("01 02 03 04 0A 0B 0C 0D 22 00 30 C0 64 00 24 03 11 13 1A C0 64 01 24 0D 0A 7F FF")));
    const auto esc = std::find(frame.begin() + 1, frame.end(), 0xDB) + 1;
    ASSERT_TRUE(gw.sendRaw(bytes(frame.begin(), esc)));
    std::this_thread::sleep_for(250ms);
    ASSERT_TRUE(gw.sendRaw(bytes(esc, frame.end())));
    sync(gw);
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 0, 0, 0x0311131A, 0}, {"0xa0b0c0d", 0, 0, 0x0D0A7FFF, 1}}));
    EXPECT_EQ(logged("Serial COM3: frame longer than 1024 bytes dropped"), 1u);
    push(hex("00 03 0A 0D 11 13 1A 7F FF"));
    ASSERT_TRUE(eventually([&] { return sent(gw).size() >= 2; }));
    EXPECT_EQ(sent(gw)[1], hex("C0 00 03 0A 0D 11 13 1A 7F FF 39 C0"));

    // A hang-up right after an ESC closes the line, forgets the report and
    // gives back what is pushed meanwhile; the return starts clean.
    ASSERT_TRUE(gw.sendRaw(hex("C0 11 DB")));
    ASSERT_TRUE(gw.waitTaken());
    gw.hangUp();
    ASSERT_TRUE(eventually([&] { return !transport().PortOpen(); }));
    EXPECT_EQ(transport().Reported().rfAddress, 0u);
    EXPECT_EQ(transport().Reported().channel, -1);
    push(hex("3F 21 01"));
    ASSERT_TRUE(poolBalanced());
    gw.setSilent(true);  // nothing comes before the packet
    gw.comeBack();
    ASSERT_TRUE(gw.sendRfPacket(hex("01 02 03 04 0A 0B 0C 0D 22 00 31 C0 64 00 21 07")));
    ASSERT_TRUE(eventually([&] { return readings.count() == 3; }));
}

TEST_F(workerTest, StalledWritesFailAndDestroyingDoesNotWaitForThem) {
    GatewayStandin& gw = gateway();
    start(HlavniCem::tickSource::manual);
    ASSERT_EQ(worker->addSerialPort("COM3", -1), 1);
    ASSERT_TRUE(gw.waitHeld());
    gw.setReading(false);
    pushStallingLoad();
    // The write gives up, the line is closed, the rest goes back unsent.
    ASSERT_TRUE(eventually([&] { return !transport().PortOpen(); }));
    ASSERT_TRUE(poolBalanced());
    gw.setReading(true);
    ASSERT_TRUE(eventually([&] { return transport().PortOpen(); }));

    gw.setReading(false);
    pushStallingLoad();
    std::this_thread::sleep_for(300ms);  // into a stalled write
    destroyUnlessItHangs(worker);
    EXPECT_TRUE(poolBalanced());
}

// Only terminals open, each by one holder; the port scan lists what would
// open when chosen.
TEST_F(workerTest, OnlyAFreeTerminalOpensAndIsListed) {
    fs::create_directory(folder + "/COM6");
    testsupport::WriteFile(folder + "/COM4", "");
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

// After the device folder's COM names, the machine's serial devices that
// are terminals, by their paths in natural order; a ttyS without a UART
// behind it, and anything that is no terminal, is left out. A device path
// is a port like any other: the gateway on it comes online.
TEST_F(workerTest, TheMachinesSerialDevicesFollowTheComNames) {
    const std::string root = devRoot.Path();
    gateway("COM3");
    std::vector<std::unique_ptr<GatewayStandin>> devices;
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSB0", "ttyS1"})
        devices.push_back(std::make_unique<GatewayStandin>(root, name));
    testsupport::WriteFile(root + "/ttyS0", "");
    testsupport::WriteFile(root + "/ttyUSB", "");
    fs::create_symlink(devices[0]->entryPath(), root + "/console");
    EXPECT_EQ(EnumerateComPorts(), (std::vector<std::string>{"COM3", root + "/ttyACM0", root + "/ttyUSB0",
                                                             root + "/ttyUSB2", root + "/ttyUSB10"}));

    start();
    ASSERT_EQ(worker->addSerialPort(root + "/ttyUSB2", -1), 1);
    ASSERT_TRUE(eventually([&] { return states.count() >= 1; }));
    expectState(states.all().front(), true, "0x01020304");
    EXPECT_TRUE(devices[1]->isHeld());
    EXPECT_FALSE(devices[0]->isHeld());
    worker.reset();
    devices.clear();
}

// A port that will not open says why once, shows the gateway offline and
// is tried again quietly; a new reason, or the same one after the port was
// open, is said again.
TEST_F(workerTest, APortThatWillNotOpenSaysWhyOnce) {
    const std::string missing = "COM COM1 nelze otevrit: " + std::string(std::strerror(ENOENT));
    const std::string noTerminal = "COM COM1 nelze otevrit: " + std::string(std::strerror(ENOTTY));
    start();
    ASSERT_EQ(worker->addSerialPort("COM1", -1), 1);
    ASSERT_TRUE(eventually([&] { return logged(missing) == 1; }));
    ASSERT_EQ(states.count(), 1u);
    expectState(states.all().front(), false, std::nullopt);
    std::this_thread::sleep_for(2500ms);  // a few more attempts
    EXPECT_EQ(logged(missing), 1u);

    testsupport::WriteFile(folder + "/COM1", "");
    ASSERT_TRUE(eventually([&] { return logged(noTerminal) == 1; }));
    GatewayStandin& gw = gateway("COM1");
    ASSERT_TRUE(eventually([&] { return !states.all().empty() && states.all().back().online; }));
    gw.hangUp();  // the stand-in's entry goes with it
    ASSERT_TRUE(eventually([&] { return logged(missing) == 2; }));
    EXPECT_EQ(logged(noTerminal), 1u);
    const std::vector<std::string> lines = linesSince();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("nelze") != std::string::npos; }), 3);
}

// Stands for the moment between the terminate flag and the end of the
// destructor, when the transport's own thread may still queue replies.
struct terminatingSerial : serialObject {
    using serialObject::serialObject;
    void terminateNow() { Terminate(); }
};

TEST_F(workerTest, ATerminatingTransportGivesPushedBuffersBack) {
    start(HlavniCem::tickSource::manual);
    terminatingSerial t(worker.get(), "COM9");
    t.terminateNow();
    t.PushTxPacket(takePacket());
    EXPECT_EQ(t.PopTxPacket(), nullptr);
    EXPECT_EQ(msgBoxPoolMade(), msgBoxPoolFreeCount());
}

// The line takes one message a pass; whatever comes faster than that waits
// in a queue of 64 at most, the newest kept. The transport's thread is held
// in the receiver of a frame meanwhile, so it takes nothing from the queue.
TEST_F(workerTest, TheTransmitQueueKeepsTheNewestSixtyFour) {
    GatewayStandin& gw = gateway();
    start(HlavniCem::tickSource::manual);
    debugLevel = 3;
    std::promise<void> held;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> first{true};
    serialObject line(worker.get(), "COM3", [&](serialObject&, packetHandle) {
        if (!first.exchange(false)) return;
        held.set_value();
        released.wait();
    });
    ASSERT_TRUE(gw.waitHeld());
    ASSERT_TRUE(gw.sendRfPacket(hex("01 02 03 04 0A 0B 0C 0D 08 00 01")));
    ASSERT_EQ(held.get_future().wait_for(15s), std::future_status::ready);

    const std::size_t mark = log.count();
    constexpr int pushed = 100;
    for (int i = 0; i < pushed; ++i) {
        packetHandle box = takePacket();
        box->data[0] = static_cast<std::uint8_t>(i);
        box->length = 1;
        line.PushTxPacket(std::move(box));
    }
    std::vector<int> waiting;
    while (packetHandle box = line.PopTxPacket()) waiting.push_back(box->data[0]);
    release.set_value();

    std::vector<int> newest(serialObject::txQueueLimit);
    std::iota(newest.begin(), newest.end(), pushed - static_cast<int>(serialObject::txQueueLimit));
    EXPECT_EQ(waiting, newest);
    const std::vector<std::string> lines = linesSince(mark);
    EXPECT_EQ(static_cast<std::size_t>(std::count(lines.begin(), lines.end(),
                                                  "Serial COM3: send queue full, oldest message dropped")),
              pushed - serialObject::txQueueLimit);
}

// --- Configuration -----------------------------------------------------------

TEST_F(workerTest, WantedChannelIsSetAndSavedOnce) {
    debugLevel = 2;
    GatewayStandin& gw = link(9);
    // Linked on 2; the next message sets 1 and saves; then only queries.
    ASSERT_TRUE(gw.waitFrames(5));
    std::vector<standin::Frame> frames = gw.frames();
    EXPECT_EQ(frames[0].raw, queryFrame);
    EXPECT_EQ(frames[1].raw, hex("C0 3F 21 03 DB DC 6E 01 21 01 0F 21 02 99 C0"));
    for (std::size_t i = 2; i < frames.size(); ++i) EXPECT_EQ(frames[i].raw, queryFrame) << i;
    EXPECT_EQ(gw.settings().channel, 1u);
    EXPECT_TRUE(gw.saved());
    for (const char* line : {"Set Channel to 1", " save cfg", "Interface Serial : COM3 has RF addr 01020304 on channel 1"})
        EXPECT_EQ(logged(line), 1u) << line;
}

// The transport queues on its sixth tick and every sixteenth after: markers
// pushed just before show where. A wanted group without a channel still asks
// for the save.
TEST_F(workerTest, TicksQueueOnTheSixthAndEverySixteenthAndAWantedGroupIsSaved) {
    GatewayStandin& gw = gateway();
    debugLevel = 2;
    start(HlavniCem::tickSource::manual);
    ASSERT_EQ(worker->addSerialPort("COM3", -1), 1);
    {
        workerLock held(*worker);
        worker->interfaces().front()->withState([&](interfaceState& s) { s.wantedGroup = 5; });
    }
    ASSERT_TRUE(gw.waitHeld());
    for (int call = 1; call <= 5; ++call) transport().OnTick();
    push(hex("61 01"));
    transport().OnTick();  // 6th
    ASSERT_TRUE(eventually([&] { return states.count() == 1; }));
    for (int call = 7; call <= 21; ++call) transport().OnTick();
    push(hex("61 02"));
    transport().OnTick();  // 22nd
    ASSERT_TRUE(gw.waitFrames(4));
    const std::vector<standin::Frame> frames = gw.frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].message, hex("61 01"));
    EXPECT_EQ(frames[1].raw, queryFrame);
    EXPECT_EQ(frames[2].message, hex("61 02"));
    EXPECT_EQ(frames[3].message, hex("3F 21 03 C0 72 01 21 05 0F 21 02"));
    EXPECT_EQ(gw.settings().group, 5u);
    EXPECT_EQ(logged("Set Group to 5"), 1u);
    EXPECT_EQ(logged("Set Channel to 1"), 0u);
}

// --- Received packets ----------------------------------------------------------

TEST_F(workerTest, SensorPacketIsAcknowledgedDeliveredAndFilteredOnce) {
    debugLevel = 1;
    GatewayStandin& gw = link();
    sync(gw);
    const std::size_t mark = log.lines().size();
    const bytes garbage = hex("00 11 C0 C0 DB 05 C0 12 34 56 C0 DB DB C0 3F 21 01 00 C0");
    ASSERT_TRUE(gw.sendRaw(garbage + sensorFrame + garbage));
    sync(gw);
    // The acknowledgement is queued before the delivery and written by a
    // later pass of the transport.
    ASSERT_TRUE(eventually([&] { return !sent(gw).empty(); }));
    EXPECT_EQ(sent(gw), std::vector<bytes>{sensorAckFrame});
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 0, 0, 1234, 0}, {"0xa0b0c0d", 1, 0, 21.5, 0}}));
    EXPECT_EQ(linesSince(mark).size(), 3u);

    // Again: acknowledged again, nothing new.
    ASSERT_TRUE(gw.sendRaw(sensorFrame));
    sync(gw);
    ASSERT_TRUE(eventually([&] { return sent(gw).size() == 2; }));
    EXPECT_EQ(sent(gw)[1], sensorAckFrame);
    EXPECT_EQ(readings.count(), 2u);
    EXPECT_EQ(linesSince(mark).size(), 3u);

    // The garbage stopped no tick: queries go on.
    const std::size_t frames = gw.frames().size();
    ASSERT_TRUE(gw.waitFrames(frames + 1));
    EXPECT_EQ(gw.frames().back().raw, queryFrame);

    // An RSSI counts only before its packet.
    ASSERT_TRUE(gw.sendRfPacket(hex("01 02 03 04 0A 0B 0C 0D 22 00 06 C0 64 00 21 07"), -70));
    ASSERT_TRUE(gw.sendRfPacket(hex("01 02 03 04 0A 0B 0C 0D 22 00 07 C0 64 00 21 08"), -70, true));
    sync(gw);
    EXPECT_EQ(readings.all().back(), (reading{"0xa0b0c0d", 0, 0, 8, 0}));
    EXPECT_EQ(readings.all()[2], (reading{"0xa0b0c0d", 0, -70, 7, 0}));
}

TEST_F(workerTest, EachKindIsHandledByItsRule) {
    debugLevel = 2;
    GatewayStandin& gw = link();
    sync(gw);
    std::size_t mark = log.lines().size();
    // Alarm with a reading: acknowledged, one reading.
    ASSERT_TRUE(gw.sendRfPacket(hex("01 02 03 04 0A 0B 0C 0D 25 00 10 3F 21 05 C0 64 00 21 07")));
    sync(gw);
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 0, 0, 7, 0}}));
    EXPECT_EQ(linesSince(mark).size(), 2u);
    // A record packet's alarm: acknowledged, logged at level 2.
    mark = log.lines().size();
    ASSERT_TRUE(gw.sendRfPacket(hex("01 02 03 04 0A 0B 0C 0D 23 00 11 3F 21 05 C0 64 01 21 4D")));
    sync(gw);
    EXPECT_EQ(readings.count(), 1u);
    EXPECT_EQ(linesSince(mark), (std::vector<std::string>{"  pck type 5", " ----- Alarm --------",
                                                          "  OID 63, index -1 ,hodnota 5", "  OID 100, index 1 ,hodnota 77",
                                                          "  OID 63, index -1 ,hodnota 5",
                                                          "  OID 100, index 1 ,hodnota 77"}));
    debugLevel = 1;
    mark = log.lines().size();
    // A greeting: its line, no acknowledgement.
    ASSERT_TRUE(gw.sendRfPacket(hex("01 02 03 04 0A 0B 0C 0D 08 00 12")));
    // Not to be decoded: acknowledged, no reading.
    ASSERT_TRUE(gw.sendRfPacket(hex("01 02 03 04 0A 0B 0C 0D 22 80 13 3F 21 01 C0 64 00 21 07")));
    sync(gw);
    EXPECT_EQ(linesSince(mark), std::vector<std::string>{"Receive HALLO from 0x0a0b0c0d over 0x01020304"});
    EXPECT_EQ(readings.count(), 1u);
    ASSERT_TRUE(eventually([&] { return radioed(gw).size() >= 3; }));
    EXPECT_EQ(radioed(gw), (std::vector<bytes>{hex("0A 0B 0C 0D 01 02 03 04 25 00 90"),
                                               hex("0A 0B 0C 0D 01 02 03 04 23 00 91"),
                                               hex("0A 0B 0C 0D 01 02 03 04 22 80 93")}));
}

TEST_F(workerTest, SecondRssiOidAndRawDataBlocks) {
    start(HlavniCem::tickSource::manual);
    ASSERT_EQ(worker->addSerialPort("COM9", -1), 1);  // no line: messages are handed in directly
    const bytes sensor = hex("01 02 03 04 0A 0B 0C 0D 22 00 05 C0 64 00 21 07");
    push(standin::signedRecord(216, -1, -61) + standin::octetsRecord(119, 1, sensor), true);
    // Raw data blocks (length = first byte + 1, after OID 63 = 6) go to the
    // hand-over, which drops them; so do those that break the rule.
    push(standin::unsignedRecord(63, -1, 6) + standin::octetsRecord(215, -1, hex("02 AA BB")) +
             standin::octetsRecord(215, -1, hex("05 AA")) + standin::octetsRecord(215, -1, {}), true);
    push(standin::octetsRecord(215, -1, hex("01 AA")), true);
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 0, -61, 7, 0}}));
}

TEST_F(workerTest, PacketIsReadWithoutWritingIntoTheMessage) {
    GatewayStandin& gw = link();
    // A long message leaves the pool's buffers full of 5A.
    ASSERT_TRUE(gw.sendMessage(standin::octetsRecord(50, -1, bytes(1000, 0x5A))));
    ASSERT_TRUE(gw.sendRfPacket(hex("01 02 03 04 0A 0B 0C 0D 22 00 20 C0 64 00 21 09")));
    sync(gw);
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 0, 0, 9, 0}}));

    // Where a packet record's RSSI and payload length would lie in memory,
    // further records of the message follow; all of them count.
    gw.setSilent(true);
    bytes message = standin::octetsRecord(119, 1, hex("01 02 03 04 0A 0B 0C 0D 22 00 21 C0 64 00 21 0A"));
    for (int i = 0; i < 120; ++i) message = message + hex("32 21 01");
    message = message + standin::unsignedRecord(110, 1, 3);
    ASSERT_TRUE(gw.sendMessage(message));
    sync(gw);
    EXPECT_EQ(readings.count(), 2u);
    EXPECT_EQ(transport().Reported().channel, 3);
    EXPECT_EQ(logged("Interface Serial : COM3 has RF addr 01020304 on channel 3"), 1u);
}

// A packet record shorter than its header is skipped, even after a send
// command; bad settings are skipped; a malformed record ends the message.
TEST_F(workerTest, ShortPacketsAndBadSettingsAreSkipped) {
    GatewayStandin& gw = link();
    const bytes shortPacket = hex("01 02 03 04 0E 0E 0E 0E 08 00");
    ASSERT_TRUE(gw.sendMessage(standin::unsignedRecord(63, -1, 6) + standin::octetsRecord(119, 1, shortPacket)));
    ASSERT_TRUE(gw.sendMessage(standin::octetsRecord(119, 1, hex("01 02 03 04 0E 0E 0E 0E 22 00"))));
    sync(gw);
    for (const std::string& l : log.lines()) EXPECT_EQ(l.find("0x0e0e0e0e"), std::string::npos) << l;
    EXPECT_TRUE(radioed(gw).empty());

    gw.setSilent(true);
    const bytes message = standin::octetsRecord(110, 1, hex("03")) +       // channel of the wrong type
                          standin::octetsRecord(118, 1, hex("05 06 07")) +  // address not of 4 octets
                          standin::unsignedRecord(77, 1, 1) +               // unknown
                          standin::unsignedRecord(114, 1, 7) +              // taken
                          hex("C0 6E 01 2F") +                              // says 15 value bytes follow
                          standin::unsignedRecord(110, 1, 3);               // inside it
    ASSERT_TRUE(gw.sendMessage(message));
    sync(gw);
    const gatewayReport r = transport().Reported();
    EXPECT_EQ(r.rfAddress, 0x01020304u);
    EXPECT_EQ(r.channel, 2);
    EXPECT_EQ(r.group, 7);
    EXPECT_EQ(states.count(), 1u);
}

// Every sensor OID with its scale and line, whatever the process locale's
// decimal point; records without a number and beyond the block are skipped.
TEST_F(workerTest, SensorRecordsThroughTheDispatch) {
    debugLevel = 1;
    start(HlavniCem::tickSource::manual);
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "cs_CZ.UTF-8"), nullptr);
    deliver("25", hex("C0 69 00 31 CB"           // OID 105 index 0 = -53
                      "C0 6A 00 22 0C E4"        // OID 106 index 0 = 3300
                      "C0 5A 00 22 01 C8"        // OID 90 index 0 = 456
                      "C0 64 00 24 FF FF FF FF"  // OID 100 = 4294967295
                      "C0 64 01 31 FF"           // OID 100 index 1 = -1, signed
                      "80 64 21 07"),            // OID 100, no index, = 7
            -60);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 1, -60, -53 * 0.1, 0},
                                                    {"0xa0b0c0d", 2, -60, 3300 * 0.001, 0},
                                                    {"0xa0b0c0d", 3, -60, 456 * 0.1, 0},
                                                    {"0xa0b0c0d", 0, -60, 4294967295.0, 0},
                                                    {"0xa0b0c0d", 0, -60, 4294967295.0, 1},
                                                    {"0xa0b0c0d", 0, -60, 7.0, -1}}));
    EXPECT_EQ(linesSince(), (std::vector<std::string>{
                                "  -- Odecty z Addr 0xa0b0c0d, id 0, rssi -60 -- Pocez zaznamu 6, Max. 128",
                                "Addr 0xa0b0c0d , Index 0 ,teplota -5.30 °C", "Addr 0xa0b0c0d , Index 0 ,napeti 3.300 V",
                                "Addr 0xa0b0c0d , Index 0 ,vlhkost 45.6 %", "Addr 0xa0b0c0d , Index 0 ,hodnota 4294967295",
                                "Addr 0xa0b0c0d , Index 1 ,hodnota 4294967295", "Addr 0xa0b0c0d , Index -1 ,hodnota 7"}));

    // An octet record under OID 100 has no number: skipped, not taken as 0.
    readings.clear();
    deliver("22", hex("C0 64 00 11 07 C0 69 00 21 D7"));
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 1, 0, 21.5, 0}}));
    // A block holds at most 128 readings.
    bytes payload;
    for (int i = 0; i < 200; ++i) payload = payload + hex("C0 64 00 21 01");
    const std::size_t mark = log.count();
    deliver("22", payload);
    EXPECT_EQ(readings.count(), 129u);
    EXPECT_EQ(linesSince(mark).front(),
              "  -- Odecty z Addr 0xa0b0c0d, id 0, rssi 0 -- Pocez zaznamu 128, Max. 128");
}

// --- Read requests ---------------------------------------------------------------

// A read request as the application builds it (its frame on the line:
// ReadingEndToEnd).
packetHandle readRequest(std::uint32_t gateway, std::uint32_t module, std::uint8_t sequence) {
    packetHandle box = takePacket();
    buildRecordPacket(box.get(), 6, gateway, module, rfKindReadRequest, 0, sequence);
    rfPacket packet = packetRfData(box.get());
    const std::uint8_t request = 2;
    box->length = rfHeaderSize + rfPacketSetPayload(packet, 1, &request);
    return box;
}

TEST_F(workerTest, CallersGiveUpWhenTheWorkerMutexIsHeld) {
    GatewayStandin& gw = link();
    serialObject* const t = &transport();
    std::promise<void> taken;
    std::promise<void> release;
    std::thread holder([&] {
        ASSERT_TRUE(worker->lock());
        taken.set_value();
        release.get_future().wait();
        worker->unlock();
    });
    taken.get_future().wait();
    auto added = std::async(std::launch::async, [&] { return worker->addSerialPort("COM4", -1); });
    auto checked = std::async(std::launch::async, [&] {
        return worker->checkParams(t, 0x01020304, 3, 0, 0);
    });
    auto informed = std::async(std::launch::async, [&] { worker->setInfo(t, 0x05060708, 1, 0, 0); });
    worker->sendMsg(0x01020304, 3000, readRequest(0x01020304, 0, 0));
    EXPECT_TRUE(eventually([] { return msgBoxPoolMade() == msgBoxPoolFreeCount(); })) << "the buffer is back";
    EXPECT_EQ(added.get(), 0);
    EXPECT_FALSE(checked.get().has_value());
    informed.get();
    release.set_value();
    holder.join();

    // The held mutex let nothing through.
    sync(gw);
    EXPECT_TRUE(radioed(gw).empty());
    EXPECT_EQ(worker->interfaces().size(), 1u);
    EXPECT_EQ(states.count(), 1u) << "the other address was never taken";
    worker->sendMsg(0x01020304, 3000, readRequest(0x01020304, 0, 0));
    ASSERT_TRUE(eventually([&] { return radioed(gw).size() == 1; }));
}

// --- Stop under traffic ----------------------------------------------------------

// Sensor packets that all differ, each with a greeting behind it.
bytes trafficMessage(std::uint64_t n) {
    const auto seq = static_cast<std::uint8_t>(n & 0x7F);
    const bytes sensor = hex("01 02 03 04 0A 0B 0C 0D 22 00") + bytes{seq} +
                         standin::unsignedRecord(100, 0, static_cast<std::uint32_t>(n)) +
                         standin::signedRecord(105, 0, -53);
    const bytes hallo = hex("01 02 03 04 0A 0B 0C 0D 08 00") + bytes{seq};
    return standin::octetsRecord(119, 1, sensor) + standin::octetsRecord(119, 1, hallo);
}

TEST_F(workerTest, StopsCleanlyUnderTrafficTwentyTimes) {
    GatewayStandin& gw = gateway();
    std::uint64_t base = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const long threads = threadCount();
        debugLevel = 3;
        start();
        ASSERT_EQ(worker->addSerialPort("COM3", -1), 1);
        EXPECT_EQ(linkThreadsRunning(), 2) << "the worker's and the transport's";
        ASSERT_TRUE(eventually([&] { return states.count() >= 1; }));
        gw.startFlood([base](std::uint64_t n) { return trafficMessage(base + n); });
        ASSERT_TRUE(eventually([&] { return readings.count() >= 10; }));
        destroyUnlessItHangs(worker);
        EXPECT_FALSE(gw.isHeld());
        gw.stopFlood();
        base += gw.floodedFrames() + 1000;
        ASSERT_FALSE(states.all().empty());
        EXPECT_FALSE(states.all().back().online);
        // Joined, every one: none outlives the worker.
        EXPECT_EQ(linkThreadsRunning(), 0);
        EXPECT_TRUE(eventually([&] { return threadCount() <= threads; })) << threadCount() << " threads";
        EXPECT_EQ(msgBoxPoolMade(), msgBoxPoolFreeCount());
        states.clear();
        readings.clear();
        log.clear();
    }
}

}  // namespace
