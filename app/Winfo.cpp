#include "app/Winfo.h"

#include "app/Wcontrols.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

Tfinfo* finfo = nullptr;

namespace {

class TimerTicks : public TTickSource {
public:
    TimerTicks(QObject* owner, int intervalMs) : timer_(new QTimer(owner)) {
        timer_->setObjectName(QStringLiteral("timer"));
        timer_->setInterval(intervalMs);
    }
    void Start(std::function<void()> tick) override {
        QObject::disconnect(timer_, &QTimer::timeout, nullptr, nullptr);
        QObject::connect(timer_, &QTimer::timeout, timer_, std::move(tick));
        timer_->start();
    }
    void Stop() override { timer_->stop(); }
    bool Active() const override { return timer_->isActive(); }
    int Interval() const override { return timer_->interval(); }

private:
    QTimer* timer_;
};

}  // namespace

std::unique_ptr<TTickSource> TimerTickSource(QObject* owner, int intervalMs) {
    return std::make_unique<TimerTicks>(owner, intervalMs);
}

Tfinfo::Tfinfo(QWidget* parent, std::unique_ptr<TTickSource> ticks)
    : QDialog(parent), ticks_(ticks ? std::move(ticks) : TimerTickSource(this, kInfoIntervalMs)) {
    DialogFrame(this, "finfo", QStringLiteral("Info"), 372, 96, false);
    Label1 = StaticLabel(this, QStringLiteral("Vyčkejte, probíhá zpracování dat ..."), 16, 16, 340, 18);
    Label1->setObjectName(QStringLiteral("Label1"));
    pb = new QProgressBar(this);
    pb->setObjectName(QStringLiteral("pb"));
    pb->setGeometry(16, 48, 340, 20);
    pb->setRange(0, counter_.Maximum());
    pb->setValue(0);
    pb->setTextVisible(false);
}

Tfinfo::~Tfinfo() {
    ticks_->Stop();
    if (finfo == this) finfo = nullptr;
}

void Tfinfo::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CenterOnScreen(this);
    ticks_->Start([this] { timerTimer(); });
}

void Tfinfo::timerTimer() {
    switch (counter_.Tick()) {
    case TInfoCounter::Step::Send:
        if (sendReadRequest) sendReadRequest(kReadRequestParameter);
        pb->setValue(counter_.Position());
        break;
    case TInfoCounter::Step::Wait: break;
    case TInfoCounter::Step::Close: accept(); break;
    }
}

void Tfinfo::done(int result) {
    ticks_->Stop();
    counter_.Reset();
    pb->setValue(0);
    QDialog::done(result);
}
