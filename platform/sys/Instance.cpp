#include "platform/sys/Instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace plat {

std::string RuntimeDir() {
    const char* env = std::getenv("XDG_RUNTIME_DIR");
    if (env && *env) return env;
    std::string run = "/run/user/" + std::to_string(::getuid());
    struct stat st {};
    if (::stat(run.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return run;
    return "/tmp";
}

TInstanceLock::TInstanceLock(const std::string& name)
    : path_(RuntimeDir() + "/" + name + "-" + std::to_string(::getuid()) + ".lock") {}

TInstanceLock::~TInstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

bool TInstanceLock::Acquire() {
    if (fd_ >= 0) return true;
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

}  // namespace plat
