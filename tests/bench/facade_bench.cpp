// The program's roads through the facade (release build, 2 cores, run by
// hand):
//   FacadeRead: a workbook of 50,000 rows by 10 columns (half numbers, half
//     texts), opened, read as the program reads it, GetMaxRow before every
//     row and GetCellValue of every cell (goal: under 0.3 s; opening such a
//     workbook is timed by XLSFileOpen in workbook_bench.cpp);
//   FacadeWrite: NewFile (1), 100,000 SetCellValue (10,000 rows by 10, half
//     numbers, half distinct texts in random order; goal: under 0.3 s); the
//     save goes the road XLSFileSaveToFile in workbook_bench.cpp times;
//   TextSaveToFile / TextOpen: the first workbook (texts with Czech letters,
//     quotes and delimiters, a column with a number format) saved as CSV to
//     a file, and that file opened into a new workbook, every column read as
//     typed text (goal: each under 1 s).
//   orvelo_bench --benchmark_filter='Facade|Text'
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"

using namespace kalmira;
namespace fs = std::filesystem;

namespace {

fs::path BenchDir() {
    const fs::path dir = fs::path(ORVELO_BINARY_DIR) / "facade-bench";
    fs::create_directories(dir);
    return dir;
}

struct TLinked {
    TXLSAdapter adapter;
    TKalmiraImport xls;
    TLinked() {
        adapter.SetAllowOverwritingFiles(true);
        xls.SetAdapter(&adapter);
    }
};

// Row, column and value of the written cells, in random order.
std::vector<std::tuple<int, int, TVariant>> Cells(int rows) {
    std::vector<std::tuple<int, int, TVariant>> cells;
    for (int row = 1; row <= rows; ++row)
        for (int col = 1; col <= 10; ++col)
            cells.emplace_back(row, col, col % 2 ? TVariant(row * 10.25 + col)
                                                 : TVariant(u"měřidlo \"Žďár\", č. " + Utf8ToUtf16(std::to_string(row * 10 + col))));
    std::shuffle(cells.begin(), cells.end(), std::mt19937(7));
    return cells;
}

void Fill(TKalmiraImport& xls, const std::vector<std::tuple<int, int, TVariant>>& cells) {
    xls.NewFile(1);
    for (const auto& [row, col, value] : cells) xls.SetCellValue(row, col, value);
}

const std::string& BigFile() {
    static const std::string name = [] {
        TLinked linked;
        Fill(linked.xls, Cells(50000));
        TKmrFormat twoDecimals;
        linked.xls.GetDefaultFormat(twoDecimals);
        twoDecimals.Format = u"#,##0.00";
        const int xf = linked.xls.AddFormat(twoDecimals);
        for (int row = 1; row <= 50000; ++row) linked.xls.SetCellFormat(row, 3, xf);
        const std::string file = (BenchDir() / "big.xls").string();
        linked.xls.Save(file);
        return file;
    }();
    return name;
}

void FacadeRead(benchmark::State& state) {
    TLinked linked;
    linked.xls.OpenFile(BigFile());
    linked.xls.SetActiveSheet(1);
    for (auto _ : state) {
        double sum = 0;
        for (int row = 1; row <= linked.xls.GetMaxRow(); ++row)
            for (int col = 1; col <= 10; ++col) {
                const TVariant value = linked.xls.GetCellValue(row, col);
                sum += value.VarType() == TVarType::Double ? value.RealValue() : static_cast<double>(value.Text().size());
            }
        benchmark::DoNotOptimize(sum);
    }
}

void FacadeWrite(benchmark::State& state) {
    const auto cells = Cells(10000);
    TLinked linked;
    for (auto _ : state) Fill(linked.xls, cells);
}

void TextSaveToFile(benchmark::State& state) {
    TLinked linked;
    linked.xls.OpenFile(BigFile());
    const std::string file = (BenchDir() / "written.csv").string();
    for (auto _ : state) linked.xls.SaveAsText(file, ',');
    state.counters["bytes"] = static_cast<double>(fs::file_size(file));
}

void TextOpen(benchmark::State& state) {
    const std::string file = (BenchDir() / "big.csv").string();
    TLinked linked;
    linked.xls.OpenFile(BigFile());
    linked.xls.SaveAsText(file, ',');
    for (auto _ : state) {
        linked.xls.OpenText(file, ',');
        benchmark::DoNotOptimize(linked.xls.GetMaxRow());
    }
}

}  // namespace

BENCHMARK(FacadeRead)->Unit(benchmark::kMillisecond);
BENCHMARK(FacadeWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(TextSaveToFile)->Unit(benchmark::kMillisecond);
BENCHMARK(TextOpen)->Unit(benchmark::kMillisecond);
