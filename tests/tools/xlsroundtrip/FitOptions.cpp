#include "tests/tools/xlsroundtrip/Options.h"

#include <charconv>
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

long double Factor(const std::string& text) {
    long double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || ptr != end) throw std::invalid_argument("factor");
    return value;
}

void CheckFactor(const TArgs& a) { Factor(a.Text.back()); }

const TOption Options[] = {
    {"--canvas", "t", nullptr,
     [](const TArgs& a) {
         const std::string& kind = a.Text[0];
         if (kind != "fixed" && kind != "none" && kind != "qt") throw std::invalid_argument("canvas");
         GCanvas = kind == "none" ? TCanvas::None : kind == "qt" ? TCanvas::Qt : TCanvas::Fixed;
     }},
    {"--autofit-book", "t",
     [](TKalmiraImport& x, const TArgs& a) { File(x).AutofitRowsOnWorkbook(true, true, Factor(a.Text[0])); },
     CheckFactor},
    {"--autofit-cols", "snnt",
     [](TKalmiraImport& x, const TArgs& a) { File(x).AutofitCol(a.N(1), a.N(2), false, Factor(a.Text[3])); },
     CheckFactor},
    {"--autofit-rows", "snnt",
     [](TKalmiraImport& x, const TArgs& a) { File(x).AutofitRow(a.N(1), a.N(2), true, true, Factor(a.Text[3])); },
     CheckFactor},
};

}  // namespace

const TOptionTable FitOptions = Options;

TKmrTextMeasureFactory CanvasFactory() {
    if (GCanvas == TCanvas::None) return nullptr;
    if (GCanvas == TCanvas::Qt) {
        StartGuiApplication();
        return KmrQtTextMeasureFactory();
    }
    return [] { return std::make_unique<TKmrFixedPitchMeasure>(); };
}

}  // namespace xlsroundtrip
