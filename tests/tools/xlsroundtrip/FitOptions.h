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
// --canvas fixed|none|qt chooses the text measuring the adapter hands out
// (a change doing nothing). A bad number throws std::invalid_argument.
TFileChange ParseFitOption(char** argv, int argc, int& i);

// As --canvas chose: by default TKmrFixedPitchMeasure (7 x 17 pixels a
// character at 10 points), the same on every machine; "none" gives none;
// "qt" the program's own (the grid's fonts through Qt), which starts a
// QGuiApplication on the platform QT_QPA_PLATFORM names (else offscreen).
kalmira::TKmrTextMeasureFactory CanvasFactory();

}  // namespace xlsroundtrip
