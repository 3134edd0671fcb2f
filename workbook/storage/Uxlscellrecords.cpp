#include "workbook/storage/Uxlscellrecords.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <typeinfo>

#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

// A sheet holds one of these per cell: a value cell of up to 12 data bytes
// fills one 24-byte pool slot, a NUMBER one of 32 with its data in the
// room behind it, a label one of 32 with its entry (the sanitizer builds
// keep their data on the heap).
static_assert(KALMIRA_PLAIN_ALLOCATION || (sizeof(TRKRecord) == 24 && sizeof(TLabelSSTRecord) == 32));

namespace {

struct TErrorCode {
    std::uint8_t Code;
    const char16_t* Text;
};

constexpr TErrorCode ErrorCodes[] = {{0, xlerr_Null}, {7, xlerr_Div0}, {15, xlerr_Value}, {23, xlerr_Ref},
                                     {29, xlerr_Name}, {36, xlerr_Num},  {42, xlerr_NA}};

// The checks hand the data on as they were given it: a cell's data is
// moved once on its way into the record, not at each check.
TRecordData&& Checked(TRecordData&& data, std::size_t size, std::uint16_t id) {
    if (data.size() < size) Raise(ErrWrongExcelRecord, id);
    return std::move(data);
}

// A cell of a fixed layout. Some writers add a byte or two, which go back
// as read; a length that could hold a record header more has swallowed
// the records behind the cell.
TRecordData&& CheckedLayout(TRecordData&& data, std::size_t size, std::uint16_t id) {
    if (data.size() > size + 3) Raise(ErrWrongExcelRecord, id);
    return Checked(std::move(data), size, id);
}

[[noreturn]] void InvalidValue(const TVariant& value) { Raise(ErrInvalidCellValue, VariantToString(value)); }

// The variant as a finite double, or "Invalid cell value".
double FiniteNumber(const TVariant& value) {
    double number;
    try {
        number = value.AsDouble();
    } catch (const Exception&) {
        InvalidValue(value);
    }
    if (!std::isfinite(number)) InvalidValue(value);
    return number;
}

std::uint64_t Bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// One RK candidate of X = value * multiplier: the double form when the
// low 34 bits are zero, else the integer form when X is a whole number in
// 30 bits; flag carries bit 0.
std::optional<std::uint32_t> Candidate(double x, std::uint32_t flag, bool doubleForm) {
    const std::uint64_t bits = Bits(x);
    if (doubleForm) {
        if ((bits & 0x3FFFFFFFFULL) != 0) return std::nullopt;
        return static_cast<std::uint32_t>(bits >> 32) | flag;
    }
    if (!(x >= -536870912.0 && x <= 536870911.0) || x != std::floor(x)) return std::nullopt;
    return (static_cast<std::uint32_t>(static_cast<std::int32_t>(x)) << 2) | flag | 2u;
}

}  // namespace

// ---------------------------------------------------------------------------
// RK numbers

double DecodeRK(std::uint32_t rk) {
    double value;
    if (rk & 2) value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    else value = std::bit_cast<double>(static_cast<std::uint64_t>(rk & ~3u) << 32);
    return (rk & 1) ? value / 100 : value;
}

bool EncodeRK(double value, std::uint32_t& rk) {
    for (const std::uint32_t flag : {0u, 1u}) {
        const double x = flag ? value * 100 : value;
        for (const bool doubleForm : {true, false}) {
            const auto candidate = Candidate(x, flag, doubleForm);
            if (candidate && Bits(DecodeRK(*candidate)) == Bits(value)) {
                rk = *candidate;
                return true;
            }
        }
    }
    return false;
}

bool IsRK(double value) {
    std::uint32_t rk;
    return EncodeRK(value, rk);
}

std::u16string ErrorCodeText(std::uint8_t code) {
    for (const auto& e : ErrorCodes)
        if (e.Code == code) return e.Text;
    return xlerr_Null;
}

std::optional<std::uint8_t> ErrorCodeOf(std::u16string_view text) {
    for (const auto& e : ErrorCodes)
        if (text == e.Text) return e.Code;
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Cells that join

TMulCellRecord::TMulCellRecord(std::uint16_t id, TRecordData data, std::size_t layoutSize)
    : TCellRecord(id, CheckedLayout(std::move(data), layoutSize, id)) {}

TMulCellRecord::TMulCellRecord(std::uint16_t id, std::uint16_t row, std::uint16_t col, std::uint16_t xf,
                               std::size_t layoutSize)
    : TCellRecord(id, row, col, xf, layoutSize) {}

bool TMulCellRecord::CanJoinNext(const TCellRecord* next, int maxColumn) const {
    if (!next || typeid(*next) != typeid(*this) || !Joinable()) return false;
    const auto& other = static_cast<const TMulCellRecord&>(*next);
    return other.Joinable() && other.GetColumn() == GetColumn() + 1 && other.GetColumn() <= maxColumn;
}

void TMulCellRecord::SaveFirstMul(TOle2File& ole, std::int64_t joinedSize) const {
    ole.WriteHeader(MulId(), static_cast<std::uint16_t>(joinedSize - 4));
    ole.WriteMem(Data.data(), 4);
    SaveMidMul(ole);
}

void TMulCellRecord::SaveMidMul(TOle2File& ole) const { ole.WriteMem(Data.data() + 4, PartSize()); }

void TMulCellRecord::SaveLastMul(TOle2File& ole) const {
    SaveMidMul(ole);
    ole.Write16(GetColumn());
}

std::unique_ptr<TBaseRecord> TBlankRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TBlankRecord>(id, std::move(data));
}

