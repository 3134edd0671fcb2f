// The gwmonitor program as a process of its own against the stand-in: its
// command line and the lines it prints.

#include "tests/gateway/GatewayTestSupport.h"
#include "tests/tools/gwstandin/GatewayStandin.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using standin::GatewayStandin;

// A running gwmonitor whose standard output is read line by line.
class monitorProcess {
public:
    explicit monitorProcess(std::vector<std::string> args) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        args.insert(args.begin(), GWMONITOR_PATH);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, GWMONITOR_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~monitorProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    bool running() const { return pid_ > 0; }

    // Reads on until a line equal to `line` (or, with prefix, starting with
    // it) has come; false at the end of the output or after the limit.
    bool waitLine(const std::string& line, bool prefix = false, std::chrono::milliseconds limit = 15s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (; seen_ < lines_.size(); ++seen_) {
                const std::string& l = lines_[seen_];
                if (prefix ? l.rfind(line, 0) == 0 : l == line) {
                    ++seen_;
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) return false;
        }
    }
    // SIGTERM, then the exit status (-1 when it did not exit by itself).
    int stop() {
        kill(pid_, SIGTERM);
        return wait();
    }
    // The exit status once the process has ended on its own.
    int wait() {
        while (readSome(15000)) {
        }
        int status = 0;
        const pid_t done = waitpid(pid_, &status, 0);
        pid_ = -1;
        return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    bool readSome(int timeoutMs) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        char buf[4096];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return false;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                partial_ += buf[i];
                continue;
            }
            lines_.push_back(partial_);
            partial_.clear();
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    std::size_t seen_ = 0;
};

class monitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvelo-dev-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        setenv("ORVELO_DEVICE_DIR", folder.c_str(), 1);
        gw = std::make_unique<GatewayStandin>(folder, "COM3");
    }
    void TearDown() override {
        gw.reset();
        fs::remove_all(folder);
        unsetenv("ORVELO_DEVICE_DIR");
    }
    std::string folder;
    std::unique_ptr<GatewayStandin> gw;
};

TEST_F(monitorTest, PrintsLogLinesReadingsAndStateUntilTerminated) {
    monitorProcess monitor({"COM3", "--debug", "1"});
    ASSERT_TRUE(monitor.running());
    ASSERT_TRUE(monitor.waitLine("STATE ONLINE 0x01020304"));
    ASSERT_TRUE(monitor.waitLine("Interface Serial : COM3 has RF addr 01020304 on channel 2 tid ", true));
    // OID 100/0 = 1234, OID 105/0 = 215, OID 106/1 = -3 (a signed value).
    ASSERT_TRUE(gw->sendRfPacket(hex("01 02 03 04 0A 0B 0C 0D 22 00 05 C0 64 00 22 04 D2 C0 69 00 21 D7 C0 6A 01 31 FD"), -70));
    ASSERT_TRUE(monitor.waitLine("READING 0xa0b0c0d 0 0 1234"));
    ASSERT_TRUE(monitor.waitLine("Addr 0xa0b0c0d , Index 0 ,hodnota 1234 tid ", true));
    ASSERT_TRUE(monitor.waitLine("READING 0xa0b0c0d 1 0 21.5"));
    ASSERT_TRUE(monitor.waitLine("READING 0xa0b0c0d 2 1 -0.003"));
    EXPECT_EQ(monitor.stop(), 0);
    ASSERT_FALSE(monitor.lines().empty());
    EXPECT_EQ(monitor.lines().back().rfind("Interface Serial : COM3 was disconnected tid ", 0), 0u);
    EXPECT_EQ(monitor.lines()[monitor.lines().size() - 2], "STATE OFFLINE");
    EXPECT_FALSE(gw->isHeld());
}

TEST_F(monitorTest, SendsOneReadRequestOnceOnline) {
    monitorProcess monitor({"COM3", "--send-read", "0x0a0b0c0d", "--debug", "0"});
    ASSERT_TRUE(eventually([&] { return !gw->rfSends().empty(); }));
    const std::vector<standin::RfSend> sends = gw->rfSends();
    EXPECT_EQ(sends[0].parameter, 3000u);
    EXPECT_EQ(sends[0].packet, hex("0A 0B 0C 0D 01 02 03 04 07 00 01 02"));
    EXPECT_EQ(monitor.stop(), 0);
    EXPECT_EQ(gw->rfSends().size(), 1u);
    // At level 0: the link, then the loss.
    ASSERT_EQ(monitor.lines().size(), 4u);
    EXPECT_EQ(monitor.lines()[0], "STATE ONLINE 0x01020304");
    EXPECT_EQ(monitor.lines()[2], "STATE OFFLINE");
}

TEST_F(monitorTest, RefusesABadCommandLine) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"COM3", "--debug"}, {"COM3", "--debug", "7"},
                                          {"COM3", "--send-read", "zz"}, {"COM3", "--other", "1"}}) {
        monitorProcess monitor(args);
        ASSERT_TRUE(monitor.running());
        EXPECT_EQ(monitor.wait(), 2);
        EXPECT_TRUE(monitor.lines().empty());
    }
}

}  // namespace
