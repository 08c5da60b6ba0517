#include "platform/TermiosSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/Clock.h"

namespace vandora {

namespace {

struct SpeedEntry {
    std::uint32_t baud;
    speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool speedOf(std::uint32_t baud, speed_t& out) {
    for (const auto& entry : kSpeeds) {
        if (entry.baud == baud) {
            out = entry.speed;
            return true;
        }
    }
    return false;
}

std::uint32_t baudOf(speed_t speed) {
    for (const auto& entry : kSpeeds) {
        if (entry.speed == speed) {
            return entry.baud;
        }
    }
    return 0;
}

constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
// How often a drain looks at the output queue: a few characters' time at the slowest rate used.
constexpr std::uint64_t kDrainPollUs = 2000;

// Waits for events on fd until deadlineUs (Clock::kForever: no limit). Returns the revents, 0 on
// a time-out, or -errno.
int waitFor(int fd, short events, std::uint64_t deadlineUs) {
    Clock& clock = RealClock::instance();
    for (;;) {
        pollfd entry{fd, events, 0};
        timespec limit{};
        timespec* limitPtr = nullptr;
        if (deadlineUs != Clock::kForever) {
            std::uint64_t now = clock.nowUs();
            if (now >= deadlineUs) {
                return 0;
            }
            std::uint64_t left = deadlineUs - now;
            limit.tv_sec = static_cast<time_t>(left / 1000000);
            limit.tv_nsec = static_cast<long>((left % 1000000) * 1000);
            limitPtr = &limit;
        }
        int rc = ::ppoll(&entry, 1, limitPtr, nullptr);
        if (rc > 0) {
            return entry.revents;
        }
        if (rc == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return -errno;
        }
    }
}

std::uint64_t deadlineFor(std::uint32_t ms) {
    return RealClock::instance().deadlineAfterMs(ms);
}

}  // namespace

std::string serialDevicePath(int portNumber) {
    std::string name = "VANDORA_COM" + std::to_string(portNumber);
    if (const char* env = std::getenv(name.c_str()); env != nullptr && *env != '\0') {
        return env;
    }
    if (portNumber < 1) {
        return {};
    }
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::unique_ptr<SerialPort> LinuxSerialPortProvider::create(int portNumber) {
    return std::make_unique<TermiosSerialPort>(serialDevicePath(portNumber));
}

TermiosSerialPort::TermiosSerialPort(std::string path) : path_(std::move(path)) {}

TermiosSerialPort::~TermiosSerialPort() {
    close();
}

int TermiosSerialPort::open() {
    if (fd_ >= 0) {
        return EBUSY;
    }
    int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    termios tio{};
    if (!::isatty(fd)) {
        ::close(fd);
        return ENOTTY;
    }
    // Not every driver knows exclusive mode; the port still works without it.
    (void)::ioctl(fd, TIOCEXCL);
    if (::tcgetattr(fd, &tio) != 0) {
        int error = errno;
        ::close(fd);
        return error;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        int error = errno;
        ::close(fd);
        return error;
    }
    // Start from the lines as the driver has them (opening usually raises both).
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) == 0) {
        rts_ = (lines & TIOCM_RTS) != 0;
        dtr_ = (lines & TIOCM_DTR) != 0;
    } else {
        rts_ = false;
        dtr_ = false;
    }
    fd_ = fd;
    rxHead_ = rxTail_ = 0;
    return 0;
}

void TermiosSerialPort::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    rxHead_ = rxTail_ = 0;
}

int TermiosSerialPort::setBufferSizes(std::size_t /*input*/, std::size_t /*output*/) {
    return fd_ >= 0 ? 0 : EBADF;
}

int TermiosSerialPort::purge(unsigned flags) {
    if (fd_ < 0) {
        return EBADF;
    }
    bool rx = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    bool tx = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
    if (rx) {
        rxHead_ = rxTail_ = 0;
    }
    if (!rx && !tx) {
        return 0;
    }
    int queue = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
    return ::tcflush(fd_, queue) == 0 ? 0 : errno;
}

int TermiosSerialPort::drain(std::uint32_t timeoutMs) {
    if (fd_ < 0) {
        return EBADF;
    }
    // tcdrain() alone has no time limit: the queue is watched until it is empty, and only then is
    // the driver asked to wait out the character still in the transmitter.
    Clock& clock = RealClock::instance();
    const std::uint64_t deadlineUs = clock.deadlineAfterMs(timeoutMs);
    for (;;) {
        int queued = 0;
        if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) {
            return errno;
        }
        if (queued <= 0) {
            break;
        }
        std::uint64_t now = clock.nowUs();
        if (now >= deadlineUs) {
            return ETIMEDOUT;
        }
        clock.sleepUs(std::min(deadlineUs - now, kDrainPollUs));
    }
    while (::tcdrain(fd_) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

int TermiosSerialPort::getSettings(PortSettings& out) {
    if (fd_ < 0) {
        return EBADF;
    }
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        return errno;
    }
    PortSettings settings;
    settings.baud = baudOf(::cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            settings.dataBits = 5;
            break;
        case CS6:
            settings.dataBits = 6;
            break;
        case CS7:
            settings.dataBits = 7;
            break;
        default:
            settings.dataBits = 8;
            break;
    }
    if ((tio.c_cflag & PARENB) == 0) {
        settings.parity = Parity::None;
    } else {
        settings.parity = (tio.c_cflag & PARODD) != 0 ? Parity::Odd : Parity::Even;
    }
    settings.stopBits = (tio.c_cflag & CSTOPB) != 0 ? StopBits::Two : StopBits::One;
    settings.ctsOutputFlow = (tio.c_cflag & CRTSCTS) != 0;
    settings.rts = rts_;
    settings.dtr = dtr_;
    out = settings;
    return 0;
}

