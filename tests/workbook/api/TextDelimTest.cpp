#include <iconv.h>

#include "tests/workbook/api/XLSFileTestSupport.h"
#include "workbook/storage/UKmrMessages.h"

using namespace xlsfiletest;
using T = XLSColumnImportTypes;

namespace {

// The clipboard in memory; Puts counts the copies put on it.
struct TFakeClipboard : IKmrClipboard {
    std::string Format;
    std::vector<std::uint8_t> Block;
    std::u16string Text;
    int Puts = 0;

    void PutBlock(const std::string& format, std::span<const std::uint8_t> block, const std::u16string& text) override {
        std::tie(Format, Block, Text) = std::make_tuple(format, std::vector(block.begin(), block.end()), text);
        ++Puts;
    }
    bool HasBlock(const std::string& format) const override { return !Block.empty() && format == Format; }
    std::vector<std::uint8_t> GetBlock(const std::string&) const override { return Block; }
    bool HasText() const override { return !Text.empty(); }
    std::u16string GetText() const override { return Text; }
};

// An XF of the workbook with that number format in that font.
int AddXF(TExcelFile& file, const char16_t* numberFormat, const char16_t* font = u"Arial") {
    TKmrFormat format = file.GetFormatList(15);
    format.Format = numberFormat;
    format.Font.Name = font;
    return file.AddFormat(format);
}

// The number format and font name a cell shows with.
std::u16string FormatOf(TExcelFile& file, int row, int col) {
    const TKmrFormat format = file.GetFormatList(file.GetCellFormat(row, col));
    return format.Format + u"|" + format.Font.Name;
}

// "R,C=value" of every cell in order, texts in quotes.
std::string Dump(TExcelFile& file) {
    std::string out;
    for (int row = 1; row <= file.MaxRow(); ++row)
        for (int col = 1; col <= file.MaxCol(); ++col)
            if (const TVariant v = file.GetCellValue(row, col); !v.IsEmpty())
                out += (out.empty() ? "" : " ") + std::to_string(row) + "," + std::to_string(col) + "=" +
                       (v.VarType() == TVarType::String ? "'" + Utf16ToUtf8(v.Text()) + "'" : Utf16ToUtf8(VariantToString(v)));
    return out;
}

std::string Saved(TExcelFile& sheet, char delimiter, TTextEncoding encoding) {
    TKmrMemoryStream out;
    SaveAsTextDelim(out, sheet, delimiter, encoding);
    return std::string(out.Bytes().begin(), out.Bytes().end());
}

// The bytes read into a new sheet whose A1 holds "old".
std::string Loaded(const std::string& bytes, std::vector<T> types = {}, TTextEncoding encoding = TTextEncoding::Utf8,
                   int firstRow = 1, int firstCol = 1, char delimiter = ',') {
    TXLSAdapter adapter;
    auto sheet = Opened("", 1, &adapter);
    sheet->SetCellValue(1, 1, TVariant(u"old"));
    TKmrMemoryStream in(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    std::string message = MessageOf([&] { LoadFromTextDelim(in, *sheet, delimiter, firstRow, firstCol, types, encoding); });
    return (message == "no exception" ? "" : message + ": ") + Dump(*sheet);
}

}  // namespace

// Shown texts (text_check.py has Python's csv read every delimiter and
// encoding back).
TEST(TextDelim, WritesShownTextsQuotedWhereNeeded) {
    TXLSAdapter adapter;
    auto sheet = Opened("", 1, &adapter);
    sheet->SetCellValue(1, 1, TVariant(u"a,b"));
    sheet->SetCellValueX(1, 3, {TVariant(1.005), AddXF(*sheet, u"0.00"), false});
    sheet->SetCellValue(2, 1, TVariant(u"say \"hi\""));
    sheet->SetCellValue(2, 2, TVariant(u"two\r\nlines"));
    sheet->SetCellValueX(2, 3, {TVariant(45366.0), AddXF(*sheet, u"dd/mm/yyyy", u"Courier New"), false});
    sheet->SetCellValue(3, 2, TVariant(u"Žluťoučký; kůň"));
    const std::string semicolons =
        "a,b;;1.00\r\n\"say \"\"hi\"\"\";\"two\r\nlines\";15/03/2024\r\n;\"\x8Elu\x9Dou\xE8k\xFD; k\xF9\xF2\";\r\n";

    EXPECT_EQ(Saved(*sheet, ';', TTextEncoding::Cp1250), semicolons);
    // The new workbook had no FORMAT record: the added one is written.
    TKmrMemoryStream xls(Saved(*sheet));
    auto reopened = Opened();
    reopened->LoadFromStream(xls);
    EXPECT_EQ(FormatOf(*reopened, 2, 3), u"dd/mm/yyyy|Courier New");

    auto marked = Opened("", 1, &adapter);
    EXPECT_EQ(Saved(*marked, ',', TTextEncoding::Utf8), "");
    marked->SetCellValue(1, 1, TVariant(u"\uFEFFx"));  // no byte-order mark for a reader to drop
    EXPECT_EQ(Saved(*marked, ',', TTextEncoding::Utf8), "\"\xEF\xBB\xBFx\"\r\n");

    // What the text cannot hold is refused and nothing is written (a
    // refused delimiter: KalmiraImport's faults).
    TKmrMemoryStream out;
    marked->SetCellValue(7, 2, TVariant(std::u16string(1, char16_t(0xD800))));
    EXPECT_EQ(MessageOf([&] { SaveAsTextDelim(out, *marked, ',', TTextEncoding::Utf8); }),
              "Cell B7 holds U+D800, which UTF-8 cannot hold");
    EXPECT_EQ(out.Size(), 0);
}

// Fields into the cells of a sheet whose A1 holds "old"; bad input is
// refused before anything is stored.
TEST(TextDelim, ReadsFieldsIntoCellsAndRefusesBadInput) {
    const std::string old = ": 1,1='old'";
    const struct {
        std::string bytes, cells;
        std::vector<T> types = {};
        TTextEncoding encoding = TTextEncoding::Utf8;
        int firstRow = 1, firstCol = 1;
    } cases[] = {
        {"1.5,x\r\n2,\"a,\"\"b\"\"\"\r\n", "1,1=1.5 1,2='x' 2,1=2 2,2='a,\"b\"'"},
        {"1.5,x\n2,\"a,\"\"b\"\"\"\n", "1,1=1.5 1,2='x' 2,1=2 2,2='a,\"b\"'"},
        {"\xEF\xBB\xBF,\"line\nbreak\"", "1,1='old' 1,2='line\nbreak'"},
        {"\"\",007,,007", "1,2='007' 1,4=7", {T::xct_general, T::xct_text, T::xct_skip}},
        {"007,\"\"\"\"", "1,1='007' 1,2='\"'", {T::xct_text, T::xct_text}},
        {"a\rb,\"ab\"cd", "1,1='b' 1,2='cd'", {T::xct_text, T::xct_text}},
        {"", "1,1='old'"},
        {"\x8E\x9A,\xE8", "1,1='old' 3,2='Žš' 3,3='č'", {T::xct_text, T::xct_text}, TTextEncoding::Cp1250, 3, 2},
        {"ok\n\"x\n" + std::string(32768, 'a') + "\"", "Text on line 2 is longer than 32767 characters" + old},
        {"ok,\"a\nb\xC3\x28\"", "Invalid UTF-8 byte 0xC3 on line 2" + old},
        {"\x80", "Invalid UTF-8 byte 0x80 on line 1" + old},
        {"\xC0\xAF", "Invalid UTF-8 byte 0xC0 on line 1" + old},
        {"\xED\xA0\x80", "Invalid UTF-8 byte 0xED on line 1" + old},
        {"\xF5\x80\x80\x80", "Invalid UTF-8 byte 0xF5 on line 1" + old},
        {"ok\n\n\x98", "Byte 0x98 on line 3 is not a character of code page 1250" + old, {}, TTextEncoding::Cp1250},
        {"ok\nx", "Invalid Row (65537)" + old, {}, TTextEncoding::Utf8, 65536},
        {std::string(256, ',') + "x", "Invalid Column (257)" + old},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Loaded(c.bytes, c.types, c.encoding, c.firstRow, c.firstCol), c.cells) << c.bytes.substr(0, 40);
    EXPECT_EQ(Loaded("x", {}, TTextEncoding::Utf8, 1, 1, '\n'), "Invalid delimiter: 0x0A" + old);
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

TEST(TextDelim, CopiedRangePastesIntoAnotherWorkbookWithItsFormats) {
    auto clipboard = std::make_shared<TFakeClipboard>();
    TXLSAdapter adapter;
    adapter.SetClipboard(clipboard);
    auto from = Opened("", 1, &adapter), to = Opened("", 1, &adapter);
    from->SetCellValueX(2, 2, {TVariant(1.5), AddXF(*from, u"0.00", u"Courier New"), false});
    from->SetCellValue(2, 3, TVariant(u"a\tb"));
    from->SetCellValueX(3, 2, {TVariant(45366.0), AddXF(*from, u"DD-MMM-YY"), false});
    from->SetCellValue(3, 3, TVariant(true));
    from->SetCellValue(9, 9, TVariant(u"outside"));
    from->CopyToClipboard(TXlsCellRange{2, 2, 3, 3});
    EXPECT_EQ(clipboard->Text, u"1.50\t\"a\tb\"\r\n15-Mar-24\tTRUE\r\n");

    to->SetCellValue(4, 5, TVariant(u"kept"));
    to->PasteFromClipboard(5, 5);
    EXPECT_EQ(FormatOf(*to, 5, 5), u"0.00|Courier New");  // values and the BIFF block: GridView's clipboard keys
    EXPECT_EQ(to->GetCellValue(5, 6), TVariant(u"a\tb"));
    EXPECT_EQ(to->GetCellValue(6, 5), TVariant(45366.0));
    EXPECT_EQ(FormatOf(*to, 6, 5), u"DD-MMM-YY|Arial");
    EXPECT_EQ(to->GetCellValue(6, 6), TVariant(true));
    EXPECT_EQ(std::make_tuple(to->GetCellValue(4, 5), to->MaxRow(), to->MaxCol()),
              std::make_tuple(TVariant(u"kept"), 6, 6));

    // A paste that would leave the sheet changes nothing.
    EXPECT_EQ(MessageOf([&] { to->PasteFromClipboard(65536, 1); }), "Invalid Row (65537)");
    EXPECT_EQ(MessageOf([&] { to->PasteFromClipboard(1, 256); }), "Invalid Column (257)");
    EXPECT_EQ(std::make_pair(to->MaxRow(), to->MaxCol()), std::make_pair(6, 6));

    // Text alone is read as typed, TAB-delimited.
    clipboard->Block.clear();
    clipboard->Text = u"x\t2.5\r\n\t\"a\tb\"";
    to->PasteFromClipboard(8, 2);
    EXPECT_EQ(std::make_tuple(to->GetCellValue(8, 2), to->GetCellValue(8, 3), to->GetCellValue(9, 3)),
              std::make_tuple(TVariant(u"x"), TVariant(2.5), TVariant(u"a\tb")));
    clipboard->Block = {1, 2, 3};  // no workbook: refused, nothing pasted
    EXPECT_NE(MessageOf([&] { to->PasteFromClipboard(20, 1); }), "no exception");
    EXPECT_EQ(std::make_pair(to->MaxRow(), to->MaxCol()), std::make_pair(9, 6));

    // Nothing to copy puts nothing on the clipboard.
    auto empty = Opened("", 1, &adapter);
    EXPECT_EQ(MessageOf([&] { empty->CopyToClipboard(); }), "Invalid cell range: columns 1 to 0, rows 1 to 0");
    EXPECT_EQ(MessageOf([&] { from->CopyToClipboard(TXlsCellRange{0, 1, 2, 2}); }),
              "Invalid cell range: columns 0 to 2, rows 1 to 2");
    EXPECT_EQ(clipboard->Puts, 1);
}
