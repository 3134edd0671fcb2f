#include "gateway/Hlavni.h"

#include "gateway/Busmeter.h"
#include "gateway/Serial.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

namespace {

void logRecordLine(const logSink& sink, const msgItem& item) {
    logLine(sink, 2, linkFormat("  OID %d, index %d ,hodnota %u", item.oid, item.index, item.value));
}

msgCursor payloadCursor(const rfPacket& packet) {
    return makeCursor(rfPacketPayload(packet), rfPacketPayloadSize(packet));
}

// How a reading reads in the log, after "Addr 0x.. ", by reading type.
struct readingForm {
    std::int32_t type;
    const char* format;  // index, then the value as text
    int decimals;
};

constexpr readingForm readingForms[] = {
    {readingPulses, ", Index %d ,hodnota %s", 0},
    {readingTemperature, ", Index %d ,teplota %s °C", 2},
    {readingVoltage, ", Index %d ,napeti %s V", 3},
    {readingHumidity, ", Index %d ,vlhkost %s %%", 1},
};

// A bus meter's reading type is minus its primary address.
int typeMagnitude(std::int32_t type) {
    return type == std::numeric_limits<std::int32_t>::min() ? std::numeric_limits<std::int32_t>::max() : std::abs(type);
}

std::string readingPart(const ReadingRecord& r) {
    for (const readingForm& f : readingForms)
        if (f.type == r.type) return linkFormat(f.format, r.index, fixedText(r.value, f.decimals).c_str());
    const std::string value = fixedText(r.value, 3);
    if (r.type == readingOptical) {
        const std::string text(r.text, strnlen(r.text, sizeof r.text));
        return linkFormat(",OPTO %s, Index %d ,hodnota %s", text.c_str(), r.index, value.c_str());
    }
    if (r.type < 0) return linkFormat(",MBUS %d, Index %d ,hodnota %s", typeMagnitude(r.type), r.index, value.c_str());
    return {};
}

// The interface text is what follows the name's first ':'; a virtual
// interface does not show ONLINE/OFFLINE.
bool showsOnline(std::string_view name) {
    const std::size_t colon = name.find(':');
    const std::string_view text = colon == std::string_view::npos ? name : name.substr(colon + 1);
    return text.find("Virtual") == std::string_view::npos;
}

bool isReadingBlock(const msgBox* block) {
    return block->kind >= boxKindSensorReadings && block->kind <= 3;
}

}  // namespace

HlavniCem::HlavniCem(linkInterfaces sinks, radioRoads roads, tickSource ticks)
    : sinks_(std::move(sinks)), roads_(std::move(roads)) {
    msgBoxPoolInit();
    if (!roads_.decodeSensor) roads_.decodeSensor = decodeSensorPacket;
    if (!roads_.handOver) roads_.handOver = [this](packetHandle block) { saveOdecet(std::move(block)); };
    logLine(2, "Hlavni start");
    if (ticks == tickSource::thread) thread_ = startLinkThread([this] { Execute(); });
}

HlavniCem::~HlavniCem() {
    terminate();
    // Each interface's transport ends before the interface goes, and neither
    // is destroyed under the worker mutex: a transport thread may be waiting
    // for it. Without the mutex nothing may be unlinked, so this waits on.
    while (!lock()) {
    }
    while (std::unique_ptr<rfInterfaces> itf = unlinkFirstInterface()) {
        std::unique_ptr<transObject> transport = itf->takeTransport();
        unlock();
        transport.reset();
        itf.reset();
        while (!lock()) {
        }
    }
    unlock();
    logLine(2, "Hlavni stop");
    if (thread_.joinable()) thread_.join();
    // The thread is gone: nothing takes the mutex or a buffer any more.
    interfaces_.clear();
    busObjects_.clear();
    msgBoxPoolFree();
}

