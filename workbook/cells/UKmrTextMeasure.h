// How large a cell text is when the grid draws it: what fitting row heights
// and column widths asks of the program's text measuring. The engine has
// no fonts of its own: the program hands the workbook adapter a factory of
// measurers (the grid's, over the screen's fonts), and each fitting run
// takes a new one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "workbook/storage/UKmrFormats.h"

namespace kalmira {

// A part of a text in a font of its own: from character FirstChar (from 1,
// UTF-16 units) up to the next run's first character or the text's end.
struct TKmrFontRun {
    std::int32_t FirstChar = 1;
    TKmrFont Font;
};
using TKmrFontRunList = std::vector<TKmrFontRun>;

// Sizes in pixels of a 96-dpi screen.
struct TKmrTextSize {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

struct TKmrTextLines {
    std::int32_t Count = 0;  // lines the text was cut into
    TKmrTextSize Extent;     // the widest line x the tallest single line
};

class TKmrTextMeasure {
public:
    virtual ~TKmrTextMeasure() = default;
    // The text in font at zoom (1 = 100 %), the runs in their own fonts on
    // one baseline, sub- and superscripts smaller and shifted; empty: 0 x 0.
    virtual TKmrTextSize TextExtent(const TKmrFont& font, long double zoom, std::u16string_view text,
                                    const TKmrFontRunList& runs) = 0;
    // The text cut into lines of at most width pixels the way the grid
    // wraps it (at spaces, always at a line feed); stacked text takes one
    // character a line. An empty text gives no line.
    virtual TKmrTextLines SplitText(const TKmrFont& font, long double zoom, std::u16string_view text,
                                    const TKmrFontRunList& runs, long double width, bool stacked) = 0;
};

using TKmrTextMeasureFactory = std::function<std::unique_ptr<TKmrTextMeasure>()>;

// The angle in radians of an XF's text rotation: 0..90 rises by that many
// degrees, 91..180 falls by rotation - 90; 255 is stacked (angle 0);
// anything else 0.
long double CalcAngle(int rotation, bool& stacked);

}  // namespace kalmira
