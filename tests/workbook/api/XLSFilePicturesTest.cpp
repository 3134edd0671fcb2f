// Pictures added, replaced, cleared and placed through the workbook file
// and the facade: equal images share one stored entry, places outside the
// sheet are refused before anything changes, pixel places become cells.
#include "tests/workbook/api/XLSFileTestSupport.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/drawing/UXlsEscher.h"

using namespace xlsfiletest;

namespace {

const std::vector<std::uint8_t> PngBytes = {0x89, 'P', 'N', 'G', 1, 2, 3};
const std::vector<std::uint8_t> JpegBytes = {0xFF, 0xD8, 0xFF, 0xE0, 9, 9};

// Reference counts of the stored entries, in store order.
std::vector<std::uint32_t> StoreCounts(TXLSFile& file) {
    std::vector<std::uint32_t> counts;
    const TEscherBStoreRecord* store = file.GetTWorkbook().Globals().DrawingGroup().GetRecordCache()->BStore;
    for (std::size_t i = 0; store && i < store->Children().Count(); ++i)
        counts.push_back(static_cast<const TEscherBSERecord*>(store->Children()[i])->References());
    return counts;
}

}  // namespace

TEST(XLSFilePictures, EqualImagesStoredOnce) {
    auto file = Opened();
    const TImageProperties place{2, 10, 3, 20, 4, 30, 6, 40, u"a.png"};
    file->AddImage(PngBytes, TXlsImgTypes::xli_Png, place, TKmrAnchorType::at_MoveAndResize);
    file->AddImage(JpegBytes, TXlsImgTypes::xli_Jpeg, place, TKmrAnchorType::at_DontMoveAndDontResize);
    file->AddImage(PngBytes, TXlsImgTypes::xli_Png, place, TKmrAnchorType::at_MoveAndDontResize);
    EXPECT_EQ(Picture(*file, 0, 1), (TPicture{JpegBytes, TXlsImgTypes::xli_Jpeg, {3, 2, 10, 3, 20, 4, 30, 6, 40}}));
    // Smaller entries first; the PNG shown twice is stored once (pictures_check.py reads the store).
    const std::vector<std::pair<std::function<void()>, std::vector<std::uint32_t>>> steps = {
        {[&] { file->AssignPicture(0, 0, PngBytes, TXlsImgTypes::xli_Png); }, {1, 2}},
        {[&] { file->AssignPicture(3, 2, JpegBytes, TXlsImgTypes::xli_Jpeg); }, {2, 1}},
        {[&] { file->AssignPicture(0, 0, JpegBytes, TXlsImgTypes::xli_Jpeg); }, {3}},
        // The placeholder DIB, given back with a file header.
        {[&] { file->ClearImage(1); }, {2, 1}},
    };
    for (const auto& [step, counts] : steps) {
        step();
        EXPECT_EQ(StoreCounts(*file), counts);
    }
    const auto cleared = Picture(*file, 0, 1).Bytes;
    ASSERT_EQ(cleared.size(), 68u);
    EXPECT_EQ(std::make_tuple(Picture(*file, 0, 1).Type, cleared[0], cleared[1], cleared[14], cleared[18], cleared[54]),
              std::make_tuple(TXlsImgTypes::xli_Bmp, 'B', 'M', 40, 1, 0xFF));
}

