// Hand-off from any thread to the UI thread.  A value posted here is copied
// into the queue and handled later on the thread that owns the queue; the
// sender never waits for that thread (it only takes the queue's own short
// lock).  Closing drops what is pending and refuses what comes after, so
// nothing reaches a window that has begun to close.
#pragma once

#include <QObject>

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace plat {

class THandOffBase : public QObject {
    Q_OBJECT
public:
    explicit THandOffBase(QObject* parent);

    void Close();
    bool Closed() const;
    std::size_t Pending() const;

protected:
    // Called with the lock held after a value was queued.
    void ScheduleLocked();
    virtual void DrainQueue() = 0;
    virtual std::size_t QueuedLocked() const = 0;
    virtual void DropLocked() = 0;

    mutable std::mutex mutex_;
    bool closed_ = false;
    bool scheduled_ = false;

Q_SIGNALS:
    // Carries no data: the values wait in the queue under mutex_.
    void Wake();
};

template <class T>
class THandOff : public THandOffBase {
public:
    using Handler = std::function<void(const T&)>;

    explicit THandOff(Handler handler, QObject* parent = nullptr)
        : THandOffBase(parent), handler_(std::move(handler)) {}

    // False when the queue is closed.
    bool Post(T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return false;
        queue_.push_back(std::move(value));
        ScheduleLocked();
        return true;
    }

protected:
    void DrainQueue() override {
        std::deque<T> batch;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            batch.swap(queue_);
            scheduled_ = false;
        }
        for (const T& value : batch) {
            if (Closed()) return;
            handler_(value);
        }
    }
    std::size_t QueuedLocked() const override { return queue_.size(); }
    void DropLocked() override { queue_.clear(); }

private:
    Handler handler_;
    std::deque<T> queue_;
};

}  // namespace plat
