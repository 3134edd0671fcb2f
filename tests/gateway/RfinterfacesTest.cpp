#include "gateway/Rfinterfaces.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "GatewayTestSupport.h"

namespace {

using notified = testWorker::notified;

using Interfaces = busPollingTest;

struct framed {
    int result;
    int length;
    bytes frame;
};

// Feeds bytes straight into the framer, as the transport thread does.
std::vector<framed> frameAll(rfInterfaces& itf, const bytes& in) {
    std::vector<framed> out;
    for (std::uint8_t b : in) {
        frameDelivery d;
        if (itf.frameByte(b, d))
            out.push_back({d.reply.result, d.reply.length, bytes(d.frame.begin(), d.frame.begin() + d.reply.length)});
    }
    return out;
}

const bytes longFrame = hex("68 1B 1B 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 04 13 15 CD 5B 07 0C 13 89 67 "
                            "45 23 DE 16");

bytes opticalBlock(std::uint8_t check) {
    bytes b{0x02};
    for (char c : std::string("1.8.0(0012345.678*kWh)\r\n!\r\n")) b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(0x03);
    b.push_back(check);
    return b;
}

}  // namespace

TEST_F(Interfaces, StoreInfoReportsChangesAndReloadsTheKeepAlive) {
    rfInterfaces itf(worker.get(), interfaceKind::serial, "Serial : COM3");
    EXPECT_EQ(itf.storeInfo(0x01020304, 2), 1);
    EXPECT_EQ(itf.storeInfo(0x01020304, 2), 0);
    itf.withState([&](interfaceState& s) { s.keepAlive = 3; });
    EXPECT_EQ(itf.storeInfo(0, -1), 0);
    EXPECT_EQ(itf.snapshot().keepAlive, 100);
    EXPECT_EQ(itf.storeInfo(0x05060708, -1), 1);
    EXPECT_EQ(itf.rfAddress(), 0x05060708u);
    EXPECT_EQ(itf.snapshot().channel, 2);
    EXPECT_EQ(itf.storeInfo(0, 3), 1);
    EXPECT_EQ(itf.rfAddress(), 0x05060708u);
    EXPECT_EQ(itf.snapshot().channel, 3);
    itf.withState([&](interfaceState& s) { s.rfAddress = 0; });  // not linked: no loss to report on destruction
}

TEST_F(Interfaces, SilentGatewayIsLostOnThe101stPoll) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    polls(itf, 60);
    itf->storeInfo(0x01020304, 2);  // unchanged, but it reloads
    polls(itf, 100);
    EXPECT_TRUE(worker->notifies.all().empty());
    EXPECT_EQ(itf->rfAddress(), 0x01020304u);
    polls(itf, 1);
    EXPECT_EQ(worker->notifies.all(), (std::vector<notified>{{"Serial : COM3", 0, 0}}));
    EXPECT_EQ(itf->rfAddress(), 0u);
    polls(itf, 300);
    EXPECT_EQ(worker->notifies.count(), 1u);
}

TEST_F(Interfaces, BytesDuringTheStartDelayAreDropped) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    worker->addBusObject(makeBus(5));
    itf->attachBusObject(worker->busObjects().front());
    itf->withState([&](interfaceState& s) { s.startDelay = 10; });
    polls(itf, 9);
    const bytes ack = hex("E5");
    itf->feedBytes(0, 0x0A0B0C0D, 0x01020304, 1, ack.data());
    EXPECT_EQ(itf->snapshot().startDelay, 200);
    EXPECT_TRUE(worker->decodes.all().empty());
    polls(itf, 200);
    itf->feedBytes(0, 0x0A0B0C0D, 0x01020304, 1, ack.data());
    ASSERT_EQ(worker->decodes.count(), 1u);
    EXPECT_EQ(worker->decodes.all()[0].result, 1);
}

