#include "tests/tools/xlsroundtrip/RangeOptions.h"

#include <array>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <vector>

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

using TNumbers = std::vector<int>;
using TTexts = std::vector<std::string>;

// An option's arguments: n a number, t a text, r rows|cols (given as the
// number 1 for rows). Options with SHEET first act on that sheet.
struct TOption {
    const char* Name;
    const char* Arguments;
    bool OnSheet;
    void (*Run)(TXLSFile& file, const TNumbers& n, const TTexts& t);
};

const TOption Options[] = {
    {"--merge", "nnnnn", true, [](TXLSFile& f, const TNumbers& n, const TTexts&) { f.MergeCells(n[1], n[2], n[3], n[4]); }},
    {"--unmerge", "nnnnn", true,
     [](TXLSFile& f, const TNumbers& n, const TTexts&) { f.UnMergeCells(n[1], n[2], n[3], n[4]); }},
    {"--copy-cols", "nnnnn", true,
     [](TXLSFile& f, const TNumbers& n, const TTexts&) { f.InsertAndCopyCols(n[1], n[2], n[3], n[4], false); }},
    {"--link", "nnnnnttttt", true,
     [](TXLSFile& f, const TNumbers& n, const TTexts& t) {
         f.AddHyperLink({n[2], n[1], n[4], n[3]},
                        {LinkKind(t[0]), Utf8ToUtf16(t[2]), u"", Utf8ToUtf16(t[3]), Utf8ToUtf16(t[1]), Utf8ToUtf16(t[4])});
     }},
    {"--col-width", "nnn", true, [](TXLSFile& f, const TNumbers& n, const TTexts&) { f.SetColumnWidth(n[1], n[2]); }},
    {"--col-hidden", "nnn", true,
     [](TXLSFile& f, const TNumbers& n, const TTexts&) { f.SetColumnHidden(n[1], n[2] != 0); }},
    {"--col-format", "nnn", true, [](TXLSFile& f, const TNumbers& n, const TTexts&) { f.SetColumnFormat(n[1], n[2]); }},
    {"--outline", "nrnnn", true,
     [](TXLSFile& f, const TNumbers& n, const TTexts&) {
         n[1] == 1 ? f.SetRowOutlineLevel(n[2], n[3], n[4]) : f.SetColOutlineLevel(n[2], n[3], n[4]);
     }},
    {"--page-break", "nn", true, [](TXLSFile& f, const TNumbers& n, const TTexts&) { f.InsertHPageBreak(n[1]); }},
    {"--col-break", "nn", true, [](TXLSFile& f, const TNumbers& n, const TTexts&) { f.InsertVPageBreak(n[1]); }},
    {"--mark-breaks", "nt", true,
     [](TXLSFile& f, const TNumbers&, const TTexts& t) { f.MakePageBreaks(Utf8ToUtf16(t[0])); }},
};

}  // namespace

TFileChange ParseRangeOption(char** argv, int argc, int& i) {
    for (const TOption& option : Options) {
        const auto count = static_cast<int>(std::strlen(option.Arguments));
        if (std::strcmp(argv[i], option.Name) != 0 || i + count >= argc) continue;
        TNumbers numbers;
        TTexts texts;
        for (int k = 0; k < count; ++k) {
            const std::string arg = argv[i + 1 + k];
            const char kind = option.Arguments[k];
            if (kind == 't') texts.push_back(arg);
            else if (kind == 'n') numbers.push_back(std::stoi(arg));
            else if (arg == "rows" || arg == "cols") numbers.push_back(arg == "rows" ? 1 : 0);
            else throw std::invalid_argument("rows or cols");
        }
        i += count + 1;
        if (option.Name == std::string("--link")) LinkKind(texts[0]);
        return [&option, numbers, texts](TXLSFile& file) {
            if (option.OnSheet) file.SetActiveSheet(numbers[0]);
            option.Run(file, numbers, texts);
        };
    }
    return {};
}

bool IsListOption(const std::string& option) { return option == "--merged" || option == "--links"; }

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
