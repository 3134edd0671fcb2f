#include "workbook/storage/UKmrStreams.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

// The write-failure text followed by the system's reason.
void RaiseCantWrite(const std::string& fileName, int error) {
    throw Exception(FormatMessage(ErrCantWriteToFile, {fileName}) + ": " + std::strerror(error));
}

void TKmrStream::Seek(std::int64_t position) {
    Assert(position >= 0, "UKmrStreams", "negative stream position");
    FPosition = position;
}

std::unique_ptr<std::uint8_t[]> TKmrStream::WriteTaken(std::unique_ptr<std::uint8_t[]> buffer, std::size_t count,
                                                       std::size_t) {
    Write(buffer.get(), count);
    return buffer;
}

namespace {

// Copies up to count bytes at position out of bytes and advances it.
std::size_t ReadBytes(const std::vector<std::uint8_t>& bytes, std::int64_t& position, void* buffer, std::size_t count) {
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (position >= size || count == 0) return 0;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), size - position));
    std::memcpy(buffer, bytes.data() + position, n);
    position += static_cast<std::int64_t>(n);
    return n;
}

}  // namespace

std::size_t TKmrMemoryStream::Read(void* buffer, std::size_t count) { return ReadBytes(FBytes, FPosition, buffer, count); }

void TKmrMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return;
    const auto end = static_cast<std::size_t>(FPosition) + count;
    if (end > FBytes.size()) FBytes.resize(end);  // the gap, if any, is zeros
    std::memcpy(FBytes.data() + FPosition, buffer, count);
    FPosition = static_cast<std::int64_t>(end);
}

std::vector<std::uint8_t> TKmrMemoryStream::TakeBytes() {
    FPosition = 0;
    return std::exchange(FBytes, {});
}

std::size_t TKmrByteView::Read(void* buffer, std::size_t count) { return ReadBytes(FBytes, FPosition, buffer, count); }

void TKmrByteView::Write(const void*, std::size_t) { Assert(false, "UKmrStreams", "a byte view is written"); }

std::unique_ptr<TKmrStream> TKmrByteView::ReadingCopy() const { return std::make_unique<TKmrByteView>(FBytes); }

std::unique_ptr<TKmrStream> TKmrMemoryStream::ReadingCopy() const { return std::make_unique<TKmrByteView>(FBytes); }

TKmrFileStream::TKmrFileStream(const std::string& fileName, TMode) : FFileName(fileName) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    FHandle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (FHandle < 0) Raise(ErrCantFindFile, fileName);
    struct stat st {};
    if (::fstat(FHandle, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(FHandle);
        FHandle = -1;
        Raise(ErrFileIsNotXLS, fileName);
    }
    ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) & ~O_NONBLOCK);
}

TKmrFileStream::~TKmrFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

std::unique_ptr<TKmrStream> TKmrFileStream::ReadingCopy() const {
    const int handle = ::fcntl(FHandle, F_DUPFD_CLOEXEC, 0);
    if (handle < 0) return nullptr;
    return std::unique_ptr<TKmrStream>(new TKmrFileStream(FFileName, handle));
}

