#include "tests/tools/xlsroundtrip/Options.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <iterator>
#include <string>

#include "workbook/api/XLSAdapter.h"
#include "workbook/drawing/UXlsMD5.h"
#include "workbook/drawing/UXlsPictures.h"

namespace xlsroundtrip {

using namespace kalmira;

namespace {

// The listing's name of each type, also its file extension (and ".jpg").
const std::pair<const char*, TXlsImgTypes> Kinds[] = {{"png", TXlsImgTypes::xli_Png}, {"jpeg", TXlsImgTypes::xli_Jpeg},
                                                      {"bmp", TXlsImgTypes::xli_Bmp}, {"wmf", TXlsImgTypes::xli_Wmf},
                                                      {"emf", TXlsImgTypes::xli_Emf}};

TXlsImgTypes TypeOf(const std::string& name) {
    std::string ext = std::filesystem::path(name).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const auto& [kind, type] : Kinds)
        if (ext == std::string(".") + kind || (ext == ".jpg" && type == TXlsImgTypes::xli_Jpeg)) return type;
    throw Exception("Unknown picture type: " + name);
}

std::vector<std::uint8_t> ReadAll(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) throw Exception("Can't read " + name);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw Exception("Can't write " + name);
}

TKmrAnchorType AnchorType(int value) {
    if (value < 0 || value > 2) throw std::invalid_argument("anchor");
    return static_cast<TKmrAnchorType>(value);
}

std::uint32_t RgbToColor(const std::string& text) {
    if (text.size() != 6) throw std::invalid_argument("colour");
    const auto rgb = static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
    return (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
}

void ClaimColor(TKalmiraImport& x, const TArgs& a) {
    TUsedPaletteColors used = x.GetWorkbook()->GetUsedPaletteColors();
    Out() << x.NearestColorIndex(RgbToColor(a.Text[0]), used) << std::endl;
}

const TOption Options[] = {
    {"--picture", "Snnnnt",
     [](TKalmiraImport& x, const TArgs& a) {
         x.AddPicture(ReadAll(a.Text[5]), TypeOf(a.Text[5]), a.N(1), a.N(2), 0, 0, a.N(3), a.N(4),
                      TKmrAnchorType::at_MoveAndResize);
     }},
    {"--replace", "Snt",
     [](TKalmiraImport& x, const TArgs& a) { x.AssignPicture(a.N(1) - 1, ReadAll(a.Text[2]), TypeOf(a.Text[2])); }},
    {"--place", "Snnnnnnnn",
     [](TKalmiraImport& x, const TArgs& a) {
         x.AssignPictureProperties(a.N(1) - 1, a.N(2), a.N(3), a.N(4), a.N(5), a.N(6), a.N(7), AnchorType(a.N(8)));
     },
     [](const TArgs& a) { AnchorType(a.N(8)); }},
    {"--comment-box", "Snnt", [](TKalmiraImport& x, const TArgs& a) { x.SetCellComment(a.N(1), a.N(2), a.U(3)); }},
    {"--claim-color", "t", ClaimColor, [](const TArgs& a) { RgbToColor(a.Text[0]); }},
};

}  // namespace

const TOptionTable PictureOptions = Options;

namespace {

const char* KindName(TXlsImgTypes type) {
    for (const auto& [kind, known] : Kinds)
        if (known == type) return kind;
    return "unknown";
}

struct TStoredPicture {
    std::vector<std::uint8_t> Bytes;
    TXlsImgTypes Type = TXlsImgTypes::xli_Unknown;
    TClientAnchor Anchor;
};

TStoredPicture StoredPicture(TXLSFile& file, int index) {
    TStoredPicture p;
    TKmrMemoryStream out;
    file.GetPicture(0, index, out, p.Type, p.Anchor);
    p.Bytes = out.Bytes();
    return p;
}

bool DiskImage(const TStoredPicture& p, std::vector<std::uint8_t>& bytes) {
    TKmrMemoryStream stored(p.Bytes), out;
    bool ok = false;
    SaveImgStreamToDiskImage(stored, p.Type, out, ok);
    bytes = out.Bytes();
    return ok;
}

bool Decoded(const TStoredPicture& p, TKmrGraphic& graphic) {
    TKmrMemoryStream stored(p.Bytes);
    bool ok = false;
    SaveImgStreamToGraphic(stored, p.Type, graphic, ok);
    return ok;
}

std::string Hex(const TMd5Digest& digest) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : digest) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

void ListPictures(TXLSFile& file) {
    for (int s = 1; s <= file.SheetCount(); ++s) {
        file.SetActiveSheet(s);
        for (int n = 0; n < file.GetPicturesCount(0); ++n) {
            const TStoredPicture p = StoredPicture(file, n);
            std::vector<std::uint8_t> disk;
            const bool saved = DiskImage(p, disk);
            TKmrGraphic graphic;
            const bool decoded = Decoded(p, graphic);
            const TClientAnchor& a = p.Anchor;
            Out() << s << '\t' << n + 1 << '\t' << KindName(p.Type) << '\t'
                      << (saved ? std::to_string(disk.size()) + '\t' + Hex(Md5Of(disk.data(), disk.size())) : "-\t-")
                      << '\t' << a.Flag << '\t' << a.Col1 << ' ' << a.Dx1 << ' ' << a.Row1 << ' ' << a.Dy1 << ' '
                      << a.Col2 << ' ' << a.Dx2 << ' ' << a.Row2 << ' ' << a.Dy2 << '\t'
                      << (decoded ? std::to_string(graphic.Width) + 'x' + std::to_string(graphic.Height) : "-")
                      << '\n';
        }
    }
}

int WritePicture(TXLSFile& file, const std::string& mode, int sheet, int n, const std::string& outName) {
    file.SetActiveSheet(sheet);
    const TStoredPicture p = StoredPicture(file, n - 1);
    std::vector<std::uint8_t> bytes;
    if (mode == "--picture-file") {
        if (!DiskImage(p, bytes)) throw Exception("Picture " + std::to_string(n) + " has no disk image");
        WriteAll(outName, bytes);
        return 0;
    }
    TKmrGraphic graphic;
    if (!Decoded(p, graphic) || graphic.Kind != TKmrGraphic::TKind::Raster) {
        Err("Picture " + std::to_string(n) + " is not a raster image");
        return 1;
    }
    const std::string head = "P6\n" + std::to_string(graphic.Width) + ' ' + std::to_string(graphic.Height) + "\n255\n";
    bytes.assign(head.begin(), head.end());
    for (std::uint32_t argb : graphic.Pixels)
        bytes.insert(bytes.end(), {static_cast<std::uint8_t>(argb >> 16), static_cast<std::uint8_t>(argb >> 8),
                                   static_cast<std::uint8_t>(argb)});
    WriteAll(outName, bytes);
    return 0;
}

}  // namespace

int RunPictureMode(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool list = mode == "--pictures" && argc == 3;
    const bool write = (mode == "--picture-file" || mode == "--picture-pixels") && argc == 6;
    if (!list && !write) return -1;
    try {
        TXLSFile file(nullptr, false);
        file.Connect();
        file.OpenFile(std::filesystem::absolute(argv[2]).string());
        if (list) {
            ListPictures(file);
            return FlushOut();
        }
        return WritePicture(file, mode, std::stoi(argv[3]), std::stoi(argv[4]), argv[5]);
    } catch (const std::exception& e) {
        Err(e.what());
        return 1;
    }
}

}  // namespace xlsroundtrip
