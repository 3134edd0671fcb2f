#include <gtest/gtest.h>

#include "GatewayTestSupport.h"
#include "gateway/Busobject.h"

namespace {

class BusQueue : public busPollingTest {
protected:
    BusObject* add(int id, int gatewayOffset = 0, int repeat = 100) {
        auto bus = makeBus(id, 30, repeat);
        bus->gateway += static_cast<std::uint32_t>(gatewayOffset);
        BusObject* raw = bus.get();
        worker->addBusObject(std::move(bus));
        return raw;
    }
    // Ticks until the object is in a poll list; -1 when that takes too long.
    int ticksUntilPolled(rfInterfaces* itf, BusObject* bus) {
        for (int t = 1; t <= 1000; ++t) {
            worker->tickQueue();
            if (itf->findInPollList(bus)) return t;
        }
        return -1;
    }
};

}  // namespace

TEST_F(BusQueue, DueInDeltaOrderOnePerTick) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    BusObject* a = add(1);
    BusObject* b = add(2);
    worker->addToQueue(30, a, true);
    worker->addToQueue(10, b, true);
    EXPECT_EQ(ticksUntilPolled(itf, b), 10);
    EXPECT_EQ(ticksUntilPolled(itf, a), 20);
    EXPECT_EQ(worker->pollQueue(), nullptr);

    // Equal waits keep their queue order and come due one tick apart.
    BusObject* c = add(3);
    worker->addToQueue(10, a, true);
    worker->addToQueue(10, b, true);
    worker->addToQueue(5, c, true);
    EXPECT_EQ(ticksUntilPolled(itf, c), 5);
    EXPECT_EQ(ticksUntilPolled(itf, a), 5);
    EXPECT_EQ(ticksUntilPolled(itf, b), 1);
}

TEST_F(BusQueue, RequeueingTakesAnObjectOutOfItsPollList) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    BusObject* a = add(1);
    BusObject* b = add(2);
    worker->addToQueue(2, a, true);
    worker->addToQueue(4, b, true);
    worker->addToQueue(1, b, true);  // moved to the front, a's wait unchanged
    EXPECT_EQ(ticksUntilPolled(itf, b), 1);
    worker->addToQueue(3, b, true);
    EXPECT_EQ(itf->findInPollList(b), 0);
    EXPECT_EQ(ticksUntilPolled(itf, a), 1);
    EXPECT_EQ(ticksUntilPolled(itf, b), 2);
}

TEST_F(BusQueue, ObjectOfAnUnknownGatewayWaitsItsRepeatIntervalOrGoes) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    BusObject* lost = add(4, 1, 25);
    worker->addToQueue(1, lost, true);
    worker->tickQueue();
    EXPECT_EQ(worker->pollQueue(), lost);
    EXPECT_EQ(lost->delta, 25);
    EXPECT_EQ(itf->findInPollList(lost), 0);

    BusObject* once = add(5, 1, 0);
    worker->addToQueue(1, once, true);
    worker->tickQueue();  // once is due: its repeat interval of 0 removes it
    EXPECT_EQ(worker->busObjects(), std::vector<BusObject*>{lost});
    EXPECT_EQ(worker->pollQueue(), lost);
    EXPECT_EQ(lost->delta, 24);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Object MBUS 5 was removed" + tidPart()});
}

TEST_F(BusQueue, RemovedObjectLeavesQueueAndLists) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    BusObject* head = add(1);
    BusObject* queued = add(2);
    BusObject* after = add(3);
    itf->attachBusObject(head);
    worker->addToQueue(5, queued, true);
    worker->addToQueue(9, after, true);
    worker->remBusObjekt(queued, true);
    EXPECT_EQ(worker->pollQueue(), after);
    EXPECT_EQ(after->delta, 9);
    worker->remBusObjekt(head, true);
    EXPECT_EQ(itf->snapshot().pollList, nullptr);
    EXPECT_EQ(worker->busObjects(), std::vector<BusObject*>{after});
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Object MBUS 2 was removed" + tidPart(),
                                                     "Object MBUS 1 was removed" + tidPart()}));
}

