#include "app/Tformats.h"
#include "app/Tlistcompare.h"
#include "app/Tlogfile.h"
#include "tests/tools/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using testsupport::ReadFile;

// The code page of the lines: ProgramTest reads it from the file.
TEST(LogFile, LinesFromManyThreadsNeverInterleave) {
    testsupport::TempDir dir;
    std::string path = dir.File("log.txt");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&path, t] {
            std::string line(200, static_cast<char>('a' + t));
            for (int i = 0; i < 200; ++i) AppendLogFile(path, line + "\n");
        });
    for (auto& th : threads) th.join();
    std::string text = ReadFile(path);
    ASSERT_EQ(text.size(), 4u * 200 * 201);
    for (std::size_t at = 0; at < text.size(); at += 201) {
        std::string line = text.substr(at, 201);
        ASSERT_EQ(std::count(line.begin(), line.end(), line[0]), 200) << at;
        ASSERT_EQ(line.back(), '\n');
    }
}

// Whole and short values as the meter list shows them: MeterWorkbook.
TEST(ValueText, RoundsToFourDecimals) {
    EXPECT_EQ(ValueText(1.23456), "1.2346");
    EXPECT_EQ(ValueText(-0.00004), "0");
    EXPECT_EQ(ValueText(-2.71828), "-2.7183");
}

namespace {

std::vector<std::string> Sorted(int column, std::vector<std::string> texts) {
    std::stable_sort(texts.begin(), texts.end(), [column](const std::string& a, const std::string& b) {
        return CompareMeterColumn(column, a, b) < 0;
    });
    return texts;
}

using Texts = std::vector<std::string>;

}  // namespace

// Text columns compare the code page bytes (the date column too); serial and
// value columns compare as numbers, non-numbers after them, ties by text.
TEST(MeterListOrder, TextAndNumberColumns) {
    const std::tuple<int, Texts, Texts> cases[] = {
        {0, {"9", "10", "2a", "2"}, {"10", "2", "2a", "9"}},
        {2, {"Šťastný", "Adam", "Álík", "adam", "Zedník"}, {"Adam", "Zedník", "adam", "Šťastný", "Álík"}},
        {8, {"9", "10"}, {"10", "9"}},
        {7, {"10", "9", "-3", "100"}, {"-3", "9", "10", "100"}},
        {9, {"1234", "22.84", "22,5", " 7 ", "0"}, {"0", " 7 ", "22,5", "22.84", "1234"}},
        {7, {"AB12", "", "5", "x", "nan", "inf", "1e3", "12"}, {"5", "12", "", "1e3", "AB12", "inf", "nan", "x"}},
        {9, {"2.0", "2", "2,0", "02"}, {"02", "2", "2,0", "2.0"}},
    };
    for (const auto& [column, texts, sorted] : cases) EXPECT_EQ(Sorted(column, texts), sorted) << column;
    EXPECT_EQ(CompareMeterColumn(7, "99999999999999999999", "1"), 1);  // beyond 64 bits, as decimal
    EXPECT_EQ(CompareMeterColumn(9, "bad\xFF", "bad\xFE"), 0);  // both become "bad?"
}
