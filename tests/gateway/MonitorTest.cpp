// The gwmonitor program as a process of its own against the stand-in: its
// command line and the lines it prints.

#include "tests/gateway/GatewayTestSupport.h"
#include "tests/tools/gwstandin/GatewayStandin.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using standin::GatewayStandin;

// A running gwmonitor whose standard output goes to a file.
class monitorProcess {
public:
    monitorProcess(std::vector<std::string> args, const std::string& output) : output_(output) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        args.insert(args.begin(), GWMONITOR_PATH);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, GWMONITOR_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    monitorProcess(const monitorProcess&) = delete;
    ~monitorProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return pid_ > 0; }

    // The whole lines written so far.
    std::vector<std::string> lines() const {
        std::ifstream in(output_);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::string> out;
        for (std::string line; std::getline(text, line);) out.push_back(line);
        if (!text.str().empty() && text.str().back() != '\n') out.pop_back();
        return out;
    }
    // Until a line equal to `line` (or, with prefix, starting with it) has come.
    bool waitLine(const std::string& line, bool prefix = false) const {
        return eventually([&] {
            for (const std::string& l : lines())
                if (prefix ? l.rfind(line, 0) == 0 : l == line) return true;
            return false;
        });
    }
    // SIGTERM, then the exit status.
    int stop() {
        kill(pid_, SIGTERM);
        return wait();
    }
    // The exit status once the process has ended on its own (-1 when it did
    // not exit by itself).
    int wait() {
        int status = 0;
        pid_t done = 0;
        if (!eventually([&] { return (done = waitpid(pid_, &status, WNOHANG)) != 0; })) return -1;
        pid_ = -1;
        return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::string output_;
    pid_t pid_ = -1;
};

class monitorTest : public deviceFolderTest {
protected:
    void SetUp() override {
        deviceFolderTest::SetUp();
        gw = &gateway("COM3");
    }
    monitorProcess run(std::vector<std::string> args) { return monitorProcess(std::move(args), folder + "/out"); }
    GatewayStandin* gw = nullptr;
};

TEST_F(monitorTest, PrintsLogLinesReadingsAndStateUntilTerminated) {
    monitorProcess monitor = run({"COM3", "--debug", "1"});
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
    monitorProcess monitor = run({"COM3", "--send-read", "0x0a0b0c0d", "--debug", "0"});
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
        monitorProcess monitor = run(args);
        ASSERT_TRUE(monitor.running());
        EXPECT_EQ(monitor.wait(), 2);
        EXPECT_TRUE(monitor.lines().empty());
    }
}

}  // namespace
