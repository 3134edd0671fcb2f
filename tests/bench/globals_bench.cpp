// Workbook globals of a 10 MB workbook: 300,000 distinct texts (a quarter
// with Czech letters, 16-bit), each used by one label, beside the formats, a
// sheet and the settings records. Load (globals, labels attached, table
// sorted), then FixRefs + TotalSize + save (goal: each under 1 s on 2
// cores, release build). The container written into is the committed small
// fixture.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsWorkbookGlobals.h"
#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/Uxlsstrings.h"

using namespace kalmira;

namespace {

constexpr int Texts = 300000;

std::vector<std::uint8_t> SmallContainer() {
    std::ifstream in(ORVELO_SOURCE_DIR "/tests/fixtures/xls/small.xls", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteRecord(TOle2File& ole, std::uint16_t id, const std::vector<std::uint8_t>& data) {
    ole.WriteHeader(id, static_cast<std::uint16_t>(data.size()));
    if (!data.empty()) ole.WriteMem(data.data(), data.size());
}

// The texts as an SST record and its CONTINUE records, each text whole in
// one of them.
std::vector<std::vector<std::uint8_t>> SSTChunks() {
    std::vector<std::vector<std::uint8_t>> chunks(1, std::vector<std::uint8_t>(8));
    SetLongWord(chunks[0], 0, Texts);
    SetLongWord(chunks[0], 4, Texts);
    for (int i = 0; i < Texts; ++i) {
        std::u16string text = i % 4 ? u"Meter reading, flat " : u"Odečet vodoměru, byt ";
        for (char c : std::to_string(i * 7919LL % 1000003)) text.push_back(static_cast<char16_t>(c));
        std::vector<std::uint8_t> bytes;
        TExcelString(2, false, text).AppendTo(bytes, true);
        if (chunks.back().size() + bytes.size() > MaxRecordDataSize) chunks.emplace_back();
        chunks.back().insert(chunks.back().end(), bytes.begin(), bytes.end());
    }
    return chunks;
}

// The container with the globals as its "Workbook" stream.
const std::vector<std::uint8_t>& BigGlobals() {
    static const std::vector<std::uint8_t> file = [] {
        TKmrMemoryStream in(SmallContainer()), out;
        {
            TOle2File ole(&in);
            ole.PrepareForWrite(&out, u"Workbook");
            WriteRecord(ole, xlr_BOF, {0, 6, 5, 0, 0xBB, 0x0D, 0xCC, 0x07, 0, 0, 0, 0, 6, 0, 0, 0});
            WriteRecord(ole, xlr_WINDOW1, std::vector<std::uint8_t>(18, 1));
            WriteRecord(ole, xlr_DATEMODE, {0, 0});
            for (int i = 0; i < 4; ++i) WriteRecord(ole, xlr_FONT, std::vector<std::uint8_t>(20, 0));
            for (int i = 0; i < 21; ++i) WriteRecord(ole, xlr_XF, std::vector<std::uint8_t>(20, 0));
            WriteRecord(ole, xlr_STYLE, {0, 0x80, 0, 0xFF});
            WriteRecord(ole, xlr_BOUNDSHEET, {0, 0, 0, 0, 0, 0, 1, 0, 'S'});
            const auto chunks = SSTChunks();
            for (std::size_t i = 0; i < chunks.size(); ++i) WriteRecord(ole, i ? xlr_CONTINUE : xlr_SST, chunks[i]);
            WriteRecord(ole, xlr_EOF, {});
            ole.FinishStream();
        }
        return out.Bytes();
    }();
    return file;
}

std::unique_ptr<TWorkbookGlobals> Load(std::vector<std::unique_ptr<TLabelSSTRecord>>& labels) {
    TKmrMemoryStream in(BigGlobals());
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    TRecordHeader header{};
    ReadRecordHeader(ole, header);
    auto first = LoadRecords(ole, header);
    auto globals = std::make_unique<TWorkbookGlobals>();
    globals->LoadFromStream(ole, header, std::unique_ptr<TBOFRecord>(static_cast<TBOFRecord*>(first.release())),
                            globals->SST());
    for (int i = 0; i < Texts; ++i) {
        std::vector<std::uint8_t> data(TLabelSSTRecord::Size);
        SetWord(data, 0, static_cast<std::uint16_t>(i / 4));
        SetWord(data, 2, static_cast<std::uint16_t>(i % 4));
        SetLongWord(data, 6, static_cast<std::uint32_t>(i));
        labels.push_back(std::make_unique<TLabelSSTRecord>(xlr_LABELSST, std::move(data)));
        labels.back()->AttachToSST(globals->SST());
    }
    globals->SST().Sort();
    return globals;
}

void LoadGlobals(benchmark::State& state) {
    BigGlobals();
    for (auto _ : state) {
        std::vector<std::unique_ptr<TLabelSSTRecord>> labels;
        auto globals = Load(labels);
        benchmark::DoNotOptimize(globals->SST().Count());
        state.PauseTiming();
        labels.clear();
        globals.reset();
        state.ResumeTiming();
    }
    state.counters["MB"] = static_cast<double>(BigGlobals().size()) / 1e6;
}

void GlobalsFixRefsSizeAndSave(benchmark::State& state) {
    std::vector<std::unique_ptr<TLabelSSTRecord>> labels;
    auto globals = Load(labels);
    const auto container = SmallContainer();
    for (auto _ : state) {
        TKmrMemoryStream in(container), out;
        TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        globals->SST().FixRefs();
        const std::int64_t size = globals->TotalSize();
        globals->SaveToStream(ole);
        if (ole.Position() != size) state.SkipWithError("written size differs from the computed size");
        ole.FinishStream();
    }
    labels.clear();
}

}  // namespace

BENCHMARK(LoadGlobals)->Unit(benchmark::kMillisecond);
BENCHMARK(GlobalsFixRefsSizeAndSave)->Unit(benchmark::kMillisecond);
