#include "tests/tools/xlsroundtrip/RangeOptions.h"

#include <array>
#include <cstring>
#include <ostream>
#include <string>

namespace xlsroundtrip {

using namespace kalmira;

namespace {

kalmira::TSheet& SheetOf(xlsbook::TXlsBook& book, int sheet) {
    if (sheet < 1 || static_cast<std::size_t>(sheet) > book.Sheets.size())
        Raise(ErrInvalidSheetNo, sheet - 1, 0, static_cast<int>(book.Sheets.size()) - 1);
    return *book.Sheets[static_cast<std::size_t>(sheet - 1)];
}

}  // namespace

TBookChange ParseRangeOption(char** argv, int argc, int& i) {
    const std::string option = argv[i];
    if ((option != "--merge" && option != "--unmerge" && option != "--copy-cols") || i + 6 > argc) return {};
    std::array<int, 5> n{};
    for (int k = 0; k < 5; ++k) n[static_cast<std::size_t>(k)] = std::stoi(argv[i + 1 + k]);
    i += 6;
    if (option == "--copy-cols")
        return [n](xlsbook::TXlsBook& book) {
            SheetOf(book, n[0]).InsertAndCopyRowsAndCols(0, 0, 0, 0, n[1] - 1, n[2] - 1, n[3] - 1, n[4],
                                                         book.Globals->SheetInfo(n[0] - 1, n[0] - 1), false);
        };
    const bool merge = option == "--merge";
    return [n, merge](xlsbook::TXlsBook& book) {
        TSheet& sheet = SheetOf(book, n[0]);
        if (merge) sheet.MergeCells(n[1] - 1, n[2] - 1, n[3] - 1, n[4] - 1);
        else sheet.UnMergeCells(n[1] - 1, n[2] - 1, n[3] - 1, n[4] - 1);
    };
}

void PrintMerged(const xlsbook::TXlsBook& book, std::ostream& out) {
    for (std::size_t s = 0; s < book.Sheets.size(); ++s)
        for (int i = 0; i < book.Sheets[s]->CellMergedListCount(); ++i) {
            const TXlsCellRange r = book.Sheets[s]->CellMergedList(i);
            out << s + 1 << '\t' << r.Top + 1 << '\t' << r.Left + 1 << '\t' << r.Bottom + 1 << '\t' << r.Right + 1
                << '\n';
        }
}

}  // namespace xlsroundtrip
