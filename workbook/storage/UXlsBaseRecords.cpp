#include "workbook/storage/UXlsBaseRecords.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <unordered_map>

#include "workbook/storage/UXlsBaseRecordLists.h"

namespace kalmira {

namespace {

// The links after a record, walked in a loop: a chain may hold a million
// CONTINUE records, far more than the stack would take in recursion.
template <class Visit>
void ForEachLink(const TBaseRecord& record, Visit visit) {
    for (const TBaseRecord* link = &record; link; link = link->Continue.get()) visit(*link);
}

}  // namespace

// ---------------------------------------------------------------------------
// Side parts

namespace {

class TSideParts {
public:
    void* Find(const void* mark) {
        std::lock_guard lock(FMutex);
        const auto at = FParts.find(mark);
        return at == FParts.end() ? nullptr : at->second;
    }
    void* Take(const void* mark) {
        std::lock_guard lock(FMutex);
        const auto at = FParts.find(mark);
        if (at == FParts.end()) return nullptr;
        void* part = at->second;
        FParts.erase(at);
        return part;
    }
    void Put(const void* mark, void* part) {
        std::lock_guard lock(FMutex);
        FParts[mark] = part;
    }

private:
    std::mutex FMutex;
    std::unordered_map<const void*, void*> FParts;
};

TSideParts& SideParts() {
    static auto* parts = new TSideParts;  // outlives every record, also those freed at exit
    return *parts;
}

}  // namespace

void* FindSidePart(const void* mark) noexcept { return SideParts().Find(mark); }
void* TakeSidePart(const void* mark) noexcept { return SideParts().Take(mark); }
void PutSidePart(const void* mark, void* part) { SideParts().Put(mark, part); }

// ---------------------------------------------------------------------------
// TBaseRecord

TBaseRecord::TBaseRecord(std::uint16_t id, TRecordData data) : Id(id), Data(std::move(data)) {
    Assert(Data.size() <= 0xFFFF, "UXlsBaseRecords", "record data longer than 65535 bytes");
}

TBaseRecord::~TBaseRecord() {
    std::unique_ptr<TContinueRecord> next = Continue.Take();
    while (next) next = next->Continue.Take();  // each link is freed with an empty chain
}

std::unique_ptr<TBaseRecord> TBaseRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TBaseRecord>(id, std::move(data));
}

std::unique_ptr<TBaseRecord> TBaseRecord::DoCopyTo() const {
    auto copy = NewOfSameClass(Id, Data);
    TBaseRecord* last = copy.get();
    for (const TContinueRecord* link = Continue.get(); link; link = link->Continue.get()) {
        last->Continue = std::make_unique<TContinueRecord>(link->Id, link->Data);
        last = last->Continue.get();
    }
    return copy;
}

void TBaseRecord::SaveOwnData(TOle2File& ole) const {
    ole.WriteHeader(Id, DataSize());
    if (!Data.empty()) ole.WriteMem(Data.data(), Data.size());
}

void TBaseRecord::SaveToStream(TOle2File& ole) const {
    ForEachLink(*this, [&](const TBaseRecord& link) { link.SaveOwnData(ole); });
}

std::int64_t TBaseRecord::TotalSize() const {
    std::int64_t size = 0;
    ForEachLink(*this, [&](const TBaseRecord& link) { size += link.DataSize() + 4; });
    return size;
}

std::int64_t TBaseRecord::TotalSizeNoHeaders() const {
    std::int64_t size = 0;
    ForEachLink(*this, [&](const TBaseRecord& link) { size += link.DataSize(); });
    return size;
}

void TBaseRecord::AddContinue(std::unique_ptr<TContinueRecord> next) {
    if (Continue) throw Exception(ErrInvalidContinue);
    Continue = std::move(next);
}

std::unique_ptr<TBaseRecord> TContinueRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TContinueRecord>(id, std::move(data));
}

std::unique_ptr<TBaseRecord> TIgnoreRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TIgnoreRecord>(id, std::move(data));
}

std::unique_ptr<TBaseRecord> TStringRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TStringRecord>(id, std::move(data));
}

