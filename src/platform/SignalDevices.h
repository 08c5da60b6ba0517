// SignalDevices: the terminal's good-read signal hardware (buzzer, LEDs, vibrator) and the timers
// that time each signal. The good-read signals drive these; a terminal without the hardware, or
// without its system library, simply does nothing on the calls while the waits still take their
// time.
//
// Threading: each signal runs on its own worker thread; cancelWaits may come from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vandora {

// One timer per signal, so that the signals run side by side.
enum class SignalTimer : std::size_t { Led = 0, Buzzer = 1, Vibrator = 2 };
constexpr std::size_t kSignalTimerCount = 3;

class SignalDevices {
  public:
    virtual ~SignalDevices() = default;
    virtual void buzzerOn(int frequency) = 0;
    virtual void buzzerOff() = 0;
    virtual void setLed(int led, bool on) = 0;
    virtual void setVibrator(bool on) = 0;
    // Waits ms on the signal's timer; false when the wait was cut short.
    virtual bool waitTimed(SignalTimer timer, std::uint32_t ms) = 0;
    // Cuts the running wait of each timer short (or the next one, when none runs), so that
    // shutdown never waits for a signal to finish.
    virtual void cancelWaits() = 0;
};

}  // namespace vandora
