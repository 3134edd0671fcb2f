// A workbook of 50,000 rows by 10 columns (500,000 cells, about 10 MB)
// built through the engine from the empty template: numbers, texts (one in
// five distinct, with Czech letters) and formulas with their results.
// Loading it from memory and saving it into memory (goal: each under 1 s on
// 2 cores, release build).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "workbook/storage/UKmrEmptySheet.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsWorkbook.h"

using namespace kalmira;

namespace {

constexpr int Rows = 50000;

std::vector<std::uint8_t> Save(TWorkbook& book, const std::vector<std::uint8_t>& container) {
    TKmrMemoryStream out;  // outlives the container, which may finish into it
    TKmrMemoryStream in(container);
    TOle2File ole(&in);
    ole.PrepareForWrite(&out, u"Workbook");
    book.SaveToStream(ole);
    ole.FinishStream();
    return out.Bytes();
}

std::unique_ptr<TWorkbook> Load(const std::vector<std::uint8_t>& file) {
    TKmrMemoryStream in(file);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    auto book = std::make_unique<TWorkbook>();
    book->LoadFromStream(ole);
    return book;
}

void Fill(TCellList& cells) {
    for (int row = 0; row < Rows; ++row) {
        for (int col = 0; col < 4; ++col)
            cells.SetValueX2(row, col, {TVariant(col % 2 ? row * 1.25 + col : row + col), -1, false}, {}, false);
        for (int col = 4; col < 7; ++col) {
            const int at = row * 3 + col - 4;
            const std::u16string text = at % 5 ? u"Vodoměr Žďár č. 1" : u"Odečet řádku " + std::u16string(1, u'A' + at % 26) +
                                                                         Utf8ToUtf16(std::to_string(at));
            cells.SetValueX2(row, col, {TVariant(text), -1, false}, {}, false);
        }
        // =A{row}*2 with its result
        const std::uint8_t tokens[] = {0x24, static_cast<std::uint8_t>(row), static_cast<std::uint8_t>(row >> 8),
                                       0, 0xC0, 0x1E, 2, 0, 0x05};
        for (int col = 7; col < 10; ++col) cells.AssignFormulaX(row, col, tokens, TVariant(row * 2.0), false);
    }
}

const std::vector<std::uint8_t>& BigBook() {
    static const std::vector<std::uint8_t> bytes = [] {
        const auto empty = KmrEmptySheet();
        const std::vector<std::uint8_t> container(empty.begin(), empty.end());
        auto book = Load(container);
        Fill(book->WorkSheets(0).Cells().CellList());
        return Save(*book, container);
    }();
    return bytes;
}

void LoadWorkbook(benchmark::State& state) {
    const auto& file = BigBook();
    state.counters["bytes"] = static_cast<double>(file.size());
    for (auto _ : state) benchmark::DoNotOptimize(Load(file));
}

void SaveWorkbook(benchmark::State& state) {
    const auto& file = BigBook();
    auto book = Load(file);
    for (auto _ : state) benchmark::DoNotOptimize(Save(*book, file));
}

}  // namespace

BENCHMARK(LoadWorkbook)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveWorkbook)->Unit(benchmark::kMillisecond);
