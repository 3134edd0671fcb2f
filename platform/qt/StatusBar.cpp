#include "platform/qt/StatusBar.h"

#include <QLabel>
#include <QResizeEvent>

#include <stdexcept>

namespace plat {

TStatusBar::TStatusBar(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::NoFrame);
}

void TStatusBar::AddPanel(int width, Qt::Alignment alignment) {
    int x = 0;
    for (QLabel* panel : panels_) x += panel->width();
    auto* panel = new QLabel(this);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setAlignment(alignment | Qt::AlignVCenter);
    panel->setGeometry(x, 0, width, height());
    panel->show();
    panels_.push_back(panel);
}

void TStatusBar::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    for (QLabel* panel : panels_) panel->resize(panel->width(), height());
}

int TStatusBar::PanelWidth(int index) const { return panels_.at(index)->width(); }

Qt::Alignment TStatusBar::PanelAlignment(int index) const {
    return panels_.at(index)->alignment() & Qt::AlignHorizontal_Mask;
}

QString TStatusBar::Text(int index) const { return panels_.at(index)->text(); }

void TStatusBar::SetText(int index, const QString& text) { panels_.at(index)->setText(text); }

}  // namespace plat
