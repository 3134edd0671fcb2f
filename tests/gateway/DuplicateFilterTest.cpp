#include <gtest/gtest.h>

#include "GatewayTestSupport.h"
#include "gateway/Rfpacket.h"

namespace {

class DuplicateFilter : public gatewayTest {};

packetId idOf(int n) {
    packetId id{};
    id[0] = static_cast<std::uint8_t>(n >> 8);
    id[1] = static_cast<std::uint8_t>(n);
    id[15] = 0x5A;
    return id;
}

}  // namespace

TEST_F(DuplicateFilter, AHitDoesNotRenewTheTime) {
    now = 0;
    EXPECT_EQ(duplicateFilter(idOf(1)), 1);
    now = 30;
    EXPECT_EQ(duplicateFilter(idOf(1)), 0);
    now = 59;
    EXPECT_EQ(duplicateFilter(idOf(1)), 0);
    now = 60;
    EXPECT_EQ(duplicateFilter(idOf(1)), 1);
    now = 119;
    EXPECT_EQ(duplicateFilter(idOf(1)), 0);
}

TEST_F(DuplicateFilter, FullInTheCurrentSecondStoresNothingMore) {
    for (int i = 0; i < filterSlots; ++i) ASSERT_EQ(duplicateFilter(idOf(i)), 1) << i;
    EXPECT_EQ(duplicateFilter(idOf(5000)), 1);
    EXPECT_EQ(duplicateFilter(idOf(5000)), 1) << "it was not stored";
    EXPECT_EQ(duplicateFilter(idOf(0)), 0);
    EXPECT_EQ(duplicateFilter(idOf(filterSlots - 1)), 0);
}

TEST_F(DuplicateFilter, FullTableReplacesTheFirstOfTheOldest) {
    // Slot order follows arrival: slot 0 at 10, slots 1 and 2 at 5, the rest at 10.
    for (int i = 0; i < filterSlots; ++i) {
        now = (i == 1 || i == 2) ? 5 : 10;
        ASSERT_EQ(duplicateFilter(idOf(i)), 1);
    }
    now = 20;
    EXPECT_EQ(duplicateFilter(idOf(7000)), 1);
    EXPECT_EQ(duplicateFilter(idOf(7000)), 0);
    EXPECT_EQ(duplicateFilter(idOf(0)), 0);
    EXPECT_EQ(duplicateFilter(idOf(2)), 0);
    EXPECT_EQ(duplicateFilter(idOf(1)), 1) << "slot 1 was replaced";
}

TEST_F(DuplicateFilter, ExpiredSlotsAreReplacedOldestFirstNotEmptied) {
    for (int i = 0; i < filterSlots; ++i) {
        now = i;
        ASSERT_EQ(duplicateFilter(idOf(i)), 1);
    }
    now = 100000;
    EXPECT_EQ(duplicateFilter(idOf(9000)), 1);  // over slot 0, time 0
    EXPECT_EQ(duplicateFilter(idOf(9001)), 1);  // over slot 1, time 1
    EXPECT_EQ(duplicateFilter(idOf(9000)), 0);
    EXPECT_EQ(duplicateFilter(idOf(9001)), 0);
}

TEST_F(DuplicateFilter, ClearEmptiesAndTheDefaultClockRuns) {
    EXPECT_EQ(duplicateFilter(idOf(3)), 1);
    duplicateFilterClear();
    EXPECT_EQ(duplicateFilter(idOf(3)), 1);
    duplicateFilterSetClock({});
    EXPECT_EQ(duplicateFilter(idOf(4)), 1);
    EXPECT_EQ(duplicateFilter(idOf(4)), 0);
}