int TermiosSerialPort::setSettings(const PortSettings& settings) {
    if (fd_ < 0) {
        return EBADF;
    }
    speed_t speed = B0;
    if (!speedOf(settings.baud, speed) || settings.dataBits < 5 || settings.dataBits > 8) {
        return EINVAL;
    }
    termios old{};
    if (::tcgetattr(fd_, &old) != 0) {
        return errno;
    }
    termios tio = old;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= kSizes[settings.dataBits - 5] | CLOCAL | CREAD;
    if (settings.parity != Parity::None) {
        tio.c_cflag |= PARENB | (settings.parity == Parity::Odd ? PARODD : 0);
    }
    if (settings.stopBits == StopBits::Two) {
        tio.c_cflag |= CSTOPB;
    }
    if (settings.ctsOutputFlow) {
        tio.c_cflag |= CRTSCTS;
    }
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        return errno;
    }
    // tcsetattr succeeds when any part was taken: a driver that cannot run the rate silently
    // keeps another one. Read back and undo in that case.
    termios now{};
    if (::tcgetattr(fd_, &now) != 0) {
        return errno;
    }
    if (::cfgetospeed(&now) != speed) {
        (void)::tcsetattr(fd_, TCSANOW, &old);
        return EINVAL;
    }
    return applyLines(settings.rts, settings.dtr);
}

int TermiosSerialPort::applyLines(bool rts, bool dtr) {
    int raise = (rts ? TIOCM_RTS : 0) | (dtr ? TIOCM_DTR : 0);
    int drop = (rts ? 0 : TIOCM_RTS) | (dtr ? 0 : TIOCM_DTR);
    for (auto [request, bits] : {std::pair{TIOCMBIS, raise}, std::pair{TIOCMBIC, drop}}) {
        if (bits == 0) {
            continue;
        }
        if (::ioctl(fd_, request, &bits) != 0 && errno != ENOTTY && errno != EINVAL) {
            return errno;
        }
    }
    rts_ = rts;
    dtr_ = dtr;
    return 0;
}

int TermiosSerialPort::getTimeouts(PortTimeouts& out) {
    if (fd_ < 0) {
        return EBADF;
    }
    out = timeouts_;
    return 0;
}

int TermiosSerialPort::setTimeouts(const PortTimeouts& timeouts) {
    if (fd_ < 0) {
        return EBADF;
    }
    timeouts_ = timeouts;
    return 0;
}

std::size_t TermiosSerialPort::takeBuffered(std::uint8_t* buffer, std::size_t n) {
    std::size_t count = std::min(n, rxTail_ - rxHead_);
    std::memcpy(buffer, rx_.data() + rxHead_, count);
    rxHead_ += count;
    if (rxHead_ == rxTail_) {
        rxHead_ = rxTail_ = 0;
    }
    return count;
}

int TermiosSerialPort::read(std::uint8_t* buffer, std::size_t n, std::size_t& got) {
    got = 0;
    if (fd_ < 0) {
        return EBADF;
    }
    if (n == 0) {
        return 0;
    }
    if (rxHead_ < rxTail_) {
        got = takeBuffered(buffer, n);
        return 0;
    }
    // Read first and poll only when nothing is there: under a steady stream most refills then
    // cost one system call. The deadline is fixed on the first wait.
    std::uint64_t deadline = 0;
    bool deadlineSet = false;
    for (;;) {
        ssize_t count = ::read(fd_, rx_.data(), rx_.size());
        if (count > 0) {
            rxHead_ = 0;
            rxTail_ = static_cast<std::size_t>(count);
            got = takeBuffered(buffer, n);
            return 0;
        }
        if (count == 0) {
            // End of file on a terminal: the other side hung up.
            return EIO;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return errno;
        }
        if (!deadlineSet) {
            deadline = deadlineFor(timeouts_.readConstantMs);
            deadlineSet = true;
        }
        int events = waitFor(fd_, POLLIN, deadline);
        if (events < 0) {
            return -events;
        }
        if (events == 0) {
            return 0;
        }
        if ((events & POLLIN) == 0) {
            // Hang-up or error without data: the device is gone.
            return (events & POLLNVAL) != 0 ? EBADF : EIO;
        }
    }
}

int TermiosSerialPort::write(const std::uint8_t* data, std::size_t n, std::size_t& written) {
    written = 0;
    if (fd_ < 0) {
        return EBADF;
    }
    std::uint64_t deadline = 0;
    bool deadlineSet = false;
    while (written < n) {
        ssize_t count = ::write(fd_, data + written, n - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return errno;
        }
        if (!deadlineSet) {
            std::uint32_t ms = timeouts_.writeConstantMs;
            deadline = ms == 0 ? Clock::kForever : deadlineFor(ms);
            deadlineSet = true;
        }
        int events = waitFor(fd_, POLLOUT, deadline);
        if (events < 0) {
            return -events;
        }
        if (events == 0) {
            return 0;
        }
        if ((events & POLLOUT) == 0) {
            return (events & POLLNVAL) != 0 ? EBADF : EIO;
        }
    }
    return 0;
}

int TermiosSerialPort::getModemStatus(std::uint32_t& bits) {
    if (fd_ < 0) {
        return EBADF;
    }
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0) {
        return errno;
    }
    bits = ((lines & TIOCM_CTS) != 0 ? std::uint32_t{kModemCts} : 0U) |
           ((lines & TIOCM_DSR) != 0 ? std::uint32_t{kModemDsr} : 0U) |
           ((lines & TIOCM_RI) != 0 ? std::uint32_t{kModemRing} : 0U) |
           ((lines & TIOCM_CD) != 0 ? std::uint32_t{kModemDcd} : 0U);
    return 0;
}

}  // namespace vandora
