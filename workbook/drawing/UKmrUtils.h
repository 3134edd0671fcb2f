// Placing pictures by screen pixels and matching colours to the palette,
// for any workbook that gives its sizes and palette through TKmrUtilsBook.
#pragma once

#include <cstdint>
#include <span>

#include "workbook/storage/UKmrFormats.h"

namespace kalmira {

// What these routines read and change of a workbook's active sheet and
// palette; rows and columns from 1, the workbook interface's names.
class TKmrUtilsBook {
public:
    virtual ~TKmrUtilsBook() = default;
    // In 1/256 of a character; a hidden column is 0.
    virtual std::int32_t GetColumnWidthHiddenIsZero(std::int32_t col) const = 0;
    virtual bool IsEmptyRow(std::int32_t row) const = 0;
    // In 1/20 point.
    virtual std::int32_t GetRowHeight(std::int32_t row) const = 0;
    virtual std::int32_t GetDefaultRowHeight() const = 0;
    // Palette entries 1-56, colours 0x00BBGGRR.
    virtual std::uint32_t GetColorPalette(std::int32_t index) const = 0;
    virtual void SetColorPalette(std::int32_t index, std::uint32_t color) = 0;
};

// The cells and offsets of a picture whose top-left corner lies offsets
// pixels inside cell (row, col) and that is height x width pixels. The
// anchor stays inside the sheet; a null workbook raises "There is no open
// file".
void CalcImgCells(const TKmrUtilsBook* workbook, std::int32_t row, std::int32_t col, std::int32_t dy,
                  std::int32_t dx, long double height, long double width, TImageProperties& properties);

// The offsets and size in pixels of an anchored picture.
void CalcImgDimentions(const TKmrUtilsBook* workbook, const TClientAnchor& anchor, long double& dx,
                       long double& dy, long double& width, long double& height);
// Width and height rounded to whole pixels.
void CalcImgDimentions(const TKmrUtilsBook* workbook, const TClientAnchor& anchor, long double& width,
                       long double& height);
void CalcImgDimentions(const TKmrUtilsBook* workbook, const TClientAnchor& anchor, std::int32_t& width,
                       std::int32_t& height);

// The palette entry (1-55) for a colour (0x00BBGGRR, or a system colour).
// With a used-colour array (indexed by palette entry) an exact entry is
// marked used; without one, the nearest entry is returned. Otherwise the
// nearest entry not yet used (3 on) is set to the colour and claimed; when
// all are used, the nearest of all. Only entries inside the array are
// read, marked or claimed.
std::int32_t MatchNearestColor(TKmrUtilsBook* workbook, std::uint32_t color, std::span<bool> usedColors);

// The colour of a system colour (0x80000000 or 0xFF000000 + n) from a fixed
// table; other colours without their top byte.
std::uint32_t ResolveSystemColor(std::uint32_t color);

}  // namespace kalmira
