// Storage layer speed (release build, run by hand): RK encoding and
// decoding of a million mixed numbers (goal: 20 million a second each), and
// a 100,000-string table (a quarter 16-bit, a tenth rich): Load + Sort, then
// FixRefs + sizes + save (goal: each under 0.2 s). The container and the
// record walk are timed with the whole workbook (workbook_bench.cpp).
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "tests/workbook/storage/TinyContainer.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlscellrecords.h"

using namespace kalmira;

namespace {

using Bytes = std::vector<std::uint8_t>;

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

TSST& BigTable() {
    static TSST table = [] {
        TSST t;
        std::mt19937 rng(5);
        for (int i = 0; i < 100000; ++i) {
            std::u16string text = i % 4 ? u"Row " : u"Řádek ";
            for (char c : std::to_string(i * 7919 % 1000003)) text.push_back(static_cast<char16_t>(c));
            text.append(static_cast<std::size_t>(rng() % 30), u'x');
            TRTFRunList runs;
            if (i % 10 == 0) runs = {{0, 5}, {3, 0}};
            t.AddRef(t.Offset(t.AddString(text, runs)));
        }
        return t;
    }();
    return table;
}

// The table saved into a container and walked back: an SST record with its CONTINUE chain.
void LoadAndSort(benchmark::State& state) {
    TKmrMemoryStream in(ole2test::TinyContainer()), out;
    {
        TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        BigTable().SaveToStream(ole);
        ole.FinishStream();
    }
    TKmrMemoryStream written(out.Bytes());
    TOle2File ole(&written);
    ole.SelectStream(u"Workbook");
    std::unique_ptr<TBaseRecord> record;
    WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> r) { if (r->Id == xlr_SST) record = std::move(r); });
    for (auto _ : state) {
        TSST sst;
        sst.Load(dynamic_cast<TSSTRecord&>(*record));
        sst.Sort();
        benchmark::DoNotOptimize(sst.Count());
    }
}

void FixRefsSizeAndSave(benchmark::State& state) {
    TSST& sst = BigTable();
    const Bytes container = ole2test::TinyContainer();
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
