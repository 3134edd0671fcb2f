#include <gtest/gtest.h>
#include <iconv.h>

#include <map>

#include "tests/workbook/storage/MessageOf.h"
#include "workbook/api/UTextDelim.h"

using namespace kalmira;
using T = XLSColumnImportTypes;

namespace {

// A sheet in a map: a cell is (XF, value); XF n has the number format
// Formats[n]. SetCellString marks what it got with "typed:".
class TSheetStandIn : public TExcelFile {
public:
    std::map<std::pair<int, int>, std::pair<int, TVariant>> Cells;
    std::vector<std::u16string> Formats{u"", u"0.00", u"dd/mm/yyyy"};

    TVariant GetCellValue(std::int32_t row, std::int32_t col) override {
        const auto found = Cells.find({row, col});
        return found == Cells.end() ? TVariant() : found->second.second;
    }
    std::int32_t GetCellFormat(std::int32_t row, std::int32_t col) override {
        const auto found = Cells.find({row, col});
        return found == Cells.end() ? -1 : found->second.first;
    }
    void SetCellValue(std::int32_t row, std::int32_t col, const TVariant& value) override {
        if (value.IsEmpty()) Cells.erase({row, col});
        else Cells[{row, col}] = {-1, value};
    }
    void SetCellString(std::int32_t row, std::int32_t col, const std::u16string& text, const std::u16string&,
                       const std::u16string&) override {
        Cells[{row, col}] = {-1, TVariant(u"typed:" + text)};
    }
    TKmrFormat GetFormatList(std::int32_t index) override {
        TKmrFormat format;
        format.Format = Formats.at(static_cast<std::size_t>(index));
        return format;
    }
    bool GetOptions1904Dates() override { return false; }
    std::int32_t MaxRow() override { return Cells.empty() ? 0 : Cells.rbegin()->first.first; }
    std::int32_t MaxCol() override {
        int col = 0;
        for (const auto& [at, cell] : Cells) col = std::max(col, at.second);
        return col;
    }

