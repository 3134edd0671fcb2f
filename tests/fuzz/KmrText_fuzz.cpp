// Record bytes and typed text of any shape: the string sizing and the text,
// number and date routines must fail cleanly and never read outside.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "tests/fuzz/FuzzSupport.h"
#include "workbook/storage/UKmrMessages.h"

using namespace kalmira;

namespace {

void Strings(std::span<const std::uint8_t> bytes) {
    bool twoByte = bytes[0] & 1;
    bool given = bytes[0] & 2;
    std::uint32_t givenLength = bytes[0] >> 2;
    fuzzsupport::TryEach({[&] { GetStrLen(twoByte, bytes, 1, given, givenLength); },
                          [&] {
                              std::u16string text;
                              std::int64_t size = 0;
                              GetSimpleString(twoByte, bytes, 1, given, givenLength, text, size);
                              if (static_cast<std::int64_t>(text.size()) > size) std::abort();
                          }});
}

void Texts(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    for (std::size_t i = 1; i + 1 < bytes.size(); i += 2) text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    if (WideUpperCase98(text).size() != text.size()) std::abort();
    StringReplaceSkipQuotes(text, u"ampm", u"AM/PM");
    TFormatSettings dotTime = InvariantFormatSettings();
    dotTime.TimeSeparator = u'.';
    double value = 0;
    std::u16string format;
    bool hasDate = false, hasTime = false;
    KmrTryStrToDateTime(text, value, format, hasDate, hasTime, {}, {}, &InvariantFormatSettings());
    KmrTryStrToDateTime(text, value, format, hasDate, hasTime, {}, {}, &dotTime);
    if (bytes.size() >= 9) {
        std::memcpy(&value, bytes.data() + 1, sizeof value);
        TryFormatDateTime(text, value, InvariantFormatSettings());
    }
    TryStrToFloatInvariant(std::string(bytes.begin(), bytes.end()), value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::span<const std::uint8_t> bytes(data, size);
    Strings(bytes);
    Texts(bytes);
    return 0;
}
