// Fitting row heights and column widths to the texts of a sheet's cells as
// the grid shows them: each value rendered with its number format, then
// measured in its XF's font, wrapped, stacked or rotated as the XF says.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workbook/cells/UKmrTextMeasure.h"
#include "workbook/storage/UKmrFormats.h"

namespace kalmira {

// What fitting reads and changes of a worksheet and its workbook; rows and
// columns from 0, heights in 1/20 point, widths in 1/256 of a character.
class TAutofitBook {
public:
    virtual ~TAutofitBook() = default;
    virtual int FormatCount() const = 0;
    // XF xf with its actual font.
    virtual TKmrFormat Format(int xf) const = 0;
    // A font as rich-text runs name it (the XF records' font numbering).
    virtual TKmrFont Font(int fontIndex) const = 0;
    // The value as a cell with that number format shows it.
    virtual std::u16string ShownText(const TVariant& value, const std::u16string& numberFormat) const = 0;
    virtual TXlsCellRange MergedBounds(int row, int col) const = 0;
    virtual int ColumnWidth(int col) const = 0;
    virtual void SetColumnWidth(int col, int width) = 0;
    virtual int RowHeight(int row) const = 0;
};

// The per-XF fonts of one fitting run, prepared once by InitXF so that each
// cell only picks its own.
class TAutofitCalc {
public:
    TAutofitCalc(TAutofitBook& book, TKmrTextMeasure& measure) : FBook(book), FMeasure(measure) {}
    virtual ~TAutofitCalc() = default;
    virtual void InitXF();
    TAutofitBook& Book() const { return FBook; }
    bool ValidXF(int xf) const { return xf >= 0 && static_cast<std::size_t>(xf) < FXF.size(); }
    // The value as a cell of XF xf shows it.
    std::u16string ShownText(const TVariant& value, int xf) const;

protected:
    struct TXFData {
        TKmrFont Font;
        std::u16string NumberFormat;
        bool Wrap = false;
        std::uint8_t Rotation = 0;
        std::int32_t OneLine = 255;  // 1/20 point
    };
    // The text of a cell of XF xf cut into lines of at most width pixels:
    // the block's width, and its height (the lines x the tallest line).
    struct TBlock {
        long double Width = 0, Height = 0;
        int Lines = 0;
    };
    TBlock Split(const std::u16string& text, const TKmrFontRunList& runs, int xf, long double width,
                 bool stacked) const;

    TAutofitBook& FBook;
    TKmrTextMeasure& FMeasure;
    std::vector<TXFData> FXF;
};

class TRowHeightCalc : public TAutofitCalc {
public:
    using TAutofitCalc::TAutofitCalc;
    // Also each XF's one-line height: "Mg" in its font.
    void InitXF() override;
    // 255 for an XF outside the table.
    std::int32_t OneLineHeight(int xf) const { return ValidXF(xf) ? FXF[static_cast<std::size_t>(xf)].OneLine : 255; }
    // In 1/20 point.
    std::int32_t CalcCellHeight(int row, int col, const std::u16string& text, const TKmrFontRunList& runs, int xf);
};

class TColWidthCalc : public TAutofitCalc {
public:
    using TAutofitCalc::TAutofitCalc;
    // In 1/256 of a character; 0 for no text or a cell merged over columns.
    std::int32_t CalcCellWidth(int row, int col, const std::u16string& text, const TKmrFontRunList& runs, int xf);
};

// A fitted size multiplied by an adjustment factor (one that is 1 or
// negative leaves it), rounded to the nearest whole number, and capped.
std::int32_t AdjustSize(std::int32_t size, long double adjustment, std::int32_t cap);

}  // namespace kalmira
