// Wired meters: requests, records and telegrams as literal bytes, and whole
// exchanges through the worker with a transport that records what it sends.
#include "gateway/Busmeter.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <functional>
#include <numeric>

#include "GatewayTestSupport.h"

namespace {

// A RSP_UD from address 5 with CI 0x72, header as the stand-in's meter
// sends it, then the records.
bytes variableTelegram(const bytes& records) {
    bytes t = hex("68 00 00 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00") + records + hex("00 16");
    t[1] = t[2] = static_cast<std::uint8_t>(t.size() - 6);
    for (std::size_t i = 4; i + 2 < t.size(); ++i) t[t.size() - 2] = static_cast<std::uint8_t>(t[t.size() - 2] + t[i]);
    return t;
}

// The shortest text that reads back as the same double.
std::string number(double v) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// "value unit DIF/VIF/VIFE #index" of each reading.
std::vector<std::string> shown(const busDecoded& d) {
    std::vector<std::string> out;
    for (const ReadingRecord& r : d.readings)
        out.push_back(linkFormat("%s %s %02x/%02x/%02x #%d", number(r.value).c_str(), r.text, r.dif, r.vif, r.vife,
                                 r.index));
    return out;
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
        std::vector<std::string> readings;
    } cases[] = {
        {"binary, exact scale", hex("04 13 15 CD 5B 07"), {"123456.789 m3 04/13/00 #0"}},
        {"BCD", hex("0C 13 89 67 45 23"), {"23456.789 m3 0c/13/00 #0"}},
        {"unsigned", hex("04 13 FF FF FF FF"), {"4294967.295 m3 04/13/00 #0"}},
        {"hours", hex("02 22 10 00"), {"16 hours 02/22/00 #0"}},
        {"32-bit real", hex("05 13 00 00 C0 3F"), {"0.0015 m3 05/13/00 #0"}},
        {"NaN real, index goes on", hex("05 13 00 00 C0 7F 01 13 01"), {"0.001 m3 01/13/00 #1"}},
        {"BCD digit above 9", hex("09 13 1A 09 13 19"), {"0.019 m3 09/13/00 #1"}},
        {"filler once", hex("2F 01 13 05"), {"0.005 m3 01/13/00 #0"}},
        {"filler twice ends", hex("2F 2F 01 13 05"), {}},
        {"DIFE and VIFE", hex("81 81 01 93 3C 05"), {"0.005 m3 81/13/3c #0"}},
        {"volts", hex("02 FD 48 E8 03"), {"100 Volts 02/7d/48 #0"}},
        {"amperes", hex("02 FD DB 10 10 00"), {"1.6 A 02/7d/db #0"}},
        {"0x7D text", hex("01 FD 09 02"), {"2 Medium 01/7d/09 #0"}},
        {"plain text after the VIFE", hex("01 FC 10 03 61 62 63 07"), {"7 abc 01/7c/10 #0"}},
        {"VIF outside the table", hex("01 70 05"), {"5 ? 01/70/00 #0"}},
        {"variable length", hex("0D 13 02 AA BB 01 13 01"), {"0 m3 0d/13/00 #0", "0.001 m3 01/13/00 #1"}},
        {"variable length 0xC0", hex("01 13 01 0D 13 C0"), {"0.001 m3 01/13/00 #0"}},
        {"end of records", hex("01 13 01 0F 01 13 02"), {"0.001 m3 01/13/00 #0"}},
        {"data cut", hex("01 13 01 04 13 15 CD"), {"0.001 m3 01/13/00 #0"}},
        {"text cut", hex("01 7C 05 61"), {}},
    };
    for (const auto& c : cases) {
        BusObject bus;
        bus.step = 1;
        const bytes t = variableTelegram(c.records);
        const busDecoded d = decodeMBusReply(bus, 3, static_cast<int>(t.size()), t.data());
        EXPECT_EQ(shown(d), c.readings) << c.name;
        EXPECT_TRUE(bus.selected && bus.step == 1 && !d.ended) << c.name << ": the SND_NKE follows";
    }
}

TEST(Busmeter, TelegramsAndReplies) {
    const struct {
        const char* name;
        int step, retries, result;
        bytes reply;
        const char* after;  // step, and whether the exchange ended
        std::vector<std::string> readings;
    } cases[] = {
        {"fixed, BCD", 1, 0, 3, hex("68 13 13 68 08 05 73 78 56 34 12 2A 00 29 2C 78 56 34 12 01 00 00 00 28 16"),
         "0 ended", {"12345678 m3 00/00/00 #0", "1 l 00/00/00 #1"}},
        {"fixed, status 4 still BCD", 1, 0, 3,
         hex("68 13 13 68 08 05 73 78 56 34 12 2A 04 29 2C 78 56 34 12 01 00 00 00 00 16"), "0 ended",
         {"12345678 m3 04/00/00 #0", "1 l 04/00/00 #1"}},
        {"fixed, binary", 1, 0, 3, hex("68 13 13 68 08 07 73 78 56 34 12 2A 01 29 AC 0A 00 00 00 01 00 00 00 00 16"),
         "0 ended", {"10 m3 01/08/00 #0", "1 l 01/08/00 #1"}},
        {"fixed, too short", 1, 0, 3, hex("68 03 03 68 08 05 73 00 16"), "0 ended", {}},
        {"CI 0x76", 1, 0, 3,
         hex("68 1B 1B 68 08 05 76 78 56 34 12 43 04 01 07 2A 00 00 00 04 13 15 CD 5B 07 0C 13 89 67 45 23 00 16"),
         "0 ended", {}},
        {"not a response", 1, 0, 3, hex("68 03 03 68 53 05 72 00 16"), "0 ended", {}},
        {"more data", 3, 0, 3, variableTelegram(hex("01 13 01 1F")), "4", {"0.001 m3 01/13/00 #0"}},
        {"more data past step 10", 10, 0, 3, variableTelegram(hex("01 13 01 1F")), "0 ended", {"0.001 m3 01/13/00 #0"}},
        {"acknowledged", 0, 0, 1, hex("E5"), "1", {}},
        {"short frame", 1, 0, 2, hex("10 08 05 0D 16"), "0 ended", {}},
        {"time-out, retried", 1, 0, 0, {}, "1", {}},
        {"second time-out", 1, 1, 0, {}, "0 ended", {}},
        {"framing error", 1, 0, -3, hex("68 05 06 68"), "1", {}},
        {"one byte, not E5", 1, 1, 1, hex("E6"), "0 ended", {}},
        {"long frame that is not", 1, 0, 3, hex("67 00 00 00 00 00"), "1", {}},
    };
    for (const auto& c : cases) {
        BusObject bus;
        bus.step = c.step;
        bus.retries = c.retries;
        const busDecoded d = decodeMBusReply(bus, c.result, c.reply.empty() ? -1 : static_cast<int>(c.reply.size()),
                                             c.reply.empty() ? nullptr : c.reply.data());
        EXPECT_EQ(shown(d), c.readings) << c.name;
        EXPECT_EQ(std::to_string(bus.step) + (d.ended ? " ended" : ""), c.after) << c.name;
    }
}

