// Virtual time that only the thread that made it moves. Any other thread (the RFID idle listener)
// waits until it is woken instead of running its time-out out at once: on a plain virtual clock
// the listener would close the module's port again and again, at no fixed point of the test.
#pragma once

#include <thread>

#include "platform/Clock.h"

namespace vandora::testing {

class OwnerClock final : public Clock {
  public:
    std::uint64_t nowUs() override { return time_.nowUs(); }
    void sleepUs(std::uint64_t us) override {
        if (owned()) {
            time_.sleepUs(us);
        }
    }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   std::uint64_t deadlineUs, const std::function<bool()>& pred) override {
        return time_.waitUntil(lock, cv, owned() ? deadlineUs : kForever, pred);
    }
    void advanceMs(std::uint32_t ms) { time_.advanceMs(ms); }

  private:
    bool owned() const { return std::this_thread::get_id() == owner_; }
    std::thread::id owner_ = std::this_thread::get_id();
    VirtualClock time_;
};

}  // namespace vandora::testing
