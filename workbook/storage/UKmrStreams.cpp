#include "workbook/storage/UKmrStreams.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

void TKmrStream::Seek(std::int64_t position) {
    Assert(position >= 0, "UKmrStreams", "negative stream position");
    FPosition = position;
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

void TKmrFileStream::Write(const void* buffer, std::size_t count) {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(FHandle, in + done, count - done, FPosition + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Raise(ErrCantWriteToFile, FFileName);
        done += static_cast<std::size_t>(n);
    }
    FPosition += static_cast<std::int64_t>(done);
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
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) Raise(ErrCantWriteToFile, fileName);
        const std::string to(link.data(), static_cast<std::size_t>(n));
        name = to.front() == '/' ? to : FolderOf(name) + "/" + to;
    }
    Raise(ErrCantWriteToFile, fileName);
}

// A new file beside target, made with 0666 less the umask.
int CreateTemp(const std::string& fileName, const std::string& target, std::string& temp) {
    // Keep the name within the folder's limit of 255 bytes.
    const std::string base = BaseOf(target).substr(0, 200);
    auto seed = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                (static_cast<unsigned long long>(::getpid()) << 32);
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08llx.tmp", (seed >> 24) & 0xFFFFFFFFULL);
        temp = FolderOf(target) + "/." + base + suffix;
        const int handle = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle >= 0) return handle;
        if (errno != EEXIST) break;
    }
    Raise(ErrCantWriteToFile, fileName);
}

void SyncFolder(const std::string& fileName, const std::string& folder) {
    const int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) Raise(ErrCantWriteToFile, fileName);
    const int result = ::fsync(handle);
    const int error = errno;
    ::close(handle);
    // Some file systems cannot sync a folder; the rename is then as safe as they make it.
    if (result != 0 && error != EINVAL && error != EROFS) Raise(ErrCantWriteToFile, fileName);
}

}  // namespace

TKmrSafeFileStream::TPrepared TKmrSafeFileStream::Prepare(const std::string& fileName, TReplace replace) {
    TPrepared prepared;
    prepared.Target = FollowLinks(fileName);
    struct stat st {};
    const bool exists = ::stat(prepared.Target.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || replace == TReplace::Refuse ||
                   ::faccessat(AT_FDCWD, prepared.Target.c_str(), W_OK, AT_EACCESS) != 0))
        Raise(ErrCantWriteToFile, fileName);
    prepared.Handle = CreateTemp(fileName, prepared.Target, prepared.Temp);
    // Owner and group are kept where the system allows it (the owner only
    // for the superuser); the mode comes after, as a change of owner clears
    // the set-id bits.
    if (exists && ::fchown(prepared.Handle, st.st_uid, st.st_gid) != 0) {
        // Not ours to give away: the new file stays ours, with the old mode.
    }
    if (exists && ::fchmod(prepared.Handle, st.st_mode & 07777) != 0) {
        ::close(prepared.Handle);
        ::unlink(prepared.Temp.c_str());
        Raise(ErrCantWriteToFile, fileName);
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

TKmrSafeFileStream::~TKmrSafeFileStream() {
    if (!FCommitted) ::unlink(FTemp.c_str());
}

// The disk starts taking the bytes while the rest is still being made, so
// the sync at the commit finds little left to wait for.
void TKmrSafeFileStream::Write(const void* buffer, std::size_t count) {
    constexpr std::size_t WritebackPiece = 4 << 20;
    TKmrFileStream::Write(buffer, count);
    FUnstarted += count;
    if (FUnstarted < WritebackPiece) return;
    FUnstarted = 0;
    ::sync_file_range(Handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
}

// With Refuse, a file that appeared since the existence test stays: the
// rename that never replaces is atomic, and where the file system lacks it,
// a hard link (which refuses an existing name too) and an unlink do the same.
void TKmrSafeFileStream::Rename() {
    if (FReplace == TReplace::Allow) {
        if (::rename(FTemp.c_str(), FTarget.c_str()) != 0) Raise(ErrCantWriteToFile, FileName());
        return;
    }
    if (::renameat2(AT_FDCWD, FTemp.c_str(), AT_FDCWD, FTarget.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) Raise(ErrCantWriteToFile, FileName());
    if (::link(FTemp.c_str(), FTarget.c_str()) != 0) Raise(ErrCantWriteToFile, FileName());
    ::unlink(FTemp.c_str());
}

void TKmrSafeFileStream::Commit() {
    if (FCommitted) return;
    if (::fsync(Handle()) != 0) Raise(ErrCantWriteToFile, FileName());
    Rename();
    FCommitted = true;
    SyncFolder(FileName(), FolderOf(FTarget));
}

}  // namespace kalmira
