// Records that hold lists of cell ranges: merged cells (MERGEDCELLS) and
// conditional formats (CONDFMT, each followed by its CF records). Both are
// entries of a sheet's range list; they load, save (split over as many
// records as their ranges need), copy and keep their ranges right when rows
// or columns are inserted, copied or deleted.
#pragma once

#include <array>
#include <functional>
#include <initializer_list>
#include <cstdint>
#include <memory>
#include <vector>

#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UXlsBaseRecordLists.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_MERGEDCELLS = 0xE5;
inline constexpr std::uint16_t xlr_CONDFMT = 0x1B0;
inline constexpr std::uint16_t xlr_CF = 0x1B1;
inline constexpr std::uint16_t xlr_DVAL = 0x1B2;
inline constexpr std::uint16_t xlr_DV = 0x1BE;

// The factory builds MERGEDCELLS, CONDFMT, CF, DVAL and DV as the classes below.
void RegisterRangeRecords();

// A record that holds ranges; the entry that loads it reads its fields.
class TRangeRecord : public TRecordOf<TRangeRecord> {
public:
    using TRecordOf::TRecordOf;
};

// DVAL, the head of a sheet's data validations: no range record, it stays
// with its DV records among the sheet's records and is written as read.
class TDValRecord : public TRecordOf<TDValRecord> {
public:
    using TRecordOf::TRecordOf;
};

// MERGEDCELLS: refused below 2 data bytes (the range count).
class TCellMergingRecord : public TRecordOf<TCellMergingRecord, TRangeRecord> {
public:
    TCellMergingRecord(std::uint16_t id, std::vector<std::uint8_t> data);
};

// CONDFMT: refused below 14 data bytes (counts, flags, bounding range).
class TCondFmtRecord : public TRecordOf<TCondFmtRecord, TRangeRecord> {
public:
    TCondFmtRecord(std::uint16_t id, std::vector<std::uint8_t> data);
};

// CF: 0 condition type, 1 operator, 2 length of formula 1, 4 length of
// formula 2; the formulas are the last bytes of the data, formula 2 last.
// Refused below 6 bytes or when the formulas do not fit.
class TCFRecord : public TRecordOf<TCFRecord> {
public:
    TCFRecord(std::uint16_t id, std::vector<std::uint8_t> data);

    std::uint16_t Formula1Length() const { return GetWord(Data, 2); }
    std::uint16_t Formula2Length() const { return GetWord(Data, 4); }

    // The references of both formulas follow; a token they cannot follow
    // raises "Bad Conditional format. Token Id: 0x%2x" and changes nothing.
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    void CheckArrange(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) const;
    // Sheet copies and names removed: the tokens' names and 3-D references.
    void ArrangeCopySheet(const TSheetInfo& info);
    void CheckCopySheet(const TSheetInfo& info) const;
};

// One range as the file holds it: first row, last row, first column, last
// column.
struct TRangeValues {
    std::uint16_t R1, R2, C1, C2;
    friend bool operator==(const TRangeValues&, const TRangeValues&) = default;
};

// The ranges of one entry and the layout of the records they go into:
// other data (written by the owner), a count, then up to PerRecord ranges.
class TRangeValuesList {
public:
    TRangeValuesList(int perRecord, int otherDataLength) : FPerRecord(perRecord), FOtherLength(otherDataLength) {}

    std::size_t Count() const { return FRanges.size(); }
    const TRangeValues& Items(std::size_t i) const { return FRanges.at(i); }
    void Clear() { FRanges.clear(); }
    void Delete(std::size_t i) { FRanges.erase(FRanges.begin() + static_cast<std::ptrdiff_t>(i)); }
    void Add(const TRangeValues& range) { FRanges.push_back(range); }
    void CopyFrom(const TRangeValuesList& other) { FRanges = other.FRanges; }

    // A count and that many ranges from pos on (CONTINUE records included).
    void Load(const TBaseRecord& record, int pos);
    // Appends a valid range of more than one cell; anything else is ignored.
    void AddNewRange(int firstRow, int firstCol, int lastCol, int lastRow);
    // Stored ranges overlapping the valid range given go, and the corners
    // grow to cover them.
    void PreAddNewRange(int& firstRow, int& firstCol, int& lastCol, int& lastRow);

