#include "workbook/storage/XlsMessages.h"

#include <charconv>

namespace kalmira {

namespace {

std::string ArgText(const FmtArg& arg, char conv) {
    if (const auto* n = std::get_if<long long>(&arg)) {
        char buf[32];
        std::to_chars_result r{};
        switch (conv) {
            case 'x': {
                // The class library prints the 32-bit pattern of the value.
                r = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint32_t>(*n), 16);
                for (char* p = buf; p < r.ptr; ++p)
                    if (*p >= 'a' && *p <= 'f') *p = static_cast<char>(*p - 'a' + 'A');
                break;
            }
            case 'u': r = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint32_t>(*n)); break;
            default: r = std::to_chars(buf, buf + sizeof buf, *n); break;
        }
        return std::string(buf, r.ptr);
    }
    if (const auto* s = std::get_if<std::string>(&arg)) return *s;
    return Utf16ToUtf8(std::get<std::u16string>(arg));
}

}  // namespace

std::string FormatMessage(std::string_view format, std::initializer_list<FmtArg> args) {
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool left = false;
        if (j < format.size() && format[j] == '-') {
            left = true;
            ++j;
        }
        std::size_t width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9') width = width * 10 + (format[j++] - '0');
        if (j >= format.size()) {
            out.append(format.substr(i));
            break;
        }
        char conv = format[j];
        std::string text;
        if (next != args.end()) text = ArgText(*next++, conv);
        if (text.size() < width) {
            std::string pad(width - text.size(), ' ');
            text = left ? text + pad : pad + text;
        }
        out += text;
        i = j;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        char32_t c = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > text.size()) {
                len = 1;
            } else {
                c = b & (0x7F >> len);
                bool ok = true;
                for (std::size_t k = 1; k < len; ++k) {
                    auto cb = static_cast<unsigned char>(text[i + k]);
                    if ((cb & 0xC0) != 0x80) ok = false;
                    c = (c << 6) | (cb & 0x3F);
                }
                if (!ok || c > 0x10FFFF) {
                    c = 0xFFFD;
                    len = 1;
                }
            }
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += len;
    }
    return out;
}

