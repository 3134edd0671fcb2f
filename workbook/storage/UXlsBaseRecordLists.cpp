#include "workbook/storage/UXlsBaseRecordLists.h"

#include <algorithm>

#include "workbook/storage/Uxlsotherrecords.h"

namespace kalmira {

namespace {
constexpr TXlsCellRange FullSheet{0, 0, 255, 65535};
}  // namespace

// ---------------------------------------------------------------------------
// TBaseRecordList

void TBaseRecordList::Add(std::unique_ptr<TBaseRecord> record) {
    if (Tracked()) FTotalSize += SizeOf(record.get());
    TBaseRecord* added = record.get();
    DoAdd(std::move(record));
    if (added) Notify(*added, true);
}

void TBaseRecordList::Insert(std::size_t index, std::unique_ptr<TBaseRecord> record) {
    const std::int64_t size = Tracked() ? SizeOf(record.get()) : 0;
    TBaseRecord* added = record.get();
    DoInsert(index, std::move(record));
    if (Tracked()) FTotalSize += size;
    if (added) Notify(*added, true);
}

void TBaseRecordList::Delete(std::size_t index) {
    if (Tracked()) FTotalSize -= SizeOf(Items(index));
    Tell(Slot(index), false);
    DoDelete(index);
}

void TBaseRecordList::InsertBlock(std::size_t index, std::vector<std::unique_ptr<TBaseRecord>> records) {
    std::int64_t size = 0;
    if (Tracked())
        for (const auto& record : records) size += SizeOf(record.get());
    const std::size_t count = records.size();
    DoInsertBlock(index, std::move(records));
    if (Tracked()) FTotalSize += size;
    for (std::size_t i = index; i < index + count; ++i) Tell(Slot(i), true);
}

void TBaseRecordList::DeleteBlock(std::size_t first, std::size_t count) {
    Assert(first <= Count() && count <= Count() - first, "UXlsBaseRecordLists", "index out of range");
    std::int64_t size = 0;
    for (std::size_t i = first; i < first + count; ++i) {
        if (Tracked()) size += SizeOf(Items(i));
        Tell(Slot(i), false);
    }
    DoDeleteBlock(first, count);
    if (Tracked()) FTotalSize -= size;
}

void TBaseRecordList::SetItems(std::size_t index, std::unique_ptr<TBaseRecord> record) {
    auto& slot = Slot(index);
    if (Tracked()) FTotalSize += SizeOf(record.get()) - SizeOf(slot.get());
    Tell(slot, false);
    Tell(record, true);
    slot = std::move(record);
}

// Last to first: an index searched from its end finds each at once.
void TBaseRecordList::Clear() {
    for (std::size_t i = Count(); i-- > 0;) Tell(Slot(i), false);
    DoClear();
    if (Tracked()) FTotalSize = 0;
}

void TBaseRecordList::CopyFrom(const TBaseRecordList& other) {
    for (const auto& record : other.List()) Add(record ? record->CopyTo() : nullptr);
}

void TBaseRecordList::SaveToStream(TOle2File& ole) const {
    for (const auto& record : List())
        if (record) record->SaveToStream(ole);
}

// ---------------------------------------------------------------------------
// TBaseRowColRecordList

namespace {
std::uint16_t ColumnOf(const std::unique_ptr<TBaseRecord>& record) {
    return static_cast<const TBaseRowColRecord&>(*record).GetColumn();
}
}  // namespace

// Mostly the last column: a look at the last record suffices.
void TBaseRowColRecordList::Add(std::unique_ptr<TBaseRowColRecord> record) {
    std::size_t index = Count();
    if (index > 0 && ColumnOf(List()[index - 1]) > record->GetColumn()) Find(record->GetColumn() + 1, index);
    TBaseRecordList::Insert(index, std::move(record));
}

void TBaseRowColRecordList::Insert(std::size_t index, std::unique_ptr<TBaseRowColRecord> record) {
    TBaseRecordList::Insert(index, std::move(record));
}

bool TBaseRowColRecordList::Find(int column, std::size_t& index) const {
    const auto it = std::lower_bound(List().begin(), List().end(), column,
                                     [](const auto& record, int c) { return ColumnOf(record) < c; });
    index = static_cast<std::size_t>(it - List().begin());
    return it != List().end() && ColumnOf(*it) == column;
}

bool TBaseRowColRecordList::InRange(const TBaseRowColRecord& record, const TXlsCellRange& range) {
    return record.GetRow() >= range.Top && record.GetRow() <= range.Bottom && record.GetColumn() >= range.Left &&
           record.GetColumn() <= range.Right;
}

void TBaseRowColRecordList::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const {
    for (std::size_t i = 0; i < Count(); ++i)
        if (GetItems(i) && InRange(*GetItems(i), range)) GetItems(i)->SaveToStream(ole);
}

std::int64_t TBaseRowColRecordList::TotalRangeSize(const TXlsCellRange& range, bool fix) const {
    std::int64_t size = 0;
    for (std::size_t i = 0; i < Count(); ++i)
        if (GetItems(i) && InRange(*GetItems(i), range)) size += GetItems(i)->FixTotalSize(fix);
    return size;
}

void TBaseRowColRecordList::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                                     const TSheetInfo& info) {
    for (std::size_t i = 0; i < Count(); ++i)
        if (GetItems(i)) GetItems(i)->CheckArrange(rowPos, rowCount, colPos, colCount, info);
    for (std::size_t i = 0; i < Count(); ++i)
        if (GetItems(i)) GetItems(i)->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
}

