#include "workbook/storage/XlsMessages.h"

#include <gtest/gtest.h>

using namespace kalmira;

TEST(FormatMessage, FollowsTheClassLibraryRules) {
    EXPECT_EQ(FormatMessage(ErrWrongExcelRecord, {0x23E}), "Record with ID 0x23E is invalid");
    EXPECT_EQ(FormatMessage("0x%2x", {5}), "0x 5");
    EXPECT_EQ(FormatMessage(ErrTooManyEntries, {65536, 65535}),
              "Too many entries for this kind of record (65536 out of a maximum of 65535)");
    EXPECT_EQ(FormatMessage(ErrInvalidRow, {-1}), "Invalid Row (-1)");
    EXPECT_EQ(FormatMessage("%u", {-1}), "4294967295");
    EXPECT_EQ(FormatMessage(ErrFileIsNotXLS, {std::string("a.xls")}), "The file \"a.xls\" is invalid");
    EXPECT_EQ(FormatMessage(ErrInvalidSheet, {std::u16string(u"List ě")}), "Invalid sheet: List ě");
    EXPECT_EQ(FormatMessage("%-4d|100%%", {7}), "7   |100%");
    EXPECT_EQ(FormatMessage("%d and %d", {1}), "1 and ");
}

TEST(FormatMessage, RaiseThrowsTheEngineException) {
    try {
        Raise(ErrEofReached, 6);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "End of stream reached with 6 bytes left to read");
    }
    EXPECT_THROW(Assert(false, "UOle2Impl"), Exception);
    EXPECT_NO_THROW(Assert(true, "UOle2Impl"));
}

TEST(Utf, RoundTripsEveryPlane) {
    std::u16string text = u"Řeřicha € \U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"\xD800"), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\xFFFD");
}
