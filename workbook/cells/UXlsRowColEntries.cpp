#include "workbook/cells/UXlsRowColEntries.h"

#include "workbook/cells/UXlsFormula.h"
#include "workbook/cells/UXlsFormulaParser.h"

#include <algorithm>
#include <array>
#include <optional>

#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/UXlsSettingRecords.h"

namespace kalmira {

namespace {

constexpr int RowsPerBlock = 32;
constexpr std::uint16_t DefaultXF = 15;

bool IsFormula(const TBaseRecord& record) { return record.Id == xlr_FORMULA; }

// The first and last column of a row's cells that the sheet writes (the
// load refuses cells beyond column 255; none is ever kept unwritten).
struct TSpan {
    int First, Last;
};

std::optional<TSpan> CellSpan(const TBaseRowColRecordList* list) {
    if (!list || list->Count() == 0 || list->GetItems(0)->GetColumn() > MaxSheetCol) return std::nullopt;
    std::size_t last = list->Count() - 1;
    while (list->GetItems(last)->GetColumn() > MaxSheetCol) --last;
    return TSpan{list->GetItems(0)->GetColumn(), list->GetItems(last)->GetColumn()};
}

void SetRowSpan(TRowRecord& row, int first, int lastPlusOne) {
    row.SetMinCol(static_cast<std::uint16_t>(first));
    row.SetMaxCol(static_cast<std::uint16_t>(lastPlusOne));
}

// The row gets a ROW record, if it has none, whose columns cover its cells.
// A new record, or one whose columns hold nothing, takes the cells'
// columns; other loaded columns widen to cover every cell.
void FixRow(TRowRecordList& rows, int row, const TSpan& span) {
    const bool isNew = !rows.HasRow(row);
    rows.AddRow(row);
    TRowRecord& record = *rows.GetItems(static_cast<std::size_t>(row));
    if (isNew || record.GetMaxCol() <= record.GetMinCol()) SetRowSpan(record, span.First, span.Last + 1);
    else SetRowSpan(record, std::min<int>(record.GetMinCol(), span.First),
                    std::max<int>(record.GetMaxCol(), span.Last + 1));
}

// The rows and columns that ROW records and cells take, gathered row by
// row in ascending order.
class TUsedRange {
public:
    void Take(int row, int first, int lastPlusOne) {
        if (FFirstRow < 0) FFirstRow = row;
        FLastRow = row;
        FFirstCol = std::min(FFirstCol, first);
        FLastColPlusOne = std::max(FLastColPlusOne, lastPlusOne);
    }

    TXlsCellRange Range() const {
        if (FFirstRow < 0) return {0, 0, 0, -1};
        const int lastCol = std::min(FLastColPlusOne > 0 ? FLastColPlusOne - 1 : 0, MaxSheetCol);
        return {std::min(FFirstCol, lastCol), FFirstRow, lastCol, FLastRow};
    }

private:
    int FFirstRow = -1, FLastRow = -1, FFirstCol = MaxSheetCol, FLastColPlusOne = 0;
};

// What a value becomes: the kinds of the variant, grouped.
enum class TValueClass : std::uint8_t { Empty, Boolean, Number, Date, Text, NoRecord };

constexpr std::array<TValueClass, 16> ValueClasses = [] {
    std::array<TValueClass, 16> t{};
    t.fill(TValueClass::Number);
    t[static_cast<int>(TVarType::Empty)] = TValueClass::Empty;
    t[static_cast<int>(TVarType::Null)] = TValueClass::Empty;
    t[static_cast<int>(TVarType::Boolean)] = TValueClass::Boolean;
    t[static_cast<int>(TVarType::Date)] = TValueClass::Date;
    t[static_cast<int>(TVarType::String)] = TValueClass::Text;
    t[static_cast<int>(TVarType::Error)] = TValueClass::NoRecord;
    return t;
}();
static_assert(static_cast<int>(TVarType::Error) < 16);

TValueClass ClassOf(const TVariant& value) {
    const TValueClass c = ValueClasses[static_cast<std::size_t>(value.VarType())];
    return c == TValueClass::Text && value.Text().empty() ? TValueClass::Empty : c;
}

std::unique_ptr<TCellRecord> NumberRecord(int row, int col, std::uint16_t xf, double number) {
    const auto r = static_cast<std::uint16_t>(row), c = static_cast<std::uint16_t>(col);
    std::unique_ptr<TCellRecord> record;
    if (IsRK(number)) record = std::make_unique<TRKRecord>(r, c, xf);
    else record = std::make_unique<TNumberRecord>(r, c, xf);
    record->SetValue(TVariant(number));
    return record;
}

}  // namespace

void CheckRowAndCol(int row, int col) {
    if (row < 0 || row > MaxSheetRow) Raise(ErrInvalidRow, row);
    if (col < 0 || col > MaxSheetCol) Raise(ErrInvalidCol, col);
}

// ---------------------------------------------------------------------------
// TArrangeCheck

void TArrangeCheck::RowOnly(const TBaseRowColRecord& record) const {
    record.CheckArrange(RowPos, RowCount, NoMovePosition, 0, Info);
}

void TArrangeCheck::Fits(int last, int max) {
    if (last > max) Raise(ErrTooManyEntries, last, max);
}

// ---------------------------------------------------------------------------
// TBaseRowColList

void TBaseRowColList::SetItems(std::size_t row, std::unique_ptr<TBaseRowColRecordList> list) {
    Slot(row) = std::move(list);
}

void TBaseRowColList::Insert(std::size_t row, std::unique_ptr<TBaseRowColRecordList> list) {
    DoInsert(row, std::move(list));
}

TBaseRowColRecordList& TBaseRowColList::RowList(int row) {
    while (Count() <= static_cast<std::size_t>(row)) DoAdd(nullptr);
    auto& slot = Slot(static_cast<std::size_t>(row));
    if (!slot) slot = FMaker();
    return *slot;
}

bool TBaseRowColList::FindColumn(const TBaseRowColRecordList& list, int col, std::size_t& index) {
    return list.Find(col, index);
}

// A later record of a column takes the earlier one's place, as other
// readers take a file's later cell (writers put a BLANK first and the
// value behind it). Mostly the record goes last and nothing is searched.
void TBaseRowColList::AddRecord(std::unique_ptr<TBaseRowColRecord> record, std::size_t expected) {
    auto& list = RowList(record->GetRow());
    if (list.Count() == 0) list.Reserve(expected);
    std::size_t index = list.Count();
    if (index > 0 && list.GetItems(index - 1)->GetColumn() >= record->GetColumn() &&
        list.Find(record->GetColumn(), index))
        return list.SetItems(index, std::move(record));
    list.Add(std::move(record));
}

void TBaseRowColList::ShrinkToFit() {
    ShrinkItems();
    for (const auto& list : List())
        if (list) list->ShrinkItems();
}

bool TBaseRowColList::HasRecords(int row) const {
    const auto* list = row >= 0 ? GetItems(static_cast<std::size_t>(row)) : nullptr;
    return list && list->Count() > 0;
}

void TBaseRowColList::CheckArrange(const TArrangeCheck& check) const {
    for (const auto& list : List())
        if (list)
            for (std::size_t i = 0; i < list->Count(); ++i) check.Record(*list->GetItems(i));
}

void TBaseRowColList::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                               const TSheetInfo& info) {
    // Every row: a formula above the insertion may refer to rows below it.
    for (std::size_t row = 0; row < Count(); ++row)
        if (auto* list = GetItems(row)) list->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
}

