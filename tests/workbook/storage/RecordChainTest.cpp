#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/workbook/storage/RecordBytes.h"

using namespace kalmira;
using namespace ole2test;

namespace {

std::vector<Bytes> Links(const TBaseRecord* record) {
    std::vector<Bytes> links;
    for (; record; record = record->Continue.get()) links.push_back(record->Data.ToVector());
    return links;
}

}  // namespace

// A record's CONTINUE chain stays its own: a copy keeps its chain when the
// source goes, a chain moved out leaves the record without one, and records
// made and freed on other threads at the same time keep theirs.
TEST(RecordChains, StayWithTheirRecordAcrossCopiesMovesAndThreads) {
    const std::vector<Bytes> links{{1, 2}, {3}, {4, 5}};
    auto source = Chain<TBaseRecord>(0x1234, links);
    std::unique_ptr<TBaseRecord> copy = source->CopyTo();
    source.reset();
    EXPECT_EQ(Links(copy.get()), links);
    EXPECT_EQ(copy->TotalSize(), 4 + 2 + 4 + 1 + 4 + 2);

    std::unique_ptr<TBaseRecord> rest = std::move(copy->Continue);
    EXPECT_FALSE(copy->Continue);
    EXPECT_EQ(Links(copy.get()), std::vector<Bytes>{links[0]});
    EXPECT_EQ(Links(rest.get()), (std::vector<Bytes>{links[1], links[2]}));

    std::vector<std::thread> threads;
    for (std::uint8_t t = 0; t < 4; ++t)
        threads.emplace_back([t, &rest] {
            for (std::uint8_t i = 0; i < 200; ++i) {
                const std::vector<Bytes> mine{{t}, {i}, {t, i}};
                auto record = Chain<TBaseRecord>(0x1234, mine);
                if (t == 0 && i == 0) rest.reset();
                EXPECT_EQ(Links(record.get()), mine);
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(rest);
}
