// Picture fuzzing: the first byte picks the picture type, the rest are
// image bytes. They are stored as a blip; the stored form and the bytes as
// a file holds them are decoded and written as a disk image. A metafile
// that does not unpack may only raise the engine's exception; what decodes
// has the pixels its size says.
#include <cstdint>
#include <cstdlib>

#include "tests/fuzz/FuzzSupport.h"
#include "workbook/drawing/UEscherGraphToBSE.h"
#include "workbook/drawing/UXlsPictures.h"

using namespace kalmira;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto type = static_cast<TXlsImgTypes>(data[0] % 6);
    const std::vector<std::uint8_t> image(data + 1, data + size);
    TXlsImgTypes back;
    const auto stored = GetBlipStoredBytes(*ConvertGraphicToBSE(image, type, nullptr, nullptr), back);
    if (back != type) std::abort();
    for (const auto& bytes : {stored, image}) {
        TKmrMemoryStream in(bytes), out;
        bool ok = false;
        TKmrGraphic picture;
        fuzzsupport::TryEach({[&] {
            SaveImgStreamToGraphic(in, type, picture, ok);
            const bool raster = picture.Kind == TKmrGraphic::TKind::Raster;
            if (ok && raster && picture.Pixels.size() != std::size_t(picture.Width) * picture.Height) std::abort();
            in.Seek(0);
            SaveImgStreamToDiskImage(in, type, out, ok);
        }});
    }
    return 0;
}
