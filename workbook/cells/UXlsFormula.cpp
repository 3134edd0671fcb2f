#include "workbook/cells/UXlsFormula.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "workbook/cells/UXlsTokenArray.h"
#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/Uxlsstrings.h"

namespace kalmira {

namespace {

constexpr std::uint16_t TypedResult = 0xFFFF;
enum : std::uint8_t { ResultText = 0, ResultBool = 1, ResultError = 2, ResultEmptyText = 3 };

// A STRING record holds at most this many data bytes; each CONTINUE after
// it repeats the option byte and then holds at most one byte fewer.
constexpr std::size_t StringFirstPiece = 8219;
constexpr std::size_t StringNextPiece = 8218;
constexpr std::int64_t DatesOf1904 = 1462;

// The checks hand the data on as they were given it: a record's data is
// moved once on its way into the record, not at each check.
TRecordData&& Checked(TRecordData&& data, std::size_t minSize, std::uint16_t id) {
    if (data.size() < minSize) Raise(ErrWrongExcelRecord, id);
    return std::move(data);
}

// Tokens of tokenLength at tokensStart must lie inside the data.
TRecordData&& CheckedTokens(TRecordData&& data, std::size_t minSize, std::size_t lengthPos, std::uint16_t id) {
    Checked(std::move(data), minSize, id);
    if (minSize + GetWord(data, lengthPos) > data.size()) Raise(ErrWrongExcelRecord, id);
    return std::move(data);
}

double GetDouble(std::span<const std::uint8_t> data, std::size_t pos) {
    return std::bit_cast<double>(GetLongWord(data, pos) | static_cast<std::uint64_t>(GetLongWord(data, pos + 4)) << 32);
}

void SetDouble(std::span<std::uint8_t> data, std::size_t pos, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    SetLongWord(data, pos, static_cast<std::uint32_t>(bits));
    SetLongWord(data, pos + 4, static_cast<std::uint32_t>(bits >> 32));
}

// The cached value as the result bytes say.
TVariant ResultOf(std::span<const std::uint8_t> data) {
    if (GetWord(data, 12) != TypedResult) return TVariant(GetDouble(data, 6));
    switch (data[6]) {
        case ResultText: return TVariant(std::u16string());
        case ResultBool: return TVariant(data[8] != 0);
        case ResultError: {
            const std::u16string text = ErrorCodeText(data[8]);
            return ErrorCodeOf(text) == data[8] ? TVariant(text) : TVariant();
        }
        default: return {};
    }
}

// Values a formula can cache: texts that a STRING record holds, finite numbers.
void CheckCachedValue(const TVariant& value) {
    if (value.VarType() == TVarType::String && value.Text().size() > 0xFFFF) Raise(ErrInvalidStringRecord);
    const bool number = value.IsNumeric() || value.VarType() == TVarType::Date;
    if (number && !std::isfinite(value.AsDouble())) Raise(ErrInvalidCellValue, VariantToString(value));
}

bool MovesOnOwnSheet(const TSheetInfo& info) { return info.InsSheet >= 0 && info.InsSheet == info.FormulaSheet; }

// ---------------------------------------------------------------------------
// ARRAY and TABLE ranges

struct TRangeMove {
    int Pos;
    int Count;
    bool Always;  // a copy moves every field; an insertion those at or after Pos
};

struct TRangeField {
    std::size_t Pos;
    bool Row;  // 16-bit row, else 8-bit column
};

constexpr TRangeField RangeFields[] = {{0, true}, {2, true}, {4, false}, {5, false}};

// The four range fields after the move, checked against the sheet.
std::array<int, 4> MovedRange(std::span<const std::uint8_t> data, const TRangeMove& rows, const TRangeMove& cols) {
    std::array<int, 4> out{};
    for (std::size_t i = 0; i < 4; ++i) {
        const TRangeField& f = RangeFields[i];
        const int value = f.Row ? GetWord(data, f.Pos) : data[f.Pos];
        const int none = f.Row ? 0xFFFF : 0xFF;
        const TRangeMove& m = f.Row ? rows : cols;
        out[i] = value;
        if (value == none || m.Count == 0 || (!m.Always && value < m.Pos)) continue;
        out[i] = value + m.Count;
        if (out[i] < 0 || out[i] > none) Raise(ErrTooManyEntries, out[i], none);
    }
    return out;
}

void WriteRange(std::span<std::uint8_t> data, const std::array<int, 4>& values) {
    for (std::size_t i = 0; i < 4; ++i) {
        const TRangeField& f = RangeFields[i];
        if (f.Row) SetWord(data, f.Pos, static_cast<std::uint16_t>(values[i]));
        else data[f.Pos] = static_cast<std::uint8_t>(values[i]);
    }
}

// A STRING result's bytes and how they split.
struct TStringLayout {
    std::vector<std::uint8_t> Bytes;  // count, option byte, characters
    std::size_t Pieces() const {
        return Bytes.size() <= StringFirstPiece ? 1 : 1 + (Bytes.size() - StringFirstPiece + StringNextPiece - 1) / StringNextPiece;
    }
    // Headers, the string, and the option byte that starts each CONTINUE.
    std::int64_t Size() const { return static_cast<std::int64_t>(Bytes.size() + 5 * Pieces() - 1); }
};

}  // namespace

namespace {

// A formula under an older version's id, laid out as in BIFF8, becomes a
// FORMULA; a refusal names the id it came with.
std::unique_ptr<TBaseRecord> MakeOldFormula(std::uint16_t id, TRecordData data) {
    try {
        return std::make_unique<TFormulaRecord>(xlr_FORMULA, std::move(data));
    } catch (const Exception&) {
        Raise(ErrWrongExcelRecord, id);
    }
}

// TBaseRecord's data is its last field: no class between it and the
// formula may add one (it would sit behind the data, in the slot's room).
static_assert(sizeof(TFormulaRecord) == sizeof(TBaseRecord), "a formula has no fields behind its data");

// A loaded formula and its data in one pool slot: 48 bytes for a formula
// of up to 32 data bytes instead of 24 and a block of 40. Copies and new
// formulas are plain ones.
std::unique_ptr<TBaseRecord> MakeLoadedFormula(std::uint16_t id, TRecordData data) {
    const std::size_t size = data.size();
    return MakeInSlot<TFormulaRecord, 48, 56, 64, 80, 96, 112, 128>(size, id, std::move(data));
}

}  // namespace

void RegisterFormulaRecords() {
    RegisterRecordClass(xlr_FORMULA, MakeLoadedFormula);
    RegisterRecordClass(xlr_FORMULA_OLD3, MakeOldFormula);
    RegisterRecordClass(xlr_FORMULA_OLD4, MakeOldFormula);
    RegisterRecordClass(xlr_STRING, MakeRecord<TStringRecord>);
    RegisterRecordClass(xlr_SHRFMLA, MakeRecord<TShrFmlaRecord>);
    RegisterRecordClass(xlr_ARRAY, MakeRecord<TArrayRecord>);
    RegisterRecordClass(xlr_TABLE, MakeRecord<TTableRecord>);
    RegisterRecordClass(xlr_NAME, MakeRecord<TNameRecord>);
}

// ---------------------------------------------------------------------------
// ARRAY, TABLE, SHRFMLA

void TRangeFormulaRecord::CheckInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount) const {
    MovedRange(Data, {rowPos, rowCount, false}, {colPos, colCount, false});
}

