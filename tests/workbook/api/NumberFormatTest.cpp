#include <gtest/gtest.h>

#include <memory>

#include "workbook/api/UKmrNumberFormat.h"
#include "workbook/storage/UKmrMessages.h"

using namespace kalmira;

namespace {

constexpr std::uint32_t kUntouched = 0x123456;
constexpr double kFriday15March2024 = 45366;
constexpr double kSecond = 1.0 / 86400;

TFormatSettings Czech() {
    TFormatSettings s = InvariantFormatSettings();
    s.DateSeparator = u'.';
    s.ShortDateFormat = u"d.M.yyyy";
    s.LongDateFormat = u"d. MMMM yyyy";
    s.LongTimeFormat = u"H:mm:ss";
    s.TimeAMString = u"dop.";
    s.TimePMString = u"odp.";
    s.LongMonthNames[2] = u"březen";
    s.DecimalSeparator = u',';
    s.ThousandSeparator = u'\u00A0';
    return s;
}

struct Case {
    const char16_t* format;
    TVariant value;
    const char16_t* text;
    std::uint32_t colour = kUntouched;
    bool czech = false;
    bool dates1904 = false;
};

}  // namespace

TEST(NumberFormat, RendersValuesAsTheirFormatSays) {
    const TFormatSettings cz = Czech();
    const Case cases[] = {
        // numfmt.xls holds the common formats: text_check.py compares them with LibreOffice.
        // Rounding halves away from zero on the exact decimal value.
        {u"0.00", 1.005, u"1.00"}, {u"0.0e-0", 99.96, u"1.0e2"}, {u"##0.0E+0", 12345.0, u"123.5E+2"},
        // Grouping (a comma between placeholders), scaling (each comma behind the last one before the
        // point or the end divides by 1,000), percent, literals and escapes.
        {u"#,##0.00", 1234567.891, u"1\u00A0234\u00A0567,89", kUntouched, true}, {u"0,", 1234.0, u"1"},
        {u"0.0,", 12345.0, u"12.3"}, {u"#,##0,,", 1234567890.0, u"1,235"}, {u"#,##0,", -1234567.0, u"-1,235"},
        {u"0,.00", 1500.0, u"1.50"}, {u"0.0,,\" M\"", 2500000.0, u"2.5 M"}, {u"0,%", 123000.0, u"12300%"},
        {u"\",\"0", 5.0, u",5"}, {u"0,0", 1234.0, u"1,234"},
        {u"0.0\"%\"", 0.5, u"0.5%"}, {u"0%", 1e308, u"INF"}, {u"000-00", 12345.0, u"123-45"}, {u"0.##", 1.0, u"1"},
        {u"#.##", 0.5, u".5"}, {u"\\$#,##0_);\\($#,##0\\)", 1234.0, u"$1,234 "}, {u"* 0", 7.0, u"7"},
        // Sections by sign, empty sections, conditions and colours in either order.
        {u"0;-0;", 0.0, u""}, {u";;;", 5.0, u""}, {u"[>100]\"big\";\"small\"", 50.0, u"small"},
        {u"[<0]\"neg \"0;0", -3.0, u"neg 3"}, {u"[=1]\"one\";0", 1.0, u"one"}, {u"[<5]0;0", -3.0, u"-3"},
        {u"[<=5]0;\"x\"", 7.0, u"x"}, {u"[Red][<=100]0;[>100][Blue]0", 150.0, u"150", 0xFF0000},
        {u"[Green]0", 1.0, u"1", 0x008000},
        // Brackets that mean nothing here are dropped; fractions and "@" show the general form.
        {u"[Color10]0", 5.0, u"5"}, {u"[DBNum1]0", 5.0, u"5"}, {u"# ?/?", 1.5, u"1.5"}, {u"?/?", 0.25, u"0.25"},
        {u"@", 5.0, u"5"}, {u"General", 1.0 / 3, u"0.333333333333333"}, {u"", 0.5, u"0,5", kUntouched, true},
        {u"0.00", true, u"TRUE"}, {u"", false, u"FALSE"}, {u"0.00", TVariant::FromCurrency(12345), u"1.23"},
        {u"0", TVariant::FromError(7), u"#DIV/0!"},
        // Dates and times through the date-time language; "m" is minutes next to hours and seconds.
        {u"d.m.yyyy", kFriday15March2024, u"15.3.2024"}, {u"dd/mm/yyyy hh:mm", kFriday15March2024 + 0.75, u"15/03/2024 18:00"},
        {u"dd/mm/yyyy hh:mm", kFriday15March2024 + 0.75, u"15.03.2024 18:00", kUntouched, true},
        {u"h:mm AM/PM", 0.75, u"6:00 PM"}, {u"h:mm am/pm", 0.25, u"6:00 am"},
        {u"mmmm yyyy", kFriday15March2024, u"March 2024"},
        {u"mmmm yyyy", kFriday15March2024, u"březen 2024", kUntouched, true},
        {u"ddd DD-MMM-YY", kFriday15March2024, u"Fri 15-Mar-24"}, {u"mm:ss", 90 * kSecond, u"01:30"},
        {u"mm:ss.0", 90.2 * kSecond, u"01:30.2"}, {u"yyyy-mm-dd", 0.0, u"1899-12-30"},
        {u"yyyy-mm-dd", 0.0, u"1904-01-01", kUntouched, false, true},
        {u"[$-F800]", kFriday15March2024, u"Friday, March 15, 2024"}, {u"[$-F400]", 0.75, u"6:00:00 PM"},
        {u"[$-F800]", kFriday15March2024, u"15. březen 2024", kUntouched, true},
        // Elapsed times count whole units of the value rounded to milliseconds.
        {u"[h]", 1.5, u"36"}, {u"[mm]", 0.5, u"720"}, {u"[h]:mm:ss", -1.5, u"-36:00:00"},
        {u"[ss] \"s\"", 2.0 / 86400, u"02 s"}, {u"[hm]0", 2.0, u"2"},
        // The text road.
        {u"0;0;0", u"abc", u"abc"}, {u"[Red]", u"x", u"x", 0x0000FF}, {u"[Red]general", u"x", u"x", 0x0000FF},
        {u"[Red]0", u"x", u"x"}, {u"0;0;0;[Blue]\"<\"@\">\"", u"t", u"<t>", 0xFF0000}, {u"0;0;0;", u"ab", u""},
        {u"0;0;0;@;[Red]", u"ab", u"ab"}, {u"0\\;0;@", 1.0, u"0;1"},
        // Damaged formats end where the text ends.
        {u"\"abc", 1.0, u"abc"}, {u"0\\", 1.0, u"1"}, {u"0_", 1.0, u"1 "}, {u"0*", 1.0, u"1"}, {u"0[Red", 1.0, u"1"},
        {u"[$", 1.0, u""}, {u"[<x]0", 1.0, u"1"}, {u"", TVariant(), u""}, {u"0", TVariant::Null(), u""},
    };
    for (const Case& c : cases) {
        std::uint32_t colour = kUntouched;
        const TFormatSettings& s = c.czech ? cz : InvariantFormatSettings();
        EXPECT_EQ(Utf16ToUtf8(XlsFormatValue1904(c.value, c.format, c.dates1904, colour, &s)), Utf16ToUtf8(c.text))
            << Utf16ToUtf8(c.format);
        EXPECT_EQ(colour, c.colour) << Utf16ToUtf8(c.format);
    }
}

