#include "workbook/storage/UKmrDateTime.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <vector>

#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

constexpr long long kEpochTo1970 = 25569;  // days from 30 December 1899 to 1 January 1970
constexpr long long kMsPerDay = 86400000;
constexpr double kDaysFrom1900To1904 = 1462;

// ---- Calendar --------------------------------------------------------------

// Days since 1 January 1970 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
}

bool IsLeap(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(long long y, unsigned m) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

struct DateParts {
    long long year = 0;
    unsigned month = 0, day = 0;
    int dayOfWeek = 0;  // 0 = Sunday
    int hour = 0, minute = 0, second = 0, msec = 0;
};

// A date-time split the class library's way: the whole days give the date,
// the fraction's absolute value the time of day, rounded to milliseconds.
bool Decode(double value, DateParts& p) {
    if (!std::isfinite(value)) return false;
    double whole = std::trunc(value);
    if (whole < -700000 || whole > 3000000) return false;
    auto days = static_cast<long long>(whole);
    auto ms = static_cast<long long>(std::nearbyint(std::fabs(value - whole) * kMsPerDay));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        ++days;
    }
    CivilFromDays(days - kEpochTo1970, p.year, p.month, p.day);
    if (p.year < 1 || p.year > 9999) return false;
    p.dayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7);  // 30 December 1899 was a Saturday
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.msec = static_cast<int>(ms % 1000);
    return true;
}

double EncodeDate(long long y, unsigned m, unsigned d) {
    return static_cast<double>(DaysFromCivil(y, m, d) + kEpochTo1970);
}

// The date and the time of day in one value: before 1899-12-30 the time
// counts away from zero, as the fraction is always the time's absolute value.
double Combine(double date, double time) { return date < 0 ? date - time : date + time; }

int CurrentYear() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool StartsWithNoCase(std::u16string_view text, std::size_t pos, std::u16string_view what) {
    if (text.size() - pos < what.size()) return false;
    for (std::size_t i = 0; i < what.size(); ++i)
        if (AsciiUpper(text[pos + i]) != what[i]) return false;
    return true;
}

std::u16string Number(long long v, std::size_t width) {
    std::u16string digits = StringToWideStringNoCodePage(std::to_string(v));
    if (digits.size() < width) digits.insert(0, width - digits.size(), u'0');
    return digits;
}

// ---- Formatting ------------------------------------------------------------

// The class library's date-time format language. Letters are read in either
// case; a run of one letter is one field:
//   c            short date, then the long time unless the time is midnight
//   d dd         day; ddd dddd short and long day name;
//   ddddd dddddd short and long date format
//   m mm         month (minutes right after an hour); mmm mmmm month names
//   yy yyyy      two- and four-digit year
//   h hh n nn s ss z zzz   hour, minute, second, millisecond
//   t tt         short and long time format
//   am/pm a/p ampm         12-hour clock with the hour before it
//   / :          the settings' date and time separators
//   '...' "..."  literal text; any other character stands for itself
class DateFormatter {
public:
    DateFormatter(const DateParts& parts, const TFormatSettings& settings) : p_(parts), s_(settings) {}

    void Append(std::u16string_view format, int depth) {
        // Settings formats may name each other; two levels are enough.
        if (depth > 2) return;
        char16_t last = 0;
        std::size_t i = 0;
        while (i < format.size()) {
            char16_t token = AsciiUpper(format[i]);
            if (token >= u'A' && token <= u'Z') {
                if (token == u'M' && last == u'H') token = u'N';
                last = token;
            }
            i = Field(format, i, token, depth);
        }
    }

    std::u16string out;

private:
    static std::size_t RunLength(std::u16string_view f, std::size_t i) {
        std::size_t n = 1;
        while (i + n < f.size() && f[i + n] == f[i]) ++n;
        return n;
    }

