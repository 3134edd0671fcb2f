// Wired meters: requests, records and telegrams as literal bytes, and whole
// exchanges through the worker with a transport that records what it sends.
#include "gateway/Busmeter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "GatewayTestSupport.h"

namespace {

struct expected {
    double value;
    const char* unit;
    int dif, vif, vife, index;
};

// A RSP_UD from address 5 with CI 0x72, header as the stand-in's meter
// sends it, then the records.
bytes variableTelegram(const bytes& records) {
    bytes t = hex("68 00 00 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00") + records + hex("00 16");
    t[1] = t[2] = static_cast<std::uint8_t>(t.size() - 6);
    for (std::size_t i = 4; i + 2 < t.size(); ++i) t[t.size() - 2] = static_cast<std::uint8_t>(t[t.size() - 2] + t[i]);
    return t;
}

std::vector<expected> readingsOf(const busDecoded& d) {
    std::vector<expected> out;
    for (const ReadingRecord& r : d.readings)
        out.push_back({r.value, r.text, r.dif, r.vif, r.vife, r.index});
    return out;
}

void expectReadings(const busDecoded& d, const std::vector<expected>& want, const std::string& name) {
    const auto got = readingsOf(d);
    ASSERT_EQ(got.size(), want.size()) << name;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].value, want[i].value) << name << " #" << i;
        EXPECT_STREQ(got[i].unit, want[i].unit) << name << " #" << i;
        EXPECT_EQ(std::make_tuple(got[i].dif, got[i].vif, got[i].vife, got[i].index),
                  std::make_tuple(want[i].dif, want[i].vif, want[i].vife, want[i].index))
            << name << " #" << i;
    }
}

}  // namespace

TEST(Busmeter, RequestsOfEachStep) {
    static const std::string tooLong(296, 'A');
    const struct {
        std::int16_t mode;
        std::uint8_t primary;
        const char* id;
        int step;
        bool selected;
        bytes request;
    } cases[] = {
        {busModeMBus, 5, "", 0, false, hex("10 40 05 45 16")},
        {busModeMBus, 5, "", 1, false, hex("10 7B 05 80 16")},
        {busModeMBus, 5, "", 2, false, hex("10 5B 05 60 16")},
        {busModeMBus, 5, "", 1, true, hex("10 40 05 45 16")},
        {busModeMBus, 253, "", 1, false, hex("10 7B FD 78 16")},
        {busModeMBus, 253, "12345678", 0, true, hex("68 0B 0B 68 73 FD 52 78 56 34 12 FF FF FF FF D2 16")},
        {busModeMBus, 253, "00aBcDeF", 0, false, hex("68 0B 0B 68 73 FD 52 EF CD AB 00 FF FF FF FF 25 16")},
        {busModeMBus, 253, "1234567", 0, false, {}},
        {busModeMBus, 253, "1234567G", 0, false, {}},
        {busModeOptical, 0, "12345678", 0, false, hex("2F 3F 31 32 33 34 35 36 37 38 21 0D 0A")},
        {busModeOptical, 0, "", 0, false, hex("2F 3F 21 0D 0A")},
        {busModeOptical, 0, "", 1, false, hex("06 30 30 30 0D 0A")},
        {busModeOptical, 0, tooLong.c_str(), 0, false, {}},
    };
    for (const auto& c : cases) {
        BusObject bus;
        bus.mode = c.mode;
        bus.primaryAddress = c.primary;
        bus.identification = c.id;
        bus.step = c.step;
        bus.selected = c.selected;
        bus.valueIndex = 7;
        std::uint8_t buffer[rfMaxPayload];
        const int n = buildBusRequest(bus, buffer, rfMaxPayload);
        EXPECT_EQ(bytes(buffer, buffer + n), c.request) << c.id << " step " << c.step;
        const bool clears = c.mode == busModeMBus && !c.request.empty() && c.request[1] != 0x7B && c.request[1] != 0x5B;
        EXPECT_EQ(bus.valueIndex, clears ? 0 : 7) << c.id << " step " << c.step;
    }
}

