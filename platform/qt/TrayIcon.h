// The notification-area icon.  Minimising to it, or minimising the window
// by any other road, hides the window and its taskbar button; a
// double-click on the icon brings the window back.  Where the desktop has
// no notification area the window is minimised instead, so it can always
// come back.
#pragma once

#include <QObject>

class QIcon;
class QSystemTrayIcon;
class QWidget;

namespace plat {

class TTrayIcon : public QObject {
public:
    explicit TTrayIcon(QWidget* window, bool available = SystemTrayAvailable());
    static bool SystemTrayAvailable();

    bool Available() const;
    void MinimizeToTray();
    void Restore();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    QSystemTrayIcon* icon_ = nullptr;
};

// The program's icon, drawn once.
const QIcon& ProgramIcon();

}  // namespace plat
