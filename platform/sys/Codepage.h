// Conversion between the application's UTF-8 text and the Windows code page
// 1250 that some files fix (the daily log file).
#pragma once

#include <string>
#include <string_view>

namespace plat {

// Characters that code page 1250 lacks, and bytes that are no UTF-8,
// become '?'.
std::string Utf8ToCp1250(std::string_view text);
std::string Cp1250ToUtf8(std::string_view bytes);

// Byte-by-byte comparison of two texts as code page 1250 holds them
// (negative, zero or positive), as an 8-bit ordinal comparison would.
int CompareCp1250(std::string_view utf8a, std::string_view utf8b);

}  // namespace plat
