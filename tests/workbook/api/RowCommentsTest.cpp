#include <gtest/gtest.h>

#include <sstream>

#include "tests/workbook/storage/MessageOf.h"
#include "workbook/api/UExcelAdapter.h"
#include "workbook/api/UKmrRowComments.h"
#include "workbook/api/Xlsbasetemplatestore.h"

using namespace kalmira;

namespace {

// Runs "a ROW VALUE" and "d ROW POSITION" steps; gives the results of the
// adds and the entries as "row:[numbers]".
std::string RunSteps(const std::string& steps, TRowComments& index) {
    std::istringstream in(steps);
    std::string out;
    char op = 0;
    int row = 0, value = 0;
    while (in >> op >> row >> value) {
        if (op == 'a') out += std::to_string(index.Add(row, value)) + ' ';
        else index.Delete(row, value);
    }
    out += '|';
    for (int r = 0; r <= 10; ++r) {
        std::int32_t at = 0;
        if (!index.Find(r, at)) continue;
        const TCommentRowPos& entry = index.GetItems(r);
        out += ' ' + std::to_string(entry.Row()) + ":[";
        for (int i = 0; i < entry.Count(); ++i) out += (i ? "," : "") + std::to_string(entry.GetItems(i));
        out += ']';
    }
    return out;
}

}  // namespace

TEST(RowComments, AddFindAndDelete) {
    const struct {
        const char* steps;
        const char* expected;
    } cases[] = {
        {"a 5 0  a 2 1  a 9 2", "0 0 0 | 2:[1] 5:[0] 9:[2]"},
        {"a 3 10  a 3 10", "0 1 | 3:[10,10]"},
        {"a 2 0  a 2 1  a 4 2  d 2 0", "0 1 0 | 2:[0] 4:[1]"},
        {"a 2 0  a 4 1  d 3 0", "0 0 | 2:[0] 4:[1]"},          // a row without an entry
        {"a 2 0  a 4 1  d 2 0", "0 0 | 2:[] 4:[0]"},           // an emptied entry stays
        {"a 2 0  a 4 1  d 2 1  d 2 -1  d 4 5", "0 0 | 2:[0] 4:[1]"},  // positions outside the row
        {"a 1 3  a 1 1  a 6 2  a 6 0  d 1 1", "0 1 0 1 | 1:[2] 6:[1,0]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps);
        TRowComments index;
        EXPECT_EQ(RunSteps(c.steps, index), c.expected);
    }
}

TEST(RowComments, FindGivesTheInsertionPlaceAndRowsWithoutEntryShareOneEmptyEntry) {
    TRowComments index;
    for (int row : {5, 2, 9}) index.Add(row, 0);
    std::int32_t at = -1;
    EXPECT_FALSE(index.Find(7, at));
    EXPECT_EQ(at, 2);
    EXPECT_TRUE(index.Find(9, at));
    EXPECT_EQ(at, 2);
    EXPECT_FALSE(index.Find(1, at));
    EXPECT_EQ(at, 0);
    EXPECT_EQ(&index.GetItems(1), &index.GetItems(100));
    EXPECT_EQ(index.GetItems(1).Count(), 0);
    index.Delete(2, 0);
    EXPECT_NE(&index.GetItems(2), &index.GetItems(1));
}

namespace {

class OneStore : public TXlsBaseTemplateStore {};

// Holds its store the way the XLS adapter does.
struct AdapterStandIn {
    TTemplateStoreRef TemplateStore;
};

}  // namespace

TEST(TemplateStore, TheBaseRaisesAndADestroyedStoreClearsItsReferences) {
    AdapterStandIn adapter;
    EXPECT_EQ(adapter.TemplateStore.Get(), nullptr);
    {
        OneStore store;
        EXPECT_EQ(MessageOf([&] { store.GetStoredFile(u"a.xls"); }), "Abstract Error");
        EXPECT_THROW(store.IsUpToDate(), EAbstractError);
        EXPECT_THROW(store.Refresh(), EAbstractError);
        adapter.TemplateStore = TTemplateStoreRef(&store);
        EXPECT_EQ(adapter.TemplateStore.Get(), &store);
    }
    EXPECT_EQ(adapter.TemplateStore.Get(), nullptr);
}