TEST_F(Interfaces, FramersFromLiteralBytes) {
    bytes changed = longFrame, badEnd = longFrame, highBlock = opticalBlock(0x42);
    changed[20] ^= 0x01;
    badEnd.back() = 0x17;
    for (std::uint8_t& b : highBlock) b |= 0x80;
    const bytes ident = hex("2F 41 42 43 35 58 59 5A 0D 0A");  // "/ABC5XYZ" CR LF
    const struct {
        const char* name;
        int mode;
        bytes in;
        int result;
        bytes frame;
    } cases[] = {
        {"short frame", busModeMBus, hex("10 5B 01 5C 16"), 2, hex("10 5B 01 5C 16")},
        {"short, wrong check", busModeMBus, hex("10 5B 01 5D 16"), -2, {}},
        {"short, wrong end", busModeMBus, hex("10 5B 01 5C 17"), -2, {}},
        {"single character", busModeMBus, hex("E5"), 1, hex("E5")},
        {"stray bytes first", busModeMBus, hex("00 FF 16 5B 10 5B 01 5C 16"), 2, hex("10 5B 01 5C 16")},
        {"long frame", busModeMBus, longFrame, 3, longFrame},
        {"long, one byte changed", busModeMBus, changed, -3, {}},
        {"long, wrong end", busModeMBus, badEnd, -3, {}},
        {"unequal L", busModeMBus, hex("68 05 06 68"), -3, hex("68 05 06 68")},
        {"L not below 250", busModeMBus, hex("68 FA FA 68"), -3, {}},
        {"no second 68", busModeMBus, hex("68 03 03 67"), -3, {}},
        {"optical block", busModeOptical, opticalBlock(0x42), 2, {}},
        {"optical block, wrong check", busModeOptical, opticalBlock(0x43), -1, {}},
        {"optical block, bit 7 set", busModeOptical, highBlock, 2, {}},
        {"identification, stray 'A' first", busModeOptical, hex("41") + ident, 1, ident},
        {"identification, bit 7 set", busModeOptical, hex("AF C1 C2 C3 B5 D8 D9 DA 8D 8A"), 1, ident},
    };
    rfInterfaces itf(worker.get(), interfaceKind::serial, "Serial : COM3");
    for (const auto& c : cases) {
        itf.setMode(c.mode, 30);
        const auto got = frameAll(itf, c.in);
        ASSERT_EQ(got.size(), 1u) << c.name;
        EXPECT_EQ(got[0].result, c.result) << c.name;
        if (!c.frame.empty()) {
            EXPECT_EQ(got[0].frame, c.frame) << c.name;
        }
    }
    EXPECT_EQ(itf.snapshot().buffer[ident.size()], 0) << "each optical byte is stored followed by a zero";
}

TEST_F(Interfaces, FramersStayInsideTheirBuffer) {
    rfInterfaces itf(worker.get(), interfaceKind::serial, "Serial : COM3");
    itf.setMode(busModeOptical, 30);
    bytes endless{0x02};
    endless.insert(endless.end(), 6000, 'A');
    EXPECT_TRUE(frameAll(itf, endless).empty());
    EXPECT_EQ(itf.snapshot().length, 4094);
    auto end = frameAll(itf, hex("03 00"));
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].length, 4094);

    // Noise through both framers: every byte value in a fixed pseudo-random order.
    std::uint32_t seed = 12345;
    for (int mode : {busModeMBus, busModeOptical}) {
        itf.setMode(mode, 30);
        bytes noise(200000);
        for (std::uint8_t& b : noise) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(seed >> 16);
        }
        for (const framed& f : frameAll(itf, noise)) {
            EXPECT_LE(f.length, mode == busModeMBus ? 255 : 4094);
            EXPECT_NE(f.result, 0);
        }
        EXPECT_LT(itf.snapshot().length, 4095);
    }
}

TEST_F(Interfaces, OpticalRepliesReachTheDecoderAsZeroEndedText) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    auto bus = makeBus(7);
    bus->mode = busModeOptical;
    itf->attachBusObject(bus.get());
    worker->addBusObject(std::move(bus));
    itf->withState([&](interfaceState& s) { s.startDelay = 0; });
    itf->setMode(busModeOptical, 30);
    // The line parser reads printable characters up to the first other
    // one, so a block cut at the buffer's end must still end in a zero.
    bytes cut{0x02};
    cut.insert(cut.end(), 5000, 'A');
    cut.push_back(0x03);
    cut.push_back(0x42);
    for (const bytes& in : {hex("2F 41 42 43 35 58 59 5A 0D 0A"), cut})
        itf->feedBytes(0, 0x0A0B0C0D, 0x01020304, static_cast<int>(in.size()), in.data());
    const auto d = worker->decodes.all();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].result, 1);
    EXPECT_EQ(d[0].frame, hex("2F 41 42 43 35 58 59 5A 0D 0A"));
    EXPECT_EQ(d[0].after, 0);
    EXPECT_EQ(d[1].length, 4094);
    EXPECT_EQ(d[1].after, 0);
}

