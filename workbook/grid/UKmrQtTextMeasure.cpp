#include "workbook/grid/UKmrQtTextMeasure.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "workbook/grid/UKalmiraGrid.h"

namespace kalmira {

namespace {

// The grid's measuring finds a run's font by its index in a workbook's font
// list: here the runs' own fonts, index i for run i.
class TRunFonts : public TExcelFile {
public:
    TRunFonts(std::u16string_view text, const TKmrFontRunList& runs) {
        // Runs past the text measure nothing; the grid's run positions are
        // 16-bit, as a cell text is never longer.
        const std::size_t last = std::min<std::size_t>(text.size(), std::numeric_limits<std::uint16_t>::max());
        for (const TKmrFontRun& run : runs) {
            if (run.FirstChar < 1 || static_cast<std::size_t>(run.FirstChar) > last) continue;
            if (!FRuns.empty() && run.FirstChar <= FRuns.back().FirstChar) continue;
            FRuns.push_back({static_cast<std::uint16_t>(run.FirstChar), static_cast<std::uint16_t>(FFonts.size())});
            FFonts.push_back(run.Font);
        }
    }
    TKmrFont GetFontList(std::int32_t index) override { return FFonts.at(static_cast<std::size_t>(index)); }
    const TRTFRunList& Runs() const { return FRuns; }

private:
    std::vector<TKmrFont> FFonts;
    TRTFRunList FRuns;
};

// The widest line a width allows: sizes are whole pixels, so the whole
// part decides; kept far from the int range the grid adds to.
int WholeWidth(long double width) {
    constexpr long double Widest = 1 << 24;
    if (std::isnan(width)) return 0;
    return static_cast<int>(std::clamp<long double>(std::floor(width), -1, Widest));
}

// A zoom the font heights can be computed with; the grid's own zooms lie
// far inside.
long double UsableZoom(long double zoom) { return std::isfinite(zoom) && zoom > 0 ? std::min(zoom, 4096.0L) : 1; }

}  // namespace

TKmrTextSize TKmrQtTextMeasure::TextExtent(const TKmrFont& font, long double zoom, std::u16string_view text,
                                           const TKmrFontRunList& runs) {
    TRunFonts fonts(text, runs);
    zoom = UsableZoom(zoom);
    TKalmiraGridText::LoadFont(nullptr, nullptr, 0, zoom, FCanvas, font);
    TSize extent;
    int ascent = 0;
    TKalmiraGridText::CalcTextExtent(fonts, FCanvas, text, fonts.Runs(), zoom, extent, ascent,
                                     TKalmiraGridText::GetSubscriptData(font.Style.Bits()));
    return {extent.cx, extent.cy};
}

TKmrTextLines TKmrQtTextMeasure::SplitText(const TKmrFont& font, long double zoom, std::u16string_view text,
                                           const TKmrFontRunList& runs, long double width, bool stacked) {
    TRunFonts fonts(text, runs);
    zoom = UsableZoom(zoom);
    TKalmiraGridText::LoadFont(nullptr, nullptr, 0, zoom, FCanvas, font);
    std::vector<std::u16string> lines;
    std::vector<TRTFRunList> lineRuns;
    TSize extent;
    TKalmiraGridText::SplitText(fonts, FCanvas, text, WholeWidth(width), zoom, stacked, fonts.Runs(), lines, lineRuns,
                                extent, TKalmiraGridText::GetSubscriptData(font.Style.Bits()));
    return {static_cast<std::int32_t>(lines.size()), {extent.cx, extent.cy}};
}

TKmrTextMeasureFactory KmrQtTextMeasureFactory() {
    return [] { return std::make_unique<TKmrQtTextMeasure>(); };
}

}  // namespace kalmira
