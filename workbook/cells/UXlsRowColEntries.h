// The cells of a sheet: its ROW records and, row by row, its cell records.
// Rows and columns count from 0; a sheet has rows 0..65535 and columns
// 0..255. Inside a row the cells stay sorted by column, so a cell is found
// by halving; rows are reached by index.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "workbook/cells/UXlsAutofit.h"
#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsColInfoAccess.h"
#include "workbook/storage/UXlsGlobalsAccess.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/Uxlsbaselist.h"
#include "workbook/storage/Uxlscellrecords.h"

namespace kalmira {

class TShrFmlaRecordList;
class TRangeRecord;

inline constexpr int MaxSheetRow = 65535;
inline constexpr int MaxSheetCol = 255;

// "Invalid Row (%d)", then "Invalid Column (%d)".
void CheckRowAndCol(int row, int col);

// One insertion of rows or columns, checked over everything of a sheet
// that moves before the first thing moves, so that a refused insertion
// leaves the sheet as it was. Whatever moves with the sheet's rows and
// columns (ROW records, cells, formula tokens, range entries) offers its
// positions here; the first that would leave the sheet raises "Too many
// entries for this kind of record (%d out of a maximum of %d)".
class TArrangeCheck {
public:
    TArrangeCheck(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info)
        : RowPos(rowPos), RowCount(rowCount), ColPos(colPos), ColCount(colCount), Info(info) {}

    const int RowPos, RowCount, ColPos, ColCount;
    const TSheetInfo& Info;

    void Record(const TBaseRowColRecord& record) const {
        record.CheckArrange(RowPos, RowCount, ColPos, ColCount, Info);
    }
    // A record that moves only with the rows (a ROW record's columns are
    // worked out again from its cells).
    void RowOnly(const TBaseRowColRecord& record) const;
    // A block that an insertion fills must end on the sheet.
    static void Fits(int last, int max);
};

// One owned list of records per row index (the class given at
// construction); an entry may be missing or empty.
class TBaseRowColList : public TBaseList<TBaseRowColRecordList> {
public:
    using TRowListMaker = std::unique_ptr<TBaseRowColRecordList> (*)();
    explicit TBaseRowColList(TRowListMaker maker) : FMaker(maker) {}

    TBaseRowColRecordList* GetItems(std::size_t row) const { return row < Count() ? Items(row) : nullptr; }
    void SetItems(std::size_t row, std::unique_ptr<TBaseRowColRecordList> list);
    void Add(std::unique_ptr<TBaseRowColRecordList> list) { DoAdd(std::move(list)); }
    void Insert(std::size_t row, std::unique_ptr<TBaseRowColRecordList> list);
    // At its row, in the place of a record of the same column already
    // there; a new row list makes room for the expected count of records.
    void AddRecord(std::unique_ptr<TBaseRowColRecord> record, std::size_t expected = 0);
    void Clear() { DoClear(); }
    // The list and every row's list hold no room beyond their records.
    void ShrinkToFit();
    bool HasRecords(int row) const;

    virtual void CheckArrange(const TArrangeCheck& check) const;
    virtual void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    void CopyFrom(const TBaseRowColList& other);
    void DeleteRows(int first, int count, const TSheetInfo& info);
    void DeleteCols(int first, int count, const TSheetInfo& info);
    // The callers check first (TArrangeCheck): these only move.
    void InsertAndCopyRows(int first, int last, int dest, int count, const TSheetInfo& info, bool onlyFormulas);
    virtual void InsertAndCopyCols(int first, int last, int dest, int count, const TSheetInfo& info,
                                   bool onlyFormulas);

    void SaveToStream(TOle2File& ole) const;
    void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const;
    std::int64_t TotalSize() const;
    std::int64_t TotalRangeSize(const TXlsCellRange& range) const;

protected:
    // The row's list, made (with empty entries before it) when missing.
    TBaseRowColRecordList& RowList(int row);
    // The index of the first record at col (true) or where it would go.
    static bool FindColumn(const TBaseRowColRecordList& list, int col, std::size_t& index);

private:
    std::unique_ptr<TBaseRowColRecordList> CopyRow(const TBaseRowColRecordList* source, int destRow,
                                                   bool onlyFormulas) const;
    TRowListMaker FMaker;
};

// The cells of one sheet. It refers, without owning them, to the workbook
// globals (the shared string table), the sheet's ROW records and its
// column settings (none when the sheet has no column info).
class TCellList : public TBaseRowColList {
public:
    TCellList(TGlobalsAccess* globals, TRowRecordList* rows, TColInfoAccess* colInfo);

    TCellRecordList* GetItems(std::size_t row) const {
        return static_cast<TCellRecordList*>(TBaseRowColList::GetItems(row));
    }
    // The cell at the position, or none.
    TCellRecord* FindCell(int row, int col) const;
    TSST* SST() const { return FGlobals ? &FGlobals->SST() : nullptr; }
    TGlobalsAccess* Globals() const { return FGlobals; }
    void SetColInfo(TColInfoAccess* colInfo) { FColInfo = colInfo; }
    TColInfoAccess* ColInfo() const { return FColInfo; }

