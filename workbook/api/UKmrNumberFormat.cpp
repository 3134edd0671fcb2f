#include "workbook/api/UKmrNumberFormat.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

constexpr long double kMsPerDay = 86400000.0L;

char16_t Up(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool EqualsNoCase(std::u16string_view a, std::u16string_view upper) {
    if (a.size() != upper.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Up(a[i]) != upper[i]) return false;
    return true;
}

bool StartsNoCase(std::u16string_view text, std::size_t pos, std::u16string_view upper) {
    return pos <= text.size() && EqualsNoCase(text.substr(pos, upper.size()), upper);
}

std::u16string Ascii(std::string_view s) { return StringToWideStringNoCodePage(s); }

// ---- Sections --------------------------------------------------------------

// At most four sections, split at ";" outside quotes and brackets and not
// right after "\"; a fifth and later ones are ignored.
std::vector<std::u16string_view> SplitSections(std::u16string_view f) {
    std::vector<std::u16string_view> out;
    std::size_t start = 0;
    char16_t closer = 0;
    for (std::size_t i = 0; i < f.size(); ++i) {
        char16_t c = f[i];
        if (closer) {
            if (c == closer) closer = 0;
        } else if (c == u'"') {
            closer = u'"';
        } else if (c == u'[') {
            closer = u']';
        } else if (c == u'\\') {
            ++i;
        } else if (c == u';') {
            out.push_back(f.substr(start, i - start));
            start = i + 1;
            if (out.size() == 4) return out;
        }
    }
    out.push_back(f.substr(start));
    return out;
}

struct NamedColour {
    std::u16string_view name;  // upper case
    std::uint32_t colour;
};

constexpr NamedColour kColours[] = {{u"BLACK", 0x000000}, {u"CYAN", 0xFFFF00},    {u"BLUE", 0xFF0000},
                                    {u"GREEN", 0x008000}, {u"MAGENTA", 0xFF00FF}, {u"RED", 0x0000FF},
                                    {u"WHITE", 0xFFFFFF}, {u"YELLOW", 0x00FFFF}};

// A section with its leading colour and condition taken off.
struct Section {
    std::u16string_view body;
    std::optional<std::uint32_t> colour;
    bool hasCondition = false;
    bool result = false;         // the condition holds for the value
    bool canBeNegative = true;   // the condition admits negative values
    bool dropMinus = false;      // a negative value shown here loses its sign
};

bool ReadCondition(std::u16string_view inner, double value, Section& s) {
    struct Op {
        std::u16string_view text;
        int kind;  // 0 <, 1 <=, 2 <>, 3 =, 4 >, 5 >=
    };
    static constexpr Op ops[] = {{u"<=", 1}, {u"<>", 2}, {u">=", 5}, {u"<", 0}, {u"=", 3}, {u">", 4}};
    for (const Op& op : ops) {
        if (inner.substr(0, op.text.size()) != op.text) continue;
        std::u16string_view number = inner.substr(op.text.size());
        std::string ascii;
        for (char16_t c : number) {
            if (c > 0x7F) return false;
            ascii.push_back(static_cast<char>(c));
        }
        double n = 0;
        if (!TryStrToFloatInvariant(ascii, n)) return false;
        const bool results[] = {value < n, value <= n, value != n, value == n, value > n, value >= n};
        s.hasCondition = true;
        s.result = results[op.kind];
        s.canBeNegative = op.kind != 3 && !(op.kind >= 4 && n > 0);
        s.dropMinus = op.kind == 3 || (op.kind <= 1 && n <= 0);
        return true;
    }
    return false;
}

// A colour and a condition lead a section, in either order.
Section ReadSection(std::u16string_view text, double value) {
    Section s;
    for (int round = 0; round < 2 && !text.empty() && text[0] == u'['; ++round) {
        std::size_t close = text.find(u']');
        if (close == std::u16string_view::npos) break;
        std::u16string_view inner = text.substr(1, close - 1);
        bool taken = false;
        if (!s.colour) {
            for (const NamedColour& c : kColours)
                if (EqualsNoCase(inner, c.name)) {
                    s.colour = c.colour;
                    taken = true;
                }
        }
        if (!taken && !s.hasCondition) taken = ReadCondition(inner, value, s);
        if (!taken) break;
        text.remove_prefix(close + 1);
    }
    s.body = text;
    return s;
}

struct Choice {
    int index = -1;  // -1: no such section
    bool minus = true;
};

// The plain choice by sign; the conditional one when it is unambiguous.
Choice ChooseSection(const std::vector<Section>& s, double v) {
    const std::size_t k = s.size();
    const std::size_t numeric = std::min<std::size_t>(k, 3);
    int firstTrue = -1, trueCount = 0, free = -1, freeCount = 0;
    bool conditional = false;
    for (std::size_t i = 0; i < numeric; ++i) {
        if (s[i].hasCondition) {
            conditional = true;
            if (s[i].result && trueCount++ == 0) firstTrue = static_cast<int>(i);
        } else if (freeCount++ == 0) {
            free = static_cast<int>(i);
        }
    }
    // Beside a conditioned first section of two, the second shows a minus
    // only when that condition admits negative values.
    const bool secondMinus = k == 2 && s[0].hasCondition && s[0].canBeNegative;
    if (conditional && trueCount <= 1 && freeCount <= 1) {
        if (trueCount == 1) return {firstTrue, !(v < 0 && s[firstTrue].dropMinus)};
        if (freeCount == 1) return {free, v >= 0 || free == 0 || secondMinus};
    }
    if (v > 0 || k < 2 || (v == 0 && k < 3)) return {0, true};
    if (v < 0) return {1, secondMinus};
    if (!s[2].hasCondition) return {2, true};
    return {k > 3 ? 3 : -1, true};
}

// ---- Tokens ----------------------------------------------------------------

enum class Tok : std::uint8_t {
    Literal,   // text shown as it stands
    Date,      // a run of one date-time letter
    AmPm,      // AM/PM or A/P as written
    Elapsed,   // [h] [mm] [ss]
    Digit,     // 0 # ?
    Point,
    Comma,
    Percent,
    Exponent,  // E+ E- e+ e- with its zeros
    Slash,
    Colon,
    At,
    General,
};

struct Token {
    Tok kind;
    std::u16string text;  // as written (a literal's resolved text)
    char16_t letter = 0;  // Date, Elapsed: upper case; Digit: the placeholder
    int count = 0;        // Date, Elapsed: run length; Exponent: zeros
};

bool IsHex(char16_t c) { return (c >= u'0' && c <= u'9') || (Up(c) >= u'A' && Up(c) <= u'F'); }

bool IsDateLetter(char16_t upper) {
    return upper == u'D' || upper == u'H' || upper == u'M' || upper == u'N' || upper == u'S' || upper == u'Y' ||
           upper == u'C' || upper == u'T';
}

class Tokenizer {
public:
    Tokenizer(std::u16string_view body, const TFormatSettings& settings) : f_(body), settings_(settings) {}

    std::vector<Token> Run() {
        while (i_ < f_.size()) Next();
        return std::move(out_);
    }

    // The settings for the rest of the section: a locale bracket may switch them.
    const TFormatSettings& Settings() const { return locale_ ? *locale_ : settings_; }

private:
    void Literal(std::u16string_view text) {
        if (!out_.empty() && out_.back().kind == Tok::Literal) out_.back().text += text;
        else out_.push_back({Tok::Literal, std::u16string(text)});
    }

    void Add(Tok kind, std::size_t length, char16_t letter = 0, int count = 0) {
        out_.push_back({kind, std::u16string(f_.substr(i_, length)), letter, count});
        i_ += length;
    }

    void Next() {
        const char16_t c = f_[i_];
        const char16_t u = Up(c);
        switch (c) {
            case u'"': {
                std::size_t end = std::min(f_.find(u'"', i_ + 1), f_.size());
                Literal(f_.substr(i_ + 1, end - i_ - 1));
                i_ = end + 1;
                return;
            }
            case u'\\':
                Literal(f_.substr(i_ + 1, 1));
                i_ += 2;
                return;
            case u'*': i_ += 2; return;
            case u'_':
                Literal(u" ");
                i_ += 2;
                return;
            case u'[': Bracket(); return;
            case u'0':
            case u'#':
            case u'?': Add(Tok::Digit, 1, c); return;
            case u'.': Add(Tok::Point, 1); return;
            case u',': Add(Tok::Comma, 1); return;
            case u'%': Add(Tok::Percent, 1); return;
            case u'/': Add(Tok::Slash, 1); return;
            case u':': Add(Tok::Colon, 1); return;
            case u'@': Add(Tok::At, 1); return;
            default: break;
        }
        if (StartsNoCase(f_, i_, u"GENERAL")) return Add(Tok::General, 7);
        if (StartsNoCase(f_, i_, u"AM/PM")) return Add(Tok::AmPm, 5);
        if (StartsNoCase(f_, i_, u"A/P")) return Add(Tok::AmPm, 3);
        if (u == u'E' && i_ + 1 < f_.size() && (f_[i_ + 1] == u'+' || f_[i_ + 1] == u'-')) {
            std::size_t n = 0;
            while (n < 4 && i_ + 2 + n < f_.size() && f_[i_ + 2 + n] == u'0') ++n;
            return Add(Tok::Exponent, 2 + n, 0, static_cast<int>(n));
        }
        if (IsDateLetter(u)) {
            std::size_t n = 1;
            while (i_ + n < f_.size() && Up(f_[i_ + n]) == u) ++n;
            return Add(Tok::Date, n, u, static_cast<int>(n));
        }
        Literal(f_.substr(i_, 1));
        ++i_;
    }

    // Brackets inside a section: a currency symbol with an optional locale,
    // an elapsed time, or anything else, which is dropped. An unclosed one
    // ends the section.
    void Bracket() {
        std::size_t close = f_.find(u']', i_);
        if (close == std::u16string_view::npos) {
            i_ = f_.size();
            return;
        }
        std::u16string_view inner = f_.substr(i_ + 1, close - i_ - 1);
        i_ = close + 1;
        if (!inner.empty() && inner[0] == u'$') return Currency(inner.substr(1));
        if (!inner.empty() && std::all_of(inner.begin(), inner.end(), [&](char16_t c) { return Up(c) == Up(inner[0]); })) {
            char16_t u = Up(inner[0]);
            if (u == u'H' || u == u'M' || u == u'S')
                out_.push_back({Tok::Elapsed, std::u16string(inner), u, static_cast<int>(inner.size())});
        }
    }

    void Currency(std::u16string_view inner) {
        std::size_t dash = inner.find(u'-');
        Literal(inner.substr(0, dash));
        if (dash == std::u16string_view::npos) return;
        std::u16string_view id = inner.substr(dash + 1);
        if (id.size() > 4) id = id.substr(id.size() - 4);
        if (id.empty() || !std::all_of(id.begin(), id.end(), IsHex)) return;
        // The engine knows one locale, the user's: every valid id selects
        // its settings (what GetLocaleFormatSettings reports for any id),
        // kept once instead of copied for every cell.
        locale_ = &GetDefaultLocaleFormatSettings();
    }

    std::u16string_view f_;
    std::size_t i_ = 0;
    const TFormatSettings& settings_;
    const TFormatSettings* locale_ = nullptr;
    std::vector<Token> out_;
};

bool Has(const std::vector<Token>& tokens, Tok kind) {
    return std::any_of(tokens.begin(), tokens.end(), [kind](const Token& t) { return t.kind == kind; });
}

bool IsDateSection(const std::vector<Token>& tokens) {
    return Has(tokens, Tok::Date) || Has(tokens, Tok::AmPm) || Has(tokens, Tok::Elapsed);
}

// ---- Number text -----------------------------------------------------------

// The shortest text of at most 15 significant digits.
std::u16string GeneralText(double v, const TFormatSettings& s) { return VariantToString(TVariant(v), s); }

// Rounds a digit text half away from zero at its last digit, which goes.
void RoundOffLast(std::string& digits) {
    const bool up = digits.back() >= '5';
    digits.pop_back();
    if (!up) return;
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] == '.') continue;
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