TEST_F(Interfaces, PollCycleSendsRequestsTakesRepliesAndTimesOut) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    rfInterfaces* other = worker->addGateway(0x05060708, "COM4");
    worker->request = hex("10 7B 05 80 16");
    worker->addBusObject(makeBus(5, 30));
    BusObject* bus = worker->busObjects().front();
    worker->addToQueue(1, bus, true);
    worker->tickQueue();
    ASSERT_EQ(itf->findInPollList(bus), 1);
    EXPECT_EQ(itf->snapshot().startDelay, 50);
    auto& sends = testWorker::sendsOf(itf);
    polls(itf, 50);
    EXPECT_TRUE(sends.all().empty()) << "a new head waits 50 polls";
    polls(itf, 1);
    ASSERT_EQ(sends.count(), 1u);
    EXPECT_EQ(sends.all()[0].parameter, 0);
    EXPECT_EQ(sends.all()[0].packet, hex("0A 0B 0C 0D 01 02 03 04 20 69 01 10 7B 05 80 16"));
    EXPECT_EQ(itf->snapshot().replyTimer, 30);

    // The reply comes as a transparent packet addressed to the gateway.
    bytes wire = hex("01 02 03 04 0A 0B 0C 0D 20 00 07") + longFrame;
    worker->deliverRadioFrame(0x01020304, inPlace(wire, -61));
    ASSERT_EQ(worker->decodes.count(), 1u);
    const auto reply = worker->decodes.all()[0];
    EXPECT_EQ(reply.result, 3);
    EXPECT_EQ(reply.frame, longFrame);
    EXPECT_EQ(reply.rssi, -61);
    EXPECT_EQ(reply.source, 0x0A0B0C0Du);
    EXPECT_EQ(itf->snapshot().replyTimer, 0);
    // The start of a frame to an address no gateway has reaches no framer.
    bytes partial = hex("01 02 03 05 0A 0B 0C 0D 20 00 08 10 5B 01");
    worker->deliverRadioFrame(0x01020304, inPlace(partial));
    EXPECT_EQ(itf->snapshot().length + other->snapshot().length, 0);

    // The next request goes out at once; without a reply it times out.
    polls(itf, 1);
    ASSERT_EQ(sends.count(), 2u);
    EXPECT_EQ(sends.all()[1].packet[10], 2) << "the sequence goes on";
    polls(itf, 29);
    EXPECT_EQ(worker->decodes.count(), 1u);
    polls(itf, 1);
    ASSERT_EQ(worker->decodes.count(), 2u);
    EXPECT_EQ(worker->decodes.all()[1].result, 0);
    EXPECT_EQ(worker->decodes.all()[1].length, -1);
    EXPECT_EQ(worker->decodes.all()[1].busId, 5);

    // An empty request counts as a time-out at once.
    worker->request.clear();
    polls(itf, 1);
    ASSERT_EQ(worker->decodes.count(), 3u);
    EXPECT_EQ(worker->decodes.all()[2].length, -1);
    EXPECT_EQ(sends.count(), 2u);

    itf->takeTransport();  // an interface without a transport is not fed
    partial[3] = 0x04;
    worker->deliverRadioFrame(0x01020304, inPlace(partial));
    EXPECT_EQ(itf->snapshot().length, 0);
}

TEST_F(Interfaces, IdleInterfaceReloadsTwenty) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    polls(itf, 1);
    EXPECT_EQ(itf->snapshot().replyReload, 20);
    const bytes e5 = hex("E5");
    itf->feedBytes(0, 0, 0x01020304, 1, e5.data());
    EXPECT_EQ(itf->snapshot().replyTimer, 0) << "a finished frame clears the timer";
    EXPECT_TRUE(worker->decodes.all().empty()) << "no bus object to hand it to";
}

TEST_F(Interfaces, PollListOperations) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    for (int id : {1, 2, 3, 4}) worker->addBusObject(makeBus(id, 10 * id));
    BusObject* b[5] = {};
    for (BusObject* o : worker->busObjects()) b[o->id] = o;
    b[1]->step = 7;
    b[1]->retries = 1;
    EXPECT_EQ(itf->attachBusObject(b[1]), 1);
    EXPECT_EQ(b[1]->step, 0);
    EXPECT_EQ(b[1]->retries, 0);
    EXPECT_EQ(itf->snapshot().replyReload, 10);
    EXPECT_EQ(itf->snapshot().replyTimer, 0);
    EXPECT_EQ(itf->snapshot().startDelay, 50);
    EXPECT_EQ(itf->attachBusObject(b[2]), 2);
    EXPECT_EQ(itf->attachBusObject(b[3]), 2);  // right after the head
    EXPECT_EQ(itf->appendToPollList(b[4]), 2);
    EXPECT_EQ(itf->attachBusObject(b[2]), -1);
    EXPECT_EQ(itf->appendToPollList(b[1]), -1);
    std::vector<int> order;
    for (BusObject* o = itf->snapshot().pollList; o; o = o->pollNext) order.push_back(o->id);
    EXPECT_EQ(order, (std::vector<int>{1, 3, 2, 4}));
    EXPECT_EQ(itf->findInPollList(b[1]), 1);
    EXPECT_EQ(itf->findInPollList(b[4]), 2);

    itf->withState([&](interfaceState& s) { s.startDelay = 0; });
    EXPECT_EQ(itf->removeFromPollList(b[2]), 1);
    EXPECT_EQ(itf->snapshot().startDelay, 0) << "only a new head changes the settings";
    EXPECT_EQ(itf->removeFromPollList(b[1]), 1);
    EXPECT_EQ(itf->snapshot().pollList, b[3]);
    EXPECT_EQ(itf->snapshot().replyReload, 30);
    EXPECT_EQ(itf->snapshot().replyTimer, 50);
    EXPECT_EQ(itf->snapshot().startDelay, 50);
    EXPECT_EQ(itf->removeFromPollList(b[1]), 0);
    EXPECT_EQ(itf->findInPollList(b[1]), 0);
    EXPECT_EQ(itf->removeFromPollList(b[3]), 1);
    EXPECT_EQ(itf->removeFromPollList(b[4]), 1);
    EXPECT_EQ(itf->snapshot().pollList, nullptr);
}

