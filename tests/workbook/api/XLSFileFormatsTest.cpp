// Typed text read under given settings, and the format and font lists of
// the workbook file on LibreOffice's formats.xls (B1 bold red 12 pt, B2
// "0.000", B3 a yellow fill with blue borders, B4 a date). xlsroundtrip's
// formats check judges the same operations through xlrd and LibreOffice.
#include "tests/workbook/api/XLSFileTestSupport.h"
#include "workbook/api/UKmrCellString.h"
#include "workbook/storage/UKmrMessages.h"

using namespace xlsfiletest;

namespace {

TFormatSettings Settings(std::u16string currency, std::uint8_t negative, bool czech = false) {
    TFormatSettings s = InvariantFormatSettings();
    s.CurrencyString = std::move(currency), s.NegCurrFormat = negative;
    if (czech) s.CurrencyFormat = 3, s.DecimalSeparator = u',', s.ThousandSeparator = u'\u00A0', s.DateSeparator = u'.';
    return s;
}

}  // namespace

TEST(CellString, Analysis) {
    const TFormatSettings us = Settings(u"$", 0), cz = Settings(u"Kč", 8, true), hu = Settings(u"Ft", 8, true);
    // Beside what formats_check.py types through the file.
    const std::tuple<const TFormatSettings*, std::u16string, std::string> cases[] = {
        {&us, u" %12.5 ", "n 0.125 0.00%"}, {&us, u"1.5e3%", "n 15 0.00E+00"}, {&us, u"tRUe", "t True -"}, {&us, u"inf", "t inf -"},
        {&us, u"-1,234,567", "n -1234567 -"}, {&us, u"1,5", "t 1,5 -"}, {&us, u"-1,5", "t -1,5 -"}, {&us, u"1,2345", "t 1,2345 -"},
        {&us, u"1,234.5,6", "t 1,234.5,6 -"}, {&cz, u"-1,5", "n -1.5 -"}, {&hu, u"12 Ft", "n 12 ###,###\\ \"Ft\";[Red]-###,###\\ \"Ft\""},
        {&cz, u"1\u00A0234,5 Kč", "n 1234.5 ###,###.00\\ Kč;[Red]-###,###.00\\ Kč"}};
    // "n" for a number or date-time, "t" else; the value; the number format
    // that replaces the cell's ("-": none).
    for (const auto& [settings, text, read] : cases) {
        const TCellStringValue v = AnalyseCellString(text, *settings);
        EXPECT_EQ((v.IsNumber ? "n " : "t ") + Utf16ToUtf8(VariantToString(v.Value)) + " " +
                      (v.NumberFormat ? Utf16ToUtf8(*v.NumberFormat) : "-"), read) << Utf16ToUtf8(text);
    }
    // The orders themselves are a table; formats_check.py reads two of them through xlrd. An unknown one is 0.
    EXPECT_EQ(CurrencyNumberFormat(Settings(u"$", 16), false), CurrencyNumberFormat(Settings(u"$", 0), false));
}

// Font indexes skip 4 as XF records do; refusals change nothing; a style
// XF stays one.
TEST(XLSFileFormats, Lists) {
    auto opened = Opened("formats");
    TXLSFile& file = *opened;
    ExpectRefused(file, {
        {[&] { file.SetFontList(6, {}); }, "The index \"6\" of the property \"FontList\" is not in the range 0-5"},
        {[&] { file.SetFormatList(-1, {}); }, "The index \"-1\" of the property \"FormatList\" is not in the range 0-24"},
        {[&] { file.SetCellString(0, 1, u"12%", u"", u""); }, "Invalid Row (-1)"},
        {[&] { file.SetFontList(5, {.Name = std::u16string(256, u'a'), .Style = {}}); }, "Invalid String record"},
        {[&] { file.SetFontList(4, {}); file.AddFont(file.GetFontList(5)); }, "no exception"}});
    EXPECT_EQ(std::make_tuple(file.FontListCount(), file.GetFontList(4), file.GetFontList(6), file.GetFontList(5).Size20),
              std::make_tuple(6, file.GetFontList(0), file.GetFontList(0), 240));

    const TKmrFont arial{u"Arial", 300, 3, {TKmrFontStyle::fs_Italic}, TKmrUnderline::fu_Double, 2, 238};
    file.SetFontList(5, arial);
    file.SetFormatList(0, file.GetFormatList(15));
    file.SetCellString(1, 1, u"hello", file.GetFormatList(21), u"", u"");  // a text with a format given
    EXPECT_EQ(std::make_tuple(file.GetTWorkbook().Globals().XF().GetItems(0)->IsStyle(), file.GetCellValue(1, 1),
                              file.GetFormatList(file.GetCellFormat(1, 1)).Font), std::make_tuple(true, TVariant(u"hello"), arial));
}
