// TermiosSerialPort: the SerialPort of a Linux terminal device (a UART, a USB adapter, or a
// pseudo-terminal in tests), driven through termios.
//
// Contract, on top of SerialPort's (all results are 0 for success or an errno value):
// - open() opens the path non-blocking and exclusively (TIOCEXCL where the driver has it), puts
//   the line in raw mode, 8N1, no flow control, receiver on, modem control lines ignored for
//   carrier. A path that is not a terminal fails with ENOTTY; opening an open port fails with
//   EBUSY. The rate the device had is kept until setSettings().
// - read() takes bytes from an internal 4096-byte buffer when it holds any (no system call);
//   otherwise it refills the buffer with one read() of whatever the driver has, waiting in poll()
//   for at most readConstantMs (0: return at once; UINT32_MAX: no limit). Interval and
//   multiplier are not used. A time-out returns 0 with got = 0. A device that goes away (hang-up,
//   error, EIO) returns EIO or the kernel's errno; it never waits past the time-out.
// - write() writes all bytes, or as many as fit within writeConstantMs (0: no limit); a time-out
//   is not an error, written tells how many left.
// - purge() flushes the directions asked in the driver; a receive purge also drops the internal
//   buffer. On a pseudo-terminal a transmit purge also drops what the other end has not read yet.
// - drain() watches the driver's output queue (TIOCOUTQ) until it is empty or the time is up,
//   then lets the driver send the last character (tcdrain); it never blocks on a queue that does
//   not move.
// - setSettings() maps the rate to a standard termios speed (50 to 4000000); any other rate, or a
//   rate the driver does not keep, fails with EINVAL and the previous settings stay in force.
//   RTS and DTR are driven through TIOCMBIS/TIOCMBIC; a device without modem lines (a
//   pseudo-terminal) ignores them, so that the rate can still be set there. getSettings()
//   reports the lines last asked for.
// - getModemStatus() passes the driver's answer through: ENOTTY on a pseudo-terminal.
// - setBufferSizes() has no Linux counterpart: the driver's own buffers are used as they are, and
//   the call succeeds on an open port.
// - Time-outs are kept in the object (also across close and open).
// Threading: one thread at a time per port (callers serialise with the channel lock); close()
// must not run while another thread is inside read() or write(). No background threads: an idle
// open port costs no CPU.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/SerialPort.h"

namespace vandora {

class TermiosSerialPort final : public SerialPort {
  public:
    static constexpr std::size_t kReadBufferBytes = 4096;

    explicit TermiosSerialPort(std::string path);
    ~TermiosSerialPort() override;
    TermiosSerialPort(const TermiosSerialPort&) = delete;
    TermiosSerialPort& operator=(const TermiosSerialPort&) = delete;

    int open() override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }
    int hangUpFd() const override { return fd_; }
    int setBufferSizes(std::size_t input, std::size_t output) override;
    int purge(unsigned flags) override;
    int getSettings(PortSettings& out) override;
    int setSettings(const PortSettings& settings) override;
    int getTimeouts(PortTimeouts& out) override;
    int setTimeouts(const PortTimeouts& timeouts) override;
    int read(std::uint8_t* buffer, std::size_t n, std::size_t& got) override;
    int write(const std::uint8_t* data, std::size_t n, std::size_t& written) override;
    int getModemStatus(std::uint32_t& bits) override;
    int drain(std::uint32_t timeoutMs) override;

    const std::string& path() const { return path_; }

  private:
    std::size_t takeBuffered(std::uint8_t* buffer, std::size_t n);
    int applyLines(bool rts, bool dtr);

    std::string path_;
    int fd_ = -1;
    PortTimeouts timeouts_;
    bool rts_ = false;
    bool dtr_ = false;
    std::size_t rxHead_ = 0;  // next unread byte in rx_
    std::size_t rxTail_ = 0;  // end of the bytes in rx_
    std::array<std::uint8_t, kReadBufferBytes> rx_;
};

// Ports by number on this machine: port n is serialDevicePath(n).
class LinuxSerialPortProvider final : public SerialPortProvider {
  public:
    std::unique_ptr<SerialPort> create(int portNumber) override;
    std::string devicePath(int portNumber) const override { return serialDevicePath(portNumber); }
};

}  // namespace vandora
