#include "runtime/GoodReadSignals.h"

#include <array>

namespace vandora {

namespace {
constexpr std::size_t kLedTiming = 0;
constexpr std::size_t kBuzzerTiming = 1;
constexpr std::size_t kVibratorTiming = 2;
constexpr std::int32_t kMaxBuzzerUnits = 255;
constexpr std::uint32_t kMinLedMsModel4 = 400;
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

void soundBuzzer(ReaderManager& manager, std::int32_t duration, std::int32_t frequency) {
    if (duration <= 0) {
        return;
    }
    if (duration > kMaxBuzzerUnits) {
        duration = kMaxBuzzerUnits;
    }
    if (manager.SetBuzzerON != nullptr) {
        manager.SetBuzzerON(frequency);
    }
    manager.signalTiming[kBuzzerTiming].wait(static_cast<std::uint32_t>(duration) * 100);
    if (manager.SetBuzzerOFF != nullptr) {
        manager.SetBuzzerOFF();
    }
}

bool playGoodReadSound(std::int32_t index, SoundPlayer& player, const std::string& folder) {
    const char* name = goodReadSoundName(index);
    if (name == nullptr) {
        return false;
    }
    return player.play(systemSoundPath(folder, name));
}

void lightLed(ReaderManager& manager, std::uint32_t milliseconds) {
    if (milliseconds == 0) {
        return;
    }
    if (manager.deviceModel() == DeviceModel::HRT400CE && milliseconds < kMinLedMsModel4) {
        milliseconds = kMinLedMsModel4;
    }
    if (manager.SetLEDLight != nullptr) {
        manager.SetLEDLight(kLedNumber, 1);
    }
    manager.signalTiming[kLedTiming].wait(milliseconds);
    if (manager.SetLEDLight != nullptr) {
        manager.SetLEDLight(kLedNumber, 0);
    }
}

void runVibrator(ReaderManager& manager, std::uint32_t halfSeconds) {
    if (halfSeconds == 0) {
        return;
    }
    if (manager.SetVibratorPower != nullptr) {
        manager.SetVibratorPower(1);
    }
    manager.signalTiming[kVibratorTiming].wait(halfSeconds * 500);
    if (manager.SetVibratorPower != nullptr) {
        manager.SetVibratorPower(0);
    }
}

}  // namespace vandora
