// The hyperlinks of LibreOffice's workbook hlinks (a URL, a place in the
// workbook, two relative files, a share) read, written again, moved with
// their rows and columns, and read back by xlrd and LibreOffice.
#include <gmock/gmock.h>

#include "tests/workbook/book/WorkbookFiles.h"
#include "tests/workbook/storage/RecordBytes.h"

using namespace kalmira;
using namespace ole2test;

namespace {

using HL = THyperLinkType;

std::vector<std::string> Links(const TWorkSheet& sheet) {
    std::vector<std::string> out;
    for (int i = 0; i < sheet.HyperLinkCount(); ++i) {
        const TXlsCellRange r = sheet.GetHyperLinkCellRange(i);
        std::string line;
        for (int n : {r.Top, r.Left, r.Bottom, r.Right}) line += std::to_string(n) + " ";
        out.push_back(line + Utf16ToUtf8(sheet.GetHyperLink(i).Description) + " " + Utf16ToUtf8(sheet.GetHyperLink(i).Hint));
    }
    return out;
}

}  // namespace

TEST(HyperLinks, LibreOfficeLinksReadWriteAndMove) {
    const std::string path = std::string(ORVELO_BINARY_DIR) + "/hlinks-moved.xls";
    WriteFile(path, booktest::RoundTrip(FixtureDir() + "/hlinks.xls", [](TWorkbook& book) {
        auto& sheet = book.WorkSheets(0);
        std::vector<THyperLink> links;
        std::vector<std::int64_t> sizes;
        for (int i = 0; i < sheet.HyperLinkCount(); ++i) {
            links.push_back(sheet.GetHyperLink(i));
            sheet.SetHyperLink(i, links.back());
            sizes.push_back(sheet.HyperLinks().GetItems(static_cast<std::size_t>(i))->TotalSize() - 4);
        }
        // Each link set as read (XLSFileRangeOps lists them): only the files'
        // Unicode extensions go, where 8 bits hold the path.
        EXPECT_EQ(sizes, (std::vector<std::int64_t>{124, 74, 110, 135, 116}));

        links[0].Hint = u"Tip";
        sheet.SetHyperLink(0, links[0]);
        const TSheetInfo info = book.Globals().SheetInfo(0, 0);
        sheet.InsertAndCopyRowsAndCols(20, 21, 1, 1, 0, 0, 0, 0, info, false);  // two empty rows before row 2
        sheet.InsertAndCopyRowsAndCols(3, 3, 12, 2, 0, 0, 0, 0, info, false);   // "Internal" twice at row 13
        sheet.AddHyperLink({2, 8, 1, 5}, {HL::hl_URL, u"Range", u"", u"", u"http://example.com/", u"Range"});
        sheet.AddHyperLink({1, 3, 1, 4}, {HL::hl_CurrentWorkbook, u"Ends", u"", u"A1", u"", u""});
        sheet.AddHyperLink({1, 4, 2, 5}, {HL::hl_CurrentWorkbook, u"Deleted", u"", u"A1", u"", u""});
        sheet.DeleteHyperLink(9);
        sheet.DeleteRowsAndCols(4, 2, 0, 0, info);  // File and Up go, Range and Ends shrink
        EXPECT_EQ(Links(dynamic_cast<TWorkSheet&>(*sheet.CopyTo())), Links(sheet));
    }));
    EXPECT_EQ(Lines(OleCheck("links", path)),
              (std::vector<std::string>{
                  "xlrd\tOdkazy\t0\t0\t0\t0\turl\thttp://example.com/a?b=c\tWeb link\tNone\tTip",
                  "xlrd\tOdkazy\t3\t3\t0\t0\tworkbook\tNone\tInternal\tData!B2\tNone",
                  "xlrd\tOdkazy\t4\t4\t0\t0\tlocal file\t\\\\srv\\share\\f.xls\tShare\tNone\tNone",
                  "xlrd\tOdkazy\t10\t10\t0\t0\tworkbook\tNone\tInternal\tData!B2\tNone",
                  "xlrd\tOdkazy\t11\t11\t0\t0\tworkbook\tNone\tInternal\tData!B2\tNone",
                  "xlrd\tOdkazy\t4\t6\t1\t2\turl\thttp://example.com/\tRange\tNone\tRange",
                  "xlrd\tOdkazy\t3\t3\t1\t1\tworkbook\tNone\tEnds\tA1\tNone",
                  "lo A1", "lo A4", "lo A5", "lo A11", "lo A12"}));
}

// Columns copied in move links right and copy those inside the copied
// columns; rows pushed past the sheet's end stop at its last row.
TEST(HyperLinks, ColumnsAndTheSheetsEnd) {
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals, globals.SST());
    const TSheetInfo info = globals.SheetInfo(0, 0);
    sheet.AddHyperLink({0, 0, 0, 0}, {HL::hl_URL, u"A1", u"", u"", u"http://a/", u"Tip"});
    sheet.AddHyperLink({2, 65534, 2, 65535}, {HL::hl_URL, u"End", u"", u"", u"http://b/", u""});
    sheet.InsertAndCopyRowsAndCols(0, 0, 0, 0, 0, 0, 0, 2, info, false);
    sheet.InsertAndCopyRowsAndCols(0, 2, 0, 1, 0, 0, 0, 0, info, false);
    EXPECT_EQ(Links(sheet), (std::vector<std::string>{"3 2 3 2 A1 Tip", "65535 4 65535 4 End ", "3 0 3 0 A1 Tip",
                                                      "3 1 3 1 A1 Tip", "0 2 0 2 A1 Tip", "0 0 0 0 A1 Tip",
                                                      "0 1 0 1 A1 Tip"}));
}
