#include "workbook/api/UKmrCellString.h"

#include <algorithm>

#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/UXlsXF.h"

namespace kalmira {

namespace {

std::u16string_view Trimmed(std::u16string_view s) {
    while (!s.empty() && s.front() < 33) s.remove_prefix(1);
    while (!s.empty() && s.back() < 33) s.remove_suffix(1);
    return s;
}

struct TTypedNumber {
    double Value = 0;
    bool Percent = false, Currency = false, Exponent = false, Decimals = false;
};

// Thousands separators in the whole part stand only where a group of three
// digits starts (or "-" stands there); they are then dropped. A separator
// anywhere else leaves the text as it is, which then reads as no number.
std::u16string WithoutGroups(std::u16string_view s, const TFormatSettings& settings) {
    const char16_t sep = settings.ThousandSeparator;
    const std::u16string_view whole = s.substr(0, s.find(settings.DecimalSeparator));
    if (whole.empty() || whole.front() == sep || whole.find(sep) == std::u16string_view::npos) return std::u16string(s);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const bool groupStart = (whole.size() - i) % 4 == 0;
        if (whole[i] == sep ? !groupStart : groupStart && whole[i] != u'-') return std::u16string(s);
    }
    std::u16string digits(whole);
    std::erase(digits, sep);
    return digits + std::u16string(s.substr(whole.size()));
}

std::optional<TTypedNumber> ReadNumber(std::u16string_view s, const TFormatSettings& settings) {
    TTypedNumber n;
    const std::u16string_view currency = settings.CurrencyString;
    if (s.starts_with(u'%')) {
        n.Percent = true;
        s.remove_prefix(1);
    } else if (s.size() > 1 && s.ends_with(u'%')) {
        n.Percent = true;
        s.remove_suffix(1);
    } else if (!currency.empty() && s.starts_with(currency)) {
        n.Currency = true;
        s.remove_prefix(currency.size());
    } else if (!currency.empty() && s.ends_with(currency)) {
        n.Currency = true;
        s.remove_suffix(currency.size());
    }
    s = Trimmed(s);
    const auto e = s.find_first_of(u"eE"), point = s.find(settings.DecimalSeparator);
    n.Exponent = e != std::u16string_view::npos && e > 0;
    n.Decimals = point != std::u16string_view::npos && point > 0;
    if (!TryStrToFloat(WithoutGroups(s, settings), n.Value, settings)) return std::nullopt;
    if (n.Percent) n.Value /= 100;
    return n;
}

// A currency string holding anything the number format language reads
// (date-time letters, digits, placeholders, separators, brackets) goes in
// double quotes, so that "Ft" shows as itself and not as a time field.
std::u16string FormatLiteral(std::u16string_view symbol) {
    constexpr std::u16string_view Special = u"ACDEHMNPQSTWY0123456789#?.,%;@\"\\_*[]/:";
    const bool quote = std::any_of(symbol.begin(), symbol.end(), [&](char16_t c) {
        const char16_t upper = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
        return Special.find(upper) != std::u16string_view::npos;
    });
    if (!quote) return std::u16string(symbol);
    std::u16string out = u"\"";
    for (char16_t c : symbol) out += c == u'"' ? std::u16string(u"\"\\\"\"") : std::u16string(1, c);
    return out + u"\"";
}

// S the currency string, N the number; the rest as it stands.
std::u16string Fill(std::u16string_view pattern, std::u16string_view symbol, std::u16string_view number) {
    std::u16string out;
    for (char16_t c : pattern) out += c == u'S' ? std::u16string(symbol) : c == u'N' ? std::u16string(number) : std::u16string(1, c);
    return out;
}

constexpr std::u16string_view PositiveCurrency[] = {u"SN", u"NS", u"S\\ N", u"N\\ S"};
// By the negative currency format; those in parentheses leave room for the
// closing one in the positive part.
constexpr std::u16string_view NegativeCurrency[] = {
    u"\\(SN\\)", u"-SN",    u"S-N",    u"SN-",    u"\\(NS\\)", u"-NS",        u"N-S",         u"NS-",
    u"-N\\ S",   u"-S\\ N", u"N\\ S-", u"S\\ N-", u"S\\ -N",   u"N-\\ S", u"\\(S\\ N\\)", u"\\(N\\ S\\)"};

}  // namespace

std::u16string CurrencyNumberFormat(const TFormatSettings& settings, bool withDecimals) {
    std::u16string number = u"###,###";
    if (withDecimals && settings.CurrencyDecimals > 0) number += u"." + std::u16string(settings.CurrencyDecimals, u'0');
    const std::u16string symbol = FormatLiteral(settings.CurrencyString);
    const std::u16string_view positive = PositiveCurrency[settings.CurrencyFormat < 4 ? settings.CurrencyFormat : 0];
    const std::u16string_view negative = NegativeCurrency[settings.NegCurrFormat < 16 ? settings.NegCurrFormat : 0];
    const std::u16string_view separator = negative.starts_with(u"\\(") ? u"_);[Red]" : u";[Red]";
    return Fill(positive, symbol, number) + std::u16string(separator) + Fill(negative, symbol, number);
}

TCellStringValue AnalyseCellString(std::u16string_view text, const TFormatSettings& settings,
                                   std::u16string_view dateFormat, std::u16string_view timeFormat) {
    const std::u16string_view s = Trimmed(text);
    if (const auto n = ReadNumber(s, settings)) {
        TCellStringValue result{TVariant(n->Value), true, std::nullopt};
        if (n->Exponent || n->Percent) result.NumberFormat = XlsBuiltInFormats(n->Exponent ? 11 : n->Decimals ? 10 : 9, settings);
        else if (n->Currency) result.NumberFormat = CurrencyNumberFormat(settings, n->Decimals);
        return result;
    }
    const std::u16string upper = WideUpperCase98(s);
    if (upper == Utf8ToUtf16(TxtTrue) || upper == Utf8ToUtf16(TxtFalse))
        return {TVariant(upper == Utf8ToUtf16(TxtTrue)), false, std::nullopt};
    double dateTime = 0;
    std::u16string format;
    bool hasDate = false, hasTime = false;
    if (KmrTryStrToDateTime(s, dateTime, format, hasDate, hasTime, dateFormat, timeFormat, &settings))
        return {TVariant::FromDate(dateTime), true, format};
    return {TVariant(std::u16string(text)), false, std::nullopt};
}

}  // namespace kalmira
