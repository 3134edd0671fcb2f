#include "workbook/storage/Uxlscolinfo.h"

#include <algorithm>
#include <vector>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/Uxlsotherrecords.h"

namespace kalmira {

namespace {

constexpr std::int64_t ColInfoRecordSize = 16;
constexpr int LastWrittenStart = 255;

}  // namespace

bool TColInfoList::Find(int column, std::size_t& index) const {
    return FindSorted(List(), column, [](const TColInfo& entry) { return int{entry.Column}; }, index);
}

TColInfo* TColInfoList::Entry(int column) const {
    std::size_t index;
    return Find(column, index) ? Items(index) : nullptr;
}

void TColInfoList::Put(const TColInfo& entry) {
    if (entry.Column > MaxColInfoColumn) return;
    std::size_t index;
    if (Find(entry.Column, index)) *Items(index) = entry;
    else DoInsert(index, std::make_unique<TColInfo>(entry));
}

TColInfo& TColInfoList::Ensure(int column, const TColInfo& fresh) {
    std::size_t index;
    if (!Find(column, index)) {
        TColInfo entry = fresh;
        entry.Column = static_cast<std::uint16_t>(column);
        DoInsert(index, std::make_unique<TColInfo>(entry));
    }
    return *Items(index);
}

void TColInfoList::AddRecord(const TBaseRecord& record) {
    if (record.Data.size() < 10) Raise(ErrWrongExcelRecord, record.Id);
    const int first = GetWord(record.Data, 0);
    const int last = std::min<int>(GetWord(record.Data, 2), MaxColInfoColumn);
    const TColInfo settings{0, GetWord(record.Data, 4), GetWord(record.Data, 6), GetWord(record.Data, 8)};
    for (int column = first; column <= last; ++column) {
        TColInfo entry = settings;
        entry.Column = static_cast<std::uint16_t>(column);
        Put(entry);
    }
}

void TColInfoList::CopyFrom(const TColInfoList& other) {
    for (const auto& entry : other.List()) Put(*entry);
}

void TColInfoList::CalcGuts(TGutsRecord& guts) const {
    int level = 0;
    for (const auto& entry : List()) level = std::max(level, entry->GetColOutlineLevel());
    guts.SetColLevel(level);
}

template <class Visit>
void TColInfoList::Runs(int first, int last, Visit visit) const {
    const auto& list = List();
    std::size_t i;
    Find(first, i);
    while (i < list.size() && list[i]->Column <= last) {
        if (list[i]->Column > LastWrittenStart) return;
        std::size_t end = i;
        while (end + 1 < list.size() && list[end + 1]->Column <= last && list[end + 1]->IsEqual(*list[end]) &&
               list[end + 1]->Column == list[end]->Column + 1)
            ++end;
        visit(*list[i], *list[end]);
        i = end + 1;
    }
}

std::int64_t TColInfoList::SizeIn(int first, int last) const {
    std::int64_t size = 0;
    Runs(first, last, [&](const TColInfo&, const TColInfo&) { size += ColInfoRecordSize; });
    return size;
}

void TColInfoList::SaveIn(TOle2File& ole, int first, int last) const {
    Runs(first, last, [&](const TColInfo& from, const TColInfo& to) {
        std::vector<std::uint8_t> data(12);
        SetWord(data, 0, from.Column);
        SetWord(data, 2, to.Column);
        SetWord(data, 4, from.Width);
        SetWord(data, 6, from.XF);
        SetWord(data, 8, from.Options);
        TBaseRecord(xlr_COLINFO, std::move(data)).SaveToStream(ole);
    });
}

std::int64_t TColInfoList::TotalSize() const { return SizeIn(0, MaxColInfoColumn); }

void TColInfoList::SaveToStream(TOle2File& ole) const { SaveIn(ole, 0, MaxColInfoColumn); }

std::int64_t TColInfoList::TotalRangeSize(const TXlsCellRange& range) const { return SizeIn(range.Left, range.Right); }

void TColInfoList::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const {
    SaveIn(ole, range.Left, range.Right);
}

std::optional<std::uint16_t> TColInfoList::ColumnXF(int column) const {
    if (const TColInfo* entry = Entry(column)) return entry->XF;
    return std::nullopt;
}

void TColInfoList::ArrangeInsertCols(int pos, int count, const TSheetInfo& info) {
    if (info.FormulaSheet != info.InsSheet || count <= 0) return;
    auto& list = List();
    for (auto& entry : list)
        if (entry->Column >= pos) entry->Column = static_cast<std::uint16_t>(std::min(entry->Column + count, 0xFFFF));
    erase_if(list, [](const auto& entry) { return entry->Column > MaxColInfoColumn; });
}

// The sources are taken before anything is written, so a copy that lands
// on a later source does not copy itself on. Column 256 lies past the
// sheet: a column the insertion pushed there is gone like any column
// pushed further, and nothing is copied from it.
void TColInfoList::CopyCols(int first, int last, int dest, int count, const TSheetInfo&) {
    std::vector<TColInfo> sources;
    for (const auto& entry : List())
        if (entry->Column >= first && entry->Column <= std::min(last, MaxColInfoColumn - 1)) sources.push_back(*entry);
    for (int i = 0; i < count; ++i)
        for (TColInfo entry : sources) {
            const int target = entry.Column + dest - first + (last - first + 1) * i;
            if (target < 0 || target > MaxColInfoColumn || target == entry.Column) continue;
            entry.Column = static_cast<std::uint16_t>(target);
            Put(entry);
        }
}

void TColInfoList::DeleteCols(int first, int count) {
    if (count <= 0) return;
    auto& list = List();
    erase_if(list, [&](const auto& entry) { return entry->Column >= first && entry->Column < first + count; });
    for (auto& entry : list)
        if (entry->Column >= first + count) entry->Column = static_cast<std::uint16_t>(entry->Column - count);
}

}  // namespace kalmira
