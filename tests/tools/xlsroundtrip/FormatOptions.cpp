#include "tests/tools/xlsroundtrip/Options.h"

#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "workbook/storage/UKmrMessages.h"

namespace xlsroundtrip {

using namespace kalmira;

namespace {

void SetStyle(TKmrFont& font, TKmrFontStyle style, const std::string& value) {
    std::stoi(value) ? font.Style.Include(style) : font.Style.Exclude(style);
}

using TSetter = void (*)(TKmrFormat&, const std::string&);
const std::map<std::string, TSetter> Setters = {
    {"font", [](TKmrFormat& f, const std::string& v) { f.Font.Name = Utf8ToUtf16(v); }},
    {"size", [](TKmrFormat& f, const std::string& v) { f.Font.Size20 = static_cast<std::uint16_t>(std::stoi(v)); }},
    {"bold", [](TKmrFormat& f, const std::string& v) { SetStyle(f.Font, TKmrFontStyle::fs_Bold, v); }},
    {"italic", [](TKmrFormat& f, const std::string& v) { SetStyle(f.Font, TKmrFontStyle::fs_Italic, v); }},
    {"underline", [](TKmrFormat& f, const std::string& v) { f.Font.Underline = static_cast<TKmrUnderline>(std::stoi(v)); }},
    {"color", [](TKmrFormat& f, const std::string& v) { f.Font.ColorIndex = std::stoi(v); }},
    {"numfmt", [](TKmrFormat& f, const std::string& v) { f.Format = Utf8ToUtf16(v); }},
    {"halign", [](TKmrFormat& f, const std::string& v) { f.HAlignment = static_cast<THKmrAlignment>(std::stoi(v)); }},
    {"valign", [](TKmrFormat& f, const std::string& v) { f.VAlignment = static_cast<TVKmrAlignment>(std::stoi(v)); }},
    {"wrap", [](TKmrFormat& f, const std::string& v) { f.WrapText = std::stoi(v) != 0; }},
    {"rotation", [](TKmrFormat& f, const std::string& v) { f.Rotation = static_cast<std::uint8_t>(std::stoi(v)); }},
    {"pattern", [](TKmrFormat& f, const std::string& v) { f.FillPattern.Pattern = std::stoi(v); }},
    {"fg", [](TKmrFormat& f, const std::string& v) { f.FillPattern.FgColorIndex = std::stoi(v); }},
    {"bg", [](TKmrFormat& f, const std::string& v) { f.FillPattern.BgColorIndex = std::stoi(v); }},
    {"border", [](TKmrFormat& f, const std::string& v) {
         const TKmrOneBorder side{static_cast<TKmrBorderStyle>(std::stoi(v)), std::stoi(v.substr(v.find('/') + 1))};
         f.Borders.Left = f.Borders.Right = f.Borders.Top = f.Borders.Bottom = side;
     }},
};

std::string Border(const TKmrOneBorder& b) {
    return std::to_string(static_cast<int>(b.Style)) + "/" + std::to_string(b.ColorIndex);
}

// KEY=VALUE: the setter of KEY, the value the part after the first "=".
std::pair<TSetter, std::string> Setting(const std::string& text) {
    const auto equals = text.find('=');
    const auto setter = Setters.find(text.substr(0, equals));
    if (equals == std::string::npos || setter == Setters.end()) throw std::invalid_argument("key");
    return {setter->second, text.substr(equals + 1)};
}

void SetFormat(TXLSFile& file, const TArgs& a) {
    const auto [set, value] = Setting(a.Text[3]);
    TKmrFormat format = file.GetFormatList(file.GetCellFormat(a.N(1), a.N(2)));
    set(format, value);
    file.SetCellFormat(a.N(1), a.N(2), file.AddFormat(format));
}

const TOption Options[] = {
    {"--locale", "t", nullptr,
     [](const TArgs& a) {
         if (a.Text[0] != "cs") throw std::invalid_argument("locale");
         TFormatSettings czech = CzechSettings();
         czech.ShortDateFormat = u"d.M.yyyy";  // the number format typed dates get
         SetFormatSettingsSource(std::make_shared<TFixedSettings>(czech));
     }},
    {"--string", "snnt", [](TKalmiraImport& x, const TArgs& a) { File(x).SetCellString(a.N(1), a.N(2), a.U(3), u"", u""); }},
    {"--format", "snnt", [](TKalmiraImport& x, const TArgs& a) { SetFormat(File(x), a); },
     [](const TArgs& a) {
         TKmrFormat tried;
         const auto [set, value] = Setting(a.Text[3]);
         set(tried, value);  // a value the key cannot take is refused here
     }},
};

}  // namespace

const TOptionTable FormatOptions = Options;

void PrintFormats(TXLSFile& file, std::ostream& out) {
    for (int i = 0; i < file.FormatListCount(); ++i) {
        const TKmrFormat f = file.GetFormatList(i);
        const TKmrFont& font = f.Font;
        out << i << '\t' << Utf16ToUtf8(font.Name) << '\t' << font.Size20 << '\t'
            << font.Style.Has(TKmrFontStyle::fs_Bold) << '\t' << font.Style.Has(TKmrFontStyle::fs_Italic) << '\t'
            << static_cast<int>(font.Underline) << '\t' << font.ColorIndex << '\t' << Utf16ToUtf8(f.Format) << '\t'
            << static_cast<int>(f.HAlignment) << '\t' << static_cast<int>(f.VAlignment) << '\t' << f.WrapText << '\t'
            << static_cast<int>(f.Rotation) << '\t' << f.FillPattern.Pattern << '\t' << f.FillPattern.FgColorIndex
            << '\t' << f.FillPattern.BgColorIndex << '\t' << Border(f.Borders.Left) << '\t' << Border(f.Borders.Right)
            << '\t' << Border(f.Borders.Top) << '\t' << Border(f.Borders.Bottom) << '\n';
    }
    out << "used\t";
    const TUsedPaletteColors used = file.GetUsedPaletteColors();
    const char* blank = "";
    for (std::size_t c = 0; c < used.size(); ++c)
        if (used[c]) out << std::exchange(blank, " ") << c;
    out << '\n';
}

}  // namespace xlsroundtrip
