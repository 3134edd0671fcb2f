#include "tests/tools/xlsroundtrip/FitOptions.h"

#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string>

#include <QGuiApplication>

#include "workbook/cells/UKmrFixedPitchMeasure.h"
#include "workbook/grid/UKmrQtTextMeasure.h"

namespace xlsroundtrip {

namespace {

using namespace kalmira;

enum class TCanvas { Fixed, None, Qt };
TCanvas GCanvas = TCanvas::Fixed;

// Qt's font database needs the application object while measuring; the
// tool runs with one from then on. Measuring needs no screen: without a
// platform named, it is the offscreen one.
void StartGuiApplication() {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "xlsroundtrip";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

long double Factor(const char* text) {
    long double value = 0;
    const char* end = text + std::strlen(text);
    const auto [ptr, error] = std::from_chars(text, end, value);
    if (error != std::errc() || ptr != end) throw std::invalid_argument("factor");
    return value;
}

}  // namespace

TKmrTextMeasureFactory CanvasFactory() {
    if (GCanvas == TCanvas::None) return nullptr;
    if (GCanvas == TCanvas::Qt) {
        StartGuiApplication();
        return KmrQtTextMeasureFactory();
    }
    return [] { return std::make_unique<TKmrFixedPitchMeasure>(); };
}

TFileChange ParseFitOption(char** argv, int argc, int& i) {
    const std::string option = argv[i];
    if (option == "--canvas" && i + 2 <= argc) {
        const std::string kind = argv[i + 1];
        if (kind != "fixed" && kind != "none" && kind != "qt") throw std::invalid_argument("canvas");
        GCanvas = kind == "none" ? TCanvas::None : kind == "qt" ? TCanvas::Qt : TCanvas::Fixed;
        i += 2;
        return [](TXLSFile&) {};
    }
    if (option == "--autofit-book" && i + 2 <= argc) {
        const long double factor = Factor(argv[i + 1]);
        i += 2;
        return [factor](TXLSFile& file) { file.AutofitRowsOnWorkbook(true, true, factor); };
    }
    if ((option != "--autofit-cols" && option != "--autofit-rows") || i + 5 > argc) return nullptr;
    const int sheet = std::stoi(argv[i + 1]), first = std::stoi(argv[i + 2]), last = std::stoi(argv[i + 3]);
    const long double factor = Factor(argv[i + 4]);
    i += 5;
    if (option == "--autofit-cols")
        return [=](TXLSFile& file) {
            file.SetActiveSheet(sheet);
            file.AutofitCol(first, last, false, factor);
        };
    return [=](TXLSFile& file) {
        file.SetActiveSheet(sheet);
        file.AutofitRow(first, last, true, true, factor);
    };
}

}  // namespace xlsroundtrip
