// Receive-road fuzzing of the gateway link: the input is cut into SLIP
// frames, and each good frame, as well as the whole input taken as one
// gateway message, is dispatched record by record (settings, RSSI, RF
// packets with their acknowledgement, filter, sensor decoding and
// hand-over, record packets, transparent bytes, raw data blocks). The input
// also runs through both bus framers and the M-Bus and optical decoders,
// the bus object at the step its first byte picks. Everything runs at the
// highest debug level, so the log lines and hex dumps are built too.
#include <algorithm>
#include <cstdint>
#include <string>

#include "gateway/Hlavni.h"
#include "gateway/Serial.h"
#include "gateway/Slip.h"

namespace {

constexpr std::uint32_t gatewayAddress = 0x01020304;

// The real decoders, with readings and log lines swallowed.
class fuzzWorker : public HlavniCem {
public:
    fuzzWorker()
        : HlavniCem(linkInterfaces{[](std::string) {}, [](const std::string&, int, int, double, int) {}}, {},
                    tickSource::manual) {}
};

struct receiveRoad {
    fuzzWorker worker;
    rfInterfaces* itf = nullptr;
    serialObject* transport = nullptr;
    BusObject bus;

    receiveRoad() {
        // No such port: the transport's thread never opens a line, and what
        // it is asked to send is dropped.
        worker.addSerialPort("", -1);
        itf = worker.interfaces().front();
        transport = static_cast<serialObject*>(itf->transport());
        bus.gateway = gatewayAddress;
        bus.repeatInterval = 100;
        itf->withState([&](interfaceState& s) { s.pollList = &bus; });
    }

    void process(const std::uint8_t* bytes, int length) {
        packetHandle box = takePacket();
        if (!box) return;
        length = std::min(length, msgBoxCapacity);
        std::copy(bytes, bytes + length, box->data);
        box->length = length;
        transport->ProcessGatewayMessage(std::move(box));
    }

    void frame(const std::uint8_t* bytes, int length, std::int16_t mode, int step) {
        {
            workerLock held(worker);
            // An ended exchange queued the object again: back to the head.
            worker.remFromQueue(&bus, false);
            bus.mode = mode;
            bus.step = step;
            bus.savedStep = step;
            itf->setMode(mode, 20);
            itf->withState([&](interfaceState& s) {
                s.startDelay = 0;
                s.pollList = &bus;
            });
        }
        itf->feedBytes(-50, 0x0A0B0C0D, gatewayAddress, length, bytes);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static receiveRoad* l = [] {
        debugLevel = 3;
        return new receiveRoad;
    }();
    duplicateFilterClear();
    {
        workerLock held(l->worker);
        l->itf->storeInfo(gatewayAddress, 2);
    }
    l->transport->SetReported({gatewayAddress, 2, 0, 0});
    const int length = static_cast<int>(std::min<std::size_t>(size, 1 << 16));

    SlipDeframer deframer;
    for (int i = 0; i < length; ++i)
        if (int n = deframer.Feed(data[i]); n > 0) l->process(deframer.Frame(), n);
    l->process(data, length);
    const int step = length > 0 ? data[0] % 12 : 0;
    l->frame(data, length, busModeMBus, step);
    l->frame(data, length, busModeOptical, step);
    return 0;
}
