// Plain value types shared by the workbook model and the component interface.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "workbook/storage/UKmrVariant.h"

namespace kalmira {

// A block of cells, 0-based, bounds inclusive, column first.
struct TXlsCellRange {
    std::int32_t Left = 0;    // first column
    std::int32_t Top = 0;     // first row
    std::int32_t Right = 0;   // last column
    std::int32_t Bottom = 0;  // last row

    friend bool operator==(const TXlsCellRange&, const TXlsCellRange&) = default;
};

// A cell's value handed in and out: the value, its XF (-1: none, or keep
// the cell's own) and whether the cell holds a formula.
struct TXlsCellValue {
    TVariant Value;
    std::int32_t XF = -1;
    bool IsFormula = false;

    friend bool operator==(const TXlsCellValue&, const TXlsCellValue&) = default;
};

// One rich-text run: from character FirstChar on (0-based), the text uses
// font FontIndex of the workbook.
struct TRTFRun {
    std::uint16_t FirstChar = 0;
    std::uint16_t FontIndex = 0;

    friend bool operator==(const TRTFRun&, const TRTFRun&) = default;
};

using TRTFRunList = std::vector<TRTFRun>;

// A text with its runs (cells, comments, text boxes).
struct TRichString {
    std::u16string Value;
    TRTFRunList RTFRuns;

    friend bool operator==(const TRichString&, const TRichString&) = default;
};

enum class TXlsSheetVisible : std::uint8_t { sv_Visible, sv_Hidden, sv_VeryHidden };

// The printer driver settings of a PLS record; the engine never looks inside.
struct TPrinterDriverSettings {
    std::uint16_t OperatingEnvironment = 0;
    std::vector<std::uint8_t> Data;

    friend bool operator==(const TPrinterDriverSettings&, const TPrinterDriverSettings&) = default;
};

// Page margins in inches.
struct TXlsMargins {
    long double Left = 0;
    long double Top = 0;
    long double Right = 0;
    long double Bottom = 0;
    long double Header = 0;
    long double Footer = 0;

    friend bool operator==(const TXlsMargins&, const TXlsMargins&) = default;
};

// A defined name to add to a workbook.
struct TXlsNamedRange {
    std::u16string Name;
    std::u16string RangeFormula;
    std::uint16_t OptionFlags = 0;
    std::int32_t NameSheetIndex = 0;  // -1: the name belongs to the whole workbook

    friend bool operator==(const TXlsNamedRange&, const TXlsNamedRange&) = default;
};

// The engine's own copy of the locale settings that number and date text
// follow. Date and time formats use the class library's letters (d, m, y, h,
// n, s, ampm ...); month names start with January, day names with Sunday.
struct TFormatSettings {
    std::u16string CurrencyString;
    std::uint8_t CurrencyFormat = 0;
    std::uint8_t CurrencyDecimals = 0;
    char16_t DateSeparator = u'/';
    char16_t TimeSeparator = u':';
    char16_t ListSeparator = u',';
    std::u16string ShortDateFormat;
    std::u16string LongDateFormat;
    std::u16string TimeAMString;
    std::u16string TimePMString;
    std::u16string ShortTimeFormat;
    std::u16string LongTimeFormat;
    std::array<std::u16string, 12> ShortMonthNames;
    std::array<std::u16string, 12> LongMonthNames;
    std::array<std::u16string, 7> ShortDayNames;
    std::array<std::u16string, 7> LongDayNames;
    char16_t ThousandSeparator = u',';
    char16_t DecimalSeparator = u'.';
    std::uint16_t TwoDigitYearCenturyWindow = 50;
    std::uint8_t NegCurrFormat = 0;

    friend bool operator==(const TFormatSettings&, const TFormatSettings&) = default;
};

}  // namespace kalmira