// One BIFF8 string with a 2-byte count; it may run on into continuations.
std::u16string TStringRecord::Value() const {
    const std::uint16_t count = GetWord(Data, 0);
    std::uint8_t options = Data.size() > 2 ? Data[2] : 0;
    if (Data.size() < 3) Raise(ErrReadingRecord);
    int pos = 3 + ((options & 8) ? 2 : 0) + ((options & 4) ? 4 : 0);
    const TBaseRecord* record = this;
    std::string shortText;
    std::u16string wideText;
    std::uint8_t piece = options;
    std::int64_t done = 0;
    ReadStr(record, pos, shortText, wideText, options, piece, done, count);
    return (options & 1) ? wideText : StringToWideStringNoCodePage(shortText);
}

void TSubListRecord::SaveToStream(TOle2File& ole) const {
    if (FList) FList->SaveToStream(ole);
}

std::unique_ptr<TBaseRecord> TSubListRecord::NewOfSameClass(std::uint16_t, std::vector<std::uint8_t>) const {
    return std::make_unique<TSubListRecord>(FList);
}

// ---------------------------------------------------------------------------
// Row and column records

TBaseRowColRecord::TBaseRowColRecord(std::uint16_t id, TRecordData data)
    : TBaseRecord(id, std::move(data)) {
    CheckSize();
}

void TBaseRowColRecord::CheckSize() const {
    if (Data.size() < 4) Raise(ErrWrongExcelRecord, Id);
}

std::unique_ptr<TBaseRecord> TBaseRowColRecord::NewOfSameClass(std::uint16_t id,
                                                               std::vector<std::uint8_t> data) const {
    return std::make_unique<TBaseRowColRecord>(id, std::move(data));
}

namespace {
bool MovesOnSheet(const TSheetInfo& info) { return info.InsSheet >= 0 && info.InsSheet == info.FormulaSheet; }

void CheckMove(int value, int at, int count, int max) {
    if (value < at) return;
    const int moved = value + count;
    if (moved < 0 || moved > max) Raise(ErrTooManyEntries, moved, max);
}
}  // namespace

void TBaseRowColRecord::CheckArrange(int rowPos, int rowCount, int colPos, int colCount,
                                     const TSheetInfo& info) const {
    CheckSize();
    if (!MovesOnSheet(info)) return;
    CheckMove(GetRow(), rowPos, rowCount, 65535);
    CheckMove(GetColumn(), colPos, colCount, 255);
}

// Both fields are checked before either changes.
void TBaseRowColRecord::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                                 const TSheetInfo& info) {
    CheckArrange(rowPos, rowCount, colPos, colCount, info);
    if (!MovesOnSheet(info)) return;
    if (GetRow() >= rowPos) IncWord(Data, 0, rowCount, 65535);
    if (GetColumn() >= colPos) IncWord(Data, 2, colCount, 255);
}

void TBaseRowColRecord::ArrangeCopyRowsAndCols(int rowOffset, int colOffset) {
    CheckSize();
    SetRow(static_cast<std::uint16_t>(GetRow() + rowOffset));
    SetColumn(static_cast<std::uint16_t>(GetColumn() + colOffset));
}

int CopiedBlockSize(int first, int last, int copies, int dest, int max) {
    const long long block = (static_cast<long long>(last) - first + 1) * copies;
    if (block > NoMovePosition) Raise(ErrTooManyEntries, dest + block - 1, max);
    return static_cast<int>(block);
}

TCellRecord::TCellRecord(std::uint16_t id, std::uint16_t row, std::uint16_t column, std::uint16_t xf,
                         std::size_t dataSize)
    : TBaseRowColRecord(id, std::vector<std::uint8_t>(std::max<std::size_t>(dataSize, 6), 0)) {
    SetRow(row);
    SetColumn(column);
    SetXF(xf);
}

std::unique_ptr<TBaseRecord> TCellRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TCellRecord>(id, std::move(data));
}

namespace {
TRecordData&& CheckedRowData(TRecordData&& data) {
    // A length that could hold a record header more has swallowed the
    // records behind the row.
    if (data.size() < TRowRecord::Size || data.size() > TRowRecord::Size + 3) Raise(ErrWrongExcelRecord, xlr_ROW);
    data[8] = data[9] = 0;
    return std::move(data);
}

TRecordData NewRowData(std::uint16_t row) {
    std::uint8_t data[TRowRecord::Size]{};
    SetWord(data, 0, row);
    SetWord(data, 6, 255);
    data[13] = 1;
    data[14] = 15;
    return TRecordData(std::begin(data), std::end(data));
}
}  // namespace

