// Delimited text of any bytes: reading either stores every field or
// refuses with nothing stored; what it stored, written out and read again,
// gives the same cells.
#include <cstdint>
#include <map>
#include <vector>

#include "workbook/api/UTextDelim.h"

using namespace kalmira;

namespace {

class TCells : public TExcelFile {
public:
    std::map<std::pair<int, int>, std::u16string> Cells;

    TVariant GetCellValue(std::int32_t row, std::int32_t col) override {
        const auto found = Cells.find({row, col});
        return found == Cells.end() ? TVariant() : TVariant(found->second);
    }
    std::int32_t GetCellFormat(std::int32_t, std::int32_t) override { return -1; }
    bool GetOptions1904Dates() override { return false; }
    void SetCellValue(std::int32_t row, std::int32_t col, const TVariant& value) override {
        if (value.IsEmpty()) Cells.erase({row, col});
        else Cells[{row, col}] = value.Text();
    }
    std::int32_t MaxRow() override { return Cells.empty() ? 0 : Cells.rbegin()->first.first; }
    std::int32_t MaxCol() override {
        int col = 0;
        for (const auto& [at, text] : Cells) col = std::max(col, at.second);
        return col;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    constexpr char Delimiters[] = {',', ';', '\t', ' '};
    const char delimiter = Delimiters[data[0] & 3];
    const auto encoding = data[0] & 4 ? TTextEncoding::Cp1250 : TTextEncoding::Utf8;
    const std::vector<XLSColumnImportTypes> text(300, XLSColumnImportTypes::xct_text);
    TCells first;
    TKmrMemoryStream in(std::vector<std::uint8_t>(data + 1, data + size));
    try {
        LoadFromTextDelim(in, first, delimiter, 1, 1, text, encoding);
    } catch (const Exception&) {
        if (!first.Cells.empty()) __builtin_trap();
        return 0;
    }
    TKmrMemoryStream out;
    SaveAsTextDelim(out, first, delimiter, encoding);
    out.Seek(0);
    TCells second;
    LoadFromTextDelim(out, second, delimiter, 1, 1, text, encoding);
    if (second.Cells != first.Cells) __builtin_trap();
    return 0;
}
