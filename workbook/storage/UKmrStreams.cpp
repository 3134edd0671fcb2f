#include "workbook/storage/UKmrStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

void TKmrStream::Seek(std::int64_t position) {
    Assert(position >= 0, "UKmrStreams", "negative stream position");
    FPosition = position;
}

std::size_t TKmrMemoryStream::Read(void* buffer, std::size_t count) {
    const auto size = static_cast<std::int64_t>(FBytes.size());
    if (FPosition >= size || count == 0) return 0;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), size - FPosition));
    std::memcpy(buffer, FBytes.data() + FPosition, n);
    FPosition += static_cast<std::int64_t>(n);
    return n;
}

void TKmrMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return;
    const auto end = static_cast<std::size_t>(FPosition) + count;
    if (end > FBytes.size()) FBytes.resize(end);  // the gap, if any, is zeros
    std::memcpy(FBytes.data() + FPosition, buffer, count);
    FPosition = static_cast<std::int64_t>(end);
}

TKmrFileStream::TKmrFileStream(const std::string& fileName, TMode mode) : FFileName(fileName) {
    if (mode == TMode::Read) {
        FHandle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
        if (FHandle < 0) Raise(ErrCantFindFile, fileName);
    } else {
        FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (FHandle < 0) Raise(ErrCantWriteToFile, fileName);
    }
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

}  // namespace kalmira
