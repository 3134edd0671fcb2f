// xlsview FILE [--sheet N] [--zoom Z] [--size WxH] [--full] [--fixed] [--top ROW] [--left COL]
//              [--select RANGE] [--png OUT | --info | --copy | --save OUT]
//
// Opens FILE (made absolute) through the facade, as xlsroundtrip does, makes
// sheet N (from 1) active and shows it in a W x H grid (default 1024x768;
// --full shows the whole sheet, --fixed its frozen panes as fixed cells):
// LoadSheet, then the zoom, the top row and left column, and the selection
// RANGE ("C3" or "A1:B2").
//
//   --png OUT   the grabbed grid as a PNG file (offscreen).
//   --info      "grid\tRowCount\tColCount\tFixedRows\tFixedCols\tCol\tRow", then
//               "col\tN\tPX" and "row\tN\tPX" for every column and row from 0.
//   --copy      copies the selection as Ctrl+C does, prints "copied\tRANGE"
//               and serves the clipboard until SIGTERM (status 0).
//   otherwise   a window for reading and editing; --save OUT saves the
//               workbook there when it closes.
//
// A failure gives status 1 and one line on standard error (OUT is not
// written); a bad command line status 2.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QTimer>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/grid/UKalmiraGrid.h"
#include "platform/qt/Clipboard.h"
#include "workbook/storage/UKmrMessages.h"

using namespace kalmira;

namespace {

struct TOptions {
    std::string file;
    int sheet = 1;
    int zoom = 100;
    int width = 1024;
    int height = 768;
    bool full = false;
    bool fixed = false;
    std::optional<int> top;
    std::optional<int> left;
    std::optional<TGridRect> select;
    std::string png;
    bool info = false;
    bool copy = false;
    std::string save;
};

struct TUsage {};

int Number(const char* text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 1000000) throw TUsage{};
    return static_cast<int>(value);
}

// "C3" -> column 3, row 3.
std::pair<int, int> CellName(const std::string& text) {
    std::size_t i = 0;
    int col = 0;
    for (; i < text.size() && text[i] >= 'A' && text[i] <= 'Z'; ++i) col = col * 26 + (text[i] - 'A' + 1);
    if (i == 0 || i == text.size()) throw TUsage{};
    return {col, Number(text.c_str() + i)};
}

TGridRect RangeName(const std::string& text) {
    const std::size_t colon = text.find(':');
    const auto [c1, r1] = CellName(text.substr(0, colon));
    const auto [c2, r2] = colon == std::string::npos ? std::pair{c1, r1} : CellName(text.substr(colon + 1));
    return {std::min(c1, c2), std::min(r1, r2), std::max(c1, c2), std::max(r1, r2)};
}

std::string RangeText(const TGridRect& r) {
    auto cell = [](int col, int row) { return Utf16ToUtf8(TKalmiraGrid::ColTitle(col)) + std::to_string(row); };
    return r.Left == r.Right && r.Top == r.Bottom ? cell(r.Left, r.Top)
                                                   : cell(r.Left, r.Top) + ":" + cell(r.Right, r.Bottom);
}

TOptions ParseOptions(int argc, char** argv) {
    if (argc < 2) throw TUsage{};
    TOptions o;
    o.file = argv[1];
    int outputs = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&] {
            if (i + 1 >= argc) throw TUsage{};
            return std::string(argv[++i]);
        };
        if (a == "--sheet") o.sheet = Number(next().c_str());
        else if (a == "--zoom") o.zoom = Number(next().c_str());
        else if (a == "--size") {
            const std::string s = next();
            const std::size_t x = s.find('x');
            if (x == std::string::npos) throw TUsage{};
            o.width = Number(s.substr(0, x).c_str());
            o.height = Number(s.substr(x + 1).c_str());
        } else if (a == "--full") o.full = true;
        else if (a == "--fixed") o.fixed = true;
        else if (a == "--top") o.top = Number(next().c_str());
        else if (a == "--left") o.left = Number(next().c_str());
        else if (a == "--select") o.select = RangeName(next());
        else if (a == "--png") o.png = next(), ++outputs;
        else if (a == "--info") o.info = true, ++outputs;
        else if (a == "--copy") o.copy = true, ++outputs;
        else if (a == "--save") o.save = next(), ++outputs;
        else throw TUsage{};
    }
    if (outputs > 1) throw TUsage{};
    return o;
}

volatile std::sig_atomic_t Terminated = 0;

void PrintInfo(TKalmiraGrid& grid) {
    std::cout << "grid\t" << grid.RowCount() << '\t' << grid.ColCount() << '\t' << grid.FixedRows() << '\t'
              << grid.FixedCols() << '\t' << grid.Col() << '\t' << grid.Row() << '\n';
    for (int c = 0; c < grid.ColCount(); ++c) std::cout << "col\t" << c << '\t' << grid.ColWidths(c) << '\n';
    for (int r = 0; r < grid.RowCount(); ++r) std::cout << "row\t" << r << '\t' << grid.RowHeights(r) << '\n';
}

}  // namespace

int main(int argc, char** argv) {
    TOptions o;
    try {
        o = ParseOptions(argc, argv);
    } catch (const TUsage&) {
        std::cerr << "usage: xlsview FILE [--sheet N] [--zoom Z] [--size WxH] [--full] [--fixed] [--top ROW] "
                     "[--left COL] [--select RANGE] [--png OUT | --info | --copy | --save OUT]\n";
        return 2;
    }
    if (!o.png.empty() || o.info) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    TXLSAdapter adapter;
    adapter.SetAllowOverwritingFiles(true);
    adapter.SetClipboard(std::make_shared<plat::TQtClipboard>());
    TKalmiraImport facade;
    facade.SetAdapter(&adapter);
    TKalmiraGrid grid;
    std::optional<std::string> failure;
    grid.OnError = [&](TKalmiraGrid&, const std::exception& e) { failure = e.what(); };
    try {
        facade.OpenFile(std::filesystem::absolute(o.file).string());
        facade.SetActiveSheet(o.sheet);
        grid.FullWorksheet = o.full;
        grid.UseFixedCells = o.fixed;
        grid.resize(o.width, o.height);
        grid.SetKalmiraImport(&facade);
        grid.show();
        grid.LoadSheet();
        grid.SetZoom(o.zoom);
        if (o.select) {
            grid.FocusCell(o.select->Left, o.select->Top);
            grid.SetSelection(*o.select);
        }
        if (o.top) grid.SetTopRow(*o.top);
        if (o.left) grid.SetLeftCol(*o.left);
        if (o.info) {
            PrintInfo(grid);
            return 0;
        }
        if (!o.png.empty()) {
            if (!grid.grab().save(QString::fromStdString(o.png), "PNG"))
                throw std::runtime_error("Can't write to file " + o.png);
            return 0;
        }
        if (o.copy) {
            grid.CopyToClipboard();
            if (failure) throw std::runtime_error(*failure);
            std::cout << "copied\t" << RangeText(grid.Selection()) << std::endl;
            std::signal(SIGTERM, [](int) { Terminated = 1; });
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [] {
                if (Terminated) QCoreApplication::quit();
            });
            poll.start(50);
            return app.exec();
        }
        grid.OnError = {};  // a window shows its failures
        const int status = app.exec();
        if (!o.save.empty()) facade.Save(o.save);
        return status;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}
