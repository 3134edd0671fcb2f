#include <functional>

#include "tests/workbook/storage/MessageOf.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UKmrEmptySheet.h"
#include "workbook/storage/Uxlschart.h"

using namespace kalmira;
using namespace ole2test;

namespace {

struct RegisterOnce {
    RegisterOnce() { RegisterChartRecords(); }
} registerOnce;

// AI of a series' values: link 1, reference type 2 (worksheet), then the
// formula: one ptgArea3d (0x3B) over rows 0-3 of column 0, which moves when
// rows are inserted above it.
const Bytes AIArea = {1, 2, 0, 0, 0, 0, 11, 0, 0x3B, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0};
// AI of a series' title, given as text: no formula.
const Bytes AIText = {0, 1, 0, 0, 0, 0, 0, 0};
const std::string Refused = "Error in Chart formula. Token Id: 0x3B";

// Rows inserted on sheet ins, references adjusted for a chart on sheet formula.
TSheetInfo Info(int ins, int formula) {
    TSheetInfo info;
    info.InsSheet = ins;
    info.FormulaSheet = formula;
    return info;
}

std::string InsertRow(TChartRecordList& list) {
    return MessageOf([&] { list.ArrangeInsertRowsAndCols(0, 1, NoMovePosition, 0, Info(0, 0)); });
}

Bytes SavedList(const TChartRecordList& list) {
    return Written([&](TOle2File& ole) { list.SaveToStream(ole); });
}

// BEGIN, AI (area), AI (text), END.
void Fill(TChartRecordList& list) {
    list.Add(Load(xlr_BEGIN, {}));
    list.Add(Load(xlr_AI, AIArea));
    list.Add(Load(xlr_AI, AIText));
    list.Add(Load(xlr_END, {}));
}

}  // namespace

TEST(ChartRecords, FactoryBuildsTheChartClasses) {
    EXPECT_TRUE(LoadAs<TBeginRecord>(xlr_BEGIN, {}));
    EXPECT_TRUE(LoadAs<TEndRecord>(xlr_END, {}));
    auto ai = LoadAs<TChartAIRecord>(xlr_AI, AIArea);
    EXPECT_EQ(ai->FirstWord(), 0x0201);
    EXPECT_EQ(ai->FormulaLength(), 11);
    // Shorter than its fields, or a formula running past the data.
    Bytes longFormula = AIArea;
    longFormula[6] = 12;
    for (const Bytes& bad : {Bytes{1, 2, 0, 0, 0, 0, 0}, longFormula})
        EXPECT_EQ(MessageOf([&] { Load(xlr_AI, bad); }), "Record with ID 0x1051 is invalid") << bad.size();
}

TEST(ChartRecords, TheCacheFollowsTheListHoweverItChanges) {
    // Whether the area AI is still cached shows in whether a row insertion
    // is refused for its token (the token call refuses every move for now).
    struct Case {
        const char* Name;
        std::function<void(TChartRecordList&)> Change;
        std::size_t Cached;
        std::string Insert;
    };
    const Case cases[] = {
        {"as loaded", [](TChartRecordList&) {}, 2, Refused},
        {"Delete", [](TChartRecordList& l) { l.Delete(1); }, 1, "no exception"},
        {"DeleteBlock", [](TChartRecordList& l) { l.DeleteBlock(0, 3); }, 0, "no exception"},
        {"SetItems over the AI", [](TChartRecordList& l) { l.SetItems(1, Load(xlr_END, {})); }, 1, "no exception"},
        {"SetItems with an AI", [](TChartRecordList& l) { l.SetItems(0, Load(xlr_AI, AIText)); }, 3, Refused},
        {"Insert", [](TChartRecordList& l) { l.Insert(0, Load(xlr_AI, AIText)); }, 3, Refused},
        {"Clear", [](TChartRecordList& l) { l.Clear(); }, 0, "no exception"},
    };
    for (const Case& c : cases) {
        TChartRecordList list;
        Fill(list);
        c.Change(list);
        EXPECT_EQ(list.AIRecords().Count(), c.Cached) << c.Name;
        EXPECT_EQ(InsertRow(list), c.Insert) << c.Name;
    }
}

