// Sensor record packets through the dispatch to the readings and the log.

#include "gateway/Hlavni.h"
#include "gateway/Sensor.h"
#include "tests/gateway/GatewayTestSupport.h"

#include <clocale>
#include <string>

namespace {

using lines = std::vector<std::string>;

// A packet from module 0x0A0B0C0D to gateway 0x01020304, sequence 5.
bytes packet(const char* kind, const bytes& payload)
{
    return hex(std::string("01 02 03 04 0A 0B 0C 0D ") + kind + " 00 05") + payload;
}

const bytes temp215 = hex("C0 69 00 21 D7");       // OID 105 index 0 = 215

class sensorTest : public gatewayTest {
protected:
    void SetUp() override
    {
        gatewayTest::SetUp();
        debugLevel = 1;
    }

    // The packet through the dispatch, as the transport would hand it on.
    void deliver(bytes wire) { worker.deliverRadioFrame(0x01020304, inPlace(wire)); }
    lines withTid(lines plain)
    {
        for (std::string& l : plain)
            l += tidPart();
        return plain;
    }

    recordingLog log;
    recorder<reading> readings;
    HlavniCem worker{linkInterfaces{log.sink(), recordTo(readings)}, {}, HlavniCem::tickSource::manual};
};

TEST_F(sensorTest, EverySensorOidWithItsScaleTextAndLine)
{
    bytes wire = packet("25", hex("C0 69 00 31 CB"           // OID 105 index 0 = -53
                                  "C0 6A 00 22 0C E4"        // OID 106 index 0 = 3300
                                  "C0 5A 00 22 01 C8"        // OID 90 index 0 = 456
                                  "C0 64 00 24 FF FF FF FF"  // OID 100 = 4294967295
                                  "C0 64 01 31 FF"           // OID 100 index 1 = -1, signed
                                  "80 64 21 07"));           // OID 100, no index, = 7
    packetHandle b = decodeSensorPacket(inPlace(wire, -60));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->kind, boxKindSensorReadings);
    EXPECT_EQ(b->source, 0x0A0B0C0Du);
    std::vector<std::string> texts;
    for (int i = 0; i < b->length; ++i)
        texts.emplace_back(blockReading(b.get(), i).text);
    EXPECT_EQ(texts, (lines{"teplota", "napeti", "vlhkomer", "pulsy", "pulsy", "pulsy"}));

    worker.saveOdecet(std::move(b));
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 1, -60, -53 * 0.1, 0},
                                                    {"0xa0b0c0d", 2, -60, 3300 * 0.001, 0},
                                                    {"0xa0b0c0d", 3, -60, 456 * 0.1, 0},
                                                    {"0xa0b0c0d", 0, -60, 4294967295.0, 0},
                                                    {"0xa0b0c0d", 0, -60, 4294967295.0, 1},
                                                    {"0xa0b0c0d", 0, -60, 7.0, -1}}));
    EXPECT_EQ(log.lines(), withTid({"  -- Odecty z Addr 0xa0b0c0d, id 0, rssi -60 -- Pocez zaznamu 6, Max. 128",
                                    "Addr 0xa0b0c0d , Index 0 ,teplota -5.30 °C",
                                    "Addr 0xa0b0c0d , Index 0 ,napeti 3.300 V",
                                    "Addr 0xa0b0c0d , Index 0 ,vlhkost 45.6 %",
                                    "Addr 0xa0b0c0d , Index 0 ,hodnota 4294967295",
                                    "Addr 0xa0b0c0d , Index 1 ,hodnota 4294967295",
                                    "Addr 0xa0b0c0d , Index -1 ,hodnota 7"}));
}

TEST_F(sensorTest, NumberTextIgnoresTheProcessLocale)
{
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "cs_CZ.UTF-8"))
        GTEST_SKIP() << "no cs_CZ.UTF-8 locale";
    deliver(packet("22", temp215));
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(log.lines().back(), "Addr 0xa0b0c0d , Index 0 ,teplota 21.50 °C" + tidPart());
}

TEST_F(sensorTest, AnOctetRecordIsNoNumber)
{
    // An octet record under OID 100 has no number: skipped, not taken as 0.
    deliver(packet("22", hex("C0 64 00 11 07") + temp215));
    EXPECT_EQ(readings.all(), (std::vector<reading>{{"0xa0b0c0d", 1, 0, 215 * 0.1, 0}}));
}

TEST_F(sensorTest, ABlockHoldsAtMost128Readings)
{
    bytes payload;
    for (int i = 0; i < 200; ++i)
        payload = payload + hex("C0 64 00 21 01");
    deliver(packet("22", payload));
    EXPECT_EQ(readings.count(), 128u);
    EXPECT_EQ(log.lines().front(),
              "  -- Odecty z Addr 0xa0b0c0d, id 0, rssi 0 -- Pocez zaznamu 128, Max. 128" + tidPart());
}

} // namespace
