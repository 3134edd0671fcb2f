#include <sys/stat.h>

#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/storage/UKmrStreams.h"

using namespace kalmira;
namespace fs = std::filesystem;
using TReplace = TKmrSafeFileStream::TReplace;

namespace {

// A fresh folder per test process, removed with everything in it.
struct TempDir : fs::path {
    TempDir() : fs::path(fs::temp_directory_path() / ("orvelo-safe-" + std::to_string(::getpid()))) {
        fs::create_directory(*this);
    }
    ~TempDir() { fs::remove_all(*this); }
    std::string operator[](const char* name) const { return (*this / name).string(); }
    long Count() const { return std::distance(fs::directory_iterator(*this), fs::directory_iterator()); }
};

void Put(const std::string& name, const char* text) { std::ofstream(name) << text; }
std::string Text(const std::string& name) {
    std::ifstream in(name);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void Save(const std::string& name, TReplace replace = TReplace::Allow) {
    TKmrSafeFileStream out(name, replace);
    out.Write("new", 3);
    out.Commit();
}
const std::string CantWrite = "Can't write to file \"";

}  // namespace

// xlsroundtrip in a child process whose files may grow to 8 KB copies a
// 60 KB workbook: the write fails part-way, with no file and with one.
TEST(SafeFileStream, AWriteCutShortLeavesTheTargetAsItWas) {
    const TempDir temp;
    for (const long existed : {0, 1}) {
        if (existed) Put(temp["out.xls"], "the only copy");
        const std::string command = "/bin/sh -c \"ulimit -f 8; trap '' XFSZ; exec " ORVELO_BINARY_DIR
                                    "/tests/tools/xlsroundtrip/xlsroundtrip " +
                                    ole2test::FixtureDir() + "/medium.xls " + temp["out.xls"] + " 2>/dev/null\"";
        EXPECT_EQ(std::system(command.c_str()), 1 << 8);
        EXPECT_EQ(temp.Count(), existed);
    }
    EXPECT_EQ(Text(temp["out.xls"]), "the only copy");
}

// A FIFO or a file that appeared is never opened: nothing blocks or is lost.
TEST(SafeFileStream, AReplaceKeepsModeAndLinkAndRefusesAFifoOrAFileThatAppeared) {
    const TempDir temp;
    Put(temp["target.xls"], "old");
    ::chmod(temp["target.xls"].c_str(), 0604);
    fs::create_symlink("target.xls", temp["link.xls"]);
    Save(temp["link.xls"]);
    EXPECT_TRUE(fs::is_symlink(temp["link.xls"]));
    EXPECT_EQ(Text(temp["target.xls"]), "new");
    EXPECT_EQ(fs::status(temp["target.xls"]).permissions(), fs::perms(0604));
    ASSERT_EQ(::mkfifo(temp["fifo"].c_str(), 0600), 0);
    EXPECT_EQ(MessageOf([&] { Save(temp["fifo"]); }).rfind(CantWrite + temp["fifo"], 0), 0u);
    EXPECT_EQ(MessageOf([&] { TKmrFileStream in(temp["fifo"]); }), "The file \"" + temp["fifo"] + "\" is invalid");
    {
        TKmrSafeFileStream out(temp["late.xls"], TReplace::Refuse);
        Put(temp["late.xls"], "theirs");
        EXPECT_EQ(MessageOf([&] { out.Commit(); }).rfind(CantWrite + temp["late.xls"], 0), 0u);
    }
    EXPECT_EQ(Text(temp["late.xls"]), "theirs");
    EXPECT_EQ(MessageOf([&] { Save(temp["late.xls"], TReplace::Refuse); }).rfind(CantWrite, 0), 0u);
    EXPECT_EQ(temp.Count(), 4);
}
