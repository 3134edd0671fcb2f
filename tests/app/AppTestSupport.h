// What the window tests share: one application object with a font that has
// the Czech letters, the boxes answered through the seam, and a main window
// started on a store and a log folder of the test's own.
#pragma once

#include "app/F1.h"
#include "app/Tformats.h"
#include "app/Tlocalesettings.h"
#include "app/Tmycounters.h"
#include "app/Tmyconfig.h"
#include "app/Winfo.h"
#include "app/Wselectserial.h"
#include "platform/qt/Application.h"
#include "platform/sys/Codepage.h"
#include "tests/tools/support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QFont>
#include <QFontDatabase>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace apptest {

using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

// Never destroyed: Qt's own globals go before it at exit.
inline void EnsureApp() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static plat::TApplication* app = [] {
        auto* a = new plat::TApplication(argc, argv);
        for (const char* file : {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                 "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"})
            QFontDatabase::addApplicationFont(QString::fromLatin1(file));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(11);
        QApplication::setFont(font);
        return a;
    }();
    (void)app;
}

// The lines "caption|text" that the boxes shown while fn ran printed.
inline std::string Boxes(const std::function<void()>& fn) {
    ::testing::internal::CaptureStderr();
    fn();
    return ::testing::internal::GetCapturedStderr();
}

// Runs fn on the modal window that the next action opens, then lets it go on.
inline void WhenModal(std::function<void(QWidget*)> fn) {
    QTimer::singleShot(0, [fn] { fn(QApplication::activeModalWidget()); });
}

inline void FreeClosed() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// The texts of one column of a list, top to bottom.
inline QStringList ColumnTexts(const QTreeWidget* list, int column) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
    return texts;
}

// A tick source that ticks when the test says so; counts its starts.
class ManualTicks : public TTickSource {
public:
    void Start(std::function<void()> tick) override {
        tick_ = std::move(tick);
        active_ = true;
        ++starts;
    }
    void Stop() override { active_ = false; }
    bool Active() const override { return active_; }
    int Interval() const override { return 1; }
    void Fire(int times = 1) {
        for (int i = 0; i < times && active_; ++i) tick_();
    }
    int starts = 0;

private:
    std::function<void()> tick_;
    bool active_ = false;
};

// A meter row as the meters workbook gives it, with message index 1.
inline TMeterRecord SampleMeter(const std::string& flat, const std::string& rf) {
    auto m = std::make_shared<TStradelCntrs>();
    m->flatNumber = flat;
    m->serialNumber = "1200" + flat;
    m->locationDetail = "kuchyň";
    m->rfAddress = rf;
    m->msgIndex = 1;
    m->multiplier = 1;
    m->divisor = 1;
    m->key = rf + "=1";
    return m;
}

inline const char kMasterStore[] = "usbCom=COM3\noffline=n\n";

// The main window on a store and a log folder in a temporary folder, the
// boxes answered through the seam with their default buttons.
class FormFixture : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string store = dir.File("registry");
    std::string logdir = dir.File("log");
    ScopedEnv registry {"ORVELO_REGISTRY", store};
    ScopedEnv dialogs {"ORVELO_DIALOGS", std::string("auto")};
    ScopedEnv answer {"ORVELO_DIALOG_ANSWER", std::nullopt};
    std::unique_ptr<TForm1> form;

    void SetUp() override { EnsureApp(); }
    void TearDown() override { form.reset(); }

    void Start(const std::string& storeText = kMasterStore) {
        std::filesystem::create_directory(logdir);
        WriteFile(store, storeText + "logdir=" + logdir + "\n");
        form = std::make_unique<TForm1>();
        // The window took the user's number settings from the environment's
        // locale: the tests start from C's and choose their own.
        UseProgramFormatSettings(LocaleFormatSettings(QLocale::c()));
    }
    QTreeWidgetItem* AddRow(const std::string& flat, const std::string& rf) {
        return form->AddMeterRow(SampleMeter(flat, rf));
    }
    void Tick(bool on) { form->cb_aktodecty->setChecked(on); }
    std::string TodaysLog() const { return plat::Cp1250ToUtf8(ReadFile(myConfig->LogFilePath())); }
    bool LogHas(const std::string& text) const { return TodaysLog().find(text) != std::string::npos; }
};

}  // namespace apptest
