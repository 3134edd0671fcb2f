#include "workbook/storage/Uxlspagebreaks.h"

#include <algorithm>
#include <vector>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UOle2Impl.h"

namespace kalmira {

bool TPageBreakList::Find(int pos, std::size_t& index) const {
    return FindSorted(List(), pos, [](const TPageBreak& entry) { return int{entry.Pos}; }, index);
}

void TPageBreakList::AddRecord(const TBaseRecord& record) {
    if (record.Data.size() < 2) Raise(ErrWrongExcelRecord, record.Id);
    const std::size_t count = GetWord(record.Data, 0);
    if (record.Data.size() < 2 + 6 * count) Raise(ErrWrongExcelRecord, record.Id);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 2 + 6 * i;
        const TPageBreak entry{GetWord(record.Data, at), GetWord(record.Data, at + 2), GetWord(record.Data, at + 4)};
        std::size_t index;
        if (!Find(entry.Pos, index)) DoInsert(index, std::make_unique<TPageBreak>(entry));
    }
}

void TPageBreakList::AddBreak(int pos) {
    if (pos < 0 || pos > FMaxPos) Raise(FInvalidPos, pos);
    if (Count() > MaxAddedBreaks) Raise(ErrTooManyPageBreaks);
    std::size_t index;
    if (!Find(pos, index))
        DoInsert(index, std::make_unique<TPageBreak>(TPageBreak{static_cast<std::uint16_t>(pos), 0, FSpanLast}));
}

void TPageBreakList::DeleteBreak(int pos) {
    std::size_t index;
    if (pos >= 0 && pos <= FMaxPos && Find(pos, index)) DoDelete(index);
}

bool TPageBreakList::HasPageBreak(int pos) const {
    std::size_t index;
    return pos >= 0 && pos <= FMaxPos && Find(pos, index);
}

void TPageBreakList::InsertBreaks(int pos, int count) {
    if (count <= 0) return;
    auto& list = List();
    for (auto& entry : list)
        if (entry->Pos >= pos)
            entry->Pos = static_cast<std::uint16_t>(std::max<int>(entry->Pos, std::min(entry->Pos + count, FMaxPos)));
    // Breaks capped at the last position meet there: the first one stays.
    list.erase(std::unique(list.begin(), list.end(), [](const auto& a, const auto& b) { return a->Pos == b->Pos; }),
               list.end());
}

void TPageBreakList::DeleteBreaks(int pos, int count) {
    if (count <= 0) return;
    auto& list = List();
    erase_if(list, [&](const auto& entry) { return entry->Pos >= pos && entry->Pos < pos + count; });
    for (auto& entry : list)
        if (entry->Pos >= pos + count) entry->Pos = static_cast<std::uint16_t>(entry->Pos - count);
}

void TPageBreakList::CopyFrom(const TPageBreakList& other) {
    for (const auto& entry : other.List()) {
        std::size_t index;
        if (!Find(entry->Pos, index)) DoInsert(index, std::make_unique<TPageBreak>(*entry));
    }
}

std::int64_t TPageBreakList::SizeOf(std::size_t from, std::size_t to) const {
    if (from >= to) return 0;
    if (to - from > MaxSavedBreaks) Raise(ErrTooManyPageBreaks);
    return static_cast<std::int64_t>(to - from) * 6 + 6;
}

void TPageBreakList::Save(TOle2File& ole, std::size_t from, std::size_t to) const {
    if (SizeOf(from, to) == 0) return;
    std::vector<std::uint8_t> data(2 + 6 * (to - from));
    SetWord(data, 0, static_cast<std::uint16_t>(to - from));
    for (std::size_t i = from, at = 2; i < to; ++i, at += 6) {
        SetWord(data, at, Items(i)->Pos);
        SetWord(data, at + 2, Items(i)->First);
        SetWord(data, at + 4, Items(i)->Last);
    }
    TBaseRecord(FRecordId, std::move(data)).SaveToStream(ole);
}

std::int64_t TPageBreakList::TotalSize() const { return SizeOf(0, Count()); }

void TPageBreakList::SaveToStream(TOle2File& ole) const { Save(ole, 0, Count()); }

std::pair<std::size_t, std::size_t> TPageBreakList::RangeEntries(const TXlsCellRange& range) const {
    const auto [first, last] = RangeSpan(range);
    std::size_t from, to;
    Find(first, from);
    if (Find(last, to)) ++to;
    return {from, std::max(from, to)};
}

std::int64_t TPageBreakList::TotalRangeSize(const TXlsCellRange& range) const {
    const auto [from, to] = RangeEntries(range);
    return SizeOf(from, to);
}

void TPageBreakList::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const {
    const auto [from, to] = RangeEntries(range);
    Save(ole, from, to);
}

THPageBreakList::THPageBreakList() : TPageBreakList(xlr_HPAGEBREAKS, 65535, 255, ErrInvalidRow) {}

std::pair<int, int> THPageBreakList::RangeSpan(const TXlsCellRange& range) const { return {range.Top, range.Bottom}; }

TVPageBreakList::TVPageBreakList() : TPageBreakList(xlr_VPAGEBREAKS, 255, 65535, ErrInvalidCol) {}

std::pair<int, int> TVPageBreakList::RangeSpan(const TXlsCellRange& range) const { return {range.Left, range.Right}; }

}  // namespace kalmira
