#include "tests/tools/xlsroundtrip/FitOptions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace xlsroundtrip {

namespace {

using namespace kalmira;

class TFixedPitchMeasure : public TKmrTextMeasure {
public:
    TKmrTextSize TextExtent(const TKmrFont& font, long double zoom, std::u16string_view text,
                            const TKmrFontRunList& runs) override {
        return Extent(font, zoom, runs, 0, text.size());
    }

    TKmrTextLines SplitText(const TKmrFont& font, long double zoom, std::u16string_view text,
                            const TKmrFontRunList& runs, long double width, bool stacked) override {
        TKmrTextLines lines;
        for (std::size_t p = 0; p < text.size();) {
            std::size_t n = 1;
            while (!stacked && p + n < text.size() && Extent(font, zoom, runs, p, n + 1).Width <= width) ++n;
            if (text.substr(p, n).find(u' ') != std::u16string_view::npos)
                while (n > 1 && p + n < text.size() && text[p + n] != u' ') --n;
            while (!stacked && p + n < text.size() && text[p + n] == u' ') ++n;
            std::size_t next = p + n;
            if (const auto lf = text.substr(p, n).find(u'\n'); lf != std::u16string_view::npos) {
                n = lf;
                next = p + lf + 1;
            }
            const TKmrTextSize line = Extent(font, zoom, runs, p, n);
            lines.Extent = {std::max(lines.Extent.Width, line.Width), std::max(lines.Extent.Height, line.Height)};
            ++lines.Count;
            p = next;
        }
        return lines;
    }

private:
    // Characters first..first + count - 1, each in the font of its run.
    static TKmrTextSize Extent(const TKmrFont& font, long double zoom, const TKmrFontRunList& runs,
                               std::size_t first, std::size_t count) {
        TKmrTextSize size;
        for (std::size_t i = first; i < first + count; ++i) {
            const TKmrFont* in = &font;
            for (const TKmrFontRun& run : runs)
                if (static_cast<std::size_t>(run.FirstChar) <= i + 1) in = &run.Font;
            const bool small = in != &font && (in->Style.Has(TKmrFontStyle::fs_Subscript) ||
                                               in->Style.Has(TKmrFontStyle::fs_Superscript));
            const long double em =
                std::max(1.0L, std::nearbyint(in->Size20 / 20.0L * zoom * (small ? 2.0L / 3 : 1) * 96 / 72));
            size.Width += static_cast<std::int32_t>(std::nearbyint(em * 7 / 13));
            size.Height = std::max(size.Height, static_cast<std::int32_t>(std::nearbyint(em * 17 / 13)));
        }
        return size;
    }
};

bool GCanvasNone = false;

long double Factor(const char* text) {
    std::size_t used = 0;
    const long double value = std::stold(text, &used);
    if (used != std::strlen(text)) throw std::invalid_argument("factor");
    return value;
}

}  // namespace

TKmrTextMeasureFactory CanvasFactory() {
    if (GCanvasNone) return nullptr;
    return [] { return std::make_unique<TFixedPitchMeasure>(); };
}

TFileChange ParseFitOption(char** argv, int argc, int& i) {
    const std::string option = argv[i];
    if (option == "--canvas" && i + 2 <= argc) {
        const std::string kind = argv[i + 1];
        if (kind != "fixed" && kind != "none") throw std::invalid_argument("canvas");
        GCanvasNone = kind == "none";
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
