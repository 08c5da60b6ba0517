// LibrarySignalDevices: the signal hardware through the terminal's system library, loaded at run
// time (SystemLibrary). Until a library is loaded, and for entries it lacks, the hardware calls
// do nothing; the timers wait on the clock either way.
//
// Threading: load and unload on one thread while no signal runs; the rest from any thread.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include "platform/Clock.h"
#include "platform/Semaphore.h"
#include "platform/SignalDevices.h"
#include "platform/SystemLibrary.h"

namespace vandora {

class LibrarySignalDevices final : public SignalDevices {
  public:
    explicit LibrarySignalDevices(Clock& clock);

    // Loads the library at path and resolves its entries; false (nothing loaded) when it cannot
    // be opened.
    bool load(const std::string& path);
    void unload();
    bool loaded() const { return library_.loaded(); }
    // Whether the library's buzzer entries were found.
    bool resolved() const { return buzzerOn_ != nullptr; }
    // A timer, for checks of its state.
    const Semaphore& timer(SignalTimer which) const {
        return timers_[static_cast<std::size_t>(which)];
    }

    void buzzerOn(int frequency) override;
    void buzzerOff() override;
    void setLed(int led, bool on) override;
    void setVibrator(bool on) override;
    bool waitTimed(SignalTimer which, std::uint32_t ms) override;
    void cancelWaits() override;

  private:
    SystemLibrary library_;
    // Atomic: a signal thread may be switching its device off while shutdown unloads.
    std::atomic<int (*)()> buzzerOff_{nullptr};
    std::atomic<int (*)(int)> buzzerOn_{nullptr};
    std::atomic<int (*)(int, int)> ledLight_{nullptr};
    std::atomic<int (*)(int)> vibratorPower_{nullptr};
    // Never released while a signal runs, so a wait on one is a sleep that cancelWaits can cut
    // short.
    std::array<Semaphore, kSignalTimerCount> timers_;
};

}  // namespace vandora
