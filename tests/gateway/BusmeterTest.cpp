// Wired meters: requests, telegrams, optical lines and blocks as literal
// bytes, one table per decoder; an optical block through the worker's framer.
#include "gateway/Busmeter.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <functional>
#include <numeric>

#include "GatewayTestSupport.h"

namespace {

// A RSP_UD from address 5, header as the stand-in's meter sends it, then
// the records.
bytes variableTelegram(const bytes& records, std::uint8_t ci = 0x72) {
    bytes t = hex("68 00 00 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00") + records + hex("00 16");
    t[6] = ci;
    t[1] = t[2] = static_cast<std::uint8_t>(t.size() - 6);
    for (std::size_t i = 4; i + 2 < t.size(); ++i) t[t.size() - 2] = static_cast<std::uint8_t>(t[t.size() - 2] + t[i]);
    return t;
}

// A fixed-structure RSP_UD from address 5: status, then the two counters
// in m3 (code 44) and l (code 41).
bytes fixedTelegram(std::uint8_t status, const char* counters, std::uint8_t ci = 0x73) {
    bytes t = hex("68 13 13 68 08 05 73 78 56 34 12 2A 00 29 2C") + hex(counters) + hex("00 16");
    t[6] = ci;
    t[12] = status;
    return t;
}

// The shortest text that reads back as the same double.
std::string number(double v) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// "value unit DIF/VIF/VIFE #index" of each M-Bus reading, "value address
// #index" of each optical one.
std::vector<std::string> shown(const busDecoded& d) {
    std::vector<std::string> out;
    for (const ReadingRecord& r : d.readings)
        out.push_back(r.type == readingOptical
                          ? linkFormat("%s %s #%d", number(r.value).c_str(), r.text, r.index)
                          : linkFormat("%s %s %02x/%02x/%02x #%d", number(r.value).c_str(), r.text, r.dif, r.vif,
                                       r.vife, r.index));
    return out;
}

// STX, the lines, ETX and the block check over all after the STX.
bytes opticalBlock(const std::string& lines) {
    std::string block = "\x02" + lines + "\x03";
    block += static_cast<char>(std::accumulate(block.begin() + 1, block.end(), 0, std::bit_xor<>()));
    return bytes(block.begin(), block.end());
}

std::string manyLines(int n) {
    std::string lines;
    for (int i = 0; i < n; ++i) lines += "1.8.0(" + std::to_string(i) + "*kWh)\r\n";
    return lines + "!\r\n";
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
        for (std::uint8_t ci : {0x72, 0x76}) {
            BusObject bus;
            bus.step = 1;
            const bytes t = variableTelegram(c.records, ci);
            const busDecoded d = decodeMBusReply(bus, 3, static_cast<int>(t.size()), t.data());
            EXPECT_EQ(shown(d), c.readings) << c.name << ", CI " << int(ci);
            EXPECT_TRUE(bus.selected && bus.step == 1 && !d.ended) << c.name << ": the SND_NKE follows";
            for (const ReadingRecord& r : d.readings) EXPECT_EQ(r.type, -5) << c.name;
        }
    }
}

namespace {

// One reply handed to a decoder at a step: the readings it gives and the
// step it leaves the meter at.
struct ReplyCase {
    const char* name;
    int step, retries, result;
    bytes reply;
    const char* after;  // step, and whether the exchange ended
    std::vector<std::string> readings;
};

template <class Decoder>
busDecoded Decode(Decoder decoder, BusObject& bus, const ReplyCase& c) {
    bus.step = c.step;
    bus.retries = c.retries;
    const busDecoded d = decoder(bus, c.result, c.reply.empty() ? -1 : static_cast<int>(c.reply.size()),
                                 c.reply.empty() ? nullptr : c.reply.data());
    EXPECT_EQ(shown(d), c.readings) << c.name;
    EXPECT_EQ(std::to_string(bus.step) + (d.ended ? " ended" : ""), c.after) << c.name;
    return d;
}

}  // namespace

