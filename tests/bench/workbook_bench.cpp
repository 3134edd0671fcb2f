// A workbook of 50,000 rows by 10 columns (500,000 cells, about 10 MB)
// built through the engine from the empty template: numbers, texts (one in
// five distinct, with Czech letters) and formulas with their results.
// Loading it from memory and saving it into memory through the workbook, and
// opening it from a file and saving it to a file and into memory through
// TXLSFile (goal: each under 1 s on 2 cores, release build).
//
// Side by side, whole process against whole process, on the same workbook
// written to a file and on one of 2,000,000 cells over 4 sheets: the
// engine's program (orvelo_bench_child, tests/bench/child: the engine's
// libraries alone) reading every cell value (printing a count and a checksum) against
// python3-xlrd doing the same (goal: 8 times faster); xlsroundtrip --cells
// printing every value against xlrd printing them (goal: 5 times); opening
// and saving against Apache POI where /usr/share/java/poi.jar is installed
// (goal: 15 times). Medians of 5 runs, their ratios and the engine's peak
// memory against the file size (goal: at most 3), each also on the same
// workbooks saved again by LibreOffice where it is installed
// (libreoffice:1): shared formulas, and a drawing in every sheet. And the
// time per cell of a load in turn, whole process, from 50,000 to 2,000,000
// cells (goal: flat). Run them alone:
//   orvelo_bench --benchmark_filter=Versus
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "tests/bench/BenchBook.h"
#include "workbook/api/XLSAdapter.h"

using namespace kalmira;

namespace {

using namespace benchbook;


// ---------------------------------------------------------------------------
// Side by side with other programs, each a process of its own.

namespace fs = std::filesystem;

struct TRun {
    double Seconds = 0;
    double PeakBytes = 0;
    std::string Output;  // the first line the program printed
};

// Runs the program to its end with its output in a file; its time, peak
// memory and first output line. A program that fails stops the benchmark.
TRun RunProcess(const std::vector<std::string>& args) {
    const fs::path outFile = fs::temp_directory_path() / ("orvelo_bench_out_" + std::to_string(getpid()));
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    TRun run;
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.PeakBytes = static_cast<double>(usage.ru_maxrss) * 1024.0;
    std::ifstream out(outFile);
    std::getline(out, run.Output);
    fs::remove(outFile);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(args[0] + " failed");
    return run;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct TSideBySide {
    double Engine = 0, Other = 0, EnginePeak = 0, OtherPeak = 0;
    std::string EngineOutput, OtherOutput;
};

// Median time and peak memory of each program over the runs, in turns.
TSideBySide Compare(const std::vector<std::string>& engine, const std::vector<std::string>& other) {
    constexpr int Runs = 5;
    std::vector<double> times[2], peaks[2];
    TSideBySide result;
    for (int i = 0; i < Runs; ++i) {
        const TRun mine = RunProcess(engine), theirs = RunProcess(other);
        times[0].push_back(mine.Seconds);
        peaks[0].push_back(mine.PeakBytes);
        times[1].push_back(theirs.Seconds);
        peaks[1].push_back(theirs.PeakBytes);
        result.EngineOutput = mine.Output;
        result.OtherOutput = theirs.Output;
    }
    result.Engine = Median(times[0]);
    result.Other = Median(times[1]);
    result.EnginePeak = Median(peaks[0]);
    result.OtherPeak = Median(peaks[1]);
    return result;
}

// The engine's side of a run (tests/bench/child).
const std::string ChildPath = ORVELO_BINARY_DIR "/tests/orvelo_bench_child";

// The generated workbooks as files: 1 sheet of 50,000 rows, 4 of 50,000.
const fs::path& BookFile(int sheets) {
    static std::map<int, fs::path> files;
    auto& file = files[sheets];
    if (file.empty()) {
        file = fs::temp_directory_path() / ("orvelo_bench_" + std::to_string(sheets) + "x50000.xls");
        // Built by a child: this process stays small, as a child's peak
        // memory counts its parent's until it starts its own program.
        RunProcess({ChildPath, "make", std::to_string(sheets), file.string()});
    }
    return file;
}

const fs::path LibreOffice = "/usr/bin/soffice";

// The workbook of the benchmark's arguments (sheets, LibreOffice's copy),
// or empty with the benchmark skipped when LibreOffice is missing.
fs::path BenchFile(benchmark::State& state) {
    const int sheets = static_cast<int>(state.range(0));
    if (state.range(1) == 0) return BookFile(sheets);
    if (!fs::exists(LibreOffice)) {
        state.SkipWithError("LibreOffice is not installed");
        return {};
    }
    static std::map<int, fs::path> files;
    auto& file = files[sheets];
    if (file.empty()) {
        const fs::path dir = fs::temp_directory_path() / "orvelo_bench_lo";
        fs::create_directories(dir);
        RunProcess({LibreOffice.string(), "-env:UserInstallation=file://" + (dir / "profile").string(), "--headless",
                    "--convert-to", "xls:MS Excel 97", "--outdir", dir.string(), BookFile(sheets).string()});
        file = dir / BookFile(sheets).filename();
    }
    return file;
}

// Runs the benchmark's loop on its workbook; a skipped one runs no turn.
template <class Run>
void OnBenchFile(benchmark::State& state, Run run) {
    const fs::path file = BenchFile(state);
    for (auto _ : state)
        if (!file.empty()) run(file);
}

const std::vector<std::uint8_t>& BigBook() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::ifstream in(BookFile(1), std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }();
    return bytes;
}

// The same count and checksum as the child's, or every value printed.
const char* const XlrdRead = R"(import sys, xlrd
b = xlrd.open_workbook(sys.argv[1])
n = 0; s = 0.0
for sh in b.sheets():
    for r in range(sh.nrows):
        for v in sh.row_values(r):
            if v == '': continue
            n += 1
            s += len(v) if isinstance(v, str) else v
print('%d %.6e' % (n, s))
)";
const char* const XlrdPrint = R"(import sys, xlrd
b = xlrd.open_workbook(sys.argv[1])
out = sys.stdout
for i, sh in enumerate(b.sheets(), 1):
    for r in range(sh.nrows):
        for c, v in enumerate(sh.row_values(r), 1):
            if v != '': out.write('%d\t%d\t%d\t%s\n' % (i, r + 1, c, v))
)";
const char* const PoiSave = R"(import java.io.*;
import org.apache.poi.hssf.usermodel.HSSFWorkbook;
public class PoiSave {
    public static void main(String[] a) throws Exception {
        try (HSSFWorkbook b = new HSSFWorkbook(new FileInputStream(a[0]));
             FileOutputStream out = new FileOutputStream(a[1])) { b.write(out); }
        System.out.println("saved");
    }
}
)";