std::size_t TKmrFileStream::Read(void* buffer, std::size_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(FHandle, out + done, count - done, FPosition + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Raise(ErrFileIsNotXLS, FFileName);
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    FPosition += static_cast<std::int64_t>(done);
    return done;
}

namespace {
// 0, or the system's reason why not every byte went to the file.
int WriteAll(int handle, const std::uint8_t* bytes, std::size_t count, std::int64_t position) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(handle, bytes + done, count - done, position + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        // A write that takes nothing and says no reason has met the end of the room.
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}
}  // namespace

void TKmrFileStream::Write(const void* buffer, std::size_t count) {
    if (const int error = WriteAll(FHandle, static_cast<const std::uint8_t*>(buffer), count, FPosition))
        RaiseCantWrite(FFileName, error);
    FPosition += static_cast<std::int64_t>(count);
}

std::int64_t TKmrFileStream::Size() const {
    struct stat st {};
    if (::fstat(FHandle, &st) != 0) Raise(ErrFileIsNotXLS, FFileName);
    return st.st_size;
}

// ---------------------------------------------------------------------------
// Replacing a file whole

namespace {

constexpr int MaxLinkDepth = 40;  // as the kernel's own limit on links
// A temporary file is ".NAME.XXXXXXXX.tmp": eight hexadecimal digits.
constexpr std::string_view TempSuffix = ".tmp";
constexpr std::size_t TempDigits = 8;
// A temporary file left behind counts as stale only when no writer holds
// it and it has not changed for this long.
constexpr long StaleSeconds = 10 * 60;

std::string FolderOf(const std::string& name) {
    const auto slash = name.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

std::string BaseOf(const std::string& name) {
    const auto slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Follows symbolic links to the file they name, which need not exist yet.
std::string FollowLinks(const std::string& fileName) {
    std::string name = fileName;
    for (int depth = 0; depth < MaxLinkDepth; ++depth) {
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
        std::vector<char> link(PATH_MAX + 1);
        const ssize_t n = ::readlink(name.c_str(), link.data(), link.size());
        if (n < 0) RaiseCantWrite(fileName, errno);
        if (n == 0 || static_cast<std::size_t>(n) >= link.size()) RaiseCantWrite(fileName, ENAMETOOLONG);
        const std::string to(link.data(), static_cast<std::size_t>(n));
        name = to.front() == '/' ? to : FolderOf(name) + "/" + to;
    }
    RaiseCantWrite(fileName, ELOOP);
}

// Random temporary names beside target.
class TTempNames {
public:
    explicit TTempNames(const std::string& target)
        : FPrefix(FolderOf(target) + "/." + BaseOf(target).substr(0, 200)),  // within the folder's 255 bytes
          FSeed(static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                (static_cast<unsigned long long>(::getpid()) << 32)) {}
    std::string Next() {
        FSeed = FSeed * 6364136223846793005ULL + 1442695040888963407ULL;
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08llx.tmp", (FSeed >> 24) & 0xFFFFFFFFULL);
        return FPrefix + suffix;
    }

private:
    std::string FPrefix;
    unsigned long long FSeed;
};

// A new file beside target, made with 0666 less the umask: unnamed where
// the file system can (nothing is left behind by a writer that is killed),
// else under a temporary name. The writer holds a lock on it while it
// lives, by which a later save tells a live writer's file from a stale one.
int CreateTemp(const std::string& fileName, const std::string& target, std::string& temp) {
    temp.clear();
    // Linking it in needs the process's view of its handles (see LinkHandle).
    const bool unnamed = ::access("/proc/self/fd", X_OK) == 0;
    int handle = unnamed ? ::open(FolderOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666) : -1;
    if (handle < 0 && unnamed && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        RaiseCantWrite(fileName, errno);
    TTempNames names(target);
    for (int attempt = 0; handle < 0 && attempt < 100; ++attempt) {
        temp = names.Next();
        handle = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle < 0 && errno != EEXIST) RaiseCantWrite(fileName, errno);
    }
    if (handle < 0) RaiseCantWrite(fileName, EEXIST);
    ::flock(handle, LOCK_EX | LOCK_NB);
    return handle;
}

// ".BASE.XXXXXXXX.tmp": a temporary of the file base, as TTempNames makes them.
bool IsTempName(std::string_view name, std::string_view base) {
    constexpr std::size_t tail = 1 + TempDigits + TempSuffix.size();  // ".XXXXXXXX.tmp"
    if (name.size() != 1 + base.size() + tail || name.front() != '.' || name.substr(1, base.size()) != base ||
        !name.ends_with(TempSuffix))
        return false;
    const std::string_view digits = name.substr(name.size() - TempSuffix.size() - TempDigits, TempDigits);
    return name[name.size() - tail] == '.' &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Removes one temporary file when it is stale: ours (same owner), a
// regular file, unchanged for StaleSeconds, and held by no writer (its
// lock is free). The name must still be the file that was judged.
void RemoveIfStale(int folder, const char* name, std::time_t now) {
    const int handle = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) return;
    struct stat st {}, again {};
    const bool stale = ::fstat(handle, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                       now - st.st_mtime >= StaleSeconds && ::flock(handle, LOCK_EX | LOCK_NB) == 0 &&
                       ::fstatat(folder, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && again.st_ino == st.st_ino &&
                       again.st_dev == st.st_dev;
    if (stale) ::unlinkat(folder, name, 0);
    ::close(handle);
}

// Temporary files that killed writers of target left beside it go at its
// next save (only target's: a file of another name is none of this save's
// business); nothing here can make the save fail.
void RemoveStaleTemps(const std::string& target) {
    const std::string base = BaseOf(target).substr(0, 200);
    const int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return;
    DIR* dir = ::fdopendir(::dup(folder));
    if (dir) {
        const std::time_t now = std::time(nullptr);
        std::vector<std::string> candidates;
        while (const dirent* entry = ::readdir(dir))
            if (IsTempName(entry->d_name, base)) candidates.emplace_back(entry->d_name);
        ::closedir(dir);
        for (const std::string& name : candidates) RemoveIfStale(folder, name.c_str(), now);
    }
    ::close(folder);
}

void SyncFolder(const std::string& fileName, const std::string& folder) {
    const int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) RaiseCantWrite(fileName, errno);
    const int result = ::fsync(handle);
    const int error = errno;
    ::close(handle);
    // Some file systems cannot sync a folder; the rename is then as safe as they make it.
    if (result != 0 && error != EINVAL && error != EROFS) RaiseCantWrite(fileName, error);
}

// Gives an unnamed file the name, which must not exist yet: through the
// process's own view of its handles, or, should /proc have gone since the
// file was made, by the handle itself (which takes the right to read any
// file).
bool LinkHandle(int handle, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(handle);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0) return false;
    return ::linkat(handle, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
}

}  // namespace

// A target with no write permission bit is refused whoever asks (the
// superuser's right to write it notwithstanding): read-only is what its
// owner meant it to be.
TKmrSafeFileStream::TPrepared TKmrSafeFileStream::Prepare(const std::string& fileName, TReplace replace) {
    TPrepared prepared;
    prepared.Target = FollowLinks(fileName);
    struct stat st {};
    const bool exists = ::stat(prepared.Target.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || replace == TReplace::Refuse)) Raise(ErrCantWriteToFile, fileName);
    if (exists && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) RaiseCantWrite(fileName, EACCES);
    if (exists && ::faccessat(AT_FDCWD, prepared.Target.c_str(), W_OK, AT_EACCESS) != 0)
        RaiseCantWrite(fileName, errno);
    RemoveStaleTemps(prepared.Target);
    prepared.Handle = CreateTemp(fileName, prepared.Target, prepared.Temp);
    // Owner and group are kept where the system allows it (the owner only
    // for the superuser); the mode comes after, as a change of owner clears
    // the set-id bits.
    if (exists && ::fchown(prepared.Handle, st.st_uid, st.st_gid) != 0) {
        // Not ours to give away: the new file stays ours, with the old mode.
    }
    if (exists && ::fchmod(prepared.Handle, st.st_mode & 07777) != 0) {
        const int error = errno;
        ::close(prepared.Handle);
        if (!prepared.Temp.empty()) ::unlink(prepared.Temp.c_str());
        RaiseCantWrite(fileName, error);
    }
    return prepared;
}

TKmrSafeFileStream::TKmrSafeFileStream(const std::string& fileName, TReplace replace)
    : TKmrSafeFileStream(fileName, replace, Prepare(fileName, replace)) {}

TKmrSafeFileStream::TKmrSafeFileStream(const std::string& fileName, TReplace replace, TPrepared prepared)
    : TKmrFileStream(fileName, prepared.Handle),
      FTarget(std::move(prepared.Target)),
      FTemp(std::move(prepared.Temp)),
      FReplace(replace) {}

// The buffers on their way to the file, written in the order handed
// over. Two at most are on their way (one being written): a caller that
// fills faster waits. Written buffers come back to be filled again.
class TKmrSafeFileStream::TWriteBehind {
public:
    using TBuffer = std::unique_ptr<std::uint8_t[]>;

    // The spares' room is taken now: the thread keeps a buffer without
    // asking for memory.
    explicit TWriteBehind(TKmrSafeFileStream& stream)
        : FStream(stream), FSpare(Reserved()), FThread([this] { Run(); }) {}
    ~TWriteBehind() {
        {
            std::lock_guard lock(FMutex);
            FStop = true;
        }
        FChanged.notify_all();
        FThread.join();
    }

    // The buffer to fill next, once there is room.
    TBuffer Hand(TBuffer buffer, std::size_t count, std::int64_t position, std::size_t capacity) {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [this] { return FJobs.size() + (FBusy ? 1 : 0) < MaxInFlight || FError != 0; });
        if (FError == 0) FJobs.push_back({std::move(buffer), count, position, capacity});
        TBuffer next;
        // A spare is as large as the call that handed it over said.
        const auto spare = std::find_if(FSpare.begin(), FSpare.end(),
                                        [capacity](const TSpare& s) { return s.Capacity >= capacity; });
        if (spare != FSpare.end()) {
            next = std::move(spare->Bytes);
            FSpare.erase(spare);
        }
        const int error = FError;
        lock.unlock();
        FChanged.notify_all();
        if (error != 0) RaiseCantWrite(FStream.FileName(), error);
        return next ? std::move(next) : std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    }

    // Everything handed over is in the file: 0, or the first failure.
    int Wait() {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [this] { return (FJobs.empty() && !FBusy) || FError != 0; });
        return FError;
    }

private:
    static constexpr std::size_t MaxInFlight = 2;
    struct TJob {
        TBuffer Bytes;
        std::size_t Count;
        std::int64_t Position;
        std::size_t Capacity;
    };
    struct TSpare {
        TBuffer Bytes;
        std::size_t Capacity;
    };
    static std::vector<TSpare> Reserved() {
        std::vector<TSpare> spares;
        spares.reserve(MaxInFlight);
        return spares;
    }

    void Run() {
        std::unique_lock lock(FMutex);
        for (;;) {
            FChanged.wait(lock, [this] { return FStop || !FJobs.empty(); });
            if (FJobs.empty()) return;
            TJob job = std::move(FJobs.front());
            FJobs.pop_front();
            FBusy = true;
            const bool failed = FError != 0;
            lock.unlock();
            const int error = failed ? 0 : FStream.WriteAt(job.Bytes.get(), job.Count, job.Position);
            lock.lock();
            FBusy = false;
            if (error != 0 && FError == 0) FError = error;
            if (FSpare.size() < MaxInFlight) FSpare.push_back({std::move(job.Bytes), job.Capacity});  // room reserved
            FChanged.notify_all();
        }
    }

    TKmrSafeFileStream& FStream;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::deque<TJob> FJobs;
    std::vector<TSpare> FSpare;
    int FError = 0;
    bool FBusy = false;
    bool FStop = false;
    std::thread FThread;  // last: it starts once the rest is made
};

// An unnamed file goes with its handle; the write-behind thread ends
// before the handle closes.
TKmrSafeFileStream::~TKmrSafeFileStream() {
    FBehind.reset();
    if (!FCommitted && !FTemp.empty()) ::unlink(FTemp.c_str());
}

// The disk starts taking the bytes while the rest is still being made, so
// the sync at the commit finds little left to wait for.
int TKmrSafeFileStream::WriteAt(const std::uint8_t* bytes, std::size_t count, std::int64_t position) {
    constexpr std::size_t WritebackPiece = 4 << 20;
    if (const int error = WriteAll(Handle(), bytes, count, position)) return error;
    FUnstarted += count;
    if (FUnstarted < WritebackPiece) return 0;
    FUnstarted = 0;
    ::sync_file_range(Handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
    return 0;
}

void TKmrSafeFileStream::Drain() const {
    if (!FBehind) return;
    if (const int error = FBehind->Wait()) RaiseCantWrite(FileName(), error);
}

void TKmrSafeFileStream::Write(const void* buffer, std::size_t count) {
    Drain();
    if (const int error = WriteAt(static_cast<const std::uint8_t*>(buffer), count, FPosition))
        RaiseCantWrite(FileName(), error);
    FPosition += static_cast<std::int64_t>(count);
}

std::unique_ptr<std::uint8_t[]> TKmrSafeFileStream::WriteTaken(std::unique_ptr<std::uint8_t[]> buffer,
                                                               std::size_t count, std::size_t capacity) {
    if (!FBehind) {
        try {
            FBehind = std::make_unique<TWriteBehind>(*this);
        } catch (const std::system_error&) {
            // No thread to be had: written here and now.
            return TKmrStream::WriteTaken(std::move(buffer), count, capacity);
        }
    }
    auto next = FBehind->Hand(std::move(buffer), count, FPosition, capacity);
    FPosition += static_cast<std::int64_t>(count);
    return next;
}

std::size_t TKmrSafeFileStream::Read(void* buffer, std::size_t count) {
    Drain();
    return TKmrFileStream::Read(buffer, count);
}

std::int64_t TKmrSafeFileStream::Size() const {
    Drain();
    return TKmrFileStream::Size();
}

// An unnamed file is linked in: with Refuse straight under the target's
// name, which fails when a file appeared there; with Allow under a
// temporary name first, which the rename then puts over the target (no
// link replaces a name). A writer killed between the two leaves a whole
// file, under its lock no longer, for the next save to remove.
void TKmrSafeFileStream::LinkIn() {
    if (FReplace == TReplace::Refuse) {
        if (!LinkHandle(Handle(), FTarget)) RaiseCantWrite(FileName(), errno);
        return;
    }
    TTempNames names(FTarget);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = names.Next();
        if (LinkHandle(Handle(), temp)) {
            FTemp = temp;
            return Rename();
        }
        if (errno != EEXIST) RaiseCantWrite(FileName(), errno);
    }
    RaiseCantWrite(FileName(), EEXIST);
}

// With Refuse, a file that appeared since the existence test stays: the
// rename that never replaces is atomic, and where the file system lacks it,
// a hard link (which refuses an existing name too) and an unlink do the same.
void TKmrSafeFileStream::Rename() {
    if (FReplace == TReplace::Allow) {
        if (::rename(FTemp.c_str(), FTarget.c_str()) != 0) RaiseCantWrite(FileName(), errno);
        return;
    }
    if (::renameat2(AT_FDCWD, FTemp.c_str(), AT_FDCWD, FTarget.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) RaiseCantWrite(FileName(), errno);
    if (::link(FTemp.c_str(), FTarget.c_str()) != 0) RaiseCantWrite(FileName(), errno);
    ::unlink(FTemp.c_str());
}

void TKmrSafeFileStream::Commit() {
    if (FCommitted) return;
    Drain();
    if (::fsync(Handle()) != 0) RaiseCantWrite(FileName(), errno);
    if (FTemp.empty()) LinkIn();
    else Rename();
    FCommitted = true;
    SyncFolder(FileName(), FolderOf(FTarget));
}

}  // namespace kalmira
