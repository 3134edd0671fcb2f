#include "tests/tools/xlsroundtrip/Options.h"

#include <cstring>

namespace xlsroundtrip {

using namespace kalmira;

const TOption* ReadOption(std::initializer_list<TOptionTable> tables, char** argv, int argc, int& i, TArgs& args) {
    for (TOptionTable table : tables)
        for (const TOption& option : table) {
            const auto count = static_cast<int>(std::strlen(option.Kinds));
            if (std::strcmp(argv[i], option.Name) != 0 || i + count >= argc) continue;
            args.Text.assign(argv + i + 1, argv + i + 1 + count);
            for (std::size_t k = 0; k < args.Text.size(); ++k)
                if (option.Kinds[k] != 't') args.N(k);
            if (option.Check) option.Check(args);
            i += count + 1;
            return &option;
        }
    return nullptr;
}

void RunOption(const TOption& option, TKalmiraImport& xls, const TArgs& args) {
    if (option.Kinds[0] == 's') File(xls).SetActiveSheet(args.N(0));
    if (option.Kinds[0] == 'S') xls.SetActiveSheet(args.N(0));
    if (option.Run) option.Run(xls, args);
}

TXLSFile& File(TKalmiraImport& xls) { return dynamic_cast<TXLSFile&>(*xls.GetWorkbook()); }

std::string Escaped(const std::u16string& text) {
    std::string out;
    for (char c : Utf16ToUtf8(text)) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace xlsroundtrip
