#include "platform/qt/Application.h"

#include "platform/qt/Dialogs.h"

#include <stdexcept>

namespace plat {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Orvelo"));
    // The main window hides itself in the notification area and the log
    // window closes by hiding: the program ends only when the main window
    // says so.
    setQuitOnLastWindowClosed(false);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(std::runtime_error("Neznámá výjimka"));
    }
    return false;
}

}  // namespace plat
