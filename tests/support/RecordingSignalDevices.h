// Signal hardware stand-in for tests: records each call with the time it came, and times the
// waits on the given clock unless cancelWaits cut them short.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/SignalDevices.h"

namespace vandora::testing {

class RecordingSignalDevices final : public SignalDevices {
  public:
    explicit RecordingSignalDevices(Clock& clock) : clock_(&clock) {}

    std::vector<std::string> calls;

    void buzzerOn(int frequency) override { record("buzzer on " + std::to_string(frequency)); }
    void buzzerOff() override { record("buzzer off"); }
    void setLed(int led, bool on) override {
        record("led " + std::to_string(led) + (on ? " on" : " off"));
    }
    void setVibrator(bool on) override { record(on ? "vibrator on" : "vibrator off"); }
    bool waitTimed(SignalTimer timer, std::uint32_t ms) override {
        bool& cancelled = cancelled_[static_cast<std::size_t>(timer)];
        if (cancelled) {
            cancelled = false;
            return false;
        }
        clock_->sleepMs(ms);
        return true;
    }
    void cancelWaits() override { cancelled_.fill(true); }

  private:
    void record(const std::string& call) {
        calls.push_back(std::to_string(clock_->nowMs()) + " " + call);
    }
    Clock* clock_;
    std::array<bool, kSignalTimerCount> cancelled_{};
};

}  // namespace vandora::testing
