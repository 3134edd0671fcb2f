// Hyperlinks, merged cells, column settings, outlines and
// page breaks through the workbook file: xlsroundtrip's options change the
// committed fixtures, its listings and xlrd read the result back; refused
// calls say why and leave the next save as it was.
#include "tests/workbook/api/XLSFileTestSupport.h"

using namespace xlsfiletest;
using namespace ole2test;
using TLines = std::vector<std::string>;

namespace {

const std::string Tool = ORVELO_BINARY_DIR "/tests/tools/xlsroundtrip/xlsroundtrip ";

// The fixture changed by xlsroundtrip's options, saved in the build tree.
std::string Changed(const std::string& fixture, const std::string& options) {
    const std::string out = Out(fixture + ".xls");
    Run(Tool + FixtureDir() + "/" + fixture + ".xls " + out + " " + options);
    return out;
}

// What xlsroundtrip lists of a file.
TLines Listed(const std::string& option, const std::string& path) { return Lines(ole2test::Run(Tool + option + " " + path)); }

}  // namespace

// Links added (corners in either order), copied and deleted with their rows
// and moved to sheet 2 by the sheets put before it are listed from 1 where
// xlrd finds them from 0.
TEST(XLSFileRangeOps, HyperLinks) {
    const std::string saved = Changed("hlinks", "--link 1 8 3 6 2 url http://example.com/ Range '' Tip "
                                                "--copy-rows 1 1 1 3 1 --delete-rows 1 4 1 --insert-sheets 0 1 2 --delete-sheets 1 1");
    EXPECT_EQ(Listed("--links", saved),
              (TLines{"2\t1\t1\t1\t1\turl\tWeb link\t\t\thttp://example.com/a?b=c\t", "2\t2\t1\t2\t1\tworkbook\tInternal\t\tData!B2\t\t",
                      "2\t4\t1\t4\t1\tfile\tUp\t\t\t..\\..\\..\\dir/Řeka.xls\t", "2\t5\t1\t5\t1\tfile\tShare\t\t\t\\\\srv\\share\\f.xls\t",
                      "2\t6\t2\t8\t3\turl\tRange\t\t\thttp://example.com/\tTip", "2\t3\t1\t3\t1\turl\tWeb link\t\t\thttp://example.com/a?b=c\t"}));
    const TLines xlrd = Lines(OleCheck("links", saved));
    EXPECT_EQ(TLines(xlrd.begin() + 4, xlrd.begin() + 6), (TLines{"xlrd\tOdkazy\t5\t7\t1\t2\turl\thttp://example.com/\tRange\tNone\tTip",
                                                                  "xlrd\tOdkazy\t2\t2\t0\t0\turl\thttp://example.com/a?b=c\tWeb link\tNone\tNone"}));

    auto file = Opened("hlinks");
    ExpectRefused(*file, {{[&] { file->GetHyperLink(0); }, R"(The index "0" of the property "HyperLinkIndex" is not in the range 1-5)"},
                          {[&] { file->DeleteHyperLink(6); }, R"(The index "6" of the property "HyperLinkIndex" is not in the range 1-5)"},
                          {[&] { file->AddHyperLink({1, 65537, 1, 1}, {}); }, "Invalid Row (65536)"},
                          {[&] { file->SetHyperLinkCellRange(1, {1, 1, 257, 1}); }, "Invalid Column (256)"},
                          {[&] { file->GetRangeSheet(1); }, R"(The index "1" of the property "NameIndex" is not in the range 1-0)"}});
}