    void GetValueX2(int row, int col, TXlsCellValue& value, TRTFRunList& runs) const;
    TVariant GetValue(int row, int col) const;
    // A value the value records refuse (NaN, infinities, texts too long)
    // raises before anything changes.
    void SetValueX2(int row, int col, const TXlsCellValue& value, const TRTFRunList& runs, bool dates1904);
    void SetFormat(int row, int col, int xf);
    // The row's XF when the row is formatted, else the column's, else 15.
    std::uint16_t DefaultFormat(int row, int col) const;

    // The placing half of a formula: a FORMULA with the tokens (without
    // their length field) cached as value replaces the cell; no tokens
    // delete it. The record is made before anything else, so a refused
    // value leaves the sheet as it was (no ROW record either).
    void AssignFormulaX(int row, int col, std::span<const std::uint8_t> tokens, const TVariant& value,
                        bool dates1904);
    // Formula text ("=SUM(A1:A3)*2") parsed in value class, then placed
    // as above; an empty text deletes the cell. A refused text changes
    // nothing, the workbook's references included.
    void AssignFormulaX(int row, int col, const std::u16string& text, const TVariant& value, bool dates1904);
    void SetFormula(int row, int col, const std::u16string& text) { AssignFormulaX(row, col, text, TVariant(), false); }
    // The text of the formula at the cell ("=" first); empty when the cell
    // is missing or holds no formula.
    std::u16string GetFormula(int row, int col) const;
    // The data of the ARRAY or TABLE of the formula at the cell; the row is
    // checked against the rows of the list.
    const TRecordData& ArrayFormula(int row, int col) const;
    const TRecordData& TableFormula(int row, int col) const;
    // After loading: formulas that point at one of the sheet's shared
    // formulas take its tokens.
    void FixFormulas(TShrFmlaRecordList& shared);
    // A sheet copied or inserted: every formula's tokens follow, or (when
    // one refuses) none.
    void ArrangeInsertSheet(const TSheetInfo& info);
    // The records that stay when rows firstRow.. (rowCount) or columns
    // firstCol.. (colCount) go, checked for the move that follows.
    void CheckRemaining(const TArrangeCheck& check, int firstRow, int rowCount, int firstCol, int colCount) const;
    // The copies InsertAndCopyRows or InsertAndCopyCols would make of the
    // formulas in first..last, after the insertion has moved them, checked.
    void CheckCopies(int first, int last, int dest, int count, bool onColumns, const TSheetInfo& info) const;

    // The bytes the cells write; with the flag, formulas first drop their
    // cached results.
    std::int64_t FixTotalSize(bool clearResults) const;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) override;
    void InsertAndCopyCols(int first, int last, int dest, int count, const TSheetInfo& info,
                           bool onlyFormulas) override;

    // ---- Fitting rows and columns to their texts (UXlsAutofit.cpp) ----
    // Each row of first..last with a ROW record (unless it was sized by
    // hand and forced is off) gets the height of its tallest text, at least
    // the one-line height of its XF, and is marked sized by hand unless
    // keepAutomatic is on.
    void RecalcRowHeights(TAutofitBook& book, TKmrTextMeasure& measure, int firstRow, int lastRow,
                          bool keepAutomatic, bool forced, long double adjustment);
    void RecalcColWidths(TAutofitBook& book, TKmrTextMeasure& measure, int firstCol, int lastCol,
                         bool ignoreStrings, long double adjustment);
    // The column takes the width of its widest text (shared-string labels
    // left out when ignoreStrings is on); without any it keeps its width.
    void AutofitColumn(TAutofitBook& book, int col, TColWidthCalc& calc, bool ignoreStrings,
                       long double adjustment) const;

private:
    std::unique_ptr<TCellRecord> NewRecord(int row, int col, const TXlsCellValue& value, const TRTFRunList& runs,
                                           bool dates1904) const;
    // Steps 5 to 8 of a new value: the old cell goes, the row and the
    // trailing rows are fitted, the record (if any) takes its place.
    void Replace(int row, int col, std::unique_ptr<TCellRecord> record);
    void FitRowAfterDelete(int row);
    void TrimTrailingRows(int editedRow, bool madeRecord);
    void PlaceRecord(std::unique_ptr<TCellRecord> record);

    TGlobalsAccess* FGlobals;
    TRowRecordList* FRows;
    TColInfoAccess* FColInfo;
};

// A sheet's cells: its ROW records (item r is row r's, or none) and its
// cell list.
class TCells {
public:
    static constexpr std::int64_t DimensionsSize = 18;

    TCells(TGlobalsAccess* globals, TColInfoAccess* colInfo);
    TCells(const TCells&) = delete;
    TCells& operator=(const TCells&) = delete;

    TRowRecordList& Rows() { return FRows; }
    const TRowRecordList& Rows() const { return FRows; }
    TCellList& CellList() { return FCells; }
    const TCellList& CellList() const { return FCells; }

