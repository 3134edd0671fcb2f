// Code page 1250 both ways; its byte order is shown by MeterListOrder,
// which sorts Czech names by it, a line of the log by ProgramTest.
#include "platform/sys/Codepage.h"

#include <gtest/gtest.h>

using namespace plat;

TEST(Codepage1250, ConvertsCzechTextBothWaysAndMarksWhatItCannotHold) {
    EXPECT_EQ(Utf8ToCp1250("ěščřžýáíéůúťďňĚŠČŘŽ"),
              "\xEC\x9A\xE8\xF8\x9E\xFD\xE1\xED\xE9\xF9\xFA\x9D\xEF\xF2\xCC\x8A\xC8\xD8\x8E");
    EXPECT_EQ(Cp1250ToUtf8("\x8A\x9E\xEC"), "Šžě");
    EXPECT_EQ(Cp1250ToUtf8(Utf8ToCp1250("Příliš žluťoučký kůň")), "Příliš žluťoučký kůň");
    // What it cannot hold becomes a question mark.
    EXPECT_EQ(Utf8ToCp1250("a€b"), "a\x80" "b");  // the euro sign is there
    EXPECT_EQ(Utf8ToCp1250("a\xE2\x82\xBD" "b"), "a?b");  // the rouble sign is not
    EXPECT_EQ(Utf8ToCp1250("x\xFFy\xC3"), "x?y?");        // no UTF-8 at all
    EXPECT_EQ(Cp1250ToUtf8("a\x98" "b"), "a?b");  // unassigned in the code page
}
