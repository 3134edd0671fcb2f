// Component-level message texts of the workbook engine and the small text,
// path, locale and value routines the whole engine shares.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "workbook/storage/UKmrDateTime.h"
#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UKmrVariant.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

inline constexpr const char* ErrNoAdapter = "There is no Adapter linked to the report";
inline constexpr const char* ErrNoOpenFile = "There is no open file";
inline constexpr const char* ErrCantFindFile = "Can't find the file \"%s\"";
inline constexpr const char* ErrIndexOutBounds = "The index \"%d\" of the property \"%s\" is not in the range %d-%d";
inline constexpr const char* ErrUseFasterAdapter = "This component does not support OLE adapter";
inline constexpr const char* ErrInvalidWmf = "Wmf file is invalid";
inline constexpr const char* ErrInvalidNameForARange = "Invalid named range: \"%s\"";
inline constexpr const char* TxtTrue = "TRUE";

// Screen pixels at 96 per inch: column width units (1/256 of a 7-pixel
// character) and row height units (1/20 point) per pixel.
inline constexpr long double ColMult = 256.0L / 7.0L;
inline constexpr long double RowMult = 15.0L;
inline constexpr const char* TxtFalse = "FALSE";

// Locale settings. The engine never asks the process locale: the application
// installs a source that reports the user's settings (at start-up, before
// any workbook work); without one the engine uses the invariant settings.
class IFormatSettingsSource {
public:
    virtual ~IFormatSettingsSource() = default;
    virtual TFormatSettings LocaleSettings() const = 0;
};

// Installing a source also drops the cached default settings, so that they
// are read again from the new source.
void SetFormatSettingsSource(std::shared_ptr<const IFormatSettingsSource> source);

// The current settings of the source; the locale id is not used.
void GetLocaleFormatSettings(std::uint32_t localeId, TFormatSettings& settings);
// Filled from the source on first use and kept (the reference stays valid).
const TFormatSettings& GetDefaultLocaleFormatSettings();
// Fixed US-English settings.
const TFormatSettings& InvariantFormatSettings();
// Gives empty AM and PM texts the values "AM" and "PM".
void EnsureAMPM(TFormatSettings& settings);

// The process-wide settings that VariantToString and the two-argument
// TryFormatDateTime follow: the default locale settings until the
// application changes them (it sets its own date format at start-up).
TFormatSettings ProcessFormatSettings();
void SetProcessFormatSettings(const TFormatSettings& settings);

// 1 -> "A", 27 -> "AA", 256 -> "IV"; a column below 1 raises ErrInvalidCol.
std::u16string EncodeColumn(int column);

// The full name of an existing file: a name starting with "/" as it is, else
// base path + name, else the running program's folder + name. A missing file
// raises ErrCantFindFile.
std::string SearchPathStr(std::string_view basePath, std::string_view fileName);
std::string SearchPathStr(std::string_view fileName);

// Number text with "." as the decimal point: optional blanks around it, an
// optional "+" or "-", digits with at most one point, an optional exponent.
// Anything else, and a value out of range, gives false.
bool TryStrToFloatInvariant(std::string_view text, double& value);
// The same grammar with the decimal separator of the settings.
bool TryStrToFloat(std::u16string_view text, double& value, const TFormatSettings& settings);

// Unicode upper case, one UTF-16 unit for one (the length never changes).
std::u16string WideUpperCase98(std::u16string_view text);

// The 1-based position of sub in text at or after offset; -1 when absent.
int PosEx(std::u16string_view sub, std::u16string_view text, int offset = 1);

// Replaces oldPattern (compared case-insensitively) by newPattern everywhere
// outside double-quoted parts.
std::u16string StringReplaceSkipQuotes(std::u16string_view text, std::u16string_view oldPattern,
                                       std::u16string_view newPattern);

TXlsCellRange OffsetRange(const TXlsCellRange& range, int rowOffset, int colOffset);
void InitializeNamedRange(TXlsNamedRange& range);

// The class library's variant-to-text conversion.
std::u16string VariantToString(const TVariant& value);
std::u16string VariantToString(const TVariant& value, const TFormatSettings& settings);

}  // namespace kalmira