// a >= 0 with `decimals` decimals, halves away from zero on the exact value.
std::string FixedText(double a, int decimals) {
    // The exact value has as many decimals as the binary fraction has bits;
    // only when it has at most one more than asked can a half be exact.
    int exp2 = 0;
    double mantissa = std::frexp(a, &exp2);
    auto bits = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
    int exact = bits == 0 ? 0 : std::max(0, 53 - exp2 - std::countr_zero(bits));
    const bool exactTail = exact <= decimals + 1;
    std::string buf(330 + static_cast<std::size_t>(decimals), '\0');
    auto r = std::to_chars(buf.data(), buf.data() + buf.size(), a, std::chars_format::fixed,
                           exactTail ? decimals + 1 : decimals);
    buf.resize(static_cast<std::size_t>(r.ptr - buf.data()));
    if (exactTail) {
        RoundOffLast(buf);
        if (!buf.empty() && buf.back() == '.') buf.pop_back();
    }
    return buf;
}

// a > 0 as `precision` significant digits (halves away from zero) and the
// power of ten of the first one.
std::string ScientificDigits(double a, int precision, int& exp10) {
    char buf[1000];
    auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 800);
    std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
    std::size_t e = s.find('e');
    std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), exp10);
    std::string digits(1, s[0]);
    digits.append(s.substr(2, e - 2));
    digits.resize(static_cast<std::size_t>(precision) + 1, '0');
    RoundOffLast(digits);
    if (digits.size() > static_cast<std::size_t>(precision)) {
        digits.pop_back();
        ++exp10;
    }
    return digits;
}

