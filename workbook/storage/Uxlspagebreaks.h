// A worksheet's manual page breaks: one entry per break, kept sorted by
// position, so that row and column changes can move them; the record is
// built anew on save.
#pragma once

#include <cstdint>
#include <memory>

#include "workbook/storage/UXlsBaseRecords.h"
#include "workbook/storage/Uxlsbaselist.h"

namespace kalmira {

class TOle2File;
struct TXlsCellRange;

inline constexpr std::uint16_t xlr_HPAGEBREAKS = 0x1B;
inline constexpr std::uint16_t xlr_VPAGEBREAKS = 0x1A;

// One break: the row (column) it lies below (right of), and the span of
// columns (rows) it covers.
struct TPageBreak {
    std::uint16_t Pos;
    std::uint16_t First;
    std::uint16_t Last;
};
using THPageBreak = TPageBreak;
using TVPageBreak = TPageBreak;

// Breaks kept in order of position, one per position. Breaks read from a
// file are not limited in number; those added one by one are.
class TPageBreakList : public TBaseList<TPageBreak> {
public:
    // A list of more than this many breaks takes no further one.
    static constexpr std::size_t MaxAddedBreaks = 1025;
    // The most breaks one record holds (6 bytes each, 2 for the count,
    // within the 8224 bytes of a record).
    static constexpr std::size_t MaxSavedBreaks = 1370;

    // Every entry of the record whose position is not in the list yet;
    // a record shorter than its count says is refused ("Record with ID
    // 0x%x is invalid") before any entry is taken.
    void AddRecord(const TBaseRecord& record);
    // A new break over the whole span, unless one is there already.
    void AddBreak(int pos);
    void DeleteBreak(int pos);
    bool HasPageBreak(int pos) const;
    // Breaks at pos or after move by count, no further than the last
    // position; two that meet are kept as one.
    void InsertBreaks(int pos, int count);
    // Breaks in pos..pos + count - 1 go; later ones move back by count.
    void DeleteBreaks(int pos, int count);
    void CopyFrom(const TPageBreakList& other);
    void Clear() { DoClear(); }
    int Position(std::size_t index) const { return Items(index)->Pos; }

    // "Too many manual Page breaks for this sheet" when one record cannot
    // hold them all: the save stops before anything is written.
    std::int64_t TotalSize() const;
    void SaveToStream(TOle2File& ole) const;
    std::int64_t TotalRangeSize(const TXlsCellRange& range) const;
    void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const;

protected:
    TPageBreakList(std::uint16_t recordId, int maxPos, std::uint16_t spanLast, const char* invalidPos)
        : FRecordId(recordId), FMaxPos(maxPos), FSpanLast(spanLast), FInvalidPos(invalidPos) {}
    // The positions of the range that this list's breaks run along.
    virtual std::pair<int, int> RangeSpan(const TXlsCellRange& range) const = 0;

private:
    // Where a break at pos is, or would go.
    bool Find(int pos, std::size_t& index) const;
    // The entries from..to - 1 as one record.
    std::int64_t SizeOf(std::size_t from, std::size_t to) const;
    void Save(TOle2File& ole, std::size_t from, std::size_t to) const;
    std::pair<std::size_t, std::size_t> RangeEntries(const TXlsCellRange& range) const;

    std::uint16_t FRecordId;
    int FMaxPos;
    std::uint16_t FSpanLast;
    const char* FInvalidPos;
};

// Row breaks (HORIZONTALPAGEBREAKS): below row Pos, columns 0-255.
class THPageBreakList : public TPageBreakList {
public:
    THPageBreakList();
    void InsertRows(int row, int count) { InsertBreaks(row, count); }
    void DeleteRows(int row, int count) { DeleteBreaks(row, count); }

protected:
    std::pair<int, int> RangeSpan(const TXlsCellRange& range) const override;
};

// Column breaks (VERTICALPAGEBREAKS): right of column Pos, rows 0-65535.
class TVPageBreakList : public TPageBreakList {
public:
    TVPageBreakList();
    void InsertCols(int col, int count) { InsertBreaks(col, count); }
    void DeleteCols(int col, int count) { DeleteBreaks(col, count); }

protected:
    std::pair<int, int> RangeSpan(const TXlsCellRange& range) const override;
};

}  // namespace kalmira
