#include "runtime/GoodReadSignals.h"

#include <algorithm>
#include <array>

#include "reader/TerminalModels.h"

namespace vandora {

namespace {
constexpr std::int32_t kMaxBuzzerUnits = 255;
constexpr int kLedNumber = 2;

constexpr std::array<const char*, 9> kSounds{{"Default", "Hwandsw", "MenuPop", "MsgBox", "Notify",
                                              "VoicBeep", "Alarm2", "Alarm3", "LowBatt"}};
}  // namespace

const char* goodReadSoundName(std::int32_t index) {
    if (index < 1 || index > static_cast<std::int32_t>(kSounds.size())) {
        return nullptr;
    }
    return kSounds[static_cast<std::size_t>(index - 1)];
}

void soundBuzzer(SignalDevices& devices, std::int32_t duration, std::int32_t frequency) {
    if (duration <= 0) {
        return;
    }
    if (duration > kMaxBuzzerUnits) {
        duration = kMaxBuzzerUnits;
    }
    devices.buzzerOn(frequency);
    devices.waitTimed(SignalTimer::Buzzer, static_cast<std::uint32_t>(duration) * 100);
    devices.buzzerOff();
}

bool playGoodReadSound(std::int32_t index, SoundPlayer& player, const std::string& folder) {
    const char* name = goodReadSoundName(index);
    if (name == nullptr) {
        return false;
    }
    return player.play(systemSoundPath(folder, name));
}

void lightLed(SignalDevices& devices, std::int32_t model, std::uint32_t milliseconds) {
    if (milliseconds == 0) {
        return;
    }
    milliseconds = std::max(milliseconds, terminalModel(model).minLedMs);
    devices.setLed(kLedNumber, true);
    devices.waitTimed(SignalTimer::Led, milliseconds);
    devices.setLed(kLedNumber, false);
}

void runVibrator(SignalDevices& devices, std::uint32_t halfSeconds) {
    if (halfSeconds == 0) {
        return;
    }
    devices.setVibrator(true);
    devices.waitTimed(SignalTimer::Vibrator, halfSeconds * 500);
    devices.setVibrator(false);
}

void soundBuzzer(ReaderManager& manager, std::int32_t duration, std::int32_t frequency) {
    soundBuzzer(manager.signals(), duration, frequency);
}

void lightLed(ReaderManager& manager, std::uint32_t milliseconds) {
    lightLed(manager.signals(), manager.deviceModel(), milliseconds);
}

void runVibrator(ReaderManager& manager, std::uint32_t halfSeconds) {
    runVibrator(manager.signals(), halfSeconds);
}

}  // namespace vandora