// The digit placeholders of a number section.
struct NumberLayout {
    int intSlots = 0, minInt = 0;    // placeholders before the point; from the first "0" on
    int fracSlots = 0, minFrac = 0;  // after it; up to the last "0"
    bool grouping = false;
    int scaling = 0;                 // the value is divided by 1,000 this many times
    bool point = false;
    const Token* exponent = nullptr;
};

// Commas right behind a digit placeholder and not before another (before
// the point or at the end of the number: "0.0," "#,##0,,") each divide the
// value by 1,000; any other comma groups the thousands.
void ReadCommas(const std::vector<Token>& tokens, NumberLayout& l) {
    for (std::size_t i = 0; i < tokens.size() && tokens[i].kind != Tok::Exponent; ++i) {
        if (tokens[i].kind != Tok::Comma) continue;
        std::size_t end = i;
        while (end < tokens.size() && tokens[end].kind == Tok::Comma) ++end;
        const bool afterDigit = i > 0 && tokens[i - 1].kind == Tok::Digit;
        const bool beforeDigit = end < tokens.size() && tokens[end].kind == Tok::Digit;
        if (afterDigit && !beforeDigit) l.scaling += static_cast<int>(end - i);
        else l.grouping = true;
        i = end - 1;
    }
}

NumberLayout Layout(const std::vector<Token>& tokens) {
    NumberLayout l;
    ReadCommas(tokens, l);
    bool seenZero = false;
    for (const Token& t : tokens) {
        if (l.exponent) break;
        if (t.kind == Tok::Point) l.point = true;
        if (t.kind == Tok::Exponent) l.exponent = &t;
        if (t.kind != Tok::Digit) continue;
        const bool zero = t.letter == u'0';
        if (l.point) {
            ++l.fracSlots;
            if (zero) l.minFrac = l.fracSlots;
        } else {
            ++l.intSlots;
            if (zero) seenZero = true;
            if (seenZero) ++l.minInt;
        }
    }
    return l;
}

