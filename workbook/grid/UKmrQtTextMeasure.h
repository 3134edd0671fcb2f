// The program's text measuring for fitting rows and columns: the grid's
// measuring methods on a Qt canvas, so that a fitted sheet matches what
// the grid shows.
#pragma once

#include "workbook/cells/UKmrTextMeasure.h"
#include "workbook/grid/UKmrCanvas.h"

namespace kalmira {

// Fonts at 96 pixels per inch and the zoom asked for (one that is no
// positive number counts as 1); runs measure in their own fonts (sub- and
// superscripts smaller and shifted) and lines are cut as the grid cuts
// them. Needs the application object (Qt's font database).
class TKmrQtTextMeasure : public TKmrTextMeasure {
public:
    TKmrTextSize TextExtent(const TKmrFont& font, long double zoom, std::u16string_view text,
                            const TKmrFontRunList& runs) override;
    TKmrTextLines SplitText(const TKmrFont& font, long double zoom, std::u16string_view text,
                            const TKmrFontRunList& runs, long double width, bool stacked) override;

private:
    TQtCanvas FCanvas;
};

// What the program hands the workbook adapter: a new measurer per run.
TKmrTextMeasureFactory KmrQtTextMeasureFactory();

}  // namespace kalmira