    int RepeatCountR(std::size_t n) const;
    std::int64_t TotalSizeR(std::size_t n) const;
    std::uint16_t RecordSizeR(std::size_t k, std::size_t n) const;
    // The ranges that lie wholly inside the cell range, in list order.
    std::vector<TRangeValues> InRange(const TXlsCellRange& range) const;
    // Record k of the ranges given: its count and its ranges.
    void SaveToStreamR(TOle2File& ole, const std::vector<TRangeValues>& ranges, std::size_t k) const;
    const std::vector<TRangeValues>& All() const { return FRanges; }

    // Rows pos.. (count > 0 inserted, < 0 deleted) and columns likewise.
    // A range over all rows (columns) keeps them, an end on the last line
    // stays there, an edge inside a deleted block goes to the block's
    // border; a range pushed off the sheet raises the too-many message
    // (the check raises the same, changing nothing).
    void CheckInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount) const;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount);
    // Before the shift of a deletion, from the last range to the first:
    // ranges wholly inside the deleted lines go; without keepPartial, so
    // do those the deletion leaves as one cell.
    void DeleteRows(int first, int count, bool onColumns, bool keepPartial);
    // Copies of the ranges wholly inside the source block, one per copy;
    // none that would overlap a range already there.
    void CopyRowsExclusive(int first, int last, int dest, int copies, bool onColumns);
    // Copies of what the ranges hold of the source block (which they meet),
    // growing the ranges that end where the copies join them; the lines
    // added or grown over, as first and last.
    std::array<int, 2> CopyRowsInclusive(int first, int last, int dest, int copies, bool onColumns);

private:
    std::vector<TRangeValues> FRanges;
    int FPerRecord, FOtherLength;
};

// DV, one data validation: option flags (4 bytes), four texts (prompt
// title, error title, prompt, error: a 16-bit count, an option byte whose
// bit 0 means 16-bit characters, the characters), formula 1 and formula 2
// (each a 16-bit length, 2 unused bytes, the tokens), then its ranges (a
// count and 8 bytes each). It stays among the sheet's records; its ranges
// and the references of its formulas follow row and column changes as a
// conditional format's do. One whose layout does not end exactly with its
// ranges, or that goes on in CONTINUE records, is kept as read and never
// changed.
class TDVRecord : public TRecordOf<TDVRecord> {
public:
    using TRecordOf::TRecordOf;

    // Whether the layout is understood (only then does anything change).
    bool Understood() const { return Layout().Ok; }
    std::vector<TRangeValues> Ranges() const;

    // As TCondFmt's operations, on a record whose layout is understood: the
    // ranges move (off the sheet: the too-many message, nothing changed),
    // the tokens follow (a token the scanner refuses: its ETokenException).
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    void InsertAndCopyRowsOrCols(int first, int last, bool onColumns, const TSheetInfo& info, int copies, int dest);
    void DeleteRowsOrCols(int first, int count, const TSheetInfo& info, bool onColumns);
    // Sheet copies and names removed: the tokens' names and 3-D references.
    void ArrangeCopySheet(const TSheetInfo& info);
    void CheckCopySheet(const TSheetInfo& info) const;

private:
    struct TLayout {
        bool Ok = false;
        std::size_t Formula1 = 0, Formula1End = 0, Formula2 = 0, Formula2End = 0, RangesAt = 0;
    };
    TLayout Layout() const;
    template <class Call>
    void EachFormula(const TLayout& layout, Call call) const;
    void MoveTokens(const TLayout& layout, int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    // The ranges written back (a record holds at most 8224 data bytes).
    void SetRanges(const TLayout& layout, const TRangeValuesList& ranges);
};

// The data validations of a sheet, among its record lists, changed on
// copies first: a refusal leaves every DV as it was. Commit puts the
// copies in place; a DV left without a range goes, and the DVAL of its
// list counts one fewer.
class TValidationChange {
public:
    TValidationChange(std::initializer_list<TBaseRecordList*> lists, const std::function<void(TDVRecord&)>& change);
    void Commit();

private:
    struct TItem {
        TBaseRecordList* List;
        std::size_t Index;
        std::unique_ptr<TBaseRecord> Copy;
    };
    std::vector<TItem> FItems;
};

// A sheet's range entry that owns a list of ranges.
class TRangeValuesEntry : public TRangeEntry {
public:
    TRangeValuesEntry(int perRecord, int otherDataLength) : FRangeValuesList(perRecord, otherDataLength) {}
    const TRangeValuesList& Ranges() const { return FRangeValuesList; }

protected:
    TRangeValuesList FRangeValuesList;
};

// Merged cells: 513 ranges a MERGEDCELLS record.
class TMergedCells : public TRangeValuesEntry {
public:
    TMergedCells() : TRangeValuesEntry(513, 0) {}

