// The merged-cell and column-copy options of xlsroundtrip, on the sheets'
// and the workbook's own operations (numbers from 1 on the command line).
#pragma once

#include <functional>
#include <iosfwd>

#include "workbook/storage/UXlsWorkbook.h"

namespace xlsroundtrip {

using TBookChange = std::function<void(kalmira::TWorkbook&)>;

// --merge SHEET R1 C1 R2 C2, --unmerge SHEET R1 C1 R2 C2, --copy-cols SHEET
// FIRST LAST DEST COUNT at argv[i]: the change, i moved past it; none for
// anything else.
TBookChange ParseRangeOption(char** argv, int argc, int& i);

// --merged IN: a line per merged range, sheet by sheet in list order:
// sheet, first row, first column, last row, last column, tab-separated.
void PrintMerged(const kalmira::TWorkbook& book, std::ostream& out);

}  // namespace xlsroundtrip
