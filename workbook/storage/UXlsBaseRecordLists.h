// Owning lists of records that keep the size they will write.
#pragma once

#include <cstdint>
#include <memory>

#include "workbook/storage/UXlsBaseRecords.h"
#include "workbook/storage/Uxlsbaselist.h"

namespace kalmira {

class TGutsRecord;

class TBaseRecordList : public TBaseList<TBaseRecord> {
public:
    TBaseRecordList() = default;
    // A sheet makes one list per row of cells: the lists live in the record
    // pools too.
    static void* operator new(std::size_t size) { return AllocateRecord(size); }
    static void operator delete(void* list, std::size_t size) noexcept { FreeRecord(list, size); }

    // Every record added counts its current size; a record whose size
    // changes inside the list must report the change with AdaptSize.
    void Add(std::unique_ptr<TBaseRecord> record);
    void Insert(std::size_t index, std::unique_ptr<TBaseRecord> record);
    void Delete(std::size_t index);
    // Blocks of records in one move of the list.
    void InsertBlock(std::size_t index, std::vector<std::unique_ptr<TBaseRecord>> records);
    void DeleteBlock(std::size_t first, std::size_t count);
    void SetItems(std::size_t index, std::unique_ptr<TBaseRecord> record);
    TBaseRecord* GetItems(std::size_t index) const { return Items(index); }
    void Clear();
    void AdaptSize(std::int64_t delta) {
        if (Tracked()) FTotalSize += delta;
    }
    void CopyFrom(const TBaseRecordList& other);
    // Runs a change that may resize a record of this list, and follows it.
    template <class Change>
    void Resize(const TBaseRecord& record, Change change) {
        if (!Tracked()) return change();
        const std::int64_t before = record.TotalSize();
        change();
        AdaptSize(record.TotalSize() - before);
    }

    virtual std::int64_t GetTotalSize() const { return FTotalSize; }
    virtual void SaveToStream(TOle2File& ole) const;

protected:
    // A list that sizes its records itself when asked (GetTotalSize) keeps
    // no running total: no record is asked its size as it comes and goes.
    struct TUntracked {};
    explicit TBaseRecordList(TUntracked) : FTotalSize(Untracked) {}

    // Told of every record that joins the list (added true) or leaves it,
    // whichever call moved it: lists that index some of their records keep
    // the index in step here.
    virtual void Notify(TBaseRecord&, bool /*added*/) {}

private:
    void Tell(const std::unique_ptr<TBaseRecord>& record, bool added) {
        if (record) Notify(*record, added);
    }
    static std::int64_t SizeOf(const TBaseRecord* record) { return record ? record->TotalSize() : 0; }
    static constexpr std::int64_t Untracked = INT64_MIN;
    bool Tracked() const { return FTotalSize != Untracked; }
    std::int64_t FTotalSize = 0;
};

// The records of one row, kept in column order.
class TBaseRowColRecordList : public TBaseRecordList {
public:
    TBaseRowColRecordList() = default;
    // After the records of its column and those before.
    void Add(std::unique_ptr<TBaseRowColRecord> record);
    // Keeps the order: callers insert where Find said.
    void Insert(std::size_t index, std::unique_ptr<TBaseRowColRecord> record);
    TBaseRowColRecord* GetItems(std::size_t index) const { return static_cast<TBaseRowColRecord*>(Items(index)); }
    // The first record of the column (true), or where one would go (false).
    bool Find(int column, std::size_t& index) const;

    virtual void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const;
    virtual std::int64_t TotalRangeSize(const TXlsCellRange& range, bool fix) const;
    // Every record moves, or (when one would leave the sheet) none.
    virtual void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    virtual void ArrangeCopyRowsAndCols(int rowOffset, int colOffset);

protected:
    explicit TBaseRowColRecordList(TUntracked untracked) : TBaseRecordList(untracked) {}
    static bool InRange(const TBaseRowColRecord& record, const TXlsCellRange& range);
};

// The cells of one row; saving joins runs of cells that share one record.
class TCellRecordList : public TBaseRowColRecordList {
public:
    TCellRecordList() : TBaseRowColRecordList(TUntracked{}) {}
    TCellRecord* GetItems(std::size_t index) const { return static_cast<TCellRecord*>(Items(index)); }
    std::int64_t GetTotalSize() const override;
    void SaveToStream(TOle2File& ole) const override;
    void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const override;
    std::int64_t TotalRangeSize(const TXlsCellRange& range, bool fix) const override;
    std::int64_t FixTotalSize() const { return GetTotalSize(); }

private:
    // The one pass that sizes and, given a stream, writes.
    std::int64_t SaveAndCalcRange(TOle2File* ole, const TXlsCellRange& range) const;
};

// The ROW records of a sheet; item r is row r's record or empty.
class TRowRecordList : public TBaseRowColRecordList {
public:
    // "Missing ROW Record for row %d" when the row has none.
    TRowRecord* GetItems(std::size_t row) const;
    // The first ROW of a row stays; a later one is freed.
    void AddRecord(std::unique_ptr<TRowRecord> record);
    bool HasRow(int row) const;
    void AddRow(int row);
    int RowHeight(int row) const;
    void SetRowHeight(int row, int height);
    void AutoRowHeight(int row, bool autoHeight);
    bool IsAutoRowHeight(int row) const;
    // The row outline level of GUTS: the highest among the rows.
    void CalcGuts(TGutsRecord& guts) const;
    std::int64_t TotalRangeSize(const TXlsCellRange& range, bool fix) const override;
    void DeleteRows(int first, int count, const TSheetInfo& info);
    void InsertAndCopyRows(int firstRow, int lastRow, int destRow, int copies, const TSheetInfo& info);
};

}  // namespace kalmira
