// Clock: the one source of time for every sleep, time-out and tick in the program.
//
// Code never calls sleep_for or reads steady_clock directly; it goes through a Clock so that the
// same logic runs on the real monotonic clock (service, simulation mode) and on a virtual clock in
// tests, where a 1000 ms time-out against a silent simulated engine returns at once with the
// virtual time 1000 ms later.
//
// Threading: all members may be called from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vandora {

class Clock {
  public:
    static constexpr std::uint64_t kForever = UINT64_MAX;

    virtual ~Clock() = default;

    // Monotonic time in microseconds since an arbitrary start.
    virtual std::uint64_t nowUs() = 0;
    std::uint64_t nowMs() { return nowUs() / 1000; }
    // Millisecond tick that wraps at 32 bits.
    std::uint32_t tickCount() { return static_cast<std::uint32_t>(nowMs()); }

    virtual void sleepUs(std::uint64_t us) = 0;
    void sleepMs(std::uint32_t ms) { sleepUs(static_cast<std::uint64_t>(ms) * 1000); }

    // Waits on cv (with lock held) until pred() holds or the clock reaches deadlineUs
    // (kForever: no deadline). Returns pred(). Other threads must notify cv after changing what
    // pred() reads.
    virtual bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           std::uint64_t deadlineUs, const std::function<bool()>& pred) = 0;

    // Deadline of a wait of ms from now; UINT32_MAX means forever.
    std::uint64_t deadlineAfterMs(std::uint32_t ms) {
        return ms == UINT32_MAX ? kForever : nowUs() + static_cast<std::uint64_t>(ms) * 1000;
    }
};

// The real monotonic clock.
class RealClock final : public Clock {
  public:
    std::uint64_t nowUs() override;
    void sleepUs(std::uint64_t us) override;
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   std::uint64_t deadlineUs, const std::function<bool()>& pred) override;

    // The process-wide instance.
    static RealClock& instance();
};

// A clock whose time moves only when somebody sleeps or waits with a deadline. A wait whose
// condition does not hold advances the time to its deadline at once and returns the condition.
// Meant for tests driven from one thread; a wait without deadline blocks for real until another
// thread makes the condition true.
class VirtualClock final : public Clock {
  public:
    explicit VirtualClock(std::uint64_t startUs = 0) : now_(startUs) {}

    std::uint64_t nowUs() override { return now_.load(); }
    void sleepUs(std::uint64_t us) override;
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   std::uint64_t deadlineUs, const std::function<bool()>& pred) override;

    // Moves the time forward (never back).
    void advanceTo(std::uint64_t us);
    void advanceMs(std::uint32_t ms) {
        advanceTo(now_.load() + static_cast<std::uint64_t>(ms) * 1000);
    }
    // Total time slept through sleepUs since construction (waits not counted).
    std::uint64_t sleptUs() const { return slept_.load(); }

  private:
    std::atomic<std::uint64_t> now_;
    std::atomic<std::uint64_t> slept_{0};
};

}  // namespace vandora