    // Writes the field at i and returns the position after it.
    std::size_t Field(std::u16string_view f, std::size_t i, char16_t token, int depth) {
        std::size_t n = RunLength(f, i);
        switch (token) {
            case u'Y': out += n <= 2 ? Number(p_.year % 100, 2) : Number(p_.year, 4); return i + n;
            case u'M': Month(n); return i + n;
            case u'D': Day(n, depth); return i + n;
            case u'H': out += Number(Use12Hour(f, i + n) ? (p_.hour + 11) % 12 + 1 : p_.hour, n > 1 ? 2 : 0); return i + n;
            case u'N': out += Number(p_.minute, n > 1 ? 2 : 0); return i + n;
            case u'S': out += Number(p_.second, n > 1 ? 2 : 0); return i + n;
            case u'Z': out += Number(p_.msec, n > 1 ? 3 : 0); return i + n;
            case u'T': Append(n == 1 ? s_.ShortTimeFormat : s_.LongTimeFormat, depth + 1); return i + n;
            case u'C':
                Append(s_.ShortDateFormat, depth + 1);
                if (p_.hour || p_.minute || p_.second || p_.msec) {
                    out += u' ';
                    Append(s_.LongTimeFormat, depth + 1);
                }
                return i + n;
            case u'A': return AmPm(f, i);
            case u'/': out += s_.DateSeparator; return i + 1;
            case u':': out += s_.TimeSeparator; return i + 1;
            case u'\'':
            case u'"': return Quoted(f, i);
            default: out += f[i]; return i + 1;
        }
    }

    void Month(std::size_t n) {
        if (n <= 2) out += Number(p_.month, n == 2 ? 2 : 0);
        else out += (n == 3 ? s_.ShortMonthNames : s_.LongMonthNames)[p_.month - 1];
    }

    void Day(std::size_t n, int depth) {
        switch (n) {
            case 1:
            case 2: out += Number(p_.day, n == 2 ? 2 : 0); break;
            case 3: out += s_.ShortDayNames[p_.dayOfWeek]; break;
            case 4: out += s_.LongDayNames[p_.dayOfWeek]; break;
            case 5: Append(s_.ShortDateFormat, depth + 1); break;
            default: Append(s_.LongDateFormat, depth + 1); break;
        }
    }

    // An hour is on the 12-hour clock when the first "a" after it (outside
    // quotes, before another hour) starts one of the am/pm fields.
    static bool Use12Hour(std::u16string_view f, std::size_t from) {
        char16_t quote = 0;
        for (std::size_t j = from; j < f.size(); ++j) {
            char16_t c = f[j];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == u'\'' || c == u'"') {
                quote = c;
            } else if (AsciiUpper(c) == u'H') {
                return false;
            } else if (AsciiUpper(c) == u'A') {
                return AmPmLength(f, j) > 0;
            }
        }
        return false;
    }

    static std::size_t AmPmLength(std::u16string_view f, std::size_t i) {
        if (StartsWithNoCase(f, i, u"AM/PM")) return 5;
        if (StartsWithNoCase(f, i, u"A/P")) return 3;
        if (StartsWithNoCase(f, i, u"AMPM")) return 4;
        return 0;
    }

    // am/pm and a/p keep the case in which the format writes them.
    static char16_t CaseLike(char16_t upper, char16_t model) {
        return model >= u'a' && model <= u'z' ? static_cast<char16_t>(upper + 32) : upper;
    }

    std::size_t AmPm(std::u16string_view f, std::size_t i) {
        bool pm = p_.hour >= 12;
        switch (AmPmLength(f, i)) {
            case 5:
                out += pm ? CaseLike(u'P', f[i + 3]) : CaseLike(u'A', f[i]);
                out += pm ? CaseLike(u'M', f[i + 4]) : CaseLike(u'M', f[i + 1]);
                return i + 5;
            case 3: out += pm ? CaseLike(u'P', f[i + 2]) : CaseLike(u'A', f[i]); return i + 3;
            case 4: out += pm ? s_.TimePMString : s_.TimeAMString; return i + 4;
            default: out += f[i]; return i + 1;
        }
    }

    std::size_t Quoted(std::u16string_view f, std::size_t i) {
        std::size_t end = f.find(f[i], i + 1);
        if (end == std::u16string_view::npos) end = f.size();
        out += f.substr(i + 1, end - i - 1);
        return end < f.size() ? end + 1 : end;
    }

    const DateParts& p_;
    const TFormatSettings& s_;
};