TEST(XLSFilePictures, RefusalsChangeNothing) {
    auto file = Opened();
    file->AddImage(PngBytes, TXlsImgTypes::xli_Png, {1, 0, 1, 0, 2, 0, 2, 0, {}}, TKmrAnchorType::at_MoveAndResize);
    const auto with = [](auto change) {
        TImageProperties p{1, 0, 1, 0, 2, 0, 2, 0, {}};
        change(p);
        return p;
    };
    TXLSFile unconnected(nullptr, true);
    ExpectRefused(*file, {
        {[&] { unconnected.AddImage(PngBytes, TXlsImgTypes::xli_Png, {}, {}); }, "There is no open file"},
        {[&] { file->AddImage(PngBytes, TXlsImgTypes::xli_Png, with([](auto& p) { p.Row2 = 70000; }), {}); },
         "The index \"70000\" of the property \"Row2\" is not in the range 1-65536"},
        {[&] { file->AddImage(PngBytes, TXlsImgTypes::xli_Png, with([](auto& p) { p.Col1 = 0; }), {}); },
         "The index \"0\" of the property \"Col1\" is not in the range 1-256"},
        {[&] { file->AssignPictureProperties(0, 0, with([](auto& p) { p.Dx2 = 1025; }), {}); },
         "The index \"1025\" of the property \"Dx2\" is not in the range 0-1024"},
        {[&] { file->AssignPicture(0, 0, JpegBytes, TXlsImgTypes::xli_Jpeg, with([](auto& p) { p.Dy1 = -1; }), {}); },
         "The index \"-1\" of the property \"Dy1\" is not in the range 0-255"},
        {[&] { file->AssignPicture(0, 1, JpegBytes, TXlsImgTypes::xli_Jpeg); }, "Index out of range"},
        {[&] { file->AssignPicture(5, 0, JpegBytes, TXlsImgTypes::xli_Jpeg); }, "Index out of range"},
        {[&] { file->ClearImage(1); }, "The index \"1\" of the property \"ImageIndex\" is not in the range 0-1"},
    });
}

// Pixels to cells: columns 70 pixels wide; empty rows have the default
// height, 17 pixels.
TEST(XLSFilePictures, PlacedByPixelsThroughTheFacade) {
    TXLSAdapter adapter;
    TKalmiraImport xls;
    xls.SetAdapter(&adapter);
    xls.NewFile(1);
    auto& file = dynamic_cast<TXLSFile&>(*xls.GetWorkbook());
    for (int c = 1; c <= 4; ++c) file.SetColumnWidth(c, 2560);
    file.SetColumnHidden(3, true);
    // 100 pixels right: 30 into column 2; 70 wide: over the hidden column 3
    // (0 pixels) to 30 into column 4.
    xls.AddPicture(PngBytes, TXlsImgTypes::xli_Png, 1, 1, 10, 100, 30, 70, TKmrAnchorType::at_MoveAndResize);
    EXPECT_EQ(Picture(file, 0, 0).Anchor, (TClientAnchor{0, 2, 439, 1, 150, 4, 439, 3, 90}));
    xls.AssignPicture(0, JpegBytes, TXlsImgTypes::xli_Jpeg, 2, 2, 0, 0, 20, 35,
                      TKmrAnchorType::at_DontMoveAndDontResize);
    EXPECT_EQ(Picture(file, 0, 0), (TPicture{JpegBytes, TXlsImgTypes::xli_Jpeg, {3, 2, 0, 2, 0, 2, 512, 3, 45}}));
    // An edge exactly on a cell's end stays in that cell.
    xls.AddPicture(PngBytes, TXlsImgTypes::xli_Png, 1, 1, 0, 0, 20, 140, TKmrAnchorType::at_MoveAndDontResize);
    EXPECT_EQ(Picture(file, 0, 1).Anchor, (TClientAnchor{2, 1, 0, 1, 0, 2, 1024, 2, 45}));
    EXPECT_EQ(MessageOf([&] { xls.AddPicture(PngBytes, TXlsImgTypes::xli_Png, 1, 1, 0, 0, -1, 10, {}); }),
              "The index \"-1\" of the property \"Height\" is not in the range 0-2147483647");
}

TEST(XLSFilePictures, AutoFilter) {
    auto file = Opened();
    const auto buttons = [&] { return file->GetTWorkbook().WorkSheets(0).Drawing().Cache()->Obj.Count(); };
    file->SetAutoFilter(2, 1, 3);
    file->SetAutoFilter(4, 2, 3);
    EXPECT_EQ(std::make_tuple(file->HasAutoFilter(), file->HasAutoFilter(4, 2), file->HasAutoFilter(2, 1), buttons()),
              std::make_tuple(true, true, false, std::size_t{2}));
    ExpectRefused(*file, {{[&] { file->SetAutoFilter(65537, 1, 1); },
                           "The index \"65536\" of the property \"Row\" is not in the range 0-65535"},
                          {[&] { file->SetAutoFilter(1, 1, 257); },
                           "The index \"256\" of the property \"Column\" is not in the range 0-255"}});
    file->SetAutoFilter(4, 3, 2);
    EXPECT_EQ(std::make_tuple(file->HasAutoFilter(), file->HasAutoFilter(4, 2), buttons()),
              std::make_tuple(false, false, std::size_t{0}));
}
