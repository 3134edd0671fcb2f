// Delimited text of a workbook of 50,000 rows by 10 columns (500,000
// cells: numbers, some with a number format, and texts with Czech letters,
// quotes and delimiters): the sheet saved as CSV to a file, and that file
// opened into a new workbook through the facade, every column read as
// typed text (goal: each under 1 s on 2 cores, release build).
#include <benchmark/benchmark.h>

#include <filesystem>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"

namespace {

using namespace kalmira;
namespace fs = std::filesystem;

constexpr int Rows = 50000;

std::unique_ptr<TExcelFile> BigSheet(TXLSAdapter& adapter) {
    auto file = adapter.GetWorkbook();
    file->Connect();
    file->NewFile(1);
    auto& xls = static_cast<TXLSFile&>(*file);
    TWorkbookGlobals& globals = xls.GetTWorkbook().Globals();
    TKmrFormat twoDecimals = globals.XF().GetItems(15)->KmrFormat(globals.Fonts(), globals.Formats());
    twoDecimals.Format = u"#,##0.00";
    const int xf = globals.XF().AddFormat(twoDecimals, globals.Fonts(), globals.Formats());
    for (int row = 1; row <= Rows; ++row)
        for (int col = 1; col <= 10; ++col) {
            if (col <= 3) file->SetCellValueX(row, col, {TVariant(row * 1.25 + col), col == 2 ? xf : -1, false});
            else if (col <= 5) file->SetCellValue(row, col, TVariant(row + col));
            else file->SetCellValue(row, col, TVariant(col % 2 ? u"Vodoměr \"Žďár\", č. 1" : u"Odečet řádku"));
        }
    return file;
}

const fs::path& CsvFile() {
    static const fs::path path = [] {
        fs::path p = fs::temp_directory_path() / "orvelo-text-bench.csv";
        TXLSAdapter adapter;
        auto file = BigSheet(adapter);
        static_cast<TXLSFile&>(*file).SaveAsTextDelimited(p.string(), nullptr, ',');
        return p;
    }();
    return path;
}

void TextSaveToFile(benchmark::State& state) {
    TXLSAdapter adapter;
    auto file = BigSheet(adapter);
    const std::string out = CsvFile().string() + ".saved";
    for (auto _ : state) static_cast<TXLSFile&>(*file).SaveAsTextDelimited(out, nullptr, ',');
    state.counters["bytes"] = static_cast<double>(fs::file_size(out));
    fs::remove(out);
}

void TextOpen(benchmark::State& state) {
    TXLSAdapter adapter;
    TKalmiraImport xls;
    xls.SetAdapter(&adapter);
    for (auto _ : state) {
        xls.OpenText(CsvFile().string(), ',');
        benchmark::DoNotOptimize(xls.GetMaxRow());
    }
}

}  // namespace

BENCHMARK(TextSaveToFile)->Unit(benchmark::kMillisecond);
BENCHMARK(TextOpen)->Unit(benchmark::kMillisecond);
