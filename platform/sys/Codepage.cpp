#include "platform/sys/Codepage.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace plat {

namespace {

// One conversion descriptor per call keeps this free of shared state, so
// any thread may convert at any time.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Skips one input character at each failure: a whole UTF-8 sequence
    // when the input is UTF-8, else one byte.
    std::string Run(std::string_view input, bool utf8Input) {
        std::string out;
        char buf[256];
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        while (inLeft > 0) {
            char* o = buf;
            std::size_t oLeft = sizeof buf;
            std::size_t r = iconv(cd_, &in, &inLeft, &o, &oLeft);
            out.append(buf, static_cast<std::size_t>(o - buf));
            if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
            out += '?';
            std::size_t skip = utf8Input ? SequenceLength(static_cast<unsigned char>(*in)) : 1;
            if (skip > inLeft) skip = inLeft;
            in += skip;
            inLeft -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    static std::size_t SequenceLength(unsigned char lead) {
        if (lead >= 0xF0 && lead < 0xF8) return 4;
        if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
        if (lead >= 0xC0) return 2;
        return 1;
    }
    iconv_t cd_;
};

}  // namespace

std::string Utf8ToCp1250(std::string_view text) {
    return Converter("CP1250", "UTF-8").Run(text, true);
}

std::string Cp1250ToUtf8(std::string_view bytes) {
    return Converter("UTF-8", "CP1250").Run(bytes, false);
}

int CompareCp1250(std::string_view utf8a, std::string_view utf8b) {
    std::string a = Utf8ToCp1250(utf8a), b = Utf8ToCp1250(utf8b);
    // std::string compares chars through char_traits, which orders them as
    // unsigned bytes.
    int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace plat
