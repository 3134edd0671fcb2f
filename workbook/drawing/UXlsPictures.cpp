#include "workbook/drawing/UXlsPictures.h"

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstring>

#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

constexpr std::size_t MetafileHeaderSize = 34;
constexpr std::size_t CompressionPos = 32;
constexpr std::size_t BmpFileHeaderSize = 14;
constexpr std::size_t ZBufferSize = 2048;

std::uint32_t U32At(std::span<const std::uint8_t> b, std::size_t pos) {
    return pos + 4 <= b.size() ? GetLongWord(b, pos) : 0;
}

std::uint16_t U16At(std::span<const std::uint8_t> b, std::size_t pos) {
    return pos + 2 <= b.size() ? GetWord(b, pos) : 0;
}

bool SizeAllowed(std::uint64_t width, std::uint64_t height) {
    return width >= 1 && height >= 1 && width <= MaxPictureSide && height <= MaxPictureSide &&
           width * height <= MaxPicturePixels;
}

std::vector<std::uint8_t> ReadRest(TKmrStream& stream) {
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, 8192> buffer;
    while (const std::size_t n = stream.Read(buffer.data(), buffer.size()))
        bytes.insert(bytes.end(), buffer.data(), buffer.data() + n);
    return bytes;
}

std::array<std::uint8_t, 22> PlaceableBytes(const TMetafileHeader& h) {
    std::array<std::uint8_t, 22> out{};
    SetLongWord(out, 0, h.Key);
    SetWord(out, 4, h.Handle);
    SetWord(out, 6, static_cast<std::uint16_t>(h.Left));
    SetWord(out, 8, static_cast<std::uint16_t>(h.Top));
    SetWord(out, 10, static_cast<std::uint16_t>(h.Right));
    SetWord(out, 12, static_cast<std::uint16_t>(h.Bottom));
    SetWord(out, 14, h.Inch);
    SetLongWord(out, 16, h.Reserved);
    SetWord(out, 20, h.Checksum);
    return out;
}

// Inflates at most limit bytes; a stream that gives more, ends early or is
// corrupt is refused.
void Inflate(std::span<const std::uint8_t> input, std::uint32_t limit, std::vector<std::uint8_t>& out) {
    if (limit > MaxMetafileSize) Raise(ErrInvalidWmf);
    z_stream s{};
    if (inflateInit(&s) != Z_OK) Raise(ErrInvalidWmf);
    s.next_in = const_cast<Bytef*>(input.data());
    s.avail_in = static_cast<uInt>(input.size());
    std::array<std::uint8_t, ZBufferSize> buffer;
    std::size_t produced = 0;
    int result;
    do {
        s.next_out = buffer.data();
        s.avail_out = static_cast<uInt>(buffer.size());
        result = inflate(&s, Z_NO_FLUSH);
        const std::size_t n = buffer.size() - s.avail_out;
        produced += n;
        if ((result != Z_OK && result != Z_STREAM_END) || produced > limit) {
            inflateEnd(&s);
            Raise(ErrInvalidWmf);
        }
        out.insert(out.end(), buffer.data(), buffer.data() + n);
    } while (result != Z_STREAM_END);
    inflateEnd(&s);
}

// The metafile of a stored picture as a file holds it; raises on bad data.
std::vector<std::uint8_t> UnpackMetafile(std::span<const std::uint8_t> stored, TXlsImgTypes type) {
    if (stored.size() < MetafileHeaderSize) Raise(ErrInvalidWmf);
    std::vector<std::uint8_t> out;
    if (type == TXlsImgTypes::xli_Wmf) {
        TMetafileHeader h;
        h.Left = static_cast<std::int16_t>(U32At(stored, 4));
        h.Top = static_cast<std::int16_t>(U32At(stored, 8));
        h.Right = static_cast<std::int16_t>(U32At(stored, 12));
        h.Bottom = static_cast<std::int16_t>(U32At(stored, 16));
        h.Checksum = ComputeAldusChecksum(h);
        const auto bytes = PlaceableBytes(h);
        out.assign(bytes.begin(), bytes.end());
    }
    const auto data = stored.subspan(MetafileHeaderSize);
    if (stored[CompressionPos] != 0) out.insert(out.end(), data.begin(), data.end());
    else Inflate(data, U32At(stored, 0), out);
    return out;
}

