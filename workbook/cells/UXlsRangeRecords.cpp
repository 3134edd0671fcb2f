#include "workbook/cells/UXlsRangeRecords.h"

#include <algorithm>

#include "workbook/cells/UXlsTokenArray.h"
#include "workbook/storage/Uexcelrecords.h"

namespace kalmira {

namespace {

std::vector<std::uint8_t> AtLeast(std::vector<std::uint8_t> data, std::size_t size, std::uint16_t id) {
    if (data.size() < size) Raise(ErrWrongExcelRecord, id);
    return data;
}

std::vector<std::uint8_t> CheckedCFData(std::vector<std::uint8_t> data, std::uint16_t id) {
    if (data.size() < 6 || 6u + GetWord(data, 2) + GetWord(data, 4) > data.size()) Raise(ErrWrongExcelRecord, id);
    return data;
}

// The lines of a range on one axis.
struct TLines {
    int First, Last;
};

// Where an edge of a range goes when count lines go in at pos (count > 0)
// or lines pos..pos - count - 1 go (count < 0). An edge beyond the sheet
// (a file may hold one) stays, and so does an end on the sheet's last line.
int MovedEdge(int v, bool isLast, int pos, int count, int max) {
    if (v > max || v < pos) return v;
    if (isLast && v == max) return v;
    if (count > 0 || v >= pos - count) return v + count;
    return isLast ? pos - 1 : pos;  // inside the deleted block: to its border
}

// A range over every line of the axis keeps them; one pushed off the sheet
// is refused like a cell would be.
TLines MovedLines(int first, int last, int pos, int count, int max) {
    if (count == 0 || (first == 0 && last == max)) return {first, last};
    const TLines moved{std::max(MovedEdge(first, false, pos, count, max), 0),
                       std::max(MovedEdge(last, true, pos, count, max), 0)};
    if (moved.First > max && first <= max) Raise(ErrTooManyEntries, moved.First, max);
    if (moved.Last > max && last <= max) Raise(ErrTooManyEntries, moved.Last, max);
    return moved;
}

TRangeValues Moved(const TRangeValues& r, int rowPos, int rowCount, int colPos, int colCount) {
    const TLines rows = MovedLines(r.R1, r.R2, rowPos, rowCount, MaxSheetRow);
    const TLines cols = MovedLines(r.C1, r.C2, colPos, colCount, MaxSheetCol);
    return {static_cast<std::uint16_t>(rows.First), static_cast<std::uint16_t>(rows.Last),
            static_cast<std::uint16_t>(cols.First), static_cast<std::uint16_t>(cols.Last)};
}

// The lines of the axis, and a range with other lines on it.
TLines LinesOf(const TRangeValues& r, bool onColumns) {
    return onColumns ? TLines{r.C1, r.C2} : TLines{r.R1, r.R2};
}

TRangeValues WithLines(TRangeValues r, bool onColumns, int first, int last) {
    const int max = onColumns ? MaxSheetCol : MaxSheetRow;
    auto& f = onColumns ? r.C1 : r.R1;
    auto& l = onColumns ? r.C2 : r.R2;
    f = static_cast<std::uint16_t>(std::clamp(first, 0, max));
    l = static_cast<std::uint16_t>(std::clamp(last, 0, max));
    return r;
}

bool Overlap(const TRangeValues& a, const TRangeValues& b) {
    return a.R1 <= b.R2 && b.R1 <= a.R2 && a.C1 <= b.C2 && b.C1 <= a.C2;
}

bool ValidRange(int firstRow, int firstCol, int lastCol, int lastRow) {
    return firstRow >= 0 && firstRow <= lastRow && lastRow <= MaxSheetRow && firstCol >= 0 && firstCol <= lastCol &&
           lastCol <= MaxSheetCol && (firstRow != lastRow || firstCol != lastCol);
}

// The rows pos.. or columns pos.. of a change given for one axis.
struct TAxisChange {
    int RowPos, RowCount, ColPos, ColCount;
};

TAxisChange OnAxis(bool onColumns, int pos, int count) {
    return onColumns ? TAxisChange{NoMovePosition, 0, pos, count} : TAxisChange{pos, count, NoMovePosition, 0};
}

// The source block of a copy, moved when the insertion came before it.
TLines SourceBlock(int first, int last, int dest, int shift) {
    return first >= dest ? TLines{first + shift, last + shift} : TLines{first, last};
}

void WriteRange(TOle2File& ole, const TRangeValues& r) {
    ole.Write16(r.R1);
    ole.Write16(r.R2);
    ole.Write16(r.C1);
    ole.Write16(r.C2);
}

}  // namespace

void RegisterRangeRecords() {
    RegisterRecordClass(xlr_MERGEDCELLS, MakeRecord<TCellMergingRecord>);
    RegisterRecordClass(xlr_CONDFMT, MakeRecord<TCondFmtRecord>);
    RegisterRecordClass(xlr_CF, MakeRecord<TCFRecord>);
    RegisterRecordClass(xlr_DVAL, MakeRecord<TDValRecord>);
    RegisterRecordClass(xlr_DV, MakeRecord<TDVRecord>);
}

TCellMergingRecord::TCellMergingRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, AtLeast(std::move(data), 2, id)) {}