TEST(ChartRecords, RefusedChangesLeaveTheChartAsItWas) {
    TChartRecordList list;
    Fill(list);
    TChartRecordList copy;
    copy.CopyFrom(list);
    ASSERT_EQ(copy.AIRecords().Count(), 2u);
    const Bytes before = SavedList(list);
    ASSERT_EQ(before.size(), 4u + 23 + 12 + 4);
    EXPECT_EQ(InsertRow(list), Refused);
    EXPECT_EQ(MessageOf([&] { list.ArrangeCopyRowsAndCols(2, 0); }), "no exception");  // the area is absolute
    TSheetInfo copied = Info(1, 0);  // every 3-D reference names sheet 0, the one copied
    copied.GetSheet = [](std::uint16_t) { return 0; };
    copied.SetSheet = [](std::uint16_t index) { return index; };
    EXPECT_EQ(MessageOf([&] { list.ArrangeCopySheet(copied); }), Refused);
    EXPECT_EQ(MessageOf([&] { list.CheckArrange(TArrangeCheck(0, 1, NoMovePosition, 0, Info(0, 0))); }),
              Refused);
    EXPECT_EQ(SavedList(list), before);
    // On another sheet's insertion the area stays.
    EXPECT_EQ(MessageOf([&] { list.ArrangeInsertRowsAndCols(0, 1, NoMovePosition, 0, Info(1, 0)); }),
              "no exception");
}

namespace {

struct Walk {
    std::vector<int> Depths;
    int Deepest = 0;
    std::string Message;
};

Walk ReadChart(const Bytes& stream) {
    TStreamFile f(stream);
    TRecordHeader header = f.FirstHeader();
    Walk walk;
    TChartRecordList list;
    walk.Message = MessageOf([&] {
        LoadChartRecords(f.Ole, header, [&](std::unique_ptr<TBaseRecord> record, int depth) {
            if (walk.Depths.size() < 16) walk.Depths.push_back(depth);
            walk.Deepest = std::max(walk.Deepest, depth);
            list.Add(std::move(record));
        });
    });
    return walk;
}

Bytes Repeat(const Bytes& record, int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) out.insert(out.end(), record.begin(), record.end());
    return out;
}

}  // namespace

TEST(ChartRecords, NestedBlocksAreCountedNotRecursed) {
    const Bytes begin = Rec(xlr_BEGIN, {}), end = Rec(xlr_END, {}), eof = Rec(xlr_EOF, {});
    const Walk chart = ReadChart(Cat({Rec(0x1002, {0, 0, 0, 0}), begin, Rec(0x1003, {1, 0}), begin,
                                      Rec(xlr_AI, AIText), end, end, eof}));
    EXPECT_EQ(chart.Depths, (std::vector<int>{0, 0, 1, 1, 2, 2, 1, 0}));
    EXPECT_EQ(chart.Message, "no exception");

    const int deep = 100000;
    const Walk nested = ReadChart(Cat({Repeat(begin, deep), Repeat(end, deep), eof}));
    EXPECT_EQ(nested.Deepest, deep);
    EXPECT_EQ(nested.Message, "no exception");

    // An EOF inside an open block: a real one, or the stream ending there.
    for (const Bytes& cut :
         {Cat({begin, begin, end, eof, end, eof}), Cat({Repeat(begin, deep), Repeat(end, deep - 1)})})
        EXPECT_EQ(ReadChart(cut).Message, "Error reading Excel records. File invalid") << cut.size();
}

TEST(EmptySheetTemplate, LoadsAsGlobalsAndOneSheet) {
    TKmrMemoryStream memory({KmrEmptySheet().begin(), KmrEmptySheet().end()});
    TOle2File ole(&memory);
    ole.SelectStream(u"Workbook");
    // Each record's id and where the one after it starts (the walk has read
    // that one's header already).
    std::vector<std::pair<std::uint16_t, std::int64_t>> records;
    std::uint32_t sheetOffset = 0;
    WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> r) {
        records.push_back({r->Id, ole.Position() - 4});
        if (r->Id == 0x85) sheetOffset = GetLongWord(r->Data, 0);
    });
    // Cleared sheets read the template up to its first EOF: a BOF must
    // follow, and the BOUNDSHEET must point at it.
    std::size_t firstEof = 0;
    while (records.at(firstEof).first != xlr_EOF) ++firstEof;
    ASSERT_EQ(records.at(firstEof + 1).first, 0x809);
    EXPECT_EQ(records[firstEof].second, sheetOffset);
    EXPECT_EQ(records.back().first, xlr_EOF);
}
