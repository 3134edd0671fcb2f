#include <tuple>
#include <type_traits>

#include "tests/workbook/api/XLSFileTestSupport.h"
#include "workbook/api/UKalmiraImport.h"

using namespace xlsfiletest;
using namespace ole2test;
namespace fs = std::filesystem;

namespace {

// Records the calls that reach it; answers an active sheet of 5 of 3.
struct TRecording : TExcelFile {
    std::vector<std::string>* calls;
    explicit TRecording(std::vector<std::string>* log) : calls(log) {}
    void Log(const std::string& s) { calls->push_back(s); }
    void Connect() override {}
    void Disconnect() override { Log("Disconnect"); }
    void CloseFile() override { throw Exception("closing fails"); }
    void OpenFileAndSearch(const std::string& name) override { Log("Open " + name); }
    std::int32_t GetActiveSheet() override { return 5; }
    std::int32_t SheetCount() override { return 3; }
    void SetActiveSheet(std::int32_t s) override { Log("SetActiveSheet " + std::to_string(s)); }
    void SelectSheet(std::int32_t s) override { Log("SelectSheet " + std::to_string(s)); }
    void InsertHPageBreak(std::int32_t row) override { Log("InsertHPageBreak " + std::to_string(row)); }
    TXlsCellValue GetCellValueX(std::int32_t, std::int32_t) override { return {TVariant(1.0), -1, true}; }
    std::int32_t FormatListCount() override { return 20; }
    // Every column 56 pixels, every row 20; cells 2-3 of each row merged.
    std::int32_t GetColumnWidthHiddenIsZero(std::int32_t) override { return 2048; }
    bool IsEmptyRow(std::int32_t) override { return false; }
    std::int32_t GetRowHeight(std::int32_t) override { return 300; }
    std::int32_t GetDefaultRowHeight() override { return 300; }
    TXlsCellRange GetCellMergedBounds(std::int32_t row, std::int32_t) override { return {2, row, 3, row}; }
    void SetCellComment(std::int32_t, std::int32_t, const std::u16string&, const TImageProperties& box) override { placed = box; }
    void AddImage(std::span<const std::uint8_t>, TXlsImgTypes, const TImageProperties& at, TKmrAnchorType) override { placed = at; }
    TImageProperties placed;
};

struct TRecordingAdapter : TExcelAdapter {
    std::vector<std::string> calls;
    std::unique_ptr<TExcelFile> GetWorkbook() override { return std::make_unique<TRecording>(&calls); }
};

}  // namespace

// Every operation that needs a workbook says so while none is open, and
// the opening roads need an adapter first.
TEST(KalmiraImport, Lifecycle) {
    TKalmiraImport xls;
    int refused = 0, total = 0;
#define KMR_FACADE_OP(result, name, target, params, args)                                       \
    ++total;                                                                                    \
    refused += MessageOf([&] { CallNeutral(xls, static_cast<result(TKalmiraImport::*) params>(&TKalmiraImport::name)); }) == \
               "There is no open file";
#include "workbook/api/UKalmiraImportOperations.inc"
    EXPECT_EQ(refused, total);
    for (const auto& call : std::vector<std::function<void()>>{[&] { xls.Save("x.xls"); },
                                                              [&] { xls.AddPicture(std::span<const std::uint8_t>(), TXlsImgTypes::xli_Png, 1, 1, 0, 0, 5, 5, {}); }})
        EXPECT_EQ(MessageOf(call), "There is no open file");
    for (const auto& call : std::vector<std::function<void()>>{[&] { xls.OpenFile("meters.xls"); }, [&] { xls.OpenText("a.csv", ';'); }})
        EXPECT_EQ(MessageOf(call), "There is no Adapter linked to the report");

    TXLSAdapter adapter;
    adapter.SetBasePathToOpen(FixtureDir() + "/");
    const std::string cut = Out("cut.xls");
    auto bytes = ReadFile(FixtureDir() + "/meters.xls");
    bytes.resize(bytes.size() / 2);
    WriteFile(cut, bytes);
    xls.SetAdapter(&adapter), xls.NewFile(2);  // unlinked, the workbook stays: Faults
    for (const std::string& name : std::vector<std::string>{"missing.xls", cut}) {
        EXPECT_NE(MessageOf([&] { xls.OpenFile(name); }), "no exception");
        EXPECT_EQ(std::make_pair(xls.IsLoaded(), xls.FileName()), std::make_pair(false, std::string()));
    }
    xls.OpenFile("meters.xls");
    EXPECT_EQ(std::make_pair(xls.GetSheetCount(), xls.FileName()), std::make_pair(4, std::string("meters.xls")));
    TKmrMemoryStream unterminated(std::vector<std::uint8_t>{'1', '\n', '"', 'x'});
    EXPECT_EQ(MessageOf([&] { xls.LoadFromTextStream(unterminated, ','); }), "Unterminated quoted text starting on line 2");
    EXPECT_FALSE(xls.IsLoaded());
    xls.CloseFile();
    xls.CloseFile();
    EXPECT_EQ(std::make_pair(xls.IsLoaded(), xls.GetWorkbook()), std::make_pair(false, static_cast<TExcelFile*>(nullptr)));
}

