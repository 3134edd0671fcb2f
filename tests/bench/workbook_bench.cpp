// A workbook of 50,000 rows by 10 columns (500,000 cells, about 10 MB)
// built through the engine from the empty template: numbers, texts (one in
// five distinct, with Czech letters) and formulas with their results.
// Loading it from memory and saving it into memory through the workbook, and
// opening it from a file and saving it to a file and into memory through
// TXLSFile (goal: each under 1 s on 2 cores, release build).
//
// Side by side, whole process against whole process, on the same workbook
// written to a file and on one of 2,000,000 cells over 4 sheets: this
// program reading every cell value (printing a count and a checksum) against
// python3-xlrd doing the same (goal: 8 times faster); xlsroundtrip --cells
// printing every value against xlrd printing them (goal: 5 times); opening
// and saving against Apache POI where /usr/share/java/poi.jar is installed
// (goal: 15 times). Medians of 5 runs, their ratios and the engine's peak
// memory against the file size (goal: at most 3). Run them alone:
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

#include "workbook/api/XLSAdapter.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UKmrEmptySheet.h"
#include "workbook/storage/UKmrStreams.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsWorkbook.h"

using namespace kalmira;

namespace {

constexpr int Rows = 50000;

std::vector<std::uint8_t> Save(TWorkbook& book, const std::vector<std::uint8_t>& container) {
    TKmrMemoryStream out;  // outlives the container, which may finish into it
    TKmrMemoryStream in(container);
    TOle2File ole(&in);
    ole.PrepareForWrite(&out, u"Workbook");
    book.SaveToStream(ole);
    ole.FinishStream();
    return out.Bytes();
}

std::unique_ptr<TWorkbook> Load(const std::vector<std::uint8_t>& file) {
    TKmrMemoryStream in(file);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    auto book = std::make_unique<TWorkbook>();
    book->LoadFromStream(ole);
    return book;
}

void Fill(TCellList& cells, int rows = Rows) {
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < 4; ++col)
            cells.SetValueX2(row, col, {TVariant(col % 2 ? row * 1.25 + col : row + col), -1, false}, {}, false);
        for (int col = 4; col < 7; ++col) {
            const int at = row * 3 + col - 4;
            const std::u16string text = at % 5 ? u"Vodoměr Žďár č. 1" : u"Odečet řádku " + std::u16string(1, u'A' + at % 26) +
                                                                         Utf8ToUtf16(std::to_string(at));
            cells.SetValueX2(row, col, {TVariant(text), -1, false}, {}, false);
        }
        // =A{row}*2 with its result
        const std::uint8_t tokens[] = {0x24, static_cast<std::uint8_t>(row), static_cast<std::uint8_t>(row >> 8),
                                       0, 0xC0, 0x1E, 2, 0, 0x05};
        for (int col = 7; col < 10; ++col) cells.AssignFormulaX(row, col, tokens, TVariant(row * 2.0), false);
    }
}

// A workbook of the given sheets of rows by 10 columns.
std::vector<std::uint8_t> MakeBook(int sheets, int rows) {
    const auto empty = KmrEmptySheet();
    const std::vector<std::uint8_t> container(empty.begin(), empty.end());
    auto book = Load(container);
    if (sheets > 1) book->InsertSheets(-1, 1, sheets - 1);
    for (int s = 0; s < sheets; ++s) Fill(book->WorkSheets(s).Cells().CellList(), rows);
    return Save(*book, container);
}

const std::vector<std::uint8_t>& BigBook() {
    static const std::vector<std::uint8_t> bytes = MakeBook(1, Rows);
    return bytes;
}

// ---------------------------------------------------------------------------
// Side by side with other programs, each a process of its own.

namespace fs = std::filesystem;

const char* const ChildVariable = "ORVELO_BENCH_CHILD";

struct TRun {
    double Seconds = 0;
    double PeakBytes = 0;
    std::string Output;  // the first line the program printed
};