// Merging grows over the ranges it meets and unmerging takes only exact
// ones; the list counts from 0, its cells from 1.
TEST(XLSFileRangeOps, MergedCells) {
    const std::string saved = Changed("ranges", "--merge 1 32 3 31 2 --merge 1 30 1 31 2 --merge 1 40 1 40 1 "
                                                "--unmerge 1 5 2 6 2 --unmerge 1 10 2 12 2");
    const TLines listed = Listed("--merged", saved);  // then Sheet2's 1,100
    EXPECT_EQ(TLines(listed.begin(), listed.begin() + 5), (TLines{"1\t1\t2\t1\t4", "1\t5\t2\t6\t3", "1\t20\t5\t20\t7", "1\t30\t1\t32\t3", "2\t1\t1\t1\t2"}));
    EXPECT_EQ(Lines(OleCheck("ranges", saved)).at(0), "xlrd 1 merged B1:D1 B5:C6 E20:G20 A30:C32");

    auto file = Opened("ranges");
    EXPECT_EQ((std::vector<TXlsCellRange>{file->GetCellMergedList(1), file->GetCellMergedBounds(6, 3), file->GetCellMergedBounds(7, 3)}),
              (std::vector<TXlsCellRange>{{2, 5, 3, 6}, {2, 5, 3, 6}, {3, 7, 3, 7}}));
    ExpectRefused(*file, {{[&] { file->MergeCells(65537, 1, 1, 2); }, "Invalid Row (65536)"}, {[&] { file->UnMergeCells(1, 0, 1, 2); }, "Invalid Column (-1)"}});
}

// Widths, hidden columns, a format, levels and breaks set on layout.xls
// (breaks below row 4 and right of column 2 as read); the marked row 2 ends
// its page, its mark emptied.
TEST(XLSFileRangeOps, ColumnsOutlinesAndBreaks) {
    const std::string saved = Changed("layout", "--col-width 1 5 5000 --col-hidden 1 4 1 --col-hidden 1 2 0 --col-format 1 1 20 "
                                                "--outline 1 cols 10 11 2 --outline 1 rows 21 22 3 --page-break 1 10 "
                                                "--col-break 1 5 --mark-breaks 1 21");
    EXPECT_EQ(Lines(OleCheck("layout", saved)),
              (TLines{"col 0-0 3429 0 0", "col 1-1 2286 0 0", "col 2-2 4572 0 0", "col 3-3 1714 1 0", "col 4-4 5000 0 0",
                      "col 5-6 1714 0 1", "col 7-8 2581 0 0", "col 9-10 2581 0 2", "col 11-255 2581 0 0", "row 5 1 0",
                      "row 6 1 0", "row 20 3 0", "row 21 3 0", "hbreak 2", "hbreak 4", "hbreak 10", "vbreak 2", "vbreak 5"}));

    auto file = Opened(saved);
    EXPECT_EQ(std::make_pair(file->GetCellFormat(1, 1), file->GetCellValue(2, 1).IsEmpty()), std::make_pair(20, true));
    ExpectRefused(*file, {{[&] { file->SetColumnWidth(2, 70000); }, R"(The index "70000" of the property "ColumnWidth" is not in the range 0-65535)"},
                          {[&] { file->SetColOutlineLevel(250, 257, 1); }, "Invalid Column (256)"},
                          {[&] { file->SetRowOutlineLevel(1, 2, 8); }, R"(The index "8" of the property "OutlineLevel" is not in the range 0-7)"},
                          {[&] { file->SetColumnFormat(1, 5000); }, R"(The index "5000" of the property "XF" is not in the range 0-)" +
                                                                         std::to_string(file->GetTWorkbook().Globals().XF().Count() - 1)},
                          {[&] { file->InsertHPageBreak(65536); }, "Invalid Row (65536)"}, {[&] { file->SetColumnHidden(300, true); }, "no exception"}});

    // Rows 3 and 7 marked: breaks below them, counted before a cell empties.
    file = Opened("", 3);
    for (int row : {3, 7}) file->SetCellValue(row, 2, TVariant(u"P"));
    file->MakePageBreaks(u"P");
    EXPECT_TRUE(file->HasHPageBreak(3) && file->HasHPageBreak(7) && file->GetCellValue(3, 2).IsEmpty() && file->GetCellValue(7, 2).IsEmpty());
    for (int row = 10; row < 1034; ++row) file->InsertHPageBreak(row);
    file->SetCellValue(9, 1, TVariant(u"P"));  // the 1,027th
    ExpectRefused(*file, {{[&] { file->MakePageBreaks(u"P"); }, "Too many manual Page breaks for this sheet"}});
}
