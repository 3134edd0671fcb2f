// The sheets of the big fixture (65,536 rows of 8 numbers): load every
// section into its class; FixTotalSize + save; DoCopyTo of its sheet
// (goal: each under 1 s on 2 cores, release build).
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsWorkbook.h"

using namespace kalmira;

namespace {

const std::vector<std::uint8_t>& BigFile() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::ifstream in(std::string(ORVELO_SOURCE_DIR) + "/tests/fixtures/xls/big.xls", std::ios::binary);
        return std::vector<std::uint8_t>{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }();
    return bytes;
}

std::unique_ptr<TWorkbook> LoadBig() {
    TKmrMemoryStream in(BigFile());
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    auto book = std::make_unique<TWorkbook>();
    book->LoadFromStream(ole);
    return book;
}

void LoadSheets(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(LoadBig());
}

void SizeAndSaveSheets(benchmark::State& state) {
    auto book = LoadBig();
    for (auto _ : state) {
        TKmrMemoryStream in(BigFile()), out;
        TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        for (int s = 0; s < book->SheetCount(); ++s) {
            benchmark::DoNotOptimize(book->Sheet(s).FixTotalSize(false));
            book->Sheet(s).SaveToStream(ole);
        }
        ole.FinishStream();
    }
}

void CopySheet(benchmark::State& state) {
    auto book = LoadBig();
    for (auto _ : state) benchmark::DoNotOptimize(book->Sheet(0).CopyTo());
}

}  // namespace

BENCHMARK(LoadSheets)->Unit(benchmark::kMillisecond);
BENCHMARK(SizeAndSaveSheets)->Unit(benchmark::kMillisecond);
BENCHMARK(CopySheet)->Unit(benchmark::kMillisecond);
