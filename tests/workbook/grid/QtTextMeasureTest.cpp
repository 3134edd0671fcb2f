// The program's text measuring over Qt fonts. Installed fonts differ from
// machine to machine, so only relations between sizes are compared.
#include <gtest/gtest.h>

#include "tests/workbook/grid/GridTestApp.h"
#include "workbook/grid/UKmrQtTextMeasure.h"

using namespace kalmira;

namespace {

TKmrFont Font(int points) {
    TKmrFont font;
    font.Name = u"Arial";
    font.Size20 = static_cast<std::uint16_t>(points * 20);
    return font;
}

struct QtMeasureFixture : ::testing::Test {
    void SetUp() override { GridTestApp(); }
    std::unique_ptr<TKmrTextMeasure> measure = KmrQtTextMeasureFactory()();
    TKmrTextSize Extent(std::u16string_view text, const TKmrFontRunList& runs = {}, long double zoom = 1) {
        return measure->TextExtent(Font(10), zoom, text, runs);
    }
    int Lines(std::u16string_view text, long double width, bool stacked = false) {
        return measure->SplitText(Font(10), 1, text, {}, width, stacked).Count;
    }
};

TEST_F(QtMeasureFixture, ExtentsGrowWithTextZoomAndRunFonts) {
    const TKmrTextSize word = Extent(u"Meter"), twice = Extent(u"MeterMeter");
    EXPECT_GT(word.Width, 0);
    EXPECT_GT(word.Height, 0);
    EXPECT_GT(twice.Width, word.Width);
    EXPECT_GT(Extent(u"Meter", {}, 2).Width, word.Width);
    EXPECT_EQ(Extent(u"").Width, 0);

    const TKmrFontRunList bigTail{{4, Font(30)}}, bigAll{{1, Font(30)}}, pastEnd{{9, Font(30)}};
    EXPECT_GT(Extent(u"Meter", bigTail).Height, word.Height);
    EXPECT_GT(Extent(u"Meter", bigAll).Width, Extent(u"Meter", bigTail).Width);
    EXPECT_EQ(Extent(u"Meter", pastEnd).Height, word.Height);
}

TEST_F(QtMeasureFixture, NarrowerWidthsGiveMoreLines) {
    const std::u16string text = u"one two three four five six";
    const int whole = Extent(text).Width;
    const struct {
        long double width;
        bool stacked;
        int lines;
    } cases[] = {
        {static_cast<long double>(whole), false, 1},
        {1e12L, false, 1},
        {0, false, 22},  // a character a line, a space joining the one before
        {-5, false, 22},
    };
    for (const auto& c : cases) EXPECT_EQ(Lines(text, c.width, c.stacked), c.lines) << double(c.width);
    EXPECT_GE(Lines(text, whole / 2.0L), 2);
    EXPECT_GT(Lines(text, whole / 4.0L), Lines(text, whole / 2.0L));
    EXPECT_EQ(Lines(u"Meter", 1e12L, true), 5);
    EXPECT_EQ(Lines(u"", 100), 0);
}

}  // namespace
