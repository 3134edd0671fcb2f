#include "workbook/storage/UKmrMessages.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>

namespace kalmira {

namespace {

// ---- Format settings -------------------------------------------------------

struct SettingsState {
    std::mutex mutex;
    std::shared_ptr<const IFormatSettingsSource> source;
    // Every record handed out by GetDefaultLocaleFormatSettings stays alive,
    // so a new source never leaves a caller with a dangling reference.
    std::deque<TFormatSettings> generations;
    const TFormatSettings* defaults = nullptr;
    std::optional<TFormatSettings> process;
};

SettingsState& State() {
    static SettingsState state;
    return state;
}

TFormatSettings MakeInvariantSettings() {
    TFormatSettings s;
    s.CurrencyString = u"$";
    s.CurrencyFormat = 0;
    s.CurrencyDecimals = 2;
    s.DateSeparator = u'/';
    s.TimeSeparator = u':';
    s.ListSeparator = u',';
    s.ShortDateFormat = u"M/d/yyyy";
    s.LongDateFormat = u"dddd, MMMM d, yyyy";
    s.TimeAMString = u"AM";
    s.TimePMString = u"PM";
    s.ShortTimeFormat = u"h:mm AMPM";
    s.LongTimeFormat = u"h:mm:ss AMPM";
    s.ShortMonthNames = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                         u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
    s.LongMonthNames = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                        u"July",    u"August",   u"September", u"October", u"November", u"December"};
    s.ShortDayNames = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
    s.LongDayNames = {u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"};
    s.ThousandSeparator = u',';
    s.DecimalSeparator = u'.';
    s.TwoDigitYearCenturyWindow = 50;
    s.NegCurrFormat = 0;
    return s;
}

TFormatSettings ReadSource(const SettingsState& state) {
    return state.source ? state.source->LocaleSettings() : InvariantFormatSettings();
}

// ---- Numbers ---------------------------------------------------------------

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The number grammar of TryStrToFloat, rewritten into plain ASCII for
// from_chars (which itself never looks at the process locale).
std::optional<std::string> NormalizeNumber(std::u16string_view text, char16_t decimal) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    std::string out;
    std::size_t i = b;
    if (i < e && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-') out.push_back('-');
        ++i;
    }
    bool digits = false, point = false;
    for (; i < e; ++i) {
        char16_t c = text[i];
        if (c >= u'0' && c <= u'9') {
            digits = true;
            out.push_back(static_cast<char>(c));
        } else if (c == decimal && !point) {
            point = true;
            out.push_back('.');
        } else {
            break;
        }
    }
    if (!digits) return std::nullopt;
    if (i < e && (text[i] == u'e' || text[i] == u'E')) {
        out.push_back('e');
        ++i;
        if (i < e && (text[i] == u'+' || text[i] == u'-')) out.push_back(static_cast<char>(text[i++]));
        std::size_t start = i;
        while (i < e && text[i] >= u'0' && text[i] <= u'9') out.push_back(static_cast<char>(text[i++]));
        if (i == start) return std::nullopt;
    }
    if (i != e) return std::nullopt;
    return out;
}

// The class library's general float text: the shortest form with up to
// `precision` significant digits, scientific when the exponent is at least
// the precision or below -4.
std::u16string FloatText(double v, int precision, char16_t decimal) {
    if (std::isnan(v)) return u"NAN";
    if (std::isinf(v)) return v > 0 ? u"INF" : u"-INF";
    if (v == 0) return u"0";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, precision - 1);
    std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
    std::size_t ePos = s.find('e');
    std::string digits(1, s[0]);
    if (ePos > 2) digits.append(s.substr(2, ePos - 2));
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string_view expText = s.substr(ePos + 1);
    if (!expText.empty() && expText[0] == '+') expText.remove_prefix(1);
    int exp = 0;
    std::from_chars(expText.data(), expText.data() + expText.size(), exp);

    std::string out = v < 0 ? "-" : "";
    std::string dec(1, '.');
    if (exp >= precision || exp < -4) {
        out += digits[0];
        if (digits.size() > 1) out += dec + digits.substr(1);
        out += 'E';
        out += std::to_string(exp);
    } else if (exp >= 0) {
        std::size_t intLen = static_cast<std::size_t>(exp) + 1;
        if (digits.size() < intLen) digits.append(intLen - digits.size(), '0');
        out += digits.substr(0, intLen);
        if (digits.size() > intLen) out += dec + digits.substr(intLen);
    } else {
        out += "0" + dec + std::string(static_cast<std::size_t>(-exp - 1), '0') + digits;
    }
    std::u16string text = StringToWideStringNoCodePage(out);
    std::replace(text.begin(), text.end(), u'.', decimal);
    return text;
}

