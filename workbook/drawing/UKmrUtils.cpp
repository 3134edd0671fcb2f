#include "workbook/drawing/UKmrUtils.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

constexpr std::int32_t MaxRow = 65536;
constexpr std::int32_t MaxCol = 256;

long double RoundEven(long double v) {
    const long double f = std::floor(v);
    const long double diff = v - f;
    if (diff > 0.5L) return f + 1;
    if (diff < 0.5L) return f;
    return std::fmod(f, 2.0L) == 0 ? f : f + 1;
}

std::int32_t RoundToInt(long double v) {
    return static_cast<std::int32_t>(std::clamp<long double>(RoundEven(v), INT32_MIN, INT32_MAX));
}

long double ColPx(const TKmrUtilsBook& book, std::int32_t col) { return book.GetColumnWidthHiddenIsZero(col) / ColMult; }

long double RowPx(const TKmrUtilsBook& book, std::int32_t row) {
    return (book.IsEmptyRow(row) ? book.GetDefaultRowHeight() : book.GetRowHeight(row)) / RowMult;
}

// An offset in 1/units of a cell: 0 in a cell under one pixel, never
// outside the cell.
std::int32_t CellOffset(long double pixels, long double cellPx, std::int32_t units) {
    if (cellPx < 1) return 0;
    return std::clamp(RoundToInt(pixels * units / cellPx), 0, units);
}

// Steps 3 and 6/7 along one axis: where the start and the end fall.
struct TAxis {
    std::int64_t First;
    std::int32_t FirstOffset;
    std::int64_t Last;
    std::int32_t LastOffset;
};

// The sizes are asked for cells 0 to maxCell: past the sheet's end the
// last cell's size goes on. The start stops one past the end, and the end
// at most a sheet's length after the start, so that hidden cells cannot
// keep the loops going; step 8 brings both back inside.
template <class Size>
TAxis PlaceAxis(std::int64_t cell, long double offset, long double extent, std::int32_t maxCell, std::int32_t units,
                Size sheetSize) {
    const auto size = [&](std::int64_t c) { return sheetSize(std::clamp<std::int64_t>(c, 0, maxCell)); };
    const std::int64_t stop = std::int64_t(maxCell) + 1;
    while (cell < stop && offset > size(cell)) {
        offset -= size(cell);
        ++cell;
    }
    if (cell < 1) {
        cell = 1;
        offset = 0;
    }
    TAxis axis{cell, CellOffset(offset, size(cell), units), cell, 0};
    long double reach = size(cell) - offset;
    while (axis.Last - axis.First < maxCell && extent > RoundEven(reach)) {
        ++axis.Last;
        reach += size(axis.Last);
    }
    const long double lastPx = size(axis.Last);
    axis.LastOffset = CellOffset(lastPx - (reach - extent), lastPx, units);
    if (axis.Last > maxCell) {
        axis.First = maxCell - (axis.Last - axis.First);
        axis.Last = maxCell;
    }
    axis.First = std::max<std::int64_t>(axis.First, 1);
    return axis;
}

}  // namespace

void CalcImgCells(const TKmrUtilsBook* workbook, std::int32_t row, std::int32_t col, std::int32_t dy,
                  std::int32_t dx, long double height, long double width, TImageProperties& properties) {
    if (!workbook) Raise(ErrNoOpenFile);
    properties = TImageProperties{};
    const auto rowPx = [&](std::int64_t r) { return RowPx(*workbook, static_cast<std::int32_t>(r)); };
    const auto colPx = [&](std::int64_t c) { return ColPx(*workbook, static_cast<std::int32_t>(c)); };
    const TAxis rows = PlaceAxis(row, dy, height, MaxRow, 255, rowPx);
    const TAxis cols = PlaceAxis(col, dx, width, MaxCol, 1024, colPx);
    properties.Row1 = static_cast<std::int32_t>(rows.First);
    properties.Dy1 = rows.FirstOffset;
    properties.Row2 = static_cast<std::int32_t>(rows.Last);
    properties.Dy2 = rows.LastOffset;
    properties.Col1 = static_cast<std::int32_t>(cols.First);
    properties.Dx1 = cols.FirstOffset;
    properties.Col2 = static_cast<std::int32_t>(cols.Last);
    properties.Dx2 = cols.LastOffset;
}

