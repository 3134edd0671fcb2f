#include "tests/tools/xlsroundtrip/Options.h"

#include <ostream>
#include <stdexcept>
#include <string>

#include "workbook/storage/UXlsWorkbook.h"

namespace xlsroundtrip {

using namespace kalmira;

namespace {

constexpr std::pair<const char*, TXlsSheetVisible> Visibilities[] = {
    {"visible", TXlsSheetVisible::sv_Visible},
    {"hidden", TXlsSheetVisible::sv_Hidden},
    {"veryhidden", TXlsSheetVisible::sv_VeryHidden},
};

TXlsSheetVisible ParseVisibility(const std::string& word) {
    for (const auto& [name, value] : Visibilities)
        if (word == name) return value;
    throw std::invalid_argument("visibility");
}

const char* VisibilityWord(TXlsSheetVisible value) {
    for (const auto& [name, v] : Visibilities)
        if (v == value) return name;
    return "?";
}

const TOption Options[] = {
    {"--rename-sheet", "St", [](TKalmiraImport& x, const TArgs& a) { x.SetActiveSheetName(a.U(1)); }},
    // On the workbook file: the facade would select the sheet too.
    {"--sheet-visible", "st",
     [](TKalmiraImport& x, const TArgs& a) { File(x).SetActiveSheetVisible(ParseVisibility(a.Text[1])); },
     [](const TArgs& a) { ParseVisibility(a.Text[1]); }},
};

}  // namespace

const TOptionTable SheetOptions = Options;

void PrintSheets(TKalmiraImport& xls, std::ostream& out) {
    TWorkbook& book = File(xls).GetTWorkbook();
    const TWorkbookGlobals& globals = book.Globals();
    for (int i = 0; i < book.SheetCount(); ++i)
        out << i + 1 << '\t' << Utf16ToUtf8(globals.GetSheetName(i)) << '\t'
            << VisibilityWord(globals.GetSheetVisible(i)) << '\t' << globals.GetSheetOptionFlags(i) << '\n';
}

}  // namespace xlsroundtrip
