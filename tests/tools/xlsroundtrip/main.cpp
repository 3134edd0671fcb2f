// xlsroundtrip IN OUT [--label SHEET ROW COLUMN TEXT]... [--rich SHEET ROW COLUMN TEXT RUNS]...
//                     [--formula ROW COLUMN VALUE]... [--name NUMBER R1 R2 C1 C2]...
//                     [--set-formula SHEET ROW COLUMN TEXT]... [--settings fit|scale]
//                     [--merge SHEET R1 C1 R2 C2]... [--unmerge SHEET R1 C1 R2 C2]...
//                     [--copy-cols SHEET FIRST LAST DEST COUNT]... and the options of Options.h
//                     [--copy-rows SHEET FIRST LAST DEST COUNT]... [--delete-rows SHEET ROW COUNT]...
//                     [--insert-rows SHEET ROW COUNT]... [--insert-cols SHEET COLUMN COUNT]...
//                     [--delete-cols SHEET COLUMN COUNT]... [--insert-sheets FROM BEFORE COUNT]...
//                     [--delete-sheets FIRST COUNT]... [--rename-sheet SHEET NAME]...
//                     [--sheet-visible SHEET visible|hidden|veryhidden]...
//                     [--locale cs] [--string SHEET ROW COLUMN TEXT]... [--format SHEET ROW COLUMN KEY=VALUE]...
//                     [--canvas fixed|none|qt] [--autofit-cols SHEET FIRST LAST FACTOR]...
//                     [--autofit-rows SHEET FIRST LAST FACTOR]... [--autofit-book FACTOR]...
// xlsroundtrip --cells IN
// xlsroundtrip --merged IN
// xlsroundtrip --sheets IN
// xlsroundtrip --links IN
// xlsroundtrip --formulas IN
// xlsroundtrip --formats IN
// xlsroundtrip --shapes IN
// xlsroundtrip --comments IN
// xlsroundtrip --pictures IN, --picture-file|--picture-pixels IN SHEET N OUT
// xlsroundtrip --shown|--save-text|--open-text ... (Options.h)
//
// Opens IN (made absolute) with OpenFile of the facade, linked to a
// TXLSAdapter that allows overwriting, and writes it to OUT with the
// facade's Save: the "Workbook" stream loads into the
// engine's workbook, which saves it into a copy of the container (every
// other stream copied). The globals are written in their
// order (the record list as read, the sheet directory, references, names,
// drawing group), the shared strings come out of the string table sorted
// and rebuilt (with a new EXTSST); every sheet loads into its class
// (worksheet, chart sheet, or a sheet held as records) and is written in
// its order: a worksheet's ROW and cell records go through the cell
// storage, which writes its DIMENSIONS, ROW blocks and cells anew; index
// and cache records are dropped, and every BOUNDSHEET gets the offset of
// its sheet from the computed sizes. --label and --rich set, through the
// facade, the text cell at SHEET, ROW, COLUMN (from 1) to a new text;
// RUNS is "first:font,first:font..." (first characters from 0). What the
// facade cannot express (a chosen cached value, a name's area, the
// settings, merges and copies) reaches the model through the workbook
// object. A file the engine cannot read gives
// exit status 1 and the engine's message on one line of standard error;
// OUT is then not created.
//
// --formula places =7 at ROW, COLUMN (from 1) of the first worksheet
// through the cell storage, cached as VALUE: n:NUMBER, b:0|1, e:CODE,
// s:TEXT, w:COUNT (as many 16-bit characters), a:COUNT (as many 8-bit
// ones). --name gives the name NUMBER (from 1) the area R1..R2, C1..C2
// (from 0). --set-formula parses TEXT as a user types it ("=SUM(A1:A3)*2")
// into the cell at ROW, COLUMN of sheet SHEET (from 1) through the facade;
// a refused text gives status 1 and the parser's message, and OUT is not
// created. --copy-rows, --insert-rows, --insert-cols, --delete-rows,
// --delete-cols, --insert-sheets and --delete-sheets change rows, columns
// and sheets through the facade
// (Options.h), every sheet's references and the names following.
//
// --settings changes the settings of the workbook (through the globals)
// and of its first sheet through the sheet's setters, so that other programs can tell whether
// they see them: 1904 dates, R1C1 references, zoom 150 (a new SCL behind
// WINDOW2 when missing), margins, header and footer, paper, scale 80, copies, fit to
// 2 x 3 pages, printed grid lines and centring; "fit" also turns fitting
// to pages on, which hides the scale from other programs.
//
// --merge, --unmerge, --copy-cols, --link, --col-width, --col-hidden,
// --col-format, --outline, --page-break, --col-break and --mark-breaks go
// through the workbook file's operations of the same names (numbers from 1,
// in command-line order; Options.h); a refused change gives status 1
// and its message, and OUT is not created. --merged and --links print IN's
// merged ranges and hyperlinks. The drawing, comment and picture options,
// --shapes, --comments and the picture modes are in Options.h too.
//
// --autofit-cols, --autofit-rows and --autofit-book fit columns and rows
// through the workbook file, measured as --canvas chooses (Options.h).
//
// --formulas prints every formula as text and every defined name
// (Options.h).
//
// --cells prints every value cell of IN as the facade reads it (rows up to
// GetMaxRow, each row's used cells), one a line: sheet index, row and
// column (from 1), a tab between, then the value: numbers in the shortest
// text that reads back to the same double, texts as UTF-8, TRUE/FALSE,
// error texts.
//
// OUT is replaced only by a complete file: a failed save (status 1, the
// engine's message) leaves an existing OUT as it was and creates none.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <filesystem>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"
#include "tests/tools/xlsroundtrip/Options.h"
#include "workbook/cells/UXlsFormula.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/UXlsWorkbook.h"
#include "workbook/storage/XlsMessages.h"

