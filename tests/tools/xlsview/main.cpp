// xlsview FILE [--sheet N] [--zoom Z] [--size WxH] [--full] [--fixed] [--top ROW] [--left COL]
//              [--select RANGE] [--png OUT | --info | --copy | --save OUT]
//              [--pdf OUT [--pages FIRST[:LAST]] [--range RANGE] [--dpi N] [--paper WxH]]
//              [--preview P --png OUT [--preview-zoom Z]] [--print-info] [--now "YYYY-MM-DD hh:mm:ss"]
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
//   --pdf OUT   prints the sheet (or RANGE) through Print to a PDF of N dpi
//               (default 600) on a W x H inch page (default 8x11) without
//               printer margins; pages FIRST to LAST (LAST -1 or absent: to
//               the end).
//   --preview P draws PreviewPage P at zoom Z (default 100) on a white
//               image of the page's size, written by --png.
//   --print-info "print\tScale\tAcross\tDown\tPages" and
//               "extent\tMaxVisibleRow\tMaxVisibleCol\tMaxPrintableRow\tMaxPrintableCol".
//   --now       the time "&D" and "&T" show.
//   otherwise   a window for reading and editing; --save OUT saves the
//               workbook there when it closes.
//
// A failure gives status 1 and one line on standard error (OUT is not
// written); a bad command line status 2.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
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
    std::string pdf;
    int firstPage = 1;
    int lastPage = -1;
    std::optional<TGridRect> range;
    int dpi = 600;
    double paperWidth = 8;
    double paperHeight = 11;
    std::optional<int> preview;
    int previewZoom = 100;
    bool printInfo = false;
    std::optional<double> now;
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

double Inches(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value > 0 && value <= 200)) throw TUsage{};
    return value;
}

// "WxH", each part read by read.
template <class T>
void Pair(const std::string& text, T read(const char*), T& width, T& height) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos) throw TUsage{};
    width = read(text.substr(0, x).c_str());
    height = read(text.substr(x + 1).c_str());
}

// "YYYY-MM-DD hh:mm:ss" as days since 30 December 1899.
double DateTime(const std::string& text) {
    int y, mo, d, h, mi, sec;
    char tail;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &sec, &tail) != 6)
        throw TUsage{};
    using namespace std::chrono;
    const year_month_day date{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!date.ok()) throw TUsage{};
    const auto days = sys_days(date) - sys_days(year(1899) / December / 30);
    return static_cast<double>(days.count()) + (h * 3600 + mi * 60 + sec) / 86400.0;
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
        else if (a == "--size") Pair(next(), Number, o.width, o.height);
        else if (a == "--full") o.full = true;
        else if (a == "--fixed") o.fixed = true;
        else if (a == "--top") o.top = Number(next().c_str());
        else if (a == "--left") o.left = Number(next().c_str());
        else if (a == "--select") o.select = RangeName(next());
        else if (a == "--png") o.png = next(), ++outputs;
        else if (a == "--info") o.info = true, ++outputs;
        else if (a == "--copy") o.copy = true, ++outputs;
        else if (a == "--save") o.save = next(), ++outputs;
        else if (a == "--pdf") o.pdf = next(), ++outputs;
        else if (a == "--pages") {
            const std::string t = next();
            const std::size_t colon = t.find(':');
            o.firstPage = Number(t.substr(0, colon).c_str());
            if (colon != std::string::npos) {
                const std::string last = t.substr(colon + 1);
                o.lastPage = last == "-1" ? -1 : Number(last.c_str());
            }
        } else if (a == "--range") o.range = RangeName(next());
        else if (a == "--dpi") o.dpi = std::max(1, Number(next().c_str()));
        else if (a == "--paper") Pair(next(), Inches, o.paperWidth, o.paperHeight);
        else if (a == "--preview") o.preview = Number(next().c_str());
        else if (a == "--preview-zoom") o.previewZoom = Number(next().c_str());
        else if (a == "--print-info") o.printInfo = true, ++outputs;
        else if (a == "--now") o.now = DateTime(next());
        else throw TUsage{};
    }
    if (outputs > 1) throw TUsage{};
    return o;
}

