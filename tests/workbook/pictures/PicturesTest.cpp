// Images to stored blips and back, the fill patterns, placement by pixels
// and palette matching, through the drawing units' public routines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/drawing/UEscherGraphToBSE.h"
#include "workbook/drawing/UKmrUtils.h"
#include "workbook/drawing/UXlsMD5.h"
#include "workbook/drawing/UXlsPictures.h"

namespace kalmira {
namespace {

using ole2test::ReadFile;
using Bytes = std::vector<std::uint8_t>;
using T = TXlsImgTypes;

std::string Hex(std::span<const std::uint8_t> b) {
    std::string s;
    for (auto v : b) s += {"0123456789abcdef"[v >> 4], "0123456789abcdef"[v & 15]};
    return s;
}

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Stores the image as a blip and gives its stored bytes back.
Bytes Stored(const Bytes& image, T type) {
    T back;
    Bytes stored = GetBlipStoredBytes(*ConvertGraphicToBSE(image, type, nullptr, nullptr), back);
    EXPECT_EQ(back, type);
    return stored;
}

std::string DiskImage(const Bytes& stored, T type) {
    TKmrMemoryStream in(stored), out;
    bool ok = false;
    SaveImgStreamToDiskImage(in, type, out, ok);
    EXPECT_TRUE(ok);
    return Hex(out.Bytes());
}

TEST(Md5, PublishedSuite) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    TMd5Stream md5;  // one stream: each digest starts it over
    for (const auto& [text, digest] : cases) {
        // In uneven pieces: the block buffer must carry bytes over.
        for (std::size_t i = 0; i < text.size(); i += 7) md5.Write(text.data() + i, std::min<std::size_t>(7, text.size() - i));
        EXPECT_EQ(Hex(md5.GetDigest()), digest) << text;
    }
}

TEST(BlipStore, BitmapFieldsPerType) {
    const std::string md5 = "900150983cd24fb0d6963f7d28e17f72";  // of "abc"
    const std::tuple<T, std::uint16_t, std::string> cases[] = {
        {T::xli_Jpeg, 0x52, "a0461df0"}, {T::xli_Png, 0x62, "006e1ef0"}, {T::xli_Bmp, 0x72, "807a1ff0"}};
    for (const auto& [type, pre, blip] : cases) {
        auto bse = ConvertGraphicToBSE(FromHex("616263"), type, nullptr, nullptr);
        EXPECT_EQ(std::tuple(bse->Pre, bse->Id, bse->Size), std::tuple(pre, 0xF007, 64u));
        EXPECT_EQ(Hex(bse->Data), Hex(Bytes{std::uint8_t(pre >> 4)}) + "04" + md5 + "ff001c000000" + std::string(24, '0') +
                                      blip + "14000000" + md5 + "ff616263");
    }
}

const std::string WmfBody = "010009000003300000000100090000000000030000000000";
const std::string Emf = "010000006c000000" "01000000020000000300000004000000" "f6ffffff00000000e8030000d0070000" "20454d46";

TEST(BlipStore, Metafiles) {
    // The metafile header up to the compressed size; the file written back.
    const struct { T Type; std::string Image, Header, Disk; } cases[] = {
        // A placeable WMF at 1440 per inch, bounds 0, 0, 1440, 720: 96 per inch when written back.
        {T::xli_Wmf, "d7cdc69a" "0000" "00000000a005d002" "a005" "00000000" "c155" + WmfBody,
         "2e000000" "00000000" "00000000" "a0050000" "d0020000" "18f0ff00" "18f0ff00",
         "d7cdc69a" "0000" "00000000a005d002" "6000" "00000000" "0150" + WmfBody},
        // Frame -10, 0, 1000, 2000 (0.01 mm).
        {T::xli_Emf, Emf, "2c000000" "01000000" "02000000" "03000000" "04000000" "508c0500" "80fc0a00", Emf},
        // Short files: what is missing reads as 0.
        {T::xli_Emf, "010203", "03000000" + std::string(48, '0'), "010203"},
        {T::xli_Wmf, "d7cdc69a010203040506", "0a000000" "03040000" "05060000" "00000000" "00000000" "18f0ff00" "18f0ff00",
         "d7cdc69a00000304050600000000600000000000" "7755"},
    };
    for (const auto& c : cases) {
        auto bse = ConvertGraphicToBSE(FromHex(c.Image), c.Type, nullptr, nullptr);
        EXPECT_EQ(bse->Pre, c.Type == T::xli_Wmf ? 0x32 : 0x22);
        const std::string header = Hex({bse->Data.data() + 60, 34});
        EXPECT_EQ(header.substr(0, 56), c.Header) << c.Image;
        EXPECT_EQ(header.substr(64), "00fe");  // the compressed size varies with zlib
        EXPECT_EQ(DiskImage(Stored(FromHex(c.Image), c.Type), c.Type), c.Disk);
    }
    // Uncompressed data (0xFE at the compression byte) is copied; a
    // metafile graphic keeps the bytes and its size at 96 per inch.
    EXPECT_EQ(DiskImage(FromHex(std::string(64, '0') + "fefe" + Emf), T::xli_Emf), Emf);
    TKmrGraphic g;
    TKmrMemoryStream in(Stored(FromHex(Emf), T::xli_Emf));
    bool ok = false;
    SaveImgStreamToGraphic(in, T::xli_Emf, g, ok);
    EXPECT_EQ(std::tuple(ok, g.Kind, Hex(g.Metafile), g.Width, g.Height),
              std::tuple(true, TKmrGraphic::TKind::Metafile, Emf, 38, 76));
}

TEST(BlipStore, BadMetafilesAreRefusedWhole) {
    const Bytes good = Stored(FromHex(std::string(8000, '7') + WmfBody), T::xli_Emf);
    auto claim = [&](std::uint32_t n) { Bytes b = good; SetLongWord(b, 0, n); return b; };
    Bytes truncated(good.begin(), good.end() - 10), corrupt = good;
    corrupt[40] ^= 0xFF;
    for (const Bytes& stored : {claim(0xFFFFFFFF), claim(MaxMetafileSize + 1), claim(4000), truncated, corrupt,
                                Bytes(33, 0)}) {
        TKmrMemoryStream in(stored), out;
        bool ok = true;
        EXPECT_THAT([&] { SaveImgStreamToDiskImage(in, T::xli_Emf, out, ok); },
                    testing::ThrowsMessage<Exception>(testing::StrEq("Wmf file is invalid")));
        EXPECT_EQ(out.Size(), 0);
    }
}

TEST(Decoding, AgreesWithPil) {
    const std::string dir = ORVELO_BINARY_DIR "/tests/workbook/pictures/samples/";
    std::ifstream manifest(dir + "manifest.txt");
    const std::map<std::string, T> types = {{"png", T::xli_Png}, {"bmp", T::xli_Bmp}, {"jpg", T::xli_Jpeg}};
    std::string name, ext;
    int tolerance, count = 0;
    while (manifest >> name >> ext >> tolerance) {
        ++count;
        const Bytes want = ReadFile(dir + name + ".rgba");  // "W H\n", then RGBA
        const auto pixels = std::find(want.begin(), want.end(), '\n') + 1;
        TKmrGraphic g;
        bool ok = false;
        TKmrMemoryStream in(Stored(ReadFile(dir + name + "." + ext), types.at(ext)));
        SaveImgStreamToGraphic(in, types.at(ext), g, ok);
        ASSERT_EQ(std::to_string(g.Width) + " " + std::to_string(g.Height) + "\n", std::string(want.begin(), pixels)) << name;
        ASSERT_EQ(g.Pixels.size() * 4, std::size_t(want.end() - pixels));
        int worst = 0;
        for (std::size_t i = 0; i < 4 * g.Pixels.size(); ++i)
            worst = std::max(worst, std::abs(int(g.Pixels[i / 4] >> (i % 4 == 3 ? 24 : 16 - 8 * (i % 4)) & 0xFF) - pixels[i]));
        EXPECT_LE(worst, tolerance) << name;
    }
    EXPECT_EQ(count, 13);
}

TEST(Decoding, RefusesWhatItCannotRead) {
    auto dib = [](std::uint32_t w, std::uint32_t h, std::uint16_t bits, std::uint32_t compression, std::size_t data) {
        Bytes b = FromHex("28" + std::string(78 + 2 * data, '0'));  // 40-byte header
        SetLongWord(b, 4, w), SetLongWord(b, 8, h), SetWord(b, 14, bits), SetLongWord(b, 16, compression);
        return b;
    };
    const std::pair<Bytes, T> cases[] = {
        {dib(100000, 100000, 24, 0, 64), T::xli_Bmp},      // too large
        {dib(65535, -65535, 32, 0, 64), T::xli_Bmp},       // too many pixels
        {dib(4, 4, 24, 0, 47), T::xli_Bmp},                // rows past the data
        {dib(4, 4, 8, 1, 4096), T::xli_Bmp},               // RLE
        {FromHex("0c000000010001000100180000000000"), T::xli_Bmp},  // core header
        {FromHex("89504e470d0a1a0a0000000d49484452000186a0000186a00802000000" "27309c9f"), T::xli_Png},  // too large
        {FromHex("ffd8ffe000104a464946"), T::xli_Jpeg},  // truncated
        {FromHex("010203"), T::xli_Unknown},
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
        EXPECT_EQ(std::ranges::count(CreateBmpPattern(pattern, 0xFFAA0000, 0xFF00BB00)->Pixels, 0xFFAA0000u), count) << pattern;
    }
}

// A sheet of 70-pixel columns and 17-pixel rows but for those given; palette
// entry i is grey 4 x i.
struct TTestBook : TKmrUtilsBook {
    std::map<int, int> Widths, Heights;
    int HiddenFrom = 1 << 30;
    std::uint32_t Palette[57];