class NumberWriter {
public:
    NumberWriter(const std::vector<Token>& tokens, const TFormatSettings& s) : tokens_(tokens), s_(s) {}

    std::u16string Write(double v, bool minus) {
        for (const Token& t : tokens_)
            if (t.kind == Tok::Percent) v *= 100;
        const NumberLayout l = Layout(tokens_);
        for (int i = 0; i < l.scaling; ++i) v /= 1000;
        if (!std::isfinite(v)) return GeneralText(minus ? v : std::fabs(v), s_);
        const double a = std::fabs(v);
        int exp10 = 0;
        if (l.exponent) {
            const int intDigits = std::max(1, l.intSlots);
            std::string digits = a == 0 ? std::string(static_cast<std::size_t>(intDigits + l.fracSlots), '0')
                                        : ScientificDigits(a, intDigits + l.fracSlots, exp10);
            exp10 -= intDigits - 1;
            if (a == 0) exp10 = 0;
            int_ = digits.substr(0, static_cast<std::size_t>(intDigits));
            frac_ = digits.substr(static_cast<std::size_t>(intDigits));
        } else {
            std::string text = FixedText(a, l.fracSlots);
            std::size_t dot = text.find('.');
            int_ = text.substr(0, dot);
            frac_ = dot == std::string::npos ? std::string() : text.substr(dot + 1);
        }
        int_.erase(0, std::min(int_.find_first_not_of('0'), int_.size()));
        while (frac_.size() > static_cast<std::size_t>(l.minFrac) && frac_.back() == '0') frac_.pop_back();
        const bool zero = int_.empty() && frac_.find_first_not_of('0') == std::string::npos;
        if (int_.size() < static_cast<std::size_t>(l.minInt)) int_.insert(0, static_cast<std::size_t>(l.minInt) - int_.size(), '0');

        std::u16string out = minus && v < 0 && !zero ? u"-" : u"";
        int intSlot = 0, fracSlot = 0;
        bool afterPoint = false, afterExponent = false;
        for (const Token& t : tokens_) {
            switch (t.kind) {
                case Tok::Digit:
                    if (afterExponent) break;
                    if (afterPoint) {
                        if (static_cast<std::size_t>(fracSlot) < frac_.size()) out += static_cast<char16_t>(frac_[fracSlot]);
                        ++fracSlot;
                    } else {
                        IntDigits(out, intSlot++, l);
                    }
                    break;
                case Tok::Point:
                    if (afterPoint || afterExponent) break;
                    afterPoint = true;
                    if (l.intSlots == 0) IntDigits(out, 0, l);
                    if (!frac_.empty()) out += s_.DecimalSeparator;
                    break;
                case Tok::Comma: break;
                case Tok::Exponent:
                    if (afterExponent) break;
                    afterExponent = true;
                    out += t.text[0];
                    if (exp10 < 0 || t.text[1] == u'+') out += exp10 < 0 ? u'-' : u'+';
                    out += Padded(std::to_string(std::abs(exp10)), std::max(1, t.count));
                    break;
                case Tok::General: out += GeneralText(minus ? v : std::fabs(v), s_); break;
                default: out += t.text; break;
            }
        }
        return out;
    }

private:
    static std::u16string Padded(std::string digits, int width) {
        if (digits.size() < static_cast<std::size_t>(width)) digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
        return Ascii(digits);
    }

