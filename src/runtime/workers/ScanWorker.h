// The barcode read threads: the scan thread reads once for each trigger press; the continuous
// thread reads again and again while its gate is open (engines that read by themselves, and the
// CCD/Laser engine's alternate mode).
//
// Threading: every member but the thread work is called on the loop thread. The decode time-out
// is read by the scan thread at each read and may be changed from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Semaphore.h"
#include "runtime/WorkerThread.h"
#include "runtime/workers/WorkerParts.h"

namespace vandora {

class ScanWorker {
  public:
    ScanWorker(const WorkerParts& parts, const std::atomic<std::uint32_t>& timeoutSeconds)
        : parts_(parts), timeoutSeconds_(timeoutSeconds) {}

    void start();
    // A single scan: clears the status text and asks for one read; presses during a read queue
    // at most one more.
    void scanOnce();
    bool running() const { return thread_.running(); }
    // Waits for the read in progress.
    void stop() { thread_.stop(); }

  private:
    void work();

    WorkerParts parts_;
    const std::atomic<std::uint32_t>& timeoutSeconds_;
    Semaphore request_{0, 1};
    Semaphore done_{0, 1};
    WorkerThread thread_;
};

class ContinuousScanWorker {
  public:
    explicit ContinuousScanWorker(const WorkerParts& parts) : parts_(parts) {}

    void start();
    // Opens or closes the gate: open, the thread reads again and again; closed, it stops after
    // the read in progress. Works whether the thread runs or not.
    void setOpen(bool on);
    // The CCD/Laser engine's alternate scan mode: each press turns the engine's own scanning and
    // the gate on, the next one off.
    void toggle();
    void stop() { thread_.stop(); }

  private:
    void work();

    WorkerParts parts_;
    std::int32_t toggleFlag_ = 0;
    Semaphore request_{0, 1};
    Semaphore done_{0, 1};
    Semaphore gate_{0, 1};
    WorkerThread thread_;
};

}  // namespace vandora
