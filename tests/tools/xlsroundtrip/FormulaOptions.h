// The formula listing and the row, column and sheet options of xlsroundtrip,
// through the facade (numbers from 1 on the command line).
#pragma once

#include <functional>
#include <iosfwd>

#include "workbook/api/UKalmiraImport.h"

namespace xlsroundtrip {

using TFacadeChange = std::function<void(kalmira::TKalmiraImport&)>;

// At argv[i]: --copy-rows SHEET FIRST LAST DEST COUNT, --delete-rows SHEET
// ROW COUNT, --delete-cols SHEET COLUMN COUNT, --insert-sheets FROM BEFORE
// COUNT (FROM 0: empty sheets), --delete-sheets FIRST COUNT, --set-formula
// SHEET ROW COLUMN TEXT: the change, i moved past it; none for anything
// else.
TFacadeChange ParseFacadeOption(char** argv, int argc, int& i);

// --formulas IN: a line per formula cell, sheets and rows in order: sheet,
// row, column, the formula's text; then a line per defined name: NAME, its
// name, its sheet (0 for the workbook), its text. Tab-separated, UTF-8.
void PrintFormulas(kalmira::TKalmiraImport& xls, std::ostream& out);

}  // namespace xlsroundtrip