    // Integer digits go to the placeholders from the right; the first
    // placeholder takes every digit left over.
    void IntDigits(std::u16string& out, int slot, const NumberLayout& l) {
        const auto len = static_cast<long>(int_.size());
        const long slots = std::max(1, l.intSlots);
        long from = len - slots + slot, to = from;
        if (slot == 0) from = 0;
        for (long i = std::max(0L, from); i <= to && i < len; ++i) {
            out += static_cast<char16_t>(int_[static_cast<std::size_t>(i)]);
            const long fromRight = len - 1 - i;
            if (l.grouping && fromRight > 0 && fromRight % 3 == 0) out += s_.ThousandSeparator;
        }
    }

    const std::vector<Token>& tokens_;
    const TFormatSettings& s_;
    std::string int_, frac_;
};

// ---- Date and time text ----------------------------------------------------

// A literal for the date-time formatter, in quotes it does not contain.
std::u16string Quote(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : text) {
        const char16_t q = c == u'"' ? u'\'' : u'"';
        out += q;
        out += c;
        out += q;
    }
    return out;
}

std::u16string Elapsed(const Token& t, double v) {
    const long double ms = std::nearbyint(std::fabs(static_cast<long double>(v)) * kMsPerDay);
    const long double unit = t.letter == u'H' ? 3600000.0L : t.letter == u'M' ? 60000.0L : 1000.0L;
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(std::floor(ms / unit)), std::chars_format::fixed, 0);
    std::string digits(buf, r.ptr);
    if (digits.size() < static_cast<std::size_t>(t.count)) digits.insert(0, static_cast<std::size_t>(t.count) - digits.size(), '0');
    return (v < 0 ? u"-" : u"") + Ascii(digits);
}

// What a date-time section shows: the formatter's format text, with the
// number-made parts (elapsed times, fractions of a second) as literals.
struct DateLayout {
    std::u16string format;
    bool fields = false;  // the formatter has something to show
    bool ampm = false;
    bool hasDate = false, hasTime = false;
};

class DateBuilder {
public:
    DateBuilder(const std::vector<Token>& tokens, double v, const TFormatSettings& s) : t_(tokens), v_(v), s_(s) {}

    DateLayout Build() {
        for (std::size_t i = 0; i < t_.size(); ++i) i = One(i);
        return std::move(d_);
    }

private:
    // The date letter next to token i in the given direction, or 0.
    char16_t Neighbour(std::size_t i, int step) const {
        for (long j = static_cast<long>(i) + step; j >= 0 && j < static_cast<long>(t_.size()); j += step) {
            const Token& t = t_[static_cast<std::size_t>(j)];
            if (t.kind == Tok::Date || t.kind == Tok::Elapsed) return t.letter;
            if (t.kind == Tok::AmPm) return u'A';
        }
        return 0;
    }

    void Field(char16_t letter, int count, bool time) {
        d_.format.append(static_cast<std::size_t>(count), letter);
        d_.fields = true;
        (time ? d_.hasTime : d_.hasDate) = true;
    }