TEST(NumberFormat, LongElapsedBracketsAndLocaleBrackets) {
    std::uint32_t colour = 0;
    std::u16string format = u"[" + std::u16string(10000, u'h') + u"]";
    std::u16string text = XlsFormatValue(TVariant(1.0), format, colour);
    EXPECT_EQ(text, std::u16string(9998, u'0') + u"24");

    // A locale bracket takes the source's settings.
    struct Source : IFormatSettingsSource {
        TFormatSettings LocaleSettings() const override { return Czech(); }
    };
    SetFormatSettingsSource(std::make_shared<Source>());
    EXPECT_EQ(XlsFormatValue1904(TVariant(1234.5), u"#,##0.00 [$Kč-405]", false, colour, &InvariantFormatSettings()),
              u"1\u00A0234,50 Kč");
    EXPECT_EQ(XlsFormatValue(TVariant(1234.5), u"#,##0.00", colour), u"1\u00A0234,50");
    SetFormatSettingsSource(nullptr);
}

// What a number shown in General may become in a cell too narrow for it;
// other formats, dates and texts have no narrower form (they show "#").
TEST(NumberFormat, GeneralNarrowerFormsFewerDecimalsThenScientific) {
    using Forms = std::vector<std::u16string>;
    const TFormatSettings cz = Czech();
    struct FormsCase {
        const char16_t* format;
        TVariant value;
        Forms forms;
        bool czech = false;
    } cases[] = {
        {u"General", 12345678901234.0,
         {u"1.2345678901234E+13", u"1.234567890123E+13", u"1.23456789012E+13", u"1.2345678901E+13",
          u"1.23456789E+13", u"1.2345679E+13", u"1.234568E+13", u"1.23457E+13", u"1.2346E+13",
          u"1.235E+13", u"1.23E+13", u"1.2E+13", u"1E+13"}},
        {u"", 123.456,
         {u"123.46", u"123.5", u"123", u"1.23456E+02", u"1.2346E+02", u"1.235E+02", u"1.23E+02", u"1.2E+02",
          u"1E+02"}},
        // Rounding that leaves trailing zeros gives each text once.
        {u"GENERAL", -1.2996, {u"-1.3", u"-1", u"-1.2996E+00", u"-1.3E+00", u"-1E+00"}},
        // Halves go away from zero, on the exact value: 2.675 is a little less.
        {u"General", 2.675, {u"2.67", u"2.7", u"3", u"2.675E+00", u"2.67E+00", u"2.7E+00", u"3E+00"}},
        {u"General", 9.96, {u"10", u"9.96E+00", u"1E+01"}},
        // Decimals go only while a significant digit stays.
        {u"General", 0.000123, {u"0.00012", u"0.0001", u"1.23E-04", u"1.2E-04", u"1E-04"}},
        {u"General", 5.0, {u"5E+00"}},
        {u"[Red]General", 2.5, {u"3", u"2.5E+00", u"3E+00"}},
        {u"General", 1234.5, {u"1235", u"1,2345E+03", u"1,235E+03", u"1,23E+03", u"1,2E+03", u"1E+03"}, true},
        // The second section shows negatives without their sign.
        {u"General;General", -7.25, {u"7.3", u"7", u"7.25E+00", u"7.3E+00", u"7E+00"}},
        {u"General", 1e300, {u"1E+300"}},
        {u"0.00", 12345678901234.0, {}},
        {u"d.m.yyyy", 45366.0, {}},
        {u"", TVariant::FromDate(45366.0), {}},
        {u"General", u"text", {}},
        {u"General", true, {}},
        {u"0;General", -3.5, {u"4", u"3.5E+00", u"4E+00"}},
        {u"0;General", 3.5, {}},
    };
    for (const FormsCase& c : cases) {
        const Forms forms = XlsGeneralNarrowerForms(c.value, c.format, c.czech ? &cz : &InvariantFormatSettings());
        std::string got;
        for (const std::u16string& f : forms) got += Utf16ToUtf8(f) + " ";
        std::string want;
        for (const std::u16string& f : c.forms) want += Utf16ToUtf8(f) + " ";
        EXPECT_EQ(got, want) << Utf16ToUtf8(c.format);
    }
}
