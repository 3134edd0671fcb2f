// The compound document container of a workbook file: reading one stream,
// and copying the container with one stream written anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/storage/UKmrStreams.h"

namespace kalmira {

inline constexpr std::uint32_t ENDOFCHAIN = 0xFFFFFFFE;
inline constexpr std::uint32_t FREESECT = 0xFFFFFFFF;
inline constexpr std::uint32_t FATSECT = 0xFFFFFFFD;
inline constexpr std::uint32_t DIFSECT = 0xFFFFFFFC;

// One directory entry as stored: 128 bytes, read and changed in place.
class TOle2Directory {
public:
    static constexpr std::size_t Size = 128;
    static constexpr std::uint8_t TypeEmpty = 0, TypeStorage = 1, TypeStream = 2, TypeRoot = 5;

    TOle2Directory() : FData(Size, 0) {}
    explicit TOle2Directory(const std::uint8_t* bytes) : FData(bytes, bytes + Size) {}

    // Only the low byte of the name size counts; outside 2..64 the name is empty.
    std::u16string Name() const;
    std::uint8_t NameSize() const { return FData[64]; }
    std::uint8_t ObjType() const { return FData[66]; }
    std::uint8_t Colour() const { return FData[67]; }
    std::uint32_t LeftSib() const { return Get32(68); }
    std::uint32_t RightSib() const { return Get32(72); }
    std::uint32_t Child() const { return Get32(76); }
    std::uint32_t SectStart() const { return Get32(116); }
    // Only the low 32 bits of the size are used.
    std::uint32_t xulSize() const { return Get32(120); }

    void SetSectStart(std::uint32_t v) { Set32(116, v); }
    void SetSize(std::uint32_t v) { Set32(120, v); }
    void SetLinks(std::uint32_t left, std::uint32_t right, std::uint32_t child);
    void SetColour(std::uint8_t c) { FData[67] = c; }
    void Clear();

    const std::uint8_t* Bytes() const { return FData.data(); }

private:
    std::uint32_t Get32(std::size_t pos) const;
    void Set32(std::size_t pos, std::uint32_t v);
    std::vector<std::uint8_t> FData;
};

// An entry of the directory tree while streams are being deleted.
struct TOneDirEntry {
    std::u16string Name;
    std::uint32_t Left = FREESECT, Right = FREESECT, Child = FREESECT;
    std::uint8_t Colour = 0;
    bool Deleted = false;
};

class TOle2File {
public:
    // Reads the container header at the stream's current position. A stream
    // that holds no container raises "The file "" is invalid", or, when
    // avoidExceptions is set, sets NotXls and leaves the position unchanged.
    explicit TOle2File(TKmrStream* stream, bool avoidExceptions = false);
    // Writes nothing: a container whose stream was not finished is
    // discarded as it is, and the output (which the caller owns and may
    // already have destroyed) is never touched here.
    ~TOle2File();
    TOle2File(const TOle2File&) = delete;
    TOle2File& operator=(const TOle2File&) = delete;

    bool NotXls() const { return FNotXls; }

    // Reading.
    void SelectStream(std::u16string_view name);
    // Whether the root storage holds a stream of the name (compared as
    // SelectStream compares it).
    bool HasStream(std::u16string_view name) const { return !FNotXls && FindDir(name) >= 0; }
    // Most reads are a few bytes inside the held sectors: those are copied
    // here, the rest looked up.
    void ReadMem(void* buffer, std::int64_t count) {
        if (count > 0 && count <= FWindowLeft) {
            std::memcpy(buffer, FWindow, static_cast<std::size_t>(count));
            FWindow += count;
            FWindowLeft -= count;
            FPosition += count;
            return;
        }
        ReadLookup(buffer, count);
    }
    void Read(std::vector<std::uint8_t>& data, std::int64_t count);
    bool NextEof(std::int64_t count) const {
        CheckReadable();
        return FPosition + count >= Length();
    }
    bool Eof() const;
    std::int64_t Length() const { return FSelected ? FSelectedSize : 0; }
    std::int64_t Position() const;
    std::u16string FileName() const { return {}; }
    void SeekForward(std::int64_t position);
    // The read position anywhere in the selected stream.
    void Seek(std::int64_t position);
    // A reader of the selected stream for another thread: its own copy of
    // the input (TKmrStream::ReadingCopy), its own buffer and position, and
    // a stream that ends at length (at most the stream's own). None where
    // the input gives no copy or nothing is selected.
    std::unique_ptr<TOle2File> ReadingCopy(std::int64_t position, std::int64_t length) const;

