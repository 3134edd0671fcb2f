#include "app/Tformats.h"

#include "workbook/storage/UKmrMessages.h"

#include <cfenv>
#include <cmath>

std::string DateTimeText(const plat::TDateTimeParts& t) {
    return plat::FormatDateTime(kDateTimeFormat, t);
}

void UseProgramDateFormat() {
    kalmira::TFormatSettings settings = kalmira::ProcessFormatSettings();
    const std::string_view format = kDateTimeFormat;  // ASCII
    settings.ShortDateFormat.assign(format.begin(), format.end());
    kalmira::SetProcessFormatSettings(settings);
}

std::string LogLineText(const plat::TDateTimeParts& now, const std::string& message) {
    return DateTimeText(now) + " : " + message;
}

std::string ValueText(double value) {
    // nearbyint rounds in the current mode, which is to nearest, ties to even.
    long double scaled = static_cast<long double>(value) * 10000.0L;
    if (!std::isfinite(scaled)) return plat::FloatToStr(value);
    return plat::FloatToStr(static_cast<double>(std::nearbyintl(scaled) / 10000.0L));
}