    std::size_t One(std::size_t i) {
        const Token& t = t_[i];
        switch (t.kind) {
            case Tok::Date: Date(i); break;
            case Tok::AmPm:
                d_.format += t.text;
                d_.ampm = d_.fields = d_.hasTime = true;
                break;
            case Tok::Elapsed:
                d_.format += Quote(Elapsed(t, v_));
                d_.hasTime = true;
                break;
            case Tok::Slash: d_.format += u'/'; break;
            case Tok::Colon: d_.format += u':'; break;
            case Tok::Point:
            case Tok::Comma:
                if (i + 1 < t_.size() && t_[i + 1].kind == Tok::Digit && Neighbour(i, -1) == u'S') return SecondFraction(i);
                d_.format += Quote(t.text);
                break;
            case Tok::General:
            case Tok::At: d_.format += Quote(GeneralText(v_, s_)); break;
            default: d_.format += Quote(t.text); break;
        }
        return i;
    }

    void Date(std::size_t i) {
        const Token& t = t_[i];
        const int n = t.count;
        switch (t.letter) {
            case u'M': {
                const bool minutes = n <= 2 && (Neighbour(i, -1) == u'H' || Neighbour(i, 1) == u'S');
                return Field(minutes ? u'n' : u'm', n, minutes);
            }
            case u'D': return Field(u'd', std::min(n, 4), false);
            case u'Y': return Field(u'y', n, false);
            case u'H': return Field(u'h', std::min(n, 2), true);
            case u'N': return Field(u'n', std::min(n, 2), true);
            case u'S': return Field(u's', std::min(n, 2), true);
            case u'T': return Field(u't', std::min(n, 2), true);
            default:  // C: the short date, and the time unless it is midnight
                return Field(u'c', 1, false);
        }
    }

    // "ss.0": tenths, hundredths or thousandths of the second.
    std::size_t SecondFraction(std::size_t i) {
        std::size_t n = 0;
        while (i + 1 + n < t_.size() && t_[i + 1 + n].kind == Tok::Digit) ++n;
        const long double whole = std::trunc(static_cast<long double>(v_));
        const auto ms = static_cast<long long>(std::nearbyint(std::fabs(v_ - whole) * kMsPerDay)) % 1000;
        std::u16string digits = Ascii(std::to_string(1000 + ms).substr(1));
        d_.format += Quote(s_.DecimalSeparator + digits.substr(0, std::min<std::size_t>(n, 3)));
        d_.hasTime = true;
        return i + n;
    }

    const std::vector<Token>& t_;
    double v_;
    const TFormatSettings& s_;
    DateLayout d_;
};

// ---- Sections rendered -----------------------------------------------------

std::u16string NumberSection(std::u16string_view body, double v, bool minus, bool dates1904,
                             const TFormatSettings& settings) {
    Tokenizer tokenizer(body, settings);
    const std::vector<Token> tokens = tokenizer.Run();
    const TFormatSettings& s = tokenizer.Settings();
    if (IsDateSection(tokens)) {
        DateLayout d = DateBuilder(tokens, v, s).Build();
        if (!d.fields) return TryFormatDateTime1904(d.format, 0, false, s);
        TFormatSettings withAmPm = s;
        if (d.ampm) EnsureAMPM(withAmPm);
        return TryFormatDateTime1904(d.format, v, dates1904, withAmPm);
    }
    // Fractions and text placeholders are beyond the number writer: they
    // show the number's general form.
    if (Has(tokens, Tok::At) || (Has(tokens, Tok::Slash) && Has(tokens, Tok::Digit)))
        return GeneralText(minus ? v : std::fabs(v), s);
    if (!Has(tokens, Tok::Digit)) {
        std::u16string out;
        for (const Token& t : tokens)
            out += t.kind == Tok::General ? GeneralText(minus ? v : std::fabs(v), s) : t.text;
        return out;
    }
    return NumberWriter(tokens, s).Write(v, minus);
}

std::u16string TextSection(std::u16string_view body, std::u16string_view text, const TFormatSettings& settings) {
    std::u16string out;
    for (const Token& t : Tokenizer(body, settings).Run())
        out += t.kind == Tok::At || t.kind == Tok::General ? std::u16string(text) : t.text;
    return out;
}

