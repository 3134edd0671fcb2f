#include "workbook/storage/UXlsHyperLink.h"

#include <algorithm>
#include <array>
#include <utility>

#include "workbook/storage/UXlsSettingRecords.h"

namespace kalmira {

namespace {

using TGuid = std::array<std::uint8_t, 16>;

constexpr TGuid StdLinkGuid = {0xD0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                               0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
constexpr TGuid URLMonikerGuid = {0xE0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                                  0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
constexpr TGuid FileMonikerGuid = {0x03, 0x03, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};

// Option flags of an HLINK.
constexpr std::uint32_t hlHasMoniker = 0x01;
constexpr std::uint32_t hlAbsolute = 0x02;
constexpr std::uint32_t hlDisplayName = 0x14;  // both bits: a display name follows
constexpr std::uint32_t hlHasLocation = 0x08;
constexpr std::uint32_t hlHasFrame = 0x80;
constexpr std::uint32_t hlMonikerAsString = 0x100;

constexpr std::size_t HeaderSize = 32;
constexpr std::size_t TipHeaderSize = 10;
constexpr std::u16string_view UpLevel = u"..\\";

// The data of a record and its CONTINUE records as one run of bytes, read
// with every count checked against what is left ("Error reading record").
// Parts of a GUID or a time stamp that may follow the location are never
// read.
class TLinkReader {
public:
    explicit TLinkReader(const TBaseRecord& record) {
        for (const TBaseRecord* link = &record; link; link = link->Continue.get())
            FBytes.insert(FBytes.end(), link->Data.begin(), link->Data.end());
    }

    void Seek(std::size_t pos) { FPos = pos; }
    void Skip(std::size_t count) {
        Need(count);
        FPos += count;
    }
    std::uint16_t Word() {
        Need(2);
        FPos += 2;
        return GetWord(FBytes, FPos - 2);
    }
    std::uint32_t Long() {
        Need(4);
        FPos += 4;
        return GetLongWord(FBytes, FPos - 4);
    }
    bool Next(const TGuid& guid) const {
        return FBytes.size() - FPos >= guid.size() && std::equal(guid.begin(), guid.end(), FBytes.begin() + Pos());
    }
    // count UTF-16 characters, cut at the first zero.
    std::u16string Chars(std::uint32_t count) {
        Need(std::size_t{count} * 2);
        std::u16string text(count, u'\0');
        for (std::uint32_t i = 0; i < count; ++i) text[i] = GetWord(FBytes, FPos + 2 * i);
        FPos += std::size_t{count} * 2;
        return Cut(std::move(text));
    }
    // count 8-bit characters, widened one to one, cut at the first zero.
    std::u16string Bytes(std::uint32_t count) {
        Need(count);
        std::u16string text(FBytes.begin() + Pos(), FBytes.begin() + Pos() + count);
        FPos += count;
        return Cut(std::move(text));
    }
    // A character count (with the zero) and the characters.
    std::u16string Counted() { return Chars(Long()); }

private:
    std::ptrdiff_t Pos() const { return static_cast<std::ptrdiff_t>(FPos); }
    void Need(std::size_t count) const {
        if (count > FBytes.size() - FPos) Raise(ErrReadingRecord);
    }
    static std::u16string Cut(std::u16string text) {
        text.resize(std::min(text.size(), text.find(u'\0')));
        return text;
    }

    std::vector<std::uint8_t> FBytes;
    std::size_t FPos = 0;
};

class TLinkWriter {
public:
    explicit TLinkWriter(TRecordData& data) : FData(data) {}

    void Word(std::uint16_t value) { FData.insert(FData.end(), {Lo(value), Lo(value >> 8)}); }
    void Long(std::uint32_t value) {
        Word(static_cast<std::uint16_t>(value));
        Word(static_cast<std::uint16_t>(value >> 16));
    }
    void Guid(const TGuid& guid) { FData.insert(FData.end(), guid.begin(), guid.end()); }
    void Chars(std::u16string_view text) {
        for (char16_t c : text) Word(c);
    }
    // The character count with the zero, the characters and the zero.
    void Counted(std::u16string_view text) {
        Long(static_cast<std::uint32_t>(text.size() + 1));
        Chars(text);
        Word(0);
    }
    void Byte(std::uint8_t value) { FData.push_back(value); }
    void Bytes(std::u16string_view text) {
        const std::size_t at = FData.size();
        FData.resize(at + text.size());
        CompressBestUnicode(text, FData, at);
    }

private:
    static std::uint8_t Lo(unsigned value) { return static_cast<std::uint8_t>(value & 0xFF); }
    TRecordData& FData;
};

bool HasWideChar(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c > 0xFF; });
}

// File moniker: up-level count, the 8-bit path with its zero, a fixed
// 24-byte tail, and the UTF-16 path as an extension when 8 bits lose it.
std::u16string ReadLocalFile(TLinkReader& in) {
    in.Skip(FileMonikerGuid.size());
    const std::uint16_t steps = in.Word();
    const std::u16string shortPath = in.Bytes(in.Long());
    in.Skip(24);
    std::u16string path = shortPath;
    if (in.Long() > 0) {
        const std::uint32_t bytes = in.Long();
        in.Word();
        path = in.Chars(bytes / 2);
    }
    std::u16string text;
    for (int i = 0; i < steps; ++i) text += UpLevel;
    return text + path;
}

void WriteLocalFile(TLinkWriter& out, std::u16string_view path) {
    std::uint16_t steps = 0;
    while (steps < 0xFFFF && path.starts_with(UpLevel)) {
        path.remove_prefix(UpLevel.size());
        ++steps;
    }
    out.Guid(FileMonikerGuid);
    out.Word(steps);
    out.Long(static_cast<std::uint32_t>(path.size() + 1));
    out.Bytes(path);
    out.Byte(0);
    out.Long(0xDEADFFFF);
    for (int i = 0; i < 5; ++i) out.Long(0);
    if (!HasWideChar(path)) return out.Long(0);
    out.Long(static_cast<std::uint32_t>(path.size() * 2 + 6));
    out.Long(static_cast<std::uint32_t>(path.size() * 2));
    out.Word(3);
    out.Chars(path);
}

// The target and its kind, by the first test that holds: URL, local file,
// UNC path, else a place in this workbook.
void ReadTarget(TLinkReader& in, std::uint32_t flags, THyperLink& link) {
    link.LinkType = THyperLinkType::hl_CurrentWorkbook;
    if (!(flags & hlHasMoniker)) return;
    if (flags & hlMonikerAsString) {
        if (!(flags & hlAbsolute)) return;
        link.LinkType = THyperLinkType::hl_UNC;
        link.Text = in.Counted();
    } else if ((flags & hlAbsolute) && in.Next(URLMonikerGuid)) {
        in.Skip(URLMonikerGuid.size());
        const std::uint32_t bytes = in.Long();
        link.LinkType = THyperLinkType::hl_URL;
        link.Text = in.Chars(bytes / 2);
        in.Skip(bytes % 2);
    } else if (in.Next(FileMonikerGuid)) {
        link.LinkType = THyperLinkType::hl_LocalFile;
        link.Text = ReadLocalFile(in);
    }
}

std::uint32_t WriteTarget(TLinkWriter& out, const THyperLink& link) {
    if (link.Text.empty()) return 0;
    switch (link.LinkType) {
        case THyperLinkType::hl_URL:
            out.Guid(URLMonikerGuid);
            out.Long(static_cast<std::uint32_t>((link.Text.size() + 1) * 2));
            out.Chars(link.Text);
            out.Word(0);
            return hlHasMoniker | hlAbsolute;
        case THyperLinkType::hl_LocalFile: WriteLocalFile(out, link.Text); return hlHasMoniker;
        case THyperLinkType::hl_UNC: out.Counted(link.Text); return hlHasMoniker | hlAbsolute | hlMonikerAsString;
        default: return 0;
    }
}

std::uint16_t Clamp(long long value, int max) { return static_cast<std::uint16_t>(std::clamp<long long>(value, 0, max)); }

// Where a field lands when first..last go: after them it moves back, inside
// them it becomes their edge (first for a start, the row before for an end).
int AfterDelete(int value, int first, int last, bool start) {
    if (value > last) return value - (last - first + 1);
    if (value >= first) return start ? first : first - 1;
    return value;
}

void CheckRange(int value, int max, const char* message) {
    if (value < 0 || value > max) Raise(message, value);
}

}  // namespace

// ---------------------------------------------------------------------------
// TScreenTipRecord

TScreenTipRecord::TScreenTipRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, std::move(data)) {
    if (Data.size() < TipHeaderSize + 2) Raise(ErrWrongExcelRecord, id);
}

