// A worksheet's hyperlinks: HLINK records, each with the HLINKTOOLTIP that
// may follow it, decoded into THyperLink and encoded back, and the sheet's
// list of them, which follows rows and columns as they are inserted,
// copied and deleted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UXlsBaseRecords.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlsbaselist.h"

namespace kalmira {

// HLINKTOOLTIP: 0 the id 0x800 again, 2 first row, 4 last row, 6 first
// column, 8 last column, 10 the UTF-16 tip and a zero.
class TScreenTipRecord : public TRecordOf<TScreenTipRecord> {
public:
    // Fewer than 12 data bytes: "Record with ID 0x%x is invalid".
    TScreenTipRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    explicit TScreenTipRecord(std::u16string_view text);

    std::u16string GetText() const;
    void SetText(std::u16string_view text);
    std::uint16_t GetFirstRow() const { return GetWord(Data, 2); }
    std::uint16_t GetLastRow() const { return GetWord(Data, 4); }
    std::uint16_t GetFirstCol() const { return GetWord(Data, 6); }
    std::uint16_t GetLastCol() const { return GetWord(Data, 8); }
    void SetFirstRow(std::uint16_t value) { SetWord(Data, 2, value); }
    void SetLastRow(std::uint16_t value) { SetWord(Data, 4, value); }
    void SetFirstCol(std::uint16_t value) { SetWord(Data, 6, value); }
    void SetLastCol(std::uint16_t value) { SetWord(Data, 8, value); }
};

// HLINK: 0 first row, 2 last row, 4 first column, 6 last column (rows
// first, unlike TXlsCellRange), 8 the standard hyperlink class id, 24
// stream version 2, 28 option flags, 32 the optional parts.
class THLinkRecord : public TRecordOf<THLinkRecord> {
public:
    // Fewer than 32 data bytes: "Record with ID 0x%x is invalid".
    THLinkRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    THLinkRecord(const TXlsCellRange& range, const THyperLink& link);
    ~THLinkRecord() override;

    std::uint16_t GetFirstRow() const { return GetWord(Data, 0); }
    std::uint16_t GetLastRow() const { return GetWord(Data, 2); }
    std::uint16_t GetFirstCol() const { return GetWord(Data, 4); }
    std::uint16_t GetLastCol() const { return GetWord(Data, 6); }
    std::uint32_t GetOptionFlags() const { return GetLongWord(Data, 28); }
    // The tip, when there is one, keeps the same range.
    void SetFirstRow(std::uint16_t value);
    void SetLastRow(std::uint16_t value);
    void SetFirstCol(std::uint16_t value);
    void SetLastCol(std::uint16_t value);
    void SetOptionFlags(std::uint32_t value) { SetLongWord(Data, 28, value); }

    TXlsCellRange GetCellRange() const;
    void SetCellRange(const TXlsCellRange& range);

    // Reads through the CONTINUE records; a part running past them fails
    // with "Error reading record".
    THyperLink GetProperties() const;
    // Replaces the data and the chain; a link that would not fit in one
    // record is refused ("Invalid String record") and nothing changes.
    void SetProperties(const THyperLink& link);

    const TScreenTipRecord* Hint() const { return FHint.get(); }
    // Attaches the tip that followed the record in the file.
    void AddHint(std::unique_ptr<TScreenTipRecord> tip);
    bool TakesFollowing(std::uint16_t id) const override { return id == xlr_HLINKTOOLTIP && !FHint; }
    void TakeFollowing(std::unique_ptr<TBaseRecord> record) override;

    // Adds to all four range fields, clamped to the sheet.
    void Offset(int rows, int cols);
    // rowCount copies of range's rows (colCount of its columns) inserted
    // at its first row (column): the fields at or after it move, up to the
    // sheet's last row (column). Only on the sheet the change is on.
    void ArrangeInsertRange(const TXlsCellRange& range, int rowCount, int colCount, const TSheetInfo& info);
    // Rows (or columns) first..last deleted; false when the link lay
    // wholly inside them. A link reaching into them shrinks.
    bool DeleteRows(int first, int last);
    bool DeleteCols(int first, int last);
    bool Inside(const TXlsCellRange& range) const;

    std::unique_ptr<TBaseRecord> DoCopyTo() const override;
    // The link and then its tip.
    void SaveToStream(TOle2File& ole) const override;
    std::int64_t TotalSize() const override;
    void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const;
    std::int64_t TotalRangeSize(const TXlsCellRange& range) const;

private:
    void SetField(std::size_t pos, std::uint16_t value);
    std::unique_ptr<TScreenTipRecord> FHint;
};

// The links of a sheet, in the order they are written.
class THLinkList : public TBaseList<THLinkRecord> {
public:
    THLinkRecord* GetItems(std::size_t index) const { return Items(index); }
    void SetItems(std::size_t index, std::unique_ptr<THLinkRecord> link) { Slot(index) = std::move(link); }
    void Add(std::unique_ptr<THLinkRecord> link) { DoAdd(std::move(link)); }
    void Insert(std::size_t index, std::unique_ptr<THLinkRecord> link) { DoInsert(index, std::move(link)); }
    void Delete(std::size_t index) { DoDelete(index); }
    void Clear() { DoClear(); }
    // By first row, then first column.
    void Sort();

    // The link numbered index + 1 for the interface; any other number
    // fails with "The index "%d" of the property "HyperLinkIndex" is not in
    // the range 1-%d".
    THLinkRecord& Link(int index) const;

    void CopyFrom(const THLinkList& other);
    // Copies of the links inside range, moved by the offsets, appended.
    void CopyObjectsFrom(const THLinkList& other, const TXlsCellRange& range, int rowOffset, int colOffset);

    void SaveToStream(TOle2File& ole) const;
    void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const;
    std::int64_t TotalSize() const;
    std::int64_t TotalRangeSize(const TXlsCellRange& range) const;

    // range copied rowCount times at destRow (colCount times at destCol):
    // the links move for the inserted block, then the links inside range
    // (where it now lies) are copied into every copy of the block.
    void InsertAndCopyRange(const TXlsCellRange& range, int destRow, int destCol, int colCount, int rowCount,
                            const TSheetInfo& info);
    // rowCount rows from range.Top (colCount columns from range.Left)
    // deleted: links wholly inside go, links after them move back, links
    // reaching into them shrink by the overlap.
    void DeleteRange(const TXlsCellRange& range, int rowCount, int colCount, const TSheetInfo& info);
};

// A range given by a caller, checked against the sheet ("Invalid Row
// (%d)", "Invalid Column (%d)") and with each pair put in order.
TXlsCellRange CheckedLinkRange(const TXlsCellRange& range);

}  // namespace kalmira