void TRangeFormulaRecord::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount) {
    WriteRange(Data, MovedRange(Data, {rowPos, rowCount, false}, {colPos, colCount, false}));
}

void TRangeFormulaRecord::CheckCopyRowsAndCols(int rowOffset, int colOffset) const {
    MovedRange(Data, {0, rowOffset, true}, {0, colOffset, true});
}

void TRangeFormulaRecord::ArrangeCopyRowsAndCols(int rowOffset, int colOffset) {
    WriteRange(Data, MovedRange(Data, {0, rowOffset, true}, {0, colOffset, true}));
}

TTableRecord::TTableRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, Checked(std::move(data), MinSize, id)) {
    Data[6] |= 0x03;
}

void TTableRecord::IncRowToMax(std::size_t field, int offset, int max, std::size_t partner) {
    const int moved = GetWord(Data, field) + offset;
    if (moved < 0 || moved > max) {
        SetWord(Data, field, 0xFFFF);
        SetWord(Data, partner, 0xFFFF);
    } else {
        SetWord(Data, field, static_cast<std::uint16_t>(moved));
    }
}

// Row input cell at 8 (row) and 10 (column), column input cell at 12 and 14.
void TTableRecord::MoveInputCells(int rowPos, int rowCount, int colPos, int colCount) {
    struct TInput {
        std::size_t Field, Partner;
        bool Row;
    };
    constexpr TInput inputs[] = {{8, 10, true}, {12, 14, true}, {10, 8, false}, {14, 12, false}};
    for (const TInput& in : inputs) {
        const int value = GetWord(Data, in.Field);
        const bool none = value == 0xFFFF || (!in.Row && value == 0xFF);
        const int count = in.Row ? rowCount : colCount;
        if (none || count == 0 || value < (in.Row ? rowPos : colPos)) continue;
        if (in.Row) IncRowToMax(in.Field, count, 0xFFFF, in.Partner);
        else IncColToMax(in.Field, count, 0xFF, in.Partner);
    }
}

