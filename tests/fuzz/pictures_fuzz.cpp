// Picture fuzzing: the first byte picks the picture type, the rest are
// image bytes. They go into a blip and back out, and the stored form is
// decoded and written as a disk image; a metafile that does not unpack may
// only raise the engine's exception, and whatever decodes must have the
// pixels its size says.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "workbook/drawing/UEscherGraphToBSE.h"
#include "workbook/drawing/UXlsPictures.h"

using namespace kalmira;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto type = static_cast<TXlsImgTypes>(data[0] % 6);
    const std::span<const std::uint8_t> image(data + 1, size - 1);
    try {
        // As stored by the engine, and as a file might hold it.
        TXlsImgTypes back;
        const auto stored = GetBlipStoredBytes(*ConvertGraphicToBSE(image, type, nullptr, nullptr), back);
        if (back != type) std::abort();
        for (const auto& bytes : {stored, std::vector<std::uint8_t>(image.begin(), image.end())}) {
            TKmrMemoryStream in(bytes), out;
            bool ok = false;
            TKmrGraphic picture;
            try {
                SaveImgStreamToGraphic(in, type, picture, ok);
                if (ok && picture.Kind == TKmrGraphic::TKind::Raster &&
                    picture.Pixels.size() != std::size_t(picture.Width) * picture.Height)
                    std::abort();
                in.Seek(0);
                SaveImgStreamToDiskImage(in, type, out, ok);
            } catch (const Exception&) {
            }
        }
    } catch (const Exception&) {
    }
    return 0;
}
