// xlsroundtrip IN OUT [--label SHEET ROW COLUMN TEXT]... [--rich SHEET ROW COLUMN TEXT RUNS]...
//                     [--formula ROW COLUMN VALUE]... [--name NUMBER R1 R2 C1 C2]...
//                     [--set-formula SHEET ROW COLUMN TEXT]... [--settings fit|scale]
//                     [--merge SHEET R1 C1 R2 C2]... [--unmerge SHEET R1 C1 R2 C2]...
//                     [--copy-cols SHEET FIRST LAST DEST COUNT]...
// xlsroundtrip --cells IN
// xlsroundtrip --merged IN
// xlsroundtrip --shapes IN
// xlsroundtrip --comments IN
//
// Opens IN through the engine's workbook file (TXLSFile::OpenFile) and
// writes it to OUT with its Save: the "Workbook" stream loads into the
// engine's workbook, which saves it into a copy of the container (every
// other stream copied). The globals are written in their
// order (the record list as read, the sheet directory, references, names,
// drawing group), the shared strings come out of the string table sorted
// and rebuilt (with a new EXTSST); every sheet loads into its class
// (worksheet, chart sheet, or a sheet held as records) and is written in
// its order: a worksheet's ROW and cell records go through the cell
// storage, which writes its DIMENSIONS, ROW blocks and cells anew; index
// and cache records are dropped, and every BOUNDSHEET gets the offset of
// its sheet from the computed sizes. --label and --rich set
// the shared-string cell at SHEET, ROW, COLUMN (from 1) to a new text;
// RUNS is "first:font,first:font...". A file the engine cannot read gives
// exit status 1 and the engine's message on one line of standard error;
// OUT is then not created.
//
// --formula places =7 at ROW, COLUMN (from 1) of the first worksheet
// through the cell storage, cached as VALUE: n:NUMBER, b:0|1, e:CODE,
// s:TEXT, w:COUNT (as many 16-bit characters), a:COUNT (as many 8-bit
// ones). --name gives the name NUMBER (from 1) the area R1..R2, C1..C2
// (from 0). --set-formula parses TEXT as a user types it ("=SUM(A1:A3)*2")
// into the cell at ROW, COLUMN of sheet SHEET (from 1; the first worksheet
// only, the one whose cells go through the cell storage); a refused text
// gives status 1 and the parser's message, and OUT is not created.
//
// --settings changes the settings of the workbook (through the globals)
// and of its first sheet through the sheet's setters, so that other programs can tell whether
// they see them: 1904 dates, R1C1 references, zoom 150 (a new SCL behind
// WINDOW2 when missing), margins, header and footer, paper, scale 80, copies, fit to
// 2 x 3 pages, printed grid lines and centring; "fit" also turns fitting
// to pages on, which hides the scale from other programs.
//
// --merge and --unmerge merge and unmerge the cells R1..R2, C1..C2 of
// SHEET through the sheet, --copy-cols inserts COUNT copies of columns
// FIRST..LAST before column DEST through the workbook, so that other sheets
// and names follow (numbers from 1, in command-line order); a refused
// change gives status 1 and its message, and OUT is not created. --merged
// prints IN's merged ranges (RangeOptions.h). The drawing options and
// --shapes are in ShapeOptions.h.
//
// --cells prints every value cell of IN, one a line: sheet index, row and
// column (from 1), a tab between, then the value: numbers in the shortest
// text that reads back to the same double, texts as UTF-8, TRUE/FALSE,
// error texts.
//
// OUT is replaced only by a complete file: a failed save (status 1, the
// engine's message) leaves an existing OUT as it was and creates none.
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "workbook/api/XLSAdapter.h"
#include "tests/tools/xlsroundtrip/RangeOptions.h"
#include "tests/tools/xlsroundtrip/ShapeOptions.h"
#include "workbook/cells/UXlsFormula.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/UXlsWorkbook.h"
#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/XlsMessages.h"

