// Pictures through the workbook file: numbers and rows, bytes and anchors
// (drawing_check.py judges deletions and comments through olefile, xlrd and
// LibreOffice); the anchors of each kind after a column changes width.
#include "tests/workbook/api/XLSFileTestSupport.h"

using namespace xlsfiletest;

namespace {

// The 6 x 4 PNG that notes.xls shows twice (A2 and B21).
const std::vector<std::uint8_t> Png = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x06,
    0x00, 0x00, 0x00, 0x04, 0x08, 0x02, 0x00, 0x00, 0x00, 0x22, 0x66, 0xD9, 0x14, 0x00, 0x00, 0x00, 0x14, 0x49, 0x44, 0x41,
    0x54, 0x78, 0x9C, 0x63, 0x3C, 0x21, 0x27, 0xC7, 0x80, 0x0A, 0x98, 0x18, 0x30, 0x00, 0x71, 0x42, 0x00, 0x4D, 0x4E, 0x01,
    0x0C, 0x0C, 0x10, 0xFD, 0xF7, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

}  // namespace

TEST(XLSFileDrawing, PicturesByNumberAndByRow) {
    for (const std::string fixture : {"notes", "notes_count0"}) {
        SCOPED_TRACE(fixture);
        auto file = Opened(fixture);
        file->BeginSheet();
        // Numbers in load order: the PNG and the JPEG on row 2, the PNG on row 21.
        EXPECT_EQ(std::make_tuple(file->GetPicturesCount(0), file->GetPicturesCount(2), file->GetPicturesCount(3),
                                  file->GetPicturesCount(21)),
                  std::make_tuple(3, 2, 0, 1));
        const TPicture first = Picture(*file, 0, 0), jpeg = Picture(*file, 2, 1), last = Picture(*file, 21, 0);
        EXPECT_EQ(first.Bytes, Png);
        EXPECT_EQ(last.Bytes, Png);
        EXPECT_EQ(std::make_tuple(first.Type, jpeg.Type, jpeg.Bytes.size()),
                  std::make_tuple(TXlsImgTypes::xli_Png, TXlsImgTypes::xli_Jpeg, std::size_t{634}));
        EXPECT_EQ(first.Anchor, (TClientAnchor{3, 1, 46, 2, 57, 3, 0, 3, 255}));
        EXPECT_EQ(MessageOf([&] { Picture(*file, 2, 2); }), "Index out of range");
        file->SetActiveSheet(2);
        file->BeginSheet();
        EXPECT_EQ(file->GetPicturesCount(0), 0);  // a chart only
    }
}

// Column 1 (from 0) of three columns of 70 pixels widens to 140, or column
// 0 does: kind 0 keeps its cells, kind 2 its first corner and its width,
// kind 3 its place on the sheet.
TEST(XLSFileDrawing, AnchorKindsAfterAColumnWidens) {
    const struct {
        std::uint16_t Kind;
        int Column;
        TClientAnchor Expected;
    } cases[] = {
        {0, 1, {0, 1, 0, 1, 0, 2, 512, 3, 0}},
        {2, 1, {2, 1, 0, 1, 0, 1, 768, 3, 0}},
        {2, 0, {2, 1, 0, 1, 0, 2, 512, 3, 0}},
        {3, 0, {3, 0, 512, 1, 0, 1, 512, 3, 0}},
        {3, 1, {3, 1, 0, 1, 0, 1, 768, 3, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.Kind << ", column " << c.Column);
        auto file = Opened("shapes");
        TWorkSheet& sheet = file->GetTWorkbook().WorkSheets(0);
        for (int col = 0; col < 3; ++col) sheet.SetColWidth(col, 2560);
        sheet.Drawing().SetAnchor(0, {c.Kind, 1, 0, 1, 0, 2, 512, 3, 0}, sheet.Measure());
        sheet.SetColWidth(c.Column, 5120);
        file->RestoreObjectSizes();
        EXPECT_EQ(sheet.Drawing().GetAnchor(0), c.Expected);
    }
}

namespace {

// Each picture is listed on the row its anchor starts on, among the
// pictures by row; the rows the pictures start on.
std::vector<int> ExpectListedByRow(TXLSFile& file) {
    std::vector<int> rows;
    for (int n = 0; n < file.GetPicturesCount(0); ++n) {
        const TPicture picture = Picture(file, 0, n);
        const int row = picture.Anchor.Row1;
        bool listed = false;
        for (int i = 0; i < file.GetPicturesCount(row); ++i) listed = listed || Picture(file, row, i) == picture;
        EXPECT_TRUE(listed) << "picture " << n << " on row " << row;
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

// Without BeginSheet in between, the pictures by row follow the active
// sheet and rows inserted and deleted above them.
TEST(XLSFileDrawing, PicturesByRowFollowChanges) {
    auto file = Opened("shapes_flags");  // the pictures move with their cells
    file->BeginSheet();
    const std::vector<int> rows = ExpectListedByRow(*file);
    ASSERT_EQ(rows, (std::vector<int>{2, 2}));
    file->SetActiveSheet(2);  // a chart only
    EXPECT_EQ(std::make_pair(file->GetPicturesCount(0), file->GetPicturesCount(2)), std::make_pair(0, 0));
    file->SetActiveSheet(1);
    EXPECT_EQ(file->GetPicturesCount(2), 2);
    file->InsertAndCopyRows(65536, 65536, 1, 3, false);
    EXPECT_EQ(ExpectListedByRow(*file), (std::vector<int>{5, 5}));
    EXPECT_EQ(std::make_pair(file->GetPicturesCount(2), file->GetPicturesCount(5)), std::make_pair(0, 2));
    file->DeleteRows(1, 2);
    EXPECT_EQ(ExpectListedByRow(*file), (std::vector<int>{3, 3}));
    EXPECT_EQ(std::make_pair(file->GetPicturesCount(5), file->GetPicturesCount(3)), std::make_pair(0, 2));
    file->DeleteSheet(1);  // sheet 1 goes: the chart sheet is the first
    EXPECT_EQ(file->GetPicturesCount(3), 0);
}
