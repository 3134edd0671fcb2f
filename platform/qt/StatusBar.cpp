#include "platform/qt/StatusBar.h"

#include <QLabel>
#include <QResizeEvent>

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

void TStatusBar::Layout() {
    int x = 0;
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        int w = widths_[i];
        if (i + 1 == panels_.size() && width() > x) w = width() - x;
        panels_[i]->setGeometry(x, 0, w, height());
        x += widths_[i];
    }
}

int TStatusBar::PanelWidth(int index) const { return widths_.at(static_cast<std::size_t>(index)); }

Qt::Alignment TStatusBar::PanelAlignment(int index) const {
    return panels_.at(index)->alignment() & Qt::AlignHorizontal_Mask;
}

QString TStatusBar::Text(int index) const { return panels_.at(index)->text(); }

void TStatusBar::SetText(int index, const QString& text) { panels_.at(index)->setText(text); }

}  // namespace plat
