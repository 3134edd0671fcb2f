// The main window by hand, on a meters workbook of 10,000 meters made
// through the engine: "Načíst soubor ..." from the file name to the filled
// list and panel 1 (goal: 0.3 s); readings of distinct meters from the
// readings store to their list rows (goal: 20 ms a reading, 1,000 under 1 s).
#include <benchmark/benchmark.h>

#include "app/F1.h"
#include "app/Tmyodecty.h"
#include "app/Wpatnistav.h"
#include "platform/qt/Application.h"
#include "platform/qt/StatusBar.h"
#include "tests/tools/support/TestSupport.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

constexpr int kMeters = 10000;

std::string Address(int i) { return "0x" + std::to_string(0x1000000 + i); }

// The window on a store of its own, with its boxes answered at once, and
// the 10,000-meter workbook beside it.
struct Bench {
    testsupport::TempDir dir;
    std::string book = dir.File("meters.xls");
    std::unique_ptr<plat::TApplication> app;
    std::unique_ptr<TForm1> form;

    Bench() {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("ORVELO_DIALOGS", "auto", 1);
        std::filesystem::create_directory(dir.File("log"));
        testsupport::WriteFile(dir.File("registry"), "logdir=" + dir.File("log") + "\nusbCom=COM3\noffline=n\n");
        ::setenv("ORVELO_REGISTRY", dir.File("registry").c_str(), 1);
        static int argc = 1;
        static char name[] = "orvelo_bench";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<plat::TApplication>(argc, argv);
        WriteBook();
        form = std::make_unique<TForm1>();
    }

    void WriteBook() {
        kalmira::TXLSAdapter adapter;
        kalmira::TKalmiraImport xls;
        xls.SetAdapter(&adapter);
        xls.NewFile(4);
        xls.SetActiveSheet(1);
        for (int i = 0; i < kMeters; ++i) {
            const int row = 5 + i;
            const std::u16string flat = kalmira::Utf8ToUtf16(std::to_string(i + 1));
            for (int col : {1, 2, 3, 4, 5, 6, 7, 8, 9}) xls.SetCellValue(row, col, kalmira::TVariant(flat));
            xls.SetCellValue(row, 10, kalmira::TVariant(kalmira::Utf8ToUtf16(Address(i))));
            xls.SetCellValue(row, 12, kalmira::TVariant(0.5));
            xls.SetCellValue(row, 15, kalmira::TVariant(1.0));
            xls.SetCellValue(row, 16, kalmira::TVariant(100.0));
            xls.SetCellValue(row, 17, kalmira::TVariant(1.0));
        }
        xls.Save(book);
    }
};

Bench& Shared() {
    static Bench* bench = new Bench;  // Qt's globals go first at exit
    return *bench;
}

void BM_LoadMeters(benchmark::State& state) {
    Bench& b = Shared();
    for (auto _ : state) {
        b.form->LoadMeterFile(b.book);
        benchmark::DoNotOptimize(b.form->sb->Text(1));
    }
    state.counters["rows"] = b.form->lvMeters->topLevelItemCount();
}
BENCHMARK(BM_LoadMeters)->Unit(benchmark::kMillisecond);

// 1,000 readings of distinct meters, each until its row shows it.
void BM_ReadingsToRows(benchmark::State& state) {
    Bench& b = Shared();
    if (b.form->lvMeters->topLevelItemCount() != kMeters) b.form->LoadMeterFile(b.book);
    double count = 0;
    for (auto _ : state) {
        count += 1;
        for (int i = 0; i < 1000; ++i) {
            const int meter = (i * 7919) % kMeters;
            myOdecty->AddReading(Address(meter), 0, -60, count, 1);
            QCoreApplication::processEvents();
        }
    }
    state.counters["per reading"] = benchmark::Counter(1000 * state.iterations(), benchmark::Counter::kIsRate |
                                                                                     benchmark::Counter::kInvert);
}
BENCHMARK(BM_ReadingsToRows)->Unit(benchmark::kMillisecond);

// Every meter read, then the whole save: the sheets written, the main water
// meter dialog passed, the file replaced.
void BM_SaveTable(benchmark::State& state) {
    Bench& b = Shared();
    b.form->LoadMeterFile(b.book);
    for (int i = 0; i < kMeters; ++i) myOdecty->AddReading(Address(i), 0, -60, 100 + i, 1);
    ::setenv("ORVELO_DIALOG_ANSWER", "yes", 1);
    for (auto _ : state) {
        QTimer::singleShot(0, [] { static_cast<Tfpatni*>(QApplication::activeModalWidget())->Button1->click(); });
        b.form->mUlozitClick();
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(b.book));
}
BENCHMARK(BM_SaveTable)->Unit(benchmark::kMillisecond);

}  // namespace
