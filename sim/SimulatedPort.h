// SimulatedPort: a serial port whose other end is an engine model.
//
// The model sees every byte the host writes (with the port's baud rate at that moment, so that a
// model can ignore traffic at a rate it is not set to) and every change of the RTS/DTR lines, and
// answers by scheduling bytes. Each answer byte arrives one byte time (10 bits at the port's
// rate) after the previous one, after the host's own bytes have left the line and after the
// model's delay. All waiting goes through the Clock: with a VirtualClock a read that waits for a
// silent engine returns at once with the clock moved by the time-out; with the real clock the
// same model serves the simulation mode.
//
// Fault switches (open error, vanished device, refused baud rates, failing writes, no modem
// lines) let tests reach the port-level failure paths.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/Clock.h"
#include "platform/EngineReadyLine.h"
#include "platform/SerialPort.h"

namespace vandora::sim {

class SimLink;

// The device behind a simulated port. Called with the port's lock held: a model must not call
// back into the port other than through the SimLink it is given.
class EngineModel {
  public:
    virtual ~EngineModel() = default;
    // Bytes the host wrote, sent at `baud`.
    virtual void onHostBytes(const std::uint8_t* data, std::size_t size, std::uint32_t baud,
                             SimLink& link) = 0;
    // The host changed RTS or DTR. The default follows RTS with CTS at once.
    virtual void onLines(bool rts, bool dtr, SimLink& link);
    // The port was opened (also after a close).
    virtual void onOpen(SimLink& /*link*/) {}
};

// What a model can do to its end of the line.
class SimLink {
  public:
    virtual ~SimLink() = default;
    virtual std::uint64_t nowUs() = 0;
    // Schedules bytes; the first leaves delayUs after the host's last byte (or after the last
    // byte already scheduled, whichever is later).
    virtual void send(const std::uint8_t* data, std::size_t size, std::uint64_t delayUs) = 0;
    void send(const std::vector<std::uint8_t>& bytes, std::uint64_t delayUs = 0) {
        send(bytes.data(), bytes.size(), delayUs);
    }
    virtual void setCts(bool on) = 0;
    virtual std::uint32_t baud() const = 0;
};

// Answers every byte with the same byte after a fixed delay, at any rate.
class EchoModel final : public EngineModel {
  public:
    explicit EchoModel(std::uint64_t delayUs = 0) : delayUs_(delayUs) {}
    void onHostBytes(const std::uint8_t* data, std::size_t size, std::uint32_t baud,
                     SimLink& link) override;
    std::vector<std::uint8_t> received;
    std::uint32_t lastBaud = 0;

  private:
    std::uint64_t delayUs_;
};

struct SimPortFaults {
    int openError = 0;                     // errno returned by open()
    int readError = 0;                     // errno returned by read() (e.g. EIO: device vanished)
    int writeError = 0;                    // errno returned by write()
    bool noModemLines = false;             // getModemStatus() answers ENOTTY
    std::set<std::uint32_t> refusedBauds;  // setSettings() answers EINVAL
    bool outputStuck = false;              // written bytes never leave: drain() runs out its time
};

struct SimPortCounters {
    unsigned opens = 0;
    unsigned closes = 0;
    unsigned purges = 0;
    unsigned setTimeouts = 0;
    unsigned setSettings = 0;
    unsigned writes = 0;
    unsigned modemReads = 0;
};

class SimulatedPort final : public SerialPort, private SimLink {
  public:
    SimulatedPort(Clock& clock, std::shared_ptr<EngineModel> model);
    ~SimulatedPort() override;

    int open() override;
    void close() override;
    bool isOpen() const override;
    int setBufferSizes(std::size_t input, std::size_t output) override;
    int purge(unsigned flags) override;
    int getSettings(PortSettings& out) override;
    int setSettings(const PortSettings& settings) override;
    int getTimeouts(PortTimeouts& out) override;
    int setTimeouts(const PortTimeouts& timeouts) override;
    int read(std::uint8_t* buffer, std::size_t n, std::size_t& got) override;
    int write(const std::uint8_t* data, std::size_t n, std::size_t& written) override;
    int getModemStatus(std::uint32_t& bits) override;
    // Waits on the port's clock until the host's last written byte has left the line at the
    // port's rate (the model has heard it already), at most timeoutMs.
    int drain(std::uint32_t timeoutMs) override;

    // Test access. Each takes the port's lock.
    // Unlocked: only while no other thread uses the port.
    SimPortFaults& faults() { return faults_; }
    // Changes the faults, or anything of the model, under the port's lock, for tests that run
    // the port from other threads.
    void withLock(const std::function<void(SimPortFaults&)>& change);
    SimPortCounters counters() const;
    // What the host wrote since the last clear, in order; only the most recent (at least
    // kKeptHostBytes) are kept, so that a long simulation run does not grow with every command.
    std::vector<std::uint8_t> hostBytes() const;
    static constexpr std::size_t kKeptHostBytes = std::size_t{64} * 1024;
    void clearHostBytes();
    PortSettings settings() const;
    bool ctsOn() const;
    // Time of one byte at a rate, in microseconds (10 bits: start, 8 data, stop).
    static std::uint64_t byteTimeUs(std::uint32_t baud);
    // Called from the destructor (the provider forgets the port).
    std::function<void()> onDestroy;

  private:
    struct Pending {
        std::uint64_t timeUs;
        std::uint64_t burstStartUs;
        std::uint8_t byte;
    };

    // SimLink
    std::uint64_t nowUs() override { return clock_->nowUs(); }
    void send(const std::uint8_t* data, std::size_t size, std::uint64_t delayUs) override;
    void setCts(bool on) override { cts_ = on; }
    std::uint32_t baud() const override { return settings_.baud; }

    Clock* clock_;
    std::shared_ptr<EngineModel> model_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::uint64_t generation_ = 0;
    bool open_ = false;
    bool cts_ = false;
    PortSettings settings_;
    PortTimeouts timeouts_;
    std::deque<Pending> rx_;
    std::uint64_t hostLineFreeUs_ = 0;  // when the host's last written byte has left the line
    std::vector<std::uint8_t> hostBytes_;
    SimPortFaults faults_;
    SimPortCounters counters_;
};

// Provides simulated ports by number; a port without a model fails to open with ENOENT.
class SimulatedPortProvider final : public SerialPortProvider {
  public:
    explicit SimulatedPortProvider(Clock& clock) : clock_(&clock) {}
    void attach(int portNumber, std::shared_ptr<EngineModel> model);
    std::unique_ptr<SerialPort> create(int portNumber) override;
    // The most recently created port for a number (owned by its channel), or null.
    SimulatedPort* lastPort(int portNumber) const;
    // Fault switches applied to every port created for the number from now on.
    SimPortFaults& faultsFor(int portNumber) { return faults_[portNumber]; }

  private:
    Clock* clock_;
    std::shared_ptr<EngineModel> models_[8];
    SimPortFaults faults_[8];
    SimulatedPort* last_[8] = {};
};

// The engine-ready line of a simulated port: 0 while the engine holds CTS on (it has answered a
// raised request line), 1 while it is off; fails while the port does not exist.
class SimEngineReadyLine final : public EngineReadyLine {
  public:
    SimEngineReadyLine(SimulatedPortProvider& provider, int portNumber)
        : provider_(&provider), portNumber_(portNumber) {}
    bool read(std::uint32_t& value) override;
    unsigned calls = 0;

  private:
    SimulatedPortProvider* provider_;
    int portNumber_;
};

}  // namespace vandora::sim