// The row's data is its class's last field, so the slot's room carries it on.
static_assert(sizeof(TRowRecord) == sizeof(TBaseRecord) && TRowRecord::Slot >= SlotFields + TRowRecord::Size);

TRowRecord::TRowRecord(std::uint16_t id, TRecordData data) : TBaseRowColRecord(id, CheckedRowData(std::move(data))) {
    PlaceDataInSlot(*this, Slot);
}

TRowRecord::TRowRecord(std::uint16_t row) : TBaseRowColRecord(xlr_ROW, NewRowData(row)) { PlaceDataInSlot(*this, Slot); }

std::unique_ptr<TBaseRecord> TRowRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TRowRecord>(id, std::move(data));
}

void TRowRecord::SetXF(std::uint16_t xf) {
    Data[12] |= 0x80;
    Data[13] |= 1;
    SetWord(Data, 14, xf);
}

void TRowRecord::SaveRangeToStream(TOle2File& ole, int firstColumn, int lastColumn) {
    const std::uint16_t minCol = GetMinCol(), maxCol = GetMaxCol();
    SetMinCol(static_cast<std::uint16_t>(std::max<int>(minCol, firstColumn)));
    SetMaxCol(static_cast<std::uint16_t>(std::min<int>(maxCol, lastColumn + 1)));
    try {
        SaveToStream(ole);
    } catch (...) {
        SetMinCol(minCol);
        SetMaxCol(maxCol);
        throw;
    }
    SetMinCol(minCol);
    SetMaxCol(maxCol);
}

// ---------------------------------------------------------------------------
// Values across CONTINUE records

void ReadMem(const TBaseRecord*& record, int& pos, int count, void* destination) {
    auto* out = static_cast<std::uint8_t*>(destination);
    while (true) {
        const int remaining = record->DataSize() - pos;
        if (remaining < 0) Raise(ErrReadingRecord);
        if (remaining == 0 && count > 0) {
            if (!record->Continue) Raise(ErrReadingRecord);
            record = record->Continue.get();
            pos = 0;
            continue;
        }
        const int take = std::min(count, remaining);
        if (out && take > 0) {
            std::memcpy(out, record->Data.data() + pos, static_cast<std::size_t>(take));
            out += take;
        }
        pos += take;
        count -= take;
        if (count == 0) return;
    }
}

namespace {
void Widen(std::string& shortText, std::u16string& wideText) {
    for (unsigned char c : shortText) wideText.push_back(c);
    shortText.clear();
}

void TakeChars(const std::uint8_t* bytes, int count, bool pieceWide, bool stringWide, std::string& shortText,
               std::u16string& wideText) {
    if (pieceWide) {
        for (int i = 0; i + 1 < count; i += 2) wideText.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    } else if (stringWide) {
        wideText.append(bytes, bytes + count);
    } else {
        shortText.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
    }
}
}  // namespace

void ReadStr(const TBaseRecord*& record, int& pos, std::string& shortText, std::u16string& wideText,
             std::uint8_t& optionFlags, std::uint8_t& pieceOptionFlags, std::int64_t& charsDone,
             std::int64_t charCount) {
    while (true) {
        int remaining = record->DataSize() - pos;
        if (remaining < 0) Raise(ErrReadingRecord);
        const std::int64_t charsLeft = charCount - charsDone;
        if (charsLeft <= 0) return;
        if (remaining == 0) {
            // A continuation that carries on the characters starts with its option byte.
            if (!record->Continue || record->Continue->DataSize() < 1) Raise(ErrReadingRecord);
            record = record->Continue.get();
            pieceOptionFlags = record->Data[0];
            pos = 1;
            remaining = record->DataSize() - 1;
            if ((pieceOptionFlags & 1) && !(optionFlags & 1)) {
                Widen(shortText, wideText);
                optionFlags |= 1;
            }
            continue;
        }
        const int width = (pieceOptionFlags & 1) ? 2 : 1;
        const std::int64_t wanted = charsLeft * width;
        const int take = static_cast<int>(std::min<std::int64_t>(wanted, remaining / width * width));
        if (take == 0) Raise(ErrReadingRecord);  // half a 16-bit character
        TakeChars(record->Data.data() + pos, take, width == 2, (optionFlags & 1) != 0, shortText, wideText);
        pos += take;
        charsDone += take / width;
    }
}

}  // namespace kalmira