    std::unique_ptr<TRangeEntry> DoCopyTo() const override;
    void LoadFromStream(TOle2File& ole, TRecordHeader& header, const TRangeRecord& first) override;
    void SaveToStream(TOle2File& ole) const override;
    void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const override;
    std::int64_t TotalSize() const override;
    std::int64_t TotalRangeSize(const TXlsCellRange& range) const override;
    void CheckArrange(const TArrangeCheck& check) const override;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                  const TSheetInfo& info) override;
    void InsertAndCopyRowsOrCols(int first, int last, bool onColumns, const TSheetInfo& info, int copies,
                                 int dest) override;
    void DeleteRowsOrCols(int first, int count, const TSheetInfo& info, bool onColumns) override;

    void MergeCells(int firstRow, int firstCol, int lastCol, int lastRow) {
        FRangeValuesList.AddNewRange(firstRow, firstCol, lastCol, lastRow);
    }
    void PreMerge(int& firstRow, int& firstCol, int& lastCol, int& lastRow) {
        FRangeValuesList.PreAddNewRange(firstRow, firstCol, lastCol, lastRow);
    }
    // Removes every range with exactly these corners.
    void UnMergeCells(int firstRow, int firstCol, int lastCol, int lastRow);
    // The first range holding the cell.
    bool CheckCell(int row, int col, TXlsCellRange& cell) const;
    std::size_t MergedCount() const { return FRangeValuesList.Count(); }
    TXlsCellRange MergedCell(std::size_t n) const;
};

// A CONDFMT record's CF records.
class TCFRecordList : public TBaseRecordList {
public:
    TCFRecord* GetItems(std::size_t i) const { return static_cast<TCFRecord*>(TBaseRecordList::GetItems(i)); }
};

// A conditional format: its ranges (513 a record, after 12 bytes of CF
// count, flags and bounding range), the bounding range and its conditions.
class TCondFmt : public TRangeValuesEntry {
public:
    TCondFmt() : TRangeValuesEntry(513, 12) {}

    std::unique_ptr<TRangeEntry> DoCopyTo() const override;
    void LoadFromStream(TOle2File& ole, TRecordHeader& header, const TRangeRecord& first) override;
    void SaveToStream(TOle2File& ole) const override;
    void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const override;
    std::int64_t TotalSize() const override;
    std::int64_t TotalRangeSize(const TXlsCellRange& range) const override;
    void CheckArrange(const TArrangeCheck& check) const override;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                  const TSheetInfo& info) override;
    void InsertAndCopyRowsOrCols(int first, int last, bool onColumns, const TSheetInfo& info, int copies,
                                 int dest) override;
    void DeleteRowsOrCols(int first, int count, const TSheetInfo& info, bool onColumns) override;
    void CheckCopySheet(const TSheetInfo& info) const override;
    void ArrangeCopySheet(const TSheetInfo& info) override;
    void Clear();

    const TRangeValues& Bounds() const { return FBounds; }
    const TCFRecordList& Conditions() const { return FCFs; }

private:
    void Save(TOle2File& ole, const std::vector<TRangeValues>& ranges) const;
    std::int64_t SizeOf(std::size_t ranges) const;

    std::uint16_t FFlags = 0;
    TRangeValues FBounds{};
    TCFRecordList FCFs;
};

}  // namespace kalmira
