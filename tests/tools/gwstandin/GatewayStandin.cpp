#include "tests/tools/gwstandin/GatewayStandin.h"
#include "tests/tools/support/TestSupport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

namespace standin {

namespace {

constexpr std::uint8_t End = 0xC0;
constexpr std::uint8_t Esc = 0xDB;

enum Oid { Command = 63, Save = 15, Channel = 110, Group = 114, Address = 118, Packet = 119, Rssi = 120,
           Mode = 121, Parameter = 128 };

// v in one byte (with flags) below limit, else in two with the top bit set.
void putTwoForm(Bytes& out, int v, int limit, std::uint8_t flags = 0)
{
    if (v < limit) {
        out.push_back(static_cast<std::uint8_t>(flags | v));
    } else {
        out.push_back(static_cast<std::uint8_t>(0x80 | flags | (v >> 8)));
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    }
}

Bytes record(int oid, int index, int type, const Bytes& value)
{
    Bytes out;
    putTwoForm(out, oid, 64, index >= 0 ? 0x40 : 0);
    if (index >= 0)
        putTwoForm(out, index, 128);
    int n = static_cast<int>(value.size());
    if (type < 8 && n < 16) {
        out.push_back(static_cast<std::uint8_t>(type << 4 | n));
    } else {
        out.push_back(static_cast<std::uint8_t>(0x80 | type));
        putTwoForm(out, n, 128);
    }
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes bigEndian(std::uint32_t v, int width)
{
    Bytes out;
    for (int i = width - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return out;
}

void escapeInto(Bytes& out, std::uint8_t b)
{
    if (b == End || b == Esc) {
        out.push_back(Esc);
        out.push_back(b == End ? 0xDC : 0xDD);
    } else {
        out.push_back(b);
    }
}

// Message bytes and CRC byte of one frame body, or nothing when an escape
// is broken.
std::optional<Bytes> unescape(const Bytes& body)
{
    Bytes out;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] != Esc) {
            out.push_back(body[i]);
            continue;
        }
        if (++i == body.size() || (body[i] != 0xDC && body[i] != 0xDD))
            return std::nullopt;
        out.push_back(body[i] == 0xDC ? End : Esc);
    }
    return out;
}

Bytes statusReply(const Settings& s)
{
    return unsignedRecord(Command, -1, 1) + unsignedRecord(Channel, 1, s.channel) +
           unsignedRecord(Group, 1, s.group) + octetsRecord(Address, 1, bigEndian(s.address, 4)) +
           unsignedRecord(Mode, 1, s.mode);
}

struct Record {
    int oid = 0;
    int type = 0;
    Bytes value;

    // big-endian, last four bytes
    std::uint32_t number() const
    {
        std::uint32_t v = 0;
        for (std::uint8_t b : value)
            v = v << 8 | b;
        return v;
    }
};

// Whole records of a message; a trailing CRC byte or a cut record ends it.
std::vector<Record> readRecords(const Bytes& m)
{
    std::vector<Record> out;
    std::size_t p = 0;
    bool cut = false; // read past the end: every byte from there reads 0
    auto next = [&]() -> int {
        cut = cut || p >= m.size();
        return cut ? 0 : m[p++];
    };
    // One byte, or two when the first has its top bit set.
    auto twoForm = [&](int first) { return first & 0x80 ? (first & 0x7F) << 8 | next() : first; };
    while (m.size() - p >= 2) {
        Record r;
        int first = next();
        r.oid = first & 0x80 ? (first & 0x3F) << 8 | next() : first & 0x3F;
        if (first & 0x40)
            twoForm(next()); // the index, which nothing here asks for
        int tl = next();
        r.type = tl & 0x80 ? tl & 0x7F : (tl >> 4) & 7;
        int length = tl & 0x80 ? twoForm(next()) : tl & 0x0F;
        if (cut || static_cast<std::size_t>(length) > m.size() - p)
            break;
        r.value.assign(m.begin() + static_cast<long>(p), m.begin() + static_cast<long>(p + length));
        p += static_cast<std::size_t>(length);
        out.push_back(std::move(r));
    }
    return out;
}

} // namespace

