// Container speed: reading the "Workbook" stream a record at a time, and
// copying the container with it written anew, for the medium and big
// fixtures (made by the xls_fixtures test in the build tree).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/Uexcelrecords.h"

using namespace kalmira;

namespace {

std::string Fixture(const std::string& name) {
    const auto exe = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return (exe.parent_path() / "fixtures" / (name + ".xls")).string();
}

const std::vector<std::uint8_t>& Bytes(const std::string& name) {
    static std::vector<std::uint8_t> cache[2];
    auto& bytes = cache[name == "big"];
    if (bytes.empty()) {
        std::ifstream in(Fixture(name), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return bytes;
}

// Reads the stream as the record loader does: a 4-byte header, then its data.
std::vector<std::uint8_t> ReadRecords(TOle2File& ole) {
    std::vector<std::uint8_t> all(static_cast<std::size_t>(ole.Length()));
    std::size_t at = 0;
    while (!ole.NextEof(3)) {
        ole.ReadMem(all.data() + at, 4);
        const std::size_t size = all[at + 2] | all[at + 3] << 8;
        at += 4;
        const std::size_t n = std::min<std::size_t>(size, all.size() - at);
        ole.ReadMem(all.data() + at, static_cast<std::int64_t>(n));
        at += n;
    }
    return all;
}

void ReadWorkbook(benchmark::State& state, const std::string& name) {
    const auto& bytes = Bytes(name);
    std::int64_t length = 0;
    for (auto _ : state) {
        TKmrMemoryStream in(bytes);
        TOle2File ole(&in);
        ole.SelectStream(u"Workbook");
        length = ole.Length();
        benchmark::DoNotOptimize(ReadRecords(ole));
    }
    state.SetBytesProcessed(state.iterations() * length);
}

void CopyWorkbook(benchmark::State& state, const std::string& name, bool toFile) {
    const auto& bytes = Bytes(name);
    std::vector<std::uint8_t> workbook;
    {
        TKmrMemoryStream in(bytes);
        TOle2File ole(&in);
        ole.SelectStream(u"Workbook");
        workbook.resize(static_cast<std::size_t>(ole.Length()));
        ole.ReadMem(workbook.data(), ole.Length());
    }
    const std::string outName = std::filesystem::temp_directory_path() / "orvelo-ole2-bench.xls";
    for (auto _ : state) {
        TKmrMemoryStream in(bytes), memory;
        std::unique_ptr<TKmrStream> file;
        if (toFile) file = std::make_unique<TKmrFileStream>(outName, TKmrFileStream::TMode::Create);
        TOle2File ole(&in);
        ole.PrepareForWrite(toFile ? file.get() : &memory, u"Workbook");
        for (std::size_t i = 0; i < workbook.size(); i += 20)
            ole.WriteMem(workbook.data() + i, std::min<std::size_t>(20, workbook.size() - i));
        ole.FinishStream();
    }
    std::filesystem::remove(outName);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

// The record walk of the big fixture: load and free, or load and write back
// into a new container.
void WalkBigRecords(benchmark::State& state, bool writeBack) {
    const auto& bytes = Bytes("big");
    std::int64_t records = 0;
    for (auto _ : state) {
        TKmrMemoryStream in(bytes), out;
        TOle2File ole(&in);
        ole.SelectStream(u"Workbook");
        TBaseRecordList list;
        WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> record) { list.Add(std::move(record)); });
        records += static_cast<std::int64_t>(list.Count());
        if (writeBack) {
            ole.PrepareForWrite(&out, u"Workbook");
            list.SaveToStream(ole);
            ole.FinishStream();
        }
    }
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(WalkBigRecords, load_and_free, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WalkBigRecords, load_and_write, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadWorkbook, medium, std::string("medium"));
BENCHMARK_CAPTURE(ReadWorkbook, big, std::string("big"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CopyWorkbook, medium_memory, std::string("medium"), false);
BENCHMARK_CAPTURE(CopyWorkbook, big_memory, std::string("big"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CopyWorkbook, big_file, std::string("big"), true)->Unit(benchmark::kMillisecond);
