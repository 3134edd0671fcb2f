#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "tests/workbook/storage/MessageOf.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/storage/UKmrStreams.h"

using namespace kalmira;
namespace fs = std::filesystem;

namespace {

class SafeFileStream : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "orvelo-safe-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const char* name) const { return (dir / name).string(); }
    void Put(const char* name, const std::string& text) const { std::ofstream(Path(name), std::ios::binary) << text; }
    std::string Text(const char* name) const {
        std::ifstream in(Path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
        return names;
    }
    static void Save(const std::string& name, const std::string& text,
                     TKmrSafeFileStream::TReplace replace = TKmrSafeFileStream::TReplace::Allow) {
        TKmrSafeFileStream out(name, replace);
        out.Write(text.data(), text.size());
        out.Commit();
    }
    static std::string CantWrite(const std::string& name) {
        return "Can't write to file \"" + name + "\". Check it is not in use by another user";
    }

    fs::path dir;
};

}  // namespace

// xlsroundtrip in a child process whose files may grow to 8 KB: the copy
// of a 60 KB workbook fails part-way.
TEST_F(SafeFileStream, AWriteCutShortLeavesTheTargetAsItWas) {
    const std::string tool = std::string(ORVELO_BINARY_DIR) + "/tests/tools/xlsroundtrip/xlsroundtrip";
    const std::string in = ole2test::FixtureDir() + "/medium.xls";
    for (const bool existed : {false, true}) {
        SCOPED_TRACE(existed);
        if (existed) Put("out.xls", "the user's only copy");
        const std::string command = "ulimit -f 8; trap '' XFSZ; exec '" + tool + "' '" + in + "' '" +
                                    Path("out.xls") + "' 2>/dev/null";
        const int status = std::system(("/bin/sh -c \"" + command + "\"").c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(Names(), existed ? std::set<std::string>{"out.xls"} : std::set<std::string>{});
        if (existed) EXPECT_EQ(Text("out.xls"), "the user's only copy");
    }
}

TEST_F(SafeFileStream, AReplaceKeepsTheModeAndASymbolicLink) {
    Put("target.xls", "old");
    ::chmod(Path("target.xls").c_str(), 0604);
    fs::create_symlink("target.xls", dir / "link.xls");
    Save(Path("link.xls"), "new");
    EXPECT_TRUE(fs::is_symlink(dir / "link.xls"));
    EXPECT_EQ(Text("target.xls"), "new");
    struct stat st {};
    ASSERT_EQ(::stat(Path("target.xls").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);

    const mode_t old = ::umask(027);
    Save(Path("fresh.xls"), "x");
    ::umask(old);
    ASSERT_EQ(::stat(Path("fresh.xls").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(), (std::set<std::string>{"fresh.xls", "link.xls", "target.xls"}));
}

// Nothing that is not a regular file is opened, so none of these can block.
TEST_F(SafeFileStream, NamesThatAreNoRegularFileAreRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    for (const std::string name : {Path("fifo"), Path("folder"), std::string("/dev/null")}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(MessageOf([&] { Save(name, "x"); }), CantWrite(name));
        EXPECT_EQ(MessageOf([&] { TKmrFileStream read(name); }), "The file \"" + name + "\" is invalid");
    }
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_EQ(Names(), (std::set<std::string>{"fifo", "folder"}));
}

TEST_F(SafeFileStream, AFileThatAppearsBeforeTheCommitIsNotReplaced) {
    const auto refuse = TKmrSafeFileStream::TReplace::Refuse;
    Put("there.xls", "kept");
    EXPECT_EQ(MessageOf([&] { Save(Path("there.xls"), "x", refuse); }), CantWrite(Path("there.xls")));
    {
        TKmrSafeFileStream out(Path("late.xls"), refuse);
        out.Write("mine", 4);
        Put("late.xls", "theirs");
        EXPECT_EQ(MessageOf([&] { out.Commit(); }), CantWrite(Path("late.xls")));
    }
    EXPECT_EQ(Text("late.xls"), "theirs");
    EXPECT_EQ(Text("there.xls"), "kept");
    Save(Path("new.xls"), "made", refuse);
    EXPECT_EQ(Text("new.xls"), "made");
    EXPECT_EQ(Names(), (std::set<std::string>{"late.xls", "new.xls", "there.xls"}));
}