std::unique_ptr<TBaseRowColRecordList> TBaseRowColList::CopyRow(const TBaseRowColRecordList* source, int destRow,
                                                                bool onlyFormulas) const {
    if (!source || source->Count() == 0) return nullptr;
    auto copy = FMaker();
    for (std::size_t i = 0; i < source->Count(); ++i) {
        const TBaseRowColRecord* record = source->GetItems(i);
        if (onlyFormulas && !IsFormula(*record)) continue;
        copy->Insert(copy->Count(), std::unique_ptr<TBaseRowColRecord>(
                                        static_cast<TBaseRowColRecord*>(record->CopyTo().release())));
    }
    if (copy->Count() == 0) return nullptr;
    copy->ArrangeCopyRowsAndCols(destRow - copy->GetItems(0)->GetRow(), 0);
    return copy;
}

void TBaseRowColList::CopyFrom(const TBaseRowColList& other) {
    for (std::size_t row = 0; row < other.Count(); ++row)
        DoAdd(CopyRow(other.GetItems(row), static_cast<int>(row), false));
}

void TBaseRowColList::DeleteRows(int first, int count, const TSheetInfo& info) {
    if (first < 0 || count <= 0) return;
    if (static_cast<std::size_t>(first) < Count())
        DoDeleteBlock(static_cast<std::size_t>(first),
                      std::min(static_cast<std::size_t>(count), Count() - static_cast<std::size_t>(first)));
    for (std::size_t row = 0; row < Count(); ++row)
        if (auto* list = GetItems(row)) list->ArrangeInsertRowsAndCols(first, -count, NoMovePosition, 0, info);
}

void TBaseRowColList::DeleteCols(int first, int count, const TSheetInfo& info) {
    if (first < 0 || count <= 0) return;
    for (const auto& list : List()) {
        if (!list) continue;
        std::size_t from, to;
        FindColumn(*list, first, from);
        FindColumn(*list, first + count, to);
        if (to > from) list->DeleteBlock(from, to - from);
    }
    ArrangeInsertRowsAndCols(NoMovePosition, 0, first, -count, info);
}

// The copies are built while the sources still sit at their own rows and
// go in as one block.
void TBaseRowColList::InsertAndCopyRows(int first, int last, int dest, int count, const TSheetInfo& info,
                                        bool onlyFormulas) {
    const int shift = (last - first + 1) * count;
    if (shift <= 0) return;
    ArrangeInsertRowsAndCols(dest, shift, NoMovePosition, 0, info);
    std::vector<std::unique_ptr<TBaseRowColRecordList>> block;
    block.reserve(static_cast<std::size_t>(shift));
    for (int c = 0, to = dest; c < count; ++c)
        for (int row = first; row <= last; ++row, ++to)
            block.push_back(CopyRow(GetItems(static_cast<std::size_t>(row)), to, onlyFormulas));
    while (Count() < static_cast<std::size_t>(dest)) DoAdd(nullptr);
    DoInsertBlock(static_cast<std::size_t>(dest), std::move(block));
    // Empty rows pushed past the sheet's last row go: a sheet has 65536 rows.
    while (Count() > static_cast<std::size_t>(MaxSheetRow + 1)) {
        Assert(!HasRecords(static_cast<int>(Count()) - 1), "UXlsRowColEntries", "a cell beyond the last row");
        DoDelete(Count() - 1);
    }
}