int ClampPixels(long double v) { return static_cast<int>(std::llround(std::min<long double>(v < 0 ? -v : v, 1e9L))); }

void SetMetafile(TKmrGraphic& picture, std::vector<std::uint8_t> bytes, TXlsImgTypes type) {
    std::span<const std::uint8_t> b(bytes);
    TKmrGraphic g;
    g.Kind = TKmrGraphic::TKind::Metafile;
    g.Type = type;
    if (type == TXlsImgTypes::xli_Wmf) {
        const auto inch = U16At(b, 14);
        const long double w = static_cast<std::int16_t>(U16At(b, 10)) - static_cast<std::int16_t>(U16At(b, 6));
        const long double h = static_cast<std::int16_t>(U16At(b, 12)) - static_cast<std::int16_t>(U16At(b, 8));
        if (inch != 0) {
            g.Width = ClampPixels(w * 96 / inch);
            g.Height = ClampPixels(h * 96 / inch);
        }
    } else {  // the EMF frame, in 0.01 mm
        const long double w = static_cast<long double>(static_cast<std::int32_t>(U32At(b, 32))) -
                              static_cast<std::int32_t>(U32At(b, 24));
        const long double h = static_cast<long double>(static_cast<std::int32_t>(U32At(b, 36))) -
                              static_cast<std::int32_t>(U32At(b, 28));
        g.Width = ClampPixels(w * 96 / 2540);
        g.Height = ClampPixels(h * 96 / 2540);
    }
    g.Metafile = std::move(bytes);
    picture = std::move(g);
}

// ---------------------------------------------------------------- BMP

struct TDibLayout {
    std::size_t Start = 0;        // of the DIB in the bytes
    std::uint32_t HeaderSize = 0;
    std::int64_t Width = 0;
    std::int64_t Height = 0;      // rows, whatever their order
    bool TopDown = false;
    std::uint16_t Bits = 0;
    std::uint32_t Compression = 0;
    std::array<std::uint32_t, 4> Masks{};  // red, green, blue, alpha
    std::size_t PaletteStart = 0;  // from the DIB's start
    std::size_t PaletteCount = 0;
    std::size_t PixelStart = 0;    // from the DIB's start
};

constexpr std::uint32_t BiRgb = 0;
constexpr std::uint32_t BiBitfields = 3;
constexpr std::uint32_t BiAlphaBitfields = 6;

bool StartsWithBM(std::span<const std::uint8_t> b) { return b.size() >= 2 && b[0] == 'B' && b[1] == 'M'; }

