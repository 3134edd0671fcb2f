// The texts in which this program shows and writes dates and values.
// Every date goes through DateTimeText: one format, never a process-wide
// setting.
#pragma once

#include "platform/sys/SysUtils.h"
#include "workbook/storage/UKmrFormats.h"

#include <string>

inline constexpr const char* kDateTimeFormat = "dd.mm.yyyy hh:nn:ss";
inline constexpr const char* kLongTimeFormat = "hh:nn:ss";

std::string DateTimeText(const plat::TDateTimeParts& t);

// The workbook engine's process-wide short date format becomes
// kDateTimeFormat, so that dates it turns into text read as this program's
// own; the user's decimal separator (the engine's settings, read once from
// the desktop) becomes the program's.  Called once at start-up, before any
// other thread runs.
void UseProgramDateFormat();

// The program's format settings: the given ones with kDateTimeFormat as the
// short date format; their decimal separator is the one every number text
// of the program shows (NumberText).
void UseProgramFormatSettings(kalmira::TFormatSettings settings);

// The decimal separator of the program's number texts, '.' until the
// program's settings are installed.  Any thread.
char16_t NumberDecimalSeparator();

// The default floating-point text (plat::FloatToStr) with the program's
// decimal separator: what the list, the tooltip and the number fields show.
// Workbooks get numbers, and log lines keep the point.
std::string NumberText(double value);

// A log line: the date and time, " : ", the message.
std::string LogLineText(const plat::TDateTimeParts& now, const std::string& message);

// The value rounded to 4 decimal places (halves to even) as NumberText.
std::string ValueText(double value);
