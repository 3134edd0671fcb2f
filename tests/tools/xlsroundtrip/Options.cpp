#include "tests/tools/xlsroundtrip/Options.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>

namespace xlsroundtrip {

using namespace kalmira;

const TOption* ReadOption(std::initializer_list<TOptionTable> tables, char** argv, int argc, int& i, TArgs& args) {
    for (TOptionTable table : tables)
        for (const TOption& option : table) {
            const auto count = static_cast<int>(std::strlen(option.Kinds));
            if (std::strcmp(argv[i], option.Name) != 0 || i + count >= argc) continue;
            args.Text.assign(argv + i + 1, argv + i + 1 + count);
            for (std::size_t k = 0; k < args.Text.size(); ++k)
                if (option.Kinds[k] != 't') args.N(k);
            if (option.Check) option.Check(args);
            i += count + 1;
            return &option;
        }
    return nullptr;
}

void RunOption(const TOption& option, TKalmiraImport& xls, const TArgs& args) {
    if (option.Kinds[0] == 's') File(xls).SetActiveSheet(args.N(0));
    if (option.Kinds[0] == 'S') xls.SetActiveSheet(args.N(0));
    if (option.Run) option.Run(xls, args);
}

TXLSFile& File(TKalmiraImport& xls) { return dynamic_cast<TXLSFile&>(*xls.GetWorkbook()); }

TFormatSettings CzechSettings() {
    TFormatSettings s = InvariantFormatSettings();
    s.CurrencyString = u"Kč";
    s.CurrencyFormat = 3;
    s.NegCurrFormat = 8;
    s.CurrencyDecimals = 2;
    s.DateSeparator = u'.';
    s.ListSeparator = u';';
    s.ShortDateFormat = u"d.m.yyyy";
    s.LongDateFormat = u"d. mmmm yyyy";
    s.ShortTimeFormat = u"h:nn";
    s.LongTimeFormat = u"h:nn:ss";
    s.TimeAMString = u"dop.";
    s.TimePMString = u"odp.";
    s.LongMonthNames = {u"leden", u"únor",  u"březen", u"duben",    u"květen",   u"červen",
                        u"červenec", u"srpen", u"září", u"říjen", u"listopad", u"prosinec"};
    s.ShortMonthNames = {u"led", u"úno", u"bře", u"dub", u"kvě", u"čvn", u"čvc", u"srp", u"zář", u"říj", u"lis", u"pro"};
    s.LongDayNames = {u"neděle", u"pondělí", u"úterý", u"středa", u"čtvrtek", u"pátek", u"sobota"};
    s.ShortDayNames = {u"ne", u"po", u"út", u"st", u"čt", u"pá", u"so"};
    s.ThousandSeparator = u'\u00A0';
    s.DecimalSeparator = u',';
    return s;
}

std::string Escaped(const std::u16string& text) {
    std::string out;
    for (char c : Utf16ToUtf8(text)) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

namespace {

// Bytes handed straight to the C library's standard output.
class TStdoutBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        return std::fputc(c, stdout) == EOF ? traits_type::eof() : c;
    }
    std::streamsize xsputn(const char* bytes, std::streamsize count) override {
        return static_cast<std::streamsize>(std::fwrite(bytes, 1, static_cast<std::size_t>(count), stdout));
    }
    int sync() override { return std::fflush(stdout) == 0 ? 0 : -1; }
};

struct TStdout {
    TStdoutBuffer Buffer;
    std::ostream Stream{&Buffer};
};

std::unique_ptr<TStdout>& Stdout() {
    static std::unique_ptr<TStdout> out;
    return out;
}

}  // namespace

std::ostream& Out() {
    auto& out = Stdout();
    if (!out) out = std::make_unique<TStdout>();
    return out->Stream;
}

int FlushOut() {
    const bool streamed = !Stdout() || Stdout()->Stream.flush();
    return streamed && std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

// What the standard output holds goes first, so that where both go to one
// place a listing cut short stands before the reason.
void Err(std::string_view line) {
    std::fflush(stdout);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
}

}  // namespace xlsroundtrip