void TTableRecord::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount) {
    TRangeFormulaRecord::ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount);
    MoveInputCells(rowPos, rowCount, colPos, colCount);
}

void TTableRecord::ArrangeCopyRowsAndCols(int rowOffset, int colOffset) {
    TRangeFormulaRecord::ArrangeCopyRowsAndCols(rowOffset, colOffset);
    MoveInputCells(0, rowOffset, 0, colOffset);
}

TArrayRecord::TArrayRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedTokens(std::move(data), MinSize, 12, id)) {}

TShrFmlaRecord::TShrFmlaRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedTokens(std::move(data), MinSize, 8, id)) {}

// ---------------------------------------------------------------------------
// FORMULA

// A sheet holds many: a formula takes 24 bytes and its data (a loaded one
// one slot, MakeLoadedFormula).
static_assert(KALMIRA_PLAIN_ALLOCATION || sizeof(TFormulaRecord) == 24);

TFormulaRecord::TFormulaRecord(std::uint16_t id, TRecordData data)
    : TCellRecord(id, CheckedTokens(std::move(data), HeaderSize, 20, id)) {
    if (GetWord(Data, 12) == TypedResult && Data[6] > ResultEmptyText) Raise(ErrWrongExcelRecord, id);
    Data[14] |= CalcOnLoad;
}

bool TFormulaRecord::ResultIsText() const { return GetWord(Data, 12) == TypedResult && Data[6] == ResultText; }

TFormulaRecord::TFormulaRecord(std::uint16_t id, std::uint16_t row, std::uint16_t col, std::uint16_t xf,
                               std::size_t dataSize, const TVariant& value, bool dates1904)
    : TCellRecord(id, row, col, xf, std::max(dataSize, HeaderSize)) {
    CheckCachedValue(value);
    // Every formula the engine writes asks to be calculated when opened,
    // as loaded ones do: its cached result may be none or out of date.
    Data[14] |= CalcOnLoad;
    switch (value.VarType()) {
        case TVarType::Empty:
        case TVarType::Null:
            Data[6] = ResultEmptyText;
            SetWord(Data, 12, TypedResult);
            return;
        case TVarType::Boolean:
            Data[6] = ResultBool;
            Data[8] = value.IntValue() ? 1 : 0;
            SetWord(Data, 12, TypedResult);
            SetOwnValue(value);
            return;
        case TVarType::String:
            Data[6] = ResultText;
            SetWord(Data, 12, TypedResult);
            SetOwnValue(value);
            return;
        case TVarType::Error:
            Data[6] = ResultError;
            Data[8] = static_cast<std::uint8_t>(value.IntValue());
            SetWord(Data, 12, TypedResult);
            return;
        default: break;
    }
    if (!value.IsNumeric() && value.VarType() != TVarType::Date) return;
    double number = value.AsDouble();
    if (value.VarType() == TVarType::Date && dates1904) number -= DatesOf1904;
    SetDouble(Data, 6, number);
}

std::unique_ptr<TBaseRecord> TFormulaRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TFormulaRecord>(id, std::move(data));
}

void TFormulaRecord::SetFormulaValue(const TVariant& value) {
    CheckCachedValue(value);
    SetOwnValue(value);
}

TVariant TFormulaRecord::GetValue() const {
    const TVariant* own = OwnValue();
    return own ? *own : ResultOf(Data);
}

struct TFormulaRecord::TAttached {
    std::unique_ptr<TVariant> Value;
    std::unique_ptr<TTableRecord> Table;
    std::unique_ptr<TArrayRecord> Array;
};

TFormulaRecord::TAttached* TFormulaRecord::FindAttached() const {
    return Continue.Marked(AttachedMark) ? static_cast<TAttached*>(FindSidePart(AttachedKey())) : nullptr;
}

TFormulaRecord::TAttached& TFormulaRecord::Attached() {
    if (TAttached* attached = FindAttached()) return *attached;
    auto attached = std::make_unique<TAttached>();
    PutSidePart(AttachedKey(), attached.get());
    Continue.Mark(AttachedMark, true);
    return *attached.release();
}

const TVariant* TFormulaRecord::OwnValue() const {
    const TAttached* attached = FindAttached();
    return attached ? attached->Value.get() : nullptr;
}
void TFormulaRecord::SetOwnValue(const TVariant& value) { Attached().Value = std::make_unique<TVariant>(value); }

TFormulaRecord::~TFormulaRecord() {
    if (Continue.Marked(AttachedMark)) {
        Continue.Mark(AttachedMark, false);
        delete static_cast<TAttached*>(TakeSidePart(AttachedKey()));
    }
}