// Arguments arrive unchanged; a stored active sheet past the last ends
// with sheet 1 active and selected; a failing close is dropped.
TEST(KalmiraImport, PassThrough) {
    TRecordingAdapter adapter;
    TKalmiraImport xls;
    xls.SetAdapter(&adapter), xls.OpenFile("book.xls");
    xls.SetActiveSheet(3);
    xls.InsertHPageBreak(65535);
    EXPECT_EQ(MessageOf([&] { xls.GetCellValue(1, 1); }), "Abstract Error");
    EXPECT_TRUE(xls.GetIsFormula(1, 1));
    EXPECT_EQ(MessageOf([&] { xls.GetKmrFormatList(-1); }), "The index \"-1\" of the property \"FormatList\" is not in the range 0-19");
    auto& file = static_cast<TRecording&>(*xls.GetWorkbook());
    // A comment box starts a row up, right of the merged cell, 8 and 14
    // pixels in, 75 x 130 pixels; a picture where it is asked.
    xls.SetCellComment(3, 2, u"pozn.");
    EXPECT_EQ(std::make_tuple(file.placed.Row1, file.placed.Dy1, file.placed.Col1, file.placed.Dx1, file.placed.Row2, file.placed.Dx2),
              std::make_tuple(2, 102, 4, 256, 6, 585));
    TKmrMemoryStream png(std::vector<std::uint8_t>{1, 2, 3});
    xls.AddPicture(png, TXlsImgTypes::xli_Png, 7, 1, 3, 5, 40, 300, TKmrAnchorType::at_MoveAndResize);  // placed: XLSFilePictures
    EXPECT_EQ(MessageOf([&] { xls.AddPicture(png, TXlsImgTypes::xli_Png, {}, TKmrAnchorType::at_MoveAndResize); }), "Stream read error");
    xls.CloseFile();
    EXPECT_EQ(adapter.calls, (std::vector<std::string>{
                                 "Open book.xls", "SetActiveSheet 1", "SelectSheet 1", "SetActiveSheet 3", "SelectSheet 3",
                                 "InsertHPageBreak 65535", "Disconnect"}));
}

// What the facade decides itself.
TEST(KalmiraImport, FacadeLogic) {
    TXLSAdapter adapter;
    TKalmiraImport xls;
    xls.SetAdapter(&adapter), xls.NewFile(1);
    xls.SetCellValue(2, 3, TVariant(1.0));
    EXPECT_EQ(MessageOf([&] { xls.GetColByIndex(2, 0); }), "The index \"0\" of the property \"ColByIndex\" is not in the range 1-1");
    EXPECT_EQ(xls.GetColByIndex(2, 1), 3);
    for (const auto& [text, parts] : std::vector<std::pair<std::u16string, std::u16string>>{
             {u"abc", u"|abc|"}, {u"&LA&RB", u"A||B"}, {u"&RB&LA", u"A||B"}, {u"&LA&LB", u"A&LB||"},
             {u"&LTom&&Carl", u"Tom&&Carl||"}, {u"&L&&&C&RR", u"&&||R"}}) {
        std::u16string l, c, r;
        TKalmiraImport::FillPageHeaderFooter(text, l, c, r);
        EXPECT_EQ(l + u"|" + c + u"|" + r, parts) << Utf16ToUtf8(text);
    }
}

// Facades and workbook objects outlive their adapter safely; a text save
// that fails leaves the file as it was.
TEST(KalmiraImport, Faults) {
    const std::string kept = Out("kept.xls"), text = Out("old.csv");
    TKalmiraImport first, second;
    auto adapter = std::make_unique<TXLSAdapter>();
    adapter->SetSaveFormat({TExcelSaveFormatNative::snXLS, TExcelSaveFormatNative::snCSVComma});
    std::make_unique<TKalmiraImport>()->SetAdapter(adapter.get());  // a facade gone first
    second.SetAdapter(adapter.get());
    first.SetAdapter(adapter.get()), first.NewFile(1);
    first.SetCellValue(1, 1, TVariant(u"zůstává"));
    adapter.reset();
    EXPECT_TRUE(!first.Adapter() && !second.Adapter());
    first.Save(kept);  // the XLS format alone, no adapter asked
    EXPECT_EQ(Lines(OleCheck("cells", kept)), std::vector<std::string>{"Sheet1\t0\t0\t1\t'zůstává'"});
    EXPECT_EQ(MessageOf([&] { first.OpenFile("kept.xls"); }), "There is no Adapter linked to the report");
    TXLSAdapter relinked;
    first.SetAdapter(&relinked);
    EXPECT_EQ(first.Adapter(), &relinked);

    WriteFile(text, {'a', ',', 'b'});
    EXPECT_EQ(MessageOf([&] { first.SaveAsText(text, '"'); }), "Invalid delimiter: 0x22");
    EXPECT_EQ(ReadFile(text), (std::vector<std::uint8_t>{'a', ',', 'b'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(kept).parent_path()), fs::directory_iterator()), 2);
    EXPECT_EQ(first.FileName(), kept);
}
