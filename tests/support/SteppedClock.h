// Virtual time that only the test's thread moves and that the other threads follow: a wait on
// another thread (the RFID idle listener) ends when its condition holds or when the test has moved
// the time past its deadline, never by itself. seenUs() says up to which time such a waiter looked
// and went on waiting: once it reaches the time the test moved to, the waiter has demonstrably not
// acted on that time.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Clock.h"

namespace vandora::testing {

class SteppedClock final : public Clock {
  public:
    std::uint64_t nowUs() override { return time_.nowUs(); }
    void sleepUs(std::uint64_t us) override {
        if (owned()) {
            time_.sleepUs(us);
            return;
        }
        std::uint64_t until = nowUs() + us;
        while (nowUs() < until) {
            std::this_thread::sleep_for(kLook);
        }
    }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   std::uint64_t deadlineUs, const std::function<bool()>& pred) override {
        if (owned()) {
            return time_.waitUntil(lock, cv, deadlineUs, pred);
        }
        // Woken by the condition's notification, and every little while to look at the time.
        while (!pred()) {
            std::uint64_t now = nowUs();
            if (now >= deadlineUs) {
                return false;
            }
            std::uint64_t seen = seen_.load();
            while (now > seen && !seen_.compare_exchange_weak(seen, now)) {
            }
            cv.wait_for(lock, kLook);
        }
        return true;
    }
    void advanceMs(std::uint32_t ms) { time_.advanceMs(ms); }
    std::uint64_t seenUs() const { return seen_.load(); }

    // Returns once a waiter on another thread looked at the time now and went on waiting; false
    // only when none did within bound (a bound for a hang).
    bool waiterSawNow(std::chrono::seconds bound = std::chrono::seconds(60)) {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (seenUs() < nowUs()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(kLook);
        }
        return true;
    }

  private:
    static constexpr std::chrono::milliseconds kLook{1};
    bool owned() const { return std::this_thread::get_id() == owner_; }
    std::thread::id owner_ = std::this_thread::get_id();
    VirtualClock time_;
    std::atomic<std::uint64_t> seen_{0};
};

}  // namespace vandora::testing