void TBaseRowColList::InsertAndCopyCols(int first, int last, int dest, int count, const TSheetInfo& info,
                                        bool onlyFormulas) {
    const int shift = (last - first + 1) * count;
    if (shift <= 0) return;
    ArrangeInsertRowsAndCols(NoMovePosition, 0, dest, shift, info);
    const int moved = dest <= first ? shift : 0;  // the sources moved right with the insertion
    for (const auto& list : List()) {
        if (!list) continue;
        for (int c = 0, to = dest; c < count; ++c) {
            for (int col = first + moved; col <= last + moved; ++col, ++to) {
                std::size_t at;
                if (!FindColumn(*list, col, at)) continue;
                const TBaseRowColRecord* source = list->GetItems(at);
                if (onlyFormulas && !IsFormula(*source)) continue;
                std::unique_ptr<TBaseRowColRecord> copy(static_cast<TBaseRowColRecord*>(source->CopyTo().release()));
                copy->ArrangeCopyRowsAndCols(0, to - col);
                FindColumn(*list, to, at);
                list->Insert(at, std::move(copy));
            }
        }
    }
}

void TBaseRowColList::SaveToStream(TOle2File& ole) const {
    for (const auto& list : List())
        if (list) list->SaveToStream(ole);
}

void TBaseRowColList::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const {
    for (int row = std::max(range.Top, 0); row <= range.Bottom && static_cast<std::size_t>(row) < Count(); ++row)
        if (auto* list = GetItems(static_cast<std::size_t>(row))) list->SaveRangeToStream(ole, range);
}

std::int64_t TBaseRowColList::TotalSize() const {
    std::int64_t size = 0;
    for (const auto& list : List())
        if (list) size += list->GetTotalSize();
    return size;
}

std::int64_t TBaseRowColList::TotalRangeSize(const TXlsCellRange& range) const {
    std::int64_t size = 0;
    for (int row = std::max(range.Top, 0); row <= range.Bottom && static_cast<std::size_t>(row) < Count(); ++row)
        if (auto* list = GetItems(static_cast<std::size_t>(row))) size += list->TotalRangeSize(range, false);
    return size;
}

// ---------------------------------------------------------------------------
// TCellList

namespace {
std::unique_ptr<TBaseRowColRecordList> NewCellRow() { return std::make_unique<TCellRecordList>(); }
}  // namespace

TCellList::TCellList(TGlobalsAccess* globals, TRowRecordList* rows, TColInfoAccess* colInfo)
    : TBaseRowColList(NewCellRow), FGlobals(globals), FRows(rows), FColInfo(colInfo) {}

TCellRecord* TCellList::FindCell(int row, int col) const {
    const auto* list = row >= 0 ? GetItems(static_cast<std::size_t>(row)) : nullptr;
    std::size_t index;
    if (!list || !FindColumn(*list, col, index)) return nullptr;
    return list->GetItems(index);
}

void TCellList::GetValueX2(int row, int col, TXlsCellValue& value, TRTFRunList& runs) const {
    CheckRowAndCol(row, col);
    runs.clear();
    value = TXlsCellValue{};
    const TCellRecord* cell = FindCell(row, col);
    if (!cell) return;
    value.XF = cell->GetXF();
    value.IsFormula = IsFormula(*cell);
    TRichString text;
    const unsigned kinds = cell->Kinds();
    if (kinds & rkLabelSST) text = static_cast<const TLabelSSTRecord*>(cell)->GetAsRichString();
    else if (kinds & rkRString) text = static_cast<const TRStringRecord*>(cell)->GetAsRichString();
    else {
        value.Value = cell->GetValue();
        return;
    }
    value.Value = TVariant(std::move(text.Value));
    runs = std::move(text.RTFRuns);
}

TVariant TCellList::GetValue(int row, int col) const {
    TXlsCellValue value;
    TRTFRunList runs;
    GetValueX2(row, col, value, runs);
    return value.Value;
}

std::uint16_t TCellList::DefaultFormat(int row, int col) const {
    if (FRows->HasRow(row) && FRows->GetItems(static_cast<std::size_t>(row))->IsFormatted())
        return FRows->GetItems(static_cast<std::size_t>(row))->GetXF();
    if (FColInfo)
        if (const auto xf = FColInfo->ColumnXF(col)) return *xf;
    return DefaultXF;
}