TEST(Busmeter, RecordsOfAVariableTelegram) {
    const struct {
        const char* name;
        bytes records;
        std::vector<expected> readings;
    } cases[] = {
        {"binary, exact scale", hex("04 13 15 CD 5B 07"), {{123456.789, "m3", 0x04, 0x13, 0, 0}}},
        {"BCD", hex("0C 13 89 67 45 23"), {{23456.789, "m3", 0x0C, 0x13, 0, 0}}},
        {"unsigned", hex("04 13 FF FF FF FF"), {{4294967.295, "m3", 0x04, 0x13, 0, 0}}},
        {"hours", hex("02 22 10 00"), {{16, "hours", 0x02, 0x22, 0, 0}}},
        {"32-bit real", hex("05 13 00 00 C0 3F"), {{0.0015, "m3", 0x05, 0x13, 0, 0}}},
        {"NaN real, index goes on", hex("05 13 00 00 C0 7F 01 13 01"), {{0.001, "m3", 0x01, 0x13, 0, 1}}},
        {"BCD digit above 9", hex("09 13 1A 09 13 19"), {{0.019, "m3", 0x09, 0x13, 0, 1}}},
        {"filler once", hex("2F 01 13 05"), {{0.005, "m3", 0x01, 0x13, 0, 0}}},
        {"filler twice ends", hex("2F 2F 01 13 05"), {}},
        {"DIFE and VIFE", hex("81 81 01 93 3C 05"), {{0.005, "m3", 0x81, 0x13, 0x3C, 0}}},
        {"volts", hex("02 FD 48 E8 03"), {{100, "Volts", 0x02, 0x7D, 0x48, 0}}},
        {"amperes", hex("02 FD DB 10 10 00"), {{1.6, "A", 0x02, 0x7D, 0xDB, 0}}},
        {"0x7D text", hex("01 FD 09 02"), {{2, "Medium", 0x01, 0x7D, 0x09, 0}}},
        {"0x7D other", hex("01 FD 1A 02"), {{2, "ext A", 0x01, 0x7D, 0x1A, 0}}},
        {"plain text after the VIFE", hex("01 FC 10 03 61 62 63 07"), {{7, "abc", 0x01, 0x7C, 0x10, 0}}},
        {"VIF outside the table", hex("01 70 05"), {{5, "?", 0x01, 0x70, 0, 0}}},
        {"reserved", hex("01 6C 05"), {{5, "Reserverd", 0x01, 0x6C, 0, 0}}},
        {"variable length", hex("0D 13 02 AA BB 01 13 01"), {{0, "m3", 0x0D, 0x13, 0, 0}, {0.001, "m3", 0x01, 0x13, 0, 1}}},
        {"variable length 0xC0", hex("01 13 01 0D 13 C0"), {{0.001, "m3", 0x01, 0x13, 0, 0}}},
        {"end of records", hex("01 13 01 0F 01 13 02"), {{0.001, "m3", 0x01, 0x13, 0, 0}}},
        {"data cut", hex("01 13 01 04 13 15 CD"), {{0.001, "m3", 0x01, 0x13, 0, 0}}},
        {"text cut", hex("01 7C 05 61"), {}},
        {"VIFEs cut", hex("01 93 BC BC"), {}},
    };
    for (const auto& c : cases) {
        BusObject bus;
        bus.step = 1;
        const bytes t = variableTelegram(c.records);
        const busDecoded d = decodeMBusReply(bus, 3, static_cast<int>(t.size()), t.data());
        expectReadings(d, c.readings, c.name);
        EXPECT_TRUE(bus.selected && bus.step == 1 && !d.ended) << c.name << ": the SND_NKE follows";
    }
}

