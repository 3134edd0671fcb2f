// The format options of xlsroundtrip, on the workbook file's own format,
// font and typed-text operations (numbers from 1 on the command line).
#pragma once

#include <functional>
#include <iosfwd>

#include "workbook/api/XLSAdapter.h"

namespace xlsroundtrip {

using TFileChange = std::function<void(kalmira::TXLSFile&)>;

// At argv[i], the change, i moved past it; none for anything else:
// --string SHEET ROW COLUMN TEXT types TEXT into the cell (SetCellString);
// --format SHEET ROW COLUMN KEY=VALUE gives the cell its format with one
// field changed (the value is all after the first "="; keys font, size,
// bold, italic, underline, color, numfmt, halign, valign, wrap, rotation,
// pattern, fg, bg, and border as STYLE/COLOUR on all four sides);
// --locale cs installs Czech settings at once, so that opening and every
// change follow them. An unknown key or value throws
// std::invalid_argument.
TFileChange ParseFormatOption(char** argv, int argc, int& i);

// --formats IN: a line per XF from 0, tab-separated: index; font name,
// size, bold, italic, underline, colour; number format; horizontal and
// vertical alignment, wrap, rotation; pattern, foreground, background;
// left, right, top and bottom borders as STYLE/COLOUR. Colours are palette
// indexes from 1. Then "used", a tab and the palette indexes in use.
void PrintFormats(kalmira::TXLSFile& file, std::ostream& out);

}  // namespace xlsroundtrip
