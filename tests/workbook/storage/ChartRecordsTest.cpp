#include <functional>

#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/Uxlschart.h"

using namespace kalmira;
using namespace ole2test;

namespace {

const bool registered = (RegisterChartRecords(), true);

// AI of a series' values: link 1, reference type 2, then one ptgArea3d
// (0x3B) over rows 0-3 of column 0, which moves when rows go in above it.
const Bytes AIArea = {1, 2, 0, 0, 0, 0, 11, 0, 0x3B, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0};
// The same with a memory area token, which refuses every change.
const Bytes AIMemArea = {1, 2, 0, 0, 0, 0, 7, 0, 0x26, 0, 0, 0, 0, 0, 0};
// AI of a title given as text: no formula.
const Bytes AIText = {0, 1, 0, 0, 0, 0, 0, 0};
const std::string Refused = "Error in Chart formula. Token Id: 0x26", None = "no exception";

// Rows inserted on sheet insertSheet; the chart is on sheet 0.
TSheetInfo Info(int insertSheet) { return {insertSheet, 0, {}, {}, nullptr}; }

std::string InsertRow(TChartRecordList& list, int sheet = 0) {
    return MessageOf([&] { list.ArrangeInsertRowsAndCols(0, 1, NoMovePosition, 0, Info(sheet)); });
}

}  // namespace

TEST(ChartRecords, TheAICacheFollowsTheListHoweverItChanges) {
    // Whether the memory area AI is cached shows in a row insertion being
    // refused for its token.
    const std::pair<std::function<void(TChartRecordList&)>, std::string> cases[] = {
        {[](TChartRecordList&) {}, Refused},
        {[](TChartRecordList& l) { l.Delete(1); }, None},
        {[](TChartRecordList& l) { l.DeleteBlock(0, 3); }, None},
        {[](TChartRecordList& l) { l.SetItems(1, Load(xlr_END, {})); }, None},
        {[](TChartRecordList& l) { l.Clear(); }, None},
        {[](TChartRecordList& l) {
             l.SetItems(1, Load(xlr_AI, AIText));
             l.Insert(0, Load(xlr_AI, AIMemArea));
         }, Refused},
    };
    for (const auto& [change, insert] : cases) {
        TChartRecordList list;
        for (auto [id, data] : {std::pair{xlr_BEGIN, Bytes{}}, {xlr_AI, AIMemArea}, {xlr_AI, AIText}, {xlr_END, {}}})
            list.Add(Load(id, data));
        change(list);
        EXPECT_EQ(InsertRow(list), insert) << &change - &cases[0].first;
        TChartRecordList copy;
        copy.CopyFrom(list);
        EXPECT_EQ(InsertRow(copy), insert) << "copy " << &change - &cases[0].first;
    }
}

TEST(ChartRecords, MovesOfTheAIFormulas) {
    TChartRecordList list;
    list.Add(Load(xlr_AI, AIArea));
    TSheetInfo copiedSheet = Info(1);  // every 3-D reference names sheet 0, the one copied
    copiedSheet.GetSheet = [](std::uint16_t) { return 0; };
    copiedSheet.SetSheet = [](std::uint16_t sheet) { return static_cast<std::uint16_t>(sheet + 4); };
    list.ArrangeCopySheet(copiedSheet);
    EXPECT_EQ(InsertRow(list), None);  // on the chart's sheet
    EXPECT_EQ(list.GetItems(0)->Data, (Bytes{1, 2, 0, 0, 0, 0, 11, 0, 0x3B, 5, 0, 1, 0, 4, 0, 0, 0, 0, 0}));
    list.Add(Load(xlr_AI, AIMemArea));
    EXPECT_EQ(MessageOf([&] { list.CheckArrange(TArrangeCheck(0, 1, NoMovePosition, 0, Info(0))); }), Refused);
    // Shorter than its fields; a formula of 1 byte without the byte.
    for (const Bytes& bad : {Bytes{1, 2, 0, 0, 0, 0, 0}, Bytes{1, 2, 0, 0, 0, 0, 1, 0}})
        EXPECT_EQ(MessageOf([&] { Load(xlr_AI, bad); }), "Record with ID 0x1051 is invalid") << bad.size();
}

TEST(ChartRecords, NestedBlocksAreCountedNotRecursed) {
    auto read = [](const Bytes& stream, std::vector<int>& depths) {
        TStreamFile f(stream);
        TRecordHeader header = f.FirstHeader();
        return MessageOf([&] {
            LoadChartRecords(f.Ole, header, [&](std::unique_ptr<TBaseRecord>, int depth) { depths.push_back(depth); });
        });
    };
    auto repeat = [](const Bytes& record, int count) {
        Bytes out;
        for (int i = 0; i < count; ++i) out.insert(out.end(), record.begin(), record.end());
        return out;
    };
    const Bytes begin = Rec(xlr_BEGIN, {}), end = Rec(xlr_END, {}), eof = Rec(xlr_EOF, {});
    std::vector<int> depths;
    EXPECT_EQ(read(Cat({Rec(0x1002, {0, 0}), begin, Rec(0x1003, {1, 0}), begin, end, end, eof}), depths), None);
    EXPECT_EQ(depths, (std::vector<int>{0, 0, 1, 1, 2, 1, 0}));
    const int deep = 100000;
    depths.clear();
    EXPECT_EQ(read(Cat({repeat(begin, deep), repeat(end, deep), eof}), depths), None);
    EXPECT_EQ(*std::max_element(depths.begin(), depths.end()), deep);
    // An EOF inside an open block: a real one, or the stream ending there.
    for (const Bytes& cut : {Cat({begin, begin, end, eof, end, eof}), Cat({repeat(begin, deep), repeat(end, 9)})})
        EXPECT_EQ(read(cut, depths), "Error reading Excel records. File invalid") << cut.size();
}
