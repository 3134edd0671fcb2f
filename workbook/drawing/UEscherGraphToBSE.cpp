#include "workbook/drawing/UEscherGraphToBSE.h"

#include <zlib.h>

#include <algorithm>
#include <array>

#include "workbook/drawing/UXlsMD5.h"
#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

struct TBlipKind {
    TXlsImgTypes Type;
    std::uint8_t BlipType;       // in the BSE header, for Windows
    std::uint16_t RecordId;      // of the blip record
    std::uint16_t Instance;      // of the blip record
    bool Bitmap;                 // stored as is after a tag byte
};

constexpr std::array<TBlipKind, 6> BlipKinds = {{
    {TXlsImgTypes::xli_Emf, 2, 0xF01A, 0x03D4, false},
    {TXlsImgTypes::xli_Wmf, 3, 0xF01B, 0x0216, false},
    {TXlsImgTypes::xli_Jpeg, 5, 0xF01D, 0x046A, true},
    {TXlsImgTypes::xli_Png, 6, 0xF01E, 0x06E0, true},
    {TXlsImgTypes::xli_Bmp, 7, 0xF01F, 0x07A8, true},
    {TXlsImgTypes::xli_Unknown, 1, 0xF019, 0, false},
}};

const TBlipKind& KindOf(TXlsImgTypes type) {
    for (const auto& kind : BlipKinds)
        if (kind.Type == type) return kind;
    return BlipKinds.back();
}

constexpr std::uint8_t PlaceableKey[4] = {0xD7, 0xCD, 0xC6, 0x9A};
constexpr std::size_t PlaceableSize = 22;
constexpr std::size_t BmpFileHeaderSize = 14;
constexpr std::uint32_t WmfEmuSize = 0x00FFF018;
constexpr std::size_t ZBufferSize = 2048;

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    PutU16(out, static_cast<std::uint16_t>(v));
    PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

// A metafile's field; bytes past a short file read as 0.
std::uint32_t FieldAt(std::span<const std::uint8_t> bytes, std::size_t pos, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | (pos + i < bytes.size() ? bytes[pos + i] : 0);
    return v;
}

// (frame end - frame start) x 360, the frame in 0.01 mm: EMU, kept in range.
std::uint32_t EmuOf(std::span<const std::uint8_t> emf, std::size_t startPos) {
    const auto start = static_cast<std::int32_t>(FieldAt(emf, startPos, 4));
    const auto end = static_cast<std::int32_t>(FieldAt(emf, startPos + 8, 4));
    const std::int64_t emu = (static_cast<std::int64_t>(end) - start) * 360;
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(emu, 0, 0xFFFFFFFF));
}

void Deflate(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out) {
    z_stream s{};
    if (deflateInit(&s, 9) != Z_OK) Raise(ErrInvalidWmf);
    std::array<std::uint8_t, ZBufferSize> buffer;
    s.next_in = const_cast<Bytef*>(input.data());
    s.avail_in = static_cast<uInt>(input.size());
    int flush = Z_NO_FLUSH;
    for (;;) {
        if (s.avail_in == 0) flush = Z_FINISH;
        s.next_out = buffer.data();
        s.avail_out = static_cast<uInt>(buffer.size());
        const int result = deflate(&s, flush);
        out.insert(out.end(), buffer.data(), buffer.data() + (buffer.size() - s.avail_out));
        if (result == Z_STREAM_END) break;
        if (result != Z_OK && result != Z_BUF_ERROR) {
            deflateEnd(&s);
            Raise(ErrInvalidWmf);
        }
    }
    deflateEnd(&s);
}

