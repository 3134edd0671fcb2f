#include "gateway/Rfinterfaces.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "GatewayTestSupport.h"

namespace {

using notified = testWorker::notified;

class Interfaces : public gatewayTest {
protected:
    void TearDown() override {
        worker.reset();
        gatewayTest::TearDown();
    }
    void polls(rfInterfaces* itf, int n) {
        workerLock held(*worker);
        for (int i = 0; i < n; ++i) pollInterface(*itf);
    }

    recordingLog log;
    std::unique_ptr<testWorker> worker = std::make_unique<testWorker>(log.sink());
};

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
        std::lock_guard lock(itf.mutex);
        if (frameByte(itf, b, d)) out.push_back({d.reply.result, d.reply.length, d.frame});
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
    rfInterfaces itf(worker.get(), rfKindSerial, "Serial : COM3");
    EXPECT_EQ(itf.storeInfo(0x01020304, 2), 1);
    EXPECT_EQ(itf.storeInfo(0x01020304, 2), 0);
    itf.keepAlive = 3;
    EXPECT_EQ(itf.storeInfo(0, -1), 0);
    EXPECT_EQ(itf.keepAlive, 100);
    EXPECT_EQ(itf.storeInfo(0x05060708, -1), 1);
    EXPECT_EQ(itf.rfAddress, 0x05060708u);
    EXPECT_EQ(itf.channel, 2);
    EXPECT_EQ(itf.storeInfo(0, 3), 1);
    EXPECT_EQ(itf.rfAddress, 0x05060708u);
    EXPECT_EQ(itf.channel, 3);
    itf.rfAddress = 0;  // not linked: no loss to report on destruction
}

TEST_F(Interfaces, SilentGatewayIsLostOnThe101stPoll) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    polls(itf, 60);
    itf->storeInfo(0x01020304, 2);  // unchanged, but it reloads
    polls(itf, 100);
    EXPECT_TRUE(worker->notifies().empty());
    EXPECT_EQ(itf->rfAddress, 0x01020304u);
    polls(itf, 1);
    EXPECT_EQ(worker->notifies(), (std::vector<notified>{{"Serial : COM3", 0, 0}}));
    EXPECT_EQ(itf->rfAddress, 0u);
    polls(itf, 300);
    EXPECT_EQ(worker->notifies().size(), 1u);
}

TEST_F(Interfaces, BytesDuringTheStartDelayAreDropped) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    worker->addBusObject(makeBus(5));
    itf->attachBusObject(worker->busObjectList());
    itf->startDelay = 10;
    polls(itf, 9);
    const bytes ack = hex("E5");
    itf->feedBytes(0, 0x0A0B0C0D, 0x01020304, 1, ack.data());
    EXPECT_EQ(itf->startDelay, 200);
    EXPECT_TRUE(worker->decodes().empty());
    polls(itf, 200);
    itf->feedBytes(0, 0x0A0B0C0D, 0x01020304, 1, ack.data());
    ASSERT_EQ(worker->decodes().size(), 1u);
    EXPECT_EQ(worker->decodes()[0].result, 1);
}

TEST_F(Interfaces, MBusFramer) {
    rfInterfaces itf(worker.get(), rfKindSerial, "Serial : COM3");
    auto results = [&](const char* in) { return frameAll(itf, hex(in)); };
    auto one = [&](const bytes& in) {
        auto r = frameAll(itf, in);
        return r.size() == 1 ? r[0].result : 99;
    };
    EXPECT_EQ(one(hex("10 5B 01 5C 16")), 2);
    EXPECT_EQ(one(hex("10 5B 01 5D 16")), -2);
    EXPECT_EQ(one(hex("10 5B 01 5C 17")), -2);
    EXPECT_EQ(one(hex("E5")), 1);
    EXPECT_EQ(one(hex("00 FF 16 5B 10 5B 01 5C 16")), 2) << "stray bytes before a frame";
    EXPECT_EQ(one(longFrame), 3);
    bytes changed = longFrame;
    changed[20] ^= 0x01;
    EXPECT_EQ(one(changed), -3);
    changed = longFrame;
    changed.back() = 0x17;
    EXPECT_EQ(one(changed), -3);

    auto header = results("68 05 06 68");
    ASSERT_EQ(header.size(), 1u);
    EXPECT_EQ(header[0].result, -3);
    EXPECT_EQ(header[0].frame, hex("68 05 06 68"));
    EXPECT_EQ(results("68 FA FA 68")[0].result, -3) << "L must be below 250";
    EXPECT_EQ(results("68 03 03 67")[0].result, -3);

    auto whole = frameAll(itf, longFrame);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].length, 33);
    EXPECT_EQ(whole[0].frame, longFrame);
    auto e5 = results("E5");
    EXPECT_EQ(e5[0].length, 1);
}

