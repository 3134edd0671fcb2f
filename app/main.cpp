#include "app/F1.h"
#include "app/Winfo.h"
#include "app/Wpatnistav.h"
#include "app/Wselectserial.h"
#include "app/about.h"
#include "platform/qt/Application.h"
#include "platform/qt/Dialogs.h"
#include "platform/sys/Instance.h"

#include <exception>

int main(int argc, char** argv) {
    plat::TApplication app(argc, argv);
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