std::unique_ptr<TCellRecord> TCellList::NewRecord(int row, int col, const TXlsCellValue& value,
                                                  const TRTFRunList& runs, bool dates1904) const {
    const TCellRecord* existing = FindCell(row, col);
    const std::uint16_t defaultXF = DefaultFormat(row, col);
    std::uint16_t xf = existing ? existing->GetXF() : defaultXF;
    if (value.XF >= 0) xf = static_cast<std::uint16_t>(value.XF);
    const auto r = static_cast<std::uint16_t>(row), c = static_cast<std::uint16_t>(col);
    switch (ClassOf(value.Value)) {
        case TValueClass::Empty:
            return xf != defaultXF ? std::make_unique<TBlankRecord>(r, c, xf) : nullptr;
        case TValueClass::Boolean: {
            auto record = std::make_unique<TBoolErrRecord>(r, c, xf);
            record->SetValue(value.Value);
            return record;
        }
        case TValueClass::Number: return NumberRecord(row, col, xf, value.Value.AsDouble());
        // The 1904 date system counts from 1904-01-01: 1462 days later.
        case TValueClass::Date: return NumberRecord(row, col, xf, value.Value.RealValue() - (dates1904 ? 1462 : 0));
        case TValueClass::Text: {
            Assert(FGlobals != nullptr, "UXlsRowColEntries", "cells without a string table");
            auto label = std::make_unique<TLabelSSTRecord>(r, c, xf, SST());
            label->SetAsRichString({value.Value.Text(), runs});
            return label;
        }
        case TValueClass::NoRecord: return nullptr;
    }
    return nullptr;
}

void TCellList::SetValueX2(int row, int col, const TXlsCellValue& value, const TRTFRunList& runs, bool dates1904) {
    CheckRowAndCol(row, col);
    // The record is made first: a value it refuses changes nothing.
    Replace(row, col, NewRecord(row, col, value, runs, dates1904));
}

void TCellList::Replace(int row, int col, std::unique_ptr<TCellRecord> record) {
    const bool hadRow = FRows->HasRow(row);
    FRows->AddRow(row);
    bool deleted = false;
    if (auto* list = GetItems(static_cast<std::size_t>(row))) {
        std::size_t index;
        if (FindColumn(*list, col, index)) {
            list->Delete(index);
            deleted = true;
        }
    }
    // A ROW record made for nothing goes again, like one whose last cell went.
    if (!record && (deleted || !hadRow)) FitRowAfterDelete(row);
    TrimTrailingRows(row, record != nullptr);
    if (record) PlaceRecord(std::move(record));
}

void TCellList::FitRowAfterDelete(int row) {
    TRowRecord* rowRecord = FRows->GetItems(static_cast<std::size_t>(row));
    if (const auto span = CellSpan(GetItems(static_cast<std::size_t>(row)))) {
        SetRowSpan(*rowRecord, span->First, span->Last + 1);
    } else if (rowRecord->IsModified()) {
        SetRowSpan(*rowRecord, 0, 0);
    } else if (!HasRecords(row)) {
        FRows->SetItems(static_cast<std::size_t>(row), nullptr);
    }
}

// Rows at the end that hold nothing (no cell, no ROW record with settings
// of its own) go; the row just written stays when it got a cell.
void TCellList::TrimTrailingRows(int editedRow, bool madeRecord) {
    while (true) {
        const int top = static_cast<int>(std::max(FRows->Count(), Count())) - 1;
        if (top < 0 || (madeRecord && top <= editedRow)) return;
        if (HasRecords(top) || (FRows->HasRow(top) && FRows->GetItems(static_cast<std::size_t>(top))->IsModified()))
            return;
        if (FRows->Count() > static_cast<std::size_t>(top)) FRows->Delete(static_cast<std::size_t>(top));
        if (Count() > static_cast<std::size_t>(top)) DoDelete(static_cast<std::size_t>(top));
    }
}

void TCellList::PlaceRecord(std::unique_ptr<TCellRecord> record) {
    const int row = record->GetRow(), col = record->GetColumn();
    TRowRecord* rowRecord = FRows->GetItems(static_cast<std::size_t>(row));
    // The first cell of a row sets both columns; later ones widen them.
    if (!HasRecords(row)) SetRowSpan(*rowRecord, col, col + 1);
    else SetRowSpan(*rowRecord, std::min<int>(rowRecord->GetMinCol(), col), std::max<int>(rowRecord->GetMaxCol(), col + 1));
    auto& list = RowList(row);
    std::size_t index;
    FindColumn(list, col, index);
    list.Insert(index, std::move(record));
}

void TCellList::AssignFormulaX(int row, int col, std::span<const std::uint8_t> tokens, const TVariant& value,
                               bool dates1904) {
    CheckRowAndCol(row, col);
    std::unique_ptr<TCellRecord> record;
    if (!tokens.empty()) {
        // One record of at most 8224 bytes, or no reader takes it back.
        if (tokens.size() > MaxRecordDataSize - TFormulaRecord::HeaderSize) Raise(ErrFormulaTooLong, u"");
        const TCellRecord* old = FindCell(row, col);
        const std::uint16_t xf = old ? old->GetXF() : DefaultFormat(row, col);
        auto formula = std::make_unique<TFormulaRecord>(xlr_FORMULA, row, col, xf,
                                                        TFormulaRecord::HeaderSize + tokens.size(), value, dates1904);
        SetWord(formula->Data, 20, static_cast<std::uint16_t>(tokens.size()));
        std::copy(tokens.begin(), tokens.end(), formula->Data.begin() + TFormulaRecord::HeaderSize);
        record = std::move(formula);
    }
    Replace(row, col, std::move(record));
}

