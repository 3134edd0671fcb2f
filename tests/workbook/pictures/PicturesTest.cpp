// Images to stored blips and back, the fill patterns, placement by pixels
// and palette matching, through the drawing units' public routines.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "workbook/drawing/UEscherGraphToBSE.h"
#include "workbook/drawing/UKmrUtils.h"
#include "workbook/drawing/UXlsMD5.h"
#include "workbook/drawing/UXlsPictures.h"

namespace kalmira {
namespace {

using Bytes = std::vector<std::uint8_t>;
using T = TXlsImgTypes;

std::string Hex(std::span<const std::uint8_t> b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (auto v : b) s += {digits[v >> 4], digits[v & 15]};
    return s;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Stores the image as a blip and gives its stored bytes back.
Bytes Stored(const Bytes& image, T type) {
    auto bse = ConvertGraphicToBSE(image, type, nullptr, nullptr);
    T back;
    Bytes stored = GetBlipStoredBytes(*bse, back);
    EXPECT_EQ(back, type);
    return stored;
}

Bytes DiskImage(const Bytes& stored, T type, bool& ok) {
    TKmrMemoryStream in(stored), out;
    SaveImgStreamToDiskImage(in, type, out, ok);
    return out.Bytes();
}

TEST(Md5, PublishedSuite) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {std::string(8, '0').replace(0, 8, "12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    TMd5Stream md5;
    for (const auto& [text, digest] : cases) {
        // In uneven pieces: the block buffer must carry bytes over.
        for (std::size_t i = 0; i < text.size(); i += 7) md5.Write(text.data() + i, std::min<std::size_t>(7, text.size() - i));
        EXPECT_EQ(md5.Size(), static_cast<std::int64_t>(text.size()));
        EXPECT_EQ(Hex(md5.GetDigest()), digest) << text;  // and starts over
    }
}

TEST(BlipStore, BitmapFieldsPerType) {
    const Bytes abc = {'a', 'b', 'c'};
    const Bytes md5 = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0, 0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    const struct { T Type; std::uint16_t Pre; Bytes Blip; } cases[] = {
        {T::xli_Jpeg, 0x52, {0xA0, 0x46, 0x1D, 0xF0}},
        {T::xli_Png, 0x62, {0x00, 0x6E, 0x1E, 0xF0}},
        {T::xli_Bmp, 0x72, {0x80, 0x7A, 0x1F, 0xF0}},
    };
    for (const auto& c : cases) {
        auto bse = ConvertGraphicToBSE(abc, c.Type, nullptr, nullptr);
        EXPECT_EQ(bse->Pre, c.Pre);
        EXPECT_EQ(bse->Id, 0xF007);
        EXPECT_EQ(bse->Size, 64u);
        const Bytes want = Cat({{static_cast<std::uint8_t>(c.Pre >> 4), 4}, md5, {0xFF, 0, 28, 0, 0, 0},
                                Bytes(12, 0), c.Blip, {20, 0, 0, 0}, md5, {0xFF}, abc});
        EXPECT_EQ(bse->Data, want);
    }
    // A whole .bmp is stored without its file header; the disk image gets
    // one with its size and pixel offset.
    const Bytes dib = Cat({{40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0}, Bytes(24, 0), {1, 2, 3, 0}});
    const Bytes file = Cat({{'B', 'M'}, Bytes(12, 0xEE), dib});
    EXPECT_EQ(ConvertGraphicToBSE(file, T::xli_Bmp, nullptr, nullptr)->Data,
              ConvertGraphicToBSE(dib, T::xli_Bmp, nullptr, nullptr)->Data);
    bool ok;
    EXPECT_EQ(DiskImage(Stored(file, T::xli_Bmp), T::xli_Bmp, ok),
              Cat({{'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0}, dib}));
    EXPECT_TRUE(ok);
}

const Bytes WmfBody = {1, 0, 9, 0, 0, 3, 0x30, 0, 0, 0, 1, 0, 9, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0};
// Placeable: bounds 0, 0, 1440, 720 at 1440 per inch.
const Bytes Wmf1440 = Cat({{0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0, 0, 0, 0, 0xA0, 5, 0xD0, 2, 0xA0, 5, 0, 0, 0, 0, 0xC1, 0x55},
                           WmfBody});

TEST(BlipStore, Metafiles) {
    auto wmf = ConvertGraphicToBSE(Wmf1440, T::xli_Wmf, nullptr, nullptr);
    EXPECT_EQ(wmf->Pre, 0x32);
    const Bytes header(wmf->Data.begin() + 60, wmf->Data.begin() + 94);
    EXPECT_EQ(Hex(header).substr(0, 56), "2e000000" "00000000" "00000000" "a0050000" "d0020000" "18f0ff00" "18f0ff00");
    EXPECT_EQ(Hex(header).substr(64), "00fe");  // the compressed size varies with zlib
    EXPECT_EQ(Hex({wmf->Data.data() + 36, 4}), "60211bf0");

    const Bytes emf = {1, 0, 0, 0, 0x6C, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0,
                       0xF6, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xE8, 3, 0, 0, 0xD0, 7, 0, 0, 0x20, 0x45, 0x4D, 0x46};
    auto bse = ConvertGraphicToBSE(emf, T::xli_Emf, nullptr, nullptr);
    EXPECT_EQ(Hex({bse->Data.data() + 60, 28}),
              "2c000000" "01000000" "02000000" "03000000" "04000000" "508c0500" "80fc0a00");

    // Unpacked: the WMF with a new placeable header at 96 per inch, the EMF as it was.
    bool ok;
    EXPECT_EQ(DiskImage(Stored(Wmf1440, T::xli_Wmf), T::xli_Wmf, ok),
              Cat({{0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0, 0, 0, 0, 0xA0, 5, 0xD0, 2, 0x60, 0, 0, 0, 0, 0, 0x01, 0x50}, WmfBody}));
    EXPECT_EQ(DiskImage(Stored(emf, T::xli_Emf), T::xli_Emf, ok), emf);
    TMetafileHeader h;
    h.Right = 1440;
    h.Bottom = 720;
    EXPECT_EQ(ComputeAldusChecksum(h), 0x5001);
    // Uncompressed data (0xFE at the compression byte) is copied.
    Bytes plain = Cat({Bytes(32, 0), {0xFE, 0xFE}, emf});
    EXPECT_EQ(DiskImage(plain, T::xli_Emf, ok), emf);
    TKmrGraphic g;
    TKmrMemoryStream in(Stored(emf, T::xli_Emf));
    SaveImgStreamToGraphic(in, T::xli_Emf, g, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(g.Kind, TKmrGraphic::TKind::Metafile);
    EXPECT_EQ(g.Metafile, emf);
    EXPECT_EQ(std::pair(g.Width, g.Height), std::pair(38, 76));  // frame 10.1 x 20 mm
}

TEST(BlipStore, ShortMetafilesReadAsZeros) {
    const Bytes emf3 = {1, 2, 3}, wmf10 = {0xD7, 0xCD, 0xC6, 0x9A, 1, 2, 3, 4, 5, 6};
    auto emf = ConvertGraphicToBSE(emf3, T::xli_Emf, nullptr, nullptr);
    EXPECT_EQ(Hex({emf->Data.data() + 60, 28}), "03000000" + std::string(48, '0'));
    auto wmf = ConvertGraphicToBSE(wmf10, T::xli_Wmf, nullptr, nullptr);
    EXPECT_EQ(Hex({wmf->Data.data() + 60, 20}), "0a000000" "03040000" "05060000" "00000000" "00000000");
    bool ok;
    EXPECT_EQ(DiskImage(Stored(emf3, T::xli_Emf), T::xli_Emf, ok), emf3);
    EXPECT_EQ(DiskImage(Stored(wmf10, T::xli_Wmf), T::xli_Wmf, ok).size(), 22u);
}

TEST(BlipStore, BadMetafilesAreRefusedWhole) {
    Bytes good = Stored(Cat({Bytes(4000, 7), WmfBody}), T::xli_Emf);
    auto claim = [&](std::uint32_t n) {
        Bytes b = good;
        SetLongWord(b, 0, n);
        return b;
    };
    Bytes truncated(good.begin(), good.end() - 10), corrupt = good;
    corrupt[40] ^= 0xFF;
    for (const Bytes& stored : {claim(0xFFFFFFFF), claim(MaxMetafileSize + 1), claim(4000), truncated, corrupt,
                                Bytes(33, 0)}) {
        TKmrMemoryStream in(stored), out;
        bool ok = true;
        try {
            SaveImgStreamToDiskImage(in, T::xli_Emf, out, ok);
            ADD_FAILURE() << "unpacked";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Wmf file is invalid");
        }
        EXPECT_EQ(out.Size(), 0);
    }
}

Bytes ReadFile(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

TEST(Decoding, AgreesWithPil) {
    const std::string dir = ORVELO_BINARY_DIR "/tests/workbook/pictures/samples/";
    std::ifstream manifest(dir + "manifest.txt");
    const std::map<std::string, T> types = {{"png", T::xli_Png}, {"bmp", T::xli_Bmp}, {"jpg", T::xli_Jpeg}};
    std::string name, ext;
    int tolerance, count = 0;
    while (manifest >> name >> ext >> tolerance) {
        ++count;
        std::istringstream want(std::string(std::istreambuf_iterator<char>(std::ifstream(dir + name + ".rgba", std::ios::binary).rdbuf()), {}));
        int w, h;
        want >> w >> h;
        want.get();
        TKmrGraphic g;
        bool ok = false;
        TKmrMemoryStream in(Stored(ReadFile(dir + name + "." + ext), types.at(ext)));
        SaveImgStreamToGraphic(in, types.at(ext), g, ok);
        ASSERT_TRUE(ok) << name;
        ASSERT_EQ(std::pair(g.Width, g.Height), std::pair(w, h)) << name;
        int worst = 0;
        for (std::uint32_t argb : g.Pixels) {
            char rgba[4];
            want.read(rgba, 4);
            for (int i = 0; i < 4; ++i)
                worst = std::max(worst, std::abs(int(argb >> (i == 3 ? 24 : 16 - 8 * i) & 0xFF) - int(std::uint8_t(rgba[i]))));
        }
        EXPECT_LE(worst, tolerance) << name;
    }
    EXPECT_EQ(count, 13);
}

TEST(Decoding, RefusesWhatItCannotRead) {
    auto dib = [](std::int32_t w, std::int32_t h, std::uint16_t bits, std::uint32_t compression, std::size_t data) {
        Bytes b = Cat({{40, 0, 0, 0}, Bytes(36, 0), Bytes(data, 0)});
        SetLongWord(b, 4, static_cast<std::uint32_t>(w));
        SetLongWord(b, 8, static_cast<std::uint32_t>(h));
        SetWord(b, 14, bits);
        SetLongWord(b, 16, compression);
        return b;
    };
    const Bytes pngHuge = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                           0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0, 8, 2, 0, 0, 0, 0x4C, 0x59, 0xA6, 0x2E};
    const std::pair<Bytes, T> cases[] = {
        {dib(100000, 100000, 24, 0, 64), T::xli_Bmp},  // too large
        {dib(65535, -65535, 32, 0, 64), T::xli_Bmp},   // too many pixels
        {dib(4, 4, 24, 0, 47), T::xli_Bmp},            // rows past the data
        {dib(4, 4, 8, 1, 4096), T::xli_Bmp},           // RLE
        {dib(4, 4, 8, 4, 4096), T::xli_Bmp},           // embedded JPEG
        {Cat({{12, 0, 0, 0, 1, 0, 1, 0, 1, 0, 24, 0}, Bytes(4, 0)}), T::xli_Bmp},  // core header
        {pngHuge, T::xli_Png},
        {Bytes(pngHuge.begin(), pngHuge.begin() + 20), T::xli_Png},
        {{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'}, T::xli_Jpeg},
        {{1, 2, 3}, T::xli_Unknown},
    };
    for (const auto& [bytes, type] : cases) {
        TKmrGraphic g;
        g.NewRaster(1, 1, 0x12345678);
        TKmrMemoryStream in(bytes);
        bool ok = true;
        SaveImgStreamToGraphic(in, type, g, ok);
        EXPECT_FALSE(ok) << Hex(bytes).substr(0, 40);
        EXPECT_EQ(g.Pixels, std::vector<std::uint32_t>{0x12345678});
    }
}

TEST(Patterns, ColourACounts) {
    const std::pair<int, int> cases[] = {{0, 0}, {1, 0}, {2, 64}, {3, 32}, {4, 48}, {16, 28}, {18, 8}, {19, 4}, {20, 0}};
    for (auto [pattern, count] : cases) {
        auto g = CreateBmpPattern(pattern, 0xFFAA0000, 0xFF00BB00);
        EXPECT_EQ(std::count(g->Pixels.begin(), g->Pixels.end(), 0xFFAA0000u), count) << pattern;
    }
    auto p16 = CreateBmpPattern(16, 1, 2);
    EXPECT_EQ(p16->Pixel(5, 5), 2u);
    EXPECT_EQ(p16->Pixel(4, 7), 1u);
}

// A sheet of 70-pixel columns and 17-pixel rows, but for those given.
class TTestBook : public TKmrUtilsBook {
public:
    std::map<int, int> Widths, Heights;
    int HiddenFrom = 1 << 30;
    std::uint32_t Palette[57] = {};

    TTestBook() {
        for (int i = 1; i <= 56; ++i) Palette[i] = 0x040404u * i;
    }
    std::int32_t GetColumnWidthHiddenIsZero(std::int32_t c) const override {
        return c >= HiddenFrom ? 0 : Widths.count(c) ? Widths.at(c) : 2560;
    }
    bool IsEmptyRow(std::int32_t r) const override { return !Heights.count(r); }
    std::int32_t GetRowHeight(std::int32_t r) const override { return Heights.at(r); }
    std::int32_t GetDefaultRowHeight() const override { return 255; }
    std::uint32_t GetColorPalette(std::int32_t i) const override { return Palette[i]; }
    void SetColorPalette(std::int32_t i, std::uint32_t c) override { Palette[i] = c; }
};

TEST(Placement, CellsOfAPicture) {
    const struct {
        const char* What;
        std::map<int, int> Widths, Heights;
        int HiddenFrom;
        int Row, Col, Dy, Dx;
        long double Height, Width;
        TImageProperties Want;  // Col1 Dx1 Row1 Dy1 Col2 Dx2 Row2 Dy2
    } cases[] = {
        {"empty picture", {}, {}, 1 << 30, 1, 1, 0, 0, 0, 0, {1, 0, 1, 0, 1, 0, 1, 0}},
        {"offset past a column", {}, {}, 1 << 30, 1, 1, 0, 100, 0, 0, {2, 439, 1, 0, 2, 439, 1, 0}},
        {"exactly one cell", {}, {}, 1 << 30, 1, 1, 0, 0, 17, 70, {1, 0, 1, 0, 1, 1024, 1, 255}},
        {"past the row end", {}, {}, 1 << 30, 1, 1, 0, 0, 17.6L, 70.4L, {1, 0, 1, 0, 2, 6, 2, 9}},
        {"halves to even", {}, {{1, 150}, {2, 1530}}, 1 << 30, 1, 1, 1, 0, 0, 0, {1, 0, 1, 26, 1, 0, 1, 26}},
        {"halves to even, down", {}, {{2, 1530}}, 1 << 30, 2, 1, 1, 0, 0, 0, {1, 0, 2, 2, 1, 0, 2, 2}},
        {"hidden column", {{2, 0}}, {}, 1 << 30, 1, 2, 0, 0, 0, 10, {2, 0, 1, 0, 3, 146, 1, 0}},
        {"hidden to the end", {}, {}, 2, 1, 1, 0, 100, 0, 10, {1, 0, 1, 0, 256, 0, 1, 0}},
        {"row 0 measured", {}, {}, 1 << 30, 0, 1, 20, 0, 0, 0, {1, 0, 1, 45, 1, 0, 1, 45}},
        {"past row 65536", {}, {}, 1 << 30, 65530, 1, 0, 0, 170, 0, {1, 0, 65527, 0, 1, 0, 65536, 255}},
        {"past column 256", {}, {}, 1 << 30, 1, 250, 0, 0, 0, 700, {247, 0, 1, 0, 256, 1024, 1, 0}},
    };
    for (const auto& c : cases) {
        TTestBook book;
        book.Widths = c.Widths;
        book.Heights = c.Heights;
        book.HiddenFrom = c.HiddenFrom;
        TImageProperties p;
        p.FileName = u"kept?";
        CalcImgCells(&book, c.Row, c.Col, c.Dy, c.Dx, c.Height, c.Width, p);
        EXPECT_EQ(p, c.Want) << c.What;

        // Measured back (the anchor holds what it is given).
        const TClientAnchor anchor{0, std::uint16_t(p.Col1), std::uint16_t(p.Dx1), std::uint16_t(p.Row1), std::uint16_t(p.Dy1),
                                   std::uint16_t(p.Col2), std::uint16_t(p.Dx2), std::uint16_t(p.Row2), std::uint16_t(p.Dy2)};
        if (c.HiddenFrom == 2 || p.Row2 == 65536 || p.Col2 == 256) continue;
        long double x, y, w, h;
        CalcImgDimentions(&book, anchor, x, y, w, h);
        EXPECT_NEAR(double(w), double(c.Width), 8) << c.What;
        EXPECT_NEAR(double(h), double(c.Height), 1) << c.What;
    }
    EXPECT_THROW(CalcImgCells(nullptr, 1, 1, 0, 0, 1, 1, *std::make_unique<TImageProperties>()), Exception);
}

TEST(Placement, DimensionsOfAnAnchor) {
    TTestBook book;
    const TClientAnchor anchor{0, 1, 512, 1, 0, 3, 256, 2, 51};  // half of 1, 2, a quarter of 3
    long double x, y, w, h;
    CalcImgDimentions(&book, anchor, x, y, w, h);
    EXPECT_EQ(std::tuple(x, y, w, h), std::tuple(35.0L, 0.0L, 122.5L, 20.4L));
    CalcImgDimentions(&book, anchor, w, h);
    EXPECT_EQ(std::pair(w, h), std::pair(122.0L, 20.0L));
    std::int32_t iw, ih;
    CalcImgDimentions(&book, anchor, iw, ih);
    EXPECT_EQ(std::pair(iw, ih), std::pair(122, 20));
}

TEST(Palette, MatchNearestColor) {
    const struct {
        const char* What;
        std::uint32_t Color;
        std::size_t Used;  // entries in the used array
        std::vector<int> Taken;
        int Want;
        bool Claimed;
    } cases[] = {
        {"exact, no array", 0x0C0C0C, 0, {}, 3, false},
        {"exact, marked", 0x0C0C0C, 57, {}, 3, false},
        {"entry 56 never examined", 0xE0E0E0, 0, {}, 55, false},
        {"nearest, no array", 0x0D0C0C, 0, {}, 3, false},
        {"tie keeps the lower", 0x060606, 0, {}, 1, false},
        {"nearest free claimed", 0x0D0C0C, 57, {3}, 4, true},
        {"none free", 0x0D0C0C, 57, {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27,
                                    28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50,
                                    51, 52, 53, 54, 55}, 3, false},
        {"short array", 0x303131, 6, {}, 5, true},
        {"array of 2", 0x0D0C0C, 2, {}, 3, false},
        {"system colour", 0x80000012, 57, {}, 3, true},  // button text: black
    };
    for (const auto& c : cases) {
        TTestBook book;
        const TTestBook before;
        bool used[57] = {};
        for (int t : c.Taken) used[t] = true;
        EXPECT_EQ(MatchNearestColor(&book, c.Color, std::span<bool>(used, c.Used)), c.Want) << c.What;
        EXPECT_EQ(std::equal(book.Palette, book.Palette + 57, before.Palette), !c.Claimed) << c.What;
        if (c.Claimed) EXPECT_EQ(book.Palette[c.Want], ResolveSystemColor(c.Color)) << c.What;
        if (c.Used > std::size_t(c.Want)) EXPECT_TRUE(used[c.Want]) << c.What;
        for (std::size_t i = c.Used; i < 57; ++i) EXPECT_FALSE(used[i]) << c.What;
    }
}

}  // namespace
}  // namespace kalmira
