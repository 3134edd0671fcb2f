// A sheet as delimited text (comma, semicolon or TAB separated) and back,
// through the workbook interface only, so any workbook implementation
// serves. Cells keep UTF-16; the bytes of a file are UTF-8 or code page
// 1250, converted by the engine's own tables.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "workbook/api/UExcelAdapter.h"

namespace kalmira {

// How a column of imported text is stored.
enum class XLSColumnImportTypes : std::uint8_t {
    xct_general,  // interpreted as typed into a cell (SetCellString)
    xct_text,     // the text itself
    xct_skip,     // not imported
};

enum class TTextEncoding : std::uint8_t { Utf8, Cp1250 };

inline constexpr const char* ErrUnterminatedQuote = "Unterminated quoted text starting on line %d";
inline constexpr const char* ErrTextLineTooLong = "Text on line %d is longer than 32767 characters";
inline constexpr const char* ErrInvalidUtf8Byte = "Invalid UTF-8 byte 0x%s on line %d";
inline constexpr const char* ErrNotCp1250Byte = "Byte 0x%s on line %d is not a character of code page 1250";
inline constexpr const char* ErrCellNotEncodable = "Cell %s holds U+%s, which %s cannot hold";
inline constexpr const char* ErrInvalidDelimiter = "Invalid delimiter: 0x%s";

// Writes the range (from 1) of the active sheet: each cell as its number
// format shows it, fields quoted where they hold the delimiter, a quote,
// CR or LF, every row ended by CR LF. The whole text is made before the
// first byte goes out, so a cell the encoding cannot hold ("Cell B7 holds
// U+20AC, ...") writes nothing. No byte-order mark.
void SaveRangeAsTextDelim(TKmrStream& stream, TExcelFile& workbook, char delimiter, const TXlsCellRange& range,
                          TTextEncoding encoding = TTextEncoding::Utf8);
// The range from (1, 1) to (MaxCol, MaxRow); an empty sheet writes nothing.
void SaveAsTextDelim(TKmrStream& stream, TExcelFile& workbook, char delimiter,
                     TTextEncoding encoding = TTextEncoding::Utf8);

// Reads from the stream's position to its end into the active sheet, the
// first field at (firstRow, firstCol). columnTypes counts from firstCol;
// columns past it are xct_general. Every field is read, converted and
// checked before the first cell changes: bad input changes nothing. An
// empty field stores nothing, an empty quoted one ("") clears the cell. A
// UTF-8 byte-order mark is skipped.
void LoadFromTextDelim(TKmrStream& stream, TExcelFile& workbook, char delimiter, std::int32_t firstRow,
                       std::int32_t firstCol, std::span<const XLSColumnImportTypes> columnTypes,
                       TTextEncoding encoding = TTextEncoding::Utf8);

// The same for clipboard text, which is UTF-16 with no code page.
std::u16string RangeAsTextDelim(TExcelFile& workbook, char delimiter, const TXlsCellRange& range);
void LoadFromTextDelim(std::u16string_view text, TExcelFile& workbook, char delimiter, std::int32_t firstRow,
                       std::int32_t firstCol, std::span<const XLSColumnImportTypes> columnTypes);

// Code page 1250: the character of a byte (0 for the five bytes the code
// page leaves undefined), and the byte of a character.
char16_t Cp1250ToUnicode(std::uint8_t byte);
bool UnicodeToCp1250(char16_t c, std::uint8_t& byte);

}  // namespace kalmira
