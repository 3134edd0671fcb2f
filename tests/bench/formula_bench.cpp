// Formula speed: a sheet of 100,000 formula cells (50,000 rows, two
// columns), half of them members of shared formulas (one SHRFMLA per 100
// rows) and a quarter with text results (a STRING each), is loaded through
// the record factory into the cell storage with its STRING records bound
// and its shared formulas expanded, and saved by the cell storage with its
// computed size (goal: each under 0.5 s on 2 cores, release build). The container written into is the small fixture
// made by the xls_fixtures test in the build tree.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/workbook/storage/SSTGlobals.h"
#include "workbook/cells/UXlsFormula.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/Uexcelrecords.h"

using namespace kalmira;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int Rows = 50000;

void Put(Bytes& out, std::uint16_t id, const Bytes& data) {
    const Bytes header = {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
                          static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8)};
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), data.begin(), data.end());
}

// Row, column, XF 15, the result (1.0, or a text in the STRING after it),
// options 8 (a shared member where the tokens say so), the tokens.
Bytes Formula(int row, int col, bool text, const Bytes& tokens) {
    Bytes data(22, 0);
    SetWord(data, 0, static_cast<std::uint16_t>(row));
    SetWord(data, 2, static_cast<std::uint16_t>(col));
    SetWord(data, 4, 15);
    SetWord(data, 12, text ? 0xFFFF : 0x3FF0);
    SetWord(data, 14, 8);
    SetWord(data, 20, static_cast<std::uint16_t>(tokens.size()));
    data.insert(data.end(), tokens.begin(), tokens.end());
    return data;
}

// Column A: =B{row}*2 shared over blocks of 100 rows; column B: =A1+7,
// cached as a text on every other row.
Bytes SheetStream() {
    Bytes out;
    Put(out, 0x809, {0, 6, 0x10, 0, 0xBB, 0x0D, 0xCC, 0x07, 0, 0, 0, 0, 6, 0, 0, 0});
    for (int row = 0; row < Rows; ++row) {
        const int first = row - row % 100;
        const std::uint8_t r = static_cast<std::uint8_t>(first), rHigh = static_cast<std::uint8_t>(first >> 8);
        Put(out, xlr_FORMULA, Formula(row, 0, false, {0x01, r, rHigh, 0, 0}));
        if (row == first)
            Put(out, xlr_SHRFMLA, {r, rHigh, static_cast<std::uint8_t>(first + 99), static_cast<std::uint8_t>((first + 99) >> 8),
                                   0, 0, 0, 100, 9, 0, 0x4C, 0, 0, 1, 0xC0, 0x1E, 2, 0, 0x05});
        const bool text = row % 2 == 0;
        Put(out, xlr_FORMULA, Formula(row, 1, text, {0x44, 0, 0, 0, 0, 0x1E, 7, 0, 0x03}));
        if (text) Put(out, xlr_STRING, {8, 0, 0, 'R', 'o', 'w', ' ', 't', 'e', 'x', 't'});
    }
    Put(out, xlr_EOF, {});
    return out;
}

Bytes SmallContainer() {
    const auto exe = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    std::ifstream in(exe.parent_path() / "fixtures" / "small.xls", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const Bytes& SheetFile() {
    static const Bytes file = [] {
        TKmrMemoryStream in(SmallContainer()), out;
        {
            TOle2File ole(&in);
            ole.PrepareForWrite(&out, u"Workbook");
            const Bytes stream = SheetStream();
            ole.WriteMem(stream.data(), stream.size());
            ole.FinishStream();
        }
        return out.Bytes();
    }();
    return file;
}

// The sheet's records into its cell storage: a STRING gives the formula
// before it its text, the SHRFMLA records wait for FixFormulas.
std::unique_ptr<TCells> LoadSheet(const Bytes& file, TSSTGlobals& sst) {
    RegisterFormulaRecords();
    TKmrMemoryStream in(file);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    auto cells = std::make_unique<TCells>(&sst, nullptr);
    TShrFmlaRecordList shared;
    TFormulaRecord* last = nullptr;
    WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> record) {
        if (auto* formula = dynamic_cast<TFormulaRecord*>(record.get())) {
            last = formula;
            record.release();
            cells->AddCell(std::unique_ptr<TCellRecord>(formula));
        } else if (auto* text = dynamic_cast<TStringRecord*>(record.get()); text && last) {
            last->SetFormulaValue(TVariant(text->Value()));
        } else if (dynamic_cast<TShrFmlaRecord*>(record.get())) {
            shared.Add(std::unique_ptr<TShrFmlaRecord>(static_cast<TShrFmlaRecord*>(record.release())));
        }
    });
    cells->CellList().FixFormulas(shared);
    return cells;
}

void LoadFormulas(benchmark::State& state) {
    const Bytes& file = SheetFile();
    for (auto _ : state) {
        TSSTGlobals sst;
        auto cells = LoadSheet(file, sst);
        benchmark::DoNotOptimize(cells->CellList().Count());
    }
}

void SaveFormulas(benchmark::State& state) {
    const Bytes& file = SheetFile();
    TSSTGlobals sst;
    auto cells = LoadSheet(file, sst);
    const Bytes container = SmallContainer();
    for (auto _ : state) {
        TKmrMemoryStream in(container), out;
        TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        cells->FixRows();
        const std::int64_t size = cells->TotalSize();
        cells->SaveToStream(ole);
        if (ole.Position() != size) state.SkipWithError("written size differs from the computed size");
        ole.FinishStream();
    }
}

}  // namespace

BENCHMARK(LoadFormulas)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveFormulas)->Unit(benchmark::kMillisecond);
