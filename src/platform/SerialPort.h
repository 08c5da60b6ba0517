// SerialPort: one serial device as the reader channel sees it.
//
// Contract (all results are 0 for success or an errno value):
// - open() opens the device for reading and writing, exclusively. A path that is not a terminal
//   fails with ENOTTY.
// - read() waits at most the read total constant of the time-outs in force for the first byte
//   and returns what has arrived (up to n bytes; the port may buffer internally). A time-out is
//   not an error: it returns 0 with got = 0. It never blocks longer than the time-out in force.
//   A device that disappears returns EIO (or the errno the kernel gives).
// - write() writes all n bytes or as many as the write total constant allows; written tells.
// - drain() waits until every written byte has left the port, for at most timeoutMs: 0 when
//   they have, ETIMEDOUT when some are still queued then (a line that takes nothing), or the
//   errno of a device that went away. A port without a queue of its own has nothing to wait for.
// - getModemStatus() returns ENOTTY on a port without modem lines (a pseudo-terminal).
// - setSettings() applies baud rate, framing and the RTS/DTR lines together; an unsupported rate
//   fails with EINVAL and leaves the previous settings in force.
// Threading: one thread at a time per port; callers serialise (the channel lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vandora {

enum class Parity : std::uint8_t { None, Odd, Even };
enum class StopBits : std::uint8_t { One, Two };

struct PortSettings {
    std::uint32_t baud = 9600;
    std::uint8_t dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool ctsOutputFlow = false;
    bool rts = false;  // RTS control enabled (line raised)
    bool dtr = false;  // DTR control enabled (line raised)
    bool operator==(const PortSettings&) const = default;
};

// Only total constants are used: a read returns as soon as a byte arrives or after
// readConstantMs; a write gives up after writeConstantMs.
struct PortTimeouts {
    std::uint32_t readIntervalMs = 0;
    std::uint32_t readMultiplier = 0;
    std::uint32_t readConstantMs = 0;
    std::uint32_t writeMultiplier = 0;
    std::uint32_t writeConstantMs = 0;
    bool operator==(const PortTimeouts&) const = default;
};

// Modem status bits as reported by getModemStatus().
enum ModemStatus : std::uint32_t {
    kModemCts = 0x10,
    kModemDsr = 0x20,
    kModemRing = 0x40,
    kModemDcd = 0x80,
};

// Purge flags: abort and clear each direction.
enum PurgeFlags : unsigned {
    kPurgeTxAbort = 0x1,
    kPurgeRxAbort = 0x2,
    kPurgeTxClear = 0x4,
    kPurgeRxClear = 0x8,
    kPurgeAll = 0xF,
};

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    virtual int open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual int setBufferSizes(std::size_t input, std::size_t output) = 0;
    virtual int purge(unsigned flags) = 0;
    virtual int getSettings(PortSettings& out) = 0;
    virtual int setSettings(const PortSettings& settings) = 0;
    virtual int getTimeouts(PortTimeouts& out) = 0;
    virtual int setTimeouts(const PortTimeouts& timeouts) = 0;
    virtual int read(std::uint8_t* buffer, std::size_t n, std::size_t& got) = 0;
    virtual int write(const std::uint8_t* data, std::size_t n, std::size_t& written) = 0;
    virtual int getModemStatus(std::uint32_t& bits) = 0;
    virtual int drain(std::uint32_t /*timeoutMs*/) { return 0; }
    // A descriptor that an event loop may watch (with no events asked for) to learn at once that
    // the device hung up; -1 when the port has none. Never read from it.
    virtual int hangUpFd() const { return -1; }
};

// Creates the port object for a port number ("COMn"); it is not opened yet.
class SerialPortProvider {
  public:
    virtual ~SerialPortProvider() = default;
    virtual std::unique_ptr<SerialPort> create(int portNumber) = 0;
    // The device path behind a port number, to watch for the device coming back; empty when the
    // ports are not devices.
    virtual std::string devicePath(int /*portNumber*/) const { return {}; }
};

// Device path of port n: $VANDORA_COMn, else /dev/ttyS<n-1>.
std::string serialDevicePath(int portNumber);

}  // namespace vandora
