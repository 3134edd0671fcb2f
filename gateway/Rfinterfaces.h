// The worker's record of one gateway: what the gateway reported, what is
// wanted of it, a keep-alive that notices when it falls silent, and the
// polling of wired meters through the meter modules behind it.
//
// Lock order: the worker's mutex before an interface's, never the other
// way round. Decoders are called with the worker mutex held and no
// interface mutex.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gateway/Busobject.h"
#include "gateway/Locks.h"
#include "gateway/Transobject.h"

inline constexpr int keepAliveTicks = 100;
inline constexpr int startDelayTicks = 10;
inline constexpr int busyStartDelayTicks = 200;  // bytes arrived while starting
inline constexpr int idleReplyReload = 20;
inline constexpr int nextHeadReplyTimer = 50;
inline constexpr int framerBufferSize = 4096;

// What the framer hands to a decoder, and the time-out (result 0, length -1).
struct busReply {
    int rssi = 0;
    std::uint32_t source = 0;       // host order
    std::uint32_t destination = 0;  // host order
    int kind = 0;                   // the interface's kind (interfaceKind)
    int result = 0;
    int length = -1;
    const std::uint8_t* bytes = nullptr;  // length bytes followed by a zero
};

// A finished frame, copied out of the framer so that the decoder can run
// after the interface mutex is given back.
struct frameDelivery {
    BusObject* bus = nullptr;  // head of the poll list, if any
    std::int16_t mode = busModeMBus;
    busReply reply;
    std::vector<std::uint8_t> frame;  // reply.length bytes, then a zero
};

// What each kind of interface takes part in. Only serial gateways are made;
// the other kinds keep their place in the rules.
enum class interfaceKind : int { plain = 0, serial = 1, untickedLink = 2 };

// Found by its gateway's RF address (kinds 0 and 1).
constexpr bool addressedByRf(interfaceKind k) { return k == interfaceKind::plain || k == interfaceKind::serial; }
// Its transport is ticked by the worker (every kind but 2).
constexpr bool tickedByWorker(interfaceKind k) { return k != interfaceKind::untickedLink; }
// Taken for gateway address 0, and torn down one by one (kinds 1 and up).
constexpr bool ownsLink(interfaceKind k) { return k != interfaceKind::plain; }

// Everything of an interface that its mutex guards.
struct interfaceState {
    std::uint32_t rfAddress = 0;  // host order; 0 = not linked
    int channel = -1;
    int group = 0;
    int promiscuous = 0;
    int wantedChannel = -1;  // bits 0-1 the channel, bit 3 save the configuration
    int wantedGroup = -1;
    int wantedPromiscuous = -1;
    int keepAlive = keepAliveTicks;
    int startDelay = startDelayTicks;
    BusObject* pollList = nullptr;  // linked through pollNext; the worker owns the objects

    // Framer state.
    std::int16_t mode = busModeMBus;
    std::int16_t state = 0;
    std::int16_t length = 0;
    std::int16_t replyReload = 0;
    std::int16_t replyTimer = 0;  // 0 idle, 1 time-out now, above 1 counting down
    std::uint8_t blockCheck = 0;
    std::uint8_t buffer[framerBufferSize] = {};

    // Of the last transparent packet.
    int rssi = 0;
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
};

// The settings a gateway should be given.
struct wantedSettings {
    int channel = -1;  // as wanted: bit 3 asks for a save
    int group = -1;
    int promiscuous = -1;
};

class rfInterfaces {
public:
    rfInterfaces(linkHub* owner, interfaceKind kind, std::string name);
    // Poll-list objects time out, and a linked gateway is reported lost.
    ~rfInterfaces();
    rfInterfaces(const rfInterfaces&) = delete;
    rfInterfaces& operator=(const rfInterfaces&) = delete;

    // 1 when the address or channel changed; reloads the keep-alive either way.
    int storeInfo(std::uint32_t address, int channel);
    // 1 when a configuration must go to the gateway: it reports another
    // address, or a wanted setting differs from the reported one.
    int paramsDiffer(std::uint32_t address, int reportedChannel, int reportedGroup, int reportedPromiscuous);
    void setMode(int mode, int replyTimeout);
    // The payload of a transparent packet addressed to this gateway, framed
    // and decoded under the worker mutex.
    void feedBytes(int rssi, std::uint32_t source, std::uint32_t destination, int length,
                   const std::uint8_t* bytes);
    // One received byte through the framer; 1 when a frame (or a framing
    // error) is complete and `out` holds it for the decoder.
    int frameByte(std::uint8_t byte, frameDelivery& out);
    // The 100 ms poll. Call it holding the worker mutex: a request is sent
    // under the interface mutex, and sending takes the worker mutex again.
    void poll();

    // 1 heads the list, 2 further down, 0 absent.
    int findInPollList(const BusObject* bus);
    // 1 made head, 2 put second (attach) or last (append), -1 already there.
    int attachBusObject(BusObject* bus);
    int appendToPollList(BusObject* bus);
    // 1 removed, 0 absent.
    int removeFromPollList(BusObject* bus);

    // The guarded state, under the interface mutex: `use` reads or changes
    // it in place, snapshot() copies it.
    template <class F>
    decltype(auto) withState(F&& use) {
        heldLock lock(mutex_);
        return use(state_);
    }
    interfaceState snapshot() {
        return withState([](const interfaceState& s) { return s; });
    }
    std::uint32_t rfAddress() {
        return withState([](const interfaceState& s) { return s.rfAddress; });
    }
    wantedSettings wanted();

    // The transport is set, taken and used under the worker mutex.
    transObject* transport() const { return transport_.get(); }
    void setTransport(std::unique_ptr<transObject> transport) { transport_ = std::move(transport); }
    std::unique_ptr<transObject> takeTransport() { return std::move(transport_); }

    linkHub* const owner;
    const interfaceKind kind;
    const std::string name;

private:
    int insertIntoPollList(BusObject* bus, bool atTail);
    int findLocked(const BusObject* bus) LINK_REQUIRES(mutex_);
    void becomeHead(BusObject* bus) LINK_REQUIRES(mutex_);
    frameDelivery timeoutFor(BusObject* bus) LINK_REQUIRES(mutex_);

    recursiveMutex mutex_;
    interfaceState state_ LINK_GUARDED_BY(mutex_);
    std::unique_ptr<transObject> transport_;
};

// Hands a reply to the decoder that fits the mode.
void deliverToDecoder(linkHub& owner, const frameDelivery& d);
