#include "app/F1.h"
#include "app/Winfo.h"
#include "app/Wpatnistav.h"
#include "app/Wselectserial.h"
#include "app/about.h"
#include "platform/qt/Application.h"
#include "platform/qt/Dialogs.h"
#include "platform/sys/Instance.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

namespace {

// Qt's platform plugin aborts without a display; a platform chosen by
// QT_QPA_PLATFORM or -platform (offscreen) needs none.
bool HasGraphicalSession(int argc, char** argv) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "-platform") return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!HasGraphicalSession(argc, argv)) {
        std::fputs("Orvelo potřebuje grafické prostředí (DISPLAY nebo WAYLAND_DISPLAY).\n", stderr);
        return 1;
    }
    plat::TApplication app(argc, argv);
    // Qt's buttons and file dialog in the user's language (Czech here).
    plat::InstallQtTranslations(QLocale::system());
    // Held until the process ends; the system drops it however it ends.
    plat::TInstanceLock instance("Orvelo");
    if (!instance.Acquire()) {
        plat::MessageBox(
            QStringLiteral("Aplikace Orvelo je již jednou spuštěna. Nelze spustit další kopii."),
            QStringLiteral("Upozornění"), plat::TMsgDlgType::Plain, plat::mbOK);
        return 0;
    }
    try {
        TForm1 form;
        Tfinfo info(&form);
        finfo = &info;
        Tfpatni patni(&form);
        fpatni = &patni;
        Tfselectserial selectSerial(&form);
        fselectserial = &selectSerial;
        TAboutBox about(&form);
        AboutBox = &about;
        form.show();
        return app.exec();
    } catch (const std::exception& e) {
        plat::ShowException(e);
    }
    return 0;
}
