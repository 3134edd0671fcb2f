// Typed text read under given settings, and the format and font lists of
// the workbook file on LibreOffice's formats.xls (B1 bold red 12 pt, B2
// "0.000", B3 a yellow fill with blue borders, B4 a date). xlsroundtrip's
// formats check judges the same operations through xlrd and LibreOffice.
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/api/UKmrCellString.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/storage/UKmrMessages.h"

using namespace kalmira;
using namespace ole2test;

namespace {

TFormatSettings Settings(std::u16string currency, std::uint8_t negative, bool czech = false) {
    TFormatSettings s = InvariantFormatSettings();
    s.CurrencyString = std::move(currency);
    s.NegCurrFormat = negative;
    if (czech) s.CurrencyFormat = 3, s.DecimalSeparator = u',', s.ThousandSeparator = u'\u00A0';
    if (czech) s.ShortDateFormat = u"d.M.yyyy", s.DateSeparator = u'.';
    return s;
}

// "number VALUE FORMAT" ("-": the format's own), "bool", "date", "text".
std::string Read(std::u16string_view text, const TFormatSettings& settings) {
    const TCellStringValue v = AnalyseCellString(text, settings);
    const std::string kind = v.Value.VarType() == TVarType::Boolean ? "bool " : v.Value.VarType() == TVarType::Date ? "date "
                           : v.IsNumber ? "number " : "text ";
    return kind + Utf16ToUtf8(VariantToString(v.Value)) + " " + (v.NumberFormat ? Utf16ToUtf8(*v.NumberFormat) : "-");
}

}  // namespace

TEST(CellString, Analysis) {
    const TFormatSettings us = Settings(u"$", 0), cz = Settings(u"Kč", 8, true), hu = Settings(u"Ft", 8, true);
    const std::tuple<const TFormatSettings*, std::u16string, std::string> cases[] = {
        {&us, u" 12% ", "number 0.12 0%"}, {&us, u"%12.5", "number 0.125 0.00%"}, {&us, u"1.5e3", "number 1500 0.00E+00"},
        {&us, u"1.5e3%", "number 15 0.00E+00"}, {&us, u"$1,234.50", "number 1234.5 $###,###.00_);[Red]\\($###,###.00\\)"},
        {&us, u"-1,234,567", "number -1234567 -"}, {&us, u"1,5", "text 1,5 -"}, {&us, u"-1,5", "text -1,5 -"},
        {&us, u"1,2345", "text 1,2345 -"}, {&us, u"1,234.5,6", "text 1,234.5,6 -"}, {&us, u"inf", "text inf -"},
        {&us, u"tRUe", "bool True -"}, {&us, u"FALSE", "bool False -"}, {&us, u"hello", "text hello -"},
        {&us, u"1/2/2024", "date 1/2/2024 M/d/yyyy"},
        {&cz, u"12 Kč", "number 12 ###,###\\ Kč;[Red]-###,###\\ Kč"}, {&cz, u"1,5", "number 1.5 -"},
        {&cz, u"-1,5", "number -1.5 -"}, {&cz, u"1\u00A0234,5 Kč", "number 1234.5 ###,###.00\\ Kč;[Red]-###,###.00\\ Kč"},
        {&cz, u"1.1.2024", "date 1/1/2024 d.M.yyyy"}, {&hu, u"12 Ft", "number 12 ###,###\\ \"Ft\";[Red]-###,###\\ \"Ft\""},
    };
    for (const auto& [settings, text, read] : cases) EXPECT_EQ(Read(text, *settings), read) << Utf16ToUtf8(text);
    // Every negative order, then an unknown one (as 0).
    const char* negative[] = {"_);[Red]\\($###,###\\)", ";[Red]-$###,###", ";[Red]$-###,###", ";[Red]$###,###-",
                              "_);[Red]\\(###,###$\\)", ";[Red]-###,###$", ";[Red]###,###-$", ";[Red]###,###$-",
                              ";[Red]-###,###\\ $", ";[Red]-$\\ ###,###", ";[Red]###,###\\ $-", ";[Red]$\\ ###,###-",
                              ";[Red]$\\ -###,###", ";[Red]###,###-\\ $", "_);[Red]\\($\\ ###,###\\)",
                              "_);[Red]\\(###,###\\ $\\)", "_);[Red]\\($###,###\\)"};
    for (std::uint8_t code = 0; code < 17; ++code)
        EXPECT_EQ(Utf16ToUtf8(CurrencyNumberFormat(Settings(u"$", code), false)), std::string("$###,###") + negative[code]);
}

