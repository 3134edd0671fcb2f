// The application object.  Qt's event loop must never be left by an
// exception: whatever escapes an event handler ends here and is shown in
// the standard exception box, and the loop goes on.
#pragma once

#include <QApplication>
#include <QLocale>

class QTranslator;

namespace plat {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Qt's own texts (the buttons of the boxes, the file dialog) in the
// language of the locale, from Qt's translations folder.  The translator
// is the application's (null when there is none for the language: English
// stays).  Needs the application object.
QTranslator* InstallQtTranslations(const QLocale& locale);

}  // namespace plat
