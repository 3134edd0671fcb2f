// The worker of the gateway link: a thread that ticks every transport and
// polls every interface each 100 ms, the owner of the gateway interfaces,
// and the hub through which transports and interfaces reach the log, the
// gateway state and the readings of the rest of the program.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "gateway/Busmeter.h"
#include "gateway/Busobject.h"
#include "gateway/Linkif.h"
#include "gateway/Rfinterfaces.h"
#include "gateway/Rfpacket.h"
#include "gateway/Sensor.h"
#include "gateway/Locks.h"

class HlavniCem : public linkHub {
public:
    // Where a received packet with a payload goes. Left empty: sensor
    // packets are decoded (decodeSensorPacket) and handed to saveOdecet.
    struct radioRoads {
        // Readings decoded from a packet (a pool buffer), or empty.
        std::function<packetHandle(const rfPacket&)> decodeSensor;
        // Takes over a block of readings or a copied packet.
        std::function<void(packetHandle)> handOver;
    };

    // Who runs the 100 ms passes: the worker's own thread, or the caller
    // through tickPass() (tests that step the link by hand).
    enum class tickSource { thread, manual };

    static constexpr auto lockWait = std::chrono::milliseconds(5000);
    static constexpr auto tickPeriod = std::chrono::milliseconds(100);
    static constexpr int initialPollDelay = 50;

    // The thread starts last, once everything it reaches is in place.
    explicit HlavniCem(linkInterfaces sinks, radioRoads roads = {}, tickSource ticks = tickSource::thread);
    // Interface by interface: unlinked, its transport ended, then the
    // interface itself destroyed (its bus objects time out, a linked
    // gateway is reported lost). The pool is freed only once the thread
    // has ended.
    virtual ~HlavniCem();
    HlavniCem(const HlavniCem&) = delete;
    HlavniCem& operator=(const HlavniCem&) = delete;

    // A serial gateway on the named port: 1 when a new interface was made,
    // 0 when the port had one already (it is reset and given the wanted
    // channel) or the worker mutex could not be had. wantedChannel: bits
    // 0-1 the channel, bit 3 save the configuration, -1 none.
    int addSerialPort(const std::string& port, int wantedChannel);
    // Sends the RF packet in `box` through the gateway whose own address
    // is `gateway` (0: the first gateway). The box always goes back to the
    // pool, sent or not.
    void sendMsg(std::uint32_t gateway, int parameter, packetHandle box);
    void setInfo(const transObject* transport, std::uint32_t address, int channel, int group,
                 int promiscuous) override;
    std::optional<wantedSettings> checkParams(const transObject* transport, std::uint32_t address, int channel,
                                              int group, int promiscuous) override;

    // One pass: every transport ticked and every interface polled under
    // the worker mutex, then the poll queue counted down.
    void tickPass();

    void logLine(int level, std::string_view text) const override;
    void notifyObject(int event, int id, std::string_view name) const;
    void logHexDump(std::string_view text, int length, const std::uint8_t* bytes) const override;

    // A gateway linked (address not 0, host order) or lost: reported to the
    // gateway state sink, then logged at level 0.
    void changeNotify(std::string_view name, std::uint32_t address, int channel) override;
    // Logged at level 0; the transport's gateway reported offline.
    void portFailed(const transObject* transport, std::string_view line) override;
    // The wired meters' requests and replies (gateway/Busmeter.h); the
    // readings of a reply go to the hand-over as one block.
    int buildBusRequest(BusObject& bus, std::uint8_t* buffer, int room) override;
    int decodeMBusResponse(BusObject& bus, const busReply& reply) override;
    int decodeOpticalResponse(BusObject& bus, const busReply& reply) override;

    // The worker mutex: re-entered by its holder, taken before any
    // interface's. lock() waits at most 5000 ms and says whether it got it.
    bool lock() override;
    void unlock() override;

    int getPollDelay() const override { return pollDelay_; }
    std::uint8_t sequence();

    // A new interface goes to the head of the list; the worker owns it.
    void addInterface(std::unique_ptr<rfInterfaces> itf);
    // The interfaces, head first (a view for tests and tools).
    std::vector<rfInterfaces*> interfaces();
    // With the worker mutex held: the first interface of kind below 2 with
    // this address, or for address 0 the first of kind above 0.
    rfInterfaces* interfaceByAddress(std::uint32_t address) const;

    // Bus objects: the worker owns those it was given, newest first.
    void addBusObject(std::unique_ptr<BusObject> bus);
    std::vector<BusObject*> busObjects();
    BusObject* pollQueue();
    void tickQueue();
    void addToQueue(int ticks, BusObject* bus, bool takeLock);
    void remFromQueue(BusObject* bus, bool takeLock);
    void remBusObjekt(BusObject* bus, bool takeLock);
    // -1 unknown id; 0 heads a poll list; 2 moved behind the head of its
    // list; else attached to its gateway (1 or 2), or -2 with no gateway.
    int rescanBus(int id);
    void sendRawMsg(std::uint32_t gateway, std::uint32_t module, const std::uint8_t* bytes, int n, int mode,
                    int replyTimeout) override;

    // On the transport's thread.
    void deliverRadioFrame(std::uint32_t ownAddress, const rfPacket& packet) override;
    // A packet that yielded no readings.
    void recvPacket(std::uint32_t ownAddress, const rfPacket& packet);
    void logAlarm(std::uint32_t ownAddress, const rfPacket& packet);

    // The reading hand-over, on the transport's thread: every reading of a
    // block of kind 0 to 3 goes to the readings store and to the log, then
    // the block goes back to the pool; a block of any other kind goes back
    // untouched.
    void saveOdecet(packetHandle block) override;
    // One reading of the block: stored (unless only shown), then logged.
    void saveReading(const msgBox* block, const ReadingRecord& reading);

private:
    void Execute();
    bool terminated() const { return terminated_.load(std::memory_order_acquire); }
    void terminate();
    std::unique_ptr<rfInterfaces> unlinkFirstInterface();
    packetHandle copyPacket(const rfPacket& packet) const;
    void logRecords(const rfPacket& packet) const;
    void feedTransparent(const rfPacket& packet);
    int finishReply(BusObject& bus, const busReply& reply, std::int32_t kind, const busDecoded& decoded);
    void insertIntoQueue(int ticks, BusObject* bus);
    bool unlinkFromQueue(BusObject* bus);
    rfInterfaces* interfaceOfGateway(std::uint32_t gateway) const;
    // The owned objects, under the worker mutex.
    template <class T>
    std::vector<T*> viewOf(const std::list<std::unique_ptr<T>>& owned);

    linkInterfaces sinks_;
    radioRoads roads_;
    const int pollDelay_ = initialPollDelay;
    // The worker mutex and what it guards.
    recursiveTimedMutex mutex_;
    std::uint8_t sequence_ = 1;
    std::list<std::unique_ptr<rfInterfaces>> interfaces_;
    std::list<std::unique_ptr<BusObject>> busObjects_;
    BusObject* pollQueue_ = nullptr;  // linked through pollNext

    std::atomic<bool> terminated_{false};
    std::mutex sleepMutex_;
    std::condition_variable wake_;
    std::thread thread_;  // last: started when all above is ready
};
