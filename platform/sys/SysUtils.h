// Small stand-ins for the class library's date, number and process
// helpers.  Nothing here depends on the process locale.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// A local date and time broken into its parts.
struct TDateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

TDateTimeParts DecodeLocal(std::chrono::system_clock::time_point t);
inline TDateTimeParts Now() { return DecodeLocal(std::chrono::system_clock::now()); }

// The class library's date format letters: d dd m mm yy yyyy h hh n nn s ss
// (n is minutes); "..." and '...' quote literal text; any other character
// stands for itself.
std::string FormatDateTime(std::string_view format, const TDateTimeParts& t);

// The default floating-point text: at most 15 significant digits, '.' as
// the decimal separator, an exponent as E20 or E-5.
std::string FloatToStr(double value);

// A whole number in decimal (blanks around it and a sign allowed);
// the default when the text is none or out of the int range.
int StrToIntDef(std::string_view text, int fallback);

// The full path of the running program.
std::string ProgramFileName();
// Every variable of the process environment as "name=value", in order.
std::vector<std::string> EnvironmentStrings();

}  // namespace plat
