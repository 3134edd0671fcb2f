// gwmonitor polling wired meters that the stand-in plays.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "GatewayTestSupport.h"

extern char** environ;

namespace {

class gwmonitorRun : public deviceFolderTest {
protected:
    // Runs gwmonitor COM3 with args until every wanted line was printed
    // (or 40 s passed), then stops it with SIGTERM. The lines it printed.
    std::vector<std::string> run(std::vector<std::string> args, const std::vector<std::string>& wanted) {
        args.insert(args.begin(), {ORVELO_BINARY_DIR "/tests/tools/gwmonitor/gwmonitor", "COM3", "--debug", "0"});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::vector<std::string> lines;
        std::string pending;
        const auto missing = [&] {
            return std::any_of(wanted.begin(), wanted.end(), [&](const std::string& w) {
                return std::find(lines.begin(), lines.end(), w) == lines.end();
            });
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
        while (missing() && std::chrono::steady_clock::now() < deadline) {
            pollfd p{out[0], POLLIN, 0};
            char buf[512];
            if (poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != '\n') {
                    pending += buf[i];
                    continue;
                }
                // The thread id at the end of a log line differs from run to run.
                const std::size_t tid = pending.rfind(" tid ");
                lines.push_back(tid == std::string::npos ? pending : pending.substr(0, tid));
                pending.clear();
            }
        }
        kill(pid, SIGTERM);
        int status = -1;
        waitpid(pid, &status, 0);
        close(out[0]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return lines;
    }

    void expectAll(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
        for (const std::string& w : wanted)
            EXPECT_NE(std::find(lines.begin(), lines.end(), w), lines.end()) << "missing: " << w;
    }
};

}  // namespace

TEST_F(gwmonitorRun, ReadsAnMBusAndAnOpticalMeter) {
    standin::GatewayStandin& g = gateway();
    g.meters.add(standin::MBusMeter{0x0A0B0C0D, 5});
    g.meters.add(standin::OpticalMeter{0x0A0B0C0E, ""});
    const std::vector<std::string> wanted = {
        "BUS 1 MBUS 5",
        "BUS 2 OPTO",
        "READING 0xa0b0c0d 5 0 123456.789",
        "READING 0xa0b0c0d 5 1 23456.789",
        "READING 0xa0b0c0e 1000 0 12345.678",
        "READING 0xa0b0c0e 1000 1 1.25",
    };
    expectAll(run({"--mbus", "0x0A0B0C0D,5", "--optical", "0x0A0B0C0E"}, wanted), wanted);
}

// Selected by its secondary address, read once and removed; a meter with
// another address stays silent and times out twice.
TEST_F(gwmonitorRun, SecondaryAddressSilentMeterAndReadOnce) {
    standin::GatewayStandin& g = gateway();
    g.meters.add(standin::MBusMeter{0x0A0B0C0D, 7, 0x87654321});
    const std::vector<std::string> wanted = {
        "BUS 1 MBUS 87654321",
        "BUS 2 MBUS 11111111",
        "READING 0xa0b0c0d 7 0 123456.789",
        "READING 0xa0b0c0d 7 1 23456.789",
        "Object MBUS 87654321 was removed",
        "Object MBUS 11111111 has timeout",
        "Object MBUS 11111111 was removed",
    };
    const auto lines = run({"--mbus-id", "0x0A0B0C0D,87654321", "--mbus-id", "0x0A0B0C0D,11111111", "--bus-repeat",
                            "0"},
                           wanted);
    expectAll(lines, wanted);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "READING 0xa0b0c0d 7 0 123456.789"), 1);
}