// The layout of a DIB of the kinds we read: 40 to 124-byte headers,
// uncompressed or bit fields. Core headers, RLE, embedded JPEG or PNG and
// anything odd give false.
bool ReadDibLayout(std::span<const std::uint8_t> bytes, TDibLayout& d) {
    d.Start = StartsWithBM(bytes) ? BmpFileHeaderSize : 0;
    if (bytes.size() < d.Start + 40) return false;
    const auto dib = bytes.subspan(d.Start);
    d.HeaderSize = U32At(dib, 0);
    if (d.HeaderSize < 40 || d.HeaderSize > 124 || d.HeaderSize > dib.size()) return false;
    d.Width = static_cast<std::int32_t>(U32At(dib, 4));
    const std::int64_t height = static_cast<std::int32_t>(U32At(dib, 8));
    d.TopDown = height < 0;
    d.Height = d.TopDown ? -height : height;
    d.Bits = U16At(dib, 14);
    d.Compression = U32At(dib, 16);
    const std::uint32_t colorsUsed = U32At(dib, 32);
    if (!SizeAllowed(static_cast<std::uint64_t>(std::max<std::int64_t>(d.Width, 0)), d.Height)) return false;

    std::size_t maskBytes = 0;
    if (d.Compression == BiBitfields || d.Compression == BiAlphaBitfields) {
        if (d.Bits != 16 && d.Bits != 32) return false;
        const int count = d.Compression == BiAlphaBitfields ? 4 : 3;
        const std::size_t at = d.HeaderSize >= 52 ? 40 : d.HeaderSize;
        if (d.HeaderSize < 52) maskBytes = 4 * count;
        for (int i = 0; i < count; ++i) d.Masks[i] = U32At(dib, at + 4 * i);
        if (d.HeaderSize >= 56) d.Masks[3] = U32At(dib, 52);
    } else if (d.Compression == BiRgb) {
        if (d.Bits == 16) d.Masks = {0x7C00, 0x03E0, 0x001F, 0};
        else if (d.Bits == 32) d.Masks = {0xFF0000, 0xFF00, 0xFF, 0};
        else if (d.Bits != 1 && d.Bits != 4 && d.Bits != 8 && d.Bits != 24) return false;
    } else {
        return false;
    }
    d.PaletteStart = d.HeaderSize + maskBytes;
    // Colours in the file: all a depth of 8 or less has unless fewer are
    // said to be used; above that, an optional table.
    const std::uint64_t inFile = d.Bits <= 8 && colorsUsed == 0 ? 1u << d.Bits : colorsUsed;
    if (d.Bits <= 8) d.PaletteCount = std::min<std::uint64_t>(inFile, 1u << d.Bits);
    d.PixelStart = d.PaletteStart + 4 * inFile;
    // A file header says where the pixels start.
    const std::uint32_t offBits = d.Start ? U32At(bytes, 10) : 0;
    if (offBits >= BmpFileHeaderSize + d.PaletteStart) d.PixelStart = offBits - BmpFileHeaderSize;
    return d.PaletteStart + 4 * d.PaletteCount <= dib.size();
}

std::uint8_t MaskValue(std::uint32_t pixel, std::uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const std::uint32_t top = mask >> shift;
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>((pixel & mask) >> shift) * 255 / top);
}

std::uint32_t Argb(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return a << 24 | r << 16 | g << 8 | b;
}

}  // namespace

bool DecodeBmp(std::span<const std::uint8_t> bytes, TKmrGraphic& picture) {
    TDibLayout d;
    if (!ReadDibLayout(bytes, d)) return false;
    const auto dib = bytes.subspan(d.Start);
    const std::uint64_t stride = (static_cast<std::uint64_t>(d.Width) * d.Bits + 31) / 32 * 4;
    if (d.PixelStart > dib.size() || stride * d.Height > dib.size() - d.PixelStart) return false;

    std::vector<std::uint32_t> palette(d.PaletteCount);
    for (std::size_t i = 0; i < d.PaletteCount; ++i) {
        const std::uint8_t* p = dib.data() + d.PaletteStart + 4 * i;
        palette[i] = Argb(255, p[2], p[1], p[0]);
    }
    TKmrGraphic g;
    g.NewRaster(static_cast<int>(d.Width), static_cast<int>(d.Height), 0);
    g.Type = TXlsImgTypes::xli_Bmp;
    for (int y = 0; y < g.Height; ++y) {
        const std::int64_t stored = d.TopDown ? y : g.Height - 1 - y;
        const std::uint8_t* row = dib.data() + d.PixelStart + stride * stored;
        for (int x = 0; x < g.Width; ++x) {
            std::uint32_t argb;
            if (d.Bits <= 8) {
                const int perByte = 8 / d.Bits;
                const int shift = 8 - d.Bits * (x % perByte + 1);
                const std::size_t index = (row[x / perByte] >> shift) & ((1u << d.Bits) - 1);
                argb = index < palette.size() ? palette[index] : Argb(255, 0, 0, 0);
            } else if (d.Bits == 24) {
                const std::uint8_t* p = row + 3 * x;
                argb = Argb(255, p[2], p[1], p[0]);
            } else {
                const std::uint8_t* p = row + (d.Bits / 8) * x;
                const std::uint32_t v = d.Bits == 16 ? p[0] | p[1] << 8 : U32At({p, 4}, 0);
                const std::uint8_t a = d.Masks[3] ? MaskValue(v, d.Masks[3]) : 255;
                argb = Argb(a, MaskValue(v, d.Masks[0]), MaskValue(v, d.Masks[1]), MaskValue(v, d.Masks[2]));
            }
            g.SetPixel(x, y, argb);
        }
    }
    picture = std::move(g);
    return true;
}

