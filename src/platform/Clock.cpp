#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace vandora {

namespace {
using Steady = std::chrono::steady_clock;
}

std::uint64_t RealClock::nowUs() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Steady::now().time_since_epoch())
            .count());
}

void RealClock::sleepUs(std::uint64_t us) {
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

bool RealClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                          std::uint64_t deadlineUs, const std::function<bool()>& pred) {
    if (deadlineUs == kForever) {
        cv.wait(lock, pred);
        return true;
    }
    Steady::time_point deadline{std::chrono::microseconds(deadlineUs)};
    return cv.wait_until(lock, deadline, pred);
}

RealClock& RealClock::instance() {
    static RealClock clock;
    return clock;
}

void VirtualClock::sleepUs(std::uint64_t us) {
    slept_ += us;
    advanceTo(now_.load() + us);
}

void VirtualClock::advanceTo(std::uint64_t us) {
    std::uint64_t current = now_.load();
    while (us > current && !now_.compare_exchange_weak(current, us)) {
    }
}

bool VirtualClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                             std::uint64_t deadlineUs, const std::function<bool()>& pred) {
    if (pred()) {
        return true;
    }
    if (deadlineUs == kForever) {
        cv.wait(lock, pred);
        return true;
    }
    advanceTo(deadlineUs);
    return pred();
}

}  // namespace vandora
