// xlsroundtrip's text modes (numbers from 1; a failure gives status 1, the
// message on one line of standard error, and leaves OUT as it was):
//
// --shown IN [--locale L]: every cell holding a value as its number format
//   shows it: SHEET<TAB>ROW<TAB>COLUMN<TAB>TEXT<TAB>COLOUR, TEXT in UTF-8
//   with \ as \\, TAB as \t, LF as \n, CR as \r; COLOUR "-" when the
//   section names none, else RRGGBB in upper-case hexadecimal.
// --save-text IN OUT SEP [--sheet N] [--encoding utf-8|cp1250] [--locale L]:
//   sheet N (default the stored active one) as delimited text; SEP is ",",
//   ";" or "tab".
// --open-text IN OUT SEP [--types LETTERS] [--encoding ...] [--locale L]:
//   IN read as delimited text into a new workbook, one of g (general),
//   t (text), s (skip) per column, saved as a workbook to OUT.
// --locale en-US|cs-CZ (default en-US): fixed settings, both as the
//   engine's locale source and as the process settings.
#pragma once

namespace xlsroundtrip {

// The exit status of a text mode, or -1 when argv names none.
int RunTextMode(int argc, char** argv);

}  // namespace xlsroundtrip
