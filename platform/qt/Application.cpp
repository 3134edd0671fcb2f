#include "platform/qt/Application.h"

#include "platform/qt/Dialogs.h"

#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>
#include <stdexcept>

namespace plat {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Orvelo"));
    // The main window hides itself in the notification area and the log
    // window closes by hiding: the program ends only when the main window
    // says so.
    setQuitOnLastWindowClosed(false);
    // The windows' fixed geometry was laid out for the class library's form
    // font of 8 points at 96 dpi; a larger desktop default would clip their
    // captions.
    QFont font = QApplication::font();
    font.setPixelSize(11);
    setFont(font);
}

QTranslator* InstallQtTranslations(const QLocale& locale) {
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder) ||
        !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    return translator.release();
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