// ---------------------------------------------------------------- PNG
//
// libpng reports errors by longjmp: the frames it jumps over hold no
// objects with destructors, and nothing of ours throws through it.

namespace {

struct TPngJob {
    std::span<const std::uint8_t> Input;
    std::size_t Pos = 0;
    png_uint_32 Width = 0;
    png_uint_32 Height = 0;
    std::vector<std::uint8_t> Rgba;
    std::vector<png_bytep> Rows;
};

void PngRead(png_structp png, png_bytep out, png_size_t count) {
    auto* job = static_cast<TPngJob*>(png_get_io_ptr(png));
    if (count > job->Input.size() - job->Pos) png_error(png, "truncated");
    std::memcpy(out, job->Input.data() + job->Pos, count);
    job->Pos += count;
}

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

bool PngAllocate(TPngJob& job) noexcept {
    try {
        job.Rgba.resize(std::size_t(job.Width) * job.Height * 4);
        job.Rows.resize(job.Height);
    } catch (...) {
        return false;
    }
    for (png_uint_32 y = 0; y < job.Height; ++y) job.Rows[y] = job.Rgba.data() + std::size_t(y) * job.Width * 4;
    return true;
}

bool RunPng(png_structp png, png_infop info, TPngJob& job) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, &job, PngRead);
    png_set_user_limits(png, MaxPictureSide, MaxPictureSide);
    png_read_info(png, info);
    job.Width = png_get_image_width(png, info);
    job.Height = png_get_image_height(png, info);
    if (!SizeAllowed(job.Width, job.Height)) return false;
    png_set_expand(png);  // palette and low grey depths to 8 bits, transparency to alpha
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t(job.Width) * 4) return false;
    if (!PngAllocate(job)) return false;
    png_read_image(png, job.Rows.data());
    return true;
}

struct TPngReader {
    png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    png_infop Info = Png ? png_create_info_struct(Png) : nullptr;
    ~TPngReader() { png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr); }
};

}  // namespace

bool DecodePng(std::span<const std::uint8_t> bytes, TKmrGraphic& picture) {
    TPngReader reader;
    if (!reader.Info) return false;
    TPngJob job;
    job.Input = bytes;
    if (!RunPng(reader.Png, reader.Info, job)) return false;
    TKmrGraphic g;
    g.NewRaster(static_cast<int>(job.Width), static_cast<int>(job.Height), 0);
    g.Type = TXlsImgTypes::xli_Png;
    for (std::size_t i = 0; i < g.Pixels.size(); ++i) {
        const std::uint8_t* p = job.Rgba.data() + 4 * i;
        g.Pixels[i] = Argb(p[3], p[0], p[1], p[2]);
    }
    picture = std::move(g);
    return true;
}

// ---------------------------------------------------------------- JPEG
//
// libjpeg's own error handler ends the process: ours jumps back instead,
// under the same rules as for libpng.

namespace {

struct TJpegError {
    jpeg_error_mgr Mgr;
    std::jmp_buf Jump;
};

void JpegErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<TJpegError*>(info->err)->Jump, 1); }
void JpegMessage(j_common_ptr, int) {}
void JpegOutput(j_common_ptr) {}

struct TJpegJob {
    std::span<const std::uint8_t> Input;
    int Width = 0;
    int Height = 0;
    int Components = 0;
    bool Cmyk = false;
    bool Inverted = false;  // Adobe's CMYK, stored inverted
    std::vector<std::uint8_t> Samples;
};