// Font indexes skip 4 as XF records do; refusals change nothing; a style
// XF stays one; an added XF is found again.
TEST(XLSFileFormats, Lists) {
    TXLSFile file(nullptr, true);
    file.Connect();
    file.OpenFile(FixtureDir() + "/formats.xls");
    file.GetTWorkbook().Globals().Formats().Add(std::make_unique<TFormatRecord>(65535, u"last"));
    const auto saved = [&] { TKmrMemoryStream out; file.Save(false, "", nullptr, nullptr, &out); return out.Bytes(); };
    const auto before = saved();
    TKmrFormat longName = file.GetFormatList(21), newText = longName;
    longName.Font.Name.assign(256, u'a');
    newText.Format = u"0.0";
    const std::pair<std::function<void()>, std::string> refused[] = {
        {[&] { file.SetFontList(6, {}); }, "The index \"6\" of the property \"FontList\" is not in the range 0-5"},
        {[&] { file.SetFormatList(-1, {}); }, "The index \"-1\" of the property \"FormatList\" is not in the range 0-24"},
        {[&] { file.AddFormat(longName); }, "Invalid String record"},
        {[&] { file.AddFormat(newText); }, "Too many entries for this kind of record (65536 out of a maximum of 65535)"},
        {[&] { file.SetCellString(0, 1, u"12%", u"", u""); }, "Invalid Row (-1)"},
        {[&] { file.SetFontList(4, {}); file.AddFont(file.GetFontList(5)); }, "no exception"},
    };
    for (const auto& [call, message] : refused) EXPECT_EQ(MessageOf(call), message);
    EXPECT_EQ(saved(), before);
    EXPECT_EQ(std::make_tuple(file.FontListCount(), file.GetFontList(4), file.GetFontList(6), file.GetFontList(5).Size20),
              std::make_tuple(6, file.GetFontList(0), file.GetFontList(0), 240));
    TUsedPaletteColors used{};
    used[3] = used[5] = used[6] = true;
    EXPECT_EQ(file.GetUsedPaletteColors(), used);

    const TKmrFont arial{u"Arial", 300, 3, {TKmrFontStyle::fs_Italic}, TKmrUnderline::fu_Double, 2, 238};
    file.SetFontList(5, arial);
    file.SetFormatList(0, file.GetFormatList(15));
    const int added = file.AddFormat(file.GetFormatList(22)), count = file.FormatListCount();
    EXPECT_EQ(std::make_tuple(file.GetFontList(5), file.AddFormat(file.GetFormatList(22)), file.FormatListCount()),
              std::make_tuple(arial, added, count));
    file.SetCellString(1, 1, u"hello", file.GetFormatList(21), u"", u"");  // A1 bold
    const std::string path = std::string(ORVELO_BINARY_DIR) + "/xlsfile-formats.xls";
    file.Save(false, path, nullptr, nullptr, nullptr);
    const auto xfs = Lines(OleCheck("formats", path));
    EXPECT_EQ(Split(xfs.at(0)).back() + Split(xfs.at(21))[1] + Split(xfs.at(21))[2], "1Arial300");
    EXPECT_EQ(Lines(OleCheck("first", path)).at(1), "0\t0\t1\t'hello'\t26");
}
