#include "gateway/Rfinterfaces.h"

#include "gateway/Rfpacket.h"

#include <utility>

namespace {

using guard = heldLock;

// M-Bus link layer frames.
constexpr std::uint8_t mbusAck = 0xE5;
constexpr std::uint8_t mbusShortStart = 0x10;
constexpr std::uint8_t mbusLongStart = 0x68;
constexpr std::uint8_t mbusStop = 0x16;
constexpr int mbusMaxL = 250;
constexpr std::int16_t mbusShortState = 2;
constexpr std::int16_t mbusHeaderState = 3;
constexpr std::int16_t mbusBodyState = 4;

// Optical readout control characters.
constexpr std::uint8_t SOH = 1, STX = 2, ETX = 3, EOT = 4, LF = 10;
constexpr std::int16_t opticalLineState = 0;
constexpr std::int16_t opticalBlockState = 1;
constexpr std::int16_t opticalCheckState = 2;
constexpr int opticalMaxStored = framerBufferSize - 2;  // each byte is followed by a zero

int finishFrame(interfaceState& f, int kind, int result, frameDelivery& out) {
    out.bus = f.pollList;
    out.mode = f.mode;
    // The zero that ends the bytes in the buffer goes along: the optical
    // decoder reads the reply as text, also a block cut at the buffer's end.
    out.frame.assign(f.buffer, f.buffer + f.length);
    out.frame.push_back(0);
    out.reply = busReply{f.rssi, f.source, f.destination, kind, result, f.length, nullptr};
    f.length = 0;
    f.state = 0;
    f.replyTimer = 0;
    return 1;
}

int abandonFrame(interfaceState& f) {
    f.length = 0;
    f.state = 0;
    return 0;
}

int frameMBus(interfaceState& f, int kind, std::uint8_t b, frameDelivery& out) {
    if (f.length == 0) {
        // Anything before a start byte is line noise.
        if (b != mbusAck && b != mbusShortStart && b != mbusLongStart) return 0;
        f.buffer[f.length++] = b;
        if (b == mbusAck) return finishFrame(f, kind, 1, out);
        f.state = b == mbusShortStart ? mbusShortState : mbusHeaderState;
        return 0;
    }
    if (f.state != mbusShortState && f.state != mbusHeaderState && f.state != mbusBodyState) return abandonFrame(f);
    f.buffer[f.length++] = b;
    const std::uint8_t* buf = f.buffer;
    if (f.state == mbusShortState) {
        if (f.length < 5) return 0;
        const bool good = buf[4] == mbusStop && buf[3] == static_cast<std::uint8_t>(buf[1] + buf[2]);
        return finishFrame(f, kind, good ? 2 : -2, out);
    }
    if (f.state == mbusHeaderState) {
        if (f.length < 4) return 0;
        // 68 L L 68
        if (buf[3] != mbusLongStart || buf[1] != buf[2] || buf[1] >= mbusMaxL) return finishFrame(f, kind, -3, out);
        f.state = mbusBodyState;
        return 0;
    }
    const int l = buf[1];
    if (f.length < l + 6) return 0;
    std::uint8_t sum = 0;
    for (int i = 4; i < 4 + l; ++i) sum = static_cast<std::uint8_t>(sum + buf[i]);
    const bool good = buf[l + 5] == mbusStop && buf[l + 4] == sum;
    return finishFrame(f, kind, good ? 3 : -3, out);
}

void storeOptical(interfaceState& f, std::uint8_t b) {
    if (f.length >= opticalMaxStored) return;
    f.buffer[f.length++] = b;
    f.buffer[f.length] = 0;
}

int frameOptical(interfaceState& f, int kind, std::uint8_t byte, frameDelivery& out) {
    const std::uint8_t b = byte & 0x7F;
    if (f.length == 0) {
        if (b == STX || b == SOH) {
            f.state = opticalBlockState;
            f.blockCheck = 0;
        } else if (b == '/') {
            f.state = opticalLineState;
        } else {
            return 0;
        }
        storeOptical(f, b);
        return 0;
    }
    storeOptical(f, b);
    switch (f.state) {
    case opticalLineState:
        return b == LF ? finishFrame(f, kind, 1, out) : 0;
    case opticalBlockState:
        f.blockCheck ^= b;
        if (b == ETX || b == EOT) f.state = opticalCheckState;
        return 0;
    case opticalCheckState:
        return finishFrame(f, kind, b == f.blockCheck ? 2 : -1, out);
    default:
        return abandonFrame(f);
    }
}

}  // namespace

