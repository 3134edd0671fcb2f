#include "platform/sys/SysUtils.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <ctime>

extern char** environ;

namespace plat {

namespace {

void AppendNumber(std::string& out, int value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), '0');
    out += digits;
}

struct Token {
    std::string_view letters;
    int TDateTimeParts::*field;
    int width;
    int modulo;  // 0: the whole value
};

// Longest tokens first so "yyyy" wins over "yy" and "dd" over "d".
constexpr Token kTokens[] = {
    {"yyyy", &TDateTimeParts::year, 4, 0},  {"yy", &TDateTimeParts::year, 2, 100},
    {"mm", &TDateTimeParts::month, 2, 0},   {"m", &TDateTimeParts::month, 1, 0},
    {"dd", &TDateTimeParts::day, 2, 0},     {"d", &TDateTimeParts::day, 1, 0},
    {"hh", &TDateTimeParts::hour, 2, 0},    {"h", &TDateTimeParts::hour, 1, 0},
    {"nn", &TDateTimeParts::minute, 2, 0},  {"n", &TDateTimeParts::minute, 1, 0},
    {"ss", &TDateTimeParts::second, 2, 0},  {"s", &TDateTimeParts::second, 1, 0},
};

bool SameLetters(std::string_view text, std::string_view letters) {
    if (text.size() < letters.size()) return false;
    for (std::size_t i = 0; i < letters.size(); ++i)
        if ((text[i] | 0x20) != letters[i]) return false;
    return true;
}

}  // namespace

TDateTimeParts DecodeLocal(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    std::time_t secs = system_clock::to_time_t(t);
    auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000;
    if (ms < 0) ms += 1000;
    std::tm tm {};
    localtime_r(&secs, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
            static_cast<int>(ms)};
}

std::string FormatDateTime(std::string_view format, const TDateTimeParts& t) {
    std::string out;
    std::size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c == '"' || c == '\'') {
            std::size_t end = format.find(c, i + 1);
            if (end == std::string_view::npos) end = format.size();
            out.append(format.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        const Token* hit = nullptr;
        for (const Token& token : kTokens)
            if (SameLetters(format.substr(i), token.letters)) { hit = &token; break; }
        if (!hit) {
            out += c;
            ++i;
            continue;
        }
        int value = t.*(hit->field);
        AppendNumber(out, hit->modulo ? value % hit->modulo : value, hit->width);
        i += hit->letters.size();
    }
    return out;
}

std::string FloatToStr(double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0) return "0";  // also for negative zero
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    std::string text(buf, res.ptr);
    std::size_t e = text.find('e');
    if (e == std::string::npos) return text;
    std::string mantissa = text.substr(0, e);
    int exponent = std::stoi(text.substr(e + 1));
    return mantissa + "E" + std::to_string(exponent);
}

int StrToIntDef(std::string_view text, int fallback) {
    std::size_t b = text.find_first_not_of(" \t");
    std::size_t e = text.find_last_not_of(" \t");
    if (b == std::string_view::npos) return fallback;
    text = text.substr(b, e - b + 1);
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
    int value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return res.ec == std::errc() && res.ptr == text.data() + text.size() ? value : fallback;
}

std::string ProgramFileName() {
    std::string path(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) return {};
    path.resize(static_cast<std::size_t>(n));
    return path;
}

std::vector<std::string> EnvironmentStrings() {
    std::vector<std::string> list;
    for (char** p = environ; p && *p; ++p) list.emplace_back(*p);
    return list;
}

}  // namespace plat
