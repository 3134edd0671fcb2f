#pragma once
// The transport of one gateway: a thread of its own, ticked by the worker
// and handed the RF packets to send. The worker knows a transport only
// through OnTick and SendRadioFrame.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "gateway/Linkif.h"
#include "gateway/Rfpacket.h"

class transObject;
struct BusObject;
struct busReply;
struct wantedSettings;

// All that transports and interfaces know of the worker: the log, the
// gateway state, the readings, the polling of wired meters. The worker
// implements it; a call may come from any link thread.
class linkHub {
public:
    virtual void logLine(int level, std::string_view text) const = 0;
    virtual void logHexDump(std::string_view text, int length, const std::uint8_t* bytes) const = 0;

    // A gateway's reported settings, from its transport's thread. Reloads
    // the interface's keep-alive; a new address or channel is reported.
    virtual void setInfo(const transObject* transport, std::uint32_t address, int channel, int group,
                         int promiscuous) = 0;
    // The wanted settings of this transport's interface with that address,
    // when they differ from the reported ones.
    virtual std::optional<wantedSettings> checkParams(const transObject* transport, std::uint32_t address,
                                                      int channel, int group, int promiscuous) = 0;
    // A received packet after its acknowledgement and duplicate test;
    // ownAddress is the transport's gateway (host order).
    virtual void deliverRadioFrame(std::uint32_t ownAddress, const rfPacket& packet) = 0;
    // The reading hand-over of a block (or a packet copy, raw data).
    virtual void saveOdecet(packetHandle block) = 0;

    // A gateway linked (address not 0, host order) or lost.
    virtual void changeNotify(std::string_view name, std::uint32_t address, int channel) = 0;
    // A transport's port would not open, for a reason not reported before:
    // the line goes to the log at level 0 and the gateway shows OFFLINE.
    virtual void portFailed(const transObject* transport, std::string_view line) = 0;
    // Ticks a new head of a poll list waits before its first request.
    virtual int getPollDelay() const = 0;
    // A transparent packet to a module through the gateway with that address.
    virtual void sendRawMsg(std::uint32_t gateway, std::uint32_t module, const std::uint8_t* bytes, int n,
                            int mode, int replyTimeout) = 0;
    // The worker mutex: re-entered by its holder, taken before any
    // interface's. lock() waits at most 5000 ms and says whether it got it.
    virtual bool lock() = 0;
    virtual void unlock() = 0;

    // The wired meters' requests and the decoders of their replies.
    virtual int buildBusRequest(BusObject& bus, std::uint8_t* buffer, int room) = 0;
    virtual int decodeMBusResponse(BusObject& bus, const busReply& reply) = 0;
    virtual int decodeOpticalResponse(BusObject& bus, const busReply& reply) = 0;

protected:
    ~linkHub() = default;
};

// Holds the worker mutex for a scope when it could be had (and was asked
// for); whoever finds it not held gives up its operation.
class workerLock {
public:
    // take = false: the caller holds the mutex already.
    workerLock(linkHub& worker, bool take = true)
        : worker_(worker), taken_(take && worker.lock()), held_(!take || taken_) {}
    ~workerLock() {
        if (taken_) worker_.unlock();
    }
    workerLock(const workerLock&) = delete;
    workerLock& operator=(const workerLock&) = delete;
    explicit operator bool() const { return held_; }

private:
    linkHub& worker_;
    bool taken_;
    bool held_;
};

class transObject {
public:
    explicit transObject(linkHub* owner) : owner_(owner) {}
    // A derived destructor must call Stop() first: the thread runs the
    // derived body and uses the derived members.
    virtual ~transObject() { Stop(); }
    transObject(const transObject&) = delete;
    transObject& operator=(const transObject&) = delete;

    // Called by the worker every 100 ms, under the worker mutex.
    virtual void OnTick() = 0;
    // Queues one RF packet for the gateway; the box stays the caller's.
    virtual void SendRadioFrame(std::uint32_t rfAddress, int parameter, msgBox* packet) = 0;

    linkHub* Owner() const { return owner_; }
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

protected:
    // Runs the thread body, which returns once Terminated() is set. The
    // constructor that calls this last names its own body, not a virtual
    // one: a class derived further is still writing its vtable pointer
    // while the thread starts, and again while it is destroyed.
    template <class Body>
    void Start(Body body)
    {
        if (!thread_.joinable())
            thread_ = startLinkThread(std::move(body));
    }
    void Terminate() { terminated_.store(true, std::memory_order_release); }
    // Sets the terminate flag and waits for the thread body to return.
    void Stop()
    {
        Terminate();
        if (thread_.joinable())
            thread_.join();
    }

private:
    linkHub* owner_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};
