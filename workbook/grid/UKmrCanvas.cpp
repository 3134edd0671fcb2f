#include "workbook/grid/UKmrCanvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QImage>
#include <QString>

#include "workbook/drawing/UXlsPictures.h"
#include "workbook/grid/UKmrMetafile.h"

namespace kalmira {

namespace {

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

QColor ToQColor(std::uint32_t c) { return QColor(c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF); }

QRect ToQRect(const TRect& r) { return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top); }

int Sign(int v) { return (v > 0) - (v < 0); }

bool EndsNoCase(std::u16string_view text, std::u16string_view tail) {
    if (text.size() < tail.size()) return false;
    const std::u16string_view end = text.substr(text.size() - tail.size());
    return std::equal(end.begin(), end.end(), tail.begin(), [](char16_t a, char16_t b) {
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
        return lower(a) == lower(b);
    });
}

bool HasNoCase(const QString& text, const char* part) { return text.contains(QLatin1String(part), Qt::CaseInsensitive); }

}  // namespace

QString FontFamily(std::u16string_view name) {
    // Older workbooks name a face together with its Windows character set;
    // fontconfig knows the face, and its metric twin, by the plain name.
    static constexpr std::u16string_view CharsetSuffixes[] = {u" CE", u" CYR", u" Greek", u" TUR", u" Baltic"};
    for (std::u16string_view suffix : CharsetSuffixes)
        if (name.size() > suffix.size() && EndsNoCase(name, suffix)) {
            name.remove_suffix(suffix.size());
            break;
        }
    return ToQString(name);
}

QFont QtFont(const TCanvasFont& f) {
    QFont font(FontFamily(f.Name));
    // A face that is not there falls back to one of its kind.
    const QString family = font.family();
    if (HasNoCase(family, "courier") || HasNoCase(family, "mono") || HasNoCase(family, "consol"))
        font.setStyleHint(QFont::TypeWriter);
    else if (!HasNoCase(family, "sans") &&
             (HasNoCase(family, "times") || HasNoCase(family, "roman") || HasNoCase(family, "serif") ||
              HasNoCase(family, "cambria") || HasNoCase(family, "georgia") || HasNoCase(family, "garamond")))
        font.setStyleHint(QFont::Serif);
    else
        font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::clamp(std::abs(f.Height), 1, 4096));
    font.setBold(f.Bold);
    font.setItalic(f.Italic);
    font.setUnderline(f.Underline);
    font.setStrikeOut(f.StrikeOut);
    return font;
}

TQtCanvas::TQtCanvas(QPainter* painter) : FPainter(painter) {
    if (FPainter != nullptr && FPainter->hasClipping()) {
        FBaseClipped = true;
        FBaseClip = FPainter->clipRegion();
    }
}

TSize TQtCanvas::TextExtent(std::u16string_view text) {
    if (text.empty()) return {};  // Qt gives an empty text a line's height
    QFontMetricsF metrics(QtFont(Font));
    return {static_cast<int>(std::ceil(metrics.horizontalAdvance(ToQString(text)))),
            static_cast<int>(std::ceil(metrics.ascent() + metrics.descent()))};
}

