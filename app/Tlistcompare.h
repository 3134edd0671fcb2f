// The order of the meter list when a column header is clicked.
#pragma once

#include <string_view>

// Negative, zero or positive as the row with text a comes before, with or
// after the row with text b in the given column.  Columns 7 ("Výr. číslo")
// and 9 ("Hodnota") compare as numbers, the others byte by byte as code
// page 1250 holds the texts.  Never throws.
int CompareMeterColumn(int column, std::string_view a, std::string_view b);

// The same order for any list: as numbers when the column holds numbers,
// else byte by byte as code page 1250 holds the texts.  Never throws.
int CompareListTexts(std::string_view a, std::string_view b, bool numeric);