TCondFmtRecord::TCondFmtRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, AtLeast(std::move(data), 14, id)) {}

// ---------------------------------------------------------------------------
// TCFRecord

TCFRecord::TCFRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedCFData(std::move(data), id)) {}

namespace {
// Runs call(first, end) over each formula of a CF record that has one.
template <class Call>
void EachFormula(const TCFRecord& record, Call call) {
    const std::size_t end = record.Data.size(), len1 = record.Formula1Length(), len2 = record.Formula2Length();
    try {
        if (len1 > 0) call(end - len2 - len1, end - len2);
        if (len2 > 0) call(end - len2, end);
    } catch (const ETokenException& e) {
        Raise(ErrBadCF, e.Token);
    }
}
}  // namespace

void TCFRecord::CheckArrange(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) const {
    EachFormula(*this, [&](std::size_t first, std::size_t end) {
        UXlsTokenArray_CheckInsertRowsAndCols(Data, first, end, rowPos, rowCount, 0, colPos, colCount, 0, info, true);
    });
}

void TCFRecord::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) {
    CheckArrange(rowPos, rowCount, colPos, colCount, info);
    EachFormula(*this, [&](std::size_t first, std::size_t end) {
        UXlsTokenArray_ArrangeInsertRowsAndCols(Data, first, end, rowPos, rowCount, 0, colPos, colCount, 0, info,
                                                true);
    });
}

void TCFRecord::CheckCopySheet(const TSheetInfo& info) const {
    EachFormula(*this, [&](std::size_t first, std::size_t end) {
        UXlsTokenArray_CheckInsertSheets(Data, first, end, info);
    });
}

void TCFRecord::ArrangeCopySheet(const TSheetInfo& info) {
    CheckCopySheet(info);
    EachFormula(*this, [&](std::size_t first, std::size_t end) {
        UXlsTokenArray_ArrangeInsertSheets(Data, first, end, info);
    });
}

// ---------------------------------------------------------------------------
// TDVRecord

namespace {
constexpr std::size_t MaxRecordData = 8224;
}  // namespace

TDVRecord::TLayout TDVRecord::Layout() const {
    TLayout l;
    if (Continue) return l;
    const std::size_t size = Data.size();
    std::size_t pos = 4;
    for (int text = 0; text < 4; ++text) {
        if (pos + 3 > size) return l;
        pos += 3 + static_cast<std::size_t>(GetWord(Data, pos)) * (Data[pos + 2] & 1 ? 2 : 1);
    }
    std::size_t* formulas[2][2] = {{&l.Formula1, &l.Formula1End}, {&l.Formula2, &l.Formula2End}};
    for (auto& f : formulas) {
        if (pos + 4 > size) return l;
        *f[0] = pos + 4;
        *f[1] = pos + 4 + GetWord(Data, pos);
        pos = *f[1];
    }
    if (pos + 2 > size || pos + 2 + 8 * static_cast<std::size_t>(GetWord(Data, pos)) != size) return l;
    l.RangesAt = pos;
    l.Ok = true;
    return l;
}

