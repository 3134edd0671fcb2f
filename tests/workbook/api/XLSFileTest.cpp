#include <tuple>
#include <type_traits>

#include "tests/workbook/api/XLSFileTestSupport.h"

using namespace xlsfiletest;
using namespace ole2test;
namespace fs = std::filesystem;
using enum TExcelSaveFormatNative;

namespace {

// Every operation of the interface, from the one list that declares them.
struct TOperation {
    const char* Name;
    void (*Call)(TExcelFile&);
};

constexpr TOperation Operations[] = {
#define KMR_EXCEL_OP(theme, result, name, params) \
    {#name, [](TExcelFile& f) { CallNeutral(f, static_cast<result(TExcelFile::*) params>(&TExcelFile::name)); }},
#include "workbook/api/UExcelFileOperations.inc"
#undef KMR_EXCEL_OP
};

struct TStore : TXlsBaseTemplateStore {
    std::vector<std::uint8_t> GetStoredFile(const std::u16string&) override { return ReadFile(FixtureDir() + "/small.xls"); }
};

}  // namespace

// xlsroundtrip's checks compare opened and saved files with the originals.
// Here: xlrd reads a cached formula result, cleared once sheets were
// inserted: the empty text, not an error.
TEST(XLSFile, OpenAndSave) {
    const std::string out = Out("out.xls");
    auto file = Opened("");
    TCellList& cells = file->GetTWorkbook().WorkSheets(0).Cells().CellList();
    const std::uint8_t seven[] = {0x1E, 7, 0};
    cells.AssignFormulaX(1, 1, seven, TVariant(14.0), false);
    for (const char* formula : {"Sheet1\t1\t1\t2\t14.0", "Sheet1\t1\t1\t1\t''"}) {
        file->Save(false, out, nullptr, nullptr, nullptr);
        EXPECT_EQ(Lines(OleCheck("cells", out)), std::vector<std::string>{formula});
        file->InsertAndCopySheets(-1, 2, 1);
    }
}

// Each road of the XLS save (other formats wait for a caller that sets
// them): where it goes, what is refused, what is left.
TEST(XLSFile, SaveRoads) {
    TXLSAdapter adapter;
    const std::string name = Out("book.xls"), other = Out("other.xls"), ok = "no exception";
    const std::string refused = "Can't write to file \"" + name + "\". Check it is not in use by another user";
    TKmrMemoryStream data;  // 100 other bytes first
    data.Write(std::string(100, 'x').data(), 100);
    TOnGetFileNameEvent rename = [&](TExcelFile&, TExcelSaveFormatNative f, std::string& n) { n = f == snXLS ? other : ""; };
    TOnGetOutStreamEvent none = [](TExcelFile&, TExcelSaveFormatNative, TKmrStream*&) {};
    const struct { bool adapted; TOnGetFileNameEvent onName; TOnGetOutStreamEvent onStream; TKmrStream* stream;
                   std::string message, written; } roads[] = {
        {false, nullptr, nullptr, nullptr, ok, name},  // no adapter: overwrites
        {true, nullptr, nullptr, &data, ok, ""},
        {true, rename, nullptr, nullptr, ok, other},
        {true, nullptr, nullptr, nullptr, refused, ""},
        {true, nullptr, none, nullptr, ok, name},  // no stream: the file, not tested
    };
    for (const auto& road : roads) {
        fs::remove(other);
        WriteFile(name, {'o', 'l', 'd'});
        const auto before = fs::last_write_time(name);
        auto file = Opened("", 1, road.adapted ? &adapter : nullptr);
        EXPECT_EQ(MessageOf([&] { file->Save(false, name, road.onName, road.onStream, road.stream); }), road.message);
        for (const auto& path : {name, other})
            EXPECT_EQ(fs::exists(path) && ReadFile(path).size() > 3, path == road.written) << path;
        EXPECT_TRUE(road.written == name || fs::last_write_time(name) == before);
    }
    data.Seek(100);
    EXPECT_NO_THROW(Opened("")->LoadFromStream(data));
}

// A refused save and a failed open lose nothing; the store wins over the disk.
TEST(XLSFile, FailuresLoseNothing) {
    auto file = Opened(FixtureDir() + "/small.xls");
    const auto good = Saved(*file);  // what it saves before the failures
    const std::string old = Out("kept/old.xls"), missing = Out("missing.xls"), csv = FixtureDir() + "/../src/small.csv";
    WriteFile(old, {'o', 'l', 'd'});
    TXLSAdapter adapter;
    adapter.SetBasePathToOpen(fs::path(old).parent_path().string());
    TXLSFile searching(&adapter), unconnected(nullptr);
    searching.Connect();
    const std::vector<std::pair<std::function<void()>, std::string>> failures = {
        // (roundtrip_check.py opens a text file, a damaged one and a missing one through the facade.)
        {[&] { file->OpenFile(missing); }, "Can't open the file \"" + missing + "\": No such file or directory"},
        {[&] { unconnected.OpenFile(csv); }, "There is no open file"},
        {[&] { file->InsertAndCopySheets(1, INT32_MIN, 1); }, "Sheet number \"-1\" invalid. Must be between 0 and 1"},
        {[&] { file->InsertAndCopySheets(1, 2, INT32_MAX); }, "Too many entries for this kind of record (2147483648 out of a maximum of 65000)"},
        {[&] { file->NewFile(1000000000); }, "Too many entries for this kind of record (1000000000 out of a maximum of 65000)"},
        {[&] { searching.Save(false, missing, nullptr, nullptr, nullptr); }, "The file \"\" is invalid"},
        {[&] { file->GetTWorkbook().Globals().SetSheetVisible(0, TXlsSheetVisible::sv_Hidden);
               file->Save(false, old, nullptr, nullptr, nullptr); }, "To save this file, you must select a visible sheet"},
    };
    for (const auto& [fail, message] : failures) EXPECT_EQ(MessageOf(fail), message);
    const auto left = std::distance(fs::directory_iterator(fs::path(old).parent_path()), fs::directory_iterator());
    EXPECT_EQ(std::make_tuple(fs::exists(missing), left, ReadFile(old).size()), std::make_tuple(false, 1, 3u));
    file->GetTWorkbook().Globals().SetSheetVisible(0, TXlsSheetVisible::sv_Visible);
    EXPECT_EQ(Saved(*file), good);
    {
        TStore store;
        adapter.SetTemplateStore(&store);
        EXPECT_NO_THROW(searching.OpenFileAndSearch("old.xls"));  // a text file beside
    }
    EXPECT_EQ(adapter.TemplateStore(), nullptr);
}

// NewFile (3) gives Sheet1, Sheet2, Sheet, the first active and alone
// selected; below 2 one sheet. Each saves at once and opens elsewhere.
TEST(XLSFile, NewFile) {
    const std::string out = Out("new.xls");
    for (const auto& [count, sheets] : std::vector<std::pair<int, std::string>>{
             {3, "sheet Sheet1 0|sheet Sheet2 0|sheet Sheet 0|"}, {1, "sheet Sheet1 0|"}, {0, "sheet Sheet1 0|"}, {INT32_MIN, "sheet Sheet1 0|"}}) {
        auto file = Opened("");
        file->NewFile(count);
        const TWorkbook& book = file->GetTWorkbook();
        std::string found = std::to_string(book.GetActiveSheet());
        for (int s = 0; s < book.SheetCount(); ++s) found += book.Sheet(s).GetSelected() ? "*" : "";
        file->Save(false, out, nullptr, nullptr, nullptr);
        for (const auto& l : Lines(OleCheck("book", out))) found += l.starts_with("sheet") ? l + "|" : "";
        EXPECT_EQ(found, "0*" + sheets);
    }
    EXPECT_EQ(Lines(OleCheck("locsv", out)), std::vector<std::string>{"sheet Sheet1"});
}

// A stored active sheet past the last loads.
TEST(XLSFile, ActiveSheetPastTheLast) {
    auto file = Opened("");
    file->GetTWorkbook().Globals().SetActiveSheet(4);
    TKmrMemoryStream saved(Saved(*file));
    file->LoadFromStream(saved);
    EXPECT_NO_THROW(file->BeginSheet());
}

// All 214 operations stay implemented: each, called on a workbook file with
// a new book open, may refuse its neutral arguments but never falls back on
// the interface's "Abstract Error".
TEST(XLSFile, EveryOperationIsImplemented) {
    static_assert(std::size(Operations) == 214);
    std::vector<std::string> missing;
    for (const TOperation& op : Operations) {
        auto file = Opened("");
        try {
            op.Call(*file);
        } catch (const EAbstractError&) {
            missing.push_back(op.Name);
        } catch (const std::exception&) {
            // a refusal: the operation is there
        }
    }
    EXPECT_EQ(missing, std::vector<std::string>{});
}