rfInterfaces::rfInterfaces(linkHub* owner_, interfaceKind kind_, std::string name_)
    : owner(owner_), kind(kind_), name(std::move(name_)) {}

// The head's time-out, as the decoder sees it.
frameDelivery rfInterfaces::timeoutFor(BusObject* bus) {
    const interfaceState& f = state_;
    frameDelivery d;
    d.bus = bus;
    d.mode = bus ? bus->mode : f.mode;
    d.reply = busReply{f.rssi, f.source, f.destination, static_cast<int>(kind), 0, -1, nullptr};
    return d;
}

wantedSettings rfInterfaces::wanted() {
    guard lock(mutex_);
    return {state_.wantedChannel, state_.wantedGroup, state_.wantedPromiscuous};
}

rfInterfaces::~rfInterfaces() {
    BusObject* detached = withState([](interfaceState& s) { return std::exchange(s.pollList, nullptr); });
    while (BusObject* bus = detached) {
        detached = bus->pollNext;
        bus->pollNext = nullptr;  // the decoder may queue it again
        frameDelivery d;
        {
            guard lock(mutex_);
            d = timeoutFor(bus);
        }
        deliverToDecoder(*owner, d);
    }
    if (rfAddress() != 0) owner->changeNotify(name, 0, 0);
}

int rfInterfaces::storeInfo(std::uint32_t address, int newChannel) {
    guard lock(mutex_);
    interfaceState& s = state_;
    s.keepAlive = keepAliveTicks;
    const bool sameAddress = address == 0 || address == s.rfAddress;
    const bool sameChannel = newChannel < 0 || newChannel == s.channel;
    if (sameAddress && sameChannel) return 0;
    if (address != 0) s.rfAddress = address;
    if (newChannel >= 0) s.channel = newChannel;
    return 1;
}

int rfInterfaces::paramsDiffer(std::uint32_t address, int reportedChannel, int reportedGroup,
                               int reportedPromiscuous) {
    guard lock(mutex_);
    const interfaceState& s = state_;
    if (s.rfAddress == 0) return 0;
    if (address != s.rfAddress) return 1;
    // Only bits 0-1 of the wanted channel are a channel: a wanted 9 (1 and
    // save) is met by a reported 1, or the configuration would go out for
    // ever.
    if (s.wantedChannel >= 0 && reportedChannel >= 0 && (s.wantedChannel & 3) != reportedChannel) return 1;
    if (s.wantedGroup >= 0 && s.wantedGroup != reportedGroup) return 1;
    if (s.wantedPromiscuous >= 0 && s.wantedPromiscuous != reportedPromiscuous) return 1;
    return 0;
}

void rfInterfaces::setMode(int newMode, int replyTimeout) {
    guard lock(mutex_);
    interfaceState& s = state_;
    s.mode = static_cast<std::int16_t>(newMode);
    s.replyReload = static_cast<std::int16_t>(replyTimeout);
    s.replyTimer = s.replyReload;
    s.length = 0;
    s.state = 0;
}

void rfInterfaces::feedBytes(int packetRssi, std::uint32_t packetSource, std::uint32_t packetDestination, int n,
                             const std::uint8_t* bytes) {
    // The worker mutex first, held while the bytes are framed and decoded:
    // the decoders change bus objects that the poll reads, and a finished
    // frame clears the reply timer that the poll counts down. Without it
    // the bytes are dropped.
    workerLock worker(*owner);
    if (!worker) return;
    {
        guard lock(mutex_);
        interfaceState& s = state_;
        if (s.startDelay > 0) {
            s.startDelay = busyStartDelayTicks;
            return;
        }
        s.replyTimer = s.replyReload;
        s.rssi = packetRssi;
        s.source = packetSource;
        s.destination = packetDestination;
    }
    owner->logHexDump("char", n, bytes);
    // Each byte under the interface mutex; the decoder runs after it is
    // given back.
    for (int i = 0; i < n; ++i) {
        frameDelivery d;
        if (frameByte(bytes[i], d)) deliverToDecoder(*owner, d);
    }
}