std::vector<TRangeValues> TDVRecord::Ranges() const {
    const TLayout l = Layout();
    std::vector<TRangeValues> ranges;
    if (!l.Ok) return ranges;
    for (std::size_t at = l.RangesAt + 2; at < Data.size(); at += 8)
        ranges.push_back({GetWord(Data, at), GetWord(Data, at + 2), GetWord(Data, at + 4), GetWord(Data, at + 6)});
    return ranges;
}

template <class Call>
void TDVRecord::EachFormula(const TLayout& l, Call call) const {
    if (l.Formula1End > l.Formula1) call(l.Formula1, l.Formula1End);
    if (l.Formula2End > l.Formula2) call(l.Formula2, l.Formula2End);
}

void TDVRecord::SetRanges(const TLayout& l, const TRangeValuesList& ranges) {
    const std::size_t max = (MaxRecordData - l.RangesAt - 2) / 8;
    if (ranges.Count() > max) Raise(ErrTooManyEntries, ranges.Count(), max);
    Data.resize(l.RangesAt + 2 + 8 * ranges.Count());
    SetWord(Data, l.RangesAt, static_cast<std::uint16_t>(ranges.Count()));
    std::size_t at = l.RangesAt + 2;
    for (const TRangeValues& r : ranges.All()) {
        for (const std::uint16_t v : {r.R1, r.R2, r.C1, r.C2}) {
            SetWord(Data, at, v);
            at += 2;
        }
    }
}

namespace {
TRangeValuesList ListOf(const std::vector<TRangeValues>& ranges) {
    TRangeValuesList list(513, 0);
    for (const TRangeValues& r : ranges) list.Add(r);
    return list;
}
}  // namespace

void TDVRecord::MoveTokens(const TLayout& l, int rowPos, int rowCount, int colPos, int colCount,
                           const TSheetInfo& info) {
    EachFormula(l, [&](std::size_t first, std::size_t end) {
        UXlsTokenArray_CheckInsertRowsAndCols(Data, first, end, rowPos, rowCount, 0, colPos, colCount, 0, info, true);
    });
    EachFormula(l, [&](std::size_t first, std::size_t end) {
        UXlsTokenArray_ArrangeInsertRowsAndCols(Data, first, end, rowPos, rowCount, 0, colPos, colCount, 0, info,
                                                true);
    });
}

void TDVRecord::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                         const TSheetInfo& info) {
    const TLayout l = Layout();
    if (!l.Ok) return;
    TRangeValuesList ranges = ListOf(Ranges());
    ranges.ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount);
    MoveTokens(l, rowPos, rowCount, colPos, colCount, info);
    SetRanges(l, ranges);
}

void TDVRecord::InsertAndCopyRowsOrCols(int first, int last, bool onColumns, const TSheetInfo& info, int copies,
                                        int dest) {
    const int shift = (last - first + 1) * copies;
    if (shift <= 0 || !Understood()) return;
    const TAxisChange change = OnAxis(onColumns, dest, shift);
    ArrangeInsertRowsAndCols(change.RowPos, change.RowCount, change.ColPos, change.ColCount, info);
    TRangeValuesList ranges = ListOf(Ranges());
    ranges.CopyRowsInclusive(first, last, dest, copies, onColumns);
    SetRanges(Layout(), ranges);
}