void Report(benchmark::State& state, const TSideBySide& r, double fileBytes) {
    state.counters["engine_s"] = r.Engine;
    state.counters["other_s"] = r.Other;
    state.counters["ratio"] = r.Other / r.Engine;
    state.counters["engine_MB"] = r.EnginePeak / 1e6;
    state.counters["other_MB"] = r.OtherPeak / 1e6;
    state.counters["peak/file"] = r.EnginePeak / fileBytes;
    state.counters["cells"] = std::atof(r.EngineOutput.c_str());
    // A child's peak counts at least this process's peak: run the
    // side-by-side benchmarks alone (--benchmark_filter=Versus).
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    state.counters["floor_MB"] = static_cast<double>(self.ru_maxrss) * 1024.0 / 1e6;
    state.counters["file_MB"] = fileBytes / 1e6;
    if (r.EngineOutput != r.OtherOutput) state.SkipWithError(("outputs differ: " + r.EngineOutput + " / " + r.OtherOutput).c_str());
}

// The cost per cell of opening and reading every value in turn (one
// thread), whole process: the engine's program on 50,000, 500,000 and
// 2,000,000 cells, less its run on a book of one row (goal: flat).
void CellCostVersusSize(benchmark::State& state) {
    const int sheets = static_cast<int>(state.range(0)), rows = static_cast<int>(state.range(1));
    const auto made = [](int sheets, int rows) {
        const fs::path file = fs::temp_directory_path() /
                              ("orvelo_bench_" + std::to_string(sheets) + "x" + std::to_string(rows) + ".xls");
        if (!fs::exists(file)) RunProcess({ChildPath, "make", std::to_string(sheets), file.string(), std::to_string(rows)});
        return file;
    };
    const fs::path file = made(sheets, rows), empty = made(1, 1);
    const auto median = [](const fs::path& book) {
        std::vector<double> times;
        for (int i = 0; i < 7; ++i) times.push_back(RunProcess({ChildPath, "read", book.string(), "1"}).Seconds);
        return Median(times);
    };
    for (auto _ : state) {
        const double cells = 10.0 * sheets * rows, base = median(empty), whole = median(file);
        state.counters["cells"] = cells;
        state.counters["process_s"] = base;
        state.counters["ns_per_cell"] = (whole - base) / cells * 1e9;
    }
}