bool JpegAllocate(TJpegJob& job) noexcept {
    try {
        job.Samples.resize(std::size_t(job.Width) * job.Height * job.Components);
    } catch (...) {
        return false;
    }
    return true;
}

bool RunJpeg(jpeg_decompress_struct& cinfo, TJpegError& err, TJpegJob& job) {
    if (setjmp(err.Jump)) return false;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, job.Input.data(), static_cast<unsigned long>(job.Input.size()));
    jpeg_read_header(&cinfo, TRUE);
    if (!SizeAllowed(cinfo.image_width, cinfo.image_height)) return false;
    job.Cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    job.Inverted = job.Cmyk && cinfo.saw_Adobe_marker;
    cinfo.out_color_space = job.Cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    job.Width = static_cast<int>(cinfo.output_width);
    job.Height = static_cast<int>(cinfo.output_height);
    job.Components = cinfo.output_components;
    if (job.Components != (job.Cmyk ? 4 : 3) || !JpegAllocate(job)) return false;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = job.Samples.data() + std::size_t(cinfo.output_scanline) * job.Width * job.Components;
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
    }
    return true;
}

struct TJpegReader {
    jpeg_decompress_struct Info{};
    TJpegError Err{};
    TJpegReader() {
        Info.err = jpeg_std_error(&Err.Mgr);
        Err.Mgr.error_exit = JpegErrorExit;
        Err.Mgr.emit_message = JpegMessage;
        Err.Mgr.output_message = JpegOutput;
    }
    ~TJpegReader() { jpeg_destroy_decompress(&Info); }
};

std::uint32_t CmykToArgb(const std::uint8_t* p, bool inverted) {
    auto ink = [&](int i) { return std::uint32_t(inverted ? p[i] : 255 - p[i]); };
    const std::uint32_t k = ink(3);
    return Argb(255, ink(0) * k / 255, ink(1) * k / 255, ink(2) * k / 255);
}

}  // namespace

bool DecodeJpeg(std::span<const std::uint8_t> bytes, TKmrGraphic& picture) {
    if (bytes.empty()) return false;
    TJpegReader reader;
    TJpegJob job;
    job.Input = bytes;
    if (!RunJpeg(reader.Info, reader.Err, job)) return false;
    TKmrGraphic g;
    g.NewRaster(job.Width, job.Height, 0);
    g.Type = TXlsImgTypes::xli_Jpeg;
    for (std::size_t i = 0; i < g.Pixels.size(); ++i) {
        const std::uint8_t* p = job.Samples.data() + i * job.Components;
        g.Pixels[i] = job.Cmyk ? CmykToArgb(p, job.Inverted) : Argb(255, p[0], p[1], p[2]);
    }
    picture = std::move(g);
    return true;
}

// ---------------------------------------------------------------- the rest

void TKmrGraphic::NewRaster(int width, int height, std::uint32_t fill) {
    Kind = TKind::Raster;
    Width = width;
    Height = height;
    Pixels.assign(static_cast<std::size_t>(width) * height, fill);
    Metafile.clear();
}

std::uint16_t ComputeAldusChecksum(const TMetafileHeader& header) {
    const auto bytes = PlaceableBytes(header);
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < 20; i += 2) sum ^= GetWord(bytes, i);
    return sum;
}

void SaveImgStreamToDiskImage(TKmrStream& stored, TXlsImgTypes type, TKmrStream& out, bool& ok) {
    ok = false;
    switch (type) {
        case TXlsImgTypes::xli_Emf:
        case TXlsImgTypes::xli_Wmf: {
            const auto file = UnpackMetafile(ReadRest(stored), type);
            out.Write(file.data(), file.size());
            break;
        }
        case TXlsImgTypes::xli_Bmp: {
            auto file = ReadRest(stored);
            TDibLayout d;
            // The store keeps the DIB behind a bare "BM": the file header
            // gets its size and pixel offset.
            if (file.size() >= BmpFileHeaderSize && StartsWithBM(file) && U32At(file, 2) == 0 &&
                ReadDibLayout(file, d)) {
                SetLongWord(file, 2, static_cast<std::uint32_t>(file.size()));
                SetLongWord(file, 10, static_cast<std::uint32_t>(BmpFileHeaderSize + d.PixelStart));
            }
            out.Write(file.data(), file.size());
            break;
        }
        case TXlsImgTypes::xli_Jpeg:
        case TXlsImgTypes::xli_Png: {
            const auto file = ReadRest(stored);
            out.Write(file.data(), file.size());
            break;
        }
        default:
            return;
    }
    ok = true;
}

