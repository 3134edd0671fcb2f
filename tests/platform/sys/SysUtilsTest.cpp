#include "platform/sys/Instance.h"
#include "platform/sys/SysUtils.h"
#include "tests/tools/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace plat;

// The log file's name: ProgramTest reads it with the start-up lines.
TEST(FormatDateTime, DecodesLocalTime) {
    testsupport::ScopedEnv tz("TZ", std::string("UTC"));
    ::tzset();
    auto t = std::chrono::system_clock::from_time_t(1796500800) + std::chrono::milliseconds(250);
    TDateTimeParts p = DecodeLocal(t);  // 2026-12-05 20:00:00 UTC
    EXPECT_EQ(FormatDateTime("dd.mm.yyyy hh:nn:ss", p), "05.12.2026 20:00:00");
    EXPECT_EQ(p.millisecond, 250);
}

TEST(FloatToStr, GivesTheDefaultFloatingPointText) {
    for (auto [value, text] : {std::pair{10.5, "10.5"}, {0.1, "0.1"}, {1234.0, "1234"}, {-22.84, "-22.84"},
                               {1.0 / 3, "0.333333333333333"}, {1e20, "1E20"}, {0.0, "0"}})
        EXPECT_EQ(FloatToStr(value), text);
}

TEST(StrToIntDef, TakesWholeNumbersOnly) {
    for (auto [text, value] : {std::pair{"300", 300}, {" 42 ", 42}, {"-7", -7}, {"+7", 7}})
        EXPECT_EQ(StrToIntDef(text, 1), value);
    for (const char* bad : {"abc", "", "  ", "12a", "1.5", "+-3", "2147483648"})
        EXPECT_EQ(StrToIntDef(bad, 300), 300) << bad;
}

// The program's own file name: ProgramTest reads it from the start-up line.
TEST(InstanceLock, OnlyOneHolderAtATime) {
    testsupport::TempDir dir;
    testsupport::ScopedEnv env("XDG_RUNTIME_DIR", dir.Path());
    {
        TInstanceLock first("Orvelo");
        TInstanceLock second("Orvelo");
        EXPECT_EQ(first.Path().rfind(dir.Path() + "/Orvelo", 0), 0u);
        ASSERT_TRUE(first.Acquire());
        EXPECT_TRUE(first.Acquire());  // holding it already
        EXPECT_FALSE(second.Acquire());
        TInstanceLock other("Jiny");
        EXPECT_TRUE(other.Acquire());
    }
    TInstanceLock again("Orvelo");
    EXPECT_TRUE(again.Acquire());  // released with its holder
}