void TCellList::AssignFormulaX(int row, int col, const std::u16string& text, const TVariant& value,
                               bool dates1904) {
    CheckRowAndCol(row, col);
    if (text.empty()) return AssignFormulaX(row, col, std::span<const std::uint8_t>(), value, dates1904);
    TParseString parse(text, *this, TFmReturnType::fmValue);
    parse.Parse();
    try {
        AssignFormulaX(row, col, parse.Tokens(), value, dates1904);
    } catch (...) {
        parse.TakeBack();
        throw;
    }
}

std::u16string TCellList::GetFormula(int row, int col) const {
    CheckRowAndCol(row, col);
    const auto* formula = dynamic_cast<const TFormulaRecord*>(FindCell(row, col));
    if (!formula) return {};
    return RPNToString(formula->Data, TFormulaRecord::HeaderSize, FGlobals, this);
}

namespace {
// The formula at the cell, which must carry the record asked for.
template <class Get>
const TRecordData& AttachedData(const TCellList& cells, int row, int col, Get get) {
    if (row < 0 || static_cast<std::size_t>(row) >= cells.Count()) Raise(ErrInvalidRow, row);
    if (col < 0 || col > MaxSheetCol) Raise(ErrInvalidCol, col);
    const auto* formula = dynamic_cast<const TFormulaRecord*>(cells.FindCell(row, col));
    if (!formula) Raise(ErrShrFmlaNotFound);
    const TBaseRecord* attached = get(*formula);
    if (!attached) Raise(ErrBadFormula, row, col, 1);
    return attached->Data;
}

template <class Visit>
void ForEachFormula(const TCellList& cells, Visit visit) {
    for (std::size_t row = 0; row < cells.Count(); ++row)
        if (TCellRecordList* list = cells.GetItems(row))
            for (std::size_t i = 0; i < list->Count(); ++i)
                if (TCellRecord* cell = list->GetItems(i); cell->Is(rkFormula))
                    visit(*list, static_cast<TFormulaRecord&>(*cell));
}
}  // namespace

const TRecordData& TCellList::ArrayFormula(int row, int col) const {
    return AttachedData(*this, row, col, [](const TFormulaRecord& f) -> const TBaseRecord* { return f.GetArrayRecord(); });
}

const TRecordData& TCellList::TableFormula(int row, int col) const {
    return AttachedData(*this, row, col, [](const TFormulaRecord& f) -> const TBaseRecord* { return f.GetTableRecord(); });
}

void TCellList::FixFormulas(TShrFmlaRecordList& shared) {
    if (shared.Count() == 0) return;  // no formula could take any tokens
    ForEachFormula(*this, [&](TCellRecordList& list, TFormulaRecord& formula) {
        list.Resize(formula, [&] { shared.Expand(formula); });
    });
}

void TCellList::ArrangeInsertSheet(const TSheetInfo& info) {
    ForEachFormula(*this, [&](TCellRecordList&, TFormulaRecord& formula) { formula.CheckInsertSheet(info); });
    ForEachFormula(*this, [&](TCellRecordList&, TFormulaRecord& formula) { formula.ArrangeInsertSheet(info); });
}

void TCellList::CheckRemaining(const TArrangeCheck& check, int firstRow, int rowCount, int firstCol,
                               int colCount) const {
    for (std::size_t row = 0; row < Count(); ++row) {
        const TCellRecordList* list = GetItems(row);
        const int r = static_cast<int>(row);
        if (!list || (r >= firstRow && r < firstRow + rowCount)) continue;
        for (std::size_t i = 0; i < list->Count(); ++i) {
            const int col = list->GetItems(i)->GetColumn();
            if (col < firstCol || col >= firstCol + colCount) check.Record(*list->GetItems(i));
        }
    }
}

// A copy of the cell at source (rows or columns) lands at target. The
// copies are made after the insertion has moved every formula (sources at
// or after dest by the inserted block, and tokens pointing there), so each
// source is checked as a moved scratch copy.
void TCellList::CheckCopies(int first, int last, int dest, int count, bool onColumns, const TSheetInfo& info) const {
    const int block = last - first + 1, shift = block * count;
    ForEachFormula(*this, [&](TCellRecordList&, TFormulaRecord& formula) {
        const int source = onColumns ? formula.GetColumn() : formula.GetRow();
        if (source < first || source > last) return;
        const int moved = source >= dest ? source + shift : source;
        auto scratch = formula.CopyTo();
        auto& inserted = static_cast<TFormulaRecord&>(*scratch);
        if (onColumns) inserted.ArrangeInsertRowsAndCols(NoMovePosition, 0, dest, shift, info);
        else inserted.ArrangeInsertRowsAndCols(dest, shift, NoMovePosition, 0, info);
        for (int k = 0; k < count; ++k) {
            const int offset = dest + k * block + (source - first) - moved;
            inserted.CheckCopyRowsAndCols(onColumns ? 0 : offset, onColumns ? offset : 0);
        }
    });
}

void TCellList::SetFormat(int row, int col, int xf) {
    CheckRowAndCol(row, col);
    // A cell keeps its value whether or not its row has a ROW record.
    if (TCellRecord* cell = FindCell(row, col)) {
        cell->SetXF(static_cast<std::uint16_t>(xf));
        return;
    }
    SetValueX2(row, col, TXlsCellValue{{}, xf, false}, {}, false);
}

