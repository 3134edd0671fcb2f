// Formula text of any shape on a workbook of three sheets: a parse ends in
// tokens or in an engine message, never a crash. Tokens it gives are as
// long as TotalSize says and step through the token table to their end.
// The first byte picks the text's shape: one character per byte (Latin-1,
// so typed formulas mutate well) or UTF-16 pairs; bit 1 puts "=" first,
// bit 2 parses in name mode.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "tests/workbook/cells/FormulaGlobals.h"
#include "workbook/cells/UXlsFormulaParser.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/cells/UXlsTokenArray.h"

using namespace kalmira;

namespace {

constexpr std::size_t MaxUnits = 1100;

std::u16string TextOf(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    if (bytes[0] & 2) text = u"=";
    const auto rest = bytes.subspan(1);
    if (bytes[0] & 1) {
        for (std::size_t i = 0; i + 1 < rest.size() && text.size() < MaxUnits; i += 2)
            text.push_back(static_cast<char16_t>(rest[i] | rest[i + 1] << 8));
    } else {
        for (std::size_t i = 0; i < rest.size() && text.size() < MaxUnits; ++i) text.push_back(rest[i]);
    }
    return text;
}

void CheckTokens(const TParseString& parse) {
    std::vector<std::uint8_t> copied(parse.TotalSize() + 4, 0xAA);
    parse.CopyToPtr(copied, 0);
    const std::size_t length = copied[0] | copied[1] << 8;
    if (length + 2 != parse.TotalSize() || copied[length + 2] != 0xAA) std::abort();
    std::size_t pos = 2;
    while (pos < length + 2) pos += TokenSize(copied, pos, length + 2);
    if (pos != length + 2) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::u16string text = TextOf({data, size});
    TFormulaGlobals globals;
    TCells cells(&globals, nullptr);
    try {
        if (data[0] & 4) {
            TParseString parse(text, globals, true, 1, TFmReturnType::fmRef);
            parse.Parse();
            CheckTokens(parse);
        } else {
            TParseString parse(text, cells.CellList(), TFmReturnType::fmValue);
            parse.Parse();
            CheckTokens(parse);
        }
    } catch (const Exception&) {
        // A refused text: nothing may stay in the references.
        if (!globals.Extern.empty() || globals.SupBooks != 0) std::abort();
    }
    return 0;
}
