// SerialTrace: a recording of everything that passes the serial ports, for reporting what a real
// engine said and for replaying it against the host later.
//
// One text line per event: `<seconds since the trace began, 6 decimals> <port> <event>`, where
// the event is `>` (host to engine) or `<` (engine to host) followed by the bytes as uppercase
// hexadecimal, `= <rate>` for a rate change, or `purge`. The file opens with two comments: the
// program and its version, then the terminal model and the engines (type or start-up hint).
//
// TracingSerialPort wraps any SerialPort and TracingPortProvider wraps any provider, so that the
// barcode channel, the RFID channel and the RFID binary link are all traced in one place. With
// tracing off nothing is wrapped: the ports cost what they always did.
//
// Decodes can hold personal data: the file is created with mode 0600.
//
// Threading: SerialTrace may be written from any thread (the two channels run on different
// threads); lines are buffered and written by a small thread at least once a second while some
// are waiting, and at close. An idle trace costs no CPU. A TracingSerialPort is used as the port
// it wraps: one thread at a time.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace vandora {

class SerialTrace {
  public:
    explicit SerialTrace(Clock& clock = RealClock::instance());
    ~SerialTrace();
    SerialTrace(const SerialTrace&) = delete;
    SerialTrace& operator=(const SerialTrace&) = delete;

    // Creates or truncates path (mode 0600), writes the header comments
    // `# <program> <version>` and `# <terminal>` and starts the clock of the trace. 0 or errno.
    int open(const std::string& path, const std::string& program, const std::string& terminal);
    bool isOpen() const { return fd_ >= 0; }
    // Writes what is buffered and closes the file. Idempotent.
    void close();

    // `# text`
    void comment(const std::string& text);
    // `> bytes` (toEngine) or `< bytes`; nothing for an empty transfer.
    void bytes(const std::string& port, bool toEngine, const std::uint8_t* data, std::size_t n);
    void rate(const std::string& port, std::uint32_t baud);
    void purge(const std::string& port);
    // Writes what is buffered now.
    void flush();

    // The program's version, as the header names it.
    static const char* version();

  private:
    void startLine(const std::string& port);
    // Ends a line; wakes the flusher when the buffer was empty before it (idle: it sleeps).
    void lineDone(bool wasIdle);
    void writeOut(std::unique_lock<std::mutex>& lock);
    void runFlusher();

    Clock* clock_;
    int fd_ = -1;
    std::uint64_t startUs_ = 0;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::string buffer_;  // guarded by mutex_
    bool stop_ = false;   // guarded by mutex_
    std::thread flusher_;
};

// The `# model=<N> barcode=<type or hint> rfid=<type or hint>` line of a trace's header.
std::string traceTerminalLine(std::int32_t model, std::int32_t barcode, std::int32_t rfid);

class TracingSerialPort final : public SerialPort {
  public:
    TracingSerialPort(std::unique_ptr<SerialPort> inner, SerialTrace& trace, std::string name);

    int open() override;
    void close() override;
    bool isOpen() const override { return inner_->isOpen(); }
    int hangUpFd() const override { return inner_->hangUpFd(); }
    int setBufferSizes(std::size_t input, std::size_t output) override {
        return inner_->setBufferSizes(input, output);
    }
    int purge(unsigned flags) override;
    int getSettings(PortSettings& out) override { return inner_->getSettings(out); }
    int setSettings(const PortSettings& settings) override;
    int getTimeouts(PortTimeouts& out) override { return inner_->getTimeouts(out); }
    int setTimeouts(const PortTimeouts& timeouts) override { return inner_->setTimeouts(timeouts); }
    int read(std::uint8_t* buffer, std::size_t n, std::size_t& got) override;
    int write(const std::uint8_t* data, std::size_t n, std::size_t& written) override;
    int getModemStatus(std::uint32_t& bits) override { return inner_->getModemStatus(bits); }

    SerialPort& inner() { return *inner_; }

  private:
    // The wrapped port is always asked for as much as this buffer holds, so that each of its
    // reads (one read from the device, or a port's own read-ahead emptied whole) is one line.
    static constexpr std::size_t kReadAheadBytes = 4096;

    std::unique_ptr<SerialPort> inner_;
    SerialTrace* trace_;
    std::string name_;
    bool rateKnown_ = false;
    std::uint32_t rate_ = 0;
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
    std::array<std::uint8_t, kReadAheadBytes> ahead_{};
};

// Wraps every port another provider creates; port n is named `COMn`.
class TracingPortProvider final : public SerialPortProvider {
  public:
    TracingPortProvider(SerialPortProvider& inner, SerialTrace& trace)
        : inner_(&inner), trace_(&trace) {}
    std::unique_ptr<SerialPort> create(int portNumber) override;
    std::string devicePath(int portNumber) const override { return inner_->devicePath(portNumber); }

  private:
    SerialPortProvider* inner_;
    SerialTrace* trace_;
};

}  // namespace vandora