std::int64_t TCellList::FixTotalSize(bool clearResults) const {
    std::int64_t size = 0;
    for (std::size_t row = 0; row < Count(); ++row) {
        const TCellRecordList* list = GetItems(row);
        if (!list) continue;
        // A formula drops its cached result when its size is fixed with the flag.
        if (clearResults)
            for (std::size_t i = 0; i < list->Count(); ++i) list->GetItems(i)->FixTotalSize(true);
        size += list->FixTotalSize();
    }
    return size;
}

void TCellList::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) {
    TBaseRowColList::ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
    if (FColInfo && colCount > 0) FColInfo->ArrangeInsertCols(colPos, colCount, info);
}

void TCellList::InsertAndCopyCols(int first, int last, int dest, int count, const TSheetInfo& info,
                                  bool onlyFormulas) {
    TBaseRowColList::InsertAndCopyCols(first, last, dest, count, info, onlyFormulas);
    const int moved = dest <= first ? (last - first + 1) * count : 0;
    if (FColInfo && count > 0) FColInfo->CopyCols(first + moved, last + moved, dest, count, info);
}

// ---------------------------------------------------------------------------
// TCells

TCells::TCells(TGlobalsAccess* globals, TColInfoAccess* colInfo) : FCells(globals, &FRows, colInfo) {}

void TCells::AddCell(std::unique_ptr<TCellRecord> cell) {
    // A cell beyond the last column could not be written back.
    if (cell->DataSize() < 6 || cell->GetColumn() > MaxSheetCol) Raise(ErrWrongExcelRecord, cell->Id);
    if (cell->Is(rkLabelSST)) {
        auto& label = static_cast<TLabelSSTRecord&>(*cell);
        if (!label.HasEntry() && FCells.SST()) label.AttachToSST(*FCells.SST());
    }
    // The row's span, as its ROW record gives it, is room enough for most
    // rows; a span from a damaged file is at most a whole row.
    const int row = cell->GetRow(), col = cell->GetColumn();
    const TRowRecord* rowRecord = FRows.HasRow(row) ? FRows.GetItems(static_cast<std::size_t>(row)) : nullptr;
    std::size_t expected = 0;
    if (rowRecord && !FCells.HasRecords(row)) {
        const int first = rowRecord->GetMinCol(), last = std::min<int>(rowRecord->GetMaxCol(), MaxSheetCol + 1);
        if (last > first) expected = static_cast<std::size_t>(last - first);
    }
    FRowsCoverCells = FRowsCoverCells && rowRecord && rowRecord->GetMinCol() <= col && col < rowRecord->GetMaxCol();
    FCells.AddRecord(std::move(cell), expected);
}

void TCells::FixLoadedRows() {
    if (!FRowsCoverCells) FixRows();
    FRows.ShrinkItems();
    FCells.ShrinkToFit();
}

void TCells::ReserveRows(std::size_t rows) {
    FRows.Reserve(rows);
    FCells.Reserve(rows);
}

void TCells::AddMultipleCells(TMultipleValueRecord& record) {
    while (!record.Eof()) AddCell(record.ExtractOneRecord());
}

void TCells::AddRow(std::unique_ptr<TRowRecord> row) { FRows.AddRecord(std::move(row)); }

void TCells::Clear() {
    FRows.Clear();
    FCells.Clear();
    FRowsCoverCells = true;
}

void TCells::CopyFrom(const TCells& other) {
    Clear();
    FRows.CopyFrom(other.FRows);
    FCells.CopyFrom(other.FCells);
}

void TCells::CheckArrange(const TArrangeCheck& check) const {
    for (std::size_t row = 0; row < FRows.Count(); ++row)
        if (FRows.HasRow(static_cast<int>(row))) check.RowOnly(*FRows.GetItems(row));
    FCells.CheckArrange(check);
}

void TCells::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) {
    CheckArrange(TArrangeCheck(rowPos, rowCount, colPos, colCount, info));
    for (std::size_t row = 0; row < FRows.Count(); ++row)
        if (FRows.HasRow(static_cast<int>(row)))
            FRows.GetItems(row)->ArrangeInsertRowsAndCols(rowPos, rowCount, NoMovePosition, 0, info);
    FCells.ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
    if (colCount != 0) ArrangeCols();
}

void TCells::ArrangeInsertSheet(const TSheetInfo& info) { FCells.ArrangeInsertSheet(info); }

void TCells::DeleteRows(int first, int count, const TSheetInfo& info) {
    CheckRowAndCol(first, 0);
    if (count <= 0) return;
    count = std::min(count, NoMovePosition - first);  // there is nothing further down
    FCells.CheckRemaining(TArrangeCheck(first, -count, NoMovePosition, 0, info), first, count, 0, 0);
    FRows.DeleteRows(first, count, info);
    FCells.DeleteRows(first, count, info);
}

void TCells::DeleteCols(int first, int count, const TSheetInfo& info) {
    CheckRowAndCol(0, first);
    if (count <= 0) return;
    count = std::min(count, NoMovePosition - first);  // kept cells lie up to column 65535
    FCells.CheckRemaining(TArrangeCheck(NoMovePosition, 0, first, -count, info), 0, 0, first, count);
    FCells.DeleteCols(first, count, info);
    if (TColInfoAccess* colInfo = FCells.ColInfo()) colInfo->DeleteCols(first, count);
    ArrangeCols();
}