namespace {

using namespace kalmira;
using namespace xlsroundtrip;

TWorkbook& Model(TKalmiraImport& xls) { return File(xls).GetTWorkbook(); }

// On the first worksheet.
void PlaceFormula(TWorkbook& book, int row, int column, const TVariant& value) {
    int sheet = 0;
    while (sheet < book.SheetCount() && !book.IsWorksheet(sheet)) ++sheet;
    if (sheet == book.SheetCount()) throw Exception("no worksheet");
    const std::uint8_t tokens[] = {0x1E, 7, 0};
    book.WorkSheets(sheet).Cells().CellList().AssignFormulaX(row - 1, column - 1, tokens, value,
                                                             book.Globals().GetIs1904());
}

// Name NUMBER (from 1) gets the area R1..R2, C1..C2.
void SetNameArea(TWorkbook& book, const TArgs& a) {
    TNameRecordList& names = book.Globals().Names();
    if (a.N(0) < 1 || static_cast<std::size_t>(a.N(0)) > names.Count()) throw Exception("no such name");
    TNameRecord* name = names.GetItems(static_cast<std::size_t>(a.N(0) - 1));
    names.Resize(*name, [&] {
        name->SetR1(a.N(1));
        name->SetR2(a.N(2));
        name->SetC1(a.N(3));
        name->SetC2(a.N(4));
    });
}

void ChangeSettings(TWorkbook& book, bool fitToPage) {
    if (book.SheetCount() == 0) Raise(ErrExcelInvalid);
    book.Globals().SetIs1904(true);
    TSheet& sheet = book.Sheet(0);
    sheet.SetIsR1C1(true);
    sheet.SetMargins({.Left = 1.25, .Top = 1.5, .Right = 0.5, .Bottom = 0.75, .Header = 0.375, .Footer = 0.625});
    sheet.SetPageHeader(u"&LOdečty &P");
    sheet.SetPageFooter(u"&RByt");
    sheet.SetPrintPaperSize(8);
    sheet.SetPrintScale(80);
    sheet.SetPrintCopies(2);
    sheet.SetPrintNumberOfHorizontalPages(2);
    sheet.SetPrintNumberOfVerticalPages(3);
    sheet.SetPrintGridLines(true);
    sheet.SetPrintHCentered(true);
    sheet.SetPrintVCentered(true);
    sheet.SetPrintToFit(fitToPage);
    sheet.SetSheetZoom(150);
}

// A text cell of the active sheet gets the new text and runs, keeping its format.
void SetLabel(TKalmiraImport& xls, int row, int column, const std::u16string& text, TRTFRunList runs) {
    if (xls.GetCellValue(row, column).VarType() != TVarType::String)
        throw Exception("no shared-string cell at the changed position");
    for (TRTFRun& run : runs) ++run.FirstChar;
    xls.SetCell(row, column, {TVariant(text), -1, false});
    xls.SetRTFRuns(row, column, runs);
}

std::string ValueText(const TVariant& value) {
    switch (value.VarType()) {
        case TVarType::Double: {
            char buf[64];
            const auto r = std::to_chars(buf, buf + sizeof buf, value.RealValue());
            return std::string(buf, r.ptr);
        }
        case TVarType::Boolean: return value.IntValue() ? "TRUE" : "FALSE";
        case TVarType::String: return Utf16ToUtf8(value.Text());
        default: return {};
    }
}

// IN made absolute, so that it is never looked up elsewhere.
void Open(TKalmiraImport& xls, const char* inName) { xls.OpenFile(std::filesystem::absolute(inName).string()); }

// Streamed out in blocks as the cells are visited, never gathered whole;
// plain bytes, so that no C++ stream is made.
void PrintCells(TKalmiraImport& xls) {
    constexpr std::size_t Block = 1 << 16;
    std::string out;
    out.reserve(Block);
    const auto flush = [&out] {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    };
    // Numbers and tabs go straight into the block, without a string each.
    const auto put = [&out](int number, char behind) {
        char digits[16];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
        out += behind;
    };
    for (int sheet = 1; sheet <= xls.GetSheetCount(); ++sheet) {
        xls.SetActiveSheet(sheet);
        for (int row = 1; row <= xls.GetMaxRow(); ++row)
            for (int index = 1, count = xls.GetColIndexCount(row); index <= count; ++index) {
                const int col = xls.GetColByIndex(row, index);
                const TVariant value = xls.GetCellValue(row, col);
                if (value.IsEmpty()) continue;
                put(sheet, '\t');
                put(row, '\t');
                put(col, '\t');
                out += ValueText(value);
                out += '\n';
                if (out.size() >= Block) flush();
            }
    }
    flush();
}

using TListing = void (*)(TKalmiraImport& xls);

const std::pair<std::string_view, TListing> Listings[] = {
    {"--cells", PrintCells},
    {"--merged", [](TKalmiraImport& x) { PrintList("--merged", File(x), Out()); }},
    {"--links", [](TKalmiraImport& x) { PrintList("--links", File(x), Out()); }},
    {"--formulas", [](TKalmiraImport& x) { PrintFormulas(x, Out()); }},
    {"--sheets", [](TKalmiraImport& x) { PrintSheets(x, Out()); }},
    {"--formats", [](TKalmiraImport& x) { PrintFormats(File(x), Out()); }},
    {"--shapes", [](TKalmiraImport& x) { PrintShapes(Model(x), Out()); }},
    {"--comments", [](TKalmiraImport& x) { PrintComments(Model(x), Out()); }},
};

TRTFRunList ParseRuns(const std::string& text) {
    TRTFRunList runs;
    std::size_t at = 0;
    while (at < text.size()) {
        unsigned first = 0, font = 0;
        if (std::sscanf(text.c_str() + at, "%u:%u", &first, &font) != 2) throw std::invalid_argument("runs");
        runs.push_back({static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(font)});
        const auto comma = text.find(',', at);
        at = comma == std::string::npos ? text.size() : comma + 1;
    }
    return runs;
}

// n:NUMBER, b:0|1, e:CODE, s:TEXT, w:COUNT (that many 16-bit characters),
// a:COUNT (that many 8-bit ones).
TVariant ParseValue(const std::string& text) {
    const std::string rest = text.substr(2);
    switch (text.at(0)) {
        case 'n': return TVariant(std::stod(rest));
        case 'b': return TVariant(rest == "1");
        case 'e': return TVariant::FromError(std::stoi(rest));
        case 's': return TVariant(Utf8ToUtf16(rest));
        case 'w': return TVariant(std::u16string(std::stoul(rest), u'\u0159'));
        case 'a': return TVariant(std::u16string(std::stoul(rest), u'a'));
        default: throw std::invalid_argument("value");
    }
}

const TOption Options[] = {
    {"--label", "Snnt", [](TKalmiraImport& x, const TArgs& a) { SetLabel(x, a.N(1), a.N(2), a.U(3), {}); }},
    {"--rich", "Snntt", [](TKalmiraImport& x, const TArgs& a) { SetLabel(x, a.N(1), a.N(2), a.U(3), ParseRuns(a.Text[4])); },
     [](const TArgs& a) { ParseRuns(a.Text[4]); }},
    {"--formula", "nnt",
     [](TKalmiraImport& x, const TArgs& a) { PlaceFormula(Model(x), a.N(0), a.N(1), ParseValue(a.Text[2])); },
     [](const TArgs& a) { ParseValue(a.Text[2]); }},
    {"--name", "nnnnn", [](TKalmiraImport& x, const TArgs& a) { SetNameArea(Model(x), a); }},
};

using TChanges = std::vector<std::pair<const TOption*, TArgs>>;

// --settings, else the options of the tables, in command-line order.
bool ParseChanges(int argc, char** argv, TChanges& changes, int& settings) {
    for (int i = 3; i < argc;) {
        if (std::strcmp(argv[i], "--settings") == 0 && i + 2 <= argc) {
            settings = std::strcmp(argv[i + 1], "fit") == 0 ? 1 : std::strcmp(argv[i + 1], "scale") == 0 ? 2 : -1;
            i += 2;
            if (settings < 0) return false;
            continue;
        }
        TArgs args;
        const TOption* option = ReadOption({Options, FacadeOptions, SheetOptions, RangeOptions, FormatOptions,
                                            FitOptions, PictureOptions, ShapeOptions},
                                           argv, argc, i, args);
        if (!option) return false;
        changes.emplace_back(option, std::move(args));
    }
    return true;
}

int Usage() {
    Err("usage: xlsroundtrip IN OUT [--label SHEET ROW COLUMN TEXT]... [--rich SHEET ROW COLUMN TEXT RUNS]...\n"
                 "                        [--formula ROW COLUMN VALUE]... [--name NUMBER R1 R2 C1 C2]...\n"
                 "                        [--set-formula SHEET ROW COLUMN TEXT]... [--settings fit|scale]\n"
                 "                        [--merge SHEET R1 C1 R2 C2]... [--unmerge SHEET R1 C1 R2 C2]...\n"
                 "                        [--copy-cols SHEET FIRST LAST DEST COUNT]...\n"
                 "                        [--copy-rows SHEET FIRST LAST DEST COUNT]... [--delete-rows SHEET ROW COUNT]...\n"
                 "                        [--insert-rows SHEET ROW COUNT]... [--insert-cols SHEET COLUMN COUNT]...\n"
                 "                        [--delete-cols SHEET COLUMN COUNT]... [--insert-sheets FROM BEFORE COUNT]...\n"
                 "                        [--delete-sheets FIRST COUNT]... [--add-name SCOPE NAME TEXT]...\n"
                 "                        [--rename-sheet SHEET NAME]... [--sheet-visible SHEET visible|hidden|veryhidden]...\n"
                 "                        [--link SHEET R1 C1 R2 C2 url|file|unc|workbook TARGET DESCRIPTION LOCATION HINT]...\n"
                 "                        [--col-width SHEET COL WIDTH]... [--col-hidden SHEET COL 0|1]...\n"
                 "                        [--col-format SHEET COL XF]... [--outline SHEET rows|cols FIRST LAST LEVEL]...\n"
                 "                        [--page-break SHEET ROW]... [--col-break SHEET COL]... [--mark-breaks SHEET MARK]...\n"
                 "                        [--locale cs] [--string SHEET ROW COLUMN TEXT]...\n"
                 "                        [--format SHEET ROW COLUMN KEY=VALUE]...\n"
                 "                        [--canvas fixed|none|qt] [--autofit-cols SHEET FIRST LAST FACTOR]...\n"
                 "                        [--autofit-rows SHEET FIRST LAST FACTOR]... [--autofit-book FACTOR]...\n"
                 "                        [--delete-picture SHEET N]... [--row-height SHEET ROW HEIGHT]...\n"
                 "                        [--autofilter SHEET ROW COL1 COL2]...\n"
                 "                        [--comment SHEET ROW COL AUTHOR TEXT]... [--assign-comment SHEET ROW INDEX TEXT]...\n"
                 "                        [--picture SHEET ROW COL HEIGHT WIDTH FILE]... [--replace SHEET N FILE]...\n"
                 "                        [--place SHEET N ROW COL DY DX HEIGHT WIDTH ANCHOR]...\n"
                 "                        [--comment-box SHEET ROW COL TEXT]... [--claim-color RRGGBB]...\n"
                 "       xlsroundtrip --cells IN\n"
                 "       xlsroundtrip --merged IN\n"
                 "       xlsroundtrip --sheets IN\n"
                 "       xlsroundtrip --links IN\n"
                 "       xlsroundtrip --formulas IN\n"
                 "       xlsroundtrip --formats IN\n"
                 "       xlsroundtrip --shapes IN\n"
                 "       xlsroundtrip --comments IN\n"
                 "       xlsroundtrip --pictures IN\n"
                 "       xlsroundtrip --picture-file|--picture-pixels IN SHEET N OUT");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = RunTextMode(argc, argv); status >= 0) return status;
    if (const int status = RunPictureMode(argc, argv); status >= 0) return status;
    for (const auto& [name, print] : Listings) {
        if (argc != 3 || name != argv[1]) continue;
        try {
            TXLSAdapter adapter;
            TKalmiraImport xls;
            xls.SetAdapter(&adapter);
            Open(xls, argv[2]);
            print(xls);
            return FlushOut();
        } catch (const std::exception& e) {
            Err(e.what());
            return 1;
        }
    }
    TChanges changes;
    int settings = 0;  // 1 fit to pages, 2 scale
    try {
        if (argc < 3 || !ParseChanges(argc, argv, changes, settings)) return Usage();
    } catch (const std::exception&) {
        return Usage();
    }
    try {
        // The XLS format only, and OUT may be replaced, though only by a
        // complete file; a failed save leaves it as it was.
        TXLSAdapter adapter;
        adapter.SetAllowOverwritingFiles(true);
        adapter.SetTextMeasure(CanvasFactory());
        TKalmiraImport xls;
        xls.SetAdapter(&adapter);
        Open(xls, argv[1]);
        // The changes make other sheets active; the one selected at the
        // open is selected again before the save.
        const int selected = xls.GetActiveSheet();
        for (const auto& [option, args] : changes) RunOption(*option, xls, args);
        if (settings) ChangeSettings(Model(xls), settings == 1);
        if (xls.GetActiveSheet() != selected) xls.SetActiveSheet(selected);
        xls.Save(argv[2]);
    } catch (const std::exception& e) {
        Err(e.what());
        return 1;
    }
    return 0;
}
