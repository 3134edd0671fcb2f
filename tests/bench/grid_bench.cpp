// The grid view over a sheet of 65,536 rows by 10 columns, FullWorksheet,
// offscreen at 1280 × 1024: LoadSheet (goal: under 0.3 s), one scroll step
// with its paint near row 1 and near row 65,000 (goal: median under 10 ms,
// the far one within 1.5 times the near one; the counter DrawCellPerPaint
// stays at most the visible cells plus the headers), and cutting a text of
// 32,767 characters into lines of a narrow column on the Qt canvas.
// Printing the sheet: counting its pages (goal: under 0.5 s) and printing
// its last page alone (goal: under 1 s) on a 600-dpi printer that draws
// nowhere.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include <QApplication>
#include <QImage>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/grid/UKalmiraGrid.h"

using namespace kalmira;

namespace {

QApplication& BenchApp() {
    static int argc = 1;
    static char name[] = "grid_bench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = (setenv("QT_QPA_PLATFORM", "offscreen", 0), new QApplication(argc, argv));
    return *app;
}

class TCountingGrid : public TKalmiraGrid {
public:
    long long Cells = 0;

protected:
    void DrawCell(QPainter& painter, int col, int row, const QRect& rect, unsigned state) override {
        ++Cells;
        TKalmiraGrid::DrawCell(painter, col, row, rect, state);
    }
};

TKalmiraImport& BigSheet() {
    static TXLSAdapter adapter;
    static TKalmiraImport* facade = [] {
        auto* f = new TKalmiraImport;
        f->SetAdapter(&adapter);
        f->NewFile(1);
        for (int r = 1; r <= 65536; ++r)
            for (int c = 1; c <= 10; ++c) f->SetCellValue(r, c, TVariant(r * 10.0 + c));
        return f;
    }();
    return *facade;
}

std::unique_ptr<TCountingGrid> ShownGrid() {
    BenchApp();
    auto grid = std::make_unique<TCountingGrid>();
    grid->FullWorksheet = true;
    grid->resize(1280, 1024);
    grid->SetKalmiraImport(&BigSheet());
    grid->show();
    grid->LoadSheet();
    return grid;
}

void GridLoadSheet(benchmark::State& state) {
    auto grid = ShownGrid();
    for (auto _ : state) grid->LoadSheet();
}
BENCHMARK(GridLoadSheet)->Unit(benchmark::kMillisecond);

void GridScrollStep(benchmark::State& state) {
    auto grid = ShownGrid();
    const int from = static_cast<int>(state.range(0));
    int step = 0;
    long long paints = 0;
    grid->Cells = 0;
    QImage target(grid->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        grid->SetTopRow(from + step++ % 1000);
        grid->viewport()->render(&target);
        ++paints;
    }
    state.counters["DrawCellPerPaint"] = static_cast<double>(grid->Cells) / static_cast<double>(paints);
    state.counters["VisibleCells"] = (grid->VisibleRowCount() + 2) * (grid->VisibleColCount() + 2);
}
BENCHMARK(GridScrollStep)->Arg(1)->Arg(64000)->Unit(benchmark::kMillisecond);

void GridSplitLongText(benchmark::State& state) {
    BenchApp();
    TXLSAdapter adapter;
    auto book = adapter.GetWorkbook();
    book->Connect();
    book->NewFile(1);
    TQtCanvas canvas;
    const std::u16string text(32767, u'x');
    std::vector<std::u16string> lines;
    std::vector<TRTFRunList> runs;
    TSize extent;
    for (auto _ : state) TKalmiraGrid::SplitText(*book, canvas, text, 40, 1, false, {}, lines, runs, extent);
    state.counters["Lines"] = static_cast<double>(lines.size());
}
BENCHMARK(GridSplitLongText)->Unit(benchmark::kMillisecond);

// A Letter page at 600 dpi whose canvas measures with Qt and draws nothing.
class TNullPrinter : public TKmrPrinter {
public:
    int DpiX() override { return 600; }
    int DpiY() override { return 600; }
    int PageWidth() override { return 4800; }
    int PageHeight() override { return 6600; }
    void BeginDoc() override {}
    void NewPage() override {}
    void EndDoc() override {}
    TCanvas& Canvas() override { return FCanvas; }

private:
    TQtCanvas FCanvas;
};

void GridPrintPageCount(benchmark::State& state) {
    auto grid = ShownGrid();
    TNullPrinter printer;
    grid->SetPrinter(&printer);
    int pages = 0;
    for (auto _ : state) grid->CalcNumberOfPrintingPages(pages);
    state.counters["Pages"] = pages;
}
BENCHMARK(GridPrintPageCount)->Unit(benchmark::kMillisecond);

void GridPrintLastPage(benchmark::State& state) {
    auto grid = ShownGrid();
    TNullPrinter printer;
    grid->SetPrinter(&printer);
    int pages = 0;
    grid->CalcNumberOfPrintingPages(pages);
    for (auto _ : state) grid->Print(pages, pages);
}
BENCHMARK(GridPrintLastPage)->Unit(benchmark::kMillisecond);

}  // namespace