// ---- Reading ---------------------------------------------------------------

// The typed forms the reader accepts, words separated by blanks:
//   DATE        d.M.yyyy, d/M/yy, d-M-yyyy ... : two or three numbers
//               joined by ".", "/", "-" or the date separator, in the order
//               of the settings' short date format; with two numbers the
//               year is the current one; one- and two-digit years go through
//               the century window; a trailing separator and blanks after a
//               separator ("3. 4. 2021") are allowed
//   TIME        h:mm or h:mm:ss, ":" or the time separator between the
//               parts (with another time separator, numbers that make a
//               valid time are a time), an AM or PM text (the settings'
//               or "AM"/"PM", any case) attached or as the next word
//   DATE TIME, TIME DATE
// Each number is at most two digits, a year at most four.
class DateTimeReader {
public:
    explicit DateTimeReader(const TFormatSettings& settings) : s_(settings) {}

    bool Read(std::u16string_view text, double& value) {
        for (const std::u16string& word : Words(text))
            if (!Word(word)) return false;
        if (!haveDate_ && !haveTime_) return false;
        if (pm_ >= 0 && !haveTime_) return false;
        if (haveTime_ && !FixHour()) return false;
        double time = haveTime_ ? (hour_ * 3600.0 + minute_ * 60.0 + second_) / 86400.0 : 0;
        value = Combine(haveDate_ ? date_ : 0, time);
        return true;
    }

private:
    bool IsDateSep(char16_t c) const { return c == u'.' || c == u'/' || c == u'-' || c == s_.DateSeparator; }
    bool IsTimeSep(char16_t c) const { return c == u':' || c == s_.TimeSeparator; }
    static bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == 0xA0; }

    // Splits at blanks; a blank after a date separator joins when the next
    // word is only digits (and separators), so "3. 4. 2021" is one date.
    std::vector<std::u16string> Words(std::u16string_view text) const {
        std::vector<std::u16string> words;
        std::u16string cur;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!IsBlank(text[i])) {
                cur += text[i];
                continue;
            }
            if (cur.empty()) continue;
            if (IsDateSep(cur.back()) && NextWordIsDatePart(text, i)) continue;
            words.push_back(std::move(cur));
            cur.clear();
        }
        if (!cur.empty()) words.push_back(std::move(cur));
        return words;
    }

    bool NextWordIsDatePart(std::u16string_view text, std::size_t i) const {
        while (i < text.size() && IsBlank(text[i])) ++i;
        if (i == text.size() || !IsDigit(text[i])) return false;
        for (; i < text.size() && !IsBlank(text[i]); ++i)
            if (!IsDigit(text[i]) && !IsDateSep(text[i])) return false;
        return true;
    }

    static bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

    static bool ToNumber(std::u16string_view part, std::size_t maxDigits, int& v) {
        if (part.empty() || part.size() > maxDigits) return false;
        v = 0;
        for (char16_t c : part) {
            if (!IsDigit(c)) return false;
            v = v * 10 + (c - u'0');
        }
        return true;
    }

    template <class IsSep>
    static std::vector<std::u16string_view> Split(std::u16string_view text, IsSep isSep) {
        std::vector<std::u16string_view> parts;
        std::size_t start = 0;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || isSep(text[i])) {
                parts.push_back(text.substr(start, i - start));
                start = i + 1;
            }
        }
        return parts;
    }

    // 1 for PM, 0 for AM, -1 when the text is no AM/PM designator.
    int Designator(std::u16string_view word) const {
        std::u16string upper = WideUpperCase98(word);
        if (upper.empty()) return -1;
        if (upper == u"AM" || (!s_.TimeAMString.empty() && upper == WideUpperCase98(s_.TimeAMString))) return 0;
        if (upper == u"PM" || (!s_.TimePMString.empty() && upper == WideUpperCase98(s_.TimePMString))) return 1;
        return -1;
    }

    bool Word(std::u16string_view word) {
        int designator = Designator(word);
        if (designator >= 0) return SetDesignator(designator);
        // A designator written onto the time: "7:05PM".
        std::size_t end = word.size();
        while (end > 0 && !IsDigit(word[end - 1])) --end;
        if (end < word.size() && end > 0) {
            designator = Designator(word.substr(end));
            if (designator >= 0) return Time(word.substr(0, end)) && SetDesignator(designator);
        }
        if (Time(word)) return true;
        return Date(word);
    }

    bool SetDesignator(int pm) {
        if (pm_ >= 0) return false;
        pm_ = pm;
        return true;
    }

    bool Time(std::u16string_view word) {
        bool colon = word.find(u':') != std::u16string_view::npos;
        bool other = s_.TimeSeparator != u':' && word.find(s_.TimeSeparator) != std::u16string_view::npos;
        if (!colon && !other) return false;
        auto parts = Split(word, [this](char16_t c) { return IsTimeSep(c); });
        if (parts.size() < 2 || parts.size() > 3 || haveTime_) return false;
        int h = 0, m = 0, sec = 0;
        if (!ToNumber(parts[0], 2, h) || !ToNumber(parts[1], 2, m) || m > 59) return false;
        if (parts.size() == 3 && (!ToNumber(parts[2], 2, sec) || sec > 59)) return false;
        if (h > 23) return false;
        hour_ = h;
        minute_ = m;
        second_ = sec;
        haveTime_ = true;
        return true;
    }

    bool FixHour() {
        if (pm_ < 0) return true;
        if (hour_ > 12) return false;
        hour_ = hour_ % 12 + (pm_ ? 12 : 0);
        return true;
    }

    // The order of day, month and year in the short date format.
    std::array<char16_t, 3> FieldOrder() const {
        std::array<std::size_t, 3> pos{std::u16string::npos, std::u16string::npos, std::u16string::npos};
        const char16_t letters[] = {u'D', u'M', u'Y'};
        const std::u16string& f = s_.ShortDateFormat;
        char16_t quote = 0;
        for (std::size_t i = 0; i < f.size(); ++i) {
            if (quote) {
                if (f[i] == quote) quote = 0;
                continue;
            }
            if (f[i] == u'"' || f[i] == u'\'') quote = f[i];
            for (int k = 0; k < 3; ++k)
                if (AsciiUpper(f[i]) == letters[k] && pos[k] == std::u16string::npos) pos[k] = i;
        }
        std::array<char16_t, 3> order{u'D', u'M', u'Y'};
        std::array<int, 3> idx{0, 1, 2};
        std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) { return pos[a] < pos[b]; });
        for (int k = 0; k < 3; ++k) order[k] = letters[idx[k]];
        return order;
    }

    int WindowedYear(int y) const {
        int window = s_.TwoDigitYearCenturyWindow;
        int century = CurrentYear() - window;
        y += century / 100 * 100;
        if (window > 0 && y < century) y += 100;
        return y;
    }

    bool Date(std::u16string_view word) {
        if (haveDate_ || word.empty() || !IsDigit(word[0])) return false;
        if (IsDateSep(word.back())) word.remove_suffix(1);
        auto parts = Split(word, [this](char16_t c) { return IsDateSep(c); });
        if (parts.size() < 2 || parts.size() > 3) return false;
        int day = 0, month = 0, year = CurrentYear();
        std::size_t k = 0;
        for (char16_t field : FieldOrder()) {
            if (field == u'Y' && parts.size() == 2) continue;
            std::u16string_view part = parts[k++];
            if (field == u'Y') {
                if (!ToNumber(part, 4, year)) return false;
                if (part.size() <= 2) year = WindowedYear(year);
            } else if (!ToNumber(part, 2, field == u'D' ? day : month)) {
                return false;
            }
        }
        if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
        if (static_cast<unsigned>(day) > DaysInMonth(year, static_cast<unsigned>(month))) return false;
        date_ = EncodeDate(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
        haveDate_ = true;
        return true;
    }

    const TFormatSettings& s_;
    bool haveDate_ = false, haveTime_ = false;
    double date_ = 0;
    int hour_ = 0, minute_ = 0, second_ = 0;
    int pm_ = -1;
};

