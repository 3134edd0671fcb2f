// Text measuring without fonts, the same on every machine: for programs
// that fit rows and columns without a screen (tools, tests).
#pragma once

#include "workbook/cells/UKmrTextMeasure.h"

namespace kalmira {

// A font of em pixels (its size at 96 dpi and the zoom, rounded, 1 to 4096)
// advances round(em x 7 / 13) pixels a character and is round(em x 17 / 13)
// high: 10 points give 7 x 17 pixels, the column unit and the default row.
// Sub- and superscript runs measure at two thirds of their size. Lines are
// cut as the grid cuts them; a surrogate pair is one character.
class TKmrFixedPitchMeasure : public TKmrTextMeasure {
public:
    TKmrTextSize TextExtent(const TKmrFont& font, long double zoom, std::u16string_view text,
                            const TKmrFontRunList& runs) override;
    TKmrTextLines SplitText(const TKmrFont& font, long double zoom, std::u16string_view text,
                            const TKmrFontRunList& runs, long double width, bool stacked) override;
};

}  // namespace kalmira
