#include <map>

#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"

using namespace kalmira;
using namespace ole2test;
namespace fs = std::filesystem;

namespace {

// A folder of this test's own in the build tree, empty at first.
fs::path Folder() {
    const fs::path dir = fs::path(ORVELO_BINARY_DIR) / "facade-tests" /
                         ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// The value as xlrd's repr writes it ("" for an empty cell).
std::string Repr(const TVariant& v) {
    if (v.IsEmpty()) return "";
    if (v.VarType() == TVarType::String) return "'" + Utf16ToUtf8(v.Text()) + "'";
    std::ostringstream out;
    out << v.AsDouble();
    return out.str().find_first_of(".e") == std::string::npos ? out.str() + ".0" : out.str();
}

// "sheet row col" (from 0) -> value, as xlrd reads the file.
std::map<std::string, std::string> XlrdCells(const std::string& path) {
    std::map<std::string, std::string> cells;
    for (const auto& line : Lines(OleCheck("cells", path))) {
        const auto f = Split(line);
        cells[f[0] + " " + f[1] + " " + f[2]] = f[4];
    }
    return cells;
}

// Calls an operation with neutral arguments.
template <class R, class... A>
void CallNeutral(TKalmiraImport& xls, R (TKalmiraImport::*op)(A...)) {
    std::tuple<std::remove_cvref_t<A>...> args{};
    std::apply([&](auto&... a) { (void)(xls.*op)(a...); }, args);
}

// Records the calls that reach it; answers an active sheet of 5 of 3 and
// the formats the table of a test asks for.
struct TRecording : TExcelFile {
    using TExcelFile::AssignPicture;
    std::vector<std::string>* calls;
    std::int32_t xf = -1, rowXF = 0, colXF = -1;
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
    void InsertAndCopySheets(std::int32_t c, std::int32_t b, std::int32_t n) override {
        Log("InsertAndCopySheets " + std::to_string(c) + " " + std::to_string(b) + " " + std::to_string(n));
    }
    void InsertHPageBreak(std::int32_t row) override { Log("InsertHPageBreak " + std::to_string(row)); }
    TXlsCellValue GetCellValueX(std::int32_t, std::int32_t) override { return {TVariant(1.0), xf, true}; }
    std::int32_t GetRowFormat(std::int32_t) override { return rowXF; }
    std::int32_t GetColumnFormat(std::int32_t) override { return colXF; }
    std::int32_t FormatListCount() override { return 20; }
    bool GetOptions1904Dates() override { return true; }
    TKmrFormat GetFormatList(std::int32_t index) override {
        Log("GetFormatList " + std::to_string(index));
        return {};
    }
};

struct TRecordingAdapter : TExcelAdapter {
    std::vector<std::string> calls;
    std::unique_ptr<TExcelFile> GetWorkbook() override { return std::make_unique<TRecording>(&calls); }
};

TKalmiraImport& Linked(TKalmiraImport& xls, TExcelAdapter& adapter) {
    xls.SetAdapter(&adapter);
    return xls;
}

}  // namespace

// The application's load and save of a meters workbook: rows asked up to
// GetMaxRow, values where xlrd reads them; reports copied from sheet 1,
// cleared and renamed; the second save under the opened name.
TEST(KalmiraImport, ApplicationRoads) {
    const fs::path dir = Folder();
    fs::copy_file(FixtureDir() + "/meters.xls", dir / "meters.xls");
    TXLSAdapter adapter;
    adapter.SetBasePathToOpen(dir.string() + "/");
    adapter.SetAllowOverwritingFiles(true);
    TKalmiraImport xls;
    Linked(xls, adapter).OpenFile("meters.xls");
    const auto original = XlrdCells((dir / "meters.xls").string());
    xls.SetActiveSheet(1);
    int rows = 0;
    for (int row = 5; row <= xls.GetMaxRow(); ++row, ++rows)
        for (int col = 1; col <= 21; ++col) {
            const auto at = original.find("Měřidla " + std::to_string(row - 1) + " " + std::to_string(col - 1));
            EXPECT_EQ(Repr(xls.GetCellValue(row, col)), at == original.end() ? "" : at->second) << row << " " << col;
        }
    EXPECT_EQ(rows, 16);
    xls.SetActiveSheet(2);
    EXPECT_EQ(xls.GetCellValue(xls.GetMaxRow() - 2, 36), TVariant(u"Patní vodoměr :"));

    xls.SetCellValue(5, 14, TVariant(u"05.03.2026 10:20:00"));
    xls.SetCellValue(5, 15, TVariant(123.25));
    xls.SetCellFormula(5, 35, u"=MAX(I5:AG5)");
    xls.SetActiveSheet(4);
    xls.SetCellValue(3, 1, TVariant(u"1/1"));
    xls.SetCellValue(4, 1, TVariant(u"smazat"));
    xls.DeleteRows(4, 1);
    xls.Save((dir / "new.xls").string());
    xls.InsertAndCopySheets(1, xls.GetSheetCount() + 1, 1);
    xls.SetActiveSheet(xls.GetSheetCount());
    xls.ClearSheet();
    xls.SetActiveSheetName(u"Měřidlo 12_3");
    xls.SetCellValue(1, 1, TVariant(u"Přehled"));
    xls.Save((dir / "meters.xls").string());
    EXPECT_EQ(XlrdCells((dir / "new.xls").string())["Log 2 0"], "'1/1'");

    auto cells = XlrdCells(xls.FileName());
    for (const auto& [at, value] : original)
        if (at.starts_with("Měřidla")) {
            EXPECT_EQ(cells[at], value) << at;
        }
    EXPECT_EQ(std::vector<std::string>({cells["Roční tabulka 4 13"], cells["Roční tabulka 4 14"], cells["Roční tabulka 4 34"],
                                        cells["Log 2 0"], cells["Log 3 0"], cells["Měřidlo 12_3 0 0"], cells["Měřidlo 12_3 4 0"]}),
              std::vector<std::string>({"'05.03.2026 10:20:00'", "123.25", "0", "'1/1'", "", "'Přehled'", ""}));
    int selected = 0;
    for (const auto& line : Lines(ole2test::Run("/usr/bin/python3 -c \"import xlrd,sys; b=xlrd.open_workbook(sys.argv[1], formatting_info=True); "
                                      "print(*[s.sheet_selected for s in b.sheets()])\" " + (dir / "meters.xls").string())))
        for (const auto& flag : Split(line, ' ')) selected += flag == "1";
    EXPECT_EQ(selected, 1);
}

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
    TKmrMemoryStream stream;
    const std::pair<std::function<void()>, std::string> calls[] = {
        {[&] { xls.Save("x.xls"); }, "There is no open file"},
        {[&] { xls.SetActiveSheet(1); }, "There is no open file"},
        {[&] { xls.ToOADate(1); }, "There is no open file"},
        {[&] { xls.AddPicture(std::span<const std::uint8_t>(), TXlsImgTypes::xli_Png, 1, 1, 0, 0, 5, 5, {}); }, "There is no open file"},
        {[&] { xls.OpenFile("meters.xls"); }, "There is no Adapter linked to the report"},
        {[&] { xls.NewFile(1); }, "There is no Adapter linked to the report"},
        {[&] { xls.OpenText("a.csv", ';'); }, "There is no Adapter linked to the report"},
    };
    for (const auto& [call, message] : calls) EXPECT_EQ(MessageOf(call), message);
    EXPECT_FALSE(xls.IsLoaded());
    EXPECT_EQ(TKalmiraImport::GetColorPaletteCount(), 56);

