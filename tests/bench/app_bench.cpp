// The main window by hand, on a meters workbook of 10,000 meters made
// through the engine: "Načíst soubor ..." from the file name to the filled
// list and panel 1 (goal: 0.2 s, release build); readings of distinct meters from the
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

    // Laid out as the meters workbooks are (make_fixtures.py make_app_meters):
    // captions in rows 1 and 4, a meter a row from row 5 on sheet 1 (names,
    // streets and places in Czech, a hidden meter every hundredth row), the
    // same rows on sheet 2 with the closing block under them, sheet 4 the log.
    void WriteBook() {
        kalmira::TXLSAdapter adapter;
        kalmira::TKalmiraImport xls;
        xls.SetAdapter(&adapter);
        xls.NewFile(4);
        auto text = [&](int row, int col, const std::string& t) {
            xls.SetCellValue(row, col, kalmira::TVariant(kalmira::Utf8ToUtf16(t)));
        };
        auto number = [&](int row, int col, double v) { xls.SetCellValue(row, col, kalmira::TVariant(v)); };
        xls.SetActiveSheet(1);
        text(1, 1, "Odečty vodoměrů");
        const char* captions[] = {"Č.bytu", "Jméno", "Příjmení", "Ulice", "č.p.", "Město", "Upřesnění", "Typ",
                                  "Výr. číslo", "RF"};
        for (int col = 1; col <= 10; ++col) text(4, col, captions[col - 1]);
        const char* firstNames[] = {"Jiří", "Marie", "Žofie", "Přemysl"};
        const char* surnames[] = {"Dvořák", "Nováková", "Černý", "Šťastná"};
        for (int i = 0; i < kMeters; ++i) {
            const int row = 5 + i;
            text(row, 1, std::to_string(i / 4 + 1));
            text(row, 2, firstNames[i % 4]);
            text(row, 3, surnames[(i / 4) % 4]);
            text(row, 4, "Nábřeží Kapitána Jaroše");
            number(row, 5, 1000 + i / 40);
            text(row, 6, "Ústí nad Labem");
            text(row, 7, i % 2 ? "koupelna" : "kuchyň");
            text(row, 8, i % 2 ? "TV" : "SV");
            number(row, 9, 9000000 + i);
            text(row, 10, Address(i));
            number(row, 12, 0.5);
            number(row, 15, 1);
            number(row, 16, 100);
            number(row, 17, 1);
            if (i % 100 == 99) text(row, 21, "x");
        }
        xls.SetActiveSheet(2);
        text(4, 1, "Č.bytu");
        text(4, 35, "Max");
        text(4, 36, "Počátek");
        text(4, 37, "Spotřeba");
        for (int i = 0; i < kMeters; ++i) {
            text(5 + i, 1, std::to_string(i / 4 + 1));
            number(5 + i, 9, 100 + i);
        }
        const int last = 4 + kMeters;
        text(last + 2, 36, "Patní vodoměr :");
        number(last + 2, 37, 1234.5678);
        text(last + 3, 36, "Celkem :");
        xls.SetCellFormula(last + 3, 37, u"=SUM(AK5:AK" + kalmira::Utf8ToUtf16(std::to_string(last + 1)) + u")");
        text(last + 4, 36, "Ztráty :");
        xls.SetCellFormula(last + 4, 37,
                           u"=AK" + kalmira::Utf8ToUtf16(std::to_string(last + 2) + "-AK" + std::to_string(last + 3)));
        xls.SetActiveSheet(3);
        text(1, 1, "Informace");
        xls.SetActiveSheet(4);
        text(1, 1, "Log odečtů");
        text(2, 1, "Č.bytu");
        text(2, 9, "Den");
        xls.Save(book);
    }
};

Bench& Shared() {
    static Bench* bench = new Bench;  // Qt's globals go first at exit
    return *bench;
}

void BM_LoadMeters(benchmark::State& state) {
    Bench& b = Shared();
    // From the file name to the list on the screen: the window is shown,
    // and what the load leaves for the event loop (layout, painting) counts.
    b.form->show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        b.form->LoadMeterFile(b.book);
        QCoreApplication::processEvents();
        b.form->lvMeters->viewport()->repaint();
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