void TBaseRowColRecordList::ArrangeCopyRowsAndCols(int rowOffset, int colOffset) {
    for (std::size_t i = 0; i < Count(); ++i)
        if (GetItems(i)) GetItems(i)->ArrangeCopyRowsAndCols(rowOffset, colOffset);
}

// ---------------------------------------------------------------------------
// TCellRecordList

std::int64_t TCellRecordList::SaveAndCalcRange(TOle2File* ole, const TXlsCellRange& range) const {
    if (Count() == 0) return 0;
    const int row = GetItems(0)->GetRow();
    if (row < range.Top || row > range.Bottom) return 0;
    auto next = [&](std::size_t i) { return i + 1 < Count() ? GetItems(i + 1) : nullptr; };
    std::int64_t total = 0;
    for (std::size_t i = 0; i < Count(); ++i) {
        const TCellRecord* cell = GetItems(i);
        if (cell->GetColumn() < range.Left || cell->GetColumn() > range.Right) continue;
        if (!cell->CanJoinNext(next(i), range.Right)) {
            if (ole) cell->SaveToStream(*ole);
            total += cell->FixTotalSize(false);
            continue;
        }
        std::size_t last = i + 1;
        std::int64_t size = cell->TotalSizeFirst();
        for (; GetItems(last)->CanJoinNext(next(last), range.Right); ++last) size += GetItems(last)->TotalSizeMid();
        size += GetItems(last)->TotalSizeLast();
        if (ole) {
            cell->SaveFirstMul(*ole, size);
            for (std::size_t k = i + 1; k < last; ++k) GetItems(k)->SaveMidMul(*ole);
            GetItems(last)->SaveLastMul(*ole);
        }
        total += size;
        i = last;
    }
    return total;
}

std::int64_t TCellRecordList::GetTotalSize() const { return SaveAndCalcRange(nullptr, FullSheet); }

void TCellRecordList::SaveToStream(TOle2File& ole) const { SaveAndCalcRange(&ole, FullSheet); }

void TCellRecordList::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const {
    SaveAndCalcRange(&ole, range);
}

std::int64_t TCellRecordList::TotalRangeSize(const TXlsCellRange& range, bool) const {
    return SaveAndCalcRange(nullptr, range);
}

// ---------------------------------------------------------------------------
// TRowRecordList

TRowRecord* TRowRecordList::GetItems(std::size_t row) const {
    if (!HasRow(static_cast<int>(row))) Raise(ErrRowMissing, row);
    return static_cast<TRowRecord*>(Items(row));
}

bool TRowRecordList::HasRow(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < Count() && Items(static_cast<std::size_t>(row)) != nullptr;
}

void TRowRecordList::AddRecord(std::unique_ptr<TRowRecord> record) {
    const std::size_t row = record->GetRow();
    while (Count() < row) TBaseRecordList::Add(nullptr);
    if (Count() == row) TBaseRecordList::Add(std::move(record));
    else if (!Items(row)) SetItems(row, std::move(record));
    // else: the row keeps its first record; this one is freed here.
}