// Currency: a count of 1/10000, shown with up to four decimals.
std::u16string CurrencyText(std::int64_t tenThousandths, char16_t decimal) {
    std::uint64_t magnitude =
        tenThousandths < 0 ? 0 - static_cast<std::uint64_t>(tenThousandths) : static_cast<std::uint64_t>(tenThousandths);
    std::string out = tenThousandths < 0 ? "-" : "";
    out += std::to_string(magnitude / 10000);
    std::string frac = std::to_string(10000 + magnitude % 10000).substr(1);
    while (!frac.empty() && frac.back() == '0') frac.pop_back();
    std::u16string text = StringToWideStringNoCodePage(out);
    if (!frac.empty()) text += decimal + StringToWideStringNoCodePage(frac);
    return text;
}

std::u16string ErrorText(std::int64_t code) {
    struct ErrorName {
        std::int64_t code;
        const char16_t* text;
    };
    static constexpr ErrorName names[] = {{0x00, xlerr_Null}, {0x07, xlerr_Div0}, {0x0F, xlerr_Value},
                                          {0x17, xlerr_Ref},  {0x1D, xlerr_Name}, {0x24, xlerr_Num},
                                          {0x2A, xlerr_NA}};
    for (const auto& n : names)
        if (n.code == code) return n.text;
    return u"Error " + StringToWideStringNoCodePage(std::to_string(code));
}

// ---- Upper case ------------------------------------------------------------

// The simple upper-case mappings of the Unicode 15.0 character database for
// the Basic Multilingual Plane, as runs of (first, last, step, delta): every
// step-th unit from first to last maps to itself + delta.
struct UpperRun {
    char16_t first;
    char16_t last;
    std::uint8_t step;
    std::int32_t delta;
};

constexpr UpperRun kUpperRuns[] = {
#include "workbook/storage/UKmrUpperCase.inc"
};

char16_t UpperChar(char16_t c) {
    auto it = std::upper_bound(std::begin(kUpperRuns), std::end(kUpperRuns), c,
                               [](char16_t v, const UpperRun& r) { return v < r.first; });
    if (it == std::begin(kUpperRuns)) return c;
    const UpperRun& run = *(it - 1);
    if (c > run.last || (c - run.first) % run.step != 0) return c;
    return static_cast<char16_t>(c + run.delta);
}

std::string ProgramFolder() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::filesystem::path(std::string(buf, static_cast<std::size_t>(n))).parent_path().string();
}

bool FileExists(const std::string& name) {
    std::error_code ec;
    auto status = std::filesystem::status(name, ec);
    return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string full(folder);
    if (!full.empty() && full.back() != '/') full.push_back('/');
    return full.append(name);
}

}  // namespace

// ---- Format settings -------------------------------------------------------

void SetFormatSettingsSource(std::shared_ptr<const IFormatSettingsSource> source) {
    SettingsState& state = State();
    std::lock_guard lock(state.mutex);
    state.source = std::move(source);
    state.defaults = nullptr;
}

void GetLocaleFormatSettings(std::uint32_t /*localeId*/, TFormatSettings& settings) {
    SettingsState& state = State();
    std::lock_guard lock(state.mutex);
    settings = ReadSource(state);
}

const TFormatSettings& GetDefaultLocaleFormatSettings() {
    SettingsState& state = State();
    std::lock_guard lock(state.mutex);
    if (!state.defaults) state.defaults = &state.generations.emplace_back(ReadSource(state));
    return *state.defaults;
}

const TFormatSettings& InvariantFormatSettings() {
    static const TFormatSettings invariant = MakeInvariantSettings();
    return invariant;
}

void EnsureAMPM(TFormatSettings& settings) {
    if (settings.TimeAMString.empty()) settings.TimeAMString = u"AM";
    if (settings.TimePMString.empty()) settings.TimePMString = u"PM";
}

TFormatSettings ProcessFormatSettings() {
    {
        SettingsState& state = State();
        std::lock_guard lock(state.mutex);
        if (state.process) return *state.process;
    }
    return GetDefaultLocaleFormatSettings();
}

void SetProcessFormatSettings(const TFormatSettings& settings) {
    SettingsState& state = State();
    std::lock_guard lock(state.mutex);
    state.process = settings;
}

// ---- Text and paths --------------------------------------------------------

