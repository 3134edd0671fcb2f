#pragma once
// The worker mutex: re-entered by the thread that holds it, and taken with
// a time limit. Built on a plain mutex and a condition variable, whose
// waits every thread checker follows.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class recursiveTimedMutex {
public:
    // False when another thread held it for the whole wait.
    template <class Rep, class Period>
    bool try_lock_for(std::chrono::duration<Rep, Period> wait)
    {
        const std::thread::id self = std::this_thread::get_id();
        std::unique_lock lock(mutex_);
        if (!freed_.wait_for(lock, wait, [&] { return depth_ == 0 || owner_ == self; }))
            return false;
        owner_ = self;
        ++depth_;
        return true;
    }
    // Only by the holder.
    void unlock()
    {
        {
            std::lock_guard lock(mutex_);
            if (--depth_ > 0)
                return;
            owner_ = std::thread::id();
        }
        freed_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    std::thread::id owner_;  // guarded by mutex_
    int depth_ = 0;          // guarded by mutex_
};
