#include "gateway/Linkif.h"

#include <gtest/gtest.h>

#include <thread>

#include "GatewayTestSupport.h"

using LogRoad = gatewayTest;

TEST_F(LogRoad, LinesAboveTheDebugLevelAreDroppedOthersCarryTheirThreadIdAndHexDumps) {
    recordingLog log;
    const logSink sink = log.sink();
    debugLevel = 1;
    logLine(sink, 2, "two");
    logLine(sink, 1, "one");
    int otherId = 0;
    std::thread other([&] {
        otherId = currentThreadId();
        logLine(sink, 0, "from the transport");
    });
    other.join();
    EXPECT_NE(otherId, currentThreadId());
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"one" + tidPart(), "from the transport tid " + std::to_string(otherId)}));
    logLine(logSink{}, 0, "nowhere");  // no sink given: nothing happens

    log.clear();
    const std::uint8_t data[] = {0x00, 0x01, 0xFF};
    logHexDump(sink, "Send packet", 3, data);
    debugLevel = 2;  // built, but its level 3 is above the debug level
    logHexDump(sink, "Send packet", 3, data);
    EXPECT_TRUE(log.lines().empty());
    debugLevel = 3;
    logHexDump(sink, "Send packet", 3, data);
    logHexDump(sink, "Recv", 0, data);
    logHexDump(sink, "Recv", -1, nullptr);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Send packet ,data len 3 : 00, 01, ff" + tidPart(),
                                                     "Recv ,data len 0" + tidPart(),
                                                     "Recv ,data len -1" + tidPart()}));
}
