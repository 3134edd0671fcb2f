#include "workbook/storage/Uxlschart.h"

#include <algorithm>

#include "workbook/cells/UXlsTokenArray.h"
#include "workbook/storage/Uexcelrecords.h"

namespace kalmira {

namespace {

std::vector<std::uint8_t> CheckedAIData(std::vector<std::uint8_t> data, std::uint16_t id) {
    if (data.size() < TChartAIRecord::TokensStart ||
        TChartAIRecord::TokensStart + GetWord(data, 6) > data.size())
        Raise(ErrWrongExcelRecord, id);
    return data;
}

std::unique_ptr<TChartAIRecord> CopyOf(const TChartAIRecord& record) {
    return std::unique_ptr<TChartAIRecord>(static_cast<TChartAIRecord*>(record.CopyTo().release()));
}

}  // namespace

void RegisterChartRecords() {
    RegisterRecordClass(xlr_BEGIN, MakeRecord<TBeginRecord>);
    RegisterRecordClass(xlr_END, MakeRecord<TEndRecord>);
    RegisterRecordClass(xlr_AI, MakeRecord<TChartAIRecord>);
}

// ---------------------------------------------------------------------------
// TChartAIRecord

TChartAIRecord::TChartAIRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedAIData(std::move(data), id)) {}

template <class Call>
void TChartAIRecord::ReportTokens(Call call) {
    if (FormulaLength() == 0) return;
    try {
        call(TokensStart + FormulaLength());
    } catch (const ETokenException& e) {
        Raise(ErrBadChartFormula, e.Token);
    }
}

void TChartAIRecord::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                              const TSheetInfo& info) {
    ReportTokens([&](std::size_t end) {
        UXlsTokenArray_ArrangeInsertRowsAndCols(Data, TokensStart, end, rowPos, rowCount, 0, colPos, colCount, 0,
                                                info, true);
    });
}

void TChartAIRecord::ArrangeCopyRowsAndCols(int rowOffset, int colOffset) {
    ReportTokens([&](std::size_t end) {
        UXlsTokenArray_ArrangeInsertRowsAndCols(Data, TokensStart, end, 0, 0, rowOffset, 0, 0, colOffset,
                                                TSheetInfo{}, true);
    });
}

void TChartAIRecord::ArrangeCopySheet(const TSheetInfo& info) {
    ReportTokens([&](std::size_t end) { UXlsTokenArray_ArrangeInsertSheets(Data, TokensStart, end, info); });
}

void TChartAIRecord::CheckArrange(const TArrangeCheck& check) const {
    CopyOf(*this)->ArrangeInsertRowsAndCols(check.RowPos, check.RowCount, check.ColPos, check.ColCount, check.Info);
}

// ---------------------------------------------------------------------------
// TChartAIRecordCache

// From the end: a list being cleared, or a record just added, is found at once.
void TChartAIRecordCache::Delete(const TChartAIRecord* record) {
    const auto at = std::find(FList.rbegin(), FList.rend(), record);
    Assert(at != FList.rend(), "Uxlschart", "AI record missing from its cache");
    FList.erase(std::next(at).base());
}

template <class Change>
void TChartAIRecordCache::ChangeAll(Change change) {
    for (const TChartAIRecord* record : FList) change(*CopyOf(*record));
    for (TChartAIRecord* record : FList) change(*record);
}

void TChartAIRecordCache::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                                   const TSheetInfo& info) {
    ChangeAll([&](TChartAIRecord& r) { r.ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info); });
}

void TChartAIRecordCache::ArrangeCopyRowsAndCols(int rowOffset, int colOffset) {
    ChangeAll([&](TChartAIRecord& r) { r.ArrangeCopyRowsAndCols(rowOffset, colOffset); });
}

void TChartAIRecordCache::ArrangeCopySheet(const TSheetInfo& info) {
    ChangeAll([&](TChartAIRecord& r) { r.ArrangeCopySheet(info); });
}

void TChartAIRecordCache::CheckArrange(const TArrangeCheck& check) const {
    for (const TChartAIRecord* record : FList) record->CheckArrange(check);
}

// ---------------------------------------------------------------------------
// TChartRecordList

void TChartRecordList::Notify(TBaseRecord& record, bool added) {
    auto* ai = dynamic_cast<TChartAIRecord*>(&record);
    if (!ai) return;
    if (added) FAIRecords.Add(ai);
    else FAIRecords.Delete(ai);
}

// ---------------------------------------------------------------------------
// Reading a chart sub-stream

void LoadChartRecords(TOle2File& ole, TRecordHeader& header, const TChartRecordSink& sink) {
    int depth = 0;
    std::uint16_t id;
    do {
        if (header.Id == xlr_EOF && depth > 0) Raise(ErrExcelInvalid);
        auto record = LoadRecords(ole, header);
        id = record->Id;
        const int at = depth;
        if (id == xlr_BEGIN) ++depth;
        else if (id == xlr_END && depth > 0) --depth;
        sink(std::move(record), at);
    } while (id != xlr_EOF);
}

}  // namespace kalmira
