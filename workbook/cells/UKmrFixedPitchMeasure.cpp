#include "workbook/cells/UKmrFixedPitchMeasure.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kalmira {

namespace {

struct TCharSize {
    std::int32_t Advance = 0;  // 0 for the second half of a surrogate pair
    std::int32_t Height = 0;
};

std::int32_t Pixels(long double value) { return static_cast<std::int32_t>(std::nearbyint(value)); }

TCharSize SizeIn(const TKmrFont& font, long double zoom) {
    const long double em = std::clamp<long double>(std::nearbyint(font.Size20 / 20.0L * zoom * 96 / 72), 1, 4096);
    return {Pixels(em * 7 / 13), Pixels(em * 17 / 13)};
}

bool IsSecondHalf(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Each UTF-16 unit's size in the font of its run, computed once, so that
// cutting a long text into lines stays linear.
std::vector<TCharSize> CharSizes(const TKmrFont& font, long double zoom, std::u16string_view text,
                                 const TKmrFontRunList& runs) {
    std::vector<TCharSize> sizes(text.size(), SizeIn(font, zoom));
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const bool small = runs[r].Font.Style.Has(TKmrFontStyle::fs_Subscript) ||
                           runs[r].Font.Style.Has(TKmrFontStyle::fs_Superscript);
        const TCharSize size = SizeIn(runs[r].Font, small ? zoom * 2 / 3 : zoom);
        const std::size_t first = static_cast<std::size_t>(std::max(runs[r].FirstChar, 1) - 1);
        const std::size_t end = r + 1 < runs.size() ? static_cast<std::size_t>(std::max(runs[r + 1].FirstChar, 1) - 1)
                                                    : text.size();
        for (std::size_t i = first; i < std::min(end, text.size()); ++i) sizes[i] = size;
    }
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i > 0 && IsSecondHalf(text[i])) sizes[i].Advance = 0;
    return sizes;
}

TKmrTextSize Extent(const std::vector<TCharSize>& sizes, std::size_t first, std::size_t count) {
    TKmrTextSize extent;
    for (std::size_t i = first; i < first + count; ++i)
        extent = {extent.Width + sizes[i].Advance, std::max(extent.Height, sizes[i].Height)};
    return extent;
}

// Units of the character at i: 2 for a surrogate pair.
std::size_t CharLength(std::u16string_view text, std::size_t i) {
    return i + 1 < text.size() && IsSecondHalf(text[i + 1]) ? 2 : 1;
}

}  // namespace

TKmrTextSize TKmrFixedPitchMeasure::TextExtent(const TKmrFont& font, long double zoom, std::u16string_view text,
                                               const TKmrFontRunList& runs) {
    return Extent(CharSizes(font, zoom, text, runs), 0, text.size());
}

TKmrTextLines TKmrFixedPitchMeasure::SplitText(const TKmrFont& font, long double zoom, std::u16string_view text,
                                               const TKmrFontRunList& runs, long double width, bool stacked) {
    const std::vector<TCharSize> sizes = CharSizes(font, zoom, text, runs);
    TKmrTextLines lines;
    for (std::size_t p = 0; p < text.size();) {
        // The most whole characters that fit, at least one.
        std::size_t n = CharLength(text, p);
        for (std::int32_t w = Extent(sizes, p, n).Width; !stacked && p + n < text.size();) {
            const std::size_t next = CharLength(text, p + n);
            w += Extent(sizes, p + n, next).Width;
            if (w > width) break;
            n += next;
        }
        // Back to the last space, then every space that follows.
        if (!stacked && text.substr(p, n).find(u' ') != std::u16string_view::npos)
            while (n > 1 && p + n < text.size() && text[p + n] != u' ') --n;
        while (!stacked && p + n < text.size() && text[p + n] == u' ') ++n;
        std::size_t next = p + n;
        if (const auto lf = text.substr(p, n).find(u'\n'); lf != std::u16string_view::npos) n = lf, next = p + lf + 1;
        const TKmrTextSize line = Extent(sizes, p, n);
        lines.Extent = {std::max(lines.Extent.Width, line.Width), std::max(lines.Extent.Height, line.Height)};
        ++lines.Count;
        p = next;
    }
    return lines;
}

}  // namespace kalmira
