// The drawing surface the grid measures and draws text on: a font value and
// the few text metrics the measuring routines need. TQtCanvas answers them
// with Qt's font metrics and draws through a QPainter when it has one;
// anything that only measures can bring its own canvas.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <QRegion>

class QFont;
class QImage;
class QString;
class QPainter;

namespace kalmira {

class TKmrGraphic;
class TKmrVectorPicture;

struct TSize {
    int cx = 0;
    int cy = 0;

    friend bool operator==(const TSize&, const TSize&) = default;
};

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    friend bool operator==(const TRect&, const TRect&) = default;
};

struct TPoint {
    int X = 0;
    int Y = 0;

    friend bool operator==(const TPoint&, const TPoint&) = default;
};

// A canvas font. A negative height is the character height in pixels, a
// positive one the cell height; colours are 0x00BBGGRR.
struct TCanvasFont {
    std::u16string Name = u"Arial";
    int Height = -11;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    std::uint32_t Color = 0;
    int Escapement = 0;  // tenths of a degree, counter-clockwise

    friend bool operator==(const TCanvasFont&, const TCanvasFont&) = default;
};

class TCanvas {
public:
    virtual ~TCanvas() = default;

    TCanvasFont Font;
    // What FillRect paints with: the colour, or an 8 x 8 ARGB pattern
    // tiled from the device origin when BrushBitmap is set.
    std::uint32_t BrushColor = 0xFFFFFF;
    const TKmrGraphic* BrushBitmap = nullptr;
    std::uint32_t PenColor = 0;
    int PenWidth = 1;

    // Width and height of the text in Font; an empty text is 0 x 0.
    virtual TSize TextExtent(std::u16string_view text) = 0;
    // How many leading UTF-16 units of text fit into width pixels.
    virtual int FitCount(std::u16string_view text, int width) = 0;
    virtual int Ascent() = 0;
    virtual int PixelsPerInch() const { return 96; }
    // Draws text with its top-left corner at (x, y), clipped to clip. A
    // canvas that only measures draws nothing.
    virtual void TextOut(const TRect& clip, int x, int y, std::u16string_view text) {
        (void)clip, (void)x, (void)y, (void)text;
    }
    // Fills [Left, Right) x [Top, Bottom) with the brush.
    virtual void FillRect(const TRect& rect) { (void)rect; }
    // Lines through the points in the pen; the last point itself is left
    // out, so lines drawn end to end never paint a pixel twice.
    virtual void Polyline(const std::vector<TPoint>& points) { (void)points; }
    // Draws the image stretched over rect.
    virtual void DrawImage(const TRect& rect, const QImage& image) { (void)rect, (void)image; }
    // Draws the converted metafile stretched over rect.
    virtual void DrawVector(const TRect& rect, const TKmrVectorPicture& picture) { (void)rect, (void)picture; }
    // The bounds of what may be painted now.
    virtual TRect ClipRect() { return {-0x3FFFFFFF, -0x3FFFFFFF, 0x3FFFFFFF, 0x3FFFFFFF}; }
    // Narrows what may be painted to rect.
    virtual void IntersectClip(const TRect& rect) { (void)rect; }
    // Drops every narrowing since the canvas was made, then narrows to rect.
    virtual void ResetClip(const TRect& rect) { (void)rect; }
};

// The family asked of the font system for a sheet's font name: a name
// with a Windows character set after it ("Arial CE") loses it, so that
// fontconfig finds the face or the metric-compatible one it stands for
// (Liberation Sans for Arial, Carlito for Calibri and the like).
QString FontFamily(std::u16string_view name);

// The Qt font of a canvas font (pixel size, clamped as TQtCanvas measures),
// with a style hint for the fallback when the face is not there.
QFont QtFont(const TCanvasFont& font);

// Qt's metrics of the font at its pixel size (independent of any screen),
// drawing on painter when given. Heights are clamped to 1..4096 pixels: Qt
// ignores a pixel size of 0 and would measure in the previous font.
class TQtCanvas : public TCanvas {
public:
    // The painter's clip at this point is the most ResetClip gives back.
    explicit TQtCanvas(QPainter* painter = nullptr);

    // The device's pixels per inch: fonts in points take this many.
    int Dpi = 96;
    int PixelsPerInch() const override { return Dpi; }

    TSize TextExtent(std::u16string_view text) override;
    int FitCount(std::u16string_view text, int width) override;
    int Ascent() override;
    void TextOut(const TRect& clip, int x, int y, std::u16string_view text) override;
    void FillRect(const TRect& rect) override;
    void Polyline(const std::vector<TPoint>& points) override;
    void DrawImage(const TRect& rect, const QImage& image) override;
    void DrawVector(const TRect& rect, const TKmrVectorPicture& picture) override;
    TRect ClipRect() override;
    void IntersectClip(const TRect& rect) override;
    void ResetClip(const TRect& rect) override;

    QPainter* Painter() const { return FPainter; }

private:
    QPainter* FPainter;
    bool FBaseClipped = false;
    QRegion FBaseClip;
};

}  // namespace kalmira
