#include "app/Tfieldnumber.h"

#include "app/Tformats.h"
#include "platform/sys/SysUtils.h"
#include "workbook/storage/XlsMessages.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <optional>

namespace {

std::string_view Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

// Digits, one optional separator, an optional exponent; from_chars alone
// would also take "inf" and "nan".
std::optional<double> ConvertWith(std::string_view s, char separator) {
    const char other = separator == '.' ? ',' : '.';
    if (s.find(other) != std::string_view::npos) return std::nullopt;
    std::string text(s);
    if (!text.empty() && text[0] == '+' && (text.size() < 2 || text[1] != '-')) text.erase(0, 1);
    for (char& c : text)
        if (c == separator) c = '.';
    const std::size_t digits = text.find_first_of("0123456789");
    if (digits == std::string::npos || text.find_first_of("iInN") != std::string::npos) return std::nullopt;
    double value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<double> TryParseFieldNumber(std::string_view text) {
    std::string_view s = Trim(text);
    if (auto v = ConvertWith(s, '.')) return v;
    if (auto v = ConvertWith(s, ',')) return v;
    // A separator of the user's beside these two (one or more UTF-8 bytes).
    const char16_t separator = NumberDecimalSeparator();
    if (separator == u'.' || separator == u',') return std::nullopt;
    const std::string own = kalmira::Utf16ToUtf8(std::u16string(1, separator));
    const std::size_t at = s.find(own);
    if (at == std::string_view::npos) return std::nullopt;
    std::string dotted(s.substr(0, at));
    dotted += '.';
    dotted.append(s.substr(at + own.size()));
    return ConvertWith(dotted, '.');
}

double ParseFieldNumber(std::string_view text) { return TryParseFieldNumber(text).value_or(0); }

double RoundToPlaces(double value, int places) {
    long double scale = std::pow(10.0L, places);
    long double scaled = static_cast<long double>(value) * scale;
    if (!std::isfinite(scaled)) return value;
    // nearbyint rounds in the current mode: to nearest, ties to even.
    return static_cast<double>(std::nearbyintl(scaled) / scale);
}

std::string FieldNumberText(std::string_view text, int places) {
    return NumberText(RoundToPlaces(ParseFieldNumber(text), places));
}

int FieldWholeNumber(double value) {
    if (!(value == value)) return 0;
    double whole = std::nearbyint(value);
    if (whole <= static_cast<double>(INT_MIN)) return INT_MIN;
    if (whole >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(whole);
}

std::string TrimmedText(std::string_view utf8) { return std::string(Trim(utf8)); }

std::size_t TrimmedLength(std::string_view utf8) {
    std::size_t n = 0;
    for (unsigned char c : Trim(utf8))
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}
