// Blips to pictures: the stored bytes of a picture written out as a file
// would hold them, or decoded into an engine graphic (PNG by libpng, JPEG
// by libjpeg, device-independent bitmaps by our own reader; metafiles are
// unpacked, not drawn), and the 8 x 8 bitmaps of the cell fill patterns.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UKmrStreams.h"

namespace kalmira {

// A picture: a raster (pixels 0xAARRGGBB, rows top-down) or the bytes of
// a metafile with its size in pixels at 96 per inch.
class TKmrGraphic {
public:
    enum class TKind : std::uint8_t { Empty, Raster, Metafile };

    TKind Kind = TKind::Empty;
    TXlsImgTypes Type = TXlsImgTypes::xli_Unknown;
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
    std::vector<std::uint8_t> Metafile;

    void NewRaster(int width, int height, std::uint32_t fill);
    std::uint32_t Pixel(int x, int y) const { return Pixels[static_cast<std::size_t>(y) * Width + x]; }
    void SetPixel(int x, int y, std::uint32_t argb) { Pixels[static_cast<std::size_t>(y) * Width + x] = argb; }
};

// The placeable header in front of a WMF file (22 bytes, little-endian).
struct TMetafileHeader {
    std::uint32_t Key = 0x9AC6CDD7;
    std::uint16_t Handle = 0;
    std::int16_t Left = 0;
    std::int16_t Top = 0;
    std::int16_t Right = 0;
    std::int16_t Bottom = 0;
    std::uint16_t Inch = 96;
    std::uint32_t Reserved = 0;
    std::uint16_t Checksum = 0;
};

// The XOR of the header's first ten 16-bit words.
std::uint16_t ComputeAldusChecksum(const TMetafileHeader& header);

// Writes the picture as a file holds it (a WMF gets its placeable header
// back, a DIB its file header). Other types: ok = false, nothing written.
// A metafile that does not unpack raises "Wmf file is invalid".
void SaveImgStreamToDiskImage(TKmrStream& stored, TXlsImgTypes type, TKmrStream& out, bool& ok);
// Decodes the stored picture into the graphic; a picture that does not
// decode, or a type outside those five, gives ok = false and leaves the
// graphic as it was.
void SaveImgStreamToGraphic(TKmrStream& stored, TXlsImgTypes type, TKmrGraphic& picture, bool& ok);
// Unpacks a stored metafile into the graphic.
void LoadWmf(TKmrGraphic& picture, TKmrStream& stored, TXlsImgTypes type);

// The 8 x 8 bitmap of a cell fill pattern in colours A and B.
std::unique_ptr<TKmrGraphic> CreateBmpPattern(int pattern, std::uint32_t colorA, std::uint32_t colorB);

// The decoders behind SaveImgStreamToGraphic, on whole image files (a DIB
// with or without its file header). False for anything they cannot read.
bool DecodePng(std::span<const std::uint8_t> bytes, TKmrGraphic& picture);
bool DecodeJpeg(std::span<const std::uint8_t> bytes, TKmrGraphic& picture);
bool DecodeBmp(std::span<const std::uint8_t> bytes, TKmrGraphic& picture);

// Pictures larger than this are refused before anything is allocated.
inline constexpr int MaxPictureSide = 65535;
inline constexpr std::uint64_t MaxPicturePixels = std::uint64_t(1) << 26;
// A stored metafile that claims more is refused.
inline constexpr std::uint32_t MaxMetafileSize = 256u << 20;

}  // namespace kalmira
