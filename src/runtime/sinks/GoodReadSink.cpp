#include "runtime/sinks/GoodReadSink.h"

#include <filesystem>
#include <string>

#include "platform/Folders.h"
#include "runtime/GoodReadSignals.h"

namespace vandora {

namespace {
constexpr std::uint32_t kLedMs = 400;
}  // namespace

bool GoodReadSink::soundToPlay(std::int32_t index) const {
    const char* name = goodReadSoundName(index);
    if (sound_ == nullptr || name == nullptr) {
        return false;
    }
    // Two lookups here cost less than waking the thread to find no file.
    std::string plain = systemFolder() + name;
    std::error_code ec;
    return std::filesystem::exists(plain, ec) || std::filesystem::exists(plain + ".wav", ec);
}

void GoodReadSink::start() {
    vibrateThread_.start(vibrateRequest_, &vibrateDone_, stopFlag_, [this] {
        runVibrator(manager_, static_cast<std::uint32_t>(vibrationTime_.load()));
    });
    ledThread_.start(ledRequest_, &ledDone_, stopFlag_, [this] {
        if (enableLed_ != 0) {
            lightLed(manager_, kLedMs);
        }
    });
    beepThread_.start(beepRequest_, &beepDone_, stopFlag_, [this] {
        soundBuzzer(manager_, buzzerDuration_, buzzerFreq_);
        if (sound_ != nullptr) {
            playGoodReadSound(soundIndex_, *sound_, systemFolder());
        }
    });
}

void GoodReadSink::stop() {
    vibrateThread_.stop();
    ledThread_.stop();
    beepThread_.stop();
}

void GoodReadSink::deliver(const Delivery& /*delivery*/, const AppSettings& settings) {
    vibrationTime_ = settings.vibrationTime;
    enableLed_ = settings.enableLed;
    buzzerDuration_ = settings.buzzerDuration;
    buzzerFreq_ = settings.buzzerFreq;
    soundIndex_ = settings.goodReadBeepFileIdx;
    // A thread whose signal is off is not woken: a read then costs no switch to it.
    if (settings.vibrationTime > 0) {
        vibrateRequest_.release();
    }
    if (settings.enableLed != 0) {
        ledRequest_.release();
    }
    if (settings.buzzerDuration > 0 || soundToPlay(settings.goodReadBeepFileIdx)) {
        beepRequest_.release();
    }
}

}  // namespace vandora
