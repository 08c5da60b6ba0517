// Semaphore: a counting semaphore with a maximum count, used as the binary signal of worker
// threads, channel locks and timing signals.
//
// Contract:
// - release() adds one unless the count is at its maximum; then it fails and returns false, so a
//   burst of requests collapses into one.
// - wait(ms) takes one count, waiting up to ms milliseconds (kInfinite: no limit); true when a
//   count was taken. Waits go through the Clock, so they follow virtual time in tests.
// - Any member may be called from any thread. Not copyable; destroy only when no thread waits.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/Clock.h"

namespace vandora {

class Semaphore {
  public:
    static constexpr std::uint32_t kInfinite = UINT32_MAX;

    explicit Semaphore(std::uint32_t initial = 0, std::uint32_t maximum = 1,
                       Clock& clock = RealClock::instance());
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    bool release();
    bool wait(std::uint32_t timeoutMs = kInfinite);
    bool tryWait() { return wait(0); }
    std::uint32_t count() const;
    // Sets the count back to the initial value (used when an owner re-creates its semaphores).
    void reset(std::uint32_t initial);

  private:
    Clock* clock_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::uint32_t count_;
    std::uint32_t maximum_;
};

}  // namespace vandora
