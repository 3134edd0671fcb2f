// BIFF8 strings as records store them: a character count of one or two
// bytes, an option byte (bit 0 16-bit characters, bit 2 far-east block,
// bit 3 rich runs), a 16-bit run count when rich, a 32-bit far-east size
// when far-east, then the characters, the runs (4 bytes each: first
// character, font index) and the far-east bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UXlsBaseRecords.h"

namespace kalmira {

inline constexpr std::uint8_t StrWide = 0x01;
inline constexpr std::uint8_t StrFarEast = 0x04;
inline constexpr std::uint8_t StrRich = 0x08;

class TExcelString {
public:
    // Reads the string at pos of record, following CONTINUE records; record
    // and pos end just behind it. Every byte is read before it is kept, so
    // a count beyond the chain fails with "Error reading record" having
    // allocated nothing from it.
    TExcelString(int lengthWidth, const TBaseRecord*& record, int& pos);
    // From text: 16-bit when forced or when a character needs it, else
    // 8-bit; rich when runs are given; never far-east. A text (or run list)
    // longer than the count field holds: "Invalid String record".
    TExcelString(int lengthWidth, bool forceWide, std::u16string_view text, const TRTFRunList& runs = {});

    int GetCharSize() const { return (FOptions & StrWide) ? 2 : 1; }
    bool HasRichText() const { return (FOptions & StrRich) != 0; }
    bool HasFarInfo() const { return (FOptions & StrFarEast) != 0; }
    std::uint8_t OptionFlags() const { return FOptions; }
    std::uint16_t CharCount() const { return FCount; }
    int LengthWidth() const { return FLengthWidth; }

    // The bytes SaveToStream writes with the count.
    std::int64_t TotalSize() const;
    // A width other than 1 or 2 fails with "StrLenLength should be 1 or 2"
    // when the count is written.
    void SaveToStream(TOle2File& ole, bool includeLength) const;
    // Writes the bytes with the count into buffer at offset.
    void CopyToPtr(std::span<std::uint8_t> buffer, std::size_t offset) const;
    void AppendTo(std::vector<std::uint8_t>& out, bool includeLength) const;

    // 8-bit characters are the code points 0-255 of the same value.
    std::u16string GetValue() const;
    TRTFRunList GetRuns() const;
    const std::vector<std::uint8_t>& FarEastData() const { return FFarEast; }

    // A 16-bit string whose characters all fit in 8 bits becomes 8-bit,
    // as a writer that picks the shorter form would store it.
    void Compress();

    // -1, 0 or 1: by length width, option byte, then the characters.
    int Compare(const TExcelString& other) const;

private:
    std::uint8_t FLengthWidth;
    std::uint16_t FCount = 0;
    std::uint8_t FOptions = 0;
    std::string FShortData;     // the characters while 8-bit
    std::u16string FWideData;   // the characters while 16-bit
    std::vector<std::uint8_t> FRuns;     // 4 bytes per run
    std::vector<std::uint8_t> FFarEast;
};

// Reads count bytes that may run on into CONTINUE records into a buffer
// that grows only as the bytes arrive.
std::vector<std::uint8_t> ReadBlock(const TBaseRecord*& record, int& pos, std::int64_t count);

// Runs as stored: 4 bytes each, first character then font index.
TRTFRunList RunsFromBytes(std::span<const std::uint8_t> bytes);

}  // namespace kalmira