TEST_F(BusQueue, RescanBus) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    EXPECT_EQ(worker->rescanBus(1), -1) << "no bus objects";
    BusObject* a = add(1);
    BusObject* b = add(2);
    BusObject* c = add(3);
    BusObject* elsewhere = add(4, 1);
    worker->addToQueue(10, a, true);
    EXPECT_EQ(worker->rescanBus(1), 1) << "queued, attached as head";
    EXPECT_EQ(worker->pollQueue(), nullptr);
    EXPECT_EQ(worker->rescanBus(1), 0);
    EXPECT_EQ(worker->rescanBus(2), 2);
    EXPECT_EQ(worker->rescanBus(3), 2);
    EXPECT_EQ(itf->snapshot().pollList->pollNext, c);
    EXPECT_EQ(worker->rescanBus(2), 2) << "moved behind the head";
    EXPECT_EQ(itf->snapshot().pollList->pollNext, b);
    worker->addToQueue(7, elsewhere, true);
    EXPECT_EQ(worker->rescanBus(4), -2);
    EXPECT_EQ(worker->pollQueue(), elsewhere) << "without its gateway it stays queued";
    EXPECT_EQ(worker->rescanBus(99), -1);
}

TEST_F(BusQueue, RawSendsThroughTheAddressedGateway) {
    rfInterfaces* itf = worker->addGateway(0x01020304);
    worker->addGateway(0x05060708, "COM4");
    auto& sends = testWorker::sendsOf(itf);
    const bytes request = hex("10 7B 05 80 16") + bytes(400, 0x33);
    const auto send = [&](std::uint32_t gateway, int n, int mode = busModeMBus) {
        worker->sendRawMsg(gateway, 0x0A0B0C0D, request.data(), n, mode, 40);
    };
    debugLevel = 3;
    send(0x01020304, 5, busModeOptical);
    ASSERT_EQ(sends.count(), 1u);
    EXPECT_EQ(sends.all()[0].packet, hex("0A 0B 0C 0D 01 02 03 04 20 69 01 10 7B 05 80 16"));
    EXPECT_EQ(sends.all()[0].address, 0x01020304u);
    EXPECT_EQ(sends.all()[0].parameter, 0);
    EXPECT_EQ(itf->snapshot().mode, busModeOptical);
    EXPECT_EQ(itf->snapshot().replyTimer, 40);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Send ,data len 5 : 10, 7b, 05, 80, 16" + tidPart()});

    send(0x01020304, 0);
    send(0x0A0A0A0A, 5);
    EXPECT_EQ(sends.count(), 1u) << "no bytes, or no such gateway: nothing sent";
    EXPECT_EQ(worker->sequence(), 3) << "a send to an unknown gateway still takes a number";
    while (worker->sequence() != 127) send(0x01020304, 5);
    send(0x01020304, 5);
    send(0x01020304, 405);
    const auto all = sends.all();
    EXPECT_EQ(all[all.size() - 2].packet[10], 127);
    EXPECT_EQ(all.back().packet[10], 0);
    EXPECT_EQ(all.back().packet.size(), 311u) << "the payload is cut at 300";
}

TEST_F(BusQueue, GatewayLookUpByAddress) {
    rfInterfaces* com3 = worker->addGateway(0x01020304);
    rfInterfaces* com4 = worker->addGateway(0x05060708, "COM4");
    workerLock held(*worker);
    ASSERT_TRUE(held);
    EXPECT_EQ(worker->interfaceByAddress(0x01020304), com3);
    EXPECT_EQ(worker->interfaceByAddress(0x05060708), com4);
    EXPECT_EQ(worker->interfaceByAddress(0), com4) << "address 0: the first of the list";
    EXPECT_EQ(worker->interfaceByAddress(0x04030201), nullptr);
    EXPECT_TRUE(worker->lock()) << "the holder takes it again";
    worker->unlock();
}

TEST(BusObjectName, ByModeAndAddress) {
    const struct {
        std::int16_t mode;
        std::uint8_t primary;
        const char* identification;
        const char* name;
    } cases[] = {{busModeOptical, 0, "12345678", "OPTO 12345678"},
                 {busModeOptical, 0, "", "OPTO"},
                 {busModeMBus, 5, "12345678", "MBUS 5"},
                 {busModeMBus, mbusSelectBySecondary, "12345678", "MBUS 12345678"}};
    for (const auto& c : cases) {
        BusObject bus;
        bus.mode = c.mode;
        bus.primaryAddress = c.primary;
        bus.identification = c.identification;
        EXPECT_EQ(busObjectName(bus), c.name);
    }
    BusObject bus;
    bus.step = 3;
    bus.retries = 1;
    busObjectResetState(bus, 2);
    EXPECT_EQ(bus.step, 2);
    EXPECT_EQ(bus.retries, 0);
}
