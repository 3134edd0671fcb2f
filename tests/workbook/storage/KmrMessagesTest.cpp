// The engine's text routines: numbers, upper case, dates and variants as
// text. They must not follow the process locale, which the application's
// toolkit changes at start-up.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "tests/workbook/storage/MessageOf.h"
#include "workbook/storage/UKmrMessages.h"

using namespace kalmira;

namespace {

// Every locale-sensitive result of the engine's text routines, in one text.
std::string Results() {
    std::string out;
    TFormatSettings s = InvariantFormatSettings();
    double v = 0;
    for (const char* t : {"1.5", "1,5", "-2.5e-3", "1.5x"}) {
        bool ok = TryStrToFloatInvariant(t, v);
        out += std::to_string(ok) + ":" + Utf16ToUtf8(VariantToString(TVariant(v), s)) + ";";
    }
    out += Utf16ToUtf8(WideUpperCase98(u"čřžýáíéúůďťňěöüß ÿ iı")) + ";";
    s.ShortDateFormat = u"d.M.yyyy";
    s.ShortTimeFormat = u"H:mm";
    std::u16string format;
    bool hasDate = false, hasTime = false;
    for (const char16_t* t : {u"3.4.2021 7:05", u"12:30", u"7:05 PM", u"31.2.2021"}) {
        v = 0;
        bool ok = KmrTryStrToDateTime(t, v, format, hasDate, hasTime, {}, {}, &s);
        out += std::to_string(ok) + ":" + Utf16ToUtf8(VariantToString(TVariant(v), s)) + ":" + Utf16ToUtf8(format) + ";";
    }
    out += Utf16ToUtf8(TryFormatDateTime(u"dddd d mmmm yyyy h:nn ampm", 44289.75, s));
    return out;
}

}  // namespace

TEST(KmrMessages, StringReplaceSkipQuotes) {
    EXPECT_EQ(StringReplaceSkipQuotes(u"h:mm ampm \"AMPM\"", u"AMPM", u"AM/PM"), u"h:mm AM/PM \"AMPM\"");
    EXPECT_EQ(StringReplaceSkipQuotes(u"AmPm\"ampm\"ampm", u"ampm", u"x"), u"x\"ampm\"x");
    EXPECT_EQ(StringReplaceSkipQuotes(u"čč\"č\"Č", u"Č", u"c"), u"cc\"č\"c");
    EXPECT_EQ(StringReplaceSkipQuotes(u"abc", u"", u"x"), u"abc");
}

TEST(KmrMessages, WideUpperCaseIsOneForOne) {
    // Czech letters, ÿ and ß: LocaleIndependence. No single upper-case
    // letter: unchanged, so the length never changes.
    EXPECT_EQ(WideUpperCase98(u"отчёт αβγ ǆ A1_\U0001F600"), u"ОТЧЁТ ΑΒΓ Ǆ A1_\U0001F600");
}

TEST(KmrMessages, TryStrToFloatInvariant) {
    const std::string huge(100000, '9');
    const std::pair<std::string, double> good[] = {{"1.5", 1.5}, {" +2.5e3 ", 2500}, {"-.25", -0.25}, {"7.", 7},
                                                   {"0." + huge, 1.0}};
    double v = 0;
    for (const auto& [text, value] : good) {
        EXPECT_TRUE(TryStrToFloatInvariant(text, v)) << text.substr(0, 9);
        EXPECT_EQ(v, value) << text.substr(0, 9);
    }
    v = 42;
    for (const std::string bad : {"1,5", "1.5x", "", " ", "+", ".", "1e", "1e+", "1.2.3", "inf", "nan", "0x10",
                                  "1e400", "--1", "1 000", huge.c_str()})
        EXPECT_FALSE(TryStrToFloatInvariant(bad, v)) << bad.substr(0, 9);
    EXPECT_EQ(v, 42);
}

// With the settings' separator: CellString.Analysis.

TEST(Variant, KindsAndConversions) {
    EXPECT_FALSE(TVariant::FromDate(2).IsNumeric());
    EXPECT_FALSE(TVariant(true).IsNumeric());
    EXPECT_NE(TVariant::FromDate(2), TVariant(2.0));
    for (auto [value, number] : {std::pair{TVariant(), 0.0}, {TVariant(true), -1.0},
                                 {TVariant(u"2.5"), 2.5}})
        EXPECT_EQ(value.AsDouble(), number);
    EXPECT_EQ(MessageOf([] { TVariant(u"abc").AsDouble(); }),
              "Could not convert variant of type (String) into type (Double)");
    EXPECT_THROW(TVariant::Null().AsDouble(), Exception);
}

