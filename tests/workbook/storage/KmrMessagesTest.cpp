#include <gtest/gtest.h>

#include <cmath>

#include "tests/workbook/storage/MessageOf.h"
#include "workbook/storage/UKmrMessages.h"

using namespace kalmira;

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

TEST(KmrMessages, TryStrToFloatFollowsTheSettingsSeparator) {
    TFormatSettings cz = InvariantFormatSettings();
    cz.DecimalSeparator = u',';
    double v = 0;
    EXPECT_TRUE(TryStrToFloat(u"1,5", v, cz));
    EXPECT_EQ(v, 1.5);
    EXPECT_FALSE(TryStrToFloat(u"1.5", v, cz));
}

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
    const std::pair<TVariant, std::u16string_view> cases[] = {
        {TVariant(), u""}, {TVariant::Null(), u""}, {TVariant(true), u"True"}, {TVariant(-17), u"-17"},
        {TVariant(1.5), u"1,5"}, {TVariant(0.1), u"0,1"},
        {TVariant(1.0 / 3), u"0,333333333333333"}, {TVariant(123456789012345.0), u"123456789012345"},
        {TVariant(1e15), u"1E15"}, {TVariant(-2.5e-7), u"-2,5E-7"}, {TVariant(0.0001), u"0,0001"},
        {TVariant(100.0), u"100"}, {TVariant(std::nan("")), u"NAN"},
        {TVariant::FromDate(44289), u"3.4.2021"}, {TVariant::FromDate(44289.75), u"3.4.2021 18:00:00"},
        {TVariant(u"Řádek"), u"Řádek"}, {TVariant::FromError(0x07), u"#DIV/0!"},
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
