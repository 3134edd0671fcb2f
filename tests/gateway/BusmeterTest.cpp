// Wired meters' requests as literal bytes; the replies are read through the
// stand-in's meters by the gwmonitor run.
#include "gateway/Busmeter.h"

#include <gtest/gtest.h>

#include "GatewayTestSupport.h"

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
