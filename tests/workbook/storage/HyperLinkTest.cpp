// HLINK and HLINKTOOLTIP: links encoded into the bytes other programs write
// and read back; tips, CONTINUE chains and damaged links.
#include <gtest/gtest.h>

#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UXlsHyperLink.h"

using namespace kalmira;
using namespace ole2test;

namespace {

const std::string Head = "0000000000000000 d0c9ea79f9bace118c8200aa004ba90b 02000000 ";
// LibreOffice's link to http://example.com/a?b=c shown as "Web link".
const std::string WebLink =
    "0900000057006500620020006c0069006e006b000000 e0c9ea79f9bace118c8200aa004ba90b 32000000"
    "68007400740070003a002f002f006500780061006d0070006c0065002e0063006f006d002f0061003f0062003d0063000000";
const THyperLink Web{THyperLinkType::hl_URL, u"Web link", u"", u"", u"http://example.com/a?b=c", u""};
const Bytes WebData = Hex(Head + "17000000" + WebLink);

}  // namespace

TEST(HyperLinks, EveryKindEncodesAndDecodes) {
    const struct {
        THyperLink Link;
        std::string Data;
    } cases[] = {
        {Web, Head + "17000000" + WebLink},
        {{THyperLinkType::hl_CurrentWorkbook, u"Internal", u"", u"Data!B2", u"", u""},
         Head + "1c000000 0900000049006e007400650072006e0061006c000000 08000000 44006100740061002100420032000000"},
        {{THyperLinkType::hl_UNC, u"D", u"F", u"", u"\\\\srv\\share\\f.xls", u""},
         Head + "97010000 0200000044000000 0200000046000000 12000000 5c005c00730072007600 5c00730068006100720065005c00 66002e0078006c007300 0000"},
        {{THyperLinkType::hl_LocalFile, u"", u"", u"", u"..\\..\\dir\\\u0158eka.xls", u""},
         Head + "01000000 0303000000000000c000000000000046 0200 0d000000 6469725c3f656b612e786c7300 ffffadde"
                "0000000000000000000000000000000000000000 1e000000 18000000 0300"
                "6400690072005c005801 65006b0061002e0078006c007300"},
    };
    for (const auto& c : cases) {
        const THLinkRecord record({0, 0, 0, 0}, c.Link);
        EXPECT_EQ(record.Data, Hex(c.Data)) << Utf16ToUtf8(c.Link.Text);
        EXPECT_EQ(THLinkRecord(xlr_HLINK, Hex(c.Data)).GetProperties(), c.Link);
    }
}

// The tip is written behind its link with the link's range, follows the
// range, and goes with an empty hint; a tip behind CONTINUE records is
// attached too.
TEST(HyperLinks, TipsFollowTheirLink) {
    THyperLink tipped = Web;
    tipped.Hint = u"Tip";
    THLinkRecord record({0, 0, 0, 0}, tipped);
    record.SetCellRange({1, 2, 3, 4});
    const Bytes tip = Rec(0x800, Hex("0008 0200 0400 0100 0300 540069007000 0000"));
    const Bytes moved = Rec(0x1B8, Hex("0200040001000300" + Head.substr(16) + "17000000" + WebLink));
    EXPECT_EQ(Saved(record), Cat({moved, tip}));
    auto copy = record.CopyTo();
    record.SetProperties(Web);
    EXPECT_EQ(Saved(record), moved);
    EXPECT_EQ(static_cast<THLinkRecord&>(*copy).GetProperties(), tipped);

    TStreamFile f(Cat({Rec(0x1B8, Bytes(WebData.begin(), WebData.begin() + 50)),
                       Rec(0x3C, Bytes(WebData.begin() + 50, WebData.end())), tip, Rec(0x0A, {})}));
    EXPECT_EQ(dynamic_cast<THLinkRecord&>(*f.Next()).GetProperties(), tipped);
    EXPECT_EQ(f.Header.Id, 0x0A);
}

TEST(HyperLinks, DamagedLinksAndBadArguments) {
    // A GUID and a time stamp after the location are passed over.
    THLinkRecord full(xlr_HLINK, Hex(Head + "7f000000" + WebLink + "02000000 78000000" + std::string(48, '1')));
    THyperLink located = Web;
    located.TextMark = u"x";
    EXPECT_EQ(full.GetProperties(), located);

    THLinkRecord truncated(xlr_HLINK, Bytes(WebData.begin(), WebData.end() - 10));
    THLinkRecord huge(xlr_HLINK, Bytes(WebData.begin(), WebData.end() - 10));
    SetLongWord(huge.Data, 32, 0xFFFFFFFF);
    THyperLink tooLong = Web;
    tooLong.Description.assign(5000, u'x');
    EXPECT_EQ((std::vector<std::string>{MessageOf([&] { truncated.GetProperties(); }),
                                        MessageOf([&] { huge.GetProperties(); }),
                                        MessageOf([&] { truncated.SetProperties(tooLong); }),
                                        MessageOf([] { THLinkRecord(xlr_HLINK, Bytes(31)); })}),
              (std::vector<std::string>{"Error reading record", "Error reading record", "Invalid String record",
                                        "Record with ID 0x1B8 is invalid"}));
    // Bad ranges and indexes as the interface passes them: XLSFileRangeOps.
    EXPECT_EQ(truncated.Data, Bytes(WebData.begin(), WebData.end() - 10));
    EXPECT_EQ(CheckedLinkRange({5, 7, 2, 3}), (TXlsCellRange{2, 3, 5, 7}));
}