TEST(Variant, VariantToString) {
    TFormatSettings s = InvariantFormatSettings();
    s.DecimalSeparator = u',';
    s.ShortDateFormat = u"d.m.yyyy";
    s.LongTimeFormat = u"hh:nn:ss";
    // A third, a comma and #DIV/0! as the number formats show them: NumberFormat.
    const std::pair<TVariant, std::u16string_view> cases[] = {
        {TVariant(), u""}, {TVariant::Null(), u""}, {TVariant(true), u"True"}, {TVariant(-17), u"-17"},
        {TVariant(0.1), u"0,1"}, {TVariant(123456789012345.0), u"123456789012345"}, {TVariant(1e15), u"1E15"},
        {TVariant(-2.5e-7), u"-2,5E-7"}, {TVariant(0.0001), u"0,0001"}, {TVariant(100.0), u"100"},
        {TVariant(std::nan("")), u"NAN"}, {TVariant::FromDate(44289), u"3.4.2021"},
        {TVariant::FromDate(44289.75), u"3.4.2021 18:00:00"}, {TVariant(u"Řádek"), u"Řádek"},
        {TVariant::FromError(0x2A), u"#N/A"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(VariantToString(value, s), text) << Utf16ToUtf8(text);
}

TEST(Variant, VariantToStringFollowsTheProcessSettings) {
    TFormatSettings s = InvariantFormatSettings();
    s.ShortDateFormat = u"dd.mm.yyyy hh:nn:ss";
    s.DecimalSeparator = u',';
    SetProcessFormatSettings(s);
    EXPECT_EQ(VariantToString(TVariant::FromDate(44289)), u"03.04.2021 00:00:00");
    EXPECT_EQ(VariantToString(TVariant(2.25)), u"2,25");
    SetProcessFormatSettings(InvariantFormatSettings());
    EXPECT_EQ(VariantToString(TVariant(2.25)), u"2.25");
}

namespace {

TFormatSettings Czech() {
    TFormatSettings s = InvariantFormatSettings();
    s.DateSeparator = u'.';
    s.ShortDateFormat = u"d.M.yyyy";
    s.LongDateFormat = u"d. MMMM yyyy";
    s.ShortTimeFormat = u"H:mm";
    s.LongTimeFormat = u"H:mm:ss";
    s.TimeAMString = u"dop.";
    s.TimePMString = u"odp.";
    s.LongMonthNames[3] = u"duben";
    s.ShortDayNames[6] = u"so";
    s.LongDayNames[6] = u"sobota";
    s.DecimalSeparator = u',';
    return s;
}

constexpr double k3April2021 = 44289;

}  // namespace

TEST(StrToDateTime, BadTextIsFalseAndTouchesNothing) {
    const TFormatSettings s = Czech();
    const std::u16string longDigits(100000, u'9');
    const std::u16string bad[] = {
        u"", u"   ", u"abc", u"2021", u"12", u"1,5", u"31.2.2021", u"0.1.2021", u"1.13.2021", u"24:00", u"7:60",
        u"7:05:60", u"1.2.3.4", u"3.4.2021 7:05 8:00", u"3.4.2021 4.5.2021", u"3.4.10000", u"7::05", u"3..4.2021",
        u"-3.4.2021", u"3.4.2021x", u"30.12.1899", u"007:05", u"3.4.02021", longDigits, u"3.4." + longDigits,
        longDigits + u":00"};
    for (const std::u16string& text : bad) {
        double value = -1;
        std::u16string format = u"untouched";
        bool hasDate = false, hasTime = false;
        EXPECT_FALSE(KmrTryStrToDateTime(text, value, format, hasDate, hasTime, {}, {}, &s))
            << Utf16ToUtf8(text.substr(0, 20));
        EXPECT_EQ(std::make_pair(value, format), std::make_pair(-1.0, std::u16string(u"untouched")));
    }
}

// Months, years and AM/PM as the number formats use them: NumberFormat.
// The first and last days shown; before the epoch the fraction is the time;
// values outside those days give hashes.
TEST(FormatDateTime, FieldsOfTheFormatLanguage) {
    TFormatSettings s = InvariantFormatSettings();
    double v = k3April2021 + (19 * 3600 + 5 * 60 + 9) / 86400.0 + 0.042 / 86400;
    for (auto [format, value, text] : {
             std::tuple<std::u16string_view, double, std::u16string_view>{u"d dd ddd dddd", v, u"3 03 Sat Saturday"},
        {u"h hh n nn s ss z zzz", v, u"19 19 5 05 9 09 42 042"}, {u"h:m:s", v, u"19:5:9"}, {u"hh:mm", v, u"19:05"},
        {u"h:mm Am/pM", v, u"7:05 pM"}, {u"hh a/p", v, u"07 p"}, {u"h ampm", v, u"7 PM"},
        {u"h:mm \"AM/PM\" am", v, u"19:05 AM/PM a4"}, {u"'d' \"yyyy\" x", v, u"d yyyy x"},
        {u"hh 'ampm", v, u"19 ampm"}, {u"h:mm", k3April2021, u"0:00"}, {u"h ampm", k3April2021, u"12 AM"},
        {u"yyyy-mm-dd", 2958465, u"9999-12-31"}, {u"yyyy-mm-dd", -693593, u"0001-01-01"},
        {u"yyyy-mm-dd hh:nn", -1.25, u"1899-12-29 06:00"},
        {u"yyyy-mm-dd hh:nn:ss.zzz", 0.99999999999, u"1899-12-31 00:00:00.000"}})
        EXPECT_EQ(TryFormatDateTime(format, value, s), text) << Utf16ToUtf8(format);
    for (double hashes : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300, 2958466.0, -693594.0})
        EXPECT_EQ(TryFormatDateTime(u"yyyy", hashes, s), u"##") << hashes;
}

TEST(FormatDateTime, ReadAndShowAgree) {
    const TFormatSettings s = Czech();
    double value = -1;
    std::u16string format;
    bool hasDate = false, hasTime = false;
    ASSERT_TRUE(KmrTryStrToDateTime(u"29.2.2024 23:59:58", value, format, hasDate, hasTime, {}, u"H:mm:ss", &s));
    EXPECT_EQ(TryFormatDateTime(u"d.M.yyyy H:mm:ss", value, s), u"29.2.2024 23:59:58");
}

TEST(FormatDateTime, NamedFormatsFromTheSettings) {
    TFormatSettings s = Czech();
    double v = k3April2021 + 0.75;
    EXPECT_EQ(TryFormatDateTime(u"c|ddddd|dddddd|t|tt|dddd", v, s),
              u"3.4.2021 18:00:00|3.4.2021|3. duben 2021|18:00|18:00:00|sobota");
    s.DateSeparator = u'-';
    s.TimeSeparator = u'.';
    EXPECT_EQ(TryFormatDateTime(u"d/m/yy h:nn", v, s), u"3-4-21 18.00");
    // Formats that name each other stop instead of recursing forever.
    s.ShortDateFormat = u"ddddd";
    EXPECT_NO_THROW(TryFormatDateTime(u"c", v, s));
}

TEST(LocaleIndependence, CzechLocaleGivesTheSameResultsAsC) {
    std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    std::string inC = Results();
    if (!std::setlocale(LC_ALL, "cs_CZ.UTF-8")) {
        std::setlocale(LC_ALL, before.c_str());
        if (std::getenv("CI")) FAIL() << "cs_CZ.UTF-8 is missing; scripts/deps test generates it";
        GTEST_SKIP() << "cs_CZ.UTF-8 is not generated on this machine";
    }
    std::string inCzech = Results();
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_EQ(inCzech, inC);
    EXPECT_EQ(inC,
              "1:1.5;0:1.5;1:-0.0025;0:-0.0025;"
              "ČŘŽÝÁÍÉÚŮĎŤŇĚÖÜß Ÿ II;"
              "1:44289.2951388889:d.M.yyyy H:mm;1:0.520833333333333:H:mm;1:0.795138888888889:H:mm;"
              "0:0:H:mm;"
              "Saturday 3 April 2021 6:00 PM");
}