// Bytes taken, value, address and unit.
TEST(Busmeter, OpticalLines) {
    const struct {
        const char* text;
        const char* parsed;
    } cases[] = {
        {"1.8.0(0012345.678*kWh)\r\n", "24 12345.678 1.8.0 kWh"},
        {"C.1(-1.5e2#V)\r\n!", "15 -150 C.1 V"},
        {"0.0.0(1e999*kWh)\r\n", "18 nan 0.0.0 kWh"},
        {"12345678901234567890AB(1)\r\n", "27 1 1234567890123456789 "},
        {"1.8.0(5*kWh)\n", "-1 5 1.8.0 kWh"},
        {"\r\n", "0 0  "},
    };
    for (const auto& c : cases) {
        BusObject bus;
        const int n = parseOpticalLine(bus, c.text, static_cast<int>(std::strlen(c.text)));
        EXPECT_EQ(linkFormat("%d %s %s %s", n, number(bus.value).c_str(), bus.valueAddress, bus.unit), c.parsed)
            << c.text;
    }
}

namespace {

constexpr std::uint32_t gatewayAddress = 0x01020304;
constexpr std::uint32_t moduleAddress = 0x0A0B0C0D;

// A worker stepped by hand on a port that does not exist: the requests
// are read from their "Send" dumps; replies come as the module's
// transparent bytes.
class BusExchange : public gatewayTest {
protected:
    void SetUp() override {
        gatewayTest::SetUp();
        debugLevel = 3;
        worker->addSerialPort("", -1);
        itf = worker->interfaces().front();
    }
    void TearDown() override {
        worker.reset();
        gatewayTest::TearDown();
    }
    void addBus(std::int16_t mode, int repeat) {
        auto bus = std::make_unique<BusObject>();
        bus->primaryAddress = 5;
        bus->mode = mode;
        bus->repeatInterval = repeat;
        bus->replyTimeout = 20;
        bus->gateway = gatewayAddress;
        bus->module = moduleAddress;
        worker->addToQueue(1, bus.get(), true);
        worker->addBusObject(std::move(bus));
    }
    // Passes (the keep-alive fed) until the n-th request went out.
    std::string request(std::size_t n) {
        for (int i = 0; i < 500 && log.starting("Send ,") < n; ++i) {
            itf->storeInfo(gatewayAddress, 2);
            worker->tickPass();
        }
        std::vector<std::string> sent;
        for (const std::string& line : log.lines())
            if (line.rfind("Send ,", 0) == 0) sent.push_back(line.substr(0, line.rfind(" tid ")));
        return sent.size() >= n ? sent[n - 1] : "";
    }
    void reply(const bytes& b) { itf->feedBytes(-60, moduleAddress, gatewayAddress, static_cast<int>(b.size()), b.data()); }

    recordingLog log;
    recorder<reading> readings;
    std::unique_ptr<HlavniCem> worker = std::make_unique<HlavniCem>(
        linkInterfaces{log.sink(), recordTo(readings)}, HlavniCem::radioRoads{}, HlavniCem::tickSource::manual);
    rfInterfaces* itf = nullptr;
};

}  // namespace

TEST_F(BusExchange, OpticalBlockGivesAtMostABlockOfReadings) {
    addBus(busModeOptical, 600);
    EXPECT_EQ(request(1), "Send ,data len 5 : 2f, 3f, 21, 0d, 0a");
    reply(hex("2F 41 42 43 35 58 59 5A 0D 0A"));
    EXPECT_EQ(request(2), "Send ,data len 6 : 06, 30, 30, 30, 0d, 0a");
    std::string block = "\x02";
    for (int i = 0; i < 129; ++i) block += "1.8.0(" + std::to_string(i) + "*kWh)\r\n";
    block += "!\r\n\x03";
    block += static_cast<char>(std::accumulate(block.begin() + 1, block.end(), 0, std::bit_xor<>()));
    reply(bytes(block.begin(), block.end()));
    EXPECT_EQ(readings.count(), 128u);
    EXPECT_EQ(readings.all().at(127), (reading{"0xa0b0c0d", 1000, -60, 127, 127}));
}
