// The texts in which this program shows and writes dates and values.
// Every date goes through DateTimeText: one format, never a process-wide
// setting.
#pragma once

#include "platform/sys/SysUtils.h"

#include <string>

inline constexpr const char* kDateTimeFormat = "dd.mm.yyyy hh:nn:ss";
inline constexpr const char* kLongTimeFormat = "hh:nn:ss";

std::string DateTimeText(const plat::TDateTimeParts& t);

// The workbook engine's process-wide short date format becomes
// kDateTimeFormat, so that dates it turns into text read as this program's
// own.  Called once at start-up, before any other thread runs.
void UseProgramDateFormat();

// A log line: the date and time, " : ", the message.
std::string LogLineText(const plat::TDateTimeParts& now, const std::string& message);

// The value rounded to 4 decimal places (halves to even) in the default
// floating-point text.
std::string ValueText(double value);
