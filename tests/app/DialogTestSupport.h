// What the dialog tests share: one application object with a font that has
// the Czech letters, the boxes answered through the seam, and screenshots.
#pragma once

#include "app/Tmycounters.h"
#include "app/Winfo.h"
#include "platform/qt/Application.h"

#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace dialogtest {

inline void EnsureApp() {
    static int argc = 1;
    static char name[] = "test_app_dialogs";
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

// The folder the test run leaves its screenshots in.
inline QString ShotFolder() {
    QString dir = QStringLiteral(ORVELO_BINARY_DIR) + QStringLiteral("/test-output/screenshots");
    QDir().mkpath(dir);
    return dir;
}

// Saves the window's client area as NAME.png; true when written.
inline bool SaveShot(QWidget* window, const char* name) {
    return window->grab().save(ShotFolder() + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
}

// The lines "caption|text" that the boxes shown while fn ran printed.
inline std::string BoxesShownBy(const std::function<void()>& fn) {
    ::testing::internal::CaptureStderr();
    fn();
    return ::testing::internal::GetCapturedStderr();
}

// The caption standing above an edit or list (its buddy label).
inline QString CaptionOf(QWidget* window, QWidget* control) {
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->buddy() == control) return label->text();
    return {};
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
    void Fire() {
        if (active_) tick_();
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
    m->firstName = "Jiří";
    m->surname = "Dvořák";
    m->street = "Žitná";
    m->houseNumber = "12";
    m->city = "Brno";
    m->meterType = "SV";
    m->serialNumber = "1200" + flat;
    m->rfAddress = rf;
    m->msgIndex = 1;
    m->multiplier = 1;
    m->divisor = 1;
    m->key = rf + "=1";
    return m;
}

inline void FreeClosed() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

}  // namespace dialogtest