// No result is the empty one: readers that do not calculate show nothing
// (an error code would show "#NULL!"), and the calculate-on-load bit has
// spreadsheets work it out.
void TFormulaRecord::ClearResult() {
    std::fill(Data.begin() + 6, Data.begin() + 14, 0);
    Data[6] = ResultEmptyText;
    Data[14] |= CalcOnLoad;
    SetWord(Data, 12, TypedResult);
    std::fill(Data.begin() + 16, Data.begin() + 20, 0);
    // The bytes say "none" now: a value kept aside would only repeat it.
    if (TAttached* attached = FindAttached()) attached->Value.reset();
}

TTableRecord* TFormulaRecord::GetTableRecord() const {
    const TAttached* attached = FindAttached();
    return attached ? attached->Table.get() : nullptr;
}
TArrayRecord* TFormulaRecord::GetArrayRecord() const {
    const TAttached* attached = FindAttached();
    return attached ? attached->Array.get() : nullptr;
}

void TFormulaRecord::SetTableRecord(std::unique_ptr<TTableRecord> table) { Attached().Table = std::move(table); }

void TFormulaRecord::SetArrayRecord(std::unique_ptr<TArrayRecord> array) { Attached().Array = std::move(array); }

bool TFormulaRecord::TakesFollowing(std::uint16_t id) const { return id == xlr_TABLE || id == xlr_ARRAY; }

void TFormulaRecord::TakeFollowing(std::unique_ptr<TBaseRecord> record) {
    if (auto* table = dynamic_cast<TTableRecord*>(record.get())) {
        record.release();
        SetTableRecord(std::unique_ptr<TTableRecord>(table));
    } else if (auto* array = dynamic_cast<TArrayRecord*>(record.get())) {
        record.release();
        SetArrayRecord(std::unique_ptr<TArrayRecord>(array));
    } else {
        Raise(ErrExcelInvalid);
    }
}

template <class Call>
void TFormulaRecord::ReportTokens(Call call) const {
    try {
        call();
    } catch (const ETokenException& e) {
        Raise(ErrBadFormula, GetRow(), GetColumn(), e.Token);
    }
}

bool TFormulaRecord::IsExp(std::uint32_t& key) const {
    if (Data.size() != ExpSize || GetWord(Data, 20) != 5 || Data[22] != 0x01) return false;
    key = GetWord(Data, 23) | static_cast<std::uint32_t>(GetWord(Data, 25)) << 16;
    return true;
}

void TFormulaRecord::MixShared(std::span<const std::uint8_t> shared, std::size_t size) {
    // The formula keeps its 20 bytes before the token length: it must not
    // outgrow the 8224 bytes of a record, or no reader could take it.
    if (size < TShrFmlaRecord::MinSize || size > shared.size() || 10u + GetWord(shared, 8) > size ||
        size + 12 > MaxRecordDataSize)
        Raise(ErrWrongExcelRecord, xlr_SHRFMLA);
    // Mixed where the bytes are: a loaded formula keeps them in the room
    // behind it, which most shared formulas still fit.
    // The bytes before, for a refusal to put back: a ptgExp's fit on the stack.
    std::array<std::uint8_t, ExpSize> exp;
    TRecordData other;
    const bool isExp = Data.size() == ExpSize;
    if (isExp) std::copy(Data.begin(), Data.end(), exp.begin());
    else other = Data;
    Data.resize(20);
    Data.insert(Data.end(), shared.begin() + 8, shared.begin() + static_cast<std::ptrdiff_t>(size));
    try {
        ArrangeSharedTokens();
    } catch (...) {
        if (isExp) Data.assign(exp.begin(), exp.end());
        else Data = std::move(other);
        throw;
    }
    SetWord(Data, 14, GetOptions() & ~SharedMember);
}

void TFormulaRecord::ArrangeSharedTokens() {
    ReportTokens([&] { UXlsTokenArray_ArrangeSharedFormulas(Data, HeaderSize, TokensEnd(), GetRow(), GetColumn()); });
}

void TFormulaRecord::ArrangeTokensInsertRowsAndCols(int rowPos, int rowCount, int rowOffset, int colPos, int colCount,
                                                    int colOffset, const TSheetInfo& info) {
    CheckTokens(rowPos, rowCount, rowOffset, colPos, colCount, colOffset, info);
    MoveTokens(rowPos, rowCount, rowOffset, colPos, colCount, colOffset, info);
}

// Checked before: nothing refuses here.
void TFormulaRecord::MoveTokens(int rowPos, int rowCount, int rowOffset, int colPos, int colCount, int colOffset,
                                const TSheetInfo& info) {
    UXlsTokenArray_ArrangeInsertRowsAndCols(Data, HeaderSize, TokensEnd(), rowPos, rowCount, rowOffset, colPos,
                                            colCount, colOffset, info, true);
    if (auto* array = GetArrayRecord())
        UXlsTokenArray_ArrangeInsertRowsAndCols(array->Data, 14, array->TokensEnd(), rowPos, rowCount, rowOffset,
                                                colPos, colCount, colOffset, info, true);
}

