#include "platform/qt/StatusBar.h"

#include <QLabel>
#include <QResizeEvent>

#include <algorithm>
#include <stdexcept>

namespace plat {

TStatusBar::TStatusBar(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::NoFrame);
}

void TStatusBar::AddPanel(int width, Qt::Alignment alignment) {
    auto* panel = new QLabel(this);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setAlignment(alignment | Qt::AlignVCenter);
    panel->show();
    panels_.push_back(panel);
    widths_.push_back(width);
    Layout();
}

void TStatusBar::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    Layout();
}

int TStatusBar::FixedWidth() const {
    int fixed = 0;
    for (std::size_t i = 0; i < widths_.size(); ++i)
        if (static_cast<int>(i) != stretch_) fixed += widths_[i];
    return fixed;
}

void TStatusBar::Layout() {
    const int others = FixedWidth();
    int x = 0;
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        int w = widths_[i];
        if (static_cast<int>(i) == stretch_)
            w = std::max(0, width() - others);
        else if (stretch_ < 0 && i + 1 == panels_.size() && width() > x)
            w = width() - x;
        panels_[i]->setGeometry(x, 0, w, height());
        x += w;
    }
}

int TStatusBar::TextWidth(int index, const QString& text) const {
    const QLabel* panel = panels_.at(static_cast<std::size_t>(index));
    const QMargins margins = panel->contentsMargins();
    // QLabel keeps an indent of half an 'x' from a framed edge.
    return panel->fontMetrics().horizontalAdvance(text) + margins.left() + margins.right() +
           panel->fontMetrics().horizontalAdvance(QLatin1Char('x')) + 2 * panel->margin();
}

void TStatusBar::FitPanel(int index, const QStringList& texts) {
    int& width = widths_.at(static_cast<std::size_t>(index));
    const int before = width;
    for (const QString& text : texts) width = std::max(width, TextWidth(index, text));
    if (width != before) Layout();
}

void TStatusBar::SetStretchPanel(int index) {
    stretch_ = index;
    Layout();
}

QRect TStatusBar::PanelGeometry(int index) const { return panels_.at(static_cast<std::size_t>(index))->geometry(); }

int TStatusBar::PanelWidth(int index) const { return widths_.at(static_cast<std::size_t>(index)); }

Qt::Alignment TStatusBar::PanelAlignment(int index) const {
    return panels_.at(index)->alignment() & Qt::AlignHorizontal_Mask;
}

QString TStatusBar::Text(int index) const { return panels_.at(index)->text(); }

void TStatusBar::SetText(int index, const QString& text) { panels_.at(index)->setText(text); }

}  // namespace plat
