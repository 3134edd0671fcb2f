#include "platform/qt/HandOff.h"

#include <QMetaObject>

namespace plat {

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

// One queued call drains everything that arrived until it runs; posting an
// event does not wait for the receiving thread.
void THandOffBase::ScheduleLocked() {
    if (scheduled_) return;
    scheduled_ = true;
    QMetaObject::invokeMethod(this, [this] { DrainQueue(); }, Qt::QueuedConnection);
}

}  // namespace plat
