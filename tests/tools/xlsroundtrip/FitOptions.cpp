#include "tests/tools/xlsroundtrip/Options.h"

#include <dlfcn.h>

#include <charconv>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "workbook/cells/UKmrFixedPitchMeasure.h"

namespace xlsroundtrip {

namespace {

using namespace kalmira;

enum class TCanvas { Fixed, None, Qt };
TCanvas GCanvas = TCanvas::Fixed;

// The module lies beside the tool, which may be called through a link.
TKmrTextMeasureFactory LoadQtMeasure() {
    const auto path = std::filesystem::canonical("/proc/self/exe").parent_path() / "xlsroundtrip_qt.so";
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto start = module ? reinterpret_cast<TNewTextMeasure (*)()>(dlsym(module, "XlsroundtripStartQtMeasure"))
                              : nullptr;
    if (!start) throw std::runtime_error(std::string("Cannot load the Qt text measuring: ") + dlerror());
    const TNewTextMeasure make = start();
    return [make] { return std::unique_ptr<TKmrTextMeasure>(make()); };
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
    if (GCanvas == TCanvas::Qt) return LoadQtMeasure();
    return [] { return std::make_unique<TKmrFixedPitchMeasure>(); };
}

}  // namespace xlsroundtrip
