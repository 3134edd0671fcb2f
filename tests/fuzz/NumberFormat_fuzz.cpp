// A value and a number format of any shape: rendering must never read
// outside the format, whatever its quotes, brackets and sections.
#include <cstdint>
#include <cstring>
#include <string>

#include "workbook/api/UKmrNumberFormat.h"
#include "workbook/storage/UKmrMessages.h"

using namespace kalmira;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(double)) return 0;
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    // Format bytes as Latin-1, so that the format's own ASCII syntax is met often.
    std::u16string format(data + sizeof value, data + size);
    TFormatSettings czech = InvariantFormatSettings();
    czech.DecimalSeparator = u',';
    czech.ThousandSeparator = u'\u00A0';
    czech.TimeAMString.clear();
    std::uint32_t colour = 0;
    for (const TFormatSettings* s : {&InvariantFormatSettings(), static_cast<const TFormatSettings*>(&czech)}) {
        XlsFormatValue1904(TVariant(value), format, false, colour, s);
        XlsFormatValue1904(TVariant::FromDate(value), format, true, colour, s);
        XlsFormatValue1904(TVariant(u"text"), format, false, colour, s);
        bool hasDate = false, hasTime = false;
        HasXlsDateTime(format, hasDate, hasTime, s);
    }
    return 0;
}
