// The modules of xlsroundtrip: each gives a table of its change options
// (main reads the command line through the tables), its listings or its
// modes. Sheets, rows, columns and numbered things count from 1 on the
// command line.
#pragma once

#include <initializer_list>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/cells/UKmrTextMeasure.h"
#include "workbook/storage/UKmrMessages.h"

namespace xlsroundtrip {

// An option's arguments as given on the command line.
struct TArgs {
    std::vector<std::string> Text;
    int N(std::size_t k) const { return std::stoi(Text.at(k)); }
    std::u16string U(std::size_t k) const { return kalmira::Utf8ToUtf16(Text.at(k)); }
};

// A change option: its name, a letter per argument, and what it does to
// the open workbook, in command-line order. n is a number (a malformed one
// refuses the command line), t a text; s and S are the sheet number (from
// 1) made active before Run, s on the workbook file, S through the facade,
// which also selects it. Check runs as the command line is read: it
// refuses a malformed argument with std::invalid_argument, or takes effect
// at once.
struct TOption {
    const char* Name;
    const char* Kinds;
    void (*Run)(kalmira::TKalmiraImport& xls, const TArgs& a);
    void (*Check)(const TArgs& a) = nullptr;
};

using TOptionTable = std::span<const TOption>;

// The option at argv[i] in one of the tables with all its arguments, i
// moved past them and Check run; nullptr for anything else.
const TOption* ReadOption(std::initializer_list<TOptionTable> tables, char** argv, int argc, int& i, TArgs& args);

// The option's sheet made active, then its change.
void RunOption(const TOption& option, kalmira::TKalmiraImport& xls, const TArgs& args);

// The workbook file behind the facade.
kalmira::TXLSFile& File(kalmira::TKalmiraImport& xls);

// The standard output as a C++ stream, made on first use: such a stream
// brings the process's locale tables in (about half a megabyte), which a
// listing that writes plain bytes (--cells) does without.
std::ostream& Out();
// Whatever went to the standard output, through Out or not, is out: 0,
// else 1.
int FlushOut();
// A line on the standard error.
void Err(std::string_view line);

// Decimal comma, thousands by a no-break space, "d.m.yyyy", amounts as
// "12 Kč" and "-12 Kč", Czech month and day names.
kalmira::TFormatSettings CzechSettings();

// A locale source that always reports the same settings.
class TFixedSettings : public kalmira::IFormatSettingsSource {
public:
    explicit TFixedSettings(kalmira::TFormatSettings settings) : FSettings(std::move(settings)) {}
    kalmira::TFormatSettings LocaleSettings() const override { return FSettings; }

private:
    kalmira::TFormatSettings FSettings;
};

// UTF-8, with \ written \\, TAB \t, LF \n and CR \r.
std::string Escaped(const std::u16string& text);

// ---------------------------------------------------------------------------
// FormulaOptions.cpp: rows, columns, sheets and formulas through the facade.

// --copy-rows SHEET FIRST LAST DEST COUNT, --insert-rows SHEET ROW COUNT
// and --insert-cols SHEET COLUMN COUNT (empty ones before ROW, COLUMN),
// --delete-rows SHEET ROW COUNT, --delete-cols SHEET COLUMN COUNT,
// --insert-sheets FROM BEFORE COUNT (FROM 0: empty sheets),
// --delete-sheets FIRST COUNT, --set-formula SHEET ROW COLUMN TEXT,
// --add-name SCOPE NAME TEXT (SCOPE: the sheet from 1, 0 for the workbook).
extern const TOptionTable FacadeOptions;

// --formulas IN: a line per formula cell, sheets and rows in order: sheet,
// row, column, the formula's text; then a line per defined name: NAME, its
// name, its sheet (0 for the workbook), its text. Tab-separated, UTF-8.
void PrintFormulas(kalmira::TKalmiraImport& xls, std::ostream& out);

// ---------------------------------------------------------------------------
// SheetOptions.cpp: sheet names and visibility through the facade.
// --rename-sheet SHEET NAME, --sheet-visible SHEET visible|hidden|veryhidden
// (another word refuses the command line).
extern const TOptionTable SheetOptions;
// --sheets IN: a line per sheet: number, name, visibility word, the
// BOUNDSHEET option flags in decimal. Tab-separated, UTF-8.
void PrintSheets(kalmira::TKalmiraImport& xls, std::ostream& out);

// ---------------------------------------------------------------------------
// RangeOptions.cpp: copied columns, merged cells, hyperlinks, column
// settings, outlines and page breaks through the workbook file (TXLSFile).

// A malformed number or word refuses the command line.
//   --merge SHEET R1 C1 R2 C2             --unmerge SHEET R1 C1 R2 C2
//   --copy-cols SHEET FIRST LAST DEST COUNT
//   --link SHEET R1 C1 R2 C2 KIND TARGET DESCRIPTION LOCATION HINT
//          (KIND url, file, unc or workbook)
//   --col-width SHEET COL WIDTH           --col-hidden SHEET COL 0|1
//   --col-format SHEET COL XF             --outline SHEET rows|cols FIRST LAST LEVEL
//   --page-break SHEET ROW                --col-break SHEET COL
//   --mark-breaks SHEET MARK
extern const TOptionTable RangeOptions;

// --merged: a line per merged range, sheet by sheet in list order: sheet,
// first row, first column, last row, last column. --links: a line per
// hyperlink: sheet, first row, first column, last row, last column, kind,
// description, frame, location, target, hint. Tab-separated, UTF-8.
void PrintList(const std::string& option, kalmira::TXLSFile& file, std::ostream& out);

// ---------------------------------------------------------------------------
// FormatOptions.cpp: the workbook file's format, font and typed-text
// operations.

// --string SHEET ROW COLUMN TEXT types TEXT into the cell (SetCellString);
// --format SHEET ROW COLUMN KEY=VALUE gives the cell its format with one
// field changed (the value is all after the first "="; keys font, size,
// bold, italic, underline, color, numfmt, halign, valign, wrap, rotation,
// pattern, fg, bg, and border as STYLE/COLOUR on all four sides);
// --locale cs installs Czech settings at once, so that opening and every
// change follow them. An unknown key or value refuses the command line.
extern const TOptionTable FormatOptions;

// --formats IN: a line per XF from 0, tab-separated: index; font name,
// size, bold, italic, underline, colour; number format; horizontal and
// vertical alignment, wrap, rotation; pattern, foreground, background;
// left, right, top and bottom borders as STYLE/COLOUR. Colours are palette
// indexes from 1. Then "used", a tab and the palette indexes in use.
void PrintFormats(kalmira::TXLSFile& file, std::ostream& out);

// ---------------------------------------------------------------------------
// FitOptions.cpp: autofit on the workbook file (FACTOR a decimal number
// with ".").

// --autofit-cols SHEET FIRST LAST FACTOR: AutofitCol (FIRST, LAST, false, FACTOR);
// --autofit-rows SHEET FIRST LAST FACTOR: AutofitRow (FIRST, LAST, true, true, FACTOR);
// --autofit-book FACTOR: AutofitRowsOnWorkbook (true, true, FACTOR);
// --canvas fixed|none|qt chooses the text measuring the adapter hands out
// at once. A bad number refuses the command line.
extern const TOptionTable FitOptions;

// As --canvas chose: by default TKmrFixedPitchMeasure (7 x 17 pixels a
// character at 10 points), the same on every machine; "none" gives none;
// "qt" the program's own (the grid's fonts through Qt), which starts a
// QGuiApplication on the platform QT_QPA_PLATFORM names (else offscreen).
// The Qt measuring is the module xlsroundtrip_qt.so beside the tool,
// loaded only then ("Cannot load the Qt text measuring: ..." without it).
kalmira::TKmrTextMeasureFactory CanvasFactory();
// The module's XlsroundtripStartQtMeasure starts the application and gives
// this maker of measurers.
using TNewTextMeasure = kalmira::TKmrTextMeasure* (*)();

// ---------------------------------------------------------------------------
// ShapeOptions.cpp: drawings and comments on the workbook file, and the
// listings of shapes and comments.

//   --delete-picture SHEET N       DeleteImage (N in GetPicture order)
//   --row-height SHEET ROW HEIGHT (1/20 point)
//   --autofilter SHEET ROW COL1 COL2  SetAutoFilter (COL2 < COL1 removes it)
//   --comment SHEET ROW COL AUTHOR TEXT  SetCellComment (empty TEXT deletes;
//                                  "\n" a line break, "\\" a backslash)
//   --assign-comment SHEET ROW INDEX TEXT  AssignComment (INDEX from 0)
extern const TOptionTable ShapeOptions;

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

// ---------------------------------------------------------------------------
// PictureOptions.cpp: pictures through the facade, and the picture modes.

// The type comes from FILE's extension (png, jpg/jpeg, bmp, wmf, emf, any case),
// else "Unknown picture type: FILE"; ANCHOR 0-2.
//   --picture SHEET ROW COL HEIGHT WIDTH FILE   AddPicture at the cell's corner
//   --replace SHEET N FILE                      AssignPicture
//   --place SHEET N ROW COL DY DX HEIGHT WIDTH ANCHOR  AssignPictureProperties
//   --comment-box SHEET ROW COL TEXT            SetCellComment with its own box
//   --claim-color RRGGBB                        NearestColorIndex with the used
//                                               colours; the index on stdout
extern const TOptionTable PictureOptions;

// -1 for other command lines, else the exit status:
//   --pictures IN: a line per picture, worksheets in order: sheet, N, kind
//     (png, jpeg, bmp, wmf, emf, unknown), the disk image's length and MD5
//     (lower-case hex; "-" for both without one), anchor flags, the anchor
//     (col1 dx1 row1 dy1 col2 dx2 row2 dy2, rows and columns from 1), the
//     decoded size WxH ("-" when it does not decode); tab-separated.
//   --picture-file IN SHEET N OUT: the disk image.
//   --picture-pixels IN SHEET N OUT: binary PPM of the decoded raster;
//     other pictures: status 1, "Picture N is not a raster image".
int RunPictureMode(int argc, char** argv);

// ---------------------------------------------------------------------------
// TextOptions.cpp: the text modes (a failure gives status 1, the message on
// one line of standard error, and leaves OUT as it was):
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
//
// The exit status of a text mode, or -1 when argv names none.
int RunTextMode(int argc, char** argv);

}  // namespace xlsroundtrip
