// Usage: orvelo_screenshot OUT.png
// Starts the main window against a throw-away configuration store, fills
// the list with sample meters and a few readings, and saves the window.
#include "app/F1.h"
#include "app/Tcheckandrefresh.h"
#include "platform/qt/Application.h"
#include "tests/tools/support/TestSupport.h"

#include <QPixmap>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

struct Sample {
    const char *flat, *first, *surname, *street, *house, *city, *type, *serial, *rf;
    int index;
};

constexpr Sample kSamples[] = {
    {"1", "Jan", "Novák", "Lipová", "12", "Brno", "SV", "1204", "0x1a2b", 1},
    {"2", "Eva", "Dvořáková", "Lipová", "12", "Brno", "TV", "1205", "0x1a2b", 2},
    {"3", "Petr", "Černý", "Lipová", "12", "Brno", "SV", "987", "0x2c11", 1},
    {"4", "Marie", "Šťastná", "Lipová", "12", "Brno", "TV", "988", "0x2c11", 2},
    {"5", "Jiří", "Růžička", "Lipová", "14", "Brno", "SV", "15020", "0x3d07", 1},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvelo_screenshot OUT.png\n");
        return 2;
    }
    testsupport::TempDir dir;
    std::filesystem::create_directory(dir.File("log"));
    testsupport::WriteFile(dir.File("registry"),
                           "logdir=" + dir.File("log") + "\nusbCom=COM3\noffline=n\n");
    ::setenv("ORVELO_REGISTRY", dir.File("registry").c_str(), 1);
    ::setenv("ORVELO_DIALOGS", "auto", 1);
    plat::TApplication app(argc, argv);

    TForm1 form;
    for (const Sample& s : kSamples) {
        auto m = std::make_shared<TStradelCntrs>();
        m->flatNumber = s.flat;
        m->firstName = s.first;
        m->surname = s.surname;
        m->street = s.street;
        m->houseNumber = s.house;
        m->city = s.city;
        m->meterType = s.type;
        m->serialNumber = s.serial;
        m->rfAddress = s.rf;
        m->locationDetail = "koupelna";
        m->msgIndex = s.index;
        m->key = std::string(s.rf) + "=" + std::to_string(s.index);
        form.AddMeterRow(m);
    }
    form.show();
    form.PostRowUpdate({"0x1a2b=1", plat::Now(), 1234});
    form.PostRowUpdate({"0x2c11=2", plat::Now(), 56.25});
    app.processEvents();
    form.lvMeters->setCurrentItem(form.lvMeters->topLevelItem(0));
    form.refreshThread->Refresh();
    return form.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
