// Number fields of the dialogs: what the operator typed, read as a number
// and written back in the program's one default number text.
#pragma once

#include <string>
#include <string_view>

#include <optional>

// The whole text (blanks around it allowed) as a number with '.' as the
// decimal separator, else with ',', else with the user's own
// (NumberDecimalSeparator); none when neither converts, and for
// infinities, NaN and values out of range.
std::optional<double> TryParseFieldNumber(std::string_view text);

// The same, 0 when neither converts.  Infinities,
// NaN and values out of range also give 0: a NaN would pass every "not 0"
// check that follows.
double ParseFieldNumber(std::string_view text);

// Rounded to the given decimal places, halves to even.
double RoundToPlaces(double value, int places);

// The text a number field shows after it was left (NumberText).
std::string FieldNumberText(std::string_view text, int places);

// Whole numbers that the fields stand for: the number rounded to the
// nearest (halves to even), held within the int range.
int FieldWholeNumber(double value);

// Characters, not bytes, of the UTF-8 text without the blanks and control
// characters at either end.
std::size_t TrimmedLength(std::string_view utf8);
std::string TrimmedText(std::string_view utf8);
