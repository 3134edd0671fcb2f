#include <sys/stat.h>

#include "tests/workbook/api/ExcelFileProbe.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "tests/workbook/storage/TempDir.h"
#include "workbook/api/XLSAdapter.h"

using namespace kalmira;
using namespace ole2test;
namespace fs = std::filesystem;
using enum TExcelSaveFormatNative;

namespace {

struct TTemp : TempDir {
    TTemp() : TempDir("orvelo-xlsfile-") {}
};

std::unique_ptr<TXLSFile> Opened(const std::string& path, TXLSAdapter* adapter = nullptr) {
    auto file = std::make_unique<TXLSFile>(adapter, true);
    file->Connect();
    if (path.empty()) file->NewFile(1);
    else file->OpenFile(path);
    return file;
}

class TStore : public TXlsBaseTemplateStore {
public:
    std::vector<std::uint8_t> GetStoredFile(const std::u16string& name) override {
        asked = name;
        return ReadFile(FixtureDir() + "/small.xls");
    }
    std::u16string asked;
};

}  // namespace

// Other streams come back byte for byte; a changed cell and a cached formula
// result read back in xlrd, the result cleared once sheets were inserted.
TEST(XLSFile, OpenAndSave) {
    const TTemp temp;
    const std::string in = FixtureDir() + "/embedded_before.xls", out = temp["out.xls"];
    Opened(in)->Save(false, out, nullptr, nullptr, nullptr);
    auto others = [](const std::string& path) {
        auto lines = Lines(OleCheck("streams", path));
        std::erase_if(lines, [](const std::string& l) { return l.starts_with("Workbook\t"); });
        return lines;
    };
    EXPECT_EQ(others(out), others(in));
    auto file = Opened("");
    const std::uint8_t seven[] = {0x1E, 7, 0};
    file->GetTWorkbook().WorkSheets(0).Cells().CellList().AssignFormulaX(1, 1, seven, TVariant(14.0), false);
    file->GetTWorkbook().WorkSheets(0).Cells().CellList().SetValueX2(0, 0, {TVariant(u"Žďár"), -1, false}, {}, false);
    file->Save(false, out, nullptr, nullptr, nullptr);
    EXPECT_EQ(Lines(OleCheck("cells", out)), (std::vector<std::string>{"Sheet1\t0\t0\t1\t'Žďár'", "Sheet1\t1\t1\t2\t14.0"}));
    file->InsertAndCopySheets(-1, 2, 1);
    file->Save(false, out, nullptr, nullptr, nullptr);
    EXPECT_EQ(Lines(OleCheck("cells", out)).at(1), "Sheet1\t1\t1\t5\t0");
}

// Each road: formats, the output, what is refused; the file left behind.
TEST(XLSFile, SaveRoads) {
    const TTemp temp;
    TXLSAdapter adapter;
    const std::string name = temp["book.xls"], other = temp["other.xls"];
    const std::string refused = "Can't write to file \"" + name + "\". Check it is not in use by another user";
    const std::string ok = "no exception";
    TKmrMemoryStream data;  // 100 other bytes first
    data.Write(std::string(100, 'x').data(), 100);
    std::vector<int> asked;
    TOnGetFileNameEvent rename = [&](TExcelFile&, TExcelSaveFormatNative f, std::string& n) {
        asked.push_back(static_cast<int>(f));
        n = other;
    };
    TOnGetOutStreamEvent none = [](TExcelFile&, TExcelSaveFormatNative, TKmrStream*&) {};
    struct TRoad {
        TExcelSaveFormats formats;
        bool adapted, existed;
        TOnGetFileNameEvent onName;
        TOnGetOutStreamEvent onStream;
        TKmrStream* stream;
        std::string message, written;
    } roads[] = {
        {{snXLS, snCSVComma}, true, false, nullptr, nullptr, nullptr, refused, name},
        {{snXLS, snCSVComma}, false, true, nullptr, nullptr, nullptr, ok, name},  // no adapter: XLS only
        {{snXLS}, true, true, nullptr, nullptr, &data, ok, ""},
        {{snXLS}, true, true, rename, nullptr, nullptr, ok, other},
        {{snXLS}, true, true, nullptr, nullptr, nullptr, refused, ""},
        {{snXLS}, true, true, nullptr, none, nullptr, ok, name},  // no stream: the file, not tested
        {{snCSVComma}, true, false, nullptr, nullptr, nullptr, "The operation \"SaveAsTextDelimited\" is not available yet", ""},
    };
    for (const auto& road : roads) {
        fs::remove(other);
        if (road.existed) WriteFile(name, {'o', 'l', 'd'});
        else fs::remove(name);
        const auto before = road.existed ? fs::last_write_time(name) : fs::file_time_type();
        adapter.SetSaveFormat(road.formats);
        TXLSFile saver(road.adapted ? &adapter : nullptr, !road.adapted);
        saver.Connect();
        saver.NewFile(1);
        EXPECT_EQ(MessageOf([&] { saver.Save(false, name, road.onName, road.onStream, road.stream); }), road.message);
        for (const auto& path : {name, other})
            EXPECT_EQ(fs::exists(path) && ReadFile(path).size() > 3, path == road.written) << path;
        if (road.existed && road.written != name) {
            EXPECT_EQ(fs::last_write_time(name), before);
        }
    }
    EXPECT_EQ(asked, std::vector<int>{0});
    data.Seek(100);
    EXPECT_NO_THROW(Opened("")->LoadFromStream(data));
}

