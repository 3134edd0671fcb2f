// The progress window of "Odečíst moduly": sends the read requests to all
// modules on its timer and closes itself when they are done.
#pragma once

#include "app/Treadcontrol.h"

#include <QDialog>

#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QTimer;

inline constexpr int kInfoIntervalMs = 5000;

// What drives the window's ticks; tests tick it by hand.
class TTickSource {
public:
    virtual ~TTickSource() = default;
    virtual void Start(std::function<void()> tick) = 0;
    virtual void Stop() = 0;
    virtual bool Active() const = 0;
    virtual int Interval() const = 0;
};

// The program's: a timer of the window.
std::unique_ptr<TTickSource> TimerTickSource(QObject* owner, int intervalMs);

class Tfinfo : public QDialog {
public:
    // Without a tick source the window ticks every 5000 ms.
    explicit Tfinfo(QWidget* parent = nullptr, std::unique_ptr<TTickSource> ticks = nullptr);
    ~Tfinfo() override;

    QLabel* Label1;
    QProgressBar* pb;
    TTickSource& timer() { return *ticks_; }

    // The request to all modules; set by the main window.
    std::function<void(int parameter)> sendReadRequest;

    void timerTimer();

    // Closing by any road (the last tick, Escape, the window's close) stops
    // the timer and starts the count over.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<TTickSource> ticks_;
    TInfoCounter counter_;
};

extern Tfinfo* finfo;
