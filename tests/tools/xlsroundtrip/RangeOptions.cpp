#include "tests/tools/xlsroundtrip/RangeOptions.h"

#include <array>
#include <ostream>
#include <string>

namespace xlsroundtrip {

using namespace kalmira;

TBookChange ParseRangeOption(char** argv, int argc, int& i) {
    const std::string option = argv[i];
    if ((option != "--merge" && option != "--unmerge" && option != "--copy-cols") || i + 6 > argc) return {};
    std::array<int, 5> n{};
    for (int k = 0; k < 5; ++k) n[static_cast<std::size_t>(k)] = std::stoi(argv[i + 1 + k]);
    i += 6;
    // The workbook moves the other sheets' references and the names too.
    if (option == "--copy-cols")
        return [n](TWorkbook& book) {
            book.InsertAndCopyRowsAndCols(n[0] - 1, 0, 0, 0, 0, n[1] - 1, n[2] - 1, n[3] - 1, n[4], false);
        };
    const bool merge = option == "--merge";
    return [n, merge](TWorkbook& book) {
        TSheet& sheet = book.Sheet(n[0] - 1);
        if (merge) sheet.MergeCells(n[1] - 1, n[2] - 1, n[3] - 1, n[4] - 1);
        else sheet.UnMergeCells(n[1] - 1, n[2] - 1, n[3] - 1, n[4] - 1);
    };
}

void PrintMerged(const TWorkbook& book, std::ostream& out) {
    for (int s = 0; s < book.SheetCount(); ++s) {
        const TSheet& sheet = book.Sheet(s);
        for (int i = 0; i < sheet.CellMergedListCount(); ++i) {
            const TXlsCellRange r = sheet.CellMergedList(i);
            out << s + 1 << '\t' << r.Top + 1 << '\t' << r.Left + 1 << '\t' << r.Bottom + 1 << '\t' << r.Right + 1
                << '\n';
        }
    }
}

}  // namespace xlsroundtrip
