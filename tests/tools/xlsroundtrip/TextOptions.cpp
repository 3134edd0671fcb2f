#include "tests/tools/xlsroundtrip/Options.h"

#include <cstring>
#include <filesystem>
#include <ostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/UKmrNumberFormat.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UKmrMessages.h"

namespace xlsroundtrip {

namespace {

using namespace kalmira;

struct TTextOptions {
    std::string Mode, In, Out;
    char Delimiter = ',';
    int Sheet = 0;
    TTextEncoding Encoding = TTextEncoding::Utf8;
    std::vector<XLSColumnImportTypes> Types;
};

// False on anything the mode does not take.
bool Parse(int argc, char** argv, TTextOptions& o) {
    const bool shown = o.Mode == "--shown";
    const int positional = shown ? 1 : 3;
    if (argc < 2 + positional) return false;
    o.In = argv[2];
    if (!shown) {
        o.Out = argv[3];
        const std::string text = argv[4];
        o.Delimiter = text == "tab" ? '\t' : text == "," || text == ";" ? text[0] : 0;
        if (!o.Delimiter) return false;
    }
    TFormatSettings settings = InvariantFormatSettings();
    for (int i = 2 + positional; i < argc; i += 2) {
        if (i + 1 >= argc) return false;
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--locale" && (value == "en-US" || value == "cs-CZ")) {
            settings = value == "cs-CZ" ? CzechSettings() : InvariantFormatSettings();
        } else if (option == "--encoding" && !shown && (value == "utf-8" || value == "cp1250")) {
            o.Encoding = value == "cp1250" ? TTextEncoding::Cp1250 : TTextEncoding::Utf8;
        } else if (option == "--sheet" && o.Mode == "--save-text") {
            o.Sheet = std::stoi(value);
        } else if (option == "--types" && o.Mode == "--open-text") {
            for (char c : value) {  // g, t, s: the types in their order
                const std::size_t type = std::string_view("gts").find(c);
                if (type == std::string_view::npos) return false;
                o.Types.push_back(static_cast<XLSColumnImportTypes>(type));
            }
        } else {
            return false;
        }
    }
    SetFormatSettingsSource(std::make_shared<TFixedSettings>(settings));
    SetProcessFormatSettings(settings);
    return true;
}

int PrintShown(const TTextOptions& o) {
    TXLSFile file(nullptr);
    file.Connect();
    file.OpenFile(o.In);
    TWorkbook& book = file.GetTWorkbook();
    TWorkbookGlobals& globals = book.Globals();
    std::string out;
    for (int s = 0; s < book.SheetCount(); ++s) {
        if (!book.IsWorksheet(s)) continue;
        const TCellList& list = book.WorkSheets(s).Cells().CellList();
        for (std::size_t row = 0; row < list.Count(); ++row)
            for (std::size_t c = 0; list.GetItems(row) && c < list.GetItems(row)->Count(); ++c) {
                const auto& cell = static_cast<const TCellRecord&>(*list.GetItems(row)->GetItems(c));
                const TVariant value = cell.GetValue();
                if (value.IsEmpty()) continue;
                const std::size_t xf = cell.GetXF();
                const std::u16string format =
                    xf < globals.XF().Count() ? globals.Formats().GetFormat(globals.XF().GetItems(xf)->FormatIndex())
                                              : u"";
                constexpr std::uint32_t None = 0xFFFFFFFF;
                std::uint32_t colour = None;
                const std::u16string text = XlsFormatValue1904(value, format, globals.GetIs1904(), colour);
                char rgb[8] = "-";
                if (colour != None)
                    std::snprintf(rgb, sizeof rgb, "%02X%02X%02X", colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF);
                out += std::to_string(s + 1) + '\t' + std::to_string(row + 1) + '\t' + std::to_string(cell.GetColumn() + 1) +
                       '\t' + Escaped(text) + '\t' + rgb + '\n';
            }
    }
    Out() << out;
    return FlushOut();
}

// Through the facade, linked to an adapter that may replace OUT.
int SaveText(const TTextOptions& o) {
    TXLSAdapter adapter;
    TKalmiraImport xls;
    xls.SetAdapter(&adapter);
    xls.OpenFile(std::filesystem::absolute(o.In).string());
    if (o.Sheet > 0) xls.SetActiveSheet(o.Sheet);
    xls.SaveAsText(o.Out, o.Delimiter, o.Encoding);
    return 0;
}

int OpenText(const TTextOptions& o) {
    TXLSAdapter adapter;
    adapter.SetAllowOverwritingFiles(true);
    TKalmiraImport xls;
    xls.SetAdapter(&adapter);
    xls.OpenText(std::filesystem::absolute(o.In).string(), o.Delimiter, o.Types, o.Encoding);
    xls.Save(o.Out);
    return 0;
}

}  // namespace

int RunTextMode(int argc, char** argv) {
    TTextOptions o;
    o.Mode = argc > 1 ? argv[1] : "";
    if (o.Mode != "--shown" && o.Mode != "--save-text" && o.Mode != "--open-text") return -1;
    try {
        if (!Parse(argc, argv, o)) {
            Err("usage: xlsroundtrip --shown IN [--locale en-US|cs-CZ]\n"
                "       xlsroundtrip --save-text IN OUT ,|;|tab [--sheet N] [--encoding utf-8|cp1250] [--locale L]\n"
                "       xlsroundtrip --open-text IN OUT ,|;|tab [--types LETTERS] [--encoding E] [--locale L]");
            return 2;
        }
        return o.Mode == "--shown" ? PrintShown(o) : o.Mode == "--save-text" ? SaveText(o) : OpenText(o);
    } catch (const std::exception& e) {
        Err(e.what());
        return 1;
    }
}

}  // namespace xlsroundtrip