void TDVRecord::DeleteRowsOrCols(int first, int count, const TSheetInfo& info, bool onColumns) {
    if (count <= 0 || !Understood()) return;
    TRangeValuesList ranges = ListOf(Ranges());
    ranges.DeleteRows(first, count, onColumns, true);
    SetRanges(Layout(), ranges);
    const TAxisChange change = OnAxis(onColumns, first, -count);
    ArrangeInsertRowsAndCols(change.RowPos, change.RowCount, change.ColPos, change.ColCount, info);
}

void TDVRecord::CheckCopySheet(const TSheetInfo& info) const {
    const TLayout l = Layout();
    if (!l.Ok) return;
    EachFormula(l, [&](std::size_t first, std::size_t end) {
        UXlsTokenArray_CheckInsertSheets(Data, first, end, info);
    });
}

void TDVRecord::ArrangeCopySheet(const TSheetInfo& info) {
    const TLayout l = Layout();
    if (!l.Ok) return;
    CheckCopySheet(info);
    EachFormula(l, [&](std::size_t first, std::size_t end) {
        UXlsTokenArray_ArrangeInsertSheets(Data, first, end, info);
    });
}

TValidationChange::TValidationChange(std::initializer_list<TBaseRecordList*> lists,
                                     const std::function<void(TDVRecord&)>& change) {
    for (TBaseRecordList* list : lists)
        for (std::size_t i = 0; i < list->Count(); ++i) {
            const auto* dv = dynamic_cast<const TDVRecord*>(list->GetItems(i));
            if (!dv || !dv->Understood()) continue;
            auto copy = dv->CopyTo();
            change(static_cast<TDVRecord&>(*copy));
            FItems.push_back({list, i, std::move(copy)});
        }
}

// From the last to the first, so that a DV that goes leaves the indexes
// before it as they were.
void TValidationChange::Commit() {
    for (auto item = FItems.rbegin(); item != FItems.rend(); ++item) {
        if (!static_cast<const TDVRecord&>(*item->Copy).Ranges().empty()) {
            item->List->SetItems(item->Index, std::move(item->Copy));
            continue;
        }
        item->List->Delete(item->Index);
        for (std::size_t i = 0; i < item->List->Count(); ++i)
            if (auto* dval = dynamic_cast<TDValRecord*>(item->List->GetItems(i)); dval && dval->Data.size() >= 18) {
                const std::uint32_t count = GetLongWord(dval->Data, 14);
                if (count > 0) SetLongWord(dval->Data, 14, count - 1);
            }
    }
}

// ---------------------------------------------------------------------------
// TRangeValuesList

void TRangeValuesList::Load(const TBaseRecord& record, int pos) {
    const TBaseRecord* at = &record;
    std::uint8_t bytes[8];
    ReadMem(at, pos, 2, bytes);
    const int count = GetWord(bytes, 0);
    FRanges.reserve(FRanges.size() + static_cast<std::size_t>(std::min(count, record.DataSize() / 8 + 1)));
    for (int i = 0; i < count; ++i) {
        ReadMem(at, pos, 8, bytes);
        FRanges.push_back({GetWord(bytes, 0), GetWord(bytes, 2), GetWord(bytes, 4), GetWord(bytes, 6)});
    }
}

void TRangeValuesList::AddNewRange(int firstRow, int firstCol, int lastCol, int lastRow) {
    if (!ValidRange(firstRow, firstCol, lastCol, lastRow)) return;
    FRanges.push_back({static_cast<std::uint16_t>(firstRow), static_cast<std::uint16_t>(lastRow),
                       static_cast<std::uint16_t>(firstCol), static_cast<std::uint16_t>(lastCol)});
}

void TRangeValuesList::PreAddNewRange(int& firstRow, int& firstCol, int& lastCol, int& lastRow) {
    if (!ValidRange(firstRow, firstCol, lastCol, lastRow)) return;
    for (std::size_t i = FRanges.size(); i-- > 0;) {
        const TRangeValues& r = FRanges[i];
        const TRangeValues given{static_cast<std::uint16_t>(firstRow), static_cast<std::uint16_t>(lastRow),
                                 static_cast<std::uint16_t>(firstCol), static_cast<std::uint16_t>(lastCol)};
        if (!Overlap(r, given)) continue;
        firstRow = std::min<int>(firstRow, r.R1);
        lastRow = std::max<int>(lastRow, r.R2);
        firstCol = std::min<int>(firstCol, r.C1);
        lastCol = std::max<int>(lastCol, r.C2);
        Delete(i);
    }
}

