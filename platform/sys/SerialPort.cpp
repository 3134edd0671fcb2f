#include "platform/sys/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

struct Speed {
    int baud;
    speed_t code;
};

constexpr Speed speeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

speed_t speedCode(int baud)
{
    for (const Speed& s : speeds)
        if (s.baud == baud)
            return s.code;
    return B9600;
}

// 8 data bits, no parity, one stop bit, no flow control, nothing cooked.
void setLine(int fd, int baud)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speedCode(baud));
    cfsetospeed(&tio, speedCode(baud));
    tcsetattr(fd, TCSANOW, &tio);
}

// The lock a holder keeps on the whole open file: unlike the terminal's
// exclusive mode it also stops root, and it holds between two opens within
// one process.
struct flock wholeFileLock()
{
    struct flock lk{};
    lk.l_type = F_WRLCK;
    lk.l_whence = SEEK_SET;
    return lk;
}

bool lockExclusive(int fd)
{
    struct flock lk = wholeFileLock();
    return fcntl(fd, F_OFD_SETLK, &lk) == 0;
}

// Asked without taking the lock.
bool heldByAnother(int fd)
{
    struct flock lk = wholeFileLock();
    return fcntl(fd, F_OFD_GETLK, &lk) == 0 && lk.l_type != F_UNLCK;
}

bool isTerminal(int fd)
{
    struct stat st{};
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && isatty(fd) == 1;
}

// Opens without waiting for a carrier and without becoming our terminal.
int openQuietly(const std::string& path, int access)
{
    return ::open(path.c_str(), access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// Whether the port would open when chosen: a terminal that nobody holds
// (the terminal's exclusive mode keeps out all but root, the lock everyone).
// A ttyS node exists for every possible UART; only some have one.
bool probe(const std::string& path, bool needsHardware = false)
{
    int fd = openQuietly(path, O_RDONLY);
    if (fd < 0)
        return false;
    serial_struct info{};
    bool ok = isTerminal(fd) && !heldByAnother(fd) &&
              (!needsHardware || (ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN));
    ::close(fd);
    return ok;
}

struct DeviceFamily {
    std::string_view prefix;
    bool needsHardware;
};

constexpr DeviceFamily families[] = {{"ttyUSB", false}, {"ttyACM", false}, {"ttyS", true}};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The family's name followed by a number, nothing else.
const DeviceFamily* familyOf(std::string_view name)
{
    for (const DeviceFamily& f : families) {
        if (!name.starts_with(f.prefix) || name.size() == f.prefix.size())
            continue;
        const std::string_view number = name.substr(f.prefix.size());
        if (std::all_of(number.begin(), number.end(), isDigit))
            return &f;
    }
    return nullptr;
}

// The machine's serial devices that would open, as paths.
std::vector<std::string> machineDevices(const std::string& folder)
{
    std::vector<std::string> paths;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return paths;
    while (dirent* e = readdir(dir)) {
        const DeviceFamily* f = familyOf(e->d_name);
        if (!f)
            continue;
        std::string path = folder + "/" + e->d_name;
        if (probe(path, f->needsHardware))
            paths.push_back(std::move(path));
    }
    closedir(dir);
    std::sort(paths.begin(), paths.end(), serialPortBefore);
    return paths;
}

} // namespace

std::string serialDeviceFolder()
{
    const char* dir = std::getenv("ORVELO_DEVICE_DIR");
    return dir && *dir ? dir : "/dev/orvelo";
}

std::string machineDeviceFolder()
{
    const char* dir = std::getenv("ORVELO_DEV_ROOT");
    return dir && *dir ? dir : "/dev";
}

std::string serialDevicePath(std::string_view name)
{
    if (name.find('/') != std::string_view::npos)
        return std::string(name);
    return serialDeviceFolder() + "/" + std::string(name);
}

std::vector<std::string> listSerialPorts()
{
    std::string folder = serialDeviceFolder();
    std::vector<std::string> names;
    for (int n = 0; n <= 98; ++n) {
        std::string name = "COM" + std::to_string(n);
        if (probe(folder + "/" + name))
            names.push_back(name);
    }
    for (std::string& path : machineDevices(machineDeviceFolder()))
        names.push_back(std::move(path));
    return names;
}

bool serialPortBefore(std::string_view a, std::string_view b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Numbers: leading zeros aside, the longer is the greater.
            while (i < a.size() && a[i] == '0')
                ++i;
            while (j < b.size() && b[j] == '0')
                ++j;
            std::size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            if (ei - i != ej - j)
                return ei - i < ej - j;
            const int c = a.substr(i, ei - i).compare(b.substr(j, ej - j));
            if (c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b; // equal but for leading zeros: a fixed order all the same
}

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::open(std::string_view name, int baud)
{
    close();
    openError_ = 0;
    if (name.empty()) {
        openError_ = ENOENT;
        return false;
    }
    int fd = openQuietly(serialDevicePath(name), O_RDWR);
    if (fd < 0) {
        openError_ = errno;
        return false;
    }
    if (!isTerminal(fd) || !lockExclusive(fd)) {
        openError_ = isTerminal(fd) ? EBUSY : ENOTTY;
        ::close(fd);
        return false;
    }
    ioctl(fd, TIOCEXCL);
    setLine(fd, baud);
    fd_ = fd;
    inPos_ = inLen_ = 0;
    return true;
}

void SerialPort::close()
{
    if (fd_ < 0)
        return;
    setLine(fd_, 9600);
    // The exclusive mode stays on the terminal after we let go, and would
    // keep out the next opener.
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    inPos_ = inLen_ = 0;
}

SerialPort::Read SerialPort::readByte(std::uint8_t& byte, int timeoutMs)
{
    if (fd_ < 0)
        return Read::Failed;
    if (inPos_ < inLen_) {
        byte = in_[inPos_++];
        return Read::Byte;
    }
    pollfd p{fd_, POLLIN, 0};
    int r = poll(&p, 1, timeoutMs);
    if (r < 0)
        return errno == EINTR ? Read::Timeout : Read::Failed;
    if (r == 0)
        return Read::Timeout;
    if (!(p.revents & POLLIN))
        return Read::Failed; // hang-up or error without data
    ssize_t n = ::read(fd_, in_, sizeof in_);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return Read::Timeout;
    if (n <= 0)
        return Read::Failed;
    inPos_ = 1;
    inLen_ = static_cast<std::size_t>(n);
    byte = in_[0];
    return Read::Byte;
}

bool SerialPort::writeAll(const std::uint8_t* data, std::size_t length, int deadlineMs)
{
    using clock = std::chrono::steady_clock;
    if (fd_ < 0)
        return false;
    const auto deadline = clock::now() + std::chrono::milliseconds(deadlineMs);
    std::size_t done = 0;
    while (done < length) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd_, POLLOUT, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || !(p.revents & POLLOUT) || (p.revents & (POLLERR | POLLHUP)))
            return false;
        ssize_t n = ::write(fd_, data + done, length - done);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace platform