    // "R,C=value" of every cell, in order.
    std::string Dump() const {
        std::string out;
        for (const auto& [at, cell] : Cells)
            out += (out.empty() ? "" : " ") + std::to_string(at.first) + "," + std::to_string(at.second) + "=" +
                   Utf16ToUtf8(cell.second.Text());
        return out;
    }
};

std::string Saved(TSheetStandIn& sheet, char delimiter, TTextEncoding encoding) {
    TKmrMemoryStream out;
    SaveAsTextDelim(out, sheet, delimiter, encoding);
    return std::string(out.Bytes().begin(), out.Bytes().end());
}

std::string Loaded(const std::string& bytes, std::vector<T> types = {}, TTextEncoding encoding = TTextEncoding::Utf8,
                   int firstRow = 1, int firstCol = 1) {
    TSheetStandIn sheet;
    sheet.Cells[{1, 1}] = {-1, TVariant(u"old")};
    TKmrMemoryStream in(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    LoadFromTextDelim(in, sheet, ',', firstRow, firstCol, types, encoding);
    return sheet.Dump();
}

}  // namespace

TEST(TextDelim, WritesShownTextsQuotedWhereNeeded) {
    TSheetStandIn sheet;
    sheet.Cells[{1, 1}] = {-1, TVariant(u"a,b")};
    sheet.Cells[{1, 3}] = {1, TVariant(1.005)};
    sheet.Cells[{2, 1}] = {-1, TVariant(u"say \"hi\"")};
    sheet.Cells[{2, 2}] = {-1, TVariant(u"two\r\nlines")};
    sheet.Cells[{2, 3}] = {2, TVariant(45366.0)};
    sheet.Cells[{3, 2}] = {-1, TVariant(u"Žluťoučký; kůň")};
    const struct {
        char delimiter;
        TTextEncoding encoding;
        std::string bytes;
    } cases[] = {
        {',', TTextEncoding::Utf8,
         "\"a,b\",,1.00\r\n\"say \"\"hi\"\"\",\"two\r\nlines\",15/03/2024\r\n,\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD; k\xC5\xAF\xC5\x88,\r\n"},
        {';', TTextEncoding::Cp1250,
         "a,b;;1.00\r\n\"say \"\"hi\"\"\";\"two\r\nlines\";15/03/2024\r\n;\"\x8Elu\x9Dou\xE8k\xFD; k\xF9\xF2\";\r\n"},
        {'\t', TTextEncoding::Utf8,
         "a,b\t\t1.00\r\n\"say \"\"hi\"\"\"\t\"two\r\nlines\"\t15/03/2024\r\n\t\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD; k\xC5\xAF\xC5\x88\t\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Saved(sheet, c.delimiter, c.encoding), c.bytes) << c.delimiter;

    TSheetStandIn empty, marked;
    EXPECT_EQ(Saved(empty, ',', TTextEncoding::Utf8), "");
    marked.Cells[{1, 1}] = {-1, TVariant(u"\uFEFFx")};  // no byte-order mark for a reader to drop
    EXPECT_EQ(Saved(marked, ',', TTextEncoding::Utf8), "\"\xEF\xBB\xBFx\"\r\n");
    EXPECT_EQ(RangeAsTextDelim(sheet, '\t', {2, 3, 3, 3}), u"Žluťoučký; kůň\t\r\n");
}

TEST(TextDelim, RefusesWhatTheTextCannotHoldAndWritesNothing) {
    TSheetStandIn sheet;
    sheet.Cells[{1, 1}] = {-1, TVariant(u"fine")};
    sheet.Cells[{7, 2}] = {-1, TVariant(u"\u03A9")};
    TKmrMemoryStream out;
    EXPECT_EQ(MessageOf([&] { SaveAsTextDelim(out, sheet, ',', TTextEncoding::Cp1250); }),
              "Cell B7 holds U+03A9, which code page 1250 cannot hold");
    sheet.Cells[{7, 2}] = {-1, TVariant(std::u16string(1, char16_t(0xD800)))};
    EXPECT_EQ(MessageOf([&] { SaveAsTextDelim(out, sheet, ',', TTextEncoding::Utf8); }),
              "Cell B7 holds U+D800, which UTF-8 cannot hold");
    EXPECT_EQ(MessageOf([&] { SaveAsTextDelim(out, sheet, '"', TTextEncoding::Utf8); }), "Invalid delimiter: 0x22");
    EXPECT_EQ(out.Size(), 0);
}

TEST(TextDelim, ReadsFieldsIntoCells) {
    const struct {
        std::string bytes;
        std::vector<T> types;
        std::string cells;
    } cases[] = {
        {"1,x\r\n2,\"a,\"\"b\"\"\"\r\n", {}, "1,1=typed:1 1,2=typed:x 2,1=typed:2 2,2=typed:a,\"b\""},
        {"1,x\n2,\"a,\"\"b\"\"\"\n", {}, "1,1=typed:1 1,2=typed:x 2,1=typed:2 2,2=typed:a,\"b\""},
        {"\xEF\xBB\xBF,\"line\nbreak\"", {}, "1,1=old 1,2=typed:line\nbreak"},
        {"\"\",007,,x", {T::xct_general, T::xct_text, T::xct_skip}, "1,2=007 1,4=typed:x"},
        {"007,\"\"\"\"", {T::xct_text, T::xct_text}, "1,1=007 1,2=\""},
        {"a\rb,\"ab\"cd", {T::xct_text, T::xct_text}, "1,1=b 1,2=cd"},
        {"", {}, "1,1=old"},
    };
    for (const auto& c : cases) EXPECT_EQ(Loaded(c.bytes, c.types), c.cells) << c.bytes;
    EXPECT_EQ(Loaded("\x8E\x9A,\xE8", {T::xct_text, T::xct_text}, TTextEncoding::Cp1250, 3, 2),
              "1,1=old 3,2=Žš 3,3=č");
}

TEST(TextDelim, RefusesBadInputBeforeStoringAnything) {
    const struct {
        std::string bytes;
        TTextEncoding encoding;
        int firstRow;
        std::string message;
    } cases[] = {
        {"1\n2,\"open\n\n", TTextEncoding::Utf8, 1, "Unterminated quoted text starting on line 2"},
        {"ok\n\"x\n" + std::string(32768, 'a') + "\"", TTextEncoding::Utf8, 1,
         "Text on line 2 is longer than 32767 characters"},
        {"ok,\"a\nb\xC3\x28\"", TTextEncoding::Utf8, 1, "Invalid UTF-8 byte 0xC3 on line 2"},
        {"\x80", TTextEncoding::Utf8, 1, "Invalid UTF-8 byte 0x80 on line 1"},
        {"\xC0\xAF", TTextEncoding::Utf8, 1, "Invalid UTF-8 byte 0xC0 on line 1"},
        {"\xED\xA0\x80", TTextEncoding::Utf8, 1, "Invalid UTF-8 byte 0xED on line 1"},
        {"\xF5\x80\x80\x80", TTextEncoding::Utf8, 1, "Invalid UTF-8 byte 0xF5 on line 1"},
        {"ok\n\n\x98", TTextEncoding::Cp1250, 1, "Byte 0x98 on line 3 is not a character of code page 1250"},
        {"ok\nx", TTextEncoding::Utf8, 65536, "Invalid Row (65537)"},
        {std::string(256, ',') + "x", TTextEncoding::Utf8, 1, "Invalid Column (257)"},
    };
    for (const auto& c : cases) {
        TSheetStandIn sheet;
        TKmrMemoryStream in(std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.end()));
        EXPECT_EQ(MessageOf([&] { LoadFromTextDelim(in, sheet, ',', c.firstRow, 1, {}, c.encoding); }), c.message);
        EXPECT_EQ(sheet.Dump(), "") << c.message;
    }
    TSheetStandIn sheet;
    EXPECT_EQ(MessageOf([&] { LoadFromTextDelim(u"x", sheet, '\n', 1, 1, {}); }), "Invalid delimiter: 0x0A");
}

// The engine's table against the system's converter, byte by byte.
TEST(TextDelim, CodePage1250TableMatchesIconv) {
    iconv_t cd = iconv_open("UTF-16LE", "CP1250");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int b = 0; b < 256; ++b) {
        char in = static_cast<char>(b);
        char16_t out[2] = {};
        char* inp = &in;
        auto* outp = reinterpret_cast<char*>(out);
        std::size_t inLeft = 1, outLeft = sizeof out;
        const bool converted = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(Cp1250ToUnicode(static_cast<std::uint8_t>(b)), converted ? out[0] : 0) << b;
        std::uint8_t back = 0;
        EXPECT_EQ(UnicodeToCp1250(out[0], back) && back == b, converted) << b;
    }
    iconv_close(cd);
}