// A refused save leaves an existing file as it was and makes none.
TEST(XLSFile, ARefusedSaveLosesNothing) {
    const TTemp temp;
    auto file = Opened("");
    file->GetTWorkbook().Globals().SetSheetVisible(0, TXlsSheetVisible::sv_Hidden);
    for (const bool existed : {false, true}) {
        if (existed) WriteFile(temp["out.xls"], {'o', 'l', 'd'});
        EXPECT_EQ(MessageOf([&] { file->Save(false, temp["out.xls"], nullptr, nullptr, nullptr); }),
                  "To save this file, you must select a visible sheet");
        EXPECT_EQ(temp.Count(), existed);
    }
    EXPECT_EQ(ReadFile(temp["out.xls"]), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    TXLSFile never(nullptr, true);
    never.Connect();
    EXPECT_EQ(MessageOf([&] { never.Save(false, temp["new.xls"], nullptr, nullptr, nullptr); }), "The file \"\" is invalid");
    EXPECT_FALSE(fs::exists(temp["new.xls"]));
}

// A failed open leaves the open workbook whole; the store wins over the disk.
TEST(XLSFile, OpenFailuresAndTheStore) {
    const TTemp temp;
    auto bytes = ReadFile(FixtureDir() + "/small.xls");
    const std::u16string workbook = u"Workbook";
    auto at = std::search(bytes.begin(), bytes.end(), reinterpret_cast<const std::uint8_t*>(workbook.data()),
                          reinterpret_cast<const std::uint8_t*>(workbook.data() + 8));
    std::copy(at + 8, at + 16, at);  // the stream named "Book"
    std::fill(at + 8, at + 16, 0);
    at[64] = 10;
    WriteFile(temp["onlybook.xls"], bytes);
    ASSERT_EQ(::mkfifo(temp["fifo"].c_str(), 0600), 0);
    TXLSAdapter adapter;
    adapter.SetBasePathToOpen(temp.string());
    auto file = Opened(FixtureDir() + "/small.xls", &adapter);
    TKmrMemoryStream good, again;
    file->Save(false, "", nullptr, nullptr, &good);
    const std::string csv = FixtureDir() + "/../src/small.csv";
    const std::vector<std::pair<std::function<void()>, std::string>> failures = {
        {[&] { file->OpenFile(csv); }, "The file \"\" is invalid"},
        {[&] { file->OpenFile(temp["onlybook.xls"]); }, "The file \"\" is invalid"},
        {[&] { file->OpenFile(temp["fifo"]); }, "The file \"" + temp["fifo"] + "\" is invalid"},
        {[&] { file->OpenFileAndSearch("missing.xls"); }, "Can't find the file \"" + temp["missing.xls"] + "\""},
        {[&] { file->OpenFile(temp["missing.xls"]); },
         "Can't open the file \"" + temp["missing.xls"] + "\": No such file or directory"},
        {[&] { TXLSFile(nullptr).OpenFile(csv); }, "There is no open file"},
    };
    for (const auto& [open, message] : failures) EXPECT_EQ(MessageOf(open), message);
    file->Save(false, "", nullptr, nullptr, &again);
    EXPECT_EQ(again.Bytes(), good.Bytes());
    {
        TStore store;
        adapter.SetTemplateStore(&store);
        file->OpenFileAndSearch("missing.xls");
        EXPECT_EQ(store.asked, u"missing.xls");
    }
    EXPECT_EQ(adapter.TemplateStore(), nullptr);
}

// NewFile (n) gives n sheets, at least one; the first active and selected.
TEST(XLSFile, NewFile) {
    const TTemp temp;
    for (const auto& [count, names] : std::vector<std::pair<int, std::string>>{
             {3, "sheet Sheet1 0,sheet Sheet2 0,sheet Sheet 0"}, {1, "sheet Sheet1 0"}, {0, "sheet Sheet1 0"}}) {
        TXLSFile file(nullptr, true);
        file.Connect();
        file.NewFile(count);
        const TWorkbook& book = file.GetTWorkbook();
        EXPECT_EQ(book.GetActiveSheet(), 0);
        for (int s = 0; s < book.SheetCount(); ++s) EXPECT_EQ(book.Sheet(s).GetSelected(), s == 0);
        file.Save(false, temp["new.xls"], nullptr, nullptr, nullptr);
        auto lines = Lines(OleCheck("book", temp["new.xls"]));
        std::erase_if(lines, [](const std::string& l) { return !l.starts_with("sheet "); });
        std::string found;
        for (const auto& l : lines) found += (found.empty() ? "" : ",") + l;
        EXPECT_EQ(found, names);
    }
    EXPECT_EQ(Lines(OleCheck("locsv", temp["new.xls"])), std::vector<std::string>{"sheet Sheet1"});
}

// The block is the columns of a defined name; bad input changes nothing.
TEST(XLSFile, BlockDataAndProbe) {
    auto file = Opened("");
    TWorkbook& book = file->GetTWorkbook();
    book.Globals().AddName({u"Block", u"=Sheet1!$C$5:$F$9", 0, -1});
    book.Globals().AddName({u"Five", u"=5", 0, -1});
    book.WorkSheets(0).Cells().CellList().SetValueX2(8, 0, {TVariant(1.0), -1, false}, {}, false);
    EXPECT_EQ(file->Pictures().GetItems(3).Count(), 0);  // before BeginSheet
    file->SetBounds(1);
    file->BeginSheet();
    EXPECT_EQ(std::make_tuple(file->GetFirstColumn(), file->CellCount(5), file->CellCount(9), file->CellCount(10)),
              std::make_tuple(3, 4, 4, 0));
    for (const auto& [index, message] : std::vector<std::pair<int, std::string>>{
             {0, "The index \"0\" of the property \"NameIndex\" is not in the range 1-2"},
             {3, "The index \"3\" of the property \"NameIndex\" is not in the range 1-2"},
             {2, "Invalid named range: \"Five\""}})
        EXPECT_EQ(MessageOf([&] { file->SetBounds(index); }), message);
    EXPECT_EQ(file->GetFirstColumn(), 3);
    book.Globals().SetActiveSheet(4);  // a stored active sheet past the last
    TKmrMemoryStream saved;
    file->Save(false, "", nullptr, nullptr, &saved);
    saved.Seek(0);
    file->LoadFromStream(saved);
    EXPECT_EQ(file->CellCount(1), 0);
    EXPECT_NO_THROW(file->BeginSheet());

    TXLSAdapter adapter;
    const auto probe = excelprobe::Probe([&] {
        auto made = adapter.GetWorkbook();
        made->Connect();
        return made;
    });
    EXPECT_EQ(probe.implementedNames,
              (std::vector<std::string>{"Connect", "Disconnect", "OpenFile", "OpenFileAndSearch", "NewFile",
                                        "LoadFromStream", "CloseFile", "Save", "CanOptimizeRead", "SetBounds", "GetFirstColumn",
                                        "BeginSheet", "EndSheet", "CellCount", "PrepareBlockData", "PasteBlockData",
                                        "InsertAndCopySheets", "ParseComments", "RefreshPivotTables",
                                        "RefreshChartRanges"}));
    EXPECT_EQ(probe.notYetNames, (std::vector<std::string>{"CopyToClipboard", "CopyToClipboard", "PasteFromClipboard"}));
}