// The formula's tokens and its ARRAY's, walked without a change.
void TFormulaRecord::CheckTokens(int rowPos, int rowCount, int rowOffset, int colPos, int colCount, int colOffset,
                                 const TSheetInfo& info) const {
    ReportTokens([&] {
        UXlsTokenArray_CheckInsertRowsAndCols(Data, HeaderSize, TokensEnd(), rowPos, rowCount, rowOffset, colPos,
                                              colCount, colOffset, info, true);
        if (auto* array = GetArrayRecord()) UXlsTokenArray_CheckNotNested(array->Data, 14, array->TokensEnd());
    });
}

// Everything ArrangeInsertRowsAndCols would refuse.
void TFormulaRecord::CheckArrange(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) const {
    TBaseRowColRecord::CheckArrange(rowPos, rowCount, colPos, colCount, info);
    CheckTokens(rowPos, rowCount, 0, colPos, colCount, 0, info);
    if (!MovesOnOwnSheet(info)) return;
    if (auto* table = GetTableRecord()) table->CheckInsertRowsAndCols(rowPos, rowCount, colPos, colCount);
    if (auto* array = GetArrayRecord()) array->CheckInsertRowsAndCols(rowPos, rowCount, colPos, colCount);
}

void TFormulaRecord::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                              const TSheetInfo& info) {
    CheckArrange(rowPos, rowCount, colPos, colCount, info);
    TBaseRowColRecord::ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
    MoveTokens(rowPos, rowCount, 0, colPos, colCount, 0, info);
    if (!MovesOnOwnSheet(info)) return;
    if (auto* table = GetTableRecord()) table->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount);
    if (auto* array = GetArrayRecord()) array->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount);
}

void TFormulaRecord::CheckCopyRowsAndCols(int rowOffset, int colOffset) const {
    CheckTokens(0, 0, rowOffset, 0, 0, colOffset, TSheetInfo{});
    if (auto* table = GetTableRecord()) table->CheckCopyRowsAndCols(rowOffset, colOffset);
    if (auto* array = GetArrayRecord()) array->CheckCopyRowsAndCols(rowOffset, colOffset);
}

void TFormulaRecord::ArrangeCopyRowsAndCols(int rowOffset, int colOffset) {
    CheckCopyRowsAndCols(rowOffset, colOffset);
    MoveTokens(0, 0, rowOffset, 0, 0, colOffset, TSheetInfo{});
    if (auto* table = GetTableRecord()) table->ArrangeCopyRowsAndCols(rowOffset, colOffset);
    if (auto* array = GetArrayRecord()) array->ArrangeCopyRowsAndCols(rowOffset, colOffset);
    TBaseRowColRecord::ArrangeCopyRowsAndCols(rowOffset, colOffset);
}

void TFormulaRecord::CheckInsertSheet(const TSheetInfo& info) const {
    ReportTokens([&] {
        UXlsTokenArray_CheckInsertSheets(Data, HeaderSize, TokensEnd(), info);
        if (auto* array = GetArrayRecord()) UXlsTokenArray_CheckNotNested(array->Data, 14, array->TokensEnd());
    });
}

// The ARRAY's tokens are the array formula itself: they follow too.
void TFormulaRecord::ArrangeInsertSheet(const TSheetInfo& info) {
    CheckInsertSheet(info);
    UXlsTokenArray_ArrangeInsertSheets(Data, HeaderSize, TokensEnd(), info);
    if (auto* array = GetArrayRecord()) UXlsTokenArray_ArrangeInsertSheets(array->Data, 14, array->TokensEnd(), info);
}

// Text results always have their STRING, an empty text too.
bool TFormulaRecord::HasTextResult() const {
    return GetWord(Data, 12) == TypedResult && Data[6] == ResultText && !(OwnValue() && OwnValue()->IsEmpty());
}

std::u16string TFormulaRecord::ResultString() const {
    const TVariant value = GetValue();
    return value.VarType() == TVarType::String ? value.Text() : VariantToString(value);
}

std::int64_t TFormulaRecord::SaveStringRecord(TOle2File* ole) const {
    if (!HasTextResult()) return 0;
    TStringLayout layout;
    TExcelString(2, false, ResultString()).AppendTo(layout.Bytes, true);
    if (ole) {
        const std::size_t first = std::min(layout.Bytes.size(), StringFirstPiece);
        ole->WriteHeader(xlr_STRING, static_cast<std::uint16_t>(first));
        ole->WriteMem(layout.Bytes.data(), first);
        for (std::size_t pos = first; pos < layout.Bytes.size(); pos += StringNextPiece) {
            const std::size_t piece = std::min(layout.Bytes.size() - pos, StringNextPiece);
            ole->WriteHeader(xlr_CONTINUE, static_cast<std::uint16_t>(piece + 1));
            ole->WriteMem(&layout.Bytes[2], 1);  // the string's option byte
            ole->WriteMem(layout.Bytes.data() + pos, piece);
        }
    }
    return layout.Size();
}