std::uint8_t crc8(const std::uint8_t* data, std::size_t length)
{
    std::uint8_t crc = 0xFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint8_t>((crc >> 1) ^ 0xE0) : static_cast<std::uint8_t>(crc >> 1);
    }
    return crc;
}

Bytes encodeFrame(const Bytes& message)
{
    Bytes out{End};
    for (std::uint8_t b : message)
        escapeInto(out, b);
    escapeInto(out, static_cast<std::uint8_t>(~crc8(message.data(), message.size())));
    out.push_back(End);
    return out;
}

Bytes unsignedRecord(int oid, int index, std::uint32_t value)
{
    int width = value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : value <= 0xFFFFFF ? 3 : 4;
    return record(oid, index, 2, bigEndian(value, width));
}

Bytes signedRecord(int oid, int index, std::int32_t value)
{
    auto fits = [value](int bits) { return value >= -(1 << (bits - 1)) && value < (1 << (bits - 1)); };
    int width = fits(8) ? 1 : fits(16) ? 2 : fits(24) ? 3 : 4;
    return record(oid, index, 3, bigEndian(static_cast<std::uint32_t>(value), width));
}

Bytes octetsRecord(int oid, int index, const Bytes& value)
{
    return record(oid, index, 1, value);
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

GatewayStandin::GatewayStandin(std::string folder, std::string name)
    : folder_(std::move(folder)), name_(std::move(name))
{
    comeBack();
}

GatewayStandin::~GatewayStandin()
{
    hangUp();
}

std::string GatewayStandin::slavePath() const
{
    char buf[128] = {};
    return master_ >= 0 && ptsname_r(master_, buf, sizeof buf) == 0 ? buf : "";
}

void GatewayStandin::hangUp()
{
    stopFlood();
    stopReader_ = true;
    if (reader_.joinable())
        reader_.join();
    unlink(entryPath().c_str());
    std::lock_guard lock(writeMutex_);
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

void GatewayStandin::comeBack()
{
    hangUp();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("stand-in: no pseudo-terminal");
    std::string slave = slavePath();
    slave_ = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    std::string temp = entryPath() + ".new";
    unlink(temp.c_str());
    if (slave_ < 0 || symlink(slave.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), entryPath().c_str()) != 0)
        throw std::runtime_error("stand-in: cannot enter " + entryPath());
    pending_.clear();
    stopReader_ = false;
    reader_ = std::thread([this] { readLoop(); });
}

void GatewayStandin::setSettings(const Settings& s)
{
    std::lock_guard lock(mutex_);
    settings_ = s;
}

bool GatewayStandin::isHeld() const
{
    if (slave_ < 0)
        return false;
    struct flock lk{};
    lk.l_type = F_WRLCK;
    lk.l_whence = SEEK_SET;
    termios tio{};
    return fcntl(slave_, F_OFD_GETLK, &lk) == 0 && lk.l_type != F_UNLCK && tcgetattr(slave_, &tio) == 0 &&
           !(tio.c_lflag & (ECHO | ICANON));
}

bool GatewayStandin::waitHeld(std::chrono::milliseconds limit) const
{
    return testsupport::WaitUntil([this] { return isHeld(); }, limit);
}

termios GatewayStandin::lineSettings() const
{
    termios tio{};
    tcgetattr(slave_, &tio);
    return tio;
}

bool GatewayStandin::waitFrames(std::size_t count, std::chrono::milliseconds limit) const
{
    return testsupport::WaitUntil([&] { return locked(frames_).size() >= count; }, limit);
}

bool GatewayStandin::waitTaken(std::chrono::milliseconds limit) const
{
    // The line discipline may not have queued the last bytes yet: an empty
    // queue counts only when seen twice.
    int empty = 0;
    return testsupport::WaitUntil(
        [&] {
            int n = 0;
            bool now = ioctl(slave_, FIONREAD, &n) == 0 && n == 0;
            empty = now ? empty + 1 : 0;
            return empty >= 3;
        },
        limit);
}

bool GatewayStandin::writeBytes(const Bytes& bytes, const std::atomic<bool>* abort)
{
    std::lock_guard lock(writeMutex_);
    auto deadline = std::chrono::steady_clock::now() + hangGuard;
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (master_ < 0 || stopReader_ || (abort && *abort) || std::chrono::steady_clock::now() > deadline)
            return false;
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 20);
    }
    return true;
}