TEST(Busmeter, TelegramsAndReplies) {
    const struct {
        const char* name;
        int step, retries, result;
        bytes reply;
        int stepAfter;
        bool ended, selected;
        std::vector<expected> readings;
    } cases[] = {
        {"fixed, BCD", 1, 0, 3, hex("68 13 13 68 08 05 73 78 56 34 12 2A 00 29 2C 78 56 34 12 01 00 00 00 28 16"), 0,
         true, false, {{12345678, "m3", 0x00, 0x00, 0, 0}, {1, "l", 0x00, 0x00, 0, 1}}},
        {"fixed, status 4 still BCD", 1, 0, 3,
         hex("68 13 13 68 08 05 73 78 56 34 12 2A 04 29 2C 78 56 34 12 01 00 00 00 00 16"), 0, true, false,
         {{12345678, "m3", 0x04, 0x00, 0, 0}, {1, "l", 0x04, 0x00, 0, 1}}},
        {"fixed, binary", 1, 0, 3, hex("68 13 13 68 08 07 73 78 56 34 12 2A 01 29 AC 0A 00 00 00 01 00 00 00 00 16"),
         0, true, false, {{10, "m3", 0x01, 0x08, 0, 0}, {1, "l", 0x01, 0x08, 0, 1}}},
        {"fixed, too short", 1, 0, 3, hex("68 03 03 68 08 05 73 00 16"), 0, true, false, {}},
        {"CI 0x76", 1, 0, 3,
         hex("68 1B 1B 68 08 05 76 78 56 34 12 43 04 01 07 2A 00 00 00 04 13 15 CD 5B 07 0C 13 89 67 45 23 00 16"), 0,
         true, false, {}},
        {"not a response", 1, 0, 3, hex("68 03 03 68 53 05 72 00 16"), 0, true, false, {}},
        {"more data", 3, 0, 3, variableTelegram(hex("01 13 01 1F")), 4, false, false, {{0.001, "m3", 0x01, 0x13, 0, 0}}},
        {"more data past step 10", 10, 0, 3, variableTelegram(hex("01 13 01 1F")), 0, true, false,
         {{0.001, "m3", 0x01, 0x13, 0, 0}}},
        {"acknowledged", 0, 0, 1, hex("E5"), 1, false, false, {}},
        {"short frame", 1, 0, 2, hex("10 08 05 0D 16"), 0, true, false, {}},
        {"time-out, retried", 1, 0, 0, {}, 1, false, false, {}},
        {"second time-out", 1, 1, 0, {}, 0, true, false, {}},
        {"framing error", 1, 0, -3, hex("68 05 06 68"), 1, false, false, {}},
        {"one byte, not E5", 1, 1, 1, hex("E6"), 0, true, false, {}},
        {"long frame that is not", 1, 1, 3, hex("67 00 00 00 00 00"), 0, true, false, {}},
    };
    for (const auto& c : cases) {
        BusObject bus;
        bus.step = c.step;
        bus.retries = c.retries;
        const busDecoded d = decodeMBusReply(bus, c.result, c.reply.empty() ? -1 : static_cast<int>(c.reply.size()),
                                             c.reply.empty() ? nullptr : c.reply.data());
        expectReadings(d, c.readings, c.name);
        EXPECT_EQ(std::make_tuple(bus.step, d.ended, bus.selected), std::make_tuple(c.stepAfter, c.ended, c.selected))
            << c.name;
    }
}

TEST(Busmeter, OpticalLines) {
    const struct {
        const char* text;
        int taken;
        double value;
        const char* address;
        const char* unit;
    } cases[] = {
        {"1.8.0(0012345.678*kWh)\r\n", 24, 12345.678, "1.8.0", "kWh"},
        {"C.1(-1.5e2#V)\r\n!", 15, -150, "C.1", "V"},
        {"0.0.0(1e999*kWh)\r\n", 18, NAN, "0.0.0", "kWh"},
        {"12345678901234567890AB(1)\r\n", 27, 1, "1234567890123456789", ""},
        {"1.8.0(nan)\r\n", 12, 0, "1.8.0", ""},
        {"1.8.0(5*kWh)\n", -1, 5, "1.8.0", "kWh"},
        {"1.8.0(5*kWh\r\n", -1, 5, "1.8.0", "kWh"},
        {"1.8.0(5)\r", -1, 5, "1.8.0", ""},
        {"\r\n", 0, 0, "", ""},
    };
    for (const auto& c : cases) {
        BusObject bus;
        const int n = parseOpticalLine(bus, c.text, static_cast<int>(std::strlen(c.text)));
        EXPECT_EQ(n, c.taken) << c.text;
        if (std::isnan(c.value))
            EXPECT_TRUE(std::isnan(bus.value)) << c.text;
        else
            EXPECT_EQ(bus.value, c.value) << c.text;
        EXPECT_STREQ(bus.valueAddress, c.address) << c.text;
        EXPECT_STREQ(bus.unit, c.unit) << c.text;
    }
}

namespace {

// Sends nothing anywhere: keeps the transparent packets' payloads.
class recordingTransport : public transObject {
public:
    using transObject::transObject;
    void OnTick() override {}
    void SendRadioFrame(std::uint32_t, int, msgBox* packet) override {
        sent.add(bytes(packet->data + rfHeaderSize, packet->data + packet->length));
    }
    recorder<bytes> sent;
};

constexpr std::uint32_t gatewayAddress = 0x01020304;
constexpr std::uint32_t moduleAddress = 0x0A0B0C0D;

class BusExchange : public gatewayTest {
protected:
    void SetUp() override {
        gatewayTest::SetUp();
        auto owned = std::make_unique<rfInterfaces>(worker.get(), interfaceKind::serial, "Serial : COM3");
        itf = owned.get();
        auto t = std::make_unique<recordingTransport>(worker.get());
        transport = t.get();
        itf->setTransport(std::move(t));
        itf->storeInfo(gatewayAddress, 2);
        worker->addInterface(std::move(owned));
    }
    void TearDown() override {
        worker.reset();
        gatewayTest::TearDown();
    }
    BusObject* addBus(std::int16_t mode, int repeat) {
        auto bus = std::make_unique<BusObject>();
        bus->id = 1;
        bus->mode = mode;
        bus->primaryAddress = 5;
        bus->repeatInterval = repeat;
        bus->replyTimeout = 20;
        bus->gateway = gatewayAddress;
        bus->module = moduleAddress;
        BusObject* raw = bus.get();
        worker->addBusObject(std::move(bus));
        worker->addToQueue(1, raw, true);
        return raw;
    }
    // Passes until the n-th request went out (the keep-alive is fed).
    bytes request(std::size_t n) {
        for (int i = 0; i < 500 && transport->sent.count() < n; ++i) {
            itf->storeInfo(gatewayAddress, 2);
            worker->tickPass();
        }
        const auto all = transport->sent.all();
        return all.size() >= n ? all[n - 1] : bytes{};
    }
    void reply(const bytes& b) { itf->feedBytes(-60, moduleAddress, gatewayAddress, static_cast<int>(b.size()), b.data()); }

