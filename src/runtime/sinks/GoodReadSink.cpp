#include "runtime/sinks/GoodReadSink.h"

#include <filesystem>
#include <string>

#include "platform/Folders.h"
#include "runtime/GoodReadSignals.h"

namespace vandora {

namespace {
constexpr std::uint32_t kLedMs = 400;
constexpr auto kSoundLookAgain = std::chrono::seconds(1);
}  // namespace

bool GoodReadSink::soundToPlay(std::int32_t index) {
    const char* name = goodReadSoundName(index);
    if (sound_ == nullptr || name == nullptr) {
        return false;
    }
    auto now = std::chrono::steady_clock::now();
    if (index == soundLookedUp_ && now - soundLookedAt_ < kSoundLookAgain) {
        return soundFound_;
    }
    // Two lookups here cost less than waking the thread to find no file.
    std::string plain = systemFolder() + name;
    std::error_code ec;
    soundFound_ = std::filesystem::exists(plain, ec) || std::filesystem::exists(plain + ".wav", ec);
    soundLookedUp_ = index;
    soundLookedAt_ = now;
    return soundFound_;
}

void GoodReadSink::vibrate() {
    runVibrator(manager_, static_cast<std::uint32_t>(vibrationTime_.load()));
}

void GoodReadSink::light() {
    if (enableLed_ != 0) {
        lightLed(manager_, kLedMs);
    }
}

void GoodReadSink::beep() {
    soundBuzzer(manager_, buzzerDuration_, buzzerFreq_);
    if (sound_ != nullptr) {
        playGoodReadSound(soundIndex_, *sound_, systemFolder());
    }
}

void GoodReadSink::wake(WorkerThread& thread, Semaphore& request, Semaphore& done,
                        void (GoodReadSink::*job)(), const char* name) {
    if (started_ && !thread.running()) {
        thread.start(
            request, &done, stopFlag_, [this, job] { (this->*job)(); }, name);
    }
    request.release();
}

void GoodReadSink::stop() {
    vibrateThread_.stop();
    ledThread_.stop();
    beepThread_.stop();
    started_ = false;
}

void GoodReadSink::deliver(const Delivery& /*delivery*/, const AppSettings& settings) {
    vibrationTime_ = settings.vibrationTime;
    enableLed_ = settings.enableLed;
    buzzerDuration_ = settings.buzzerDuration;
    buzzerFreq_ = settings.buzzerFreq;
    soundIndex_ = settings.goodReadBeepFileIdx;
    // A thread whose signal is off is not woken, nor started: a read then costs no switch to it.
    if (settings.vibrationTime > 0) {
        wake(vibrateThread_, vibrateRequest_, vibrateDone_, &GoodReadSink::vibrate, "vibrator");
    }
    if (settings.enableLed != 0) {
        wake(ledThread_, ledRequest_, ledDone_, &GoodReadSink::light, "led");
    }
    if (settings.buzzerDuration > 0 || soundToPlay(settings.goodReadBeepFileIdx)) {
        wake(beepThread_, beepRequest_, beepDone_, &GoodReadSink::beep, "beep");
    }
}

}  // namespace vandora