TScreenTipRecord::TScreenTipRecord(std::u16string_view text)
    : TRecordOf(xlr_HLINKTOOLTIP, std::vector<std::uint8_t>(TipHeaderSize)) {
    SetWord(Data, 0, xlr_HLINKTOOLTIP);
    SetText(text);
}

std::u16string TScreenTipRecord::GetText() const {
    TLinkReader in(*this);
    in.Seek(TipHeaderSize);
    return in.Chars(static_cast<std::uint32_t>((Data.size() - TipHeaderSize) / 2));
}

void TScreenTipRecord::SetText(std::u16string_view text) {
    if (TipHeaderSize + (text.size() + 1) * 2 > MaxRecordDataSize) Raise(ErrInvalidStringRecord);
    Data.resize(TipHeaderSize);
    Continue.reset();
    TLinkWriter out(Data);
    out.Chars(text);
    out.Word(0);
}

// ---------------------------------------------------------------------------
// THLinkRecord

THLinkRecord::THLinkRecord(std::uint16_t id, std::vector<std::uint8_t> data) : TRecordOf(id, std::move(data)) {
    if (Data.size() < HeaderSize) Raise(ErrWrongExcelRecord, id);
}

THLinkRecord::THLinkRecord(const TXlsCellRange& range, const THyperLink& link)
    : TRecordOf(xlr_HLINK, std::vector<std::uint8_t>(HeaderSize)) {
    std::copy(StdLinkGuid.begin(), StdLinkGuid.end(), Data.begin() + 8);
    SetLongWord(Data, 24, 2);
    SetCellRange(range);
    SetProperties(link);
}

