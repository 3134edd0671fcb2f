// A cell value as its number format shows it: the text, the colour a
// section asks for, and whether a format shows a date or a time. The
// locale comes only from a TFormatSettings record, never from the process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The narrower texts General has for a number that does not fit its cell,
// widest first: fewer decimals (while a significant digit stays), then the
// scientific form with ever fewer mantissa digits (1.23E+13, 1E+13). Empty
// when the value is no number or the section that shows it is not General.
std::vector<std::u16string> XlsGeneralNarrowerForms(const TVariant& value, std::u16string_view format,
                                                    const TFormatSettings* settings = nullptr);

}  // namespace kalmira