bool IsNonNegativeInteger(std::u16string_view part) {
    while (!part.empty() && part.front() == u' ') part.remove_prefix(1);
    while (!part.empty() && part.back() == u' ') part.remove_suffix(1);
    if (part.empty() || part.size() > 9) return false;
    for (char16_t c : part)
        if (c < u'0' || c > u'9') return false;
    return true;
}

// "1.2.3" and the like: two or three dot-separated integers in front of a
// third part, which must not be taken for a time of day.
bool LooksLikeVersion(std::u16string_view text) {
    std::vector<std::size_t> dots;
    for (std::size_t i = 0; i < text.size() && dots.size() < 3; ++i)
        if (text[i] == u'.') dots.push_back(i);
    if (dots.size() < 2) return false;
    std::size_t start = 0;
    for (std::size_t dot : dots) {
        if (!IsNonNegativeInteger(text.substr(start, dot - start))) return false;
        start = dot + 1;
    }
    return true;
}

bool HoldsAny(std::u16string_view text, std::u16string_view chars) {
    return text.find_first_of(chars) != std::u16string_view::npos;
}

bool ReadDateTime(std::u16string_view text, double& dateTime, std::u16string& format, bool& hasDate, bool& hasTime,
                  std::u16string_view dateFormat, std::u16string_view timeFormat, const TFormatSettings& s) {
    double value = 0;
    if (!DateTimeReader(s).Read(text, value)) return false;
    double whole = std::trunc(value);
    if (whole == 0 && LooksLikeVersion(text)) return false;
    const char16_t dateChars[] = {u'.', u'/', u'-', s.DateSeparator, 0};
    const char16_t timeChars[] = {u':', s.TimeSeparator, 0};
    bool date = HoldsAny(text, dateChars) && whole > 0;
    bool time = HoldsAny(text, timeChars);
    if (!date && !time) return false;
    std::u16string dateFmt(dateFormat.empty() ? std::u16string_view(s.ShortDateFormat) : dateFormat);
    std::u16string timeFmt = timeFormat.empty() ? StringReplaceSkipQuotes(s.ShortTimeFormat, u"AMPM", u"AM/PM")
                                                : std::u16string(timeFormat);
    std::u16string fmt = date ? dateFmt : std::u16string();
    if (time) fmt += (date ? u" " : u"") + timeFmt;
    dateTime = value;
    format = std::move(fmt);
    hasDate = date;
    hasTime = time;
    return true;
}

}  // namespace