// Runs the program to its end with its output in a file; its time, peak
// memory and first output line. A program that fails stops the benchmark.
TRun RunProcess(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
    const fs::path outFile = fs::temp_directory_path() / ("orvelo_bench_out_" + std::to_string(getpid()));
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envStrings(extraEnv);
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
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
TSideBySide Compare(const std::vector<std::string>& engine, const std::vector<std::string>& engineEnv,
                    const std::vector<std::string>& other) {
    constexpr int Runs = 5;
    std::vector<double> times[2], peaks[2];
    TSideBySide result;
    for (int i = 0; i < Runs; ++i) {
        const TRun mine = RunProcess(engine, engineEnv), theirs = RunProcess(other);
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

std::string SelfPath() { return fs::read_symlink("/proc/self/exe").string(); }

// The generated workbooks as files: 1 sheet of 50,000 rows, 4 of 50,000.
const fs::path& BookFile(int sheets) {
    static std::map<int, fs::path> files;
    auto& file = files[sheets];
    if (file.empty()) {
        file = fs::temp_directory_path() / ("orvelo_bench_" + std::to_string(sheets) + "x50000.xls");
        // Built by a child: this process stays small, as a child's peak
        // memory counts its parent's until it starts its own program.
        RunProcess({SelfPath(), "--benchmark_filter=^ChildRun"},
                   {std::string(ChildVariable) + "=make " + std::to_string(sheets) + " " + file.string()});
    }
    return file;
}

// The engine's side of a run, in a process of its own: this program started
// again with ChildVariable set ("read FILE" or "save FILE OUT") and the
// benchmark ChildRun selected.
void ChildRun(benchmark::State& state) {
    const char* job = std::getenv(ChildVariable);
    if (!job) {
        for (auto _ : state) {
        }
        return;
    }
    const std::string text(job);
    const auto space = text.find(' ');
    const std::string verb = text.substr(0, space), rest = text.substr(space + 1);
    const auto split = rest.find(' ');
    const std::string file = rest.substr(0, split);
    if (verb == "make") {
        const auto bytes = MakeBook(std::stoi(file), Rows);
        std::ofstream(rest.substr(split + 1), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        std::_Exit(0);
    }
    TKmrFileStream in(file, TKmrFileStream::TMode::Read);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    auto book = std::make_unique<TWorkbook>();
    book->LoadFromStream(ole);
    if (verb == "save") {
        // Straight into the file, as the workbook file saves.
        TKmrSafeFileStream out(rest.substr(split + 1), TKmrSafeFileStream::TReplace::Allow);
        ole.PrepareForWrite(&out, u"Workbook");
        book->SaveToStream(ole);
        ole.FinishStream();
        out.Commit();
        std::printf("saved\n");
    } else {
        long count = 0;
        double sum = 0;
        for (int s = 0; s < book->SheetCount(); ++s) {
            const TCellList& list = book->WorkSheets(s).Cells().CellList();
            for (std::size_t row = 0; row < list.Count(); ++row)
                if (const auto* cells = list.GetItems(row))
                    for (std::size_t c = 0; c < cells->Count(); ++c) {
                        const TVariant value = cells->GetItems(c)->GetValue();
                        if (value.IsEmpty()) continue;
                        ++count;
                        if (value.VarType() == TVarType::Double) sum += value.RealValue();
                        else if (value.VarType() == TVarType::String) sum += static_cast<double>(value.Text().size());
                    }
        }
        std::printf("%ld %.6e\n", count, sum);
    }
    std::fflush(stdout);
    book.reset();  // freed as in a program that goes on
    std::_Exit(0);
}

// The same count and checksum as ChildRun's, or every value printed.
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

// Open and read every value: this program against xlrd.
void ReadVersusXlrd(benchmark::State& state) {
    const fs::path& file = BookFile(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const auto r = Compare({SelfPath(), "--benchmark_filter=^ChildRun"},
                               {std::string(ChildVariable) + "=read " + file.string()},
                               {"/usr/bin/python3", "-c", XlrdRead, file.string()});
        Report(state, r, static_cast<double>(fs::file_size(file)));
    }
}

// xlsroundtrip --cells printing every value against xlrd printing them.
void CellsVersusXlrd(benchmark::State& state) {
    const fs::path& file = BookFile(static_cast<int>(state.range(0)));
    const std::string tool = ORVELO_BINARY_DIR "/tests/tools/xlsroundtrip/xlsroundtrip";
    for (auto _ : state) {
        auto r = Compare({tool, "--cells", file.string()}, {}, {"/usr/bin/python3", "-c", XlrdPrint, file.string()});
        r.EngineOutput = r.OtherOutput = "1";  // the lines are written differently; only the times count
        Report(state, r, static_cast<double>(fs::file_size(file)));
    }
}

// Open and save: this program against Apache POI, when installed.
void SaveVersusPoi(benchmark::State& state) {
    const fs::path jar = "/usr/share/java/poi.jar";
    if (!fs::exists(jar)) {
        state.SkipWithError("Apache POI is not installed");
        for (auto _ : state) {
        }
        return;
    }
    const fs::path& file = BookFile(static_cast<int>(state.range(0)));
    const fs::path dir = fs::temp_directory_path() / "orvelo_bench_poi";
    fs::create_directories(dir);
    std::ofstream(dir / "PoiSave.java") << PoiSave;
    std::string classPath = jar.string();
    for (const char* extra : {"commons-collections4.jar", "commons-math3.jar", "commons-codec.jar"})
        classPath += ":/usr/share/java/" + std::string(extra);
    RunProcess({"/usr/bin/javac", "-cp", classPath, "-d", dir.string(), (dir / "PoiSave.java").string()});
    classPath += ":" + dir.string();
    const std::string out = (dir / "saved.xls").string();
    for (auto _ : state) {
        const auto r = Compare({SelfPath(), "--benchmark_filter=^ChildRun"},
                               {std::string(ChildVariable) + "=save " + file.string() + " " + out},
                               {"/usr/bin/java", "-cp", classPath, "PoiSave", file.string(), out});
        Report(state, r, static_cast<double>(fs::file_size(file)));
    }
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
BENCHMARK(ChildRun)->Iterations(1);
// The argument: sheets of 50,000 rows by 10 columns.
BENCHMARK(ReadVersusXlrd)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(CellsVersusXlrd)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(SaveVersusPoi)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kSecond);
