// Seekable byte streams the engine reads containers from and writes them to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kalmira {

// "Can't write to file ..." with the system's reason for error (an errno
// value) behind it.
[[noreturn]] void RaiseCantWrite(const std::string& fileName, int error);

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
    // The same with a buffer the stream takes over, for a caller that fills
    // buffers of capacity bytes one after another: the buffer to fill next
    // comes back (here the same one, written). A stream may write it later,
    // on a thread of its own; a failure then raises at a later call.
    virtual std::unique_ptr<std::uint8_t[]> WriteTaken(std::unique_ptr<std::uint8_t[]> buffer, std::size_t count,
                                                       std::size_t capacity);
    virtual std::int64_t Size() const = 0;
    // A second stream over the same bytes with a position of its own, for
    // another thread to read while this one is read; none where the stream
    // cannot give one. Both are only read while the copy lives.
    virtual std::unique_ptr<TKmrStream> ReadingCopy() const { return nullptr; }

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
    std::unique_ptr<TKmrStream> ReadingCopy() const override;

    const std::vector<std::uint8_t>& Bytes() const { return FBytes; }
    // Hands the bytes over without a copy; the stream is left empty.
    std::vector<std::uint8_t> TakeBytes();

private:
    std::vector<std::uint8_t> FBytes;
};

// Reads bytes that something else owns and keeps while the view lives:
// a container read many times is not copied for each read. It is never
// written.
class TKmrByteView : public TKmrStream {
public:
    explicit TKmrByteView(const std::vector<std::uint8_t>& bytes) : FBytes(bytes) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(FBytes.size()); }
    std::unique_ptr<TKmrStream> ReadingCopy() const override;

private:
    const std::vector<std::uint8_t>& FBytes;
};

// A file on disk, opened for reading, unbuffered: the container code reads
// whole sectors. Files are written only through TKmrSafeFileStream.
class TKmrFileStream : public TKmrStream {
public:
    enum class TMode { Read };
    // The file must exist ("Can't find the file") and be a regular file
    // ("The file "%s" is invalid": a FIFO or a device is refused at once,
    // never waited for).
    explicit TKmrFileStream(const std::string& fileName, TMode mode = TMode::Read);
    ~TKmrFileStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::int64_t Size() const override;
    // Over a second handle of the same open file.
    std::unique_ptr<TKmrStream> ReadingCopy() const override;

    const std::string& FileName() const { return FFileName; }

protected:
    // Takes over an open handle; messages name fileName.
    TKmrFileStream(std::string fileName, int handle) : FFileName(std::move(fileName)), FHandle(handle) {}
    int Handle() const { return FHandle; }

private:
    std::string FFileName;
    int FHandle = -1;
};

// Writes a file so that it is replaced whole or not at all. The bytes go to
// a new file in the target's folder, unnamed where the file system allows
// it (else under a hidden temporary name); Commit syncs it, gives it the
// target's name (a link and a rename), then syncs the folder. Destroyed
// without Commit (a failed save), the new file goes and the target is as it
// was; a writer killed part-way leaves no name behind, or, where the file
// system gave one, a temporary file that the next save in the folder
// removes once it is stale. The target is never opened, so nothing the user
// named is truncated or removed. A symbolic link is followed: the file it
// points to is replaced and the link stays. A replaced file keeps its
// permission bits; a new one gets 0666 less the umask.
class TKmrSafeFileStream : public TKmrFileStream {
public:
    enum class TReplace {
        Allow,   // an existing file is replaced
        Refuse,  // an existing file is refused now, and one that appears
                 // before Commit is refused then, never replaced
    };
    // Raises "Can't write to file" for a target that is not a regular file
    // (a folder, a FIFO, a device), a read-only one (no write permission
    // bit, whoever asks), a refused existing one, or a folder where no file
    // can be made; where the system refused, its reason follows the text.
    TKmrSafeFileStream(const std::string& fileName, TReplace replace);
    ~TKmrSafeFileStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    // Written behind the caller by a thread of the stream's own, while the
    // caller fills the next buffer; Write, Read, Size and Commit wait for
    // what is still on its way, and the first failure raises there or at
    // the next WriteTaken.
    std::unique_ptr<std::uint8_t[]> WriteTaken(std::unique_ptr<std::uint8_t[]> buffer, std::size_t count,
                                               std::size_t capacity) override;
    std::int64_t Size() const override;
    // A file being written is read by no one else.
    std::unique_ptr<TKmrStream> ReadingCopy() const override { return nullptr; }
    void Commit();

private:
    class TWriteBehind;
    struct TPrepared {
        std::string Target, Temp;
        int Handle = -1;
    };
    static TPrepared Prepare(const std::string& fileName, TReplace replace);
    TKmrSafeFileStream(const std::string& fileName, TReplace replace, TPrepared prepared);
    void LinkIn();
    void Rename();
    // Every byte handed over is written: raises the first failure.
    void Drain() const;
    // Writes at position and starts the disk on every few megabytes; 0 or
    // the system's error.
    int WriteAt(const std::uint8_t* bytes, std::size_t count, std::int64_t position);

    std::string FTarget;  // the file replaced: fileName with its links followed
    std::string FTemp;    // empty while the file being written has no name
    TReplace FReplace;
    std::size_t FUnstarted = 0;  // bytes written since the disk was last asked to take them
    bool FCommitted = false;
    std::unique_ptr<TWriteBehind> FBehind;  // made at the first WriteTaken
};

}  // namespace kalmira