bool KmrTryStrToDateTime(std::u16string_view text, double& dateTime, std::u16string& format, bool& hasDate,
                         bool& hasTime, std::u16string_view dateFormat, std::u16string_view timeFormat,
                         const TFormatSettings* settings) {
    try {
        const TFormatSettings& s = settings ? *settings : GetDefaultLocaleFormatSettings();
        return ReadDateTime(text, dateTime, format, hasDate, hasTime, dateFormat, timeFormat, s);
    } catch (...) {
        return false;
    }
}

std::u16string TryFormatDateTime(std::u16string_view format, double dateTime) {
    try {
        return TryFormatDateTime(format, dateTime, ProcessFormatSettings());
    } catch (...) {
        return u"##";
    }
}

std::u16string TryFormatDateTime(std::u16string_view format, double dateTime, const TFormatSettings& settings) {
    try {
        DateParts parts;
        if (!Decode(dateTime, parts)) return u"##";
        DateFormatter formatter(parts, settings);
        // An empty format shows the value as "c" does.
        formatter.Append(format.empty() ? std::u16string_view(u"c") : format, 0);
        return std::move(formatter.out);
    } catch (...) {
        return u"##";
    }
}

std::u16string TryFormatDateTime1904(std::u16string_view format, double dateTime, bool dates1904,
                                     const TFormatSettings& settings) {
    return TryFormatDateTime(format, dates1904 ? dateTime + kDaysFrom1900To1904 : dateTime, settings);
}

}  // namespace kalmira
