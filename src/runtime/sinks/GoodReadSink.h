// The good-read signals of each decode: vibrator, LED, and buzzer followed by the sound, each on
// a worker thread of its own so that a long signal never holds up the next decode. Always on;
// each signal's own setting (a zero time, enableLed, sound index 0) keeps it quiet. A signal's
// thread is started by the first decode that gives that signal: a quiet signal costs no thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/Semaphore.h"
#include "platform/SoundPlayer.h"
#include "reader/ReaderManager.h"
#include "runtime/DecodeSink.h"
#include "runtime/WorkerThread.h"

namespace vandora {

class GoodReadSink final : public DecodeSink {
  public:
    // sound may be null: no sound file plays.
    GoodReadSink(ReaderManager& manager, SoundPlayer* sound) : manager_(manager), sound_(sound) {}
    ~GoodReadSink() override { stop(); }
    GoodReadSink(const GoodReadSink&) = delete;
    GoodReadSink& operator=(const GoodReadSink&) = delete;

    // From now on a decode whose signal is on starts that signal's thread if it does not run yet.
    void start() { started_ = true; }
    // Vibrator, LED, then buzzer; each finishes the signal it is giving.
    void stop();
    // Takes the signal settings of this decode and releases the three threads. Before start
    // the releases wait for nobody, which is harmless.
    void deliver(const Delivery& delivery, const AppSettings& settings) override;

  private:
    // Whether the good-read sound of index has a file to play.
    bool soundToPlay(std::int32_t index);
    // Starts the signal's thread when it should run and does not, then wakes it.
    void wake(WorkerThread& thread, Semaphore& request, Semaphore& done,
              void (GoodReadSink::*job)(), const char* name);
    void vibrate();
    void light();
    void beep();

    ReaderManager& manager_;
    SoundPlayer* sound_;
    Semaphore vibrateRequest_{0, 1};
    Semaphore vibrateDone_{0, 1};
    Semaphore ledRequest_{0, 1};
    Semaphore ledDone_{0, 1};
    Semaphore beepRequest_{0, 1};
    Semaphore beepDone_{0, 1};
    // The signal settings as the last decode released the threads with them.
    std::atomic<std::int32_t> vibrationTime_{0};
    std::atomic<std::int32_t> enableLed_{0};
    std::atomic<std::int32_t> buzzerDuration_{0};
    std::atomic<std::int32_t> buzzerFreq_{0};
    std::atomic<std::int32_t> soundIndex_{0};
    std::atomic<std::int32_t> stopFlag_{0};
    bool started_ = false;
    // The last look for a sound file: its index, when, and whether one was there. A read looks
    // again once the look is a second old, so a burst of reads costs no file-system calls.
    std::int32_t soundLookedUp_ = 0;
    std::chrono::steady_clock::time_point soundLookedAt_{};
    bool soundFound_ = false;
    WorkerThread vibrateThread_;
    WorkerThread ledThread_;
    WorkerThread beepThread_;
};

}  // namespace vandora