std::u16string TextRoad(std::u16string_view text, std::u16string_view format, std::uint32_t& colour,
                        const TFormatSettings& s) {
    const std::vector<std::u16string_view> sections = SplitSections(format);
    std::optional<std::u16string_view> chosen;
    if (sections.size() == 4) chosen = sections[3];
    else if (sections[0].find(u'@') != std::u16string_view::npos) chosen = sections[0];
    if (chosen) {
        Section section = ReadSection(*chosen, 0);
        if (section.colour) colour = *section.colour;
        return TextSection(section.body, text, s);
    }
    Section first = ReadSection(sections[0], 0);
    if (first.colour && (first.body.empty() || EqualsNoCase(first.body, u"GENERAL"))) colour = *first.colour;
    return std::u16string(text);
}

std::u16string NumberRoad(double v, std::u16string_view format, bool dates1904, std::uint32_t& colour,
                          const TFormatSettings& s) {
    if (!std::isfinite(v)) return GeneralText(v, s);
    std::vector<Section> sections;
    for (std::u16string_view text : SplitSections(format)) sections.push_back(ReadSection(text, v));
    const Choice choice = ChooseSection(sections, v);
    if (choice.index < 0 || static_cast<std::size_t>(choice.index) >= sections.size()) return {};
    const Section& section = sections[static_cast<std::size_t>(choice.index)];
    if (section.colour) colour = *section.colour;
    const std::u16string upper = WideUpperCase98(section.body);
    if (upper.find(u"[$-F800]") != std::u16string::npos) return TryFormatDateTime1904(s.LongDateFormat, v, dates1904, s);
    if (upper.find(u"[$-F400]") != std::u16string::npos) return TryFormatDateTime1904(s.LongTimeFormat, v, dates1904, s);
    return NumberSection(section.body, v, choice.minus, dates1904, s);
}

}  // namespace

std::u16string XlsFormatValue(const TVariant& value, std::u16string_view format, std::uint32_t& colour) {
    return XlsFormatValue1904(value, format, false, colour);
}

std::u16string XlsFormatValue1904(const TVariant& value, std::u16string_view format, bool dates1904,
                                  std::uint32_t& colour, const TFormatSettings* settings) {
    const TFormatSettings& s = settings ? *settings : GetDefaultLocaleFormatSettings();
    const TVarType type = value.VarType();
    if (type == TVarType::Empty || type == TVarType::Null) return {};
    // The engine's boolean words whatever the format, General too.
    if (type == TVarType::Boolean) return Ascii(value.IntValue() ? TxtTrue : TxtFalse);
    if (format.empty()) return VariantToString(value, s);
    if (type == TVarType::String) return TextRoad(value.Text(), format, colour, s);
    if (value.IsNumeric() || type == TVarType::Date) return NumberRoad(value.AsDouble(), format, dates1904, colour, s);
    return VariantToString(value, s);
}

bool HasXlsDateTime(std::u16string_view format, bool& hasDate, bool& hasTime, const TFormatSettings* settings) {
    const TFormatSettings& s = settings ? *settings : GetDefaultLocaleFormatSettings();
    // A probe of a day and a half takes the section a positive date would.
    constexpr double probe = 1.5;
    hasDate = hasTime = false;
    std::vector<Section> sections;
    for (std::u16string_view text : SplitSections(format)) sections.push_back(ReadSection(text, probe));
    const Choice choice = ChooseSection(sections, probe);
    if (choice.index < 0 || static_cast<std::size_t>(choice.index) >= sections.size()) return false;
    std::u16string_view body = sections[static_cast<std::size_t>(choice.index)].body;
    const std::u16string upper = WideUpperCase98(body);
    if (upper.find(u"[$-F800]") != std::u16string::npos) {
        hasDate = true;
    } else if (upper.find(u"[$-F400]") != std::u16string::npos) {
        hasTime = true;
    } else {
        Tokenizer tokenizer(body, s);
        const std::vector<Token> tokens = tokenizer.Run();
        if (IsDateSection(tokens)) {
            DateLayout d = DateBuilder(tokens, probe, tokenizer.Settings()).Build();
            hasDate = d.hasDate;
            hasTime = d.hasTime;
        }
    }
    return hasDate || hasTime;
}

namespace {

// The exact decimal value of |x| (finite): every digit a double has.
std::string ExactDigits(double x) {
    char buf[1500];
    const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::fixed, 1100);
    return std::string(buf, r.ec == std::errc() ? static_cast<std::size_t>(r.ptr - buf) : 0);
}

void DropTrailingZeros(std::string& text) {
    if (text.find('.') == std::string::npos) return;
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
}

