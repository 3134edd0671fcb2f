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

}  // namespace kalmira
