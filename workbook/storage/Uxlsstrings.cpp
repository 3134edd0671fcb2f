#include "workbook/storage/Uxlsstrings.h"

#include <algorithm>

namespace kalmira {

namespace {

// One data record's worth: a hostile size never allocates more than this
// ahead of the bytes that are really there.
constexpr std::int64_t ReadChunk = 8224;

int CheckedWidth(int lengthWidth) {
    if (lengthWidth != 1 && lengthWidth != 2) Raise(ErrInvalidStrLenLength);
    return lengthWidth;
}

std::uint32_t ReadField(const TBaseRecord*& record, int& pos, int width) {
    std::uint8_t bytes[4] = {};
    ReadMem(record, pos, width, bytes);
    return GetLongWord(bytes, 0);
}

void Put(std::vector<std::uint8_t>& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

template <class T>
int Sign(T a, T b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

std::vector<std::uint8_t> ReadBlock(const TBaseRecord*& record, int& pos, std::int64_t count) {
    std::vector<std::uint8_t> out;
    while (count > 0) {
        const auto take = static_cast<int>(std::min(count, ReadChunk));
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(take));
        ReadMem(record, pos, take, out.data() + at);
        count -= take;
    }
    return out;
}

TRTFRunList RunsFromBytes(std::span<const std::uint8_t> bytes) {
    TRTFRunList runs;
    runs.reserve(bytes.size() / 4);
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) runs.push_back({GetWord(bytes, i), GetWord(bytes, i + 2)});
    return runs;
}

TExcelString::TExcelString(int lengthWidth, const TBaseRecord*& record, int& pos)
    : FLengthWidth(static_cast<std::uint8_t>(CheckedWidth(lengthWidth))) {
    FCount = static_cast<std::uint16_t>(ReadField(record, pos, lengthWidth));
    FOptions = static_cast<std::uint8_t>(ReadField(record, pos, 1));
    const std::uint16_t runCount = HasRichText() ? static_cast<std::uint16_t>(ReadField(record, pos, 2)) : 0;
    const std::uint32_t farEastSize = HasFarInfo() ? ReadField(record, pos, 4) : 0;
    std::uint8_t piece = FOptions;
    std::int64_t done = 0;
    ReadStr(record, pos, FShortData, FWideData, FOptions, piece, done, FCount);
    FRuns = ReadBlock(record, pos, std::int64_t{runCount} * 4);
    FFarEast = ReadBlock(record, pos, farEastSize);
}

TExcelString::TExcelString(int lengthWidth, bool forceWide, std::u16string_view text, const TRTFRunList& runs)
    : FLengthWidth(static_cast<std::uint8_t>(lengthWidth)) {
    // A count that wrapped would corrupt everything written after it.
    const std::size_t limit = lengthWidth == 1 ? 0xFF : 0xFFFF;
    if (text.size() > limit || runs.size() > 0xFFFF) Raise(ErrInvalidStringRecord);
    FCount = static_cast<std::uint16_t>(text.size());
    if (forceWide || IsWide(text)) {
        FOptions |= StrWide;
        FWideData = text;
    } else {
        FShortData = WideStringToStringNoCodePage(text);
    }
    if (!runs.empty()) {
        FOptions |= StrRich;
        for (const TRTFRun& run : runs) {
            Put(FRuns, run.FirstChar, 2);
            Put(FRuns, run.FontIndex, 2);
        }
    }
}

std::int64_t TExcelString::TotalSize() const {
    std::int64_t size = FLengthWidth + 1 + std::int64_t{FCount} * GetCharSize();
    if (HasRichText()) size += 2 + static_cast<std::int64_t>(FRuns.size());
    if (HasFarInfo()) size += 4 + static_cast<std::int64_t>(FFarEast.size());
    return size;
}

void TExcelString::AppendTo(std::vector<std::uint8_t>& out, bool includeLength) const {
    if (includeLength) Put(out, FCount, CheckedWidth(FLengthWidth));
    out.push_back(FOptions);
    if (HasRichText()) Put(out, static_cast<std::uint32_t>(FRuns.size() / 4), 2);
    if (HasFarInfo()) Put(out, static_cast<std::uint32_t>(FFarEast.size()), 4);
    if (FOptions & StrWide) {
        for (char16_t c : FWideData) Put(out, c, 2);
    } else {
        out.insert(out.end(), FShortData.begin(), FShortData.end());
    }
    out.insert(out.end(), FRuns.begin(), FRuns.end());
    out.insert(out.end(), FFarEast.begin(), FFarEast.end());
}

void TExcelString::SaveToStream(TOle2File& ole, bool includeLength) const {
    std::vector<std::uint8_t> bytes;
    AppendTo(bytes, includeLength);
    ole.WriteMem(bytes.data(), bytes.size());
}

void TExcelString::CopyToPtr(std::span<std::uint8_t> buffer, std::size_t offset) const {
    std::vector<std::uint8_t> bytes;
    AppendTo(bytes, true);
    Assert(offset <= buffer.size() && bytes.size() <= buffer.size() - offset, "Uxlsstrings", "buffer too small");
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + static_cast<std::ptrdiff_t>(offset));
}

void TExcelString::Compress() {
    if (!(FOptions & StrWide) || IsWide(FWideData)) return;
    FShortData = WideStringToStringNoCodePage(FWideData);
    FWideData.clear();
    FOptions &= static_cast<std::uint8_t>(~StrWide);
}

std::u16string TExcelString::GetValue() const {
    return (FOptions & StrWide) ? FWideData : StringToWideStringNoCodePage(FShortData);
}

TRTFRunList TExcelString::GetRuns() const { return RunsFromBytes(FRuns); }

int TExcelString::Compare(const TExcelString& other) const {
    if (int s = Sign(FLengthWidth, other.FLengthWidth)) return s;
    if (int s = Sign(FOptions, other.FOptions)) return s;
    if (FOptions & StrWide) {
        if (int s = Sign(FWideData.size(), other.FWideData.size())) return s;
        return Sign(FWideData.compare(other.FWideData), 0);
    }
    const auto& a = FShortData;
    const auto& b = other.FShortData;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (int s = Sign(static_cast<std::uint8_t>(a[i]), static_cast<std::uint8_t>(b[i]))) return s;
    return Sign(a.size(), b.size());
}

}  // namespace kalmira