TVariant TRKRecord::GetValue() const { return TVariant(DecodeRK(GetRK())); }

void TRKRecord::SetValue(const TVariant& value) {
    std::uint32_t rk;
    if (!EncodeRK(FiniteNumber(value), rk)) InvalidValue(value);
    SetLongWord(Data, 6, rk);
}

std::unique_ptr<TBaseRecord> TRKRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TRKRecord>(id, std::move(data));
}

// ---------------------------------------------------------------------------
// Booleans, errors, numbers

TBoolErrRecord::TBoolErrRecord(std::uint16_t id, TRecordData data)
    : TCellRecord(id, CheckedLayout(std::move(data), Size, id)) {}

TVariant TBoolErrRecord::GetValue() const {
    if (Data[7] == 0) return TVariant(Data[6] != 0);
    return TVariant(ErrorCodeText(Data[6]));
}

void TBoolErrRecord::SetValue(const TVariant& value) {
    std::uint8_t code = 0, kind = 0;
    switch (value.VarType()) {
        case TVarType::Boolean: code = value.IntValue() ? 1 : 0; break;
        case TVarType::String: {
            const auto found = ErrorCodeOf(value.Text());
            if (!found) Raise(ErrInvalidErrStr, value.Text());
            code = *found;
            kind = 1;
            break;
        }
        default: InvalidValue(value);
    }
    Data[6] = code;
    Data[7] = kind;
}

std::unique_ptr<TBaseRecord> TBoolErrRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TBoolErrRecord>(id, std::move(data));
}

// The number's data is its class's last field, so the slot's room carries it on.
static_assert(sizeof(TNumberRecord) == sizeof(TBaseRecord) && TNumberRecord::Slot >= SlotFields + TNumberRecord::Size);

TNumberRecord::TNumberRecord(std::uint16_t id, TRecordData data)
    : TCellRecord(id, CheckedLayout(std::move(data), Size, id)) {
    PlaceDataInSlot(*this, Slot);
}

TNumberRecord::TNumberRecord(std::uint16_t row, std::uint16_t col, std::uint16_t xf)
    : TCellRecord(xlr_NUMBER, row, col, xf, Size) {
    PlaceDataInSlot(*this, Slot);
}

TVariant TNumberRecord::GetValue() const {
    const std::uint64_t bits = GetLongWord(Data, 6) | static_cast<std::uint64_t>(GetLongWord(Data, 10)) << 32;
    return TVariant(std::bit_cast<double>(bits));
}

void TNumberRecord::SetValue(const TVariant& value) {
    const std::uint64_t bits = Bits(FiniteNumber(value));
    SetLongWord(Data, 6, static_cast<std::uint32_t>(bits));
    SetLongWord(Data, 10, static_cast<std::uint32_t>(bits >> 32));
}

std::unique_ptr<TBaseRecord> TNumberRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TNumberRecord>(id, std::move(data));
}

// ---------------------------------------------------------------------------
// Labels

TLabelSSTRecord::TLabelSSTRecord(std::uint16_t id, TRecordData data)
    : TCellRecord(id, CheckedLayout(std::move(data), Size, id)) {}

TLabelSSTRecord::TLabelSSTRecord(std::uint16_t row, std::uint16_t col, std::uint16_t xf, TSST* sst)
    : TCellRecord(xlr_LABELSST, row, col, xf, Size) {
    if (sst) SetTable(sst);
}

TLabelSSTRecord::~TLabelSSTRecord() {
    if (!HasEntry()) return;
    if (TSST* table = Table()) table->Release(FEntry);
}

void TLabelSSTRecord::SetTable(const TSST* table) {
    if (!HasEntry()) FEntry = Unset;
    SetLongWord(Data, 6, table->Handle());
}

// Only a label as loaded still holds the file's index.
void TLabelSSTRecord::AttachToSST(TSST& sst) {
    Assert(FEntry == NoTable, "Uxlscellrecords", "label attached twice");
    const std::uint32_t index = GetLongWord(Data, 6);
    if (index >= sst.Count()) Raise(ErrExcelInvalid);
    const std::uint32_t offset = EntryOffset(sst.Offset(index));
    SetTable(&sst);
    FEntry = offset;
    sst.AddRefAt(index);
}

// The new entry is taken before the old one is let go, so setting the
// same text again keeps its count.
void TLabelSSTRecord::Point(std::size_t entry) {
    const std::uint32_t offset = EntryOffset(entry);
    if (HasEntry())
        if (TSST* table = Table()) table->Release(FEntry);
    FEntry = offset;
}

