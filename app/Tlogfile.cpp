#include "app/Tlogfile.h"

#include "platform/sys/Codepage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

bool AppendLogFile(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string bytes = plat::Utf8ToCp1250(text);
    ssize_t n;
    do n = ::write(fd, bytes.data(), bytes.size());
    while (n < 0 && errno == EINTR);
    bool ok = n == static_cast<ssize_t>(bytes.size());
    return ::close(fd) == 0 && ok;
}