TEST(Busmeter, TelegramsAndReplies) {
    const bytes twoRecords = hex("04 13 15 CD 5B 07 0C 13 89 67 45 23");
    const std::vector<std::string> twoReadings = {"123456.789 m3 04/13/00 #0", "23456.789 m3 0c/13/00 #1"};
    const ReplyCase cases[] = {
        {"CI 0x72", 1, 0, 3, variableTelegram(twoRecords), "1", twoReadings},
        {"CI 0x76", 1, 0, 3,
         hex("68 1B 1B 68 08 05 76 78 56 34 12 43 04 01 07 2A 00 00 00 04 13 15 CD 5B 07 0C 13 89 67 45 23 00 16"),
         "1", twoReadings},
        {"CI 0x7A is neither", 1, 0, 3, variableTelegram(twoRecords, 0x7A), "0 ended", {}},
        {"fixed, status 0: BCD", 1, 0, 3, fixedTelegram(0, "78 56 34 12 01 00 00 00"), "0 ended",
         {"12345678 m3 00/00/00 #0", "1 l 00/00/00 #1"}},
        {"fixed, CI 0x77", 1, 0, 3, fixedTelegram(0, "78 56 34 12 01 00 00 00", 0x77), "0 ended",
         {"12345678 m3 00/00/00 #0", "1 l 00/00/00 #1"}},
        {"fixed, status 2: binary", 1, 0, 3, fixedTelegram(2, "78 56 34 12 01 00 00 00"), "0 ended",
         {"305419896 m3 02/00/00 #0", "1 l 02/00/00 #1"}},
        {"fixed, status 4: binary", 1, 0, 3, fixedTelegram(4, "78 56 34 12 01 00 00 00", 0x77), "0 ended",
         {"305419896 m3 04/00/00 #0", "1 l 04/00/00 #1"}},
        {"fixed, status 0, a counter that is no BCD", 1, 0, 3, fixedTelegram(0, "0A 00 00 00 01 00 00 00"), "0 ended",
         {"1 l 00/00/00 #1"}},
        {"fixed, status 1, medium 8", 1, 0, 3,
         hex("68 13 13 68 08 07 73 78 56 34 12 2A 01 29 AC 0A 00 00 00 01 00 00 00 00 16"), "0 ended",
         {"10 m3 01/08/00 #0", "1 l 01/08/00 #1"}},
        {"fixed, too short", 1, 0, 3, hex("68 03 03 68 08 05 73 00 16"), "0 ended", {}},
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
        const busDecoded d = Decode(decodeMBusReply, bus, c);
        for (const ReadingRecord& r : d.readings) EXPECT_EQ(r.type, -c.reply[5]) << c.name;
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
        {"0.0.0(inf*kWh)\r\n", "16 0 0.0.0 kWh"},
        {"12345678901234567890AB(1)\r\n", "27 1 1234567890123456789 "},
        {"1.8.0(5*kWh)\n", "-1 5 1.8.0 kWh"},
        {"1.8.0(5*kWh)\r", "-1 5 1.8.0 kWh"},
        {"1.8.0(5*kWh\r\n", "-1 5 1.8.0 kWh"},
        {"\r\n", "0 0  "},
    };
    for (const auto& c : cases) {
        BusObject bus;
        const int n = parseOpticalLine(bus, c.text, static_cast<int>(std::strlen(c.text)));
        EXPECT_EQ(linkFormat("%d %s %s %s", n, number(bus.value).c_str(), bus.valueAddress, bus.unit), c.parsed)
            << c.text;
    }
}

TEST(Busmeter, OpticalReplies) {
    std::vector<std::string> aBlockOfLines;
    for (int i = 0; i < readingsPerBlock; ++i) aBlockOfLines.push_back(std::to_string(i) + " 1.8.0 #" + std::to_string(i));
    const std::string identification = "/ABC5XYZ\r\n";
    const ReplyCase cases[] = {
        {"identification line", 0, 0, 1, bytes(identification.begin(), identification.end()), "1", {}},
        {"data block", 1, 0, 2, opticalBlock("1.8.0(0012345.678*kWh)\r\n2.8.0(7*kWh)\r\n!\r\n"), "0 ended",
         {"12345.678 1.8.0 #0", "7 2.8.0 #1"}},
        {"a line beyond the range skipped, its number kept", 1, 0, 2,
         opticalBlock("0.0.0(1e999*kWh)\r\n1.8.0(5*kWh)\r\n!\r\n"), "0 ended", {"5 1.8.0 #1"}},
        {"a broken line ends the block", 1, 0, 2, opticalBlock("1(1)\r\n2(2)\n3(3)\r\n!\r\n"), "0 ended",
         {"1 1 #0"}},
        {"more lines than a block holds", 1, 0, 2, opticalBlock(manyLines(readingsPerBlock + 1)), "0 ended",
         aBlockOfLines},
        {"bad block check, retried", 1, 0, -1, opticalBlock("1.8.0(1*kWh)\r\n!\r\n"), "1", {}},
        {"second bad block check", 1, 1, -1, opticalBlock("1.8.0(1*kWh)\r\n!\r\n"), "0 ended", {}},
        {"time-out, retried", 0, 0, 0, {}, "0", {}},
        {"second time-out", 1, 1, 0, {}, "0 ended", {}},
    };
    for (const auto& c : cases) {
        BusObject bus;
        bus.mode = busModeOptical;
        const busDecoded d = Decode(decodeOpticalReply, bus, c);
        EXPECT_EQ(d.timedOut, std::string(c.name).starts_with("second")) << c.name;
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
        // The port's one failure report (which also takes the gateway's
        // address) is over before the test links the gateway by hand.
        ASSERT_TRUE(eventually([&] { return log.starting("COM  nelze otevrit: ") == 1; }));
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

// Through the framer and the hand-over: a block of more lines than a
// reading block holds gives a full block, no more.
TEST_F(BusExchange, OpticalBlockGivesAtMostABlockOfReadings) {
    addBus(busModeOptical, 600);
    EXPECT_EQ(request(1), "Send ,data len 5 : 2f, 3f, 21, 0d, 0a");
    reply(hex("2F 41 42 43 35 58 59 5A 0D 0A"));
    EXPECT_EQ(request(2), "Send ,data len 6 : 06, 30, 30, 30, 0d, 0a");
    reply(opticalBlock(manyLines(readingsPerBlock + 1)));
    EXPECT_EQ(readings.count(), static_cast<std::size_t>(readingsPerBlock));
    EXPECT_EQ(readings.all().at(127), (reading{"0xa0b0c0d", 1000, -60, 127, 127}));
}
