// PtyBridge: an engine model behind a real pseudo-terminal, in real time.
//
// The host opens the slave side like any serial port. A thread reads what the host writes on the
// master side and hands it to the model together with the rate the host's port is set to (read
// from the terminal settings, which the master shares with the slave), and writes each of the
// model's answers to the master whole, at the time the model scheduled it plus its line time at
// that rate. A pseudo-terminal has no modem lines, so the model's CTS changes go nowhere.
//
// Threading: start() and stop() from one thread. The model is called on the bridge's thread
// with the bridge's lock held; withModel() runs code under the same lock, so that a test can
// read the model's log and counters while the bridge runs.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimulatedPort.h"
#include "platform/Clock.h"
#include "platform/SerialTrace.h"

namespace vandora::sim {

class PtyBridge {
  public:
    explicit PtyBridge(std::shared_ptr<EngineModel> model, Clock& clock = RealClock::instance());
    ~PtyBridge();
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    // Opens the pseudo-terminal, makes its slave side raw and starts serving. 0 or an errno
    // value; EBUSY when already started.
    int start();
    // Stops serving and closes the master side (the slave path goes away). Idempotent.
    void stop();
    const std::string& slavePath() const { return slavePath_; }
    // Records what passes the line, as the engine sees it, under the port name given (before
    // start()). Purges are the host's and are not seen here; a rate is traced when the host's
    // first bytes at it arrive.
    void setTrace(SerialTrace* trace, std::string port) {
        trace_ = trace;
        tracePort_ = std::move(port);
    }

    template <class F>
    auto withModel(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f();
    }

  private:
    class Link;
    struct Burst {
        std::uint64_t timeUs = 0;  // when its last byte is through
        std::vector<std::uint8_t> bytes;
    };

    void run();
    std::uint32_t hostBaud() const;
    void flushDue();
    void waitForStop(int ms);

    std::shared_ptr<EngineModel> model_;
    Clock* clock_;
    std::mutex mutex_;
    std::unique_ptr<Link> link_;
    std::deque<Burst> out_;  // guarded by mutex_
    int master_ = -1;
    int wake_[2] = {-1, -1};
    std::string slavePath_;
    std::thread thread_;
    SerialTrace* trace_ = nullptr;
    std::string tracePort_;
    std::uint32_t tracedBaud_ = 0;  // on the bridge's thread only
};

}  // namespace vandora::sim