    TTestBook() { for (int i = 0; i <= 56; ++i) Palette[i] = 0x040404u * i; }
    std::int32_t GetColumnWidthHiddenIsZero(std::int32_t c) const override { return c >= HiddenFrom ? 0 : Widths.count(c) ? Widths.at(c) : 2560; }
    bool IsEmptyRow(std::int32_t r) const override { return !Heights.count(r); }
    std::int32_t GetRowHeight(std::int32_t r) const override { return Heights.at(r); }
    std::int32_t GetDefaultRowHeight() const override { return 255; }
    std::uint32_t GetColorPalette(std::int32_t i) const override { return Palette[i]; }
    void SetColorPalette(std::int32_t i, std::uint32_t c) override { Palette[i] = c; }
};

TEST(Placement, CellsOfAPicture) {
    // Want: Col1 Dx1 Row1 Dy1 Col2 Dx2 Row2 Dy2.
    const struct { const char* What; std::map<int, int> Widths, Heights; int HiddenFrom, Row, Col, Dy, Dx;
                   long double Height, Width; std::array<std::int32_t, 8> Want; } cases[] = {
        {"empty picture", {}, {}, 1 << 30, 1, 1, 0, 0, 0, 0, {1, 0, 1, 0, 1, 0, 1, 0}},
        {"past the row end", {}, {}, 1 << 30, 1, 1, 0, 0, 17.6L, 70.4L, {1, 0, 1, 0, 2, 6, 2, 9}},
        {"halves to even", {}, {{1, 150}, {2, 1530}}, 1 << 30, 1, 1, 1, 0, 0, 0, {1, 0, 1, 26, 1, 0, 1, 26}},
        {"halves to even, down", {}, {{2, 1530}}, 1 << 30, 2, 1, 1, 0, 0, 0, {1, 0, 2, 2, 1, 0, 2, 2}},
        {"hidden to the end", {}, {}, 2, 1, 1, 0, 100, 0, 10, {1, 0, 1, 0, 256, 0, 1, 0}},
        {"row 0 measured", {}, {}, 1 << 30, 0, 1, 20, 0, 0, 0, {1, 0, 1, 45, 1, 0, 1, 45}},
        {"past row 65536", {}, {}, 1 << 30, 65530, 1, 0, 0, 170, 0, {1, 0, 65527, 0, 1, 0, 65536, 255}},
        {"past column 256", {}, {}, 1 << 30, 1, 250, 0, 0, 0, 700, {247, 0, 1, 0, 256, 1024, 1, 0}},
    };
    for (const auto& c : cases) {
        TTestBook book;
        book.Widths = c.Widths, book.Heights = c.Heights, book.HiddenFrom = c.HiddenFrom;
        TImageProperties p{9, 9, 9, 9, 9, 9, 9, 9, u""};  // cleared first
        CalcImgCells(&book, c.Row, c.Col, c.Dy, c.Dx, c.Height, c.Width, p);
        EXPECT_EQ((std::array{p.Col1, p.Dx1, p.Row1, p.Dy1, p.Col2, p.Dx2, p.Row2, p.Dy2}), c.Want) << c.What;
    }
    EXPECT_THROW(CalcImgCells(nullptr, 1, 1, 0, 0, 1, 1, *std::make_unique<TImageProperties>()), Exception);
}

TEST(Palette, MatchNearestColor) {
    // Used: entries in the used array; those from TakenFrom to TakenTo are marked used before.
    const struct { const char* What; std::uint32_t Color; std::size_t Used; int TakenFrom, TakenTo, Want; bool Claimed; }
        cases[] = {
        {"exact, no array", 0x0C0C0C, 0, 0, -1, 3, false},
        {"exact, marked", 0x0C0C0C, 57, 0, -1, 3, false},
        {"entry 56 never examined", 0xE0E0E0, 0, 0, -1, 55, false},
        {"nearest, no array", 0x0D0C0C, 0, 0, -1, 3, false},
        {"tie keeps the lower", 0x060606, 0, 0, -1, 1, false},
        {"none free", 0x0D0C0C, 57, 3, 55, 3, false},
        {"short array", 0x303131, 6, 0, -1, 5, true},
        {"array of 2", 0x0D0C0C, 2, 0, -1, 3, false},
        {"system colour", 0x80000012, 57, 0, -1, 3, true},  // button text: black
    };
    for (const auto& c : cases) {
        TTestBook book;
        const TTestBook before;
        bool used[57] = {};
        std::fill(used + c.TakenFrom, used + c.TakenTo + 1, true);
        EXPECT_EQ(MatchNearestColor(&book, c.Color, std::span<bool>(used, c.Used)), c.Want) << c.What;
        EXPECT_EQ(std::equal(book.Palette, book.Palette + 57, before.Palette), !c.Claimed) << c.What;
        if (c.Claimed) { EXPECT_EQ(book.Palette[c.Want], ResolveSystemColor(c.Color)) << c.What; }
        if (c.Used > std::size_t(c.Want)) { EXPECT_TRUE(used[c.Want]) << c.What; }
        for (std::size_t i = c.Used; i < 57; ++i) EXPECT_FALSE(used[i]) << c.What;
    }
}

}  // namespace
}  // namespace kalmira
