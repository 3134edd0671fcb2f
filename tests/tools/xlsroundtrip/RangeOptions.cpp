#include "tests/tools/xlsroundtrip/Options.h"

#include <array>
#include <ostream>
#include <stdexcept>

#include "workbook/storage/UKmrMessages.h"

namespace xlsroundtrip {

using namespace kalmira;

namespace {

constexpr std::array<const char*, 4> LinkKinds = {"url", "file", "unc", "workbook"};

THyperLinkType LinkKind(const std::string& text) {
    for (std::size_t k = 0; k < LinkKinds.size(); ++k)
        if (text == LinkKinds[k]) return static_cast<THyperLinkType>(k);
    throw std::invalid_argument("link kind");
}

void Outline(TXLSFile& f, const TArgs& a) {
    a.Text[1] == "rows" ? f.SetRowOutlineLevel(a.N(2), a.N(3), a.N(4)) : f.SetColOutlineLevel(a.N(2), a.N(3), a.N(4));
}

const TOption Options[] = {
    {"--merge", "snnnn", [](TKalmiraImport& x, const TArgs& a) { File(x).MergeCells(a.N(1), a.N(2), a.N(3), a.N(4)); }},
    {"--unmerge", "snnnn", [](TKalmiraImport& x, const TArgs& a) { File(x).UnMergeCells(a.N(1), a.N(2), a.N(3), a.N(4)); }},
    {"--copy-cols", "snnnn",
     [](TKalmiraImport& x, const TArgs& a) { File(x).InsertAndCopyCols(a.N(1), a.N(2), a.N(3), a.N(4), false); }},
    {"--link", "snnnnttttt",
     [](TKalmiraImport& x, const TArgs& a) {
         File(x).AddHyperLink({a.N(2), a.N(1), a.N(4), a.N(3)},
                              {LinkKind(a.Text[5]), a.U(7), u"", a.U(8), a.U(6), a.U(9)});
     },
     [](const TArgs& a) { LinkKind(a.Text[5]); }},
    {"--col-width", "snn", [](TKalmiraImport& x, const TArgs& a) { File(x).SetColumnWidth(a.N(1), a.N(2)); }},
    {"--col-hidden", "snn", [](TKalmiraImport& x, const TArgs& a) { File(x).SetColumnHidden(a.N(1), a.N(2) != 0); }},
    {"--col-format", "snn", [](TKalmiraImport& x, const TArgs& a) { File(x).SetColumnFormat(a.N(1), a.N(2)); }},
    {"--outline", "stnnn", [](TKalmiraImport& x, const TArgs& a) { Outline(File(x), a); },
     [](const TArgs& a) {
         if (a.Text[1] != "rows" && a.Text[1] != "cols") throw std::invalid_argument("rows or cols");
     }},
    {"--page-break", "sn", [](TKalmiraImport& x, const TArgs& a) { File(x).InsertHPageBreak(a.N(1)); }},
    {"--col-break", "sn", [](TKalmiraImport& x, const TArgs& a) { File(x).InsertVPageBreak(a.N(1)); }},
    {"--mark-breaks", "st", [](TKalmiraImport& x, const TArgs& a) { File(x).MakePageBreaks(a.U(1)); }},
};

}  // namespace

const TOptionTable RangeOptions = Options;

void PrintList(const std::string& option, TXLSFile& file, std::ostream& out) {
    const auto line = [&](int sheet, const TXlsCellRange& r) -> std::ostream& {
        return out << sheet << '\t' << r.Top << '\t' << r.Left << '\t' << r.Bottom << '\t' << r.Right;
    };
    for (int s = 1; s <= file.SheetCount(); ++s) {
        file.SetActiveSheet(s);
        if (option == "--merged") {
            for (int i = 0; i < file.CellMergedListCount(); ++i) line(s, file.GetCellMergedList(i)) << '\n';
            continue;
        }
        for (int n = 1; n <= file.HyperLinkCount(); ++n) {
            const THyperLink link = file.GetHyperLink(n);
            line(s, file.GetHyperLinkCellRange(n)) << '\t' << LinkKinds.at(static_cast<std::size_t>(link.LinkType));
            for (const auto* text : {&link.Description, &link.TargetFrame, &link.TextMark, &link.Text, &link.Hint})
                out << '\t' << Utf16ToUtf8(*text);
            out << '\n';
        }
    }
}

}  // namespace xlsroundtrip
