#pragma once
// The link's locks. Under clang, -Wthread-safety checks that the state a
// lock guards is touched only while it is held (Clang's thread-safety
// analysis; other compilers read the attributes as nothing).

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#if defined(__clang__)
#define LINK_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define LINK_THREAD_ATTRIBUTE(x)
#endif
#define LINK_CAPABILITY LINK_THREAD_ATTRIBUTE(capability("mutex"))
#define LINK_SCOPED_CAPABILITY LINK_THREAD_ATTRIBUTE(scoped_lockable)
#define LINK_GUARDED_BY(m) LINK_THREAD_ATTRIBUTE(guarded_by(m))
#define LINK_REQUIRES(m) LINK_THREAD_ATTRIBUTE(requires_capability(m))
#define LINK_ACQUIRE(...) LINK_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define LINK_RELEASE(...) LINK_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))

// A mutex its holder may take again. The analysis does not follow a second
// taking, so code that already holds it calls the *Locked forms.
class LINK_CAPABILITY recursiveMutex {
public:
    void lock() LINK_ACQUIRE() { mutex_.lock(); }
    void unlock() LINK_RELEASE() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

class LINK_SCOPED_CAPABILITY heldLock {
public:
    explicit heldLock(recursiveMutex& m) LINK_ACQUIRE(m) : mutex_(m) { mutex_.lock(); }
    ~heldLock() LINK_RELEASE() { mutex_.unlock(); }
    heldLock(const heldLock&) = delete;
    heldLock& operator=(const heldLock&) = delete;

private:
    recursiveMutex& mutex_;
};

// The worker mutex: re-entered by the thread that holds it, and taken with
// a time limit. Built on a plain mutex and a condition variable, whose
// waits every thread checker follows.
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