void TFormulaRecord::SaveToStream(TOle2File& ole) const {
    TCellRecord::SaveToStream(ole);
    if (auto* array = GetArrayRecord()) array->SaveToStream(ole);
    if (auto* table = GetTableRecord()) table->SaveToStream(ole);
    SaveStringRecord(&ole);
}

std::int64_t TFormulaRecord::TotalSize() const {
    const auto* array = GetArrayRecord();
    const auto* table = GetTableRecord();
    return TCellRecord::TotalSize() + (array ? array->TotalSize() : 0) + (table ? table->TotalSize() : 0) +
           SaveStringRecord(nullptr);
}

std::int64_t TFormulaRecord::TotalSizeNoHeaders() const {
    std::int64_t strings = 0;
    if (HasTextResult()) {
        TStringLayout layout;
        TExcelString(2, false, ResultString()).AppendTo(layout.Bytes, true);
        strings = layout.Size() - 4 * static_cast<std::int64_t>(layout.Pieces());
    }
    const auto* array = GetArrayRecord();
    const auto* table = GetTableRecord();
    return TCellRecord::TotalSizeNoHeaders() + (array ? array->TotalSizeNoHeaders() : 0) +
           (table ? table->TotalSizeNoHeaders() : 0) + strings;
}

// Saving with cleared results changes the record: the sheet is saved from
// records that are never const themselves.
std::int64_t TFormulaRecord::FixTotalSize(bool clearResults) const {
    if (clearResults) const_cast<TFormulaRecord*>(this)->ClearResult();
    return TotalSize();
}

std::unique_ptr<TBaseRecord> TFormulaRecord::DoCopyTo() const {
    auto copy = TCellRecord::DoCopyTo();
    auto* formula = static_cast<TFormulaRecord*>(copy.get());
    if (const auto* table = GetTableRecord())
        formula->SetTableRecord(std::unique_ptr<TTableRecord>(static_cast<TTableRecord*>(table->CopyTo().release())));
    if (const auto* array = GetArrayRecord())
        formula->SetArrayRecord(std::unique_ptr<TArrayRecord>(static_cast<TArrayRecord*>(array->CopyTo().release())));
    formula->ClearResult();
    return copy;
}

// ---------------------------------------------------------------------------
// NAME

namespace {

std::vector<std::uint8_t> CheckedName(std::vector<std::uint8_t> data) {
    if (data.size() < 15) Raise(ErrWrongExcelRecord, xlr_NAME);
    const std::size_t nameBytes = static_cast<std::size_t>(data[3]) * ((data[14] & 1) ? 2 : 1);
    if (15 + nameBytes + GetWord(data, 4) > data.size()) Raise(ErrWrongExcelRecord, xlr_NAME);
    return data;
}

// A name without a formula keeps its text, with no tokens.
std::vector<std::uint8_t> NewNameData(const TXlsNamedRange& range, std::span<const std::uint8_t> tokens) {
    if (range.Name.size() > 0xFF) Raise(ErrInvalidNameForARange, range.Name);
    std::vector<std::uint8_t> name;
    TExcelString(1, false, range.Name).AppendTo(name, false);
    std::vector<std::uint8_t> data(14);
    SetWord(data, 0, range.OptionFlags);
    data[3] = static_cast<std::uint8_t>(range.Name.size());
    SetWord(data, 4, static_cast<std::uint16_t>(tokens.size()));
    if (range.NameSheetIndex >= 0) {
        SetWord(data, 6, static_cast<std::uint16_t>(range.NameSheetIndex + 1));
        SetWord(data, 8, static_cast<std::uint16_t>(range.NameSheetIndex + 1));
    }
    data.insert(data.end(), name.begin(), name.end());
    data.insert(data.end(), tokens.begin(), tokens.end());
    if (data.size() > 0xFFFF) Raise(ErrInvalidNameForARange, range.Name);
    return data;
}

enum : int { NoToken = 0, Ref3d = 1, Area3d = 2 };

}  // namespace

TNameRecord::TNameRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedName(std::move(data))) {}

TNameRecord::TNameRecord(const TXlsNamedRange& range, std::span<const std::uint8_t> tokens)
    : TRecordOf(xlr_NAME, NewNameData(range, tokens)) {}

std::u16string TNameRecord::Name() const {
    std::u16string text;
    std::int64_t size = 0;
    GetSimpleString(false, Data, 14, true, NameLength(), text, size);
    return text;
}