namespace {

// The one bounds check of every field: n bytes at pos inside size bytes.

std::uint32_t ReadLE(std::span<const std::uint8_t> data, std::size_t pos, std::size_t n) {
    CheckFieldInside(data.size(), pos, n);
    std::uint32_t value = 0;
    for (std::size_t i = n; i-- > 0;) value = (value << 8) | data[pos + i];
    return value;
}

void WriteLE(std::span<std::uint8_t> data, std::size_t pos, std::size_t n, std::uint32_t value) {
    CheckFieldInside(data.size(), pos, n);
    for (std::size_t i = 0; i < n; ++i) data[pos + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The checked counter step shared by IncWord, IncByte and IncMax.
std::uint32_t CheckedStep(std::uint32_t value, int delta, int max) {
    long long result = static_cast<long long>(value) + delta;
    if (result < 0 || result > max) Raise(ErrTooManyEntries, result, max);
    return static_cast<std::uint32_t>(result);
}

void IncField(std::span<std::uint8_t> data, std::size_t pos, std::size_t n, int delta, int max) {
    WriteLE(data, pos, n, CheckedStep(ReadLE(data, pos, n), delta, max));
}

// The header of a BIFF8 string: its character count, option byte and the
// number of bytes before the characters, with the runs and extension that
// follow them.
struct StringHeader {
    std::uint32_t chars = 0;
    std::uint8_t options = 0;
    std::size_t headerSize = 0;
    std::uint32_t runs = 0;
    std::uint32_t extSize = 0;

    bool Wide() const { return options & 0x01; }
    std::int64_t TotalSize() const {
        return static_cast<std::int64_t>(headerSize) + static_cast<std::int64_t>(chars) * (Wide() ? 2 : 1) +
               static_cast<std::int64_t>(runs) * 4 + extSize;
    }
};

StringHeader ReadStringHeader(bool twoByteLength, std::span<const std::uint8_t> data, std::size_t pos,
                              bool useGivenLength, std::uint32_t givenLength) {
    StringHeader h;
    std::size_t p = pos;
    if (useGivenLength) {
        h.chars = givenLength;
    } else {
        std::size_t n = twoByteLength ? 2 : 1;
        h.chars = ReadLE(data, p, n);
        p += n;
    }
    h.options = static_cast<std::uint8_t>(ReadLE(data, p, 1));
    p += 1;
    // The run count comes before the far-east size.
    if (h.options & 0x08) {
        h.runs = ReadLE(data, p, 2);
        p += 2;
    }
    if (h.options & 0x04) {
        h.extSize = ReadLE(data, p, 4);
        p += 4;
    }
    h.headerSize = p - pos;
    return h;
}

}  // namespace

void RaiseFieldOutside() { Raise(ErrReadingRecord); }

bool TNameRenumbering::Changes() const {
    for (std::size_t i = 0; i < NewIndex.size(); ++i)
        if (NewIndex[i] != static_cast<std::int32_t>(i)) return true;
    return false;
}

void IncWord(std::span<std::uint8_t> data, std::size_t pos, int delta, int max) { IncField(data, pos, 2, delta, max); }

void IncByte(std::span<std::uint8_t> data, std::size_t pos, int delta, int max) { IncField(data, pos, 1, delta, max); }

void IncLongWord(std::span<std::uint8_t> data, std::size_t pos, std::int32_t delta) {
    WriteLE(data, pos, 4, ReadLE(data, pos, 4) + static_cast<std::uint32_t>(delta));
}

void IncMax(std::uint16_t& value, int delta, int max) {
    value = static_cast<std::uint16_t>(CheckedStep(value, delta, max));
}

void IncMaxMin(std::uint16_t& value, int delta, int max, int min) {
    long long result = static_cast<long long>(value) + delta;
    if (result > max) result = max;
    if (result < min) result = min;
    value = static_cast<std::uint16_t>(result);
}

std::int64_t GetStrLen(bool twoByteLength, std::span<const std::uint8_t> data, std::size_t pos, bool useGivenLength,
                       std::uint32_t givenLength) {
    return ReadStringHeader(twoByteLength, data, pos, useGivenLength, givenLength).TotalSize();
}

void GetSimpleString(bool twoByteLength, std::span<const std::uint8_t> data, std::size_t pos, bool useGivenLength,
                     std::uint32_t givenLength, std::u16string& text, std::int64_t& size) {
    StringHeader h = ReadStringHeader(twoByteLength, data, pos, useGivenLength, givenLength);
    std::size_t width = h.Wide() ? 2 : 1;
    std::size_t start = pos + h.headerSize;
    if (h.chars > (data.size() - start) / width) Raise(ErrReadingRecord);
    std::u16string result(h.chars, u'\0');
    for (std::size_t i = 0; i < h.chars; ++i)
        result[i] = static_cast<char16_t>(width == 2 ? GetWord(data, start + 2 * i) : data[start + i]);
    text = std::move(result);
    size = h.TotalSize();
}

bool IsWide(std::u16string_view text) {
    for (char16_t c : text)
        if (c >= 0x100) return true;
    return false;
}

void CompressBestUnicode(std::u16string_view text, std::span<std::uint8_t> data, std::size_t pos) {
    CheckFieldInside(data.size(), pos, text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        data[pos + i] = text[i] < 0x100 ? static_cast<std::uint8_t>(text[i]) : static_cast<std::uint8_t>('?');
}

std::u16string StringToWideStringNoCodePage(std::string_view text) {
    std::u16string out(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
    return out;
}

std::string WideStringToStringNoCodePage(std::u16string_view text) {
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i] & 0xFF);
    return out;
}

}  // namespace kalmira