volatile std::sig_atomic_t Terminated = 0;

int SavePng(const QImage& image, const std::string& name) {
    if (!image.save(QString::fromStdString(name), "PNG")) throw std::runtime_error("Can't write to file " + name);
    return 0;
}

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
                     "[--left COL] [--select RANGE] [--png OUT | --info | --copy | --save OUT] "
                     "[--pdf OUT [--pages FIRST[:LAST]] [--range RANGE] [--dpi N] [--paper WxH]] "
                     "[--preview P [--preview-zoom Z]] [--print-info] [--now TIME]\n";
        return 2;
    }
    if (!o.png.empty() || o.info || !o.pdf.empty() || o.printInfo) setenv("QT_QPA_PLATFORM", "offscreen", 1);
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
        if (o.now) grid.OnNow = [t = *o.now] { return t; };
        // The process's printer: a PDF of the asked resolution and paper,
        // its printable area the whole paper.
        QPrinter& printer = Printer().Device();
        printer.setResolution(o.dpi);
        printer.setPageLayout(QPageLayout(QPageSize(QSizeF(o.paperWidth, o.paperHeight), QPageSize::Inch),
                                          QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(o.pdf.empty() ? std::string("/dev/null") : o.pdf + ".part"));
        const std::optional<TXlsCellRange> range =
            o.range ? std::optional<TXlsCellRange>({o.range->Left, o.range->Top, o.range->Right, o.range->Bottom})
                    : std::nullopt;
        // The range asked for, else all that prints.
        const TXlsCellRange r = range.value_or(TXlsCellRange{1, 1, grid.GetMaxPrintableCol(), grid.GetMaxPrintableRow()});
        if (o.printInfo) {
            const TPrintParams p = grid.CalcPrintParams(r);
            int across = 1;
            int down = 1;
            if (r.Right >= r.Left && r.Bottom >= r.Top) grid.InternalCalcNumberOfPrintingPages(r, across, down, p);
            int pages = 0;
            grid.CalcNumberOfPrintingPages(r, pages);
            std::cout << "print\t" << p.Scale << '\t' << across << '\t' << down << '\t' << pages << '\n';
            std::cout << "extent\t" << grid.GetMaxVisibleRow() << '\t' << grid.GetMaxVisibleCol() << '\t'
                      << grid.GetMaxPrintableRow() << '\t' << grid.GetMaxPrintableCol() << '\n';
            return 0;
        }
        if (!o.pdf.empty()) {
            const QString part = QString::fromStdString(o.pdf + ".part");
            try {
                if (range)
                    grid.Print(*range, o.firstPage, o.lastPage);
                else
                    grid.Print(o.firstPage, o.lastPage);
            } catch (...) {
                QFile::remove(part);
                throw;
            }
            QFile::remove(QString::fromStdString(o.pdf));
            if (!QFile::rename(part, QString::fromStdString(o.pdf)))
                throw std::runtime_error("Can't write to file " + o.pdf);
            return 0;
        }
        if (o.preview) {
            if (o.png.empty()) throw std::runtime_error("--preview needs --png");
            const long double d = o.previewZoom / 100.0L * 96 / o.dpi;
            QImage image(std::max(1, RoundEven(Printer().PageWidth() * d)),
                         std::max(1, RoundEven(Printer().PageHeight() * d)), QImage::Format_RGB32);
            image.fill(Qt::white);
            {
                QPainter painter(&image);
                TQtCanvas canvas(&painter);
                grid.PreviewPage(r, *o.preview, canvas, o.previewZoom);
            }
            return SavePng(image, o.png);
        }
        if (!o.png.empty()) return SavePng(grid.grab().toImage(), o.png);
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
