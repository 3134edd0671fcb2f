// Guard against a second running copy of the program: an exclusive lock on
// a file in the user's runtime folder, which the system drops when the
// process ends, however it ends.
#pragma once

#include <string>

namespace plat {

// $XDG_RUNTIME_DIR, else /run/user/<uid> when it exists, else /tmp.
std::string RuntimeDir();

class TInstanceLock {
public:
    explicit TInstanceLock(const std::string& name);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // False when another process holds the lock or it cannot be taken.
    bool Acquire();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace plat