THLinkRecord::~THLinkRecord() = default;

void THLinkRecord::SetField(std::size_t pos, std::uint16_t value) {
    SetWord(Data, pos, value);
    if (FHint) SetWord(FHint->Data, pos + 2, value);
}

void THLinkRecord::SetFirstRow(std::uint16_t value) { SetField(0, value); }
void THLinkRecord::SetLastRow(std::uint16_t value) { SetField(2, value); }
void THLinkRecord::SetFirstCol(std::uint16_t value) { SetField(4, value); }
void THLinkRecord::SetLastCol(std::uint16_t value) { SetField(6, value); }

TXlsCellRange THLinkRecord::GetCellRange() const { return {GetFirstCol(), GetFirstRow(), GetLastCol(), GetLastRow()}; }

void THLinkRecord::SetCellRange(const TXlsCellRange& range) {
    SetFirstRow(Clamp(range.Top, 0xFFFF));
    SetLastRow(Clamp(range.Bottom, 0xFFFF));
    SetFirstCol(Clamp(range.Left, 0xFFFF));
    SetLastCol(Clamp(range.Right, 0xFFFF));
}

THyperLink THLinkRecord::GetProperties() const {
    const std::uint32_t flags = GetOptionFlags();
    THyperLink link;
    TLinkReader in(*this);
    in.Seek(HeaderSize);
    if ((flags & hlDisplayName) == hlDisplayName) link.Description = in.Counted();
    if (flags & hlHasFrame) link.TargetFrame = in.Counted();
    ReadTarget(in, flags, link);
    if (flags & hlHasLocation) link.TextMark = in.Counted();
    if (FHint) link.Hint = FHint->GetText();
    return link;
}

// The new data is laid out whole before anything changes.
void THLinkRecord::SetProperties(const THyperLink& link) {
    if (TipHeaderSize + (link.Hint.size() + 1) * 2 > MaxRecordDataSize) Raise(ErrInvalidStringRecord);
    TRecordData data(Data.begin(), Data.begin() + HeaderSize);
    TLinkWriter out(data);
    std::uint32_t flags = 0;
    if (!link.Description.empty()) {
        flags |= hlDisplayName;
        out.Counted(link.Description);
    }
    if (!link.TargetFrame.empty()) {
        flags |= hlHasFrame;
        out.Counted(link.TargetFrame);
    }
    flags |= WriteTarget(out, link);
    if (!link.TextMark.empty()) {
        flags |= hlHasLocation;
        out.Counted(link.TextMark);
    }
    if (data.size() > MaxRecordDataSize) Raise(ErrInvalidStringRecord);
    SetLongWord(data, 28, flags);
    Data = std::move(data);
    Continue.reset();
    if (link.Hint.empty()) {
        FHint.reset();
    } else if (FHint) {
        FHint->SetText(link.Hint);
    } else {
        FHint = std::make_unique<TScreenTipRecord>(link.Hint);
        SetCellRange(GetCellRange());
    }
}

