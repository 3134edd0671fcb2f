// The drawing surface the grid measures and draws text on: a font value and
// the few text metrics the measuring routines need. TQtCanvas answers them
// with Qt's font metrics and draws through a QPainter when it has one;
// anything that only measures can bring its own canvas.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class QFont;
class QPainter;

namespace kalmira {

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
};

// The Qt font of a canvas font (pixel size, clamped as TQtCanvas measures).
QFont QtFont(const TCanvasFont& font);

// Qt's metrics of the font at its pixel size (independent of any screen),
// drawing on painter when given. Heights are clamped to 1..4096 pixels: Qt
// ignores a pixel size of 0 and would measure in the previous font.
class TQtCanvas : public TCanvas {
public:
    explicit TQtCanvas(QPainter* painter = nullptr) : FPainter(painter) {}

    TSize TextExtent(std::u16string_view text) override;
    int FitCount(std::u16string_view text, int width) override;
    int Ascent() override;
    void TextOut(const TRect& clip, int x, int y, std::u16string_view text) override;

    QPainter* Painter() const { return FPainter; }

private:
    QPainter* FPainter;
};

}  // namespace kalmira