    TXLSAdapter adapter;
    adapter.SetBasePathToOpen(FixtureDir() + "/");
    Linked(xls, adapter).NewFile(2);
    xls.SetAdapter(nullptr);
    EXPECT_EQ(MessageOf([&] { xls.OpenFile("meters.xls"); }), "There is no Adapter linked to the report");
    EXPECT_EQ(xls.GetSheetCount(), 2);  // kept open
    const fs::path dir = Folder();
    auto bytes = ReadFile(FixtureDir() + "/meters.xls");
    bytes.resize(bytes.size() / 2);
    WriteFile((dir / "cut.xls").string(), bytes);
    xls.SetAdapter(&adapter);
    for (const std::string& name : std::vector<std::string>{"missing.xls", (dir / "cut.xls").string()}) {
        EXPECT_NE(MessageOf([&] { xls.OpenFile(name); }), "no exception");
        EXPECT_EQ(std::make_pair(xls.IsLoaded(), xls.FileName()), std::make_pair(false, std::string()));
    }
    xls.OpenFile("meters.xls");
    EXPECT_EQ(std::make_pair(xls.GetSheetCount(), xls.FileName()), std::make_pair(4, std::string("meters.xls")));
    for (const auto& [call, name] : std::vector<std::pair<std::function<void()>, std::string>>{
             {[&] { xls.SaveToStreamAsText(stream, ','); }, "SaveToStreamAsText"},
             {[&] { xls.LoadFromTextStream(stream, ','); }, "LoadFromTextStream"},
             {[&] { xls.OpenText("a.csv", ','); }, "OpenText"}})
        EXPECT_EQ(MessageOf(call), "The operation \"" + name + "\" is not available yet");
    xls.CloseFile();
    xls.CloseFile();
    EXPECT_EQ(std::make_pair(xls.IsLoaded(), xls.GetWorkbook()), std::make_pair(false, static_cast<TExcelFile*>(nullptr)));
}

