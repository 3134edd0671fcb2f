// The built program, started from outside with the dialogs answered
// automatically and the offscreen platform.
#include "tests/tools/support/TestSupport.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const std::string kProgram = ORVELO_BINARY_DIR "/app/orvelo";

class Program {
public:
    // Starts the program with its standard error going to errFile.
    Program(const std::vector<std::string>& env, const std::string& errFile) {
        pid_ = ::fork();
        if (pid_ != 0) return;
        for (const std::string& v : env) ::putenv(const_cast<char*>(v.c_str()));
        ::dup2(::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        ::execl(kProgram.c_str(), kProgram.c_str(), nullptr);
        ::_exit(127);
    }
    ~Program() { Stop(SIGKILL); }

    bool Running() {
        if (pid_ > 0 && !done_) done_ = ::waitpid(pid_, &status_, WNOHANG) == pid_;
        return pid_ > 0 && !done_;
    }
    // The exit status; waits (generously) against a hang, then kills.
    int Wait() {
        for (int i = 0; i < 6000 && Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!Running()) return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
        done_ = true;
        return -1;
    }
    void Stop(int signal = SIGTERM) {
        if (Running()) ::kill(pid_, signal);
        Wait();
    }

private:
    pid_t pid_ = -1;
    bool done_ = false;
    int status_ = 0;
};

class ProgramTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string runtime = dir.File("run");
    std::string logdir = dir.File("log");
    std::string store = dir.File("registry");

    void SetUp() override {
        std::filesystem::create_directory(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        std::filesystem::create_directory(logdir);
    }

    std::vector<std::string> Env(const std::string& registry) const {
        return {"ORVELO_REGISTRY=" + registry, "ORVELO_DIALOGS=auto", "QT_QPA_PLATFORM=offscreen",
                "XDG_RUNTIME_DIR=" + runtime, "ORVELO_DIALOG_ANSWER=ok"};
    }

    // The day's log file once it holds the start-up lines.
    std::string WaitForStartLines() const {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (std::chrono::steady_clock::now() < deadline) {
            for (const auto& entry : std::filesystem::directory_iterator(logdir)) {
                std::string text = ReadFile(entry.path());
                if (text.find("Program spusten") != std::string::npos && text.back() == '\n')
                    return entry.path().filename().string() + "\n" + text;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return {};
    }
};

// The dialog lines of a run, without what the sanitizers and Qt add.
std::string Boxes(const std::string& errFile) {
    std::istringstream in(ReadFile(errFile));
    std::string boxes;
    for (std::string line; std::getline(in, line);)
        if (line.find('|') != std::string::npos) boxes += line + "\n";
    return boxes;
}

std::string Today(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

}  // namespace

// A missing store ends with its box and status 255, no display with its
// one line and status 1.
TEST_F(ProgramTest, AMissingStoreOrDisplayEndsTheProgramWithItsMessage) {
    Program missing(Env(dir.File("chybi")), dir.File("err1"));
    EXPECT_EQ(missing.Wait(), 255);
    EXPECT_EQ(Boxes(dir.File("err1")), "Chyba|Nenalezen konfigurační registr.\n");
    EXPECT_TRUE(std::filesystem::is_empty(logdir));
    Program headless({"ORVELO_REGISTRY=" + store, "QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="}, dir.File("err2"));
    EXPECT_EQ(headless.Wait(), 1);
    EXPECT_EQ(ReadFile(dir.File("err2")), "Orvelo potřebuje grafické prostředí (DISPLAY nebo WAYLAND_DISPLAY).\n");
}

TEST_F(ProgramTest, MasterStartAppendsTheStartLinesAndASecondCopyIsRefused) {
    WriteFile(store, "logdir=" + logdir + "\nusbCom=COM3\noffline=n\n");
    // A line of an earlier start today stays in front of the new ones.
    const std::string earlier = "01.01.2026 00:00:00 : star\xE1 \xF8\xE1" "dka\n";
    const std::string todaysName = "imlog" + Today("%d%m%y") + ".txt";
    WriteFile(logdir + "/" + todaysName, earlier);

    Program first(Env(store), dir.File("err1"));
    std::string found = WaitForStartLines();
    ASSERT_FALSE(found.empty()) << ReadFile(dir.File("err1"));
    std::string name = found.substr(0, found.find('\n'));
    std::string text = found.substr(name.size() + 1);
    if (name == todaysName) {
        ASSERT_EQ(text.rfind(earlier, 0), 0u);
        text = text.substr(earlier.size());
    }
    // Two dated lines in code page 1250: "mód" is 6D F3 64.
    std::regex lines("(\\d\\d)\\.(\\d\\d)\\.\\d\\d(\\d\\d) \\d\\d:\\d\\d:\\d\\d : Master m\xF3" "d\n"
                     "\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d : Program spusten : (.*)\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, lines)) << text;
    EXPECT_EQ(name, "imlog" + m[1].str() + m[2].str() + m[3].str() + ".txt");
    EXPECT_EQ(std::filesystem::canonical(m[4].str()), std::filesystem::canonical(kProgram));

    Program second(Env(store), dir.File("err2"));
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_EQ(Boxes(dir.File("err2")),
              "Upozornění|Aplikace Orvelo je již jednou spuštěna. Nelze spustit další kopii.\n");
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(Boxes(dir.File("err1")), "");  // no box in the first
    first.Stop();
}