void TRowRecordList::AddRow(int row) {
    if (!HasRow(row)) AddRecord(std::make_unique<TRowRecord>(static_cast<std::uint16_t>(row)));
}

int TRowRecordList::RowHeight(int row) const { return HasRow(row) ? GetItems(row)->GetHeight() : 0; }

void TRowRecordList::SetRowHeight(int row, int height) {
    AddRow(row);
    GetItems(row)->SetHeight(static_cast<std::uint16_t>(height));
    GetItems(row)->ManualHeight();
}

void TRowRecordList::AutoRowHeight(int row, bool autoHeight) {
    if (!HasRow(row)) return;
    if (autoHeight) GetItems(row)->AutoHeight();
    else GetItems(row)->ManualHeight();
}

bool TRowRecordList::IsAutoRowHeight(int row) const { return !HasRow(row) || GetItems(row)->IsAutoHeight(); }

void TRowRecordList::CalcGuts(TGutsRecord& guts) const {
    int level = 0;
    for (std::size_t row = 0; row < Count(); ++row)
        if (Items(row)) level = std::max(level, GetItems(row)->GetRowOutlineLevel());
    guts.SetRowLevel(level);
}

std::int64_t TRowRecordList::TotalRangeSize(const TXlsCellRange& range, bool fix) const {
    std::int64_t size = 0;
    for (int row = std::max(range.Top, 0); row <= range.Bottom && static_cast<std::size_t>(row) < Count(); ++row)
        if (HasRow(row)) size += GetItems(row)->FixTotalSize(fix);
    return size;
}

void TRowRecordList::DeleteRows(int first, int count, const TSheetInfo& info) {
    if (first < 0 || count <= 0 || static_cast<std::size_t>(first) >= Count()) return;
    const std::size_t end = std::min(Count(), static_cast<std::size_t>(first) + static_cast<std::size_t>(count));
    DeleteBlock(static_cast<std::size_t>(first), end - static_cast<std::size_t>(first));
    for (std::size_t i = static_cast<std::size_t>(first); i < Count(); ++i)
        if (Items(i)) static_cast<TRowRecord*>(Items(i))->ArrangeInsertRowsAndCols(first, -count, NoMovePosition, 0, info);
}

void TRowRecordList::InsertAndCopyRows(int firstRow, int lastRow, int destRow, int copies, const TSheetInfo& info) {
    if (firstRow < 0 || lastRow < firstRow || destRow < 0 || copies < 0) Raise(ErrBadCopyRows);
    const int shift = CopiedBlockSize(firstRow, lastRow, copies, destRow, 65535);
    // Every record is checked before any moves.
    for (std::size_t i = static_cast<std::size_t>(destRow); i < Count(); ++i)
        if (Items(i)) static_cast<TRowRecord*>(Items(i))->CheckArrange(destRow, shift, NoMovePosition, 0, info);
    if (destRow + shift - 1 > 65535) Raise(ErrTooManyEntries, destRow + shift - 1, 65535);
    for (std::size_t i = static_cast<std::size_t>(destRow); i < Count(); ++i)
        if (Items(i)) static_cast<TRowRecord*>(Items(i))->ArrangeInsertRowsAndCols(destRow, shift, NoMovePosition, 0, info);

    // The copies are made first and go in as one block: the sources have
    // not moved in the list yet, so each sits at its own row.
    std::vector<std::unique_ptr<TBaseRecord>> block;
    block.reserve(static_cast<std::size_t>(shift));
    for (int c = 0, dest = destRow; c < copies; ++c) {
        for (int row = firstRow; row <= lastRow; ++row, ++dest) {
            std::unique_ptr<TBaseRecord> copy;
            if (HasRow(row)) {
                copy = Items(static_cast<std::size_t>(row))->CopyTo();
                static_cast<TRowRecord&>(*copy).SetRow(static_cast<std::uint16_t>(dest));
            }
            block.push_back(std::move(copy));
        }
    }
    while (Count() < static_cast<std::size_t>(destRow)) TBaseRecordList::Add(nullptr);
    InsertBlock(static_cast<std::size_t>(destRow), std::move(block));
    // Empty slots pushed past the sheet's last row go: a sheet has 65536 rows.
    while (Count() > 65536) {
        Assert(!Items(Count() - 1), "UXlsBaseRecordLists", "a ROW record beyond the last row");
        Delete(Count() - 1);
    }
}

}  // namespace kalmira
