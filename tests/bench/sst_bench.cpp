// String table and RK speed: encoding and decoding a million mixed numbers
// (goal: 20 million a second each), and a 100,000-string table (a quarter
// 16-bit, a tenth rich): Load + Sort, then FixRefs + sizes + save (goal:
// each under 0.2 s, release build). The container written into is the small
// fixture made by the xls_fixtures test in the build tree.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/Uxlscellrecords.h"

using namespace kalmira;

namespace {

std::vector<double> MixedNumbers() {
    std::mt19937_64 rng(99);
    std::vector<double> out(1000000);
    for (std::size_t i = 0; i < out.size(); ++i) {
        switch (i % 4) {
            case 0: out[i] = static_cast<double>(static_cast<std::int64_t>(rng() % 20000000) - 10000000) / 100; break;
            case 1: out[i] = static_cast<double>(static_cast<std::int64_t>(rng() % 2000000) - 1000000); break;
            case 2: out[i] = static_cast<double>(rng() % 1000000) / 7; break;
            default: out[i] = static_cast<double>(rng() % 100000) + 0.5; break;
        }
    }
    return out;
}

void EncodeRKs(benchmark::State& state) {
    const auto numbers = MixedNumbers();
    for (auto _ : state) {
        std::uint32_t rk = 0, sum = 0;
        for (double v : numbers) sum += EncodeRK(v, rk) ? rk : 0;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(numbers.size()));
}

void DecodeRKs(benchmark::State& state) {
    std::vector<std::uint32_t> rks;
    for (double v : MixedNumbers()) {
        std::uint32_t rk;
        rks.push_back(EncodeRK(v, rk) ? rk : 0x3FF00000);
    }
    for (auto _ : state) {
        double sum = 0;
        for (std::uint32_t rk : rks) sum += DecodeRK(rk);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rks.size()));
}

std::vector<std::uint8_t> SmallContainer() {
    const auto exe = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    std::ifstream in(exe.parent_path() / "fixtures" / "small.xls", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TSST& BigTable() {
    static TSST table = [] {
        TSST t;
        std::mt19937 rng(5);
        for (int i = 0; i < 100000; ++i) {
            std::u16string text = u"Řádek ";
            if (i % 4 != 0) text = u"Row ";
            for (char c : std::to_string(i * 7919 % 1000003)) text.push_back(static_cast<char16_t>(c));
            text.append(static_cast<std::size_t>(rng() % 30), u'x');
            TRTFRunList runs;
            if (i % 10 == 0) runs = {{0, 5}, {3, 0}};
            const std::size_t index = t.AddString(text, runs);
            t.AddRef(t.Offset(index));
        }
        return t;
    }();
    return table;
}

// The table as a file holds it: an SST record with its CONTINUE chain.
std::unique_ptr<TSSTRecord> BigRecord(const std::vector<std::uint8_t>& container) {
    TKmrMemoryStream in(container), out;
    std::int64_t size;
    {
        TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        BigTable().SaveToStream(ole);
        size = ole.Position();
        ole.FinishStream();
    }
    TKmrMemoryStream written(out.Bytes());
    TOle2File ole(&written);
    ole.SelectStream(u"Workbook");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    ole.ReadMem(bytes.data(), size);
    std::unique_ptr<TSSTRecord> first;
    TBaseRecord* last = nullptr;
    for (std::size_t pos = 0; pos + 4 <= bytes.size();) {
        const std::uint16_t id = GetWord(bytes, pos), length = GetWord(bytes, pos + 2);
        std::vector<std::uint8_t> data(bytes.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                                       bytes.begin() + static_cast<std::ptrdiff_t>(pos + 4 + length));
        pos += 4 + length;
        if (id == xlr_SST) {
            first = std::make_unique<TSSTRecord>(id, std::move(data));
            last = first.get();
        } else if (id == xlr_CONTINUE) {
            last->AddContinue(std::make_unique<TContinueRecord>(id, std::move(data)));
            last = last->Continue.get();
        }
    }
    return first;
}

void LoadAndSort(benchmark::State& state) {
    const auto record = BigRecord(SmallContainer());
    for (auto _ : state) {
        TSST sst;
        sst.Load(*record);
        sst.Sort();
        benchmark::DoNotOptimize(sst.Count());
    }
}

void FixRefsSizeAndSave(benchmark::State& state) {
    const auto container = SmallContainer();
    TSST& sst = BigTable();
    for (auto _ : state) {
        TKmrMemoryStream in(container), out;
        TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        sst.FixRefs();
        benchmark::DoNotOptimize(sst.TotalSize());
        sst.SaveToStream(ole);
        ole.FinishStream();
    }
}

}  // namespace

BENCHMARK(EncodeRKs)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeRKs)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadAndSort)->Unit(benchmark::kMillisecond);
BENCHMARK(FixRefsSizeAndSave)->Unit(benchmark::kMillisecond);
