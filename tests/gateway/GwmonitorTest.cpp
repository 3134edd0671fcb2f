// gwmonitor polling wired meters that the stand-in plays.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <cstring>

#include "GatewayTestSupport.h"

namespace {

class gwmonitorRun : public deviceFolderTest {
protected:
    // Runs gwmonitor COM3 with args until it printed every wanted line (at
    // most 40 s), stops it with SIGTERM and expects status 0. A log line is
    // compared without the thread id that ends it.
    void run(const std::string& args, const std::vector<std::string>& wanted) {
        FILE* out = popen(("echo $$; exec timeout 40 " ORVELO_BINARY_DIR "/tests/tools/gwmonitor/gwmonitor COM3 "
                           "--debug 0 " + args).c_str(), "r");
        char line[512];
        const pid_t pid = fgets(line, sizeof line, out) ? std::atoi(line) : 0;
        std::vector<std::string> lines;
        for (std::size_t found = 0; found < wanted.size() && fgets(line, sizeof line, out);) {
            const std::string text(line, std::strcspn(line, "\n"));
            lines.push_back(text.substr(0, text.rfind(" tid ")));
            found += std::count(wanted.begin(), wanted.end(), lines.back());
        }
        if (pid > 0) kill(pid, SIGTERM);
        EXPECT_EQ(pclose(out), 0);
        for (const std::string& w : wanted)
            EXPECT_NE(std::find(lines.begin(), lines.end(), w), lines.end()) << "missing: " << w;
    }
};

}  // namespace

TEST_F(gwmonitorRun, ReadsAnMBusAndAnOpticalMeter) {
    standin::GatewayStandin& g = gateway();
    g.meters.add(standin::MBusMeter{0x0A0B0C0D, 5, 0x12345678});
    g.meters.add(standin::OpticalMeter{0x0A0B0C0E, ""});
    g.meters.spoilNextChecksum();  // the repeat of the same REQ_UD2 reads it
    const std::vector<std::string> wanted = {
        "BUS 1 MBUS 5",
        "BUS 2 OPTO",
        "READING 0xa0b0c0d 5 0 123456.789",
        "READING 0xa0b0c0d 5 1 23456.789",
        "READING 0xa0b0c0e 1000 0 12345.678",
        "READING 0xa0b0c0e 1000 1 1.25",
    };
    run("--mbus 0x0A0B0C0D,5 --optical 0x0A0B0C0E", wanted);
}

// Selected by its secondary address, read once and removed; a meter with
// another address stays silent and times out twice.
TEST_F(gwmonitorRun, SecondaryAddressSilentMeterAndReadOnce) {
    standin::GatewayStandin& g = gateway();
    g.meters.add(standin::MBusMeter{0x0A0B0C0D, 7, 0x87654321});
    g.meters.leaveUnanswered(1);  // the selection goes out again
    const std::vector<std::string> wanted = {
        "BUS 1 MBUS 87654321",
        "BUS 2 MBUS 11111111",
        "READING 0xa0b0c0d 7 0 123456.789",
        "READING 0xa0b0c0d 7 1 23456.789",
        "Object MBUS 87654321 was removed",
        "Object MBUS 11111111 has timeout",
        "Object MBUS 11111111 was removed",
    };
    run("--mbus-id 0x0A0B0C0D,87654321 --mbus-id 0x0A0B0C0D,11111111 --bus-repeat 0", wanted);
}
