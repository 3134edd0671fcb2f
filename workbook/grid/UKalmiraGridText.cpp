// Text measuring: fonts from the workbook, rich runs, sub- and superscripts,
// rotation and the cutting of text into lines.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/grid/UKalmiraGrid.h"

namespace kalmira {

namespace {

constexpr int MaxFontPixels = 4096;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The length of the character at i: a surrogate pair is one character.
int CharLength(std::u16string_view text, std::size_t i) {
    return i + 1 < text.size() && IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1]) ? 2 : 1;
}

// n units from p, moved off the middle of a pair: back when that leaves
// something, else forward over the whole pair.
int WholeChars(std::u16string_view text, std::size_t p, int n) {
    const std::size_t end = p + static_cast<std::size_t>(n);
    if (end < text.size() && end > p && IsLowSurrogate(text[end]) && IsHighSurrogate(text[end - 1]))
        return n > 1 ? n - 1 : n + 1;
    return n;
}

// The runs of the n units from p (0-based), with the run in effect at p
// carried to the line's first character, so that a run crossing a line
// break keeps its font on the next line.
TRTFRunList LineRuns(const TRTFRunList& runs, std::size_t p, int n) {
    TRTFRunList result = TKalmiraGridText::GetRuns(runs, static_cast<int>(p) + 1, n);
    const auto before = std::find_if(runs.rbegin(), runs.rend(),
                                     [&](const TRTFRun& r) { return r.FirstChar > 0 && r.FirstChar <= p; });
    if (before != runs.rend() && (result.empty() || result.front().FirstChar != 1))
        result.insert(result.begin(), TRTFRun{1, before->FontIndex});
    return result;
}

}  // namespace

int RoundEven(long double value) { return static_cast<int>(std::nearbyintl(value)); }

void TKalmiraGridText::WideTextExtent(TCanvas& canvas, std::u16string_view text, TSize& extent) {
    extent = canvas.TextExtent(text);
}

TSubscriptData TKalmiraGridText::GetSubscriptData(std::uint8_t styleBits) {
    if (styleBits & 1u << static_cast<int>(TKmrFontStyle::fs_Subscript)) return {2.0L / 3.0L, -8};
    if (styleBits & 1u << static_cast<int>(TKmrFontStyle::fs_Superscript)) return {2.0L / 3.0L, 1.5L};
    return {1, 0};
}

long double TKalmiraGridText::SubscriptOffset(const TSubscriptData& data, TCanvas& canvas) {
    if (data.Divisor == 0) return 0;
    return canvas.TextExtent(u"Mg").cy / data.Divisor;
}

int TKalmiraGridText::FontDescent(TCanvas& canvas) { return canvas.Ascent(); }

long double TKalmiraGridText::CalcAngle(int rotation, bool& stacked) {
    stacked = rotation == 255;
    if (rotation >= 0 && rotation <= 90) return rotation * std::numbers::pi_v<long double> / 180;
    if (rotation > 90 && rotation <= 180) return (90 - rotation) * std::numbers::pi_v<long double> / 180;
    return 0;
}

void TKalmiraGridText::RotateFont(TCanvasFont& font, int rotation) {
    if (rotation >= 1 && rotation <= 90) RotateFontDirect(font, rotation * 10);
    if (rotation > 90 && rotation <= 180) RotateFontDirect(font, (90 - rotation) * 10);
}

void TKalmiraGridText::RotateFontDirect(TCanvasFont& font, int tenths) { font.Escapement = tenths; }

int TKalmiraGridText::GetFontRotation(const TCanvasFont& font) { return font.Escapement; }

void TKalmiraGridText::AssignUnrotatedFont(const TCanvasFont& source, TCanvasFont& target) {
    target = source;
    target.Escapement = 0;
}

TSavedFont TKalmiraGridText::SaveFont(const TCanvasFont& font) {
    return {font.Bold, font.Italic, font.Underline, font.StrikeOut, font.Height, font.Name, font.Color, font.Escapement};
}

void TKalmiraGridText::RestoreFont(TCanvasFont& font, const TSavedFont& saved) {
    font.Bold = saved.Bold;
    font.Italic = saved.Italic;
    font.Underline = saved.Underline;
    font.StrikeOut = saved.StrikeOut;
    font.Height = saved.Height;
    font.Name = saved.Name;
    font.Color = saved.Color;
    RotateFontDirect(font, saved.Rotation);
}

void TKalmiraGridText::LoadFont(TKalmiraImport* facade, TKalmiraGrid* grid, std::uint32_t defaultColor,
                                long double zoom, TCanvas& canvas, const TKmrFont& font) {
    // Palette entries count from 1 to 56; anything else (the automatic
    // colour among them) is the default.
    const bool paletteColour = facade != nullptr && facade->IsLoaded() && font.ColorIndex > 0 &&
                               font.ColorIndex <= TKalmiraImport::GetColorPaletteCount();
    canvas.Font.Color = paletteColour ? facade->GetColorPalette(font.ColorIndex) : defaultColor;
    std::u16string name = font.Name;
    if (grid != nullptr && grid->OnGetFontName) grid->OnGetFontName(*grid, name);
    canvas.Font.Name = name;
    const int pixels = RoundEven(font.Size20 / 20.0L * zoom * canvas.PixelsPerInch() / 72);
    canvas.Font.Height = -std::clamp(pixels, 1, MaxFontPixels);
    canvas.Font.Underline = font.Underline != TKmrUnderline::fu_None;
    canvas.Font.Bold = font.Style.Has(TKmrFontStyle::fs_Bold);
    canvas.Font.Italic = font.Style.Has(TKmrFontStyle::fs_Italic);
    canvas.Font.StrikeOut = font.Style.Has(TKmrFontStyle::fs_StrikeOut);
}