int TQtCanvas::FitCount(std::u16string_view text, int width) {
    QFontMetricsF metrics(QtFont(Font));
    const QString s = ToQString(text);
    // Prefix advances grow with the prefix: the longest one that fits is
    // found by halving.
    int lo = 0;
    int hi = static_cast<int>(s.size());
    while (lo < hi) {
        const int mid = lo + (hi - lo + 1) / 2;
        if (std::ceil(metrics.horizontalAdvance(s.left(mid))) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

int TQtCanvas::Ascent() {
    return static_cast<int>(std::ceil(QFontMetricsF(QtFont(Font)).ascent()));
}

void TQtCanvas::TextOut(const TRect& clip, int x, int y, std::u16string_view text) {
    if (FPainter == nullptr || text.empty()) return;
    const QFont font = QtFont(Font);
    FPainter->save();
    FPainter->setClipRect(QRect(clip.Left, clip.Top, clip.Right - clip.Left, clip.Bottom - clip.Top),
                          Qt::IntersectClip);
    FPainter->setFont(font);
    FPainter->setPen(QColor(Font.Color & 0xFF, Font.Color >> 8 & 0xFF, Font.Color >> 16 & 0xFF));
    const qreal ascent = QFontMetricsF(font).ascent();
    if (Font.Escapement != 0) {
        FPainter->translate(x, y);
        FPainter->rotate(-Font.Escapement / 10.0);
        FPainter->drawText(QPointF(0, ascent), ToQString(text));
    } else {
        FPainter->drawText(QPointF(x, y + ascent), ToQString(text));
    }
    FPainter->restore();
}

void TQtCanvas::FillRect(const TRect& rect) {
    if (FPainter == nullptr || rect.Right <= rect.Left || rect.Bottom <= rect.Top) return;
    if (BrushBitmap != nullptr && BrushBitmap->Width > 0 && BrushBitmap->Height > 0) {
        // Pattern pixels are colours 0x00BBGGRR.
        QImage tile(BrushBitmap->Width, BrushBitmap->Height, QImage::Format_RGB32);
        for (int y = 0; y < BrushBitmap->Height; ++y)
            for (int x = 0; x < BrushBitmap->Width; ++x) tile.setPixel(x, y, ToQColor(BrushBitmap->Pixel(x, y)).rgb());
        // The tiles start at the device origin, whatever the rectangle.
        QBrush brush(tile);
        brush.setTransform(FPainter->deviceTransform().inverted());
        FPainter->fillRect(ToQRect(rect), brush);
        return;
    }
    FPainter->fillRect(ToQRect(rect), ToQColor(BrushColor));
}

void TQtCanvas::Polyline(const std::vector<TPoint>& points) {
    if (FPainter == nullptr || points.size() < 2) return;
    const int w = std::max(PenWidth, 1);
    const QColor colour = ToQColor(PenColor);
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const TPoint a = points[i];
        const TPoint b = points[i + 1];
        const int dx = Sign(b.X - a.X);
        const int dy = Sign(b.Y - a.Y);
        if (dx != 0 && dy != 0) {
            FPainter->setPen(QPen(colour, w));
            FPainter->drawLine(a.X, a.Y, b.X - dx, b.Y - dy);
            continue;
        }
        // Straight lines are filled as rectangles: a wide pen is centred
        // on the line, and the end point stays out.
        const int lo = w / 2;
        const int x1 = std::min(a.X, b.X - dx);
        const int x2 = std::max(a.X, b.X - dx);
        const int y1 = std::min(a.Y, b.Y - dy);
        const int y2 = std::max(a.Y, b.Y - dy);
        if (dx != 0)
            FPainter->fillRect(QRect(x1, y1 - lo, x2 - x1 + 1, w), colour);
        else if (dy != 0)
            FPainter->fillRect(QRect(x1 - lo, y1, w, y2 - y1 + 1), colour);
    }
}

void TQtCanvas::DrawImage(const TRect& rect, const QImage& image) {
    if (FPainter != nullptr) FPainter->drawImage(ToQRect(rect), image);
}

void TQtCanvas::DrawVector(const TRect& rect, const TKmrVectorPicture& picture) {
    if (FPainter != nullptr) picture.Draw(*FPainter, ToQRect(rect));
}

TRect TQtCanvas::ClipRect() {
    if (FPainter == nullptr || !FPainter->hasClipping()) return TCanvas::ClipRect();
    const QRect r = FPainter->clipBoundingRect().toAlignedRect();
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void TQtCanvas::IntersectClip(const TRect& rect) {
    if (FPainter == nullptr) return;
    FPainter->setClipRect(ToQRect(rect), FPainter->hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
}

void TQtCanvas::ResetClip(const TRect& rect) {
    if (FPainter == nullptr) return;
    if (FBaseClipped)
        FPainter->setClipRegion(FBaseClip.intersected(ToQRect(rect)));
    else
        FPainter->setClipRect(ToQRect(rect));
}

}  // namespace kalmira
