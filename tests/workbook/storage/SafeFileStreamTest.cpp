#include <csignal>
#include <cstring>
#include <ctime>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
const std::string Roundtrip = ORVELO_BINARY_DIR "/tests/tools/xlsroundtrip/xlsroundtrip";

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// xlsroundtrip IN OUT in a child: its status and the one line it said.
std::pair<int, std::string> RoundTrip(const std::string& in, const std::string& out) {
    const std::string command = Roundtrip + " " + in + " " + out + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string said;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) said += buffer;
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

// The bytes a child writing into folder has put in its file there so far
// (-1 while it has none open).
long long WrittenSoFar(pid_t child, const fs::path& folder) {
    const fs::path fds = "/proc/" + std::to_string(child) + "/fd";
    std::error_code error;
    for (const auto& fd : fs::directory_iterator(fds, error)) {
        const fs::path to = fs::read_symlink(fd.path(), error);
        if (error || to.parent_path() != folder) continue;
        struct stat st {};
        if (::stat(fd.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_size;
    }
    return -1;
}

// A tmpfs of 64 KB over a folder, for as long as it lives; Mounted() is
// false where this process may not mount one.
struct SmallDisk {
    explicit SmallDisk(const fs::path& at) : At(at) {
        fs::create_directory(At);
        Error = ::mount("tmpfs", At.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0 ? 0 : errno;
    }
    ~SmallDisk() {
        if (Mounted()) ::umount2(At.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return Error == 0; }
    bool MakeReadOnly() const { return ::mount(nullptr, At.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=64k") == 0; }
    fs::path At;
    int Error = 0;
};

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

// A save killed at any point leaves the old file and nothing beside it: the
// new file has no name until it is whole. The child is killed when its file
// holds so many bytes; one that was quicker has left the new file whole.
TEST(SafeFileStream, ASaveKilledPartWayLeavesOnlyTheOldFile) {
    const TempDir temp;
    fs::create_directory(temp / "ref");
    ASSERT_EQ(RoundTrip(ole2test::Fixture("big"), temp["ref/out.xls"]).first, 0);
    const auto complete = ole2test::ReadFile(temp["ref/out.xls"]);
    fs::create_directory(temp / "dir");
    const fs::path folder = temp / "dir";
    const std::string out = (folder / "out.xls").string();
    const std::string in = ole2test::Fixture("big");
    for (const long long killAt : {0LL, 1LL << 20, 6LL << 20}) {
        SCOPED_TRACE(killAt);
        Put(out, "the only copy");
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl(Roundtrip.c_str(), Roundtrip.c_str(), in.c_str(), out.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        bool reached = false;
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (WrittenSoFar(child, folder) >= killAt) {
                reached = true;
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                break;
            }
            ::usleep(500);
        }
        EXPECT_TRUE(reached || killAt > 0);
        EXPECT_EQ(Names(folder), std::set<std::string>{"out.xls"});
        const auto now = ole2test::ReadFile(out);
        EXPECT_TRUE(std::string(now.begin(), now.end()) == "the only copy" || now == complete);
    }
}

// Read-only is what the owner meant, whoever saves: even the superuser,
// whom the system would let write, is refused and the file stays.
TEST(SafeFileStream, AReadOnlyTargetIsRefusedWhoeverWrites) {
    const TempDir temp;
    for (const fs::perms mode : {fs::perms(0444), fs::perms(0400), fs::perms(0555), fs::perms(0)}) {
        SCOPED_TRACE(static_cast<int>(mode));
        Put(temp["ro.xls"], "old");
        fs::permissions(temp["ro.xls"], mode);
        EXPECT_EQ(MessageOf([&] { Save(temp["ro.xls"]); }),
                  CantWrite + temp["ro.xls"] + "\". Check it is not in use by another user: Permission denied");
        EXPECT_EQ(fs::status(temp["ro.xls"]).permissions(), mode);
        fs::permissions(temp["ro.xls"], fs::perms(0644));
        EXPECT_EQ(Text(temp["ro.xls"]), "old");
        EXPECT_EQ(temp.Count(), 1);
    }
    Put(temp["ro.xls"], "old");
    fs::permissions(temp["ro.xls"], fs::perms(0444));
    const auto [status, said] = RoundTrip(ole2test::Fixture("small"), temp["ro.xls"]);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(said, CantWrite + temp["ro.xls"] + "\". Check it is not in use by another user: Permission denied\n");
}

// Temporary files that killed writers left are removed by the next save in
// their folder once they are stale: unchanged for minutes and held by no
// writer. A fresh one, one a writer holds, and names of another pattern stay.
TEST(SafeFileStream, StaleTemporaryFilesGoAtTheNextSave) {
    const TempDir temp;
    const std::time_t hourAgo = std::time(nullptr) - 3600;
    const auto make = [&](const char* name, bool old) {
        Put(temp[name], "left");
        if (!old) return;
        const struct timespec times[2] = {{hourAgo, 0}, {hourAgo, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, temp[name].c_str(), times, 0), 0);
    };
    make(".out.xls.0123abcd.tmp", true);
    make(".other.xls.89abcdef.tmp", true);  // another file's, left to its own saves
    make(".out.xls.fedcba98.tmp", false);   // may be a writer's that has not locked it yet
    make(".out.xls.76543210.tmp", true);    // held below, as a live writer holds it
    make("out.xls.0123abcd.tmp", true);     // not hidden
    make(".out.xls.0123ABCD.tmp", true);    // not our digits
    make(".out.xls.0123abc.tmp", true);
    make(".out.xls.tmp", true);
    make(".0123abcd.tmp", true);
    fs::create_directory(temp / ".dir.0123abcd.tmp");
    const int held = ::open(temp[".out.xls.76543210.tmp"].c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    Save(temp["out.xls"]);
    ::close(held);
    EXPECT_EQ(Names(temp), (std::set<std::string>{"out.xls", ".other.xls.89abcdef.tmp", ".out.xls.fedcba98.tmp", ".out.xls.76543210.tmp",
                                                  "out.xls.0123abcd.tmp", ".out.xls.0123ABCD.tmp", ".out.xls.0123abc.tmp",
                                                  ".out.xls.tmp", ".0123abcd.tmp", ".dir.0123abcd.tmp"}));
    // Released, the held one goes at the next save.
    Save(temp["out.xls"]);
    EXPECT_FALSE(fs::exists(temp[".out.xls.76543210.tmp"]));
    EXPECT_EQ(Text(temp["out.xls"]), "new");
}

// A full disk and a read-only file system: the system's reason follows the
// message, and the old file stays alone.
TEST(SafeFileStream, AFullOrReadOnlyDiskSaysWhy) {
    const TempDir temp;
    const SmallDisk disk(temp / "small");
    if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(disk.Error);
    const std::string out = (disk.At / "out.xls").string();
    Put(out, "old");
    const auto full = RoundTrip(ole2test::Fixture("medium"), out);
    EXPECT_EQ(full.first, 1);
    EXPECT_EQ(full.second, CantWrite + out + "\". Check it is not in use by another user: No space left on device\n");
    EXPECT_EQ(Names(disk.At), std::set<std::string>{"out.xls"});
    EXPECT_EQ(Text(out), "old");
    ASSERT_TRUE(disk.MakeReadOnly()) << std::strerror(errno);
    const auto readOnly = RoundTrip(ole2test::Fixture("small"), out);
    EXPECT_EQ(readOnly.first, 1);
    EXPECT_EQ(readOnly.second, CantWrite + out + "\". Check it is not in use by another user: Read-only file system\n");
    EXPECT_EQ(Text(out), "old");
}

// Buffers handed over are written behind the caller, in order, with the
// patches of earlier bytes and the plain writes between them where they
// belong; a stream dropped with buffers still on their way leaves the old
// file alone.
TEST(SafeFileStream, BuffersWrittenBehindLandInOrderWithThePatches) {
    const TempDir temp;
    constexpr std::size_t Capacity = 64 * 1024;
    std::vector<std::uint8_t> expected;
    {
        TKmrSafeFileStream out(temp["out.bin"], TReplace::Allow);
        auto buffer = std::make_unique<std::uint8_t[]>(Capacity);
        for (int i = 0; i < 40; ++i) {
            const std::size_t count = Capacity - static_cast<std::size_t>(i) * 97;  // short ones too
            for (std::size_t k = 0; k < count; ++k) buffer[k] = static_cast<std::uint8_t>(i * 31 + k % 251);
            expected.insert(expected.end(), buffer.get(), buffer.get() + count);
            buffer = out.WriteTaken(std::move(buffer), count, Capacity);
            ASSERT_TRUE(buffer);
            if (i % 7 == 3) {  // a patch some buffers back, then on at the end
                const std::int64_t end = out.Position(), at = end - static_cast<std::int64_t>(2 * Capacity + 5);
                const std::uint8_t patch[] = {0xDE, 0xAD, 0xBE, 0xEF};
                out.Seek(at);
                out.Write(patch, sizeof patch);
                out.Seek(end);
                std::copy(std::begin(patch), std::end(patch), expected.begin() + at);
            }
            if (i % 11 == 5) {
                const std::uint8_t plain[] = {1, 2, 3};
                out.Write(plain, sizeof plain);
                expected.insert(expected.end(), std::begin(plain), std::end(plain));
            }
        }
        EXPECT_EQ(out.Size(), static_cast<std::int64_t>(expected.size()));
        out.Commit();
    }
    std::ifstream in(temp["out.bin"], std::ios::binary);
    const std::vector<std::uint8_t> written{std::istreambuf_iterator<char>(in), {}};
    EXPECT_TRUE(written == expected) << written.size() << " bytes written, " << expected.size() << " expected";

    Put(temp["kept.bin"], "old");
    {
        TKmrSafeFileStream out(temp["kept.bin"], TReplace::Allow);
        auto buffer = std::make_unique<std::uint8_t[]>(Capacity);
        for (int i = 0; i < 8; ++i) buffer = out.WriteTaken(std::move(buffer), Capacity, Capacity);
    }
    EXPECT_EQ(Text(temp["kept.bin"]), "old");
    EXPECT_EQ(temp.Count(), 2);

    // A write that fails behind the caller raises at a later call, with the
    // system's reason.
    const SmallDisk disk(temp / "small");
    if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(disk.Error);
    const std::string full = (disk.At / "full.bin").string();
    Put(full, "old");
    std::string said;
    try {
        TKmrSafeFileStream out(full, TReplace::Allow);
        auto buffer = std::make_unique<std::uint8_t[]>(Capacity);
        for (int i = 0; i < 16; ++i) buffer = out.WriteTaken(std::move(buffer), Capacity, Capacity);
        out.Commit();
    } catch (const std::exception& e) {
        said = e.what();
    }
    EXPECT_EQ(said, CantWrite + full + "\". Check it is not in use by another user: No space left on device");
    EXPECT_EQ(Text(full), "old");
    EXPECT_EQ(Names(disk.At), std::set<std::string>{"full.bin"});
}

// A buffer that comes back holds the capacity asked for at that call, also
// when the caller's buffers were of other sizes before: the caller fills it
// whole.
TEST(SafeFileStream, BuffersWrittenBehindComeBackAsLargeAsAsked) {
    const TempDir temp;
    constexpr std::size_t Large = 128 * 1024, Small = 16 * 1024;
    struct TStep {
        std::size_t Capacity;
        std::uint8_t Fill;
    };
    const TStep steps[] = {{Large, 1}, {Small, 2}, {Small, 3}, {Large, 4}, {Large, 5}, {Small, 6}, {Large, 7}};
    std::vector<std::uint8_t> expected;
    {
        TKmrSafeFileStream out(temp["sizes.bin"], TReplace::Allow);
        std::unique_ptr<std::uint8_t[]> buffer;
        std::size_t held = 0;  // the room of the buffer in hand
        for (const auto& [capacity, fill] : steps) {
            // A caller with buffers of its own size.
            if (held != capacity) buffer = std::make_unique<std::uint8_t[]>(held = capacity);
            std::memset(buffer.get(), fill, capacity);
            expected.insert(expected.end(), capacity, fill);
            buffer = out.WriteTaken(std::move(buffer), capacity, capacity);
            ASSERT_TRUE(buffer);
            std::memset(buffer.get(), 0xEE, capacity);  // the room it came back with
            EXPECT_EQ(out.Size(), static_cast<std::int64_t>(expected.size()));  // every buffer written is a spare
        }
        out.Commit();
    }
    std::ifstream in(temp["sizes.bin"], std::ios::binary);
    const std::vector<std::uint8_t> written{std::istreambuf_iterator<char>(in), {}};
    EXPECT_TRUE(written == expected) << written.size() << " bytes written, " << expected.size() << " expected";
}
