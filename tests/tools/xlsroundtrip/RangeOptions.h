// The xlsroundtrip options that go through the workbook file's operations
// (TXLSFile): copied columns, merged cells, hyperlinks, column
// settings, outlines and page breaks. Sheets, rows, columns and links count
// from 1 on the command line, as the operations take them.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "workbook/api/XLSAdapter.h"

namespace xlsroundtrip {

using TFileChange = std::function<void(kalmira::TXLSFile&)>;

// At argv[i]: the change, i moved past it; none for another option. A
// malformed number or word raises std::invalid_argument.
//   --merge SHEET R1 C1 R2 C2             --unmerge SHEET R1 C1 R2 C2
//   --copy-cols SHEET FIRST LAST DEST COUNT
//   --link SHEET R1 C1 R2 C2 KIND TARGET DESCRIPTION LOCATION HINT
//          (KIND url, file, unc or workbook)
//   --col-width SHEET COL WIDTH           --col-hidden SHEET COL 0|1
//   --col-format SHEET COL XF             --outline SHEET rows|cols FIRST LAST LEVEL
//   --page-break SHEET ROW                --col-break SHEET COL
//   --mark-breaks SHEET MARK
TFileChange ParseRangeOption(char** argv, int argc, int& i);

// --merged and --links: the listing IN gives for them.
bool IsListOption(const std::string& option);

// --merged: a line per merged range, sheet by sheet in list order: sheet,
// first row, first column, last row, last column. --links: a line per
// hyperlink: sheet, first row, first column, last row, last column, kind,
// description, frame, location, target, hint. Tab-separated, UTF-8.
void PrintList(const std::string& option, kalmira::TXLSFile& file, std::ostream& out);

}  // namespace xlsroundtrip
