#include "app/Treadcontrol.h"

#include "gateway/Hlavni.h"
#include "gateway/Linkif.h"

#include <cstdint>

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

class THlavniWorker : public TGatewayWorker {
public:
    explicit THlavniWorker(linkInterfaces sinks) : worker_(std::move(sinks)) {}
    int addSerialPort(const std::string& port, int wantedChannel) override {
        return worker_.addSerialPort(port, wantedChannel);
    }
    void sendMsg(std::uint32_t gatewayAddress, int parameter, packetHandle box) override {
        worker_.sendMsg(gatewayAddress, parameter, std::move(box));
    }

private:
    HlavniCem worker_;
};

}  // namespace

std::unique_ptr<TGatewayWorker> MakeHlavniWorker(linkInterfaces sinks) {
    return std::make_unique<THlavniWorker>(std::move(sinks));
}

std::uint32_t RfAddressFromText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '0') {
        base = 8;
        if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && DigitValue(text[i + 2]) < 16) {
            base = 16;
            i += 2;
        }
    }
    constexpr std::uint64_t kMax = 0xFFFFFFFFu;
    std::uint64_t value = 0;
    bool saturated = false;
    for (; i < text.size() && DigitValue(text[i]) < base; ++i) {
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(DigitValue(text[i]));
        if (value > kMax) {
            saturated = true;
            value = kMax;
        }
    }
    if (saturated) return static_cast<std::uint32_t>(kMax);
    std::uint32_t result = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

std::uint8_t TReadSequence::Take() {
    std::uint8_t taken = next_;
    next_ = static_cast<std::uint8_t>((next_ + 1) & 0x7F);
    return taken;
}

bool SendReadRequestPacket(TGatewayWorker* worker, TReadSequence& sequence, std::uint32_t gateway,
                           std::uint32_t module, int parameter) {
    if (!worker || gateway == 0 || parameter < 0) return false;
    packetHandle box = takePacket();
    if (!box) return false;
    buildRecordPacket(box.get(), kReadRequestPacketType, gateway, module, rfKindReadRequest, 0, sequence.Take());
    // The payload is the one byte 2 in place of the packet type record.
    rfPacket packet = packetRfData(box.get());
    rfPacketSetPayload(packet, 1, &kReadRequestPayload);
    box->length = rfHeaderSize + 1;
    worker->sendMsg(gateway, parameter, std::move(box));
    return true;
}

TReadingControl::TReadingControl(Factory factory, Log log)
    : factory_(std::move(factory)), log_(std::move(log)) {}

TReadingControl::~TReadingControl() { worker_.reset(); }

void TReadingControl::Start(const std::string& port, int debugMode) {
    if (worker_ || !factory_) return;
    worker_ = factory_();
    if (!worker_) return;
    debugLevel = debugMode;
    log_("Odecty spusteny .... ");
    if (worker_->addSerialPort(port, -1))
        log_("GW pridana->" + port);
    else
        log_("COM port nelze pridat");
}

void TReadingControl::Stop() {
    if (!worker_) return;
    worker_.reset();
    log_("Stradel zastaven .... ");
}

const char* TReadingControl::ReadAllRefusal(bool hasRows) const {
    if (!hasRows) return kNoMeterFile;
    if (!worker_) return kActivateFirst;
    return nullptr;
}

const char* TReadingControl::ReadOneRefusal() const {
    if (!worker_) return kActivateFirst;
    if (!online_) return kGatewayOffline;
    return nullptr;
}

bool TReadingControl::SendReadRequest(const std::string& gatewayText, int parameter) {
    return SendReadRequestPacket(worker_.get(), sequence_, RfAddressFromText(gatewayText), 0, parameter);
}

bool TReadingControl::SendReadRequestTo(const std::string& gatewayText, const std::string& addressText,
                                        int parameter) {
    return SendReadRequestPacket(worker_.get(), sequence_, RfAddressFromText(gatewayText),
                                 RfAddressFromText(addressText), parameter);
}

int TReadingControl::DebugClick(bool& ticked, int debugMode) const {
    if (!worker_) return debugMode;
    ticked = !ticked;
    debugMode = ticked ? 3 : 0;
    debugLevel = debugMode;
    return debugMode;
}

TInfoCounter::Step TInfoCounter::Tick() {
    if (tick_ > requests_ + 1) {
        Reset();
        return Step::Close;
    }
    if (tick_ <= requests_) {
        position_ = tick_++;
        return Step::Send;
    }
    ++tick_;
    return Step::Wait;
}