bool GatewayStandin::sendMessage(const Bytes& message)
{
    return waitHeld() && writeBytes(encodeFrame(message));
}

bool GatewayStandin::sendRfPacket(const Bytes& packet, std::optional<std::int32_t> rssi, bool rssiAfter)
{
    Bytes rssiRecord = rssi ? signedRecord(Rssi, -1, *rssi) : Bytes{};
    Bytes packetRecord = octetsRecord(Packet, 1, packet);
    return sendMessage(rssiAfter ? packetRecord + rssiRecord : rssiRecord + packetRecord);
}

bool GatewayStandin::sendRaw(const Bytes& bytes)
{
    return waitHeld() && writeBytes(bytes);
}

void GatewayStandin::startFlood(std::function<Bytes(std::uint64_t n)> make)
{
    stopFlood();
    stopFlood_ = false;
    flood_ = std::thread([this, make = std::move(make)] {
        if (!waitHeld())
            return;
        for (std::uint64_t n = 0; !stopFlood_ && writeBytes(encodeFrame(make(n)), &stopFlood_); ++n)
            ++flooded_;
    });
}

void GatewayStandin::stopFlood()
{
    stopFlood_ = true;
    if (flood_.joinable())
        flood_.join();
}

void GatewayStandin::readLoop()
{
    std::uint8_t buf[4096];
    while (!stopReader_) {
        if (!reading_) {
            std::this_thread::sleep_for(10ms);
            continue;
        }
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) {
            if (p.revents & (POLLHUP | POLLERR))
                std::this_thread::sleep_for(10ms);
            continue;
        }
        ssize_t n = ::read(master_, buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != End) {
                pending_.push_back(buf[i]);
            } else if (!pending_.empty()) {
                handleFrame(pending_);
                pending_.clear();
            }
        }
    }
}

void GatewayStandin::handleFrame(const Bytes& body)
{
    std::optional<Bytes> decoded = unescape(body);
    bool good = decoded && decoded->size() >= 2 &&
                static_cast<std::uint8_t>(~crc8(decoded->data(), decoded->size() - 1)) == decoded->back();
    if (!good)
        return;
    Frame f;
    f.message.assign(decoded->begin(), decoded->end() - 1);
    f.raw = Bytes{End} + body + Bytes{End};
    Bytes reply;
    Bytes sentPacket;
    {
        std::lock_guard lock(mutex_);
        // What the frame asks is noted before anyone sees the frame.
        reply = answer(f.message, sentPacket);
        frames_.push_back(std::move(f));
    }
    if (!reply.empty() && !silent_)
        writeBytes(encodeFrame(reply));
    if (!sentPacket.empty() && !silent_)
        for (const Bytes& packet : meters.answer(sentPacket))
            sendRfPacket(packet, -60);
}

// Notes what a message asks of the gateway (under mutex_); returns the
// answer, if any.
Bytes GatewayStandin::answer(const Bytes& message, Bytes& sentPacket)
{
    std::vector<Record> records = readRecords(message);
    if (records.empty() || records[0].oid != Command || records[0].type != 2)
        return {};
    std::uint32_t command = records[0].number();
    if (command == 6) {
        RfSend send;
        for (const Record& r : records) {
            if (r.oid == Parameter)
                send.parameter = r.number();
            if (r.oid == Packet)
                send.packet = r.value;
        }
        sentPacket = send.packet;
        rfSends_.push_back(std::move(send));
    }
    if (command == 3) {
        for (const Record& r : records) {
            if (r.oid == Channel)
                settings_.channel = r.number();
            if (r.oid == Group)
                settings_.group = r.number();
            if (r.oid == Mode)
                settings_.mode = r.number();
            if (r.oid == Save && r.number() == 2)
                saved_ = true;
        }
    }
    return command == 1 || command == 3 ? statusReply(settings_) : Bytes{};
}

} // namespace standin
