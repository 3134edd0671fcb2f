#include "app/Tlistcompare.h"

#include "platform/sys/Codepage.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

namespace {

bool NumericColumn(int column) { return column == 7 || column == 9; }

std::string_view TrimBlanks(std::string_view s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

template <class T>
bool ParseWhole(std::string_view s, T& out) {
    auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

// A whole number first; else a decimal with '.' or ',' as its separator.
std::optional<long double> ParseNumber(std::string_view text) {
    std::string_view s = TrimBlanks(text);
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (s.empty() || s[0] == '+') return std::nullopt;
    long long whole = 0;
    if (ParseWhole(s, whole)) return static_cast<long double>(whole);
    std::string dotted(s);
    for (char& c : dotted)
        if (c == ',') c = '.';
    double value = 0;
    auto res = std::from_chars(dotted.data(), dotted.data() + dotted.size(), value,
                               std::chars_format::fixed);
    if (res.ec != std::errc() || res.ptr != dotted.data() + dotted.size() || !std::isfinite(value))
        return std::nullopt;
    return static_cast<long double>(value);
}

int CompareNumbers(std::string_view a, std::string_view b) {
    std::optional<long double> x = ParseNumber(a), y = ParseNumber(b);
    if (x && y && *x != *y) return *x < *y ? -1 : 1;
    if (x.has_value() != y.has_value()) return x ? -1 : 1;
    return plat::CompareCp1250(a, b);
}

}  // namespace

int CompareMeterColumn(int column, std::string_view a, std::string_view b) {
    return CompareListTexts(a, b, NumericColumn(column));
}

int CompareListTexts(std::string_view a, std::string_view b, bool numeric) {
    try {
        return numeric ? CompareNumbers(a, b) : plat::CompareCp1250(a, b);
    } catch (...) {
        // Text that cannot even be converted still gets a stable place.
        return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
    }
}