    // Writing: copy the container into output, then write the new stream.
    void PrepareForWrite(TKmrStream* output, std::u16string_view streamName,
                         const std::vector<std::u16string>& deleteStreams = {});
    void WriteHeader(std::uint16_t id, std::uint16_t size) {
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
                                       static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8)};
        WriteMem(bytes, 4);
    }
    // Records arrive a few bytes at a time: they collect in the output
    // buffer, which goes out in large blocks.
    void WriteMem(const void* buffer, std::size_t count) {
        if (FWriteMode && count <= static_cast<std::size_t>(FOutEnd - FOutAt)) {
            if (count > 0) std::memcpy(FOutAt, buffer, count);
            FOutAt += count;
            return;
        }
        WriteLong(buffer, count);
    }
    void WriteRaw(const std::vector<std::uint8_t>& data, std::size_t count);
    void Write(const std::vector<std::uint8_t>& data, std::size_t count);
    void Write16(std::uint16_t value) {
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
        WriteMem(bytes, 2);
    }
    void Write32(std::uint32_t value) {
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                       static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
        WriteMem(bytes, 4);
    }
    // Writes count bytes over the ones the new stream holds at position,
    // which must have been written already.
    void Patch(std::int64_t position, const void* bytes, std::size_t count);
    // Completes the container in the output: the save's explicit last step.
    void FinishStream();

    std::int64_t StartPos() const { return FStartPos; }
    std::uint32_t SectorSize() const { return FSectorSize; }

private:
    class TSectorBuffer;

    void ReadHeader(bool avoidExceptions);
    void LoadFat();
    void AddFatSector(const std::vector<std::uint32_t>& slots, std::size_t index, bool& ended);
    void LoadMiniFat();
    void LoadDirectory();
    std::int64_t SectToStPos(std::uint32_t sector) const;
    std::vector<std::uint32_t> Chain(std::uint32_t start, std::uint64_t count) const;
    std::int64_t FindDir(std::u16string_view name) const;
    void CheckReadable() const {
        if (FWriteMode || FFinished) RaiseNotReadable();
    }
    [[noreturn]] static void RaiseNotReadable();
    void ReadLookup(void* buffer, std::int64_t count);
    std::int64_t OutSectPos(std::uint32_t sector) const;
    std::int64_t OutPos() const { return FOutStart + FOutFlushed + (FOutAt - FOut.get()); }
    void Put(const std::uint8_t* bytes, std::size_t count);
    void WriteLong(const void* buffer, std::size_t count);
    std::uint32_t AppendSector(const std::uint8_t* bytes, std::uint32_t next);
    void AppendLinked(const std::uint8_t* bytes, std::uint32_t& previous, std::size_t headerField);
    void CopyChain(TOle2Directory& entry);
    void CopyDirectorySector(std::size_t index, const std::vector<TOneDirEntry>* tree, bool recolour,
                             std::int64_t target, std::uint32_t& previous);
    void CopyMiniFat();
    void FlushWrite();

    // Deleting streams from the copy.
    std::vector<TOneDirEntry> ReadDirs() const;
    void MarkDeleted(std::vector<TOneDirEntry>& dirs, const std::vector<std::u16string>& names, bool& blackGone) const;
    void DeleteNode(std::vector<TOneDirEntry>& dirs, std::uint32_t& link) const;
    void FixNode(std::vector<TOneDirEntry>& dirs) const;

    explicit TOle2File(std::unique_ptr<TKmrStream> ownInput);

    std::unique_ptr<TKmrStream> FOwnInput;  // a reading copy's input
    TKmrStream* FStream;
    std::int64_t FStartPos = 0;
    std::vector<std::uint8_t> FHeader;  // the 512 header bytes as read
    std::uint32_t FSectorSize = 512;
    std::uint64_t FInputSectors = 0;
    std::vector<std::uint32_t> FFat;
    std::vector<std::uint32_t> FMiniFat;
    std::vector<std::uint32_t> FMiniFatChain;  // sectors holding the mini FAT
    std::vector<std::uint32_t> FMiniStream;    // sectors of the root's mini stream
    std::vector<std::uint32_t> FDirChain;
    std::vector<std::uint8_t> FDirectory;      // every directory sector, in chain order
    std::unique_ptr<TSectorBuffer> FBuffer;

    // The selected stream: its entry, where its bytes lie, the read position.
    bool FSelected = false;
    TOle2Directory FSelectedDir;
    std::int64_t FSelectedSize = 0;
    bool FSelectedMini = false;
    std::vector<std::uint32_t> FSelectedChain;
    std::int64_t FPosition = 0;
    // The bytes of the held sector from the read position on, while they
    // stay held: most reads are a few bytes that need no lookup.
    const std::uint8_t* FWindow = nullptr;
    std::int64_t FWindowLeft = 0;

    // Write mode.
    bool FWriteMode = false;
    TOle2Directory FWriteDir;
    std::int64_t FWriteDirPos = -1;
    TKmrStream* FOutput = nullptr;
    std::int64_t FOutStart = 0;
    std::vector<std::uint32_t> FNewFat;
    // Every byte of the output passes through this buffer: the copied
    // sectors, the new stream, the tables after it. FOutAt..FOutEnd is its
    // free room; FOutFlushed counts the bytes already in the output.
    std::unique_ptr<std::uint8_t[]> FOut;  // WriteBufferSize bytes once writing
    std::uint8_t* FOutAt = nullptr;
    std::uint8_t* FOutEnd = nullptr;
    std::int64_t FOutFlushed = 0;
    std::int64_t FStreamStart = 0;  // where the new stream starts in the output
    bool FFinished = false;
    bool FNotXls = false;
};

}  // namespace kalmira
