#include "workbook/grid/UKmrCanvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QString>

namespace kalmira {

namespace {

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

}  // namespace

QFont QtFont(const TCanvasFont& f) {
    QFont font(ToQString(f.Name));
    font.setPixelSize(std::clamp(std::abs(f.Height), 1, 4096));
    font.setBold(f.Bold);
    font.setItalic(f.Italic);
    font.setUnderline(f.Underline);
    font.setStrikeOut(f.StrikeOut);
    return font;
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

}  // namespace kalmira