// Arguments arrive unchanged; a stored active sheet past the last ends
// with sheet 1 active and selected; a failing close is dropped.
TEST(KalmiraImport, PassThrough) {
    TRecordingAdapter adapter;
    TKalmiraImport xls;
    Linked(xls, adapter).OpenFile("book.xls");
    xls.SetActiveSheet(3);
    xls.InsertEmptySheets(2, 3);
    xls.InsertHPageBreak(65535);
    EXPECT_EQ(MessageOf([&] { xls.GetCellValue(1, 1); }), "Abstract Error");
    EXPECT_TRUE(xls.GetIsFormula(1, 1));
    EXPECT_EQ(MessageOf([&] { xls.GetKmrFormatList(-1); }), "The index \"-1\" of the property \"FormatList\" is not in the range 0-19");
    auto& file = static_cast<TRecording&>(*xls.GetWorkbook());
    // cell XF, row XF, column XF -> the format read
    for (const auto& [xf, row, col, read] : {std::tuple{7, 3, 4, 7}, {-1, 0, -1, 15}, {-1, 0, 0, 0}, {-1, 4, 9, 4}, {-1, -1, 6, 6}}) {
        file.xf = xf, file.rowXF = row, file.colXF = col;
        xls.GetCellFormatDef1(1, 1);
    }
    EXPECT_EQ(std::make_pair(xls.ToOADate(40000), xls.FromOADate(38538)), std::make_pair(38538.0, 40000.0));
    xls.CloseFile();
    EXPECT_EQ(adapter.calls, (std::vector<std::string>{
                                 "Open book.xls", "SetActiveSheet 1", "SelectSheet 1", "SetActiveSheet 3", "SelectSheet 3",
                                 "InsertAndCopySheets -1 2 3", "InsertHPageBreak 65535", "GetFormatList 7", "GetFormatList 15",
                                 "GetFormatList 0", "GetFormatList 4", "GetFormatList 6", "Disconnect"}));
}

// What the facade decides itself.
TEST(KalmiraImport, FacadeLogic) {
    TXLSAdapter adapter;
    TKalmiraImport xls;
    Linked(xls, adapter).NewFile(1);
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
    const fs::path dir = Folder();
    TKalmiraImport first, second;
    auto adapter = std::make_unique<TXLSAdapter>();
    adapter->SetSaveFormat({TExcelSaveFormatNative::snXLS, TExcelSaveFormatNative::snCSVComma});
    {
        TKalmiraImport gone;
        Linked(gone, *adapter).NewFile(1);
    }
    Linked(second, *adapter);
    Linked(first, *adapter).NewFile(1);
    first.SetCellValue(1, 1, TVariant(u"zůstává"));
    adapter.reset();
    EXPECT_TRUE(!first.Adapter() && !second.Adapter());
    first.Save((dir / "kept.xls").string());  // the XLS format alone, no adapter asked
    EXPECT_EQ(Lines(OleCheck("cells", (dir / "kept.xls").string())), std::vector<std::string>{"Sheet1\t0\t0\t1\t'zůstává'"});
    EXPECT_EQ(MessageOf([&] { first.OpenFile("kept.xls"); }), "There is no Adapter linked to the report");
    TXLSAdapter relinked;
    first.SetAdapter(&relinked);
    EXPECT_EQ(first.Adapter(), &relinked);

    const std::string text = (dir / "old.csv").string();
    WriteFile(text, {'a', ',', 'b'});
    EXPECT_EQ(MessageOf([&] { first.SaveAsText(text, ','); }), "The operation \"SaveToStreamAsText\" is not available yet");
    EXPECT_EQ(ReadFile(text), (std::vector<std::uint8_t>{'a', ',', 'b'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    EXPECT_EQ(first.FileName(), (dir / "kept.xls").string());
}