int TRangeValuesList::RepeatCountR(std::size_t n) const {
    return n < 1 ? 1 : static_cast<int>((n - 1) / static_cast<std::size_t>(FPerRecord) + 1);
}

std::int64_t TRangeValuesList::TotalSizeR(std::size_t n) const {
    return RepeatCountR(n) * static_cast<std::int64_t>(FOtherLength + 6) + 8 * static_cast<std::int64_t>(n);
}

std::uint16_t TRangeValuesList::RecordSizeR(std::size_t k, std::size_t n) const {
    const std::size_t per = static_cast<std::size_t>(FPerRecord);
    const std::size_t count = std::min(per, n - std::min(n, k * per));
    return static_cast<std::uint16_t>(static_cast<std::size_t>(FOtherLength) + 2 + 8 * count);
}

std::vector<TRangeValues> TRangeValuesList::InRange(const TXlsCellRange& range) const {
    std::vector<TRangeValues> inside;
    for (const TRangeValues& r : FRanges)
        if (r.R1 >= range.Top && r.R2 <= range.Bottom && r.C1 >= range.Left && r.C2 <= range.Right)
            inside.push_back(r);
    return inside;
}

void TRangeValuesList::SaveToStreamR(TOle2File& ole, const std::vector<TRangeValues>& ranges, std::size_t k) const {
    const std::size_t per = static_cast<std::size_t>(FPerRecord), from = k * per;
    const std::size_t count = std::min(per, ranges.size() - std::min(ranges.size(), from));
    ole.Write16(static_cast<std::uint16_t>(count));
    for (std::size_t i = from; i < from + count; ++i) WriteRange(ole, ranges[i]);
}

void TRangeValuesList::CheckInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount) const {
    for (const TRangeValues& r : FRanges) Moved(r, rowPos, rowCount, colPos, colCount);
}

void TRangeValuesList::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount) {
    CheckInsertRowsAndCols(rowPos, rowCount, colPos, colCount);
    for (TRangeValues& r : FRanges) r = Moved(r, rowPos, rowCount, colPos, colCount);
}

void TRangeValuesList::DeleteRows(int first, int count, bool onColumns, bool keepPartial) {
    if (count <= 0) return;
    const int max = onColumns ? MaxSheetCol : MaxSheetRow;
    for (std::size_t i = FRanges.size(); i-- > 0;) {
        const TLines lines = LinesOf(FRanges[i], onColumns);
        if (lines.First >= first && lines.Last < first + count) {
            Delete(i);
            continue;
        }
        if (keepPartial) continue;
        const TLines left = MovedLines(lines.First, lines.Last, first, -count, max);
        const TLines other = LinesOf(FRanges[i], !onColumns);
        if (left.First == left.Last && other.First == other.Last) Delete(i);
    }
}

void TRangeValuesList::CopyRowsExclusive(int first, int last, int dest, int copies, bool onColumns) {
    const int block = last - first + 1;
    const TLines source = SourceBlock(first, last, dest, block * copies);
    const std::size_t count = FRanges.size();
    for (std::size_t i = 0; i < count; ++i) {
        const TLines lines = LinesOf(FRanges[i], onColumns);
        if (lines.First < source.First || lines.Last > source.Last) continue;
        for (int k = 0; k < copies; ++k) {
            const int offset = dest + k * block - source.First;
            const TRangeValues copy = WithLines(FRanges[i], onColumns, lines.First + offset, lines.Last + offset);
            if (std::none_of(FRanges.begin(), FRanges.end(), [&](const TRangeValues& r) { return Overlap(r, copy); }))
                FRanges.push_back(copy);
        }
    }
}

