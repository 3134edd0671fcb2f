#include "platform/qt/HandOff.h"

namespace plat {

// The queued connection is made here, on the owning thread, so a sender
// allocates nothing the drain reads: the signal's event is Qt's own, and
// the drain reaches the values only through mutex_.
THandOffBase::THandOffBase(QObject* parent) : QObject(parent) {
    connect(this, &THandOffBase::Wake, this, [this] { DrainQueue(); }, Qt::QueuedConnection);
}

void THandOffBase::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    DropLocked();
}

bool THandOffBase::Closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

std::size_t THandOffBase::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return QueuedLocked();
}

// One queued call drains everything that arrived until it runs; a queued
// signal does not wait for the receiving thread.
void THandOffBase::ScheduleLocked() {
    if (scheduled_) return;
    scheduled_ = true;
    Q_EMIT Wake();
}

}  // namespace plat
