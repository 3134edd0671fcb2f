#pragma once
// A serial line in raw mode, opened exclusively, read one byte at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The folder where "COMn" names live: $ORVELO_DEVICE_DIR, else /dev/orvelo.
std::string serialDeviceFolder();
// The folder of the machine's devices: $ORVELO_DEV_ROOT, else /dev.
std::string machineDeviceFolder();

// A name holding '/' is a device path; any other name is looked up in the
// device folder.
std::string serialDevicePath(std::string_view name);

// Names for the port dialog: COM0..COM98 of the device folder that lead to
// a terminal, then the machine's serial devices as paths (ttyUSB*, ttyACM*,
// and ttyS* with a UART behind), in natural order. Each is probed without
// blocking and without touching its settings; a port another holder has is
// left out, as it would not open.
std::vector<std::string> listSerialPorts();

// Natural order of port names: digit runs compare as numbers, so COM2
// comes before COM10 and ttyUSB2 before ttyUSB10.
bool serialPortBefore(std::string_view a, std::string_view b);

class SerialPort {
public:
    enum class Read { Byte, Timeout, Failed };

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the named port for this object alone, raw, 8N1 at the given
    // speed (1200..115200; others give 9600). Anything that is no terminal
    // (ENOTTY), or a port another holder has (EBUSY), fails; openError()
    // then tells why, as an errno value.
    bool open(std::string_view name, int baud);
    int openError() const { return openError_; }
    // Puts the line back to 9600 8N1 and lets it go.
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Waits up to timeoutMs for one byte. A hang-up or an error is Failed.
    Read readByte(std::uint8_t& byte, int timeoutMs);
    // Writes all bytes or fails; a line that takes no bytes for longer than
    // deadlineMs in total counts as failed, so a stalled peer cannot hold
    // the caller.
    bool writeAll(const std::uint8_t* data, std::size_t length, int deadlineMs);

private:
    int fd_ = -1;
    int openError_ = 0;
    // The kernel hands over what it has; the caller still takes one byte
    // per call.
    std::uint8_t in_[256] = {};
    std::size_t inPos_ = 0;
    std::size_t inLen_ = 0;
};

} // namespace platform