std::array<int, 2> TRangeValuesList::CopyRowsInclusive(int first, int last, int dest, int copies, bool onColumns) {
    const int block = last - first + 1, shift = block * copies;
    const TLines source = SourceBlock(first, last, dest, shift);
    std::array<int, 2> touched{NoMovePosition, -1};
    auto touch = [&](int from, int to) {
        touched[0] = std::min(touched[0], from);
        touched[1] = std::max(touched[1], to);
    };
    const std::size_t count = FRanges.size();
    for (std::size_t i = 0; i < count; ++i) {
        const TLines lines = LinesOf(FRanges[i], onColumns);
        if (lines.Last < source.First || lines.First > source.Last) continue;
        if (source.First < dest && lines.Last == dest - 1 && lines.First <= source.First) {
            FRanges[i] = WithLines(FRanges[i], onColumns, lines.First, dest + shift - 1);
            touch(dest, dest + shift - 1);
        } else if (source.First > dest && lines.First == dest + shift && lines.Last >= source.Last) {
            FRanges[i] = WithLines(FRanges[i], onColumns, dest, lines.Last);
            touch(dest, dest + shift - 1);
        } else if (lines.First <= source.First && lines.Last >= source.Last) {
            FRanges.push_back(WithLines(FRanges[i], onColumns, dest, dest + shift - 1));
            touch(dest, dest + shift - 1);
        } else {
            const int trimStart = std::max(0, lines.First - source.First);
            const int trimEnd = std::max(0, source.Last - lines.Last);
            for (int k = 0; k < copies; ++k) {
                const int from = dest + k * block + trimStart, to = dest + k * block + block - 1 - trimEnd;
                FRanges.push_back(WithLines(FRanges[i], onColumns, from, to));
                touch(from, to);
            }
        }
    }
    return touched;
}

// ---------------------------------------------------------------------------
// TMergedCells

namespace {
void SaveMerged(TOle2File& ole, const TRangeValuesList& list, const std::vector<TRangeValues>& ranges) {
    if (ranges.empty()) return;
    for (int k = 0; k < list.RepeatCountR(ranges.size()); ++k) {
        ole.WriteHeader(xlr_MERGEDCELLS, list.RecordSizeR(static_cast<std::size_t>(k), ranges.size()));
        list.SaveToStreamR(ole, ranges, static_cast<std::size_t>(k));
    }
}
}  // namespace

std::unique_ptr<TRangeEntry> TMergedCells::DoCopyTo() const {
    auto copy = std::make_unique<TMergedCells>();
    copy->FRangeValuesList.CopyFrom(FRangeValuesList);
    return copy;
}

void TMergedCells::LoadFromStream(TOle2File&, TRecordHeader&, const TRangeRecord& first) {
    FRangeValuesList.Clear();
    FRangeValuesList.Load(first, 0);
}

void TMergedCells::SaveToStream(TOle2File& ole) const { SaveMerged(ole, FRangeValuesList, FRangeValuesList.All()); }

void TMergedCells::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const {
    SaveMerged(ole, FRangeValuesList, FRangeValuesList.InRange(range));
}

std::int64_t TMergedCells::TotalSize() const {
    return FRangeValuesList.Count() == 0 ? 0 : FRangeValuesList.TotalSizeR(FRangeValuesList.Count());
}

std::int64_t TMergedCells::TotalRangeSize(const TXlsCellRange& range) const {
    const std::size_t n = FRangeValuesList.InRange(range).size();
    return n == 0 ? 0 : FRangeValuesList.TotalSizeR(n);
}

void TMergedCells::CheckArrange(const TArrangeCheck& check) const {
    FRangeValuesList.CheckInsertRowsAndCols(check.RowPos, check.RowCount, check.ColPos, check.ColCount);
}

void TMergedCells::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo&) {
    FRangeValuesList.ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount);
}

