// The application object.  Qt's event loop must never be left by an
// exception: whatever escapes an event handler ends here and is shown in
// the standard exception box, and the loop goes on.
#pragma once

#include <QApplication>

namespace plat {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace plat
