#include "platform/qt/TrayIcon.h"

#include <QEvent>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

namespace plat {

const QIcon& ProgramIcon() {
    static const QIcon icon = [] {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(0x1f, 0x6f, 0xb5));
        p.setPen(Qt::NoPen);
        p.drawEllipse(2, 2, 28, 28);
        p.setBrush(Qt::white);
        p.drawRect(9, 14, 14, 4);
        p.drawRect(14, 9, 4, 14);
        return QIcon(pixmap);
    }();
    return icon;
}

bool TTrayIcon::SystemTrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

TTrayIcon::TTrayIcon(QWidget* window, bool available) : QObject(window), window_(window) {
    if (!available) return;
    icon_ = new QSystemTrayIcon(ProgramIcon(), this);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick) Restore();
    });
    icon_->show();
    window_->installEventFilter(this);
}

// Hidden once the minimising is done: hiding a window in the middle of its
// own state change confuses some window managers.
bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::WindowStateChange && window_->isMinimized())
        QMetaObject::invokeMethod(window_, &QWidget::hide, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

bool TTrayIcon::Available() const { return icon_ != nullptr; }

void TTrayIcon::MinimizeToTray() {
    if (icon_)
        window_->hide();
    else
        window_->showMinimized();
}

void TTrayIcon::Restore() {
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
}

}  // namespace plat