void LoadWmf(TKmrGraphic& picture, TKmrStream& stored, TXlsImgTypes type) {
    TKmrMemoryStream unpacked(UnpackMetafile(ReadRest(stored), type));
    unpacked.Seek(0);
    SetMetafile(picture, ReadRest(unpacked), type);
}

void SaveImgStreamToGraphic(TKmrStream& stored, TXlsImgTypes type, TKmrGraphic& picture, bool& ok) {
    ok = false;
    switch (type) {
        case TXlsImgTypes::xli_Emf:
        case TXlsImgTypes::xli_Wmf:
            LoadWmf(picture, stored, type);
            ok = true;
            return;
        case TXlsImgTypes::xli_Jpeg: ok = DecodeJpeg(ReadRest(stored), picture); return;
        case TXlsImgTypes::xli_Png: ok = DecodePng(ReadRest(stored), picture); return;
        case TXlsImgTypes::xli_Bmp: ok = DecodeBmp(ReadRest(stored), picture); return;
        default: return;
    }
}

namespace {

// Per pattern 1-18, the A pixels of the 4 x 4 tile: one row a nibble, bit x
// for column x. The tile repeats over the bitmap.
constexpr std::array<std::array<std::uint8_t, 4>, 19> PatternTiles = {{
    {0, 0, 0, 0},                  // 0: unused
    {0, 0, 0, 0},                  // 1: B
    {0xF, 0xF, 0xF, 0xF},          // 2: A
    {0x5, 0xA, 0x5, 0xA},          // 3: checkerboard
    {0xE, 0xB, 0xE, 0xB},          // 4
    {0x1, 0x4, 0x1, 0x4},          // 5
    {0xF, 0xF, 0x0, 0x0},          // 6: rows 0-1
    {0x3, 0x3, 0x3, 0x3},          // 7: columns 0-1
    {0x3, 0x6, 0xC, 0x9},          // 8
    {0xC, 0x6, 0x3, 0x9},          // 9
    {0x3, 0x3, 0xC, 0xC},          // 10
    {0x3, 0xF, 0xC, 0xF},          // 11
    {0xF, 0x0, 0x0, 0x0},          // 12: row 0
    {0x1, 0x1, 0x1, 0x1},          // 13: column 0
    {0x1, 0x2, 0x4, 0x8},          // 14
    {0x8, 0x4, 0x2, 0x1},          // 15
    {0xF, 0x1, 0x1, 0x1},          // 16: B square (1,1)-(3,3)
    {0x5, 0x2, 0x5, 0x8},          // 17
    {0x1, 0x0, 0x4, 0x0},          // 18
}};

}  // namespace

std::unique_ptr<TKmrGraphic> CreateBmpPattern(int pattern, std::uint32_t colorA, std::uint32_t colorB) {
    auto g = std::make_unique<TKmrGraphic>();
    g->NewRaster(8, 8, colorB);
    g->Type = TXlsImgTypes::xli_Bmp;
    if (pattern == 19) {
        for (auto [x, y] : {std::pair{0, 0}, {4, 2}, {0, 4}, {4, 6}}) g->SetPixel(x, y, colorA);
    } else if (pattern >= 1 && pattern < 19) {
        const auto& tile = PatternTiles[pattern];
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                if (tile[y % 4] >> (x % 4) & 1) g->SetPixel(x, y, colorA);
    }
    return g;
}

}  // namespace kalmira
