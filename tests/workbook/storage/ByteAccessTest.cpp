#include <gtest/gtest.h>

#include <vector>

#include "tests/workbook/storage/MessageOf.h"
#include "workbook/storage/XlsMessages.h"

using namespace kalmira;
using Bytes = std::vector<std::uint8_t>;

// Fields up to the last byte are read and written (as every record's are);
// one past the end fails and touches nothing.
TEST(ByteAccess, AFieldPastTheEndFailsAndTouchesNothing) {
    Bytes data{1, 2, 3, 4, 5};
    EXPECT_EQ(GetLongWord(data, 1), 0x05040302u);
    const Bytes before = data;
    EXPECT_EQ(MessageOf([&] { GetWord(data, 4); }), "Error reading record");
    EXPECT_EQ(MessageOf([&] { GetLongWord(data, 2); }), "Error reading record");
    EXPECT_EQ(MessageOf([&] { SetWord(data, 4, 0xFFFF); }), "Error reading record");
    EXPECT_EQ(MessageOf([&] { SetLongWord(data, 2, 0xFFFFFFFF); }), "Error reading record");
    EXPECT_EQ(MessageOf([&] { IncWord(data, 5, 1, 100); }), "Error reading record");
    EXPECT_EQ(MessageOf([&] { GetWord(data, SIZE_MAX); }), "Error reading record");
    EXPECT_EQ(data, before);
    EXPECT_EQ(MessageOf([&] { GetWord(Bytes{}, 0); }), "Error reading record");
}

TEST(ByteAccess, IncWordRefusesARangeOverflowAndKeepsTheField) {
    Bytes data{0xFF, 0xFF};
    EXPECT_EQ(MessageOf([&] { IncWord(data, 0, 1, 65535); }),
              "Too many entries for this kind of record (65536 out of a maximum of 65535)");
    EXPECT_EQ(data, (Bytes{0xFF, 0xFF}));
    Bytes low{0x02, 0x00};
    EXPECT_EQ(MessageOf([&] { IncWord(low, 0, -3, 100); }),
              "Too many entries for this kind of record (-1 out of a maximum of 100)");
    IncWord(low, 0, 98, 100);
    EXPECT_EQ(low, (Bytes{100, 0}));
}

// The whole size of a string: count (unless given), options, run count,
// far-east size, characters, runs, extension. -1: the header runs past the end.
TEST(BiffStrings, GetStrLenCountsHeaderCharactersRunsAndExtension) {
    auto size = [](bool wideCount, const Bytes& data, std::size_t pos, std::uint32_t given = 0) {
        std::int64_t n = -1;
        const std::string m = MessageOf([&] { n = GetStrLen(wideCount, data, pos, given > 0, given); });
        EXPECT_EQ(m, n < 0 ? "Error reading record" : "no exception");
        return n;
    };
    EXPECT_EQ(size(false, {0x03, 0x00, 0x61, 0x62, 0x63}, 0), 5);
    EXPECT_EQ(size(false, {0x03, 0x09, 0x02, 0x00}, 0), 18);  // three 16-bit characters, two runs
    EXPECT_EQ(size(false, {0x01, 0x04, 0x04, 0x00, 0x00, 0x00, 0x41, 1, 2, 3, 4}, 0), 11);  // far-east
    EXPECT_EQ(size(true, {0x02, 0x00, 0x0C, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00}, 0), 9 + 2 + 4 + 3);  // runs first
    EXPECT_EQ(size(false, {0x09, 0x02, 0x00}, 0, 3), 17);
    EXPECT_EQ(size(true, {0xEE, 0x00, 0x01, 0x01}, 1), 3 + 256 * 2);
    EXPECT_EQ(size(false, {0x03, 0x00}, 0), 5);  // the header may end at the last byte
    for (auto [wideCount, data, pos, given] : {std::tuple<bool, Bytes, std::size_t, std::uint32_t>{false, {0x03}, 0, 0},
                                               {true, {0x03, 0x00}, 0, 0}, {false, {0x03, 0x08, 0x01}, 0, 0},
                                               {false, {0x03, 0x04, 0x01, 0x00, 0x00}, 0, 0}, {false, {0x09}, 1, 3},
                                               {false, {0x03, 0x00}, 3, 0}})
        EXPECT_EQ(size(wideCount, data, pos, given), -1) << ::testing::PrintToString(data);
}

// 8 bits widen without a code page; characters past the end fail and leave
// the text and size as they were.
TEST(BiffStrings, GetSimpleString) {
    const std::tuple<bool, Bytes, std::size_t, std::uint32_t, std::u16string, std::int64_t> cases[] = {
        {false, {0x02, 0x00, 0xE8, 0x41}, 0, 0, u"\u00E8A", 4},
        {true, {0x02, 0x00, 0x01, 0x0D, 0x01, 0x41, 0x00}, 0, 0, u"čA", 7},
        {false, {0xFF, 0x08, 0x01, 0x00, 0x61, 0x00, 0x00, 0x00, 0x00}, 1, 1, u"a", 1 + 2 + 1 + 4},
        {false, {0x03, 0x00, 0x61, 0x62}, 0, 0, u"kept", 77}, {false, {0x02, 0x01, 0x61, 0x00, 0x62}, 0, 0, u"kept", 77}};
    for (const auto& [wideCount, data, pos, given, text, size] : cases) {
        std::u16string got = u"kept";
        std::int64_t gotSize = 77;
        const std::string m = MessageOf([&, wideCount = wideCount, &data = data, pos = pos, given = given] {
            GetSimpleString(wideCount, data, pos, given > 0, given, got, gotSize);
        });
        EXPECT_EQ(m, size == 77 ? "Error reading record" : "no exception") << ::testing::PrintToString(data);
        EXPECT_EQ(std::make_pair(got, gotSize), std::make_pair(text, size)) << ::testing::PrintToString(data);
    }
}

TEST(BiffStrings, EightBitConversionsAndCompression) {
    Bytes data{0, 0, 0, 0};
    CompressBestUnicode(u"ač", data, 1);
    EXPECT_EQ(data, (Bytes{0x00, 0x61, 0x3F, 0x00}));
    CompressBestUnicode(u"\u00E9", data, 3);  // the last byte
    EXPECT_EQ(data[3], 0xE9);
    EXPECT_EQ(MessageOf([&] { CompressBestUnicode(u"ab", data, 3); }), "Error reading record");
    EXPECT_EQ(data, (Bytes{0x00, 0x61, 0x3F, 0xE9}));
    EXPECT_EQ(StringToWideStringNoCodePage("\xE8\x41"), u"\u00E8A");
    EXPECT_EQ(WideStringToStringNoCodePage(u"\u00E8\u010D"), "\xE8\x0D");
}

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
