#include "tests/tools/xlsroundtrip/Options.h"

#include <ostream>
#include <string>

#include "workbook/api/XLSAdapter.h"
#include "workbook/cells/UXlsFormula.h"
#include "workbook/cells/UXlsFormulaParser.h"

namespace xlsroundtrip {

using namespace kalmira;

namespace {

// Empty rows (columns) go in as copies of the sheet's last one: the
// insertion pushes it past the sheet, so a change that succeeds left
// nothing there to copy (cells, row settings and ranges there refuse it).
constexpr int LastRow = 65536, LastCol = 256;

const TOption Options[] = {
    {"--set-formula", "Snnt", [](TKalmiraImport& x, const TArgs& a) { x.SetCellFormula(a.N(1), a.N(2), a.U(3)); }},
    {"--copy-rows", "Snnnn", [](TKalmiraImport& x, const TArgs& a) { x.InsertAndCopyRows(a.N(1), a.N(2), a.N(3), a.N(4)); }},
    {"--insert-rows", "Snn", [](TKalmiraImport& x, const TArgs& a) { x.InsertAndCopyRows(LastRow, LastRow, a.N(1), a.N(2)); }},
    {"--insert-cols", "Snn", [](TKalmiraImport& x, const TArgs& a) { x.InsertAndCopyCols(LastCol, LastCol, a.N(1), a.N(2)); }},
    {"--delete-rows", "Snn", [](TKalmiraImport& x, const TArgs& a) { x.DeleteRows(a.N(1), a.N(2)); }},
    {"--delete-cols", "Snn", [](TKalmiraImport& x, const TArgs& a) { x.DeleteCols(a.N(1), a.N(2)); }},
    {"--insert-sheets", "nnn",
     [](TKalmiraImport& x, const TArgs& a) { x.InsertAndCopySheets(a.N(0) > 0 ? a.N(0) : -1, a.N(1), a.N(2)); }},
    {"--delete-sheets", "Sn", [](TKalmiraImport& x, const TArgs& a) { x.DeleteSheet(a.N(1)); }},
    // A defined name through the workbook file (SCOPE 0: the whole workbook).
    {"--add-name", "ntt", [](TKalmiraImport& x, const TArgs& a) {
         TXlsNamedRange range{a.U(1), a.U(2), 0, a.N(0) - 1};
         File(x).AddRange(range);
     }},
};

// A name's tokens with their length in front, as the text writer reads them.
std::u16string NameText(const TNameRecord& name, TWorkbookGlobals& globals) {
    if (GetWord(name.Data, 4) == 0) return {};
    std::vector<std::uint8_t> data(name.Data.begin() + static_cast<std::ptrdiff_t>(name.TokensStart()) - 2,
                                   name.Data.end());
    data[0] = name.Data[4];
    data[1] = name.Data[5];
    return RPNToString(data, 2, &globals.Access(), nullptr);
}

}  // namespace

const TOptionTable FacadeOptions = Options;

void PrintFormulas(TKalmiraImport& xls, std::ostream& out) {
    for (int sheet = 1; sheet <= xls.GetSheetCount(); ++sheet) {
        xls.SetActiveSheet(sheet);
        for (int row = 1; row <= xls.GetMaxRow(); ++row)
            for (int index = 1, count = xls.GetColIndexCount(row); index <= count; ++index) {
                const int col = xls.GetColByIndex(row, index);
                if (xls.GetIsFormula(row, col))
                    out << sheet << '\t' << row << '\t' << col << '\t' << Utf16ToUtf8(xls.GetCellFormula(row, col))
                        << '\n';
            }
    }
    TWorkbookGlobals& globals = File(xls).GetTWorkbook().Globals();
    for (std::size_t i = 0; i < globals.Names().Count(); ++i) {
        const TNameRecord& name = *globals.Names().GetItems(i);
        out << "NAME\t" << Utf16ToUtf8(name.Name()) << '\t' << name.RangeSheet() + 1 << '\t'
            << Utf16ToUtf8(NameText(name, globals)) << '\n';
    }
}

}  // namespace xlsroundtrip
