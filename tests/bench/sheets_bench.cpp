// The sheets of the big fixture (65,536 rows of 8 numbers): load every
// section into its class; FixTotalSize + save; DoCopyTo of its sheet
// (goal: each under 1 s on 2 cores, release build).
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsWorkbookGlobals.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlssheet.h"

using namespace kalmira;

namespace {

const std::vector<std::uint8_t>& BigFile() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::ifstream in(std::string(ORVELO_SOURCE_DIR) + "/tests/fixtures/xls/big.xls", std::ios::binary);
        return std::vector<std::uint8_t>{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }();
    return bytes;
}

struct TBigBook {
    TWorkbookGlobals Globals;
    std::vector<std::unique_ptr<TSheet>> Sheets;
};

std::unique_ptr<TBigBook> LoadBig() {
    TKmrMemoryStream in(BigFile());
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    auto book = std::make_unique<TBigBook>();
    TRecordHeader header{};
    ReadRecordHeader(ole, header);
    auto first = LoadRecords(ole, header);
    book->Globals.LoadFromStream(ole, header, std::unique_ptr<TBOFRecord>(static_cast<TBOFRecord*>(first.release())),
                                 book->Globals.SST());
    while (!ole.NextEof(3) && header.Id == xlr_BOF) {
        auto record = LoadRecords(ole, header);
        std::unique_ptr<TBOFRecord> bof(static_cast<TBOFRecord*>(record.release()));
        book->Sheets.push_back(NewSheetOfType(&book->Globals, bof->GetBOFType()));
        book->Sheets.back()->LoadFromStream(ole, header, std::move(bof), book->Globals.SST());
    }
    book->Globals.SST().Sort();
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
        for (auto& sheet : book->Sheets) {
            benchmark::DoNotOptimize(sheet->FixTotalSize(false));
            sheet->SaveToStream(ole);
        }
        ole.FinishStream();
    }
}

void CopySheet(benchmark::State& state) {
    auto book = LoadBig();
    for (auto _ : state) benchmark::DoNotOptimize(book->Sheets.at(0)->CopyTo());
}

}  // namespace

BENCHMARK(LoadSheets)->Unit(benchmark::kMillisecond);
BENCHMARK(SizeAndSaveSheets)->Unit(benchmark::kMillisecond);
BENCHMARK(CopySheet)->Unit(benchmark::kMillisecond);
