// The dialogs' number fields and the dates, without widgets (the meter
// dialog's checks: the dialog's tests).
#include "app/Tfieldnumber.h"
#include "app/Tmydates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct FieldCase {
    const char* typed;
    int places;
    const char* shown;
};

// Hostile texts give zero; halves round to even.
TEST(FieldNumber, RewritesWhatWasTyped) {
    const std::string nines(10000, '9'), letters(10000, 'x');
    const FieldCase cases[] = {
        {"12,345", 4, "12.345"}, {"1.5", 4, "1.5"},       {"abc", 4, "0"},        {"1.234,5", 4, "0"},
        {"nan", 4, "0"},         {"inf", 4, "0"},         {"-INF", 4, "0"},       {"1e400", 4, "0"},
        {"1,23456", 4, "1.2346"}, {"-1,0625", 3, "-1.062"}, {"2.03125", 4, "2.0312"}, {"  7,25  ", 4, "7.25"},
        {"", 4, "0"},            {"1 000", 4, "0"},       {"1e3", 4, "1000"},     {"-0,5", 3, "-0.5"},
        {"+2", 4, "2"},          {"12,345", 3, "12.345"}, {"0x10", 4, "0"},       {"1,5,", 4, "0"},
        {nines.c_str(), 4, "0"}, {letters.c_str(), 4, "0"}, {"1e-400", 4, "0"},  {"0,125", 2, "0.12"},
        {"0.375", 2, "0.38"},
    };
    for (const FieldCase& c : cases)
        EXPECT_EQ(FieldNumberText(c.typed, c.places), c.shown) << "typed: " << std::string(c.typed).substr(0, 20);
    EXPECT_EQ(FieldWholeNumber(2.5), 2);
    EXPECT_EQ(FieldWholeNumber(3.5), 4);
    EXPECT_EQ(FieldWholeNumber(1e300), 2147483647);
    EXPECT_EQ(FieldWholeNumber(-1e300), -2147483647 - 1);
}

// Day numbers from 30.12.1899 (the month's bounds: the unit report's
// heading; across years: the meters workbook's log rows).
// The transfer month is two back, December for January and February.
TEST(Dates, NowAndTheTransferMonth) {
    EXPECT_DOUBLE_EQ(ComputeCurrDates({2026, 11, 7, 8, 9, 10, 11}).now, 46333 + 29350011.0 / 86400000);
    const int table[][4] = {{1, 2026, 12, 2025}, {2, 2026, 12, 2025}, {3, 2026, 1, 2026}, {12, 2026, 10, 2026}};
    for (const auto& row : table) {
        const TTransferMonth t = TransferMonth(row[0], row[1]);
        EXPECT_EQ((std::vector<int> {t.month, t.year}), (std::vector<int> {row[2], row[3]})) << row[0];
    }
}

}  // namespace
