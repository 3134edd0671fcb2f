// The records of a chart sub-stream: the BEGIN and END markers that nest
// its blocks, the AI records whose formulas name the series data, and the
// owning list that keeps the AI records at hand for row, column and sheet
// changes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsBaseRecords.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_BEGIN = 0x1033;
inline constexpr std::uint16_t xlr_END = 0x1034;
inline constexpr std::uint16_t xlr_AI = 0x1051;

// Makes the factory build the classes of this unit (BEGIN, END, AI).
// Whoever loads charts calls it first.
void RegisterChartRecords();

// Any record of a chart sub-stream.
class TChartRecord : public TRecordOf<TChartRecord> {
public:
    using TRecordOf::TRecordOf;
};

class TBeginRecord : public TRecordOf<TBeginRecord, TChartRecord> {
public:
    using TRecordOf::TRecordOf;
};

class TEndRecord : public TRecordOf<TEndRecord, TChartRecord> {
public:
    using TRecordOf::TRecordOf;
};

// AI: 0 link id and reference type, 2 flags, 4 number format, 6 formula
// length, 8 formula tokens.
class TChartAIRecord : public TRecordOf<TChartAIRecord, TChartRecord> {
public:
    static constexpr std::size_t TokensStart = 8;
    // Shorter than 8 bytes, or tokens past the data: "Record with ID 0x%x
    // is invalid".
    TChartAIRecord(std::uint16_t id, std::vector<std::uint8_t> data);

    std::uint16_t FirstWord() const { return GetWord(Data, 0); }
    std::uint16_t FormulaLength() const { return GetWord(Data, 6); }

    // The tokens follow the change; a token that cannot follow fails with
    // "Error in Chart formula. Token Id: 0x%2x".
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    // Copied like a cell formula: only relative references move.
    void ArrangeCopyRowsAndCols(int rowOffset, int colOffset);
    void ArrangeCopySheet(const TSheetInfo& info);
    // What ArrangeInsertRowsAndCols would refuse, found on a copy.
    void CheckArrange(const TArrangeCheck& check) const;

private:
    template <class Call>
    void ReportTokens(Call call);
};

// The AI records of one chart, in the order they joined it; owned by the
// chart's record list.
class TChartAIRecordCache {
public:
    std::size_t Count() const { return FList.size(); }
    TChartAIRecord* Items(std::size_t index) const { return FList.at(index); }
    void Add(TChartAIRecord* record) { FList.push_back(record); }
    void Delete(const TChartAIRecord* record);
    void Clear() { FList.clear(); }

    // Each pass changes the records only when every one of them takes the
    // change: it is tried on copies first.
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    void ArrangeCopyRowsAndCols(int rowOffset, int colOffset);
    void ArrangeCopySheet(const TSheetInfo& info);
    void CheckArrange(const TArrangeCheck& check) const;

private:
    template <class Change>
    void ChangeAll(Change change);

    std::vector<TChartAIRecord*> FList;
};

// A chart's records in file order; every AI record among them is also in
// the cache, however it joined or left the list.
class TChartRecordList : public TBaseRecordList {
public:
    const TChartAIRecordCache& AIRecords() const { return FAIRecords; }

    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) {
        FAIRecords.ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
    }
    void ArrangeCopyRowsAndCols(int rowOffset, int colOffset) {
        FAIRecords.ArrangeCopyRowsAndCols(rowOffset, colOffset);
    }
    void ArrangeCopySheet(const TSheetInfo& info) { FAIRecords.ArrangeCopySheet(info); }
    void CheckArrange(const TArrangeCheck& check) const { FAIRecords.CheckArrange(check); }

protected:
    void Notify(TBaseRecord& record, bool added) override;

private:
    TChartAIRecordCache FAIRecords;
};

// Where a record of a chart sub-stream stands: 0 at the chart's top level,
// one more inside each open BEGIN block. A BEGIN stands at the level it
// opens from, its END inside the block it closes.
using TChartRecordSink = std::function<void(std::unique_ptr<TBaseRecord> record, int depth)>;

// Reads a chart sub-stream from the record whose header the caller holds up
// to and including its EOF record, handing every record to sink in file
// order. Blocks nest as deep as the stream says without using the stack.
// An EOF header inside an open block (a real EOF, or the end of the
// stream) fails with "Error reading Excel records. File invalid".
void LoadChartRecords(TOle2File& ole, TRecordHeader& header, const TChartRecordSink& sink);

}  // namespace kalmira
