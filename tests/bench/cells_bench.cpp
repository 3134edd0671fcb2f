// Cell storage speed on a sheet of 100,000 cells (10,000 rows of five
// numbers and five texts): one row inserted or deleted at the top (goal:
// under 10 ms each), a 100-row block copied 10 times (goal: under 50 ms),
// 1,000 rows deleted, one column deleted, and SetValueX2 over every cell
// (release build, 2 cores). Each case works on a fresh copy of the sheet.
#include <benchmark/benchmark.h>

#include <string>

#include "tests/workbook/storage/SSTGlobals.h"
#include "workbook/cells/UXlsRowColEntries.h"

using namespace kalmira;

namespace {

constexpr int Rows = 10000, Cols = 10;

TXlsCellValue CellValue(int row, int col) {
    if (col % 2 == 0) return {TVariant(row * 10.0 + col + 0.25), -1, false};
    return {TVariant(u"Řádek " + Utf8ToUtf16(std::to_string(row * 10 + col))), -1, false};
}

struct TSheet {
    TSSTGlobals SST;
    TCells Master{&SST, nullptr};
    TSheet() {
        for (int row = 0; row < Rows; ++row)
            for (int col = 0; col < Cols; ++col) Master.CellList().SetValueX2(row, col, CellValue(row, col), {}, false);
    }
};

TSheet& Sheet() {
    static TSheet sheet;
    return sheet;
}

TSheetInfo OnSheet() {
    TSheetInfo info;
    info.InsSheet = info.FormulaSheet = 0;
    return info;
}

// Runs the operation on a fresh copy each iteration; the copy is not timed.
template <class Operation>
void OnCopy(benchmark::State& state, Operation operation) {
    TSheet& sheet = Sheet();
    for (auto _ : state) {
        state.PauseTiming();
        auto cells = std::make_unique<TCells>(&sheet.SST, nullptr);
        cells->CopyFrom(sheet.Master);
        state.ResumeTiming();
        operation(*cells);
        state.PauseTiming();
        cells.reset();
        state.ResumeTiming();
    }
}

void InsertRowAtTop(benchmark::State& state) {
    OnCopy(state, [](TCells& c) { c.InsertAndCopyRows(Rows, Rows, 0, 1, OnSheet(), false); });
}

void DeleteRowAtTop(benchmark::State& state) {
    OnCopy(state, [](TCells& c) { c.DeleteRows(0, 1, OnSheet()); });
}

void CopyBlockTenTimes(benchmark::State& state) {
    OnCopy(state, [](TCells& c) { c.InsertAndCopyRows(0, 99, 100, 10, OnSheet(), false); });
}

void DeleteThousandRows(benchmark::State& state) {
    OnCopy(state, [](TCells& c) { c.DeleteRows(0, 1000, OnSheet()); });
}

void DeleteOneColumn(benchmark::State& state) {
    OnCopy(state, [](TCells& c) { c.DeleteCols(0, 1, OnSheet()); });
}

void SetEveryCell(benchmark::State& state) {
    OnCopy(state, [](TCells& c) {
        for (int row = 0; row < Rows; ++row)
            for (int col = 0; col < Cols; ++col) c.CellList().SetValueX2(row, col, CellValue(row + 1, col), {}, false);
    });
    state.SetItemsProcessed(state.iterations() * Rows * Cols);
}

}  // namespace

BENCHMARK(InsertRowAtTop)->Unit(benchmark::kMillisecond);
BENCHMARK(DeleteRowAtTop)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyBlockTenTimes)->Unit(benchmark::kMillisecond);
BENCHMARK(DeleteThousandRows)->Unit(benchmark::kMillisecond);
BENCHMARK(DeleteOneColumn)->Unit(benchmark::kMillisecond);
BENCHMARK(SetEveryCell)->Unit(benchmark::kMillisecond);
