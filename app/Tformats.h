// The texts in which this program shows and writes dates and values.
// Every date goes through DateTimeText: one format, never a process-wide
// setting.
#pragma once

#include "platform/sys/SysUtils.h"

#include <string>

inline constexpr const char* kDateTimeFormat = "dd.mm.yyyy hh:nn:ss";
inline constexpr const char* kLongTimeFormat = "hh:nn:ss";

std::string DateTimeText(const plat::TDateTimeParts& t);

// A log line: the date and time, " : ", the message.
std::string LogLineText(const plat::TDateTimeParts& now, const std::string& message);

// The value rounded to 4 decimal places (halves to even) in the default
// floating-point text.
std::string ValueText(double value);