void TCells::InsertAndCopyRows(int first, int last, int dest, int count, const TSheetInfo& info, bool onlyFormulas) {
    CheckRowAndCol(first, 0);
    CheckRowAndCol(last, 0);
    CheckRowAndCol(dest, 0);
    if (last < first || count < 0 || (dest > first && dest <= last)) Raise(ErrBadCopyRows);
    const int shift = CopiedBlockSize(first, last, count, dest, MaxSheetRow);
    if (shift == 0) return;
    CheckArrange(TArrangeCheck(dest, shift, NoMovePosition, 0, info));
    TArrangeCheck::Fits(dest + shift - 1, MaxSheetRow);
    FCells.CheckCopies(first, last, dest, count, false, info);
    FRows.InsertAndCopyRows(first, last, dest, count, info);
    FCells.InsertAndCopyRows(first, last, dest, count, info, onlyFormulas);
}

void TCells::InsertAndCopyCols(int first, int last, int dest, int count, const TSheetInfo& info, bool onlyFormulas) {
    CheckRowAndCol(0, first);
    CheckRowAndCol(0, last);
    CheckRowAndCol(0, dest);
    if (last < first || count < 0 || (dest > first && dest <= last)) Raise(ErrBadCopyRows);
    const int shift = CopiedBlockSize(first, last, count, dest, MaxSheetCol);
    if (shift == 0) return;
    CheckArrange(TArrangeCheck(NoMovePosition, 0, dest, shift, info));
    TArrangeCheck::Fits(dest + shift - 1, MaxSheetCol);
    FCells.CheckCopies(first, last, dest, count, true, info);
    FCells.InsertAndCopyCols(first, last, dest, count, info, onlyFormulas);
    ArrangeCols();
}

void TCells::ArrangeCols() {
    for (std::size_t row = 0; row < FRows.Count(); ++row) {
        if (!FRows.HasRow(static_cast<int>(row))) continue;
        const auto span = CellSpan(FCells.GetItems(row));
        SetRowSpan(*FRows.GetItems(row), span ? span->First : 0, span ? span->Last + 1 : 0);
    }
}

void TCells::FixRows() {
    for (std::size_t row = 0; row < FCells.Count(); ++row)
        if (const auto span = CellSpan(FCells.GetItems(row))) FixRow(FRows, static_cast<int>(row), *span);
}

TXlsCellRange TCells::CalcUsedRange() const {
    TUsedRange used;
    const std::size_t rows = std::max(FRows.Count(), FCells.Count());
    for (std::size_t row = 0; row < rows; ++row) {
        if (FRows.HasRow(static_cast<int>(row))) {
            const TRowRecord* record = FRows.GetItems(row);
            used.Take(static_cast<int>(row), record->GetMinCol(), record->GetMaxCol());
        }
        if (const auto span = CellSpan(FCells.GetItems(row))) used.Take(static_cast<int>(row), span->First, span->Last + 1);
    }
    return used.Range();
}

namespace {
std::array<std::uint8_t, TCells::DimensionsSize - 4> DimensionsData(const TXlsCellRange& range) {
    std::array<std::uint8_t, TCells::DimensionsSize - 4> data{};
    SetLongWord(data, 0, static_cast<std::uint32_t>(range.Top));
    SetLongWord(data, 4, static_cast<std::uint32_t>(range.Bottom + 1));
    SetWord(data, 8, static_cast<std::uint16_t>(range.Left));
    SetWord(data, 10, static_cast<std::uint16_t>(range.Right + 1));
    return data;
}

// Asks the processor for a record before it is read: cell and ROW records
// lie apart in memory, and fetched together their waits overlap instead of
// adding up. A record of up to 64 bytes, not aligned to the cache lines,
// may reach into a second line.
void Prefetch(const void* record) {
    const auto at = reinterpret_cast<std::uintptr_t>(record);
    __builtin_prefetch(record);
    __builtin_prefetch(reinterpret_cast<const void*>(at + 63));
}

// The ROW records and cells of the rows from first to before end.
void PrefetchRows(const TRowRecordList& rowRecords, const TCellList& cells, int first, int end) {
    for (int row = first; row < end; ++row) {
        if (rowRecords.HasRow(row)) Prefetch(rowRecords.GetItems(static_cast<std::size_t>(row)));
        if (const auto* list = cells.GetItems(static_cast<std::size_t>(row)))
            for (std::size_t k = 0; k < list->Count(); ++k) Prefetch(list->GetItems(k));
    }
}
}  // namespace

void TCells::WriteDimensions(TOle2File& ole, const TXlsCellRange& range) {
    ole.WriteHeader(xlr_DIMENSIONS, DimensionsSize - 4);
    const auto data = DimensionsData(range);
    ole.WriteMem(data.data(), data.size());
}

std::int64_t TCells::FixTotalSize(bool clearResults) const {
    return FRows.GetTotalSize() + DimensionsSize + FCells.FixTotalSize(clearResults);
}

