#include "tests/workbook/storage/MessageOf.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/api/XLSAdapter.h"

using namespace kalmira;
using namespace ole2test;
namespace fs = std::filesystem;
using enum TExcelSaveFormatNative;

namespace {

// The clipboard in memory; Puts counts the copies put on it.
struct TFakeClipboard : IKmrClipboard {
    std::string Format;
    std::vector<std::uint8_t> Block;
    std::u16string Text;
    int Puts = 0;

    void PutBlock(const std::string& format, std::span<const std::uint8_t> block, const std::u16string& text) override {
        Format = format;
        Block.assign(block.begin(), block.end());
        Text = text;
        ++Puts;
    }
    bool HasBlock(const std::string& format) const override { return !Block.empty() && format == Format; }
    std::vector<std::uint8_t> GetBlock(const std::string&) const override { return Block; }
    bool HasText() const override { return !Text.empty(); }
    std::u16string GetText() const override { return Text; }
};

std::unique_ptr<TXLSFile> NewBook(TXLSAdapter& adapter) {
    std::unique_ptr<TExcelFile> made = adapter.GetWorkbook();
    std::unique_ptr<TXLSFile> file(static_cast<TXLSFile*>(made.release()));
    file->Connect();
    file->NewFile(1);
    return file;
}

// An XF of the workbook with that number format in that font.
int AddXF(TXLSFile& file, const char16_t* numberFormat, const char16_t* font) {
    TWorkbookGlobals& globals = file.GetTWorkbook().Globals();
    TKmrFormat format = globals.XF().GetItems(15)->KmrFormat(globals.Fonts(), globals.Formats());
    format.Format = numberFormat;
    format.Font.Name = font;
    return globals.XF().AddFormat(format, globals.Fonts(), globals.Formats());
}

// The number format and font name a cell shows with.
std::u16string FormatOf(TXLSFile& file, int row, int col) {
    TWorkbookGlobals& globals = file.GetTWorkbook().Globals();
    const int xf = file.GetCellValueX(row, col).XF;
    const TKmrFormat format = globals.XF().GetItems(static_cast<std::size_t>(xf))->KmrFormat(globals.Fonts(), globals.Formats());
    return format.Format + u"|" + format.Font.Name;
}

std::string Out(const std::string& name) {
    const fs::path path = fs::path(ORVELO_BINARY_DIR) / "xlsfile-text-tests" / name;
    fs::create_directories(path.parent_path());
    fs::remove(path);
    return path.string();
}

}  // namespace

TEST(XLSFileText, CopiedRangePastesIntoAnotherWorkbookWithItsFormats) {
    auto clipboard = std::make_shared<TFakeClipboard>();
    TXLSAdapter adapter;
    adapter.SetClipboard(clipboard);
    auto from = NewBook(adapter), to = NewBook(adapter);
    from->SetCellValueX(2, 2, {TVariant(1.5), AddXF(*from, u"0.00", u"Courier New"), false});
    from->SetCellValue(2, 3, TVariant(u"a\tb"));
    from->SetCellValueX(3, 2, {TVariant(45366.0), AddXF(*from, u"DD-MMM-YY", u"Arial"), false});
    from->SetCellValue(3, 3, TVariant(true));
    from->SetCellValue(9, 9, TVariant(u"outside"));
    from->CopyToClipboard(TXlsCellRange{2, 2, 3, 3});
    EXPECT_EQ(clipboard->Format, "Biff8");
    EXPECT_EQ(clipboard->Text, u"1.50\t\"a\tb\"\r\n15-Mar-24\tTRUE\r\n");

    to->SetCellValue(4, 5, TVariant(u"kept"));
    to->PasteFromClipboard(5, 5);
    EXPECT_EQ(to->GetCellValue(5, 5), TVariant(1.5));
    EXPECT_EQ(FormatOf(*to, 5, 5), u"0.00|Courier New");
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
    auto empty = NewBook(adapter);
    EXPECT_EQ(MessageOf([&] { empty->CopyToClipboard(); }), "Invalid cell range: columns 1 to 0, rows 1 to 0");
    EXPECT_EQ(MessageOf([&] { from->CopyToClipboard(TXlsCellRange{0, 1, 2, 2}); }),
              "Invalid cell range: columns 0 to 2, rows 1 to 2");
    EXPECT_EQ(clipboard->Puts, 1);
}

// Each selected format goes to its own file, replaced whole or not at all.
TEST(XLSFileText, SaveWritesEachTextFormatToASafeFile) {
    TXLSAdapter adapter;
    adapter.SetSaveFormat({snXLS, snCSVSemiColon});
    adapter.SetAllowOverwritingFiles(true);
    auto book = NewBook(adapter);
    book->SetCellValueX(1, 1, {TVariant(0.125), AddXF(*book, u"0.00", u"Arial"), false});
    book->SetCellValue(1, 3, TVariant(u"a;b"));
    book->SetCellValue(2, 2, TVariant(u"Kůň"));
    const std::string xls = Out("book.xls"), csv = Out("book.csv");
    TOnGetFileNameEvent names = [&](TExcelFile&, TExcelSaveFormatNative f, std::string& n) { n = f == snXLS ? xls : csv; };
    book->Save(false, "", names, nullptr, nullptr);
    const std::string text = "0.13;;\"a;b\"\r\n;K\xC5\xAF\xC5\x88;\r\n";
    EXPECT_EQ(ReadFile(csv), std::vector<std::uint8_t>(text.begin(), text.end()));
    TXLSFile reopened(nullptr);
    reopened.Connect();
    reopened.OpenFile(xls);
    EXPECT_EQ(reopened.GetCellValue(2, 2), TVariant(u"Kůň"));

    // Code page 1250 has no Omega: refused, naming the cell; the file stays.
    adapter.SetSaveFormat({snCSVComma});
    adapter.SetTextEncoding(TTextEncoding::Cp1250);
    auto greek = NewBook(adapter);
    greek->SetCellValue(7, 2, TVariant(u"\u03A9"));
    EXPECT_EQ(MessageOf([&] { greek->Save(false, csv, nullptr, nullptr, nullptr); }),
              "Cell B7 holds U+03A9, which code page 1250 cannot hold");
    EXPECT_EQ(ReadFile(csv), std::vector<std::uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(csv).parent_path()), fs::directory_iterator()), 2);
}

// The empty workbook has no FORMAT record: a format added to it is written
// before the XFs, where it is counted.
TEST(XLSFileText, NewWorkbookKeepsAnAddedNumberFormat) {
    TXLSAdapter adapter;
    auto book = NewBook(adapter);
    book->SetCellValueX(1, 1, {TVariant(2.0), AddXF(*book, u"0.000 \"m3\"", u"Arial"), false});
    TKmrMemoryStream saved;
    book->Save(false, "", nullptr, nullptr, &saved);
    saved.Seek(0);
    book->LoadFromStream(saved);
    EXPECT_EQ(FormatOf(*book, 1, 1), u"0.000 \"m3\"|Arial");
}