namespace {

using namespace kalmira;

// A label's new text, a formula placed with its cached value, or a name's
// new area (Sheet is then the name's number, from 1).
struct TChange {
    enum class TKind { Label, Formula, Name, FormulaText, Book, File } Kind = TKind::Label;
    int Sheet = 0, Row = 0, Column = 0;
    TRichString Text;
    TVariant Value;
    std::array<int, 4> Area{};  // first row, last row, first column, last column
    xlsroundtrip::TBookChange Run;
    xlsroundtrip::TFileChange RunFile;
};

// The first worksheet (from 0), or -1.
int FirstWorkSheet(const TWorkbook& book) {
    for (int s = 0; s < book.SheetCount(); ++s)
        if (book.IsWorksheet(s)) return s;
    return -1;
}

// Every cell of every worksheet in row and column order; sheets from 1.
template <class Visit>
void ForEachCell(const TWorkbook& book, Visit visit) {
    for (int s = 0; s < book.SheetCount(); ++s) {
        if (!book.IsWorksheet(s)) continue;
        const TCellList& list = book.WorkSheets(s).Cells().CellList();
        for (std::size_t row = 0; row < list.Count(); ++row)
            if (const auto* cells = list.GetItems(row))
                for (std::size_t c = 0; c < cells->Count(); ++c) visit(s + 1, *cells->GetItems(c));
    }
}

void PlaceFormula(TWorkbook& book, const TChange& change) {
    const int sheet = FirstWorkSheet(book);
    if (sheet < 0) throw Exception("no worksheet");
    const std::uint8_t tokens[] = {0x1E, 7, 0};
    book.WorkSheets(sheet).Cells().CellList().AssignFormulaX(change.Row - 1, change.Column - 1, tokens, change.Value,
                                                             book.Globals().GetIs1904());
}

void SetFormulaText(TWorkbook& book, const TChange& change) {
    const int sheet = FirstWorkSheet(book);
    if (sheet < 0 || change.Sheet != sheet + 1) throw Exception("formula text goes on the first worksheet only");
    book.WorkSheets(sheet).Cells().CellList().SetFormula(change.Row - 1, change.Column - 1, change.Text.Value);
}

void SetNameArea(TWorkbook& book, const TChange& change) {
    TNameRecordList& names = book.Globals().Names();
    if (change.Sheet < 1 || static_cast<std::size_t>(change.Sheet) > names.Count()) throw Exception("no such name");
    TNameRecord* name = names.GetItems(static_cast<std::size_t>(change.Sheet - 1));
    names.Resize(*name, [&] {
        name->SetR1(change.Area[0]);
        name->SetR2(change.Area[1]);
        name->SetC1(change.Area[2]);
        name->SetC2(change.Area[3]);
    });
}

void ChangeSettings(TWorkbook& book, bool fitToPage) {
    if (book.SheetCount() == 0) Raise(ErrExcelInvalid);
    book.Globals().SetIs1904(true);
    TSheet& sheet = book.Sheet(0);
    sheet.SetIsR1C1(true);
    TXlsMargins margins;
    margins.Left = 1.25;
    margins.Right = 0.5;
    margins.Top = 1.5;
    margins.Bottom = 0.75;
    margins.Header = 0.375;
    margins.Footer = 0.625;
    sheet.SetMargins(margins);
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

void Apply(TWorkbook& book, const TChange& change) {
    if (change.Kind == TChange::TKind::Book) return change.Run(book);
    if (change.Kind == TChange::TKind::Formula) return PlaceFormula(book, change);
    if (change.Kind == TChange::TKind::Name) return SetNameArea(book, change);
    if (change.Kind == TChange::TKind::FormulaText) return SetFormulaText(book, change);
    TLabelSSTRecord* target = nullptr;
    ForEachCell(book, [&](int sheet, TCellRecord& cell) {
        if (sheet == change.Sheet && cell.GetRow() + 1 == change.Row &&
            cell.GetColumn() + 1 == change.Column && !target)
            target = dynamic_cast<TLabelSSTRecord*>(&cell);
    });
    if (!target) throw Exception("no shared-string cell at the changed position");
    target->SetAsRichString(change.Text);
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

int PrintCells(const char* inName, const char* what) {
    TXLSFile file(nullptr);
    file.Connect();
    file.OpenFile(inName);
    const TWorkbook& book = file.GetTWorkbook();
    if (std::strcmp(what, "--merged") == 0) {
        xlsroundtrip::PrintMerged(book, std::cout);
        return 0;
    }
    if (std::strcmp(what, "--shapes") == 0 || std::strcmp(what, "--comments") == 0) {
        if (what[2] == 's') xlsroundtrip::PrintShapes(book, std::cout);
        else xlsroundtrip::PrintComments(book, std::cout);
        return 0;
    }
    // Streamed out in blocks as the cells are visited, never gathered whole.
    constexpr std::size_t Block = 1 << 16;
    std::string out;
    out.reserve(Block);
    ForEachCell(book, [&](int sheet, const TCellRecord& cell) {
        const TVariant value = cell.GetValue();
        if (value.IsEmpty()) return;
        out += std::to_string(sheet) + '\t' + std::to_string(cell.GetRow() + 1) + '\t' +
               std::to_string(cell.GetColumn() + 1) + '\t' + ValueText(value) + '\n';
        if (out.size() >= Block) {
            std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
            out.clear();
        }
    });
    std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
    std::cout.flush();
    return std::cout ? 0 : 1;
}

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

// --formula, --name and --settings; false for anything else.
bool ParseOther(char** argv, int argc, int& i, std::vector<TChange>& changes, int& settings) {
    TChange c;
    if (std::strcmp(argv[i], "--settings") == 0 && i + 2 <= argc) {
        settings = std::strcmp(argv[i + 1], "fit") == 0 ? 1 : std::strcmp(argv[i + 1], "scale") == 0 ? 2 : -1;
        i += 2;
        return settings > 0;
    }
    if (std::strcmp(argv[i], "--formula") == 0 && i + 4 <= argc) {
        c.Kind = TChange::TKind::Formula;
        c.Row = std::stoi(argv[i + 1]);
        c.Column = std::stoi(argv[i + 2]);
        c.Value = ParseValue(argv[i + 3]);
        i += 4;
    } else if (std::strcmp(argv[i], "--set-formula") == 0 && i + 5 <= argc) {
        c.Kind = TChange::TKind::FormulaText;
        c.Sheet = std::stoi(argv[i + 1]);
        c.Row = std::stoi(argv[i + 2]);
        c.Column = std::stoi(argv[i + 3]);
        c.Text.Value = Utf8ToUtf16(argv[i + 4]);
        i += 5;
    } else if (auto run = xlsroundtrip::ParseRangeOption(argv, argc, i)) {
        c.Kind = TChange::TKind::Book;
        c.Run = std::move(run);
    } else if (auto runFile = xlsroundtrip::ParseShapeOption(argv, argc, i)) {
        c.Kind = TChange::TKind::File;
        c.RunFile = std::move(runFile);
    } else if (std::strcmp(argv[i], "--name") == 0 && i + 6 <= argc) {
        c.Kind = TChange::TKind::Name;
        c.Sheet = std::stoi(argv[i + 1]);
        for (int k = 0; k < 4; ++k) c.Area[k] = std::stoi(argv[i + 2 + k]);
        i += 6;
    } else {
        return false;
    }
    changes.push_back(std::move(c));
    return true;
}

bool ParseChanges(int argc, char** argv, std::vector<TChange>& changes, int& settings) {
    for (int i = 3; i < argc;) {
        if (std::strcmp(argv[i], "--label") != 0 && std::strcmp(argv[i], "--rich") != 0) {
            if (!ParseOther(argv, argc, i, changes, settings)) return false;
            continue;
        }
        const bool rich = std::strcmp(argv[i], "--rich") == 0;
        if (!rich && std::strcmp(argv[i], "--label") != 0) return false;
        const int need = rich ? 6 : 5;
        if (i + need > argc) return false;
        TChange c;
        c.Sheet = std::stoi(argv[i + 1]);
        c.Row = std::stoi(argv[i + 2]);
        c.Column = std::stoi(argv[i + 3]);
        c.Text.Value = Utf8ToUtf16(argv[i + 4]);
        if (rich) c.Text.RTFRuns = ParseRuns(argv[i + 5]);
        changes.push_back(std::move(c));
        i += need;
    }
    return true;
}

int Usage() {
    std::cerr << "usage: xlsroundtrip IN OUT [--label SHEET ROW COLUMN TEXT]... [--rich SHEET ROW COLUMN TEXT RUNS]...\n"
                 "                        [--formula ROW COLUMN VALUE]... [--name NUMBER R1 R2 C1 C2]...\n"
                 "                        [--set-formula SHEET ROW COLUMN TEXT]... [--settings fit|scale]\n"
                 "                        [--merge SHEET R1 C1 R2 C2]... [--unmerge SHEET R1 C1 R2 C2]...\n"
                 "                        [--copy-cols SHEET FIRST LAST DEST COUNT]...\n"
                 "                        [--delete-picture SHEET N]... [--copy-rows SHEET FIRST LAST DEST COUNT]...\n"
                 "                        [--delete-rows|--delete-cols SHEET FIRST COUNT]... [--insert-sheets FROM BEFORE COUNT]...\n"
                 "                        [--col-width SHEET COL WIDTH]... [--row-height SHEET ROW HEIGHT]...\n"
                 "                        [--comment SHEET ROW COL AUTHOR TEXT]... [--assign-comment SHEET ROW INDEX TEXT]...\n"
                 "       xlsroundtrip --cells IN\n"
                 "       xlsroundtrip --merged IN\n"
                 "       xlsroundtrip --shapes IN\n"
                 "       xlsroundtrip --comments IN\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && (std::strcmp(argv[1], "--cells") == 0 || std::strcmp(argv[1], "--merged") == 0 ||
                      std::strcmp(argv[1], "--shapes") == 0 || std::strcmp(argv[1], "--comments") == 0)) {
        try {
            return PrintCells(argv[2], argv[1]);
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
    }
    std::vector<TChange> changes;
    int settings = 0;  // 1 fit to pages, 2 scale
    try {
        if (argc < 3 || !ParseChanges(argc, argv, changes, settings)) return Usage();
    } catch (const std::exception&) {
        return Usage();
    }
    try {
        // No adapter: the XLS format only, and OUT may be replaced, though
        // only by a complete file; a failed save leaves it as it was.
        TXLSFile file(nullptr, true);
        file.Connect();
        file.OpenFile(argv[1]);
        TWorkbook& book = file.GetTWorkbook();
        for (const auto& change : changes) {
            if (change.Kind == TChange::TKind::File) change.RunFile(file);
            else Apply(book, change);
        }
        if (settings) ChangeSettings(book, settings == 1);
        file.Save(false, argv[2], nullptr, nullptr, nullptr);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