void THLinkRecord::AddHint(std::unique_ptr<TScreenTipRecord> tip) { FHint = std::move(tip); }

void THLinkRecord::TakeFollowing(std::unique_ptr<TBaseRecord> record) {
    auto* tip = dynamic_cast<TScreenTipRecord*>(record.get());
    if (!tip) Raise(ErrWrongExcelRecord, record->Id);
    record.release();
    AddHint(std::unique_ptr<TScreenTipRecord>(tip));
}

// Fields of an axis that does not move stay as read.
void THLinkRecord::Offset(int rows, int cols) {
    if (rows != 0) {
        SetFirstRow(Clamp(GetFirstRow() + rows, 0xFFFF));
        SetLastRow(Clamp(GetLastRow() + rows, 0xFFFF));
    }
    if (cols != 0) {
        SetFirstCol(Clamp(GetFirstCol() + cols, 0xFF));
        SetLastCol(Clamp(GetLastCol() + cols, 0xFF));
    }
}

void THLinkRecord::ArrangeInsertRange(const TXlsCellRange& range, int rowCount, int colCount,
                                      const TSheetInfo& info) {
    if (info.InsSheet < 0 || info.InsSheet != info.FormulaSheet) return;
    auto move = [this](std::size_t pos, int at, long long by, int max) {
        const std::uint16_t value = GetWord(Data, pos);
        if (value >= at) SetField(pos, Clamp(value + by, max));
    };
    if (rowCount > 0 && GetFirstCol() >= range.Left && GetLastCol() <= range.Right) {
        const long long by = static_cast<long long>(range.Bottom - range.Top + 1) * rowCount;
        move(0, range.Top, by, 0xFFFF);
        move(2, range.Top, by, 0xFFFF);
    }
    if (colCount > 0 && GetFirstRow() >= range.Top && GetLastRow() <= range.Bottom) {
        const long long by = static_cast<long long>(range.Right - range.Left + 1) * colCount;
        move(4, range.Left, by, 0xFF);
        move(6, range.Left, by, 0xFF);
    }
}

bool THLinkRecord::DeleteRows(int first, int last) {
    if (GetFirstRow() >= first && GetLastRow() <= last) return false;
    SetFirstRow(Clamp(AfterDelete(GetFirstRow(), first, last, true), 0xFFFF));
    SetLastRow(Clamp(AfterDelete(GetLastRow(), first, last, false), 0xFFFF));
    return true;
}

bool THLinkRecord::DeleteCols(int first, int last) {
    if (GetFirstCol() >= first && GetLastCol() <= last) return false;
    SetFirstCol(Clamp(AfterDelete(GetFirstCol(), first, last, true), 0xFF));
    SetLastCol(Clamp(AfterDelete(GetLastCol(), first, last, false), 0xFF));
    return true;
}

bool THLinkRecord::Inside(const TXlsCellRange& range) const {
    return GetFirstRow() >= range.Top && GetLastRow() <= range.Bottom && GetFirstCol() >= range.Left &&
           GetLastCol() <= range.Right;
}

std::unique_ptr<TBaseRecord> THLinkRecord::DoCopyTo() const {
    auto copy = TBaseRecord::DoCopyTo();
    if (FHint) {
        auto tip = FHint->CopyTo();
        static_cast<THLinkRecord&>(*copy).FHint.reset(static_cast<TScreenTipRecord*>(tip.release()));
    }
    return copy;
}

void THLinkRecord::SaveToStream(TOle2File& ole) const {
    TBaseRecord::SaveToStream(ole);
    if (FHint) FHint->SaveToStream(ole);
}

std::int64_t THLinkRecord::TotalSize() const { return TBaseRecord::TotalSize() + (FHint ? FHint->TotalSize() : 0); }

void THLinkRecord::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const {
    if (Inside(range)) SaveToStream(ole);
}

std::int64_t THLinkRecord::TotalRangeSize(const TXlsCellRange& range) const { return Inside(range) ? TotalSize() : 0; }

// ---------------------------------------------------------------------------
// THLinkList

void THLinkList::Sort() {
    std::stable_sort(List().begin(), List().end(), [](const auto& a, const auto& b) {
        return std::make_pair(a->GetFirstRow(), a->GetFirstCol()) < std::make_pair(b->GetFirstRow(), b->GetFirstCol());
    });
}