int rfInterfaces::findInPollList(const BusObject* bus) {
    guard lock(mutex_);
    return findLocked(bus);
}

int rfInterfaces::findLocked(const BusObject* bus) {
    int place = 1;
    for (BusObject* b = state_.pollList; b; b = b->pollNext, place = 2)
        if (b == bus) return place;
    return 0;
}

int rfInterfaces::attachBusObject(BusObject* bus) { return insertIntoPollList(bus, false); }

int rfInterfaces::appendToPollList(BusObject* bus) { return insertIntoPollList(bus, true); }

int rfInterfaces::insertIntoPollList(BusObject* bus, bool atTail) {
    guard lock(mutex_);
    BusObject*& pollList = state_.pollList;
    if (findLocked(bus)) return -1;
    busObjectResetState(*bus, 0);
    if (!pollList) {
        bus->pollNext = nullptr;
        pollList = bus;
        becomeHead(bus);
        return 1;
    }
    BusObject* after = pollList;
    while (atTail && after->pollNext) after = after->pollNext;
    bus->pollNext = after->pollNext;
    after->pollNext = bus;
    return 2;
}

int rfInterfaces::removeFromPollList(BusObject* bus) {
    guard lock(mutex_);
    BusObject*& pollList = state_.pollList;
    BusObject** link = &pollList;
    while (*link && *link != bus) link = &(*link)->pollNext;
    if (!*link) return 0;
    const bool wasHead = link == &pollList;
    *link = bus->pollNext;
    bus->pollNext = nullptr;
    if (wasHead && pollList) {
        becomeHead(pollList);
        state_.replyTimer = nextHeadReplyTimer;
    }
    return 1;
}

void rfInterfaces::becomeHead(BusObject* bus) {
    state_.replyReload = static_cast<std::int16_t>(bus->replyTimeout);
    state_.replyTimer = 0;
    state_.startDelay = owner->getPollDelay();
}

int rfInterfaces::frameByte(std::uint8_t byte, frameDelivery& out) {
    guard lock(mutex_);
    const int k = static_cast<int>(kind);
    return state_.mode == busModeMBus ? frameMBus(state_, k, byte, out) : frameOptical(state_, k, byte, out);
}

void rfInterfaces::poll() {
    linkHub& owner = *this->owner;
    bool lost = false;
    bool timedOut = false;
    frameDelivery timeout;
    std::uint8_t request[rfMaxPayload];  // never the receive buffer the framer fills
    {
        guard lock(mutex_);
        interfaceState& f = state_;
        if (f.keepAlive > 0) {
            --f.keepAlive;
        } else if (f.rfAddress != 0) {
            f.rfAddress = 0;
            lost = true;
        }
        if (f.startDelay > 0) {
            --f.startDelay;
        } else if (f.replyTimer == 0) {
            f.length = 0;
            if (BusObject* head = f.pollList) {
                const int n = owner.buildBusRequest(*head, request, rfMaxPayload);
                f.replyReload = static_cast<std::int16_t>(head->replyTimeout);
                if (n >= 1) {
                    // Sent under both mutexes (the worker's is held already),
                    // so no byte of a reply can arrive between the request
                    // and the framer's reset.
                    f.replyTimer = f.replyReload;
                    owner.sendRawMsg(head->gateway, head->module, request, n, head->mode, f.replyReload);
                } else {
                    timedOut = true;
                    timeout = timeoutFor(head);
                }
            } else {
                f.replyReload = idleReplyReload;
            }
        } else if (f.replyTimer == 1) {
            f.replyTimer = 0;
            f.length = 0;
            f.state = 0;
            timedOut = f.pollList != nullptr;
            if (timedOut) timeout = timeoutFor(f.pollList);
        } else {
            --f.replyTimer;
        }
    }
    if (lost) owner.changeNotify(name, 0, 0);
    if (timedOut) deliverToDecoder(owner, timeout);
}

void deliverToDecoder(linkHub& owner, const frameDelivery& d) {
    if (!d.bus) return;
    busReply reply = d.reply;
    reply.bytes = d.reply.length < 0 || d.frame.empty() ? nullptr : d.frame.data();
    if (d.mode == busModeMBus)
        owner.decodeMBusResponse(*d.bus, reply);
    else
        owner.decodeOpticalResponse(*d.bus, reply);
}
