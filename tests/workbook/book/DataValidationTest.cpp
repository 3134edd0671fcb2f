// DVAL, the head of a sheet's data validations, loads into its own class
// and is written as read.
#include <gtest/gtest.h>

#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/cells/UXlsRangeRecords.h"

using namespace kalmira;
using namespace ole2test;

TEST(DataValidation, DValRecord) {
    RegisterRangeRecords();
    // No drop-down object (-1), one DV record.
    const Bytes data = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0};
    const auto record = LoadAs<TDValRecord>(0x1B2, data);
    ASSERT_TRUE(record);
    EXPECT_EQ(Saved(*record), Rec(0x1B2, data));
}