void HlavniCem::terminate() {
    {
        std::lock_guard lock(sleepMutex_);
        terminated_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
}

std::unique_ptr<rfInterfaces> HlavniCem::unlinkFirstInterface() {
    const auto found = std::find_if(interfaces_.begin(), interfaces_.end(),
                                    [](const auto& itf) { return ownsLink(itf->kind); });
    if (found == interfaces_.end()) return nullptr;
    std::unique_ptr<rfInterfaces> itf = std::move(*found);
    interfaces_.erase(found);
    return itf;
}

void HlavniCem::Execute() {
    logLine(3, "Casovac bezi ...");
    while (!terminated()) {
        tickPass();
        std::unique_lock lock(sleepMutex_);
        wake_.wait_for(lock, tickPeriod, [this] { return terminated(); });
    }
    logLine(3, "Casovac konci ...!");
}

void HlavniCem::tickPass() {
    {
        workerLock held(*this);
        if (held) {
            for (auto it = interfaces_.begin(); it != interfaces_.end() && !terminated();) {
                rfInterfaces& itf = **it++;  // the next one noted first
                if (itf.transport() && tickedByWorker(itf.kind)) itf.transport()->OnTick();
                itf.poll();
            }
        }
    }
    tickQueue();
}

int HlavniCem::addSerialPort(const std::string& port, int wantedChannel) {
    const std::string name = "Serial : " + port;
    workerLock held(*this);
    if (!held) return 0;
    for (const auto& itf : interfaces_) {
        if (itf->kind != interfaceKind::serial || itf->name != name) continue;
        itf->withState([&](interfaceState& s) {
            s.rfAddress = 0;
            s.channel = -1;
            s.wantedChannel = wantedChannel;
        });
        if (!itf->transport()) itf->setTransport(std::make_unique<serialObject>(this, port.c_str()));
        return 0;
    }
    auto itf = std::make_unique<rfInterfaces>(this, interfaceKind::serial, name);
    itf->setTransport(std::make_unique<serialObject>(this, port.c_str()));
    itf->withState([&](interfaceState& s) { s.wantedChannel = wantedChannel; });
    interfaces_.push_front(std::move(itf));
    return 1;
}

void HlavniCem::sendMsg(std::uint32_t gateway, int parameter, packetHandle box) {
    if (!box) return;
    workerLock held(*this);
    rfInterfaces* itf = held ? interfaceByAddress(gateway) : nullptr;
    if (itf && itf->transport()) {
        itf->transport()->SendRadioFrame(gateway, parameter, box.get());
        logHexDump("Send packet", std::clamp(box->length, 0, msgBoxCapacity), box->data);
    }
    // The transport has copied what it sends; the box goes back with the handle.
}

void HlavniCem::setInfo(const transObject* transport, std::uint32_t address, int channel, int group,
                        int promiscuous) {
    std::optional<std::string> changed;
    {
        workerLock held(*this);
        if (!held) return;
        const auto found = std::find_if(interfaces_.begin(), interfaces_.end(), [&](const auto& itf) {
            return itf->kind == interfaceKind::serial && itf->transport() == transport;
        });
        if (found == interfaces_.end()) return;
        rfInterfaces& itf = **found;
        itf.withState([&](interfaceState& s) {
            s.group = group;
            s.promiscuous = promiscuous;
        });
        if (itf.storeInfo(address, channel)) changed = itf.name;
    }
    // Reported without the mutex: the sinks may take their time.
    if (changed) changeNotify(*changed, address, channel);
}

std::optional<wantedSettings> HlavniCem::checkParams(const transObject* transport, std::uint32_t address,
                                                     int channel, int group, int promiscuous) {
    workerLock held(*this);
    if (!held) return std::nullopt;
    for (const auto& itf : interfaces_) {
        if (!addressedByRf(itf->kind) || itf->transport() != transport || itf->rfAddress() != address) continue;
        if (!itf->paramsDiffer(address, channel, group, promiscuous)) return std::nullopt;
        return itf->wanted();
    }
    return std::nullopt;
}

void HlavniCem::changeNotify(std::string_view name, std::uint32_t address, int channel) {
    const std::string n(name);
    if (debugLevel.load(std::memory_order_relaxed) >= 1) logLine(1, "changeNotify: " + n);
    gatewayState state;
    state.showsOnline = showsOnline(name);
    std::string line;
    if (address != 0) {
        state.online = true;
        state.rfAddressText = linkFormat("0x%08x", address);
        line = linkFormat("Interface %s has RF addr %08x on channel %d", n.c_str(), address, channel);
    } else {
        line = linkFormat("Interface %s was disconnected", n.c_str());
    }
    if (sinks_.state) sinks_.state(std::move(state));
    logLine(0, line);
}

void HlavniCem::portFailed(const transObject* transport, std::string_view line) {
    std::optional<std::string> name;
    bool wasLinked = false;
    {
        workerLock held(*this);
        if (!held) return;
        for (const auto& itf : interfaces_) {
            if (itf->transport() != transport) continue;
            name = itf->name;
            // A gateway behind a port that is gone is lost now, as when
            // it falls silent: it links again by its next report.
            itf->withState([&](interfaceState& s) {
                wasLinked = s.rfAddress != 0;
                s.rfAddress = 0;
            });
        }
    }
    // A transport the worker no longer lists is being destroyed: its end
    // is reported by the interface.
    if (!name) return;
    logLine(0, line);
    if (wasLinked) {
        changeNotify(*name, 0, 0);
        return;
    }
    gatewayState state;
    state.showsOnline = showsOnline(*name);
    if (sinks_.state) sinks_.state(std::move(state));
}

int HlavniCem::buildBusRequest(BusObject& bus, std::uint8_t* buffer, int room) {
    return ::buildBusRequest(bus, buffer, room);
}

// The decoders run under the worker mutex (the framer's caller holds it
// already): the poll builds requests from the same bus object, and queuing
// it again may free it.
int HlavniCem::decodeMBusResponse(BusObject& bus, const busReply& reply) {
    workerLock held(*this);
    if (!held) return 0;
    logHexDump("Recv", reply.result < 0 ? -1 : reply.length, reply.bytes);
    return finishReply(bus, reply, boxKindMBusReadings, decodeMBusReply(bus, reply.result, reply.length, reply.bytes));
}

int HlavniCem::decodeOpticalResponse(BusObject& bus, const busReply& reply) {
    workerLock held(*this);
    if (!held) return 0;
    return finishReply(bus, reply, boxKindOpticalReadings,
                       decodeOpticalReply(bus, reply.result, reply.length, reply.bytes));
}

int HlavniCem::finishReply(BusObject& bus, const busReply& reply, std::int32_t kind, const busDecoded& decoded) {
    for (const busLogLine& line : decoded.log) logLine(line.level, line.text);
    if (decoded.timedOut) notifyObject(1, bus.id, busObjectName(bus));
    // The block and the step are taken first: a repeat interval below 1
    // frees the bus object when it is queued again.
    packetHandle block;
    if (!decoded.readings.empty() && (block = takePacket())) {
        const int count = static_cast<int>(decoded.readings.size());
        for (int i = 0; i < count; ++i) setBlockReading(block.get(), i, decoded.readings[i]);
        block->length = count;
        block->kind = kind;
        block->readingId = bus.id;
        block->source = reply.source;
        block->rssi = reply.rssi;
    }
    const int step = bus.step;
    if (decoded.ended) addToQueue(bus.repeatInterval, &bus, false);
    if (block) roads_.handOver(std::move(block));
    return step;
}

bool HlavniCem::lock() { return mutex_.try_lock_for(lockWait); }

void HlavniCem::unlock() { mutex_.unlock(); }

void HlavniCem::logLine(int level, std::string_view text) const { ::logLine(sinks_.log, level, text); }

void HlavniCem::notifyObject(int event, int id, std::string_view name) const {
    ::notifyObject(sinks_.log, event, id, name);
}

void HlavniCem::logHexDump(std::string_view text, int length, const std::uint8_t* bytes) const {
    ::logHexDump(sinks_.log, text, length, bytes);
}

void HlavniCem::deliverRadioFrame(std::uint32_t ownAddress, const rfPacket& packet) {
    if (rfPacketKind(packet) == rfKindHallo) {
        notifyObject(3, 0, linkFormat("0x%08x over 0x%08x", rfPacketSource(packet), rfPacketDestination(packet)));
        return;
    }
    packetHandle result;
    if (packet.payloadLength > 0) {
        // A packet marked "not to be decoded" still reaches the hand-over,
        // as a copy that it discards.
        result = rfPacketRecordKind(packet) != 0 ? copyPacket(packet) : roads_.decodeSensor(packet);
    }
    if (result)
        roads_.handOver(std::move(result));
    else
        recvPacket(ownAddress, packet);
}

packetHandle HlavniCem::copyPacket(const rfPacket& packet) const {
    packetHandle box = takePacket();
    if (!box) return box;
    const int size = rfHeaderSize + std::min(rfPacketPayloadSize(packet), msgBoxCapacity - rfHeaderSize);
    std::memcpy(box->data, packet.bytes, static_cast<std::size_t>(size));
    box->kind = boxKindPacketCopy;
    box->length = size;
    box->rssi = packet.rssi;
    box->source = rfPacketSource(packet);
    box->readingId = 0;
    return box;
}

void HlavniCem::recvPacket(std::uint32_t ownAddress, const rfPacket& packet) {
    const std::uint8_t kind = rfPacketKind(packet);
    if (kind == rfKindTransparent) {
        feedTransparent(packet);
        return;
    }
    if (kind != rfKindRecords) return;
    msgCursor c = payloadCursor(packet);
    msgItem item;
    while (readRecord(c, item)) {
        if (item.oid == oidPacketType) {
            logLine(2, linkFormat("  pck type %d", static_cast<std::int32_t>(item.value)));
            if (item.value == pckAlarm) logAlarm(ownAddress, packet);
            if (item.value == pckConfigRequest) logLine(2, " ----- Config request -----");
        }
        logRecordLine(sinks_.log, item);
    }
}

void HlavniCem::logAlarm(std::uint32_t, const rfPacket& packet) {
    logLine(2, " ----- Alarm --------");
    logRecords(packet);
}

void HlavniCem::logRecords(const rfPacket& packet) const {
    msgCursor c = payloadCursor(packet);
    msgItem item;
    while (readRecord(c, item)) logRecordLine(sinks_.log, item);
}

void HlavniCem::feedTransparent(const rfPacket& packet) {
    const std::uint32_t destination = rfPacketDestination(packet);
    // Held while the bytes are framed and decoded: the worker cannot unlink
    // and destroy the interface meanwhile.
    workerLock held(*this);
    if (!held) return;
    for (const auto& itf : interfaces_)
        if (addressedByRf(itf->kind) && itf->transport() && itf->rfAddress() == destination) {
            itf->feedBytes(packet.rssi, rfPacketSource(packet), destination, rfPacketPayloadSize(packet),
                           rfPacketPayload(packet));
            return;
        }
}

// --- Interfaces and bus objects -----------------------------------------

void HlavniCem::addInterface(std::unique_ptr<rfInterfaces> itf) {
    workerLock held(*this);
    if (held) interfaces_.push_front(std::move(itf));
}

template <class T>
std::vector<T*> HlavniCem::viewOf(const std::list<std::unique_ptr<T>>& owned) {
    workerLock held(*this);
    std::vector<T*> all;
    if (held)
        for (const auto& one : owned) all.push_back(one.get());
    return all;
}

std::vector<rfInterfaces*> HlavniCem::interfaces() { return viewOf(interfaces_); }

rfInterfaces* HlavniCem::interfaceByAddress(std::uint32_t address) const {
    for (const auto& itf : interfaces_) {
        if (address != 0 && addressedByRf(itf->kind) && itf->rfAddress() == address) return itf.get();
        if (address == 0 && ownsLink(itf->kind)) return itf.get();
    }
    return nullptr;
}

rfInterfaces* HlavniCem::interfaceOfGateway(std::uint32_t gateway) const {
    for (const auto& itf : interfaces_)
        if (itf->rfAddress() == gateway) return itf.get();
    return nullptr;
}

void HlavniCem::addBusObject(std::unique_ptr<BusObject> bus) {
    workerLock held(*this);
    if (held) busObjects_.push_front(std::move(bus));
}

std::vector<BusObject*> HlavniCem::busObjects() { return viewOf(busObjects_); }

BusObject* HlavniCem::pollQueue() {
    workerLock held(*this);
    return held ? pollQueue_ : nullptr;
}

std::uint8_t HlavniCem::sequence() {
    workerLock held(*this);
    return sequence_;
}

void HlavniCem::tickQueue() {
    workerLock held(*this);
    if (!held || !pollQueue_) return;
    BusObject* due = pollQueue_;
    if (--due->delta >= 1) return;
    // Only the head counts down, so objects due together come one per tick.
    pollQueue_ = due->pollNext;
    due->pollNext = nullptr;
    busObjectResetState(*due, 0);
    if (rfInterfaces* itf = interfaceOfGateway(due->gateway))
        itf->appendToPollList(due);
    else
        addToQueue(due->repeatInterval, due, false);
}

void HlavniCem::addToQueue(int ticks, BusObject* bus, bool takeLock) {
    workerLock held(*this, takeLock);
    if (!held) return;
    remFromQueue(bus, false);
    if (ticks >= 1)
        insertIntoQueue(ticks, bus);
    else
        remBusObjekt(bus, false);
}

void HlavniCem::insertIntoQueue(int ticks, BusObject* bus) {
    BusObject** link = &pollQueue_;
    int sum = 0;
    while (*link && sum + (*link)->delta <= ticks) {
        sum += (*link)->delta;
        link = &(*link)->pollNext;
    }
    bus->delta = ticks - sum;
    bus->pollNext = *link;
    if (*link) (*link)->delta -= bus->delta;
    *link = bus;
}

bool HlavniCem::unlinkFromQueue(BusObject* bus) {
    BusObject** link = &pollQueue_;
    while (*link && *link != bus) link = &(*link)->pollNext;
    if (!*link) return false;
    *link = bus->pollNext;
    if (bus->pollNext) bus->pollNext->delta += bus->delta;
    bus->pollNext = nullptr;
    return true;
}

void HlavniCem::remFromQueue(BusObject* bus, bool takeLock) {
    workerLock held(*this, takeLock);
    if (!held) return;
    unlinkFromQueue(bus);
    for (const auto& itf : interfaces_) itf->removeFromPollList(bus);
}

void HlavniCem::remBusObjekt(BusObject* bus, bool takeLock) {
    workerLock held(*this, takeLock);
    if (!held) return;
    remFromQueue(bus, false);
    // Its id and name are taken before it is freed.
    const int id = bus->id;
    const std::string name = busObjectName(*bus);
    busObjects_.remove_if([bus](const auto& owned) { return owned.get() == bus; });
    notifyObject(2, id, name);
}

int HlavniCem::rescanBus(int id) {
    workerLock held(*this);
    if (!held) return -1;
    const auto owned = std::find_if(busObjects_.begin(), busObjects_.end(),
                                    [id](const auto& bus) { return bus->id == id; });
    if (owned == busObjects_.end()) return -1;
    BusObject* bus = owned->get();
    for (const auto& itf : interfaces_) {
        const int place = itf->findInPollList(bus);
        if (place == 1) return 0;
        if (place == 2) {
            itf->removeFromPollList(bus);
            itf->attachBusObject(bus);
            return 2;
        }
    }
    rfInterfaces* itf = interfaceOfGateway(bus->gateway);
    if (!itf) return -2;
    unlinkFromQueue(bus);  // in the queue or in a poll list, never both
    return itf->attachBusObject(bus);
}

void HlavniCem::sendRawMsg(std::uint32_t gateway, std::uint32_t module, const std::uint8_t* bytes, int n, int mode,
                           int replyTimeout) {
    if (n <= 0) return;
    workerLock held(*this);
    if (!held) return;
    packetHandle box = takePacket();
    if (!box) return;
    buildPacketHeader(box.get(), gateway, module, rfKindTransparent, rfFlagTransparent, sequence_);
    sequence_ = static_cast<std::uint8_t>((sequence_ + 1) & 127);
    rfPacket packet = packetRfData(box.get());
    box->kind = boxKindPacketCopy;
    box->length = rfHeaderSize + rfPacketSetPayload(packet, n, bytes);
    rfInterfaces* itf = interfaceByAddress(gateway);
    if (itf && itf->transport()) {
        itf->setMode(mode, replyTimeout);
        itf->transport()->SendRadioFrame(gateway, 0, box.get());
        logHexDump("Send", n, bytes);
    }
}

void HlavniCem::saveOdecet(packetHandle block) {
    if (!block) return;
    if (isReadingBlock(block.get())) {
        const int count = blockReadingCount(block.get());
        logLine(1, linkFormat("  -- Odecty z Addr 0x%02x, id %d, rssi %d -- Pocez zaznamu %d, Max. %d", block->source,
                              block->readingId, block->rssi, count, readingsPerBlock));
        for (int i = 0; i < count; ++i) saveReading(block.get(), blockReading(block.get(), i));
    }
}

void HlavniCem::saveReading(const msgBox* block, const ReadingRecord& reading) {
    const std::string address = linkFormat("0x%02x", block->source);
    // Stored first: a reading reaches the meter list even when the debug
    // level keeps its line out of the log.
    if (sinks_.reading && !(sinks_.screenOnly && sinks_.screenOnly()))
        sinks_.reading(address, typeMagnitude(reading.type), block->rssi, reading.value, reading.index);
    if (debugLevel.load(std::memory_order_relaxed) >= 1) logLine(1, "Addr " + address + " " + readingPart(reading));
}
