// The drawing and comment options of xlsroundtrip, on the workbook file's
// operations (numbers from 1 on the command line), and the listings of
// shapes and comments.
#pragma once

#include <functional>
#include <iosfwd>

#include "tests/tools/xlsroundtrip/RangeOptions.h"

namespace xlsroundtrip {

// At argv[i], i moved past the option; none for anything else:
//   --delete-picture SHEET N       DeleteImage (N in GetPicture order)
//   --row-height SHEET ROW HEIGHT (1/20 point)
//   --autofilter SHEET ROW COL1 COL2  SetAutoFilter (COL2 < COL1 removes it)
//   --comment SHEET ROW COL AUTHOR TEXT  SetCellComment (empty TEXT deletes;
//                                  "\n" a line break, "\\" a backslash)
//   --assign-comment SHEET ROW INDEX TEXT  AssignComment (INDEX from 0)
TFileChange ParseShapeOption(char** argv, int argc, int& i);

// --shapes IN: a line per shape but patriarchs, worksheets in order, shapes
// in tree order: sheet, shape id, kind, anchor flags, first row, first
// column, last row, last column (rows and columns from 1; "-" without a
// client anchor), tab-separated.
void PrintShapes(const kalmira::TWorkbook& book, std::ostream& out);

// --comments IN: a line per note, worksheets in order, rows ascending, then
// by column: sheet, row, column (from 1), author, runs ("first:font,..." as
// stored, the closing run at the text's length left out; "-" for a note
// without comment box), text; tab-separated, UTF-8, with \, tab, LF and CR
// written \\, \t, \n, \r.
void PrintComments(const kalmira::TWorkbook& book, std::ostream& out);

}  // namespace xlsroundtrip
