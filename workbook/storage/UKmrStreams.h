// Seekable byte streams the engine reads containers from and writes them to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kalmira {

// A byte stream with one position. Reading at or past the end gives fewer
// bytes; writing past the end fills the gap with zero bytes.
class TKmrStream {
public:
    virtual ~TKmrStream() = default;
    TKmrStream() = default;
    TKmrStream(const TKmrStream&) = delete;
    TKmrStream& operator=(const TKmrStream&) = delete;

    // Reads up to count bytes at the position and advances it; returns how many.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes count bytes at the position and advances it, or raises.
    virtual void Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Size() const = 0;

    std::int64_t Position() const { return FPosition; }
    void Seek(std::int64_t position);

protected:
    std::int64_t FPosition = 0;
};

class TKmrMemoryStream : public TKmrStream {
public:
    TKmrMemoryStream() = default;
    explicit TKmrMemoryStream(std::vector<std::uint8_t> bytes) : FBytes(std::move(bytes)) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(FBytes.size()); }

    const std::vector<std::uint8_t>& Bytes() const { return FBytes; }

private:
    std::vector<std::uint8_t> FBytes;
};

// A file on disk, unbuffered: the container code reads whole sectors and
// buffers what it writes.
class TKmrFileStream : public TKmrStream {
public:
    enum class TMode { Read, Create };
    // Read: the file must exist ("Can't find the file"); Create: created or
    // truncated ("Can't write to file").
    TKmrFileStream(const std::string& fileName, TMode mode);
    ~TKmrFileStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::int64_t Size() const override;

    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    int FHandle = -1;
};

}  // namespace kalmira