TEST_F(Interfaces, OpticalFramer) {
    rfInterfaces itf(worker.get(), rfKindSerial, "Serial : COM3");
    itf.setMode(busModeOptical, 30);
    auto one = [&](const bytes& in) {
        auto r = frameAll(itf, in);
        return r.size() == 1 ? r[0].result : 99;
    };
    EXPECT_EQ(one(opticalBlock(0x42)), 2);
    EXPECT_EQ(one(opticalBlock(0x43)), -1);
    auto line = frameAll(itf, hex("41 2F 41 42 43 35 58 59 5A 0D 0A"));  // a stray 'A' first
    ASSERT_EQ(line.size(), 1u);
    EXPECT_EQ(line[0].result, 1);
    EXPECT_EQ(line[0].frame, hex("2F 41 42 43 35 58 59 5A 0D 0A"));
    EXPECT_EQ(itf.buffer[line[0].length], 0) << "each stored byte is followed by a zero";
    auto high = frameAll(itf, hex("AF C1 C2 C3 B5 D8 D9 DA 8D 8A"));
    ASSERT_EQ(high.size(), 1u);
    EXPECT_EQ(high[0].frame, hex("2F 41 42 43 35 58 59 5A 0D 0A"));
    bytes block = opticalBlock(0x42);
    for (std::uint8_t& b : block) b |= 0x80;
    EXPECT_EQ(one(block), 2);
}

TEST_F(Interfaces, FramersStayInsideTheirBuffer) {
    rfInterfaces itf(worker.get(), rfKindSerial, "Serial : COM3");
    itf.setMode(busModeOptical, 30);
    bytes endless{0x02};
    endless.insert(endless.end(), 6000, 'A');
    EXPECT_TRUE(frameAll(itf, endless).empty());
    EXPECT_EQ(itf.length, 4094);
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
        EXPECT_LT(itf.length, 4095);
    }
}

TEST_F(Interfaces, PollCycleSendsRequestsAndTimesOut) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    worker->request = hex("10 7B 05 80 16");
    worker->addBusObject(makeBus(5, 30));
    BusObject* bus = worker->busObjectList();
    worker->addToQueue(1, bus, true);
    worker->tickQueue();
    ASSERT_EQ(itf->findInPollList(bus), 1);
    EXPECT_EQ(itf->startDelay, 50);
    auto& transport = testWorker::transportOf(itf);
    polls(itf, 50);
    EXPECT_TRUE(transport.sends().empty()) << "a new head waits 50 polls";
    polls(itf, 1);
    ASSERT_EQ(transport.sends().size(), 1u);
    EXPECT_EQ(transport.sends()[0].parameter, 0);
    EXPECT_EQ(transport.sends()[0].packet, hex("0A 0B 0C 0D 01 02 03 04 20 69 01 10 7B 05 80 16"));
    EXPECT_EQ(itf->replyTimer, 30);

    // The reply comes as a transparent packet.
    bytes wire = concat(hex("01 02 03 04 0A 0B 0C 0D 20 00 07"), longFrame);
    worker->deliverRadioFrame(0x01020304, rfPacketInPlace(wire.data(), static_cast<int>(wire.size())));
    ASSERT_EQ(worker->decodes().size(), 1u);
    EXPECT_EQ(worker->decodes()[0].result, 3);
    EXPECT_EQ(worker->decodes()[0].frame, longFrame);
    EXPECT_EQ(itf->replyTimer, 0);

    // The next request goes out at once; without a reply it times out.
    polls(itf, 1);
    ASSERT_EQ(transport.sends().size(), 2u);
    EXPECT_EQ(transport.sends()[1].packet[10], 2) << "the sequence goes on";
    polls(itf, 29);
    EXPECT_EQ(worker->decodes().size(), 1u);
    polls(itf, 1);
    ASSERT_EQ(worker->decodes().size(), 2u);
    EXPECT_EQ(worker->decodes()[1].result, 0);
    EXPECT_EQ(worker->decodes()[1].length, -1);
    EXPECT_EQ(worker->decodes()[1].busId, 5);

    // An empty request counts as a time-out at once.
    worker->request.clear();
    polls(itf, 1);
    ASSERT_EQ(worker->decodes().size(), 3u);
    EXPECT_EQ(worker->decodes()[2].length, -1);
    EXPECT_EQ(transport.sends().size(), 2u);
}

