#include <gtest/gtest.h>

#include <sstream>

#include "workbook/api/UKmrRowComments.h"

using namespace kalmira;

// Steps "a ROW VALUE" (Add: its position), "d ROW POSITION" (Delete), "f ROW 0"
// (Find: t or f, the index); then each row's numbers.
TEST(RowComments, AddFindAndDelete) {
    const std::pair<const char*, const char*> cases[] = {
        {"a 5 0  a 2 1  a 9 2  f 7 0  f 9 0  f 1 0", "0 0 0 f2 t2 f0 | 2:1 5:0 9:2"},
        {"a 3 10  a 3 10", "0 1 | 3:10,10"},
        {"a 2 0  a 2 1  a 4 2  d 2 0", "0 1 0 | 2:0 4:1"},
        {"a 2 0  a 4 1  d 3 0", "0 0 | 2:0 4:1"},                       // a row without an entry
        {"a 2 0  a 4 1  d 2 0", "0 0 | 2: 4:0"},                        // an emptied entry stays
        {"a 2 0  a 4 1  d 2 1  d 2 -1  d 4 5", "0 0 | 2:0 4:1"},        // positions outside the row
        {"a 1 3  a 1 1  a 6 2  a 6 0  d 1 1", "0 1 0 1 | 1:2 6:1,0"},  // every row renumbered
    };
    for (const auto& [steps, expected] : cases) {
        TRowComments index;
        std::istringstream in(steps);
        std::string out;
        char op = 0;
        std::int32_t row = 0, value = 0, at = -1;
        while (in >> op >> row >> value) {
            if (op == 'a') out += std::to_string(index.Add(row, value)) + ' ';
            if (op == 'd') index.Delete(row, value);
            const bool found = op == 'f' && index.Find(row, at);
            if (op == 'f') out += (found ? "t" : "f") + std::to_string(at) + ' ';
        }
        out += '|';
        for (row = 0; row <= 10; ++row) {
            const TCommentRowPos& entry = index.GetItems(row);
            if (index.Find(row, at)) out += ' ' + std::to_string(row) + ':';
            for (int i = 0; i < entry.Count(); ++i) out += (i ? "," : "") + std::to_string(entry.GetItems(i));
        }
        EXPECT_EQ(out, expected) << steps;
        EXPECT_EQ(&index.GetItems(0), &index.GetItems(100));  // one shared empty entry
    }
}
