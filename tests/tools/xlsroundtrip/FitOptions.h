// The autofit options of xlsroundtrip, on the workbook file's operations
// (numbers from 1 on the command line, FACTOR a decimal number with ".").
#pragma once

#include "tests/tools/xlsroundtrip/FormatOptions.h"
#include "workbook/cells/UKmrTextMeasure.h"

namespace xlsroundtrip {

// At argv[i], the change, i moved past it; none for anything else:
// --autofit-cols SHEET FIRST LAST FACTOR: AutofitCol (FIRST, LAST, false, FACTOR);
// --autofit-rows SHEET FIRST LAST FACTOR: AutofitRow (FIRST, LAST, true, true, FACTOR);
// --autofit-book FACTOR: AutofitRowsOnWorkbook (true, true, FACTOR);
// --canvas fixed|none chooses the text measuring the adapter hands out
// (a change doing nothing). A bad number throws std::invalid_argument.
TFileChange ParseFitOption(char** argv, int argc, int& i);

// As --canvas chose: by default a fixed pitch, the same on every machine:
// a font of em pixels (its size at 96 dpi, at least 1) advances
// round(em x 7 / 13) pixels a character and is round(em x 17 / 13) high,
// so that 10 points give 7 x 17 pixels; sub- and superscript runs measure
// at two thirds of their size. "none" gives no measuring.
kalmira::TKmrTextMeasureFactory CanvasFactory();

}  // namespace xlsroundtrip
