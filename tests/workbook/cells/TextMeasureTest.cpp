// The fixed-pitch measuring (7 x 17 pixels a character at 10 points): how
// a text is cut into lines, and what a run in another font adds.
#include <gtest/gtest.h>

#include "workbook/cells/UKmrFixedPitchMeasure.h"

using namespace kalmira;

TEST(FixedPitchMeasure, SplitText) {
    TKmrFont font;
    font.Size20 = 200;
    TKmrFont sub = font;
    sub.Style.Include(TKmrFontStyle::fs_Subscript);
    const struct {
        std::u16string text;
        long double width;
        bool stacked;
        TKmrFontRunList runs;
        TKmrTextLines lines;
    } cases[] = {
        {u"", 100, false, {}, {0, {0, 0}}},
        {u"abcdefghij", 30, false, {}, {3, {28, 17}}},                   // cut between characters
        {u"aaaa bbbb", 50, false, {}, {2, {35, 17}}},                     // the space stays on the first line
        {u"ab\ncd", 1000, false, {}, {2, {14, 17}}},                      // a line feed ends a line
        {u"ab\rcd", 1000, false, {}, {1, {35, 17}}},                      // a carriage return does not
        {u"abc", 1000, true, {}, {3, {7, 17}}},                           // stacked: a line a character
        {u"\U0001F600\U0001F600x", 14, false, {}, {2, {14, 17}}},         // a surrogate pair is one character
        {u"\U0001F600\U0001F600", 1000, true, {}, {2, {7, 17}}},
        {u"abcd", 20, false, {{3, sub}}, {2, {19, 17}}},                  // "ab" 7 + 7, "cd" 5 + 5
        {u"abcd", 24, false, {{3, sub}}, {1, {24, 17}}},
    };
    TKmrFixedPitchMeasure measure;
    for (const auto& c : cases) {
        const TKmrTextLines lines = measure.SplitText(font, 1, c.text, c.runs, c.width, c.stacked);
        EXPECT_EQ(std::make_tuple(lines.Count, lines.Extent.Width, lines.Extent.Height),
                  std::make_tuple(c.lines.Count, c.lines.Extent.Width, c.lines.Extent.Height))
            << c.text.size() << " units at " << static_cast<double>(c.width);
    }
}
