#include "tests/tools/xlsroundtrip/FormulaOptions.h"

#include <array>
#include <ostream>
#include <string>

#include "workbook/api/XLSAdapter.h"
#include "workbook/cells/UXlsFormula.h"
#include "workbook/cells/UXlsFormulaParser.h"

namespace xlsroundtrip {

using namespace kalmira;

namespace {

struct TOption {
    const char* Name;
    int Numbers;
    bool SheetFirst;  // the first number is the sheet to make active
    void (*Run)(TKalmiraImport& xls, const std::array<int, 5>& n);
};

constexpr TOption Options[] = {
    {"--copy-rows", 5, true, [](TKalmiraImport& x, const std::array<int, 5>& n) { x.InsertAndCopyRows(n[1], n[2], n[3], n[4]); }},
    {"--delete-rows", 3, true, [](TKalmiraImport& x, const std::array<int, 5>& n) { x.DeleteRows(n[1], n[2]); }},
    {"--delete-cols", 3, true, [](TKalmiraImport& x, const std::array<int, 5>& n) { x.DeleteCols(n[1], n[2]); }},
    {"--insert-sheets", 3, false, [](TKalmiraImport& x, const std::array<int, 5>& n) { x.InsertAndCopySheets(n[0] > 0 ? n[0] : -1, n[1], n[2]); }},
    {"--delete-sheets", 2, true, [](TKalmiraImport& x, const std::array<int, 5>& n) { x.DeleteSheet(n[1]); }},
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

TFacadeChange ParseFacadeOption(char** argv, int argc, int& i) {
    const std::string option = argv[i];
    if (option == "--set-formula" && i + 5 <= argc) {
        const int sheet = std::stoi(argv[i + 1]), row = std::stoi(argv[i + 2]), col = std::stoi(argv[i + 3]);
        const std::u16string text = Utf8ToUtf16(argv[i + 4]);
        i += 5;
        return [=](TKalmiraImport& xls) {
            xls.SetActiveSheet(sheet);
            xls.SetCellFormula(row, col, text);
        };
    }
    for (const TOption& o : Options) {
        if (option != o.Name || i + o.Numbers + 1 > argc) continue;
        std::array<int, 5> n{};
        for (int k = 0; k < o.Numbers; ++k) n[static_cast<std::size_t>(k)] = std::stoi(argv[i + 1 + k]);
        i += o.Numbers + 1;
        return [n, o](TKalmiraImport& xls) {
            if (o.SheetFirst) xls.SetActiveSheet(n[0]);
            o.Run(xls, n);
        };
    }
    return {};
}

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
    TWorkbookGlobals& globals = dynamic_cast<TXLSFile&>(*xls.GetWorkbook()).GetTWorkbook().Globals();
    for (std::size_t i = 0; i < globals.Names().Count(); ++i) {
        const TNameRecord& name = *globals.Names().GetItems(i);
        out << "NAME\t" << Utf16ToUtf8(name.Name()) << '\t' << name.RangeSheet() + 1 << '\t'
            << Utf16ToUtf8(NameText(name, globals)) << '\n';
    }
}

}  // namespace xlsroundtrip