TRTFRunList TKalmiraGridText::GetRuns(const TRTFRunList& runs, int start, int count) {
    TRTFRunList result;
    for (const TRTFRun& r : runs)
        if (r.FirstChar >= start && r.FirstChar < start + count)
            result.push_back({static_cast<std::uint16_t>(r.FirstChar - start + 1), r.FontIndex});
    return result;
}

void TKalmiraGridText::CalcTextExtent(TExcelFile& workbook, TCanvas& canvas, std::u16string_view text,
                                      const TRTFRunList& runs, long double zoom, TSize& extent, int& ascent) {
    const TSavedFont saved = SaveFont(canvas.Font);
    ascent = FontDescent(canvas);
    if (runs.empty()) {
        WideTextExtent(canvas, text, extent);
        return;
    }
    auto part = [&](std::size_t from, std::size_t to) {
        from = std::min(from, text.size());
        return text.substr(from, std::max(from, std::min(to, text.size())) - from);
    };
    WideTextExtent(canvas, part(0, runs.front().FirstChar - 1u), extent);
    try {
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const std::size_t from = runs[i].FirstChar - 1u;
            const std::size_t to = i + 1 < runs.size() ? runs[i + 1].FirstChar - 1u : text.size();
            const TKmrFont font = workbook.GetFontList(runs[i].FontIndex);
            const TSubscriptData sub = GetSubscriptData(font.Style.Bits());
            LoadFont(nullptr, nullptr, 0, zoom * sub.Factor, canvas, font);
            TSize size;
            WideTextExtent(canvas, part(from, to), size);
            const int shift = RoundEven(SubscriptOffset(sub, canvas));
            extent.cx += size.cx;
            extent.cy = std::max(extent.cy, shift + size.cy);
            ascent = std::max(ascent, shift + FontDescent(canvas));
        }
    } catch (...) {
        RestoreFont(canvas.Font, saved);
        throw;
    }
    RestoreFont(canvas.Font, saved);
}

void TKalmiraGridText::SplitText(TExcelFile& workbook, TCanvas& canvas, std::u16string_view text, int width,
                                 long double zoom, bool stacked, const TRTFRunList& runs,
                                 std::vector<std::u16string>& lines, std::vector<TRTFRunList>& lineRuns,
                                 TSize& extent) {
    lines.clear();
    lineRuns.clear();
    extent = {};
    auto richWidth = [&](std::size_t p, int n) {
        TSize size;
        int ascent = 0;
        CalcTextExtent(workbook, canvas, text.substr(p, n), LineRuns(runs, p, n), zoom, size, ascent);
        return size.cx;
    };
    const int em = canvas.TextExtent(u"M").cx;
    std::size_t p = 0;
    while (p < text.size()) {
        const int rest = static_cast<int>(text.size() - p);
        int n;
        if (stacked) {
            n = CharLength(text, p);
        } else if (!runs.empty()) {
            n = std::clamp(em > 0 ? RoundEven(static_cast<long double>(width) / em) : 1, 1, rest);
            while (n > 1 && richWidth(p, n) > width) n = WholeChars(text, p, n - 1);
            // Grow while one character more still fits.
            while (n < rest) {
                const int next = n + CharLength(text, p + n);
                if (next > rest || richWidth(p, next) > width) break;
                n = next;
            }
        } else {
            // Only a prefix of about width units can fit: measuring the
            // whole rest would make long texts in narrow columns quadratic.
            const int prefix = std::min(rest, std::max(width, 0) + 2);
            n = canvas.FitCount(text.substr(p, prefix), width);
        }
        n = WholeChars(text, p, std::max(n, 1));
        if (text.substr(p, n).find(u' ') != std::u16string_view::npos)
            while (n > 1 && p + n < text.size() && text[p + n] != u' ') --n;
        n = WholeChars(text, p, n);
        while (p + n < text.size() && text[p + n] == u' ') ++n;
        std::size_t next = p + n;
        const std::size_t lf = text.substr(p, n).find(u'\n');
        if (lf != std::u16string_view::npos) {
            n = static_cast<int>(lf);
            next = p + lf + 1;
        }
        lines.emplace_back(text.substr(p, n));
        lineRuns.push_back(LineRuns(runs, p, n));
        TSize size;
        int ascent = 0;
        CalcTextExtent(workbook, canvas, lines.back(), runs.empty() ? TRTFRunList{} : lineRuns.back(), zoom, size,
                       ascent);
        extent.cx = std::max(extent.cx, size.cx);
        extent.cy = std::max(extent.cy, size.cy);
        p = next;
    }
}

}  // namespace kalmira
