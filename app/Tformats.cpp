#include "app/Tformats.h"

#include "workbook/storage/UKmrMessages.h"

#include <atomic>
#include <cfenv>
#include <cmath>

std::string DateTimeText(const plat::TDateTimeParts& t) {
    return plat::FormatDateTime(kDateTimeFormat, t);
}

namespace {

std::atomic<char16_t> decimalSeparator {u'.'};

}  // namespace

void UseProgramDateFormat() { UseProgramFormatSettings(kalmira::ProcessFormatSettings()); }

void UseProgramFormatSettings(kalmira::TFormatSettings settings) {
    const std::string_view format = kDateTimeFormat;  // ASCII
    settings.ShortDateFormat.assign(format.begin(), format.end());
    decimalSeparator = settings.DecimalSeparator ? settings.DecimalSeparator : u'.';
    kalmira::SetProcessFormatSettings(settings);
}

char16_t NumberDecimalSeparator() { return decimalSeparator; }

std::string NumberText(double value) {
    std::string text = plat::FloatToStr(value);
    const char16_t separator = decimalSeparator;
    const std::size_t point = text.find('.');
    if (separator == u'.' || point == std::string::npos) return text;
    return text.substr(0, point) + kalmira::Utf16ToUtf8(std::u16string(1, separator)) + text.substr(point + 1);
}

std::string LogLineText(const plat::TDateTimeParts& now, const std::string& message) {
    return DateTimeText(now) + " : " + message;
}

std::string ValueText(double value) {
    // nearbyint rounds in the current mode, which is to nearest, ties to even.
    long double scaled = static_cast<long double>(value) * 10000.0L;
    if (!std::isfinite(scaled)) return NumberText(value);
    return NumberText(static_cast<double>(std::nearbyintl(scaled) / 10000.0L));
}