std::uint32_t TLabelSSTRecord::EntryOffset(std::size_t offset) {
    Assert(offset < Unset, "Uxlscellrecords", "string table beyond 4 GB");
    return static_cast<std::uint32_t>(offset);
}

std::u16string TLabelSSTRecord::GetAsString() const { return GetAsRichString().Value; }

TRichString TLabelSSTRecord::GetAsRichString() const {
    if (!HasEntry()) return {};
    const TSST* table = Table();
    if (!table) return {};
    return table->GetText(FEntry);
}

void TLabelSSTRecord::SetAsString(std::u16string_view text) { SetAsRichString({std::u16string(text), {}}); }

void TLabelSSTRecord::SetAsRichString(const TRichString& text) {
    TSST* table = Table();
    Assert(table != nullptr, "Uxlscellrecords", "label without a string table");
    const std::size_t index = table->AddString(text.Value, text.RTFRuns);
    Point(table->Offset(index));
}

TVariant TLabelSSTRecord::GetValue() const { return TVariant(GetAsString()); }

void TLabelSSTRecord::SetValue(const TVariant& value) { SetAsString(VariantToString(value)); }

void TLabelSSTRecord::SaveToStream(TOle2File& ole) const {
    if (FEntry == NoTable) {
        TCellRecord::SaveToStream(ole);
        return;
    }
    const TSST* table = HasEntry() ? Table() : nullptr;
    ole.WriteHeader(Id, DataSize());
    ole.WriteMem(Data.data(), 6);
    // A new label without an entry has a zero index.
    ole.Write32(table ? table->SSTIndex(FEntry) : 0);
    if (Data.size() > Size) ole.WriteMem(Data.data() + Size, Data.size() - Size);
    if (Continue) Continue->SaveToStream(ole);
}

std::unique_ptr<TBaseRecord> TLabelSSTRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    // The data carries the table's handle along.
    auto copy = std::make_unique<TLabelSSTRecord>(id, std::move(data));
    copy->FEntry = FEntry;
    if (HasEntry())
        if (TSST* table = Table()) table->AddRef(FEntry);
    return copy;
}

TRichString TLabelRecord::GetAsRichString() const {
    const TBaseRecord* at = this;
    int pos = 6;
    const TExcelString text(2, at, pos);
    return {text.GetValue(), text.GetRuns()};
}

std::unique_ptr<TBaseRecord> TLabelRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TLabelRecord>(id, std::move(data));
}

TRichString TRStringRecord::GetAsRichString() const {
    const TBaseRecord* at = this;
    int pos = 6;
    const TExcelString text(2, at, pos);
    std::uint8_t count[2];
    ReadMem(at, pos, 2, count);
    return {text.GetValue(), RunsFromBytes(ReadBlock(at, pos, GetWord(count, 0) * 4))};
}

std::unique_ptr<TBaseRecord> TRStringRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TRStringRecord>(id, std::move(data));
}

// ---------------------------------------------------------------------------
// MULRK, MULBLANK

TMultipleValueRecord::TMultipleValueRecord(std::uint16_t id, TRecordData data, std::size_t cellSize)
    : TBaseRecord(id, Checked(std::move(data), 4, id)), FCellSize(cellSize) {
    // Row, first column, a part per cell, last column: at least one cell,
    // whole parts, and the last column where the parts end, on the sheet.
    const std::size_t size = Data.size();
    if (size < 6 + FCellSize || (size - 6) % FCellSize != 0) Raise(ErrWrongExcelRecord, id);
    const std::size_t last = GetWord(Data, 2) + (size - 6) / FCellSize - 1;
    if (last > 255 || GetWord(Data, size - 2) != last) Raise(ErrWrongExcelRecord, id);
}

bool TMultipleValueRecord::Eof() const { return (FExtracted + 1) * FCellSize + 4 >= Data.size(); }

std::unique_ptr<TCellRecord> TMultipleValueRecord::ExtractOneRecord() {
    Assert(!Eof(), "Uxlscellrecords", "no cell left in the multiple-value record");
    const std::size_t at = 4 + FExtracted * FCellSize;
    auto data = TRecordData::ForOverwrite(4 + FCellSize);
    std::memcpy(data.data(), Data.data(), 4);
    std::memcpy(data.data() + 4, Data.data() + at, FCellSize);
    SetWord(data, 2, static_cast<std::uint16_t>(GetWord(Data, 2) + FExtracted));
    ++FExtracted;
    return MakeCell(std::move(data));
}

std::unique_ptr<TCellRecord> TMulRKRecord::MakeCell(TRecordData data) const {
    return std::make_unique<TRKRecord>(xlr_RK, std::move(data));
}

std::unique_ptr<TBaseRecord> TMulRKRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TMulRKRecord>(id, std::move(data));
}

std::unique_ptr<TCellRecord> TMulBlankRecord::MakeCell(TRecordData data) const {
    return std::make_unique<TBlankRecord>(xlr_BLANK, std::move(data));
}

std::unique_ptr<TBaseRecord> TMulBlankRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TMulBlankRecord>(id, std::move(data));
}

}  // namespace kalmira
