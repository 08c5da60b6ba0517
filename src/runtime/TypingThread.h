// TypingThread: types the keystrokes of decodes on a thread of its own, so that a slow pace or a
// keystroke sink that stops answering (a hung X server) never holds up the user-interface thread
// and, behind it, the queue record, event and bus signals of the same decode.
//
// Jobs are typed one after another in the order submitted; none is dropped for being late. A
// call into the sink that has not returned within the time-out gives up the rest of that job;
// that is reported once, and once more when the sink answers again. Jobs submitted meanwhile
// wait and are typed when it does.
//
// Threading: submit and waitUntilDone from one thread (the user-interface thread, or a tool);
// the sink is called only on the typing thread. The time-out is watched by a second thread,
// measured on the given clock. Both threads are started by the first job: a service whose
// decodes are never typed runs neither.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/KeyboardSink.h"
#include "runtime/KeyboardEmulation.h"

namespace vandora {

class TypingThread {
  public:
    using Reporter = std::function<void(const std::string& message)>;

    // timeoutMs 0: calls are never given up. report defaults to standard error.
    // Owns the sink: when the sink still does not answer at destruction, the typing thread is
    // left to it (the process is ending) instead of waiting for ever.
    TypingThread(std::unique_ptr<KeyboardSink> sink, Clock& clock, std::uint32_t timeoutMs,
                 Reporter report = {});
    // Borrows the sink, which must answer before this object is destroyed.
    TypingThread(KeyboardSink& sink, Clock& clock, std::uint32_t timeoutMs, Reporter report = {});
    ~TypingThread();
    TypingThread(const TypingThread&) = delete;
    TypingThread& operator=(const TypingThread&) = delete;

    // Queues a job and returns at once.
    void submit(TypingJob job);
    // Waits until every job submitted so far is typed (true) or the sink stopped answering
    // (false).
    bool waitUntilDone();

  private:
    struct State;
    void start();
    static void typist(State& state);
    static void watchdog(State& state);

    std::unique_ptr<State> state_;
    std::thread typist_;
    std::thread watchdog_;
};

}  // namespace vandora
