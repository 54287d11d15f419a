// A serial tty (a USB bridge under the kernel's own driver, or a pseudo-terminal) as a device.
#include "platform/device_selection.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace orvane::platform {
namespace {

using Clock = std::chrono::steady_clock;

// A write time-out of 0 means "no time-out" to D2XX; a tty that never drains must still not
// hold its caller for ever.
constexpr std::chrono::milliseconds kWriteLimit{5000};

struct BaudRate {
    std::uint32_t rate;
    speed_t speed;
};
constexpr BaudRate kBaudRates[] = {
    {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000},
};

// Milliseconds until `deadline`, rounded up so that a wait never ends early.
int msUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

class TtyDevice : public Device {
public:
    explicit TtyDevice(int fd) : fd_(fd) {}
    ~TtyDevice() override {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }

    FT_STATUS read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs,
                   std::uint32_t* received) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, msUntil(deadline));
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return FT_IO_ERROR;
            }
            if (ready == 0) {
                if (Clock::now() >= deadline)
                    return FT_OK; // quiet: *received stays 0
                continue;
            }
            if (p.revents & (POLLERR | POLLNVAL))
                return FT_IO_ERROR;
            if (p.revents & POLLIN) {
                const ssize_t n = ::read(fd_, buffer, length);
                if (n > 0) {
                    *received = static_cast<std::uint32_t>(n);
                    return FT_OK;
                }
                // EIO: the far end of a pty closed. 0 after POLLIN: the line hung up.
                if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    return FT_IO_ERROR;
            }
            // Hung up (a bridge pulled out, a pty whose far end closed) once no data is left.
            if (p.revents & POLLHUP)
                return FT_IO_ERROR;
        }
    }

    FT_STATUS write(const void* data, std::uint32_t length, std::uint32_t timeoutMs,
                    std::uint32_t* written) override {
        const auto limit = timeoutMs ? std::chrono::milliseconds(timeoutMs)
                                     : std::chrono::milliseconds(kWriteLimit);
        const auto deadline = Clock::now() + limit;
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        std::uint32_t done = 0;
        while (done < length) {
            const ssize_t n = ::write(fd_, bytes + done, length - done);
            if (n > 0) {
                done += static_cast<std::uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN) {
                *written = done;
                return FT_IO_ERROR;
            }
            pollfd p{fd_, POLLOUT, 0};
            const int wait = msUntil(deadline);
            if (wait == 0)
                break;
            if (::poll(&p, 1, wait) < 0 && errno != EINTR) {
                *written = done;
                return FT_IO_ERROR;
            }
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
                *written = done;
                return FT_IO_ERROR;
            }
        }
        *written = done;
        return FT_OK;
    }

    FT_STATUS setBaudRate(std::uint32_t baudRate) override {
        for (const BaudRate& b : kBaudRates) {
            if (b.rate == baudRate) {
                return update([&](termios& t) {
                    cfsetispeed(&t, b.speed);
                    cfsetospeed(&t, b.speed);
                });
            }
        }
        return FT_INVALID_BAUD_RATE;
    }

    FT_STATUS setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                     std::uint8_t parity) override {
        return update([&](termios& t) {
            t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
            t.c_cflag |= wordLength == 7 ? CS7 : CS8;
            if (stopBits == 2)
                t.c_cflag |= CSTOPB;
            switch (parity) {
            case 1:
                t.c_cflag |= PARENB | PARODD;
                break; // odd
            case 2:
                t.c_cflag |= PARENB;
                break; // even
            case 3:
                t.c_cflag |= PARENB | PARODD | CMSPAR;
                break; // mark
            case 4:
                t.c_cflag |= PARENB | CMSPAR;
                break; // space
            default:
                break; // none
            }
        });
    }

    FT_STATUS setFlowControl(std::uint16_t flowControl, std::uint8_t xon,
                             std::uint8_t xoff) override {
        if (flowControl == 0x0200)
            return FT_INVALID_PARAMETER; // DTR/DSR handshake: termios has none
        return update([&](termios& t) {
            t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
            t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
            if (flowControl == 0x0100)
                t.c_cflag |= CRTSCTS;
            if (flowControl == 0x0400) {
                t.c_iflag |= IXON | IXOFF;
                t.c_cc[VSTART] = xon;
                t.c_cc[VSTOP] = xoff;
            }
        });
    }

private:
    template <typename Change> FT_STATUS update(Change change) {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0)
            return FT_IO_ERROR;
        change(t);
        return ::tcsetattr(fd_, TCSANOW, &t) == 0 ? FT_OK : FT_IO_ERROR;
    }

    int fd_;
};

} // namespace

FT_STATUS openTtyDevice(const std::string& path, std::unique_ptr<Device>& device) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            reportNoAccess(path);
        return error == ENOENT || error == ENXIO || error == ENODEV ? FT_DEVICE_NOT_FOUND
                                                                    : FT_DEVICE_NOT_OPENED;
    }
    // Exclusive: TIOCEXCL keeps other openers out (root excepted), the lock keeps out other
    // programs that take it, root or not.
    termios t{};
    if (!::isatty(fd) || ::ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::tcgetattr(fd, &t) != 0) {
        ::close(fd);
        return FT_DEVICE_NOT_OPENED;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        ::close(fd);
        return FT_DEVICE_NOT_OPENED;
    }
    // Drivers that know low-latency mode (ftdi_sio among them) pass bytes on at once instead of
    // holding them for their latency timer; others (a pty) refuse, which is fine.
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    ::tcflush(fd, TCIOFLUSH);
    device = std::make_unique<TtyDevice>(fd);
    return FT_OK;
}

} // namespace orvane::platform