TEST_F(Interfaces, IdleInterfaceReloadsTwenty) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    polls(itf, 1);
    EXPECT_EQ(itf->replyReload, 20);
    const bytes e5 = hex("E5");
    itf->feedBytes(0, 0, 0x01020304, 1, e5.data());
    EXPECT_EQ(itf->replyTimer, 0) << "a finished frame clears the timer";
    EXPECT_TRUE(worker->decodes().empty()) << "no bus object to hand it to";
}

TEST_F(Interfaces, PollListOperations) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    for (int id : {1, 2, 3, 4}) worker->addBusObject(makeBus(id, 10 * id));
    BusObject* b[5] = {};
    for (BusObject* o = worker->busObjectList(); o; o = o->nextObject) b[o->id] = o;
    b[1]->step = 7;
    b[1]->retries = 1;
    EXPECT_EQ(itf->attachBusObject(b[1]), 1);
    EXPECT_EQ(b[1]->step, 0);
    EXPECT_EQ(b[1]->retries, 0);
    EXPECT_EQ(itf->replyReload, 10);
    EXPECT_EQ(itf->replyTimer, 0);
    EXPECT_EQ(itf->startDelay, 50);
    EXPECT_EQ(itf->attachBusObject(b[2]), 2);
    EXPECT_EQ(itf->attachBusObject(b[3]), 2);  // right after the head
    EXPECT_EQ(itf->appendToPollList(b[4]), 2);
    EXPECT_EQ(itf->attachBusObject(b[2]), -1);
    EXPECT_EQ(itf->appendToPollList(b[1]), -1);
    std::vector<int> order;
    for (BusObject* o = itf->pollList; o; o = o->pollNext) order.push_back(o->id);
    EXPECT_EQ(order, (std::vector<int>{1, 3, 2, 4}));
    EXPECT_EQ(itf->findInPollList(b[1]), 1);
    EXPECT_EQ(itf->findInPollList(b[4]), 2);

    itf->startDelay = 0;
    EXPECT_EQ(itf->removeFromPollList(b[2]), 1);
    EXPECT_EQ(itf->startDelay, 0) << "only a new head changes the settings";
    EXPECT_EQ(itf->removeFromPollList(b[1]), 1);
    EXPECT_EQ(itf->pollList, b[3]);
    EXPECT_EQ(itf->replyReload, 30);
    EXPECT_EQ(itf->replyTimer, 50);
    EXPECT_EQ(itf->startDelay, 50);
    EXPECT_EQ(itf->removeFromPollList(b[1]), 0);
    EXPECT_EQ(itf->findInPollList(b[1]), 0);
    EXPECT_EQ(itf->removeFromPollList(b[3]), 1);
    EXPECT_EQ(itf->removeFromPollList(b[4]), 1);
    EXPECT_EQ(itf->pollList, nullptr);
}

TEST_F(Interfaces, DestroyedLinkedInterfaceTimesOutItsBusAndReportsTheLoss) {
    auto itf = std::make_unique<rfInterfaces>(worker.get(), rfKindSerial, "Serial : COM3");
    itf->storeInfo(0x01020304, 2);
    worker->addBusObject(makeBus(5));
    worker->addBusObject(makeBus(6));
    BusObject* six = worker->busObjectList();
    itf->attachBusObject(six);
    itf->attachBusObject(six->nextObject);
    itf.reset();
    const auto d = worker->decodes();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].busId, 6);
    EXPECT_EQ(d[1].busId, 5);
    for (const auto& one : d) {
        EXPECT_EQ(one.result, 0);
        EXPECT_EQ(one.length, -1);
    }
    EXPECT_EQ(six->pollNext, nullptr);
    EXPECT_EQ(worker->notifies(), (std::vector<notified>{{"Serial : COM3", 0, 0}}));
}

TEST_F(Interfaces, FeedingWhilePollingKeepsEveryFrameWhole) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    worker->request = hex("10 7B 05 80 16");
    worker->addBusObject(makeBus(5, 30000));  // no time-out falls inside a frame
    itf->attachBusObject(worker->busObjectList());
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
    const auto d = worker->decodes();
    ASSERT_EQ(d.size(), static_cast<std::size_t>(frames));
    for (const auto& one : d) {
        ASSERT_EQ(one.result, 2);
        ASSERT_EQ(one.frame, reply);
    }
}
