// A cell value as its number format shows it: the text, the colour a
// section asks for, and whether a format shows a date or a time. The
// locale comes only from a TFormatSettings record, never from the process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UKmrVariant.h"

namespace kalmira {

// The 1900 date system and the default locale settings. colour receives
// 0x00BBGGRR when the chosen section names a colour and keeps what the
// caller passed otherwise.
std::u16string XlsFormatValue(const TVariant& value, std::u16string_view format, std::uint32_t& colour);

// dates1904 moves dates and times by 1462 days; no settings mean the
// default locale settings. Never reads past the end of a damaged format.
std::u16string XlsFormatValue1904(const TVariant& value, std::u16string_view format, bool dates1904,
                                  std::uint32_t& colour, const TFormatSettings* settings = nullptr);

// True when the format shows a date or a time, with which of the two.
bool HasXlsDateTime(std::u16string_view format, bool& hasDate, bool& hasTime,
                    const TFormatSettings* settings = nullptr);

}  // namespace kalmira
