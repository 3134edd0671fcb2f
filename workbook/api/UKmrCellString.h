// Typed cell text: what a text typed into a cell stands for (a number,
// a percentage, an amount of money, a boolean, a date-time or plain text)
// under given locale settings, and the number format that shows it so.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "workbook/storage/UKmrFormats.h"

namespace kalmira {

struct TCellStringValue {
    TVariant Value;
    // A number or a date-time: the cell takes a format (the one given, or
    // its own), with NumberFormat in place of its number format when set.
    // A boolean or a text keeps the cell's format unless one is given.
    bool IsNumber = false;
    std::optional<std::u16string> NumberFormat;
};

// The reading of text, in this order: a number (with thousands separators
// only at every third digit, a leading or trailing "%", a leading or
// trailing currency string, an exponent), TRUE or FALSE in any case, a
// date-time (KmrTryStrToDateTime with dateFormat and timeFormat), else the
// text unchanged.
TCellStringValue AnalyseCellString(std::u16string_view text, const TFormatSettings& settings,
                                   std::u16string_view dateFormat = {}, std::u16string_view timeFormat = {});

// The number format of an amount typed with the currency string: the
// settings' positive and negative currency orders around "###,###", with
// the currency decimals when the amount was typed with decimals.
std::u16string CurrencyNumberFormat(const TFormatSettings& settings, bool withDecimals);

}  // namespace kalmira