    // Loading. A label is attached to the string table; cells shorter than
    // row, column and XF, or beyond column 255, are refused ("Record with
    // ID 0x%x is invalid").
    void AddCell(std::unique_ptr<TCellRecord> cell);
    void AddMultipleCells(TMultipleValueRecord& record);
    void AddRow(std::unique_ptr<TRowRecord> row);

    void Clear();
    void CopyFrom(const TCells& other);

    // Every ROW record and every cell, before an insertion moves any.
    void CheckArrange(const TArrangeCheck& check) const;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    void ArrangeInsertSheet(const TSheetInfo& info);
    // Each checks everything it would move before the first thing moves.
    void DeleteRows(int first, int count, const TSheetInfo& info);
    void DeleteCols(int first, int count, const TSheetInfo& info);
    void InsertAndCopyRows(int first, int last, int dest, int count, const TSheetInfo& info, bool onlyFormulas);
    void InsertAndCopyCols(int first, int last, int dest, int count, const TSheetInfo& info, bool onlyFormulas);
    // Each ROW record's columns from its row's cells (0 and 0 for none).
    void ArrangeCols();

    // Before saving: every row with cells has a ROW record whose columns
    // cover them.
    void FixRows();
    // After loading: FixRows, which has nothing to do when every cell was
    // loaded within the columns of its row's ROW record; the lists give
    // back the room they grew beyond their records.
    void FixLoadedRows();
    // Room for the rows a sheet being loaded says it has: its lists need
    // not grow past them nor give back what they grew.
    void ReserveRows(std::size_t rows);
    // Every ROW record and every cell the sheet writes.
    TXlsCellRange CalcUsedRange() const;
    static void WriteDimensions(TOle2File& ole, const TXlsCellRange& range);

    std::int64_t FixTotalSize(bool clearResults) const;
    std::int64_t TotalSize() const { return FixTotalSize(false); }
    std::int64_t TotalRangeSize(const TXlsCellRange& range) const;
    void SaveToStream(TOle2File& ole) { SaveUsedRange(ole, false); }
    // FixRows, then SaveToStream, in one pass over the rows.
    void FixRowsAndSave(TOle2File& ole) { SaveUsedRange(ole, true); }
    // DIMENSIONS, then blocks of 32 rows: the block's ROW records (their
    // columns cut to the range), then its cells; no INDEX or DBCELL.
    void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range);

private:
    void SaveUsedRange(TOle2File& ole, bool fixRows);

    TRowRecordList FRows;
    TCellList FCells;
    bool FRowsCoverCells = true;  // every cell added so far lies in its row's ROW record
};

// A sheet's merged cells or conditional formats: one kind of range records.
class TRangeEntry {
public:
    virtual ~TRangeEntry() = default;
    std::unique_ptr<TRangeEntry> CopyTo() const { return DoCopyTo(); }
    virtual std::unique_ptr<TRangeEntry> DoCopyTo() const = 0;
    // The record read (the entry's first) and any records that belong to it,
    // read on with the loader's header.
    virtual void LoadFromStream(TOle2File& ole, TRecordHeader& header, const TRangeRecord& first) = 0;
    virtual void SaveToStream(TOle2File& ole) const = 0;
    virtual void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const = 0;
    virtual std::int64_t TotalSize() const = 0;
    virtual std::int64_t TotalRangeSize(const TXlsCellRange& range) const = 0;
    // Raises when the insertion would push a range off the sheet.
    virtual void CheckArrange(const TArrangeCheck& check) const = 0;
    virtual void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                          const TSheetInfo& info) = 0;
    virtual void InsertAndCopyRowsOrCols(int first, int last, bool onColumns, const TSheetInfo& info, int copies,
                                         int dest) = 0;
    virtual void DeleteRowsOrCols(int first, int count, const TSheetInfo& info, bool onColumns) = 0;
    // Sheet copies and names removed: the formulas' names and 3-D
    // references (an entry without formulas has nothing to do).
    virtual void CheckCopySheet(const TSheetInfo&) const {}
    virtual void ArrangeCopySheet(const TSheetInfo&) {}
};

// Every operation goes to each entry in list order. Row and column changes
// first check their lines as the cells do ("Invalid Row (%d)", "Invalid
// Column (%d)", a copied block too big for the sheet).
class TRangeList : public TBaseList<TRangeEntry> {
public:
    void Add(std::unique_ptr<TRangeEntry> entry) { DoAdd(std::move(entry)); }
    void Clear() { DoClear(); }
    void CopyFrom(const TRangeList& other);
    void Swap(TRangeList& other) { List().swap(other.List()); }
    void CheckArrange(const TArrangeCheck& check) const;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    void InsertAndCopyRowsOrCols(int first, int last, bool onColumns, const TSheetInfo& info, int copies, int dest);
    void DeleteRowsOrCols(int first, int count, const TSheetInfo& info, bool onColumns);
    // Every entry is checked before any changes.
    void ArrangeCopySheet(const TSheetInfo& info);
    void SaveToStream(TOle2File& ole) const;
    void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const;
    std::int64_t TotalSize() const;
    std::int64_t TotalRangeSize(const TXlsCellRange& range) const;
};

}  // namespace kalmira