TEST_F(Interfaces, DestroyedLinkedInterfaceTimesOutItsBusAndReportsTheLoss) {
    auto itf = std::make_unique<rfInterfaces>(worker.get(), interfaceKind::serial, "Serial : COM3");
    itf->storeInfo(0x01020304, 2);
    worker->addBusObject(makeBus(5));
    worker->addBusObject(makeBus(6));
    BusObject* six = worker->busObjects()[0];
    itf->attachBusObject(six);
    itf->attachBusObject(worker->busObjects()[1]);
    itf.reset();
    const auto d = worker->decodes.all();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].busId, 6);
    EXPECT_EQ(d[1].busId, 5);
    for (const auto& one : d) {
        EXPECT_EQ(one.result, 0);
        EXPECT_EQ(one.length, -1);
    }
    EXPECT_EQ(six->pollNext, nullptr);
    EXPECT_EQ(worker->notifies.all(), (std::vector<notified>{{"Serial : COM3", 0, 0}}));
}

TEST_F(Interfaces, FeedingWhilePollingKeepsEveryFrameWhole) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    worker->request = hex("10 7B 05 80 16");
    worker->addBusObject(makeBus(5, 30000));  // no time-out falls inside a frame
    itf->attachBusObject(worker->busObjects().front());
    polls(itf, 51);
    constexpr int frames = 20000;
    std::atomic<bool> done{false};
    std::thread poller([&] {
        while (!done) {
            polls(itf, 1);
            std::this_thread::yield();
        }
    });
    const bytes reply = hex("10 08 05 0D 16");
    for (int i = 0; i < frames; ++i) itf->feedBytes(0, 0x0A0B0C0D, 0x01020304, 5, reply.data());
    done = true;
    poller.join();
    const auto d = worker->decodes.all();
    ASSERT_EQ(d.size(), static_cast<std::size_t>(frames));
    for (const auto& one : d) {
        ASSERT_EQ(one.result, 2);
        ASSERT_EQ(one.frame, reply);
    }
}

TEST_F(Interfaces, ParamsDifferComparesOnlyTheWantedSettingsThatAreGiven) {
    const struct {
        const char* name;
        int wantedChannel, wantedGroup, wantedPromiscuous;
        std::uint32_t address;
        int channel, group, promiscuous;
        int differ;
    } cases[] = {
        {"nothing wanted", -1, -1, -1, 0x01020304, 2, 0, 0, 0},
        {"another address", -1, -1, -1, 0x05060708, 2, 0, 0, 1},
        {"channel 1 and save, on 2", 9, -1, -1, 0x01020304, 2, 0, 0, 1},
        {"channel 1 and save, on 1", 9, -1, -1, 0x01020304, 1, 0, 0, 0},
        {"channel not reported", 9, -1, -1, 0x01020304, -1, 0, 0, 0},
        {"another group", 9, 5, -1, 0x01020304, 1, 4, 0, 1},
        {"the wanted group", 9, 5, -1, 0x01020304, 1, 5, 0, 0},
        {"another mode", 9, 5, 1, 0x01020304, 1, 5, 0, 1},
        {"all as wanted", 9, 5, 1, 0x01020304, 1, 5, 1, 0},
    };
    rfInterfaces itf(worker.get(), interfaceKind::serial, "Serial : COM3");
    EXPECT_EQ(itf.paramsDiffer(0x01020304, 2, 0, 0), 0) << "not linked";
    itf.withState([&](interfaceState& s) { s.rfAddress = 0x01020304; });
    for (const auto& c : cases) {
        itf.withState([&](interfaceState& s) { s.wantedChannel = c.wantedChannel; });
        itf.withState([&](interfaceState& s) { s.wantedGroup = c.wantedGroup; });
        itf.withState([&](interfaceState& s) { s.wantedPromiscuous = c.wantedPromiscuous; });
        EXPECT_EQ(itf.paramsDiffer(c.address, c.channel, c.group, c.promiscuous), c.differ) << c.name;
    }
    itf.withState([&](interfaceState& s) { s.rfAddress = 0; });  // not linked: no loss to report on destruction
}
