// Message texts, the engine's exception classes and the message formatter.
//
// Every engine failure is raised as kalmira::Exception (or a class derived
// from it) carrying one of the fixed texts below, formatted with the class
// library's rules: %s, %d, %u, %x (upper-case hexadecimal), an optional '-'
// and a width that pads with blanks ("0x%2x" of 5 gives "0x 5").
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace kalmira {

// The engine's general exception: every ordinary failure and every internal
// consistency check raises it (never an abort).
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Base of the formula token exception.
class EExcelException : public Exception {
public:
    using Exception::Exception;
};

// One argument of a message: a number or a text (UTF-8 or UTF-16).
using FmtArg = std::variant<long long, std::string, std::u16string>;

std::string FormatMessage(std::string_view format, std::initializer_list<FmtArg> args);

template <class T>
FmtArg MakeFmtArg(const T& v) {
    if constexpr (std::is_integral_v<T>) return FmtArg(static_cast<long long>(v));
    else if constexpr (std::is_convertible_v<T, std::u16string_view>) return FmtArg(std::u16string(std::u16string_view(v)));
    else return FmtArg(std::string(std::string_view(v)));
}

// Formats and raises in one call: Raise(ErrInvalidRow, row).
template <class... Args>
[[noreturn]] void Raise(std::string_view format, const Args&... args) {
    throw Exception(FormatMessage(format, {MakeFmtArg(args)...}));
}

// An internal consistency check naming its unit ("UOle2Impl").
inline void Assert(bool condition, std::string_view unit, std::string_view what = {}) {
    if (!condition) {
        std::string text = "Assertion failed in ";
        text.append(unit);
        if (!what.empty()) text.append(": ").append(what);
        throw Exception(text);
    }
}

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

inline constexpr const char* ErrFileIsNotXLS = "The file \"%s\" is invalid";
inline constexpr const char* ErrExcelInvalid = "Error reading Excel records. File invalid";
inline constexpr const char* ErrWrongExcelRecord = "Record with ID 0x%x is invalid";
inline constexpr const char* ErrBadToken = "Error reading formula, Token Id: 0x%2x is not supported";
inline constexpr const char* ErrBadFormula = "Formula at Row %d, column %d is not supported. Token Id: 0x%2x";
inline constexpr const char* ErrBadName = "Error in Worksheet name: \"%s\". Token Id: 0x%2x";
inline constexpr const char* ErrBadCF = "Bad Conditional format. Token Id: 0x%2x";
inline constexpr const char* ErrBadChartFormula = "Error in Chart formula. Token Id: 0x%2x";
inline constexpr const char* ErrReadingRecord = "Error reading record";
inline constexpr const char* ErrInvalidVersion = "Template file is saved with an invalid Excel version";
inline constexpr const char* ErrTooManyEntries = "Too many entries for this kind of record (%d out of a maximum of %d)";
inline constexpr const char* ErrSectionNotLoaded = "A section of the workbook is not loaded";
inline constexpr const char* ErrInvalidContinue = "Trying to add more than one CONTINUE record to the same record";
inline constexpr const char* ErrInvalidDrawing = "The file has an usupported drawing record";
inline constexpr const char* ErrInvalidCF = "Invalid conditional format record";
inline constexpr const char* ErrDuplicatedSheetName = "Sheet name already exists: %s";
inline constexpr const char* ErrRowMissing = "Missing ROW Record for row %d";
inline constexpr const char* ErrBadCopyRows = "Ivalid arguments to call InsertAndCopyRows";
inline constexpr const char* ErrInvalidSheetNo = "Sheet number \"%d\" invalid. Must be between %d and %d";
inline constexpr const char* ErrEscherNotLoaded = "Escher record is not fully loaded";
inline constexpr const char* ErrLoadingEscher = "Error loading Escher record";
inline constexpr const char* ErrBStroreDuplicated = "Error loading Escher record. Duplicated BStore";
inline constexpr const char* ErrDgDuplicated = "Error loading Escher record. Duplicated Dg";
inline constexpr const char* ErrDggDuplicated = "Error loading Escher record. Duplicated Dgg";
inline constexpr const char* ErrsolverDuplicated = "Error loading Escher record. Duplicated Solver container";
inline constexpr const char* ErrChangingEscher = "Error processing Escher record";
inline constexpr const char* ErrInternal = "Kalmira: Logical Error";
inline constexpr const char* ErrCantCopyPictFmla = "Can't copy OLE objects embedded on a sheet";
inline constexpr const char* ErrInvalidErrStr = "Invalid cell error code: \"%s\"";
inline constexpr const char* ErrInvalidCellValue = "Invalid cell value: \"%s\"";
inline constexpr const char* ErrCantWriteToFile = "Can't write to file \"%s\". Check it is not in use by another user";
inline constexpr const char* ErrShrFmlaNotFound = "Can't find Shared Formula";
inline constexpr const char* ErrInvalidStrLenLength = "StrLenLength should be 1 or 2";
inline constexpr const char* ErrInvalidStringRecord = "Invalid String record";
inline constexpr const char* ErrNotImplemented = "This file has a not implemented kind of record: %s";
inline constexpr const char* BaseSheetName = "Sheet";
inline constexpr const char* ErrTooManyPageBreaks = "Too many manual Page breaks for this sheet";
inline constexpr const char* ErrInvalidRow = "Invalid Row (%d)";
inline constexpr const char* ErrInvalidCol = "Invalid Column (%d)";
inline constexpr const char* ErrXlsIndexOutBounds = "The index \"%d\" of the property \"%s\" is not in the range %d-%d";
inline constexpr const char* ErrFileIsPasswordProtected = "File is password protected";
inline constexpr const char* ErrNotAString = "String expected";
inline constexpr const char* ErrUnexpectedEof = "Unexpected end of formula: \"%s\"";
inline constexpr const char* ErrUnexpectedChar = "Unexpected char \"%s\" at pos %d on formula: \"%s\"";
inline constexpr const char* ErrUnterminatedString = "Unterminated string on formula: \"%s\"";
inline constexpr const char* ErrMissingParen = "Missing closing parentheses on formula: \"%s\"";
inline constexpr const char* ErrFormulaTooLong = "Formula too long: \"%s\"";
inline constexpr const char* ErrUnexpectedId = "Unexpected Identifier: \"%s\" on formula \"%s\"";
inline constexpr const char* ErrFunctionNotFound = "Function not found: \"%s\" on formula \"%s\"";
inline constexpr const char* ErrInvalidNumberOfParams = "Invalid number of parameters to function \"%s\": Expected %d and found %d";
inline constexpr const char* ErrFormulaInvalid = "Formula can't be evaluated: \"%s\"";
inline constexpr const char* ErrFormulaStart = "Formula must start with \"=\": \"%s\"";
inline constexpr const char* ErrExternalNamesNotSupported = "External names are not supported: %s";
inline constexpr const char* ErrArrayFormulasNotSupported = "Writing array formulas is not yet supported";
// The platform's text for number text that does not convert.
inline constexpr const char* ErrInvalidFloat = "'%s' is not a valid floating point value";
inline constexpr const char* ErrHiddenSheetSelected = "To save this file, you must select a visible sheet";
inline constexpr const char* ErrNoSheetVisible = "There are not visible sheets on the file";
inline constexpr const char* ErrCantDeleteSheetWithMacros = "Can't delete a sheet on a file containing macros";
inline constexpr const char* ErrInvalidSheet = "Invalid sheet: %s";
inline constexpr const char* WorkbookStrS = "Workbook";  // the BIFF8 stream of a compound document
inline constexpr const char* ErrInvalidStream = "Invalid OLE Stream operation on stream: \"%s\"";
inline constexpr const char* ErrEofReached = "End of stream reached with %d bytes left to read";
inline constexpr const char* ErrInvalidPropertySector = "Kalmira can't read the properties of this file.";
// Raised, before anything changes, by an operation whose work is not there yet.
// Fitting rows or columns asked of a workbook adapter given no text measuring.
inline constexpr const char* ErrNoTextMeasure = "There is no text measuring to fit rows and columns with";

// Cell error literals (the seven error values a cell can hold).
inline constexpr const char16_t* xlerr_Null = u"#NULL!";
inline constexpr const char16_t* xlerr_Div0 = u"#DIV/0!";
inline constexpr const char16_t* xlerr_Value = u"#VALUE!";
inline constexpr const char16_t* xlerr_Ref = u"#REF!";
inline constexpr const char16_t* xlerr_Name = u"#NAME?";
inline constexpr const char16_t* xlerr_Num = u"#NUM!";
inline constexpr const char16_t* xlerr_NA = u"#N/A";

// The 4-byte header in front of every BIFF record; the data never carries it.
struct TRecordHeader {
    std::uint16_t Id = 0;
    std::uint16_t Size = 0;  // data bytes that follow
};

class TNameRecordList;

// The sheet lookup and setter of the workbook's external references: the
// lookup turns an EXTERNSHEET index into a local sheet (-1 for none), the
// setter finds or adds the entry of one local sheet.
using TGetSheet = std::function<std::int32_t(std::uint16_t index)>;
using TSetSheet = std::function<std::uint16_t(std::uint16_t sheet)>;

// Defined names removed with their sheets: NewIndex[i] is where the name
// that stood at position i (from 0) stands now, -1 when it went; IsLocal
// tells whether an EXTERNSHEET entry is on this workbook, whose names a
// ptgNameX through it counts in that list.
struct TNameRenumbering {
    std::vector<std::int32_t> NewIndex;
    std::function<bool(std::uint16_t index)> IsLocal;
    // Whether any name moves or goes.
    bool Changes() const;
};

// What every reference-adjusting operation needs to know about the workbook.
struct TSheetInfo {
    std::int32_t InsSheet = -1;      // the sheet being inserted, -1 for none
    std::int32_t FormulaSheet = -1;  // the sheet holding the formulas being adjusted
    TGetSheet GetSheet;
    TSetSheet SetSheet;
    TNameRecordList* Names = nullptr;  // set only while sheets are inserted
    const TNameRenumbering* Renumbering = nullptr;  // set only while sheets are deleted
};

// Record byte access. Every field is little-endian and must lie wholly
// inside the data: record sizes come from the file, so a field outside them
// fails with ErrReadingRecord and nothing is read or written.
// Inline: every cell's fields are read through them.
[[noreturn]] void RaiseFieldOutside();
inline void CheckFieldInside(std::size_t size, std::size_t pos, std::size_t n) {
    if (pos > size || size - pos < n) RaiseFieldOutside();
}
inline std::uint16_t GetWord(std::span<const std::uint8_t> data, std::size_t pos) {
    CheckFieldInside(data.size(), pos, 2);
    return static_cast<std::uint16_t>(data[pos] | data[pos + 1] << 8);
}
inline void SetWord(std::span<std::uint8_t> data, std::size_t pos, std::uint16_t value) {
    CheckFieldInside(data.size(), pos, 2);
    data[pos] = static_cast<std::uint8_t>(value);
    data[pos + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline std::uint32_t GetLongWord(std::span<const std::uint8_t> data, std::size_t pos) {
    CheckFieldInside(data.size(), pos, 4);
    return static_cast<std::uint32_t>(data[pos]) | static_cast<std::uint32_t>(data[pos + 1]) << 8 |
           static_cast<std::uint32_t>(data[pos + 2]) << 16 | static_cast<std::uint32_t>(data[pos + 3]) << 24;
}
inline void SetLongWord(std::span<std::uint8_t> data, std::size_t pos, std::uint32_t value) {
    CheckFieldInside(data.size(), pos, 4);
    for (std::size_t i = 0; i < 4; ++i) data[pos + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Adds delta to a counter field; a result below 0 or above max fails with
// ErrTooManyEntries (the result, max) and leaves the field as it was.
void IncWord(std::span<std::uint8_t> data, std::size_t pos, int delta, int max);
void IncByte(std::span<std::uint8_t> data, std::size_t pos, int delta, int max);
// Wraps around silently.
void IncLongWord(std::span<std::uint8_t> data, std::size_t pos, std::int32_t delta);
// The same check as IncWord on a counter kept outside record data.
void IncMax(std::uint16_t& value, int delta, int max);
// Never fails: the result is clamped to min..max.
void IncMaxMin(std::uint16_t& value, int delta, int max, int min);

// BIFF8 strings: a character count of one or two bytes (none when the caller
// gives the length), an option byte (bit 0 16-bit characters, bit 2 far-east
// extension, bit 3 rich runs), a 16-bit run count when rich, a 32-bit
// extension size when far-east, then the characters, runs and extension.
// Only the header must lie inside the data; the result is the whole size.
std::int64_t GetStrLen(bool twoByteLength, std::span<const std::uint8_t> data, std::size_t pos,
                       bool useGivenLength = false, std::uint32_t givenLength = 0);
// Reads the characters too (8-bit ones widen one to one); they must lie
// inside the data. size receives the whole size as GetStrLen gives it.
void GetSimpleString(bool twoByteLength, std::span<const std::uint8_t> data, std::size_t pos,
                     bool useGivenLength, std::uint32_t givenLength, std::u16string& text, std::int64_t& size);

bool IsWide(std::u16string_view text);
// One byte per character; characters from U+0100 on become '?'.
void CompressBestUnicode(std::u16string_view text, std::span<std::uint8_t> data, std::size_t pos);
std::u16string StringToWideStringNoCodePage(std::string_view text);
std::string WideStringToStringNoCodePage(std::u16string_view text);

}  // namespace kalmira