void TMergedCells::InsertAndCopyRowsOrCols(int first, int last, bool onColumns, const TSheetInfo& info, int copies,
                                           int dest) {
    const int shift = (last - first + 1) * copies;
    if (shift <= 0) return;
    const TAxisChange change = OnAxis(onColumns, dest, shift);
    ArrangeInsertRowsAndCols(change.RowPos, change.RowCount, change.ColPos, change.ColCount, info);
    FRangeValuesList.CopyRowsExclusive(first, last, dest, copies, onColumns);
}

void TMergedCells::DeleteRowsOrCols(int first, int count, const TSheetInfo& info, bool onColumns) {
    if (count <= 0) return;
    FRangeValuesList.DeleteRows(first, count, onColumns, false);
    const TAxisChange change = OnAxis(onColumns, first, -count);
    ArrangeInsertRowsAndCols(change.RowPos, change.RowCount, change.ColPos, change.ColCount, info);
}

void TMergedCells::UnMergeCells(int firstRow, int firstCol, int lastCol, int lastRow) {
    const TRangeValues gone{static_cast<std::uint16_t>(firstRow), static_cast<std::uint16_t>(lastRow),
                            static_cast<std::uint16_t>(firstCol), static_cast<std::uint16_t>(lastCol)};
    for (std::size_t i = FRangeValuesList.Count(); i-- > 0;)
        if (FRangeValuesList.Items(i) == gone) FRangeValuesList.Delete(i);
}

bool TMergedCells::CheckCell(int row, int col, TXlsCellRange& cell) const {
    for (std::size_t i = 0; i < FRangeValuesList.Count(); ++i) {
        const TRangeValues& r = FRangeValuesList.Items(i);
        if (row >= r.R1 && row <= r.R2 && col >= r.C1 && col <= r.C2) {
            cell = MergedCell(i);
            return true;
        }
    }
    return false;
}

TXlsCellRange TMergedCells::MergedCell(std::size_t n) const {
    const TRangeValues& r = FRangeValuesList.Items(n);
    return {r.C1, r.R1, r.C2, r.R2};
}

// ---------------------------------------------------------------------------
// TCondFmt

void TCondFmt::Clear() {
    FRangeValuesList.Clear();
    FCFs.Clear();
    FFlags = 0;
    FBounds = {};
}

std::unique_ptr<TRangeEntry> TCondFmt::DoCopyTo() const {
    auto copy = std::make_unique<TCondFmt>();
    copy->FRangeValuesList.CopyFrom(FRangeValuesList);
    copy->FFlags = FFlags;
    copy->FBounds = FBounds;
    copy->FCFs.CopyFrom(FCFs);
    return copy;
}

// The CF records are read with the loader's header, which is left at the
// record after the last of them.
void TCondFmt::LoadFromStream(TOle2File& ole, TRecordHeader& header, const TRangeRecord& first) {
    Clear();
    const int cfCount = GetWord(first.Data, 0);
    FFlags = GetWord(first.Data, 2);
    FBounds = {GetWord(first.Data, 4), GetWord(first.Data, 6), GetWord(first.Data, 8), GetWord(first.Data, 10)};
    FRangeValuesList.Load(first, 12);
    for (int i = 0; i < cfCount; ++i) {
        if (header.Id != xlr_CF) Raise(ErrInvalidCF);
        auto record = LoadRecords(ole, header);
        if (!dynamic_cast<TCFRecord*>(record.get())) Raise(ErrInvalidCF);
        FCFs.Add(std::move(record));
    }
}

// Every CONDFMT record of the format is followed by all its CF records.
void TCondFmt::Save(TOle2File& ole, const std::vector<TRangeValues>& ranges) const {
    if (ranges.empty()) return;
    for (int k = 0; k < FRangeValuesList.RepeatCountR(ranges.size()); ++k) {
        ole.WriteHeader(xlr_CONDFMT, FRangeValuesList.RecordSizeR(static_cast<std::size_t>(k), ranges.size()));
        ole.Write16(static_cast<std::uint16_t>(FCFs.Count()));
        ole.Write16(FFlags);
        WriteRange(ole, FBounds);
        FRangeValuesList.SaveToStreamR(ole, ranges, static_cast<std::size_t>(k));
        FCFs.SaveToStream(ole);
    }
}

