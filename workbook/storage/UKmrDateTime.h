// Date-time text: the engine's own reader of typed dates and times, and the
// class library's date-time format language. Date-times count days from
// 30 December 1899; the fraction is the time of day.
#pragma once

#include <string>
#include <string_view>

#include "workbook/storage/UKmrFormats.h"

namespace kalmira {

// Reads a typed date, time or both. Empty date and time formats mean the
// settings' short date and short time formats; no settings mean the default
// locale settings. On success format receives the number format that shows
// what was typed ("d.M.yyyy H:mm"). Never throws.
bool KmrTryStrToDateTime(std::u16string_view text, double& dateTime, std::u16string& format, bool& hasDate,
                         bool& hasTime, std::u16string_view dateFormat = {}, std::u16string_view timeFormat = {},
                         const TFormatSettings* settings = nullptr);

// The class library's date-time formatting; a value it cannot show (NaN, a
// year outside 1-9999) gives "##". Never throws. The two-argument form
// follows the process-wide settings.
std::u16string TryFormatDateTime(std::u16string_view format, double dateTime);
std::u16string TryFormatDateTime(std::u16string_view format, double dateTime, const TFormatSettings& settings);
// With dates1904 the value counts from 1 January 1904 (1462 days later).
std::u16string TryFormatDateTime1904(std::u16string_view format, double dateTime, bool dates1904,
                                     const TFormatSettings& settings);

}  // namespace kalmira