    recordingLog log;
    recorder<reading> readings;
    std::unique_ptr<HlavniCem> worker = std::make_unique<HlavniCem>(
        linkInterfaces{log.sink(), recordTo(readings)}, HlavniCem::radioRoads{}, HlavniCem::tickSource::manual);
    rfInterfaces* itf = nullptr;
    recordingTransport* transport = nullptr;
};

}  // namespace

// SND_NKE, then two telegrams (the first announcing more data, so the
// frame count bit flips), then SND_NKE to release the meter.
TEST_F(BusExchange, MoreDataFlipsTheFrameCountBit) {
    addBus(busModeMBus, 600);
    EXPECT_EQ(request(1), hex("10 40 05 45 16"));
    reply(hex("E5"));
    EXPECT_EQ(request(2), hex("10 7B 05 80 16"));
    reply(variableTelegram(hex("04 13 15 CD 5B 07 1F")));
    EXPECT_EQ(request(3), hex("10 5B 05 60 16"));
    reply(variableTelegram(hex("0C 13 89 67 45 23")));
    EXPECT_EQ(request(4), hex("10 40 05 45 16"));
    reply(hex("E5"));
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 5, -60, 123456.789, 0},
                                                    {"0xa0b0c0d", 5, -60, 23456.789, 1}}));
    EXPECT_EQ(worker->pollQueue()->delta, 600);
    EXPECT_EQ(request(5), bytes{}) << "nothing more until the repeat interval";
}

TEST_F(BusExchange, TwoTimeOutsEndTheExchange) {
    debugLevel = 3;
    addBus(busModeMBus, 600);
    EXPECT_EQ(request(1), hex("10 40 05 45 16"));
    EXPECT_EQ(request(2), hex("10 40 05 45 16"));
    reply(hex("68 05 06 68"));  // a framing error is the second failure
    EXPECT_EQ(log.starting("Object MBUS 5 has timeout"), 1u);
    EXPECT_EQ(log.starting("Recv ,data len -1"), 2u);
    EXPECT_EQ(worker->pollQueue()->delta, 600);
}

// Read once: the object is freed when it is queued again, after its block
// was made.
TEST_F(BusExchange, RepeatZeroReadsOnceAndRemoves) {
    addBus(busModeMBus, 0);
    request(1);
    reply(hex("E5"));
    request(2);
    reply(hex("68 13 13 68 08 05 73 78 56 34 12 2A 00 29 2C 78 56 34 12 01 00 00 00 28 16"));
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 5, -60, 12345678, 0},
                                                    {"0xa0b0c0d", 5, -60, 1, 1}}));
    EXPECT_TRUE(worker->busObjects().empty());
    EXPECT_EQ(log.starting("Object MBUS 5 was removed"), 1u);
}

TEST_F(BusExchange, OpticalBlockGivesAtMostABlockOfReadings) {
    addBus(busModeOptical, 600);
    EXPECT_EQ(request(1), hex("2F 3F 21 0D 0A"));
    reply(hex("2F 41 42 43 35 58 59 5A 0D 0A"));
    EXPECT_EQ(request(2), hex("06 30 30 30 0D 0A"));
    std::string block = "\x02";
    for (int i = 0; i < 129; ++i) block += "1.8.0(" + std::to_string(i) + "*kWh)\r\n";
    block += "!\r\n\x03";
    std::uint8_t check = 0;
    for (std::size_t i = 1; i < block.size(); ++i) check ^= static_cast<std::uint8_t>(block[i]);
    block += static_cast<char>(check);
    reply(bytes(block.begin(), block.end()));
    const auto got = readings.all();
    ASSERT_EQ(got.size(), 128u);
    EXPECT_EQ(got.back(), (reading{"0xa0b0c0d", 1000, -60, 127, 127}));
}