std::int64_t TCells::TotalRangeSize(const TXlsCellRange& range) const {
    return FRows.TotalRangeSize(range, false) + DimensionsSize + FCells.TotalRangeSize(range);
}

// What SaveRangeToStream writes for the used range, in one pass over the
// rows, fixing each block's ROW records first when asked: the cells they
// read stay in the cache for the block's cells, and DIMENSIONS gets the
// range gathered on the way. Every cell lies in the used range, and cutting
// a ROW record's columns to it cuts only beyond column 255.
void TCells::SaveUsedRange(TOle2File& ole, bool fixRows) {
    const std::int64_t dimensions = ole.Position();
    WriteDimensions(ole, {});
    const int rows = static_cast<int>(std::max(FRows.Count(), FCells.Count()));
    int top = 0;
    while (top < rows && !FRows.HasRow(top) && !CellSpan(FCells.GetItems(static_cast<std::size_t>(top)))) ++top;
    TUsedRange used;
    for (int block = top; block < rows; block += RowsPerBlock) {
        const int blockEnd = std::min(block + RowsPerBlock, rows);
        PrefetchRows(FRows, FCells, block, blockEnd);
        for (int row = block; row < blockEnd; ++row) {
            if (const auto span = CellSpan(FCells.GetItems(static_cast<std::size_t>(row)))) {
                if (fixRows) FixRow(FRows, row, *span);
                used.Take(row, span->First, span->Last + 1);
            }
            if (!FRows.HasRow(row)) continue;
            TRowRecord& record = *FRows.GetItems(static_cast<std::size_t>(row));
            used.Take(row, record.GetMinCol(), record.GetMaxCol());
            record.SaveRangeToStream(ole, 0, MaxSheetCol);
        }
        for (int row = block; row < blockEnd; ++row)
            if (auto* list = FCells.GetItems(static_cast<std::size_t>(row))) list->SaveToStream(ole);
    }
    const auto data = DimensionsData(used.Range());
    ole.Patch(dimensions + 4, data.data(), data.size());
}

void TCells::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) {
    WriteDimensions(ole, range);
    const int end = std::min(range.Bottom, MaxSheetRow);
    for (int block = std::max(range.Top, 0); block <= end; block += RowsPerBlock) {
        const int blockEnd = std::min(block + RowsPerBlock - 1, end);
        for (int row = block; row <= blockEnd; ++row)
            if (FRows.HasRow(row)) FRows.GetItems(static_cast<std::size_t>(row))->SaveRangeToStream(ole, range.Left, range.Right);
        for (int row = block; row <= blockEnd; ++row)
            if (auto* list = FCells.GetItems(static_cast<std::size_t>(row))) list->SaveRangeToStream(ole, range);
    }
}

// ---------------------------------------------------------------------------
// TRangeList

void TRangeList::CopyFrom(const TRangeList& other) {
    for (const auto& entry : other.List()) DoAdd(entry ? entry->CopyTo() : nullptr);
}

void TRangeList::CheckArrange(const TArrangeCheck& check) const {
    for (const auto& entry : List())
        if (entry) entry->CheckArrange(check);
}

void TRangeList::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                          const TSheetInfo& info) {
    for (const auto& entry : List())
        if (entry) entry->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
}

namespace {
// A line of a change, checked as the cells check it: the entries never
// count beyond the sheet.
void CheckLine(int line, bool onColumns) {
    if (onColumns) CheckRowAndCol(0, line);
    else CheckRowAndCol(line, 0);
}
}  // namespace

void TRangeList::InsertAndCopyRowsOrCols(int first, int last, bool onColumns, const TSheetInfo& info, int copies,
                                         int dest) {
    for (int line : {first, last, dest}) CheckLine(line, onColumns);
    CopiedBlockSize(first, last, copies, dest, onColumns ? MaxSheetCol : MaxSheetRow);
    for (const auto& entry : List())
        if (entry) entry->InsertAndCopyRowsOrCols(first, last, onColumns, info, copies, dest);
}

void TRangeList::DeleteRowsOrCols(int first, int count, const TSheetInfo& info, bool onColumns) {
    CheckLine(first, onColumns);
    count = std::min(count, NoMovePosition - first);  // nothing lies further
    for (const auto& entry : List())
        if (entry) entry->DeleteRowsOrCols(first, count, info, onColumns);
}

void TRangeList::ArrangeCopySheet(const TSheetInfo& info) {
    for (const auto& entry : List())
        if (entry) entry->CheckCopySheet(info);
    for (const auto& entry : List())
        if (entry) entry->ArrangeCopySheet(info);
}

void TRangeList::SaveToStream(TOle2File& ole) const {
    for (const auto& entry : List())
        if (entry) entry->SaveToStream(ole);
}

void TRangeList::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const {
    for (const auto& entry : List())
        if (entry) entry->SaveRangeToStream(ole, range);
}

std::int64_t TRangeList::TotalSize() const {
    std::int64_t size = 0;
    for (const auto& entry : List())
        if (entry) size += entry->TotalSize();
    return size;
}

std::int64_t TRangeList::TotalRangeSize(const TXlsCellRange& range) const {
    std::int64_t size = 0;
    for (const auto& entry : List())
        if (entry) size += entry->TotalRangeSize(range);
    return size;
}

}  // namespace kalmira