std::u16string EncodeColumn(int column) {
    if (column < 1) Raise(ErrInvalidCol, column);
    std::u16string letters;
    for (int n = column; n > 0; n = (n - 1) / 26) letters.insert(letters.begin(), static_cast<char16_t>(u'A' + (n - 1) % 26));
    return letters;
}

std::string SearchPathStr(std::string_view basePath, std::string_view fileName) {
    if (!fileName.empty() && fileName.front() == '/') {
        std::string name(fileName);
        if (!FileExists(name)) Raise(ErrCantFindFile, name);
        return name;
    }
    std::size_t b = 0, e = basePath.size();
    while (b < e && static_cast<unsigned char>(basePath[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(basePath[e - 1]) <= ' ') --e;
    if (b < e) {
        std::string full = JoinPath(basePath.substr(b, e - b), fileName);
        if (!FileExists(full)) Raise(ErrCantFindFile, full);
        return full;
    }
    // The engine is linked into the program, so the module's folder is the
    // program's folder too.
    std::string full = JoinPath(ProgramFolder(), fileName);
    if (!FileExists(full)) Raise(ErrCantFindFile, fileName);
    return full;
}

std::string SearchPathStr(std::string_view fileName) { return SearchPathStr({}, fileName); }

bool TryStrToFloat(std::u16string_view text, double& value, const TFormatSettings& settings) {
    std::optional<std::string> ascii = NormalizeNumber(text, settings.DecimalSeparator);
    if (!ascii) return false;
    double result = 0;
    auto r = std::from_chars(ascii->data(), ascii->data() + ascii->size(), result, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != ascii->data() + ascii->size()) return false;
    value = result;
    return true;
}

bool TryStrToFloatInvariant(std::string_view text, double& value) {
    return TryStrToFloat(StringToWideStringNoCodePage(text), value, InvariantFormatSettings());
}

std::u16string WideUpperCase98(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) c = UpperChar(c);
    return out;
}

int PosEx(std::u16string_view sub, std::u16string_view text, int offset) {
    if (sub.empty() || offset < 1 || static_cast<std::size_t>(offset) > text.size()) return -1;
    std::size_t pos = text.find(sub, static_cast<std::size_t>(offset) - 1);
    return pos == std::u16string_view::npos ? -1 : static_cast<int>(pos) + 1;
}

std::u16string StringReplaceSkipQuotes(std::u16string_view text, std::u16string_view oldPattern,
                                       std::u16string_view newPattern) {
    if (oldPattern.empty()) return std::u16string(text);
    // Upper-casing keeps the length, so positions in both texts agree.
    std::u16string upperText = WideUpperCase98(text);
    std::u16string upperOld = WideUpperCase98(oldPattern);
    std::u16string out;
    bool quoted = false;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == u'"') {
            quoted = !quoted;
        } else if (!quoted && upperText.compare(i, upperOld.size(), upperOld) == 0) {
            out += newPattern;
            i += upperOld.size();
            continue;
        }
        out.push_back(text[i++]);
    }
    return out;
}

TXlsCellRange OffsetRange(const TXlsCellRange& range, int rowOffset, int colOffset) {
    return {range.Left + colOffset, range.Top + rowOffset, range.Right + colOffset, range.Bottom + rowOffset};
}

void InitializeNamedRange(TXlsNamedRange& range) {
    range.Name.clear();
    range.RangeFormula.clear();
    range.OptionFlags = 0;
    range.NameSheetIndex = 0;
}

// ---- Values ----------------------------------------------------------------

std::u16string VariantToString(const TVariant& value) { return VariantToString(value, ProcessFormatSettings()); }

std::u16string VariantToString(const TVariant& value, const TFormatSettings& settings) {
    switch (value.VarType()) {
        case TVarType::Empty:
        case TVarType::Null: return {};
        case TVarType::Boolean: return value.IntValue() ? u"True" : u"False";
        case TVarType::Single: return FloatText(value.RealValue(), 7, settings.DecimalSeparator);
        case TVarType::Double: return FloatText(value.RealValue(), 15, settings.DecimalSeparator);
        case TVarType::Currency: return CurrencyText(value.IntValue(), settings.DecimalSeparator);
        case TVarType::Date: return TryFormatDateTime(u"c", value.RealValue(), settings);
        case TVarType::String: return value.Text();
        case TVarType::Error: return ErrorText(value.IntValue());
        default: return StringToWideStringNoCodePage(std::to_string(value.IntValue()));
    }
}

}  // namespace kalmira
