// The application object.  Qt's event loop must never be left by an
// exception: whatever escapes an event handler ends here and is shown in
// the standard exception box, and the loop goes on.
#pragma once

#include <QApplication>
#include <QLocale>

namespace plat {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Qt's own texts (the buttons of the boxes, the file dialog) in the
// language of the locale, from Qt's translations folder; false when there
// is no translation for it (English stays).  Needs the application object.
bool InstallQtTranslations(const QLocale& locale);

}  // namespace plat