std::int64_t TCondFmt::SizeOf(std::size_t ranges) const {
    if (ranges == 0) return 0;
    return FRangeValuesList.TotalSizeR(ranges) + FRangeValuesList.RepeatCountR(ranges) * FCFs.GetTotalSize();
}

void TCondFmt::SaveToStream(TOle2File& ole) const { Save(ole, FRangeValuesList.All()); }

void TCondFmt::SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const {
    Save(ole, FRangeValuesList.InRange(range));
}

std::int64_t TCondFmt::TotalSize() const { return SizeOf(FRangeValuesList.Count()); }

std::int64_t TCondFmt::TotalRangeSize(const TXlsCellRange& range) const {
    return SizeOf(FRangeValuesList.InRange(range).size());
}

void TCondFmt::CheckArrange(const TArrangeCheck& check) const {
    FRangeValuesList.CheckInsertRowsAndCols(check.RowPos, check.RowCount, check.ColPos, check.ColCount);
    Moved(FBounds, check.RowPos, check.RowCount, check.ColPos, check.ColCount);
    for (std::size_t i = 0; i < FCFs.Count(); ++i)
        FCFs.GetItems(i)->CheckArrange(check.RowPos, check.RowCount, check.ColPos, check.ColCount, check.Info);
}

void TCondFmt::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) {
    CheckArrange(TArrangeCheck(rowPos, rowCount, colPos, colCount, info));
    FRangeValuesList.ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount);
    FBounds = Moved(FBounds, rowPos, rowCount, colPos, colCount);
    for (std::size_t i = 0; i < FCFs.Count(); ++i)
        FCFs.GetItems(i)->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
}

// Whether the format meets the source is decided before anything moves.
void TCondFmt::InsertAndCopyRowsOrCols(int first, int last, bool onColumns, const TSheetInfo& info, int copies,
                                       int dest) {
    const int shift = (last - first + 1) * copies;
    if (shift <= 0) return;
    const TLines bounds = LinesOf(FBounds, onColumns);
    const bool meets = bounds.Last >= first && bounds.First <= last;
    const TAxisChange change = OnAxis(onColumns, dest, shift);
    ArrangeInsertRowsAndCols(change.RowPos, change.RowCount, change.ColPos, change.ColCount, info);
    if (!meets) return;
    const auto touched = FRangeValuesList.CopyRowsInclusive(first, last, dest, copies, onColumns);
    if (touched[1] < touched[0]) return;
    const TLines now = LinesOf(FBounds, onColumns);
    FBounds = WithLines(FBounds, onColumns, std::min(now.First, touched[0]), std::max(now.Last, touched[1]));
}

void TCondFmt::CheckCopySheet(const TSheetInfo& info) const {
    for (std::size_t i = 0; i < FCFs.Count(); ++i) FCFs.GetItems(i)->CheckCopySheet(info);
}

void TCondFmt::ArrangeCopySheet(const TSheetInfo& info) {
    CheckCopySheet(info);
    for (std::size_t i = 0; i < FCFs.Count(); ++i) FCFs.GetItems(i)->ArrangeCopySheet(info);
}

void TCondFmt::DeleteRowsOrCols(int first, int count, const TSheetInfo& info, bool onColumns) {
    if (count <= 0) return;
    const TAxisChange change = OnAxis(onColumns, first, -count);
    CheckArrange(TArrangeCheck(change.RowPos, change.RowCount, change.ColPos, change.ColCount, info));
    FRangeValuesList.DeleteRows(first, count, onColumns, true);
    ArrangeInsertRowsAndCols(change.RowPos, change.RowCount, change.ColPos, change.ColCount, info);
}

}  // namespace kalmira