// The 34-byte metafile header and the compressed metafile.
void AppendMetafileBody(std::span<const std::uint8_t> image, TXlsImgTypes type, std::vector<std::uint8_t>& body) {
    PutU32(body, static_cast<std::uint32_t>(image.size()));
    std::span<const std::uint8_t> packed = image;
    if (type == TXlsImgTypes::xli_Wmf) {
        for (std::size_t pos = 6; pos <= 12; pos += 2) PutU32(body, FieldAt(image, pos, 2));
        PutU32(body, WmfEmuSize);
        PutU32(body, WmfEmuSize);
        if (image.size() > 4 && std::equal(PlaceableKey, PlaceableKey + 4, image.begin()))
            packed = image.subspan(std::min(PlaceableSize, image.size()));
    } else {
        for (std::size_t pos = 8; pos < 24; pos += 4) PutU32(body, FieldAt(image, pos, 4));
        PutU32(body, EmuOf(image, 24));
        PutU32(body, EmuOf(image, 28));
    }
    const std::size_t sizePos = body.size();
    PutU32(body, 0);
    body.push_back(0);     // deflate
    body.push_back(0xFE);  // no filter
    Deflate(packed, body);
    SetLongWord(body, sizePos, static_cast<std::uint32_t>(body.size() - sizePos - 6));
}

}  // namespace

std::unique_ptr<TEscherBSERecord> ConvertGraphicToBSE(std::span<const std::uint8_t> image, TXlsImgTypes type,
                                                      TEscherDwgGroupCache* group, TEscherDwgCache* dwg) {
    if (type == TXlsImgTypes::xli_Bmp && image.size() >= 2 && image[0] == 'B' && image[1] == 'M')
        image = image.subspan(std::min(BmpFileHeaderSize, image.size()));
    const TBlipKind& kind = KindOf(type);
    const TMd5Digest digest = Md5Of(image.data(), image.size());

    std::vector<std::uint8_t> body(digest.begin(), digest.end());
    if (kind.Bitmap) {
        body.push_back(0xFF);
        body.insert(body.end(), image.begin(), image.end());
    } else {
        AppendMetafileBody(image, type, body);
    }
    const auto bodySize = static_cast<std::uint32_t>(body.size());

    std::vector<std::uint8_t> bse;
    bse.push_back(kind.BlipType);
    bse.push_back(4);  // for Macintosh: PICT
    bse.insert(bse.end(), digest.begin(), digest.end());
    PutU16(bse, 0x00FF);
    PutU32(bse, bodySize + EscherHeaderSize);
    PutU32(bse, 0);  // references: the store adds the first
    PutU32(bse, 0);  // delay offset
    bse.insert(bse.end(), 4, 0);  // usage, name length, reserved

    std::vector<std::uint8_t> blipHeader;
    PutU16(blipHeader, static_cast<std::uint16_t>(kind.Instance << 4));
    PutU16(blipHeader, kind.RecordId);
    PutU32(blipHeader, bodySize);

    const TEscherRecordHeader header{static_cast<std::uint16_t>(kind.BlipType << 4 | 2), 0xF007,
                                     bodySize + 36 + EscherHeaderSize};
    auto record = std::make_unique<TEscherBSERecord>(header, group, dwg, nullptr);
    record->CopyFromData(bse, blipHeader, body);
    return record;
}

std::vector<std::uint8_t> GetBlipStoredBytes(const TEscherBSERecord& bse, TXlsImgTypes& type) {
    constexpr std::size_t BlipStart = 36 + EscherHeaderSize;
    const auto& data = bse.Data;
    if (data.size() < BlipStart) Raise(ErrLoadingEscher);
    const std::uint16_t pre = GetWord(data, 36);
    const std::uint16_t recordId = GetWord(data, 38);
    const std::size_t blipEnd = BlipStart + std::min<std::size_t>(GetLongWord(data, 40), data.size() - BlipStart);

    type = TXlsImgTypes::xli_Unknown;
    bool bitmap = false;
    for (const auto& kind : BlipKinds)
        if (kind.RecordId == recordId) {
            type = kind.Type;
            bitmap = kind.Bitmap;
        }
    if (recordId == 0xF02A) {  // a CMYK JPEG
        type = TXlsImgTypes::xli_Jpeg;
        bitmap = true;
    }
    // Odd instances carry a second identifier after the first.
    std::size_t start = BlipStart + ((pre >> 4) & 1 ? 32 : 16) + (bitmap ? 1 : 0);
    start = std::min(start, blipEnd);

    std::vector<std::uint8_t> out;
    if (type == TXlsImgTypes::xli_Bmp) {
        out.assign(BmpFileHeaderSize, 0);
        out[0] = 'B';
        out[1] = 'M';
    }
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(start),
               data.begin() + static_cast<std::ptrdiff_t>(blipEnd));
    return out;
}

}  // namespace kalmira
