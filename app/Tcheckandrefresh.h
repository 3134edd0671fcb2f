// Once a second: the clock into status panel 6 and the number of rows that
// show a value into panel 5.  Runs on the UI thread's timer, so it never
// touches the window from elsewhere.
#pragma once

#include <QObject>

class QTimer;
class QTreeWidget;

namespace plat {
class TStatusBar;
}

class TCheckAndRefresh : public QObject {
public:
    TCheckAndRefresh(QTreeWidget* list, plat::TStatusBar* status, QObject* parent);

    void Start();
    // Asked when the readings stop; the clock goes on.
    void StopRefresh() {}
    // Ends the ticks for good (the window is closing).
    void Terminate();
    bool Running() const;
    void Refresh();

private:
    QTreeWidget* list_;
    plat::TStatusBar* status_;
    QTimer* timer_;
};