void CalcImgDimentions(const TKmrUtilsBook* workbook, const TClientAnchor& anchor, long double& dx,
                       long double& dy, long double& width, long double& height) {
    if (!workbook) Raise(ErrNoOpenFile);
    width = 0;
    for (std::int32_t c = anchor.Col1; c < anchor.Col2; ++c) width += ColPx(*workbook, c);
    dx = ColPx(*workbook, anchor.Col1) * anchor.Dx1 / 1024;
    width = width - dx + ColPx(*workbook, anchor.Col2) * anchor.Dx2 / 1024;
    height = 0;
    for (std::int32_t r = anchor.Row1; r < anchor.Row2; ++r) height += RowPx(*workbook, r);
    dy = RowPx(*workbook, anchor.Row1) * anchor.Dy1 / 255;
    height = height - dy + RowPx(*workbook, anchor.Row2) * anchor.Dy2 / 255;
}

void CalcImgDimentions(const TKmrUtilsBook* workbook, const TClientAnchor& anchor, long double& width,
                       long double& height) {
    long double dx, dy;
    CalcImgDimentions(workbook, anchor, dx, dy, width, height);
    width = RoundEven(width);
    height = RoundEven(height);
}

void CalcImgDimentions(const TKmrUtilsBook* workbook, const TClientAnchor& anchor, std::int32_t& width,
                       std::int32_t& height) {
    long double w, h;
    CalcImgDimentions(workbook, anchor, w, h);
    width = RoundToInt(w);
    height = RoundToInt(h);
}

namespace {

// The classic defaults of the window system's colour slots, 0x00BBGGRR.
constexpr std::array<std::uint32_t, 31> SystemColors = {
    0xC8C8C8, 0x000000, 0xD1B499, 0xDBCDBF, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000, 0x000000, 0x000000, 0xB4B4B4,
    0xFCF7F4, 0xABABAB, 0xD77800, 0xFFFFFF, 0xF0F0F0, 0xA0A0A0, 0x6D6D6D, 0x000000, 0x000000, 0xFFFFFF, 0x696969,
    0xE3E3E3, 0x000000, 0xE1FFFF, 0x000000, 0xCC6600, 0xEAD1B9, 0xF2E4D7, 0xFF9933, 0xF0F0F0};

std::uint32_t Distance(std::uint32_t a, std::uint32_t b) {
    std::uint32_t d = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int diff = int(a >> shift & 0xFF) - int(b >> shift & 0xFF);
        d += static_cast<std::uint32_t>(diff * diff);
    }
    return d;
}

constexpr std::int32_t LastMatched = 55;  // entry 56 is never examined

}  // namespace

std::uint32_t ResolveSystemColor(std::uint32_t color) {
    // System colours carry 0x80 or 0xFF in the top byte and the slot below.
    const std::uint32_t top = color >> 24;
    if (top != 0x80 && top != 0xFF) return color & 0xFFFFFF;
    const std::uint32_t slot = color & 0xFF;
    return slot < SystemColors.size() ? SystemColors[slot] : 0;
}

std::int32_t MatchNearestColor(TKmrUtilsBook* workbook, std::uint32_t color, std::span<bool> usedColors) {
    if (!workbook) Raise(ErrNoOpenFile);
    const std::uint32_t target = ResolveSystemColor(color);
    const auto inside = [&](std::int32_t i) { return i >= 0 && static_cast<std::size_t>(i) < usedColors.size(); };
    const auto mark = [&](std::int32_t i) {
        if (inside(i)) usedColors[static_cast<std::size_t>(i)] = true;
    };
    // The nearest entry among those taken (ties: the lower index); an exact
    // one is marked and ends the search.
    struct TFound {
        std::int32_t Index = 1;
        std::optional<std::uint32_t> Dist;
        bool Exact = false;
    };
    const auto search = [&](auto&& candidate) {
        TFound found;
        for (std::int32_t i = 1; i <= LastMatched; ++i) {
            if (!candidate(i)) continue;
            const std::uint32_t d = Distance(workbook->GetColorPalette(i) & 0xFFFFFF, target);
            if (!found.Dist || d < *found.Dist) {
                found.Index = i;
                found.Dist = d;
                if (d == 0) {
                    found.Exact = true;
                    mark(i);
                    return found;
                }
            }
        }
        return found;
    };

    const TFound nearest = search([](std::int32_t) { return true; });
    if (nearest.Exact || usedColors.empty()) return nearest.Index;
    for (std::int32_t i = 0; i <= 2; ++i) mark(i);  // entries 1 and 2 are never taken over
    const TFound free = search([&](std::int32_t i) { return inside(i) && !usedColors[static_cast<std::size_t>(i)]; });
    if (free.Exact) return free.Index;
    if (!free.Dist) {
        mark(nearest.Index);
        return nearest.Index;
    }
    workbook->SetColorPalette(free.Index, target);
    mark(free.Index);
    return free.Index;
}

}  // namespace kalmira