THLinkRecord& THLinkList::Link(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= Count())
        Raise(ErrXlsIndexOutBounds, index + 1, "HyperLinkIndex", 1, Count());
    return *Items(static_cast<std::size_t>(index));
}

void THLinkList::CopyFrom(const THLinkList& other) {
    Clear();
    CopyObjectsFrom(other, {0, 0, 0xFFFF, 0xFFFF}, 0, 0);
}

// The source may be this list: only the links it held before are looked at.
void THLinkList::CopyObjectsFrom(const THLinkList& other, const TXlsCellRange& range, int rowOffset, int colOffset) {
    const std::size_t count = other.Count();
    for (std::size_t i = 0; i < count; ++i) {
        const THLinkRecord& link = *other.Items(i);
        if (!link.Inside(range)) continue;
        auto copy = link.CopyTo();
        auto& moved = static_cast<THLinkRecord&>(*copy);
        moved.Offset(rowOffset, colOffset);
        copy.release();
        Add(std::unique_ptr<THLinkRecord>(&moved));
    }
}

void THLinkList::SaveToStream(TOle2File& ole) const {
    for (const auto& link : List()) link->SaveToStream(ole);
}

void THLinkList::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const {
    for (const auto& link : List()) link->SaveRangeToStream(ole, range);
}

std::int64_t THLinkList::TotalSize() const {
    std::int64_t size = 0;
    for (const auto& link : List()) size += link->TotalSize();
    return size;
}

std::int64_t THLinkList::TotalRangeSize(const TXlsCellRange& range) const {
    std::int64_t size = 0;
    for (const auto& link : List()) size += link->TotalRangeSize(range);
    return size;
}

void THLinkList::InsertAndCopyRange(const TXlsCellRange& range, int destRow, int destCol, int colCount, int rowCount,
                                    const TSheetInfo& info) {
    if (rowCount > 0) {
        const int height = range.Bottom - range.Top + 1;
        const TXlsCellRange block{range.Left, destRow, range.Right, destRow + height - 1};
        for (const auto& link : List()) link->ArrangeInsertRange(block, rowCount, 0, info);
        TXlsCellRange source = range;
        if (source.Top >= destRow) {
            source.Top += height * rowCount;
            source.Bottom += height * rowCount;
        }
        for (int n = 0; n < rowCount; ++n) CopyObjectsFrom(*this, source, destRow + n * height - source.Top, 0);
    }
    if (colCount > 0) {
        const int width = range.Right - range.Left + 1;
        const TXlsCellRange block{destCol, range.Top, destCol + width - 1, range.Bottom};
        for (const auto& link : List()) link->ArrangeInsertRange(block, 0, colCount, info);
        TXlsCellRange source = range;
        if (source.Left >= destCol) {
            source.Left += width * colCount;
            source.Right += width * colCount;
        }
        for (int n = 0; n < colCount; ++n) CopyObjectsFrom(*this, source, 0, destCol + n * width - source.Left);
    }
}

void THLinkList::DeleteRange(const TXlsCellRange& range, int rowCount, int colCount, const TSheetInfo&) {
    for (std::size_t i = Count(); i-- > 0;) {
        THLinkRecord& link = *Items(i);
        bool stays = true;
        if (rowCount > 0 && link.GetFirstCol() >= range.Left && link.GetLastCol() <= range.Right)
            stays = link.DeleteRows(range.Top, range.Top + (range.Bottom - range.Top + 1) * rowCount - 1);
        if (stays && colCount > 0 && link.GetFirstRow() >= range.Top && link.GetLastRow() <= range.Bottom)
            stays = link.DeleteCols(range.Left, range.Left + (range.Right - range.Left + 1) * colCount - 1);
        if (!stays) Delete(i);
    }
}

TXlsCellRange CheckedLinkRange(const TXlsCellRange& range) {
    TXlsCellRange r = range;
    if (r.Top > r.Bottom) std::swap(r.Top, r.Bottom);
    if (r.Left > r.Right) std::swap(r.Left, r.Right);
    CheckRange(r.Top, 0xFFFF, ErrInvalidRow);
    CheckRange(r.Bottom, 0xFFFF, ErrInvalidRow);
    CheckRange(r.Left, 0xFF, ErrInvalidCol);
    CheckRange(r.Right, 0xFF, ErrInvalidCol);
    return r;
}

}  // namespace kalmira