// Open and read every value: the engine's program against xlrd.
void ReadVersusXlrd(benchmark::State& state) {
    OnBenchFile(state, [&](const fs::path& file) {
        const auto r = Compare({ChildPath, "read", file.string()}, {"/usr/bin/python3", "-c", XlrdRead, file.string()});
        Report(state, r, static_cast<double>(fs::file_size(file)));
    });
}

// xlsroundtrip --cells printing every value against xlrd printing them.
void CellsVersusXlrd(benchmark::State& state) {
    const std::string tool = ORVELO_BINARY_DIR "/tests/tools/xlsroundtrip/xlsroundtrip";
    OnBenchFile(state, [&](const fs::path& file) {
        auto r = Compare({tool, "--cells", file.string()}, {"/usr/bin/python3", "-c", XlrdPrint, file.string()});
        r.EngineOutput = r.OtherOutput = "1";  // the lines are written differently; only the times count
        Report(state, r, static_cast<double>(fs::file_size(file)));
    });
}

// Open and save: the engine's program against Apache POI, when installed.
void SaveVersusPoi(benchmark::State& state) {
    const fs::path jar = "/usr/share/java/poi.jar";
    if (!fs::exists(jar)) {
        state.SkipWithError("Apache POI is not installed");
        for (auto _ : state) {
        }
        return;
    }
    const fs::path dir = fs::temp_directory_path() / "orvelo_bench_poi";
    fs::create_directories(dir);
    std::ofstream(dir / "PoiSave.java") << PoiSave;
    std::string classPath = jar.string();
    for (const char* extra : {"commons-collections4.jar", "commons-math3.jar", "commons-codec.jar"})
        classPath += ":/usr/share/java/" + std::string(extra);
    RunProcess({"/usr/bin/javac", "-cp", classPath, "-d", dir.string(), (dir / "PoiSave.java").string()});
    classPath += ":" + dir.string();
    const std::string out = (dir / "saved.xls").string();
    OnBenchFile(state, [&](const fs::path& file) {
        const auto r = Compare({ChildPath, "save", file.string(), out},
                               {"/usr/bin/java", "-cp", classPath, "PoiSave", file.string(), out});
        Report(state, r, static_cast<double>(fs::file_size(file)));
    });
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

std::unique_ptr<TXLSFile> OpenBig() {
    auto file = std::make_unique<TXLSFile>(nullptr, true);
    file->Connect();
    file->OpenFile(BookFile(1).string());
    return file;
}

void XLSFileOpen(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(OpenBig());
}

void XLSFileSaveToFile(benchmark::State& state) {
    auto file = OpenBig();
    const std::string out = BookFile(1).string() + ".saved";
    for (auto _ : state) file->Save(false, out, nullptr, nullptr, nullptr);
    fs::remove(out);
}

void XLSFileSaveToMemory(benchmark::State& state) {
    auto file = OpenBig();
    for (auto _ : state) {
        TKmrMemoryStream out;
        file->Save(false, "", nullptr, nullptr, &out);
        benchmark::DoNotOptimize(out.Size());
    }
}

}  // namespace

BENCHMARK(LoadWorkbook)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveWorkbook)->Unit(benchmark::kMillisecond);
BENCHMARK(XLSFileOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(XLSFileSaveToFile)->Unit(benchmark::kMillisecond);
BENCHMARK(XLSFileSaveToMemory)->Unit(benchmark::kMillisecond);
// The arguments: sheets of 50,000 rows by 10 columns; the engine's file (0)
// or LibreOffice's copy of it (1).
BENCHMARK(ReadVersusXlrd)
    ->ArgNames({"sheets", "libreoffice"})
    ->ArgsProduct({{1, 4}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
// Sheets, rows of 10 cells.
BENCHMARK(CellCostVersusSize)->Args({1, 5000})->Args({1, 50000})->Args({4, 50000})->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(CellsVersusXlrd)->ArgNames({"sheets", "libreoffice"})->ArgsProduct({{1}, {0, 1}})->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(SaveVersusPoi)
    ->ArgNames({"sheets", "libreoffice"})
    ->ArgsProduct({{1, 4}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
