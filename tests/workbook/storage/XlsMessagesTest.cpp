#include "workbook/storage/XlsMessages.h"

#include <gtest/gtest.h>

using namespace kalmira;

TEST(FormatMessage, FollowsTheClassLibraryRules) {
    EXPECT_EQ(FormatMessage("0x%2x", {5}), "0x 5");
    EXPECT_EQ(FormatMessage("%u", {-1}), "4294967295");
    EXPECT_EQ(FormatMessage(ErrInvalidSheet, {std::u16string(u"List ě")}), "Invalid sheet: List ě");
    EXPECT_EQ(FormatMessage("%-4d|100%%", {7}), "7   |100%");
    EXPECT_EQ(FormatMessage("%d and %d", {1}), "1 and ");
}

TEST(Utf, RoundTripsEveryPlane) {
    std::u16string text = u"Řeřicha € \U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"\xD800"), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\xFFFD");
}