std::size_t TNameRecord::NameSize() const {
    if (Data.size() < 15) Raise(ErrReadingRecord);
    return 1 + static_cast<std::size_t>(NameLength()) * ((Data[14] & 1) ? 2 : 1);
}

int TNameRecord::RangeSheet() const { return Data.empty() ? -1 : GetWord(Data, 8) - 1; }

// A first token cut short by the token length counts as none.
int TNameRecord::FirstTokenKind() const {
    if (Data.empty()) return NoToken;
    const std::uint16_t length = GetWord(Data, 4);
    if (length == 0) return NoToken;
    switch (Data[TokensStart()]) {
        case 0x3A:
        case 0x5A:
        case 0x7A: return length >= 7 ? Ref3d : NoToken;
        case 0x3B:
        case 0x5B:
        case 0x7B: return length >= 11 ? Area3d : NoToken;
        default: return NoToken;
    }
}

// Fields 0 first row, 1 last row, 2 first column, 3 last column.
int TNameRecord::AreaField(int field) const {
    const int kind = FirstTokenKind();
    if (kind == NoToken) return -1;
    const std::size_t at = TokensStart() + 3;
    const std::size_t pos = kind == Area3d ? at + 2 * field : at + (field < 2 ? 0 : 2);
    const int value = GetWord(Data, pos);
    return field < 2 ? value : value & 0xFF;
}

int TNameRecord::GetR1() const { return AreaField(0); }
int TNameRecord::GetR2() const { return AreaField(1); }
int TNameRecord::GetC1() const { return AreaField(2); }
int TNameRecord::GetC2() const { return AreaField(3); }

void TNameRecord::SetAreaField(int field, int value) {
    if (field < 2 && (value < 0 || value > 0xFFFF)) Raise(ErrInvalidRow, value);
    if (field >= 2 && (value < 0 || value > 0xFF)) Raise(ErrInvalidCol, value);
    if (FirstTokenKind() == NoToken) return;
    ChangeRefToArea();
    SetWord(Data, TokensStart() + 3 + 2 * field, static_cast<std::uint16_t>(value));
}

// 3A ix row col -> 3B ix row row col col: the rest of the data moves back.
void TNameRecord::ChangeRefToArea() {
    if (FirstTokenKind() != Ref3d) return;
    const std::size_t token = TokensStart();
    Assert(Data.size() + 4 <= 0xFFFF, "UXlsFormula", "name too long");
    const std::array<std::uint8_t, 4> copies = {Data[token + 3], Data[token + 4], Data[token + 5], Data[token + 6]};
    Data.insert(Data.begin() + static_cast<std::ptrdiff_t>(token + 7), {copies[2], copies[3]});
    Data.insert(Data.begin() + static_cast<std::ptrdiff_t>(token + 5), {copies[0], copies[1]});
    ++Data[token];
    SetWord(Data, 4, static_cast<std::uint16_t>(GetWord(Data, 4) + 4));
}

int TNameRecord::RefersToSheet(const TSheetLookup& lookup) const {
    if (FirstTokenKind() == NoToken || !lookup) return -1;
    return lookup(GetWord(Data, TokensStart() + 1));
}

void TNameRecord::ArrangeInsertSheets(int firstSheet, int count) {
    if (RangeSheet() >= firstSheet) IncWord(Data, 8, count, 65001);
}

template <class Call>
void TNameRecord::ReportTokens(Call call) const {
    try {
        call();
    } catch (const ETokenException& e) {
        Raise(ErrBadName, Name(), e.Token);
    }
}

void TNameRecord::ArrangeTokensInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                                 const TSheetInfo& info) {
    if (Data.empty()) return;
    ReportTokens([&] {
        UXlsTokenArray_ArrangeInsertRowsAndCols(Data, TokensStart(), TokensEnd(), rowPos, rowCount, 0, colPos,
                                                colCount, 0, info, true);
    });
}

void TNameRecord::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                           const TSheetInfo& info) {
    ArrangeTokensInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
}

void TNameRecord::CheckRenumberNames(const TSheetInfo& info) const {
    if (Data.empty()) return;
    ReportTokens([&] { UXlsTokenArray_CheckInsertSheets(Data, TokensStart(), TokensEnd(), info); });
}

void TNameRecord::RenumberNames(const TSheetInfo& info) {
    if (Data.empty()) return;
    ReportTokens([&] { UXlsTokenArray_ArrangeInsertSheets(Data, TokensStart(), TokensEnd(), info); });
}

void TNameRecord::ArrangeCopySheet(const TSheetInfo& info) {
    if (Data.empty()) return;
    ReportTokens([&] { UXlsTokenArray_ArrangeInsertSheets(Data, TokensStart(), TokensEnd(), info); });
    SetWord(Data, 8, static_cast<std::uint16_t>(info.InsSheet + 1));
}

