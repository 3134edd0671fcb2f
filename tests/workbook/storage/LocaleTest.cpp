// The engine's number, upper-case and date text must not follow the process
// locale, which the application's toolkit changes at start-up.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

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
