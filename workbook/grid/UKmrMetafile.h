// Metafiles in the grid: a WMF goes through libwmf's SVG device, an EMF
// through libemf2svg, and Qt SVG draws the result into any rectangle, on
// screen and on paper. The libraries parse the workbook's bytes in a child
// process of their own, so a file that makes them crash, exit or hang
// costs that one picture, never the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>

#include <QByteArray>

#include "workbook/storage/UKmrFormats.h"

class QPainter;
class QRectF;
class QSvgRenderer;

namespace kalmira {

// Metafiles larger than this are not converted.
inline constexpr std::size_t MaxConvertedMetafile = 64u << 20;
// Nor is SVG text longer than this drawn.
inline constexpr std::size_t MaxMetafileSvg = 128u << 20;

// True when the bytes start as a metafile of the type does (a WMF with or
// without its placeable header, an EMF with its header record): what the
// libraries are given at all.
bool LooksLikeMetafile(std::span<const std::uint8_t> file, TXlsImgTypes type);

// What convert returns, run in a child process: whatever happens there (a
// crash, exit, abort, a loop, memory without end) ends the child only and
// gives an empty text, as does a failure, a result over MaxMetafileSvg or
// a child that takes longer than 15 seconds.
std::string ConvertInChild(const std::function<std::string()>& convert);

// The SVG text of a metafile file (xli_Wmf or xli_Emf); empty when the
// library cannot read it, it does not finish in time or its result is too
// large.
std::string MetafileToSvg(std::span<const std::uint8_t> file, TXlsImgTypes type);

// A converted metafile, ready to draw; the pictures of one blip share it.
class TKmrVectorPicture {
public:
    // Null when Qt SVG cannot read the text, or when it refers to anything
    // outside itself (a file, a URL).
    static std::shared_ptr<const TKmrVectorPicture> FromSvg(const std::string& svg);
    ~TKmrVectorPicture();
    TKmrVectorPicture(const TKmrVectorPicture&) = delete;
    TKmrVectorPicture& operator=(const TKmrVectorPicture&) = delete;

    // Draws the picture stretched over rect, as vectors.
    void Draw(QPainter& painter, const QRectF& rect) const;

private:
    TKmrVectorPicture() = default;
    std::unique_ptr<QSvgRenderer> FRenderer;
};

// Converted metafiles by their bytes: repainting never converts, and
// loading a sheet again, or the same blip twice, converts once. A file
// that did not convert is remembered too (as null).
class TKmrMetafileCache {
public:
    std::shared_ptr<const TKmrVectorPicture> Get(std::span<const std::uint8_t> file, TXlsImgTypes type);

private:
    std::map<QByteArray, std::shared_ptr<const TKmrVectorPicture>> FPictures;
};

}  // namespace kalmira