// exact (ExactDigits of x) rounded to decimals places, halves away from
// zero, trailing zeros of the fraction dropped.
std::string FixedForm(const std::string& exact, bool negative, int decimals) {
    const std::size_t point = exact.find('.');
    if (point == std::string::npos) return {};
    std::string text = exact.substr(0, point + 2 + static_cast<std::size_t>(decimals));
    RoundOffLast(text);
    DropTrailingZeros(text);
    return (negative && text.find_first_of("123456789") != std::string::npos ? "-" : "") + text;
}

// exact as a mantissa of decimals places (rounded as FixedForm) and a
// signed exponent of at least two digits, as 1.23E+13; trailing zeros of
// the mantissa dropped. Not for 0.
std::string ExponentForm(const std::string& exact, bool negative, int decimals) {
    std::string all = exact;
    const std::size_t point = all.find('.');
    if (point == std::string::npos) return {};
    all.erase(point, 1);
    const std::size_t first = all.find_first_not_of('0');
    if (first == std::string::npos) return {};
    int exponent = static_cast<int>(point) - 1 - static_cast<int>(first);
    std::string digits = all.substr(first, static_cast<std::size_t>(decimals) + 2);
    digits.resize(static_cast<std::size_t>(decimals) + 2, '0');
    RoundOffLast(digits);
    if (digits.size() > static_cast<std::size_t>(decimals) + 1) {  // 9.99 became 10.0
        digits.pop_back();
        ++exponent;
    }
    std::string mantissa = digits.substr(0, 1);
    if (decimals > 0) mantissa += '.' + digits.substr(1);
    DropTrailingZeros(mantissa);
    const std::string e = std::to_string(std::abs(exponent));
    return (negative ? "-" : "") + mantissa + 'E' + (exponent < 0 ? '-' : '+') + (e.size() < 2 ? "0" : "") + e;
}

// Whether value, rendered through format, shows in General; shown is the
// number with the sign the section gives it.
bool ShownInGeneral(const TVariant& value, std::u16string_view format, double& shown) {
    const TVarType type = value.VarType();
    if (!value.IsNumeric() && type != TVarType::Date) return false;
    const double v = value.AsDouble();
    if (!std::isfinite(v)) return false;
    shown = v;
    // Without a format a date shows as a date.
    if (format.empty()) return type != TVarType::Date;
    std::vector<Section> sections;
    for (std::u16string_view text : SplitSections(format)) sections.push_back(ReadSection(text, v));
    const Choice choice = ChooseSection(sections, v);
    if (choice.index < 0 || static_cast<std::size_t>(choice.index) >= sections.size()) return false;
    if (!EqualsNoCase(sections[static_cast<std::size_t>(choice.index)].body, u"GENERAL")) return false;
    if (!choice.minus) shown = std::fabs(v);
    return true;
}

}  // namespace

std::vector<std::u16string> XlsGeneralNarrowerForms(const TVariant& value, std::u16string_view format,
                                                    const TFormatSettings* settings) {
    double x = 0;
    if (!ShownInGeneral(value, format, x)) return {};
    const TFormatSettings& s = settings ? *settings : GetDefaultLocaleFormatSettings();
    std::vector<std::u16string> forms;
    auto add = [&](const std::string& digits) {
        std::u16string text = Ascii(digits);
        std::replace(text.begin(), text.end(), u'.', s.DecimalSeparator);
        if (!text.empty() && (forms.empty() || forms.back() != text)) forms.push_back(std::move(text));
    };
    // General's own text: at most 15 significant digits, in the fixed form
    // from 1E-5 up to below 1E15.
    const std::u16string full = GeneralText(x, s);
    const std::string exact = ExactDigits(x);
    const std::size_t point = full.find(s.DecimalSeparator);
    const bool scientific = full.find(u'E') != std::u16string::npos;
    if (!scientific && point != std::u16string::npos) {
        // Fewer decimals, while a significant digit stays.
        for (int d = static_cast<int>(full.size() - point - 1) - 1; d >= 0; --d) {
            const std::string digits = FixedForm(exact, x < 0, d);
            if (x != 0 && digits.find_first_of("123456789") == std::string::npos) break;
            add(digits);
        }
    }
    // Then the scientific form, one mantissa digit fewer each time.
    int significant = 0;
    for (char16_t c : full) {
        if (c == u'E') break;
        if (c >= u'0' && c <= u'9' && (significant > 0 || c != u'0')) ++significant;
    }
    for (int d = std::clamp(significant - 1, 0, 14); d >= 0; --d) add(ExponentForm(exact, x < 0, d));
    return forms;
}

}  // namespace kalmira