// ---------------------------------------------------------------------------
// Lists

void TNameRecordList::CheckArrange(int rowPos, int rowCount, int colPos, int colCount,
                                   const TSheetInfo& info) const {
    for (std::size_t i = 0; i < Count(); ++i) {
        auto scratch = GetItems(i)->CopyTo();
        static_cast<TNameRecord&>(*scratch).ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
    }
}

void TNameRecordList::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                               const TSheetInfo& info) {
    CheckArrange(rowPos, rowCount, colPos, colCount, info);
    for (std::size_t i = 0; i < Count(); ++i)
        GetItems(i)->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
}

std::vector<std::int32_t> TNameRecordList::IndexesAfterDeletingSheets(int first, int count) const {
    std::vector<std::int32_t> indexes;
    std::int32_t next = 0;
    for (std::size_t i = 0; i < Count(); ++i) {
        const int sheet = GetItems(i)->RangeSheet();
        indexes.push_back(sheet >= first && sheet < first + count ? -1 : next++);
    }
    return indexes;
}

void TNameRecordList::DeleteSheets(int first, int count, const TNameRenumbering& renumbering) {
    TSheetInfo info;
    info.Renumbering = &renumbering;
    const bool renumber = renumbering.Changes();
    for (std::size_t i = 0; renumber && i < Count(); ++i)
        if (renumbering.NewIndex.at(i) >= 0) GetItems(i)->CheckRenumberNames(info);
    for (std::size_t i = Count(); i-- > 0;) {
        const int sheet = GetItems(i)->RangeSheet();
        if (sheet >= first && sheet < first + count) {
            Delete(i);
            continue;
        }
        GetItems(i)->ArrangeInsertSheets(first, -count);
        if (renumber) GetItems(i)->RenumberNames(info);
    }
}

// The names' sheet fields still count before the insertion; the lookup
// already answers after it, where the source sits at copyFrom + count when
// the new sheets go before it. The copies' tokens use that numbering.
void TNameRecordList::InsertSheets(int copyFrom, int beforeSheet, const TSheetInfo& info, int count) {
    const int source = copyFrom >= beforeSheet ? copyFrom + count : copyFrom;
    std::vector<std::unique_ptr<TNameRecord>> copies;
    for (std::size_t i = 0; copyFrom >= 0 && i < Count(); ++i) {
        const TNameRecord& name = *GetItems(i);
        const bool copied = name.RangeSheet() == copyFrom ||
                            (name.RangeSheet() < 0 && name.RefersToSheet(info.GetSheet) == source);
        for (int k = 0; copied && k < count; ++k) {
            TSheetInfo at = info;
            at.InsSheet = beforeSheet + k;
            at.FormulaSheet = source;
            copies.emplace_back(static_cast<TNameRecord*>(name.CopyTo().release()));
            copies.back()->ArrangeCopySheet(at);
        }
    }
    for (std::size_t i = 0; i < Count(); ++i) {
        const int sheet = GetItems(i)->RangeSheet();
        if (sheet >= beforeSheet && sheet + 1 + count > 65001) Raise(ErrTooManyEntries, sheet + 1 + count, 65001);
    }
    for (std::size_t i = 0; i < Count(); ++i) GetItems(i)->ArrangeInsertSheets(beforeSheet, count);
    for (auto& copy : copies) Add(std::move(copy));
}

namespace {
std::uint32_t KeyOf(const std::unique_ptr<TBaseRecord>& shared) { return static_cast<TShrFmlaRecord&>(*shared).Key(); }
}  // namespace

void TShrFmlaRecordList::Add(std::unique_ptr<TShrFmlaRecord> shared) {
    // Behind those of its key and before: they come in row order, mostly
    // at the end.
    const std::uint32_t key = shared->Key();
    const auto at = std::upper_bound(List().begin(), List().end(), key,
                                     [](std::uint32_t k, const auto& item) { return k < KeyOf(item); });
    Insert(static_cast<std::size_t>(at - List().begin()), std::move(shared));
}

bool TShrFmlaRecordList::Expand(TFormulaRecord& formula) const {
    std::uint32_t key;
    std::size_t index;
    if (!formula.IsExp(key) || !Find(key, index)) return false;
    formula.MixShared(GetItems(index)->Data, GetItems(index)->DataSize());
    return true;
}

bool TShrFmlaRecordList::Find(std::uint32_t key, std::size_t& index) const {
    const auto at = std::lower_bound(List().begin(), List().end(), key,
                                     [](const auto& item, std::uint32_t k) { return KeyOf(item) < k; });
    index = static_cast<std::size_t>(at - List().begin());
    return at != List().end() && KeyOf(*at) == key;
}

}  // namespace kalmira
