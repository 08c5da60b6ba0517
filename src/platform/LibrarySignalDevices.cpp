#include "platform/LibrarySignalDevices.h"

namespace vandora {

LibrarySignalDevices::LibrarySignalDevices(Clock& clock)
    : timers_{Semaphore(0, 1, clock), Semaphore(0, 1, clock), Semaphore(0, 1, clock)} {}

bool LibrarySignalDevices::load(const std::string& path) {
    unload();
    if (!library_.load(path)) {
        return false;
    }
    buzzerOff_ = reinterpret_cast<int (*)()>(library_.resolve("SetBuzzerOFF"));
    buzzerOn_ = reinterpret_cast<int (*)(int)>(library_.resolve("SetBuzzerON"));
    ledLight_ = reinterpret_cast<int (*)(int, int)>(library_.resolve("SetLEDLight"));
    vibratorPower_ = reinterpret_cast<int (*)(int)>(library_.resolve("SetVibratorPower"));
    return true;
}

void LibrarySignalDevices::unload() {
    buzzerOff_ = nullptr;
    buzzerOn_ = nullptr;
    ledLight_ = nullptr;
    vibratorPower_ = nullptr;
    library_.unload();
}

void LibrarySignalDevices::buzzerOn(int frequency) {
    if (auto call = buzzerOn_.load()) {
        call(frequency);
    }
}

void LibrarySignalDevices::buzzerOff() {
    if (auto call = buzzerOff_.load()) {
        call();
    }
}

void LibrarySignalDevices::setLed(int led, bool on) {
    if (auto call = ledLight_.load()) {
        call(led, on ? 1 : 0);
    }
}

void LibrarySignalDevices::setVibrator(bool on) {
    if (auto call = vibratorPower_.load()) {
        call(on ? 1 : 0);
    }
}

bool LibrarySignalDevices::waitTimed(SignalTimer which, std::uint32_t ms) {
    return !timers_[static_cast<std::size_t>(which)].wait(ms);
}

void LibrarySignalDevices::cancelWaits() {
    for (Semaphore& timer : timers_) {
        timer.release();
    }
}

}  // namespace vandora
