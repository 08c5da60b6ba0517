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
    if (buzzerOn_ != nullptr) {
        buzzerOn_(frequency);
    }
}

void LibrarySignalDevices::buzzerOff() {
    if (buzzerOff_ != nullptr) {
        buzzerOff_();
    }
}

void LibrarySignalDevices::setLed(int led, bool on) {
    if (ledLight_ != nullptr) {
        ledLight_(led, on ? 1 : 0);
    }
}

void LibrarySignalDevices::setVibrator(bool on) {
    if (vibratorPower_ != nullptr) {
        vibratorPower_(on ? 1 : 0);
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
