#include "runtime/TypingThread.h"

#include <cstdio>
#include <utility>

#include "platform/Log.h"
#include "platform/ThreadName.h"

namespace vandora {

struct TypingThread::State {
    std::unique_ptr<KeyboardSink> owned;
    KeyboardSink* sink = nullptr;
    Clock* clock = nullptr;
    std::uint32_t timeoutMs = 0;
    Reporter report;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<TypingJob> jobs;
    bool typing = false;    // a job is in progress
    bool stopping = false;  // leave once the queue is empty
    bool typistDone = false;
    // The call into the sink in progress, for the watchdog.
    bool inCall = false;
    std::uint64_t callSerial = 0;
    std::uint64_t callStartUs = 0;
    bool hung = false;
    // Read by the typist before each call: the current job was given up.
    std::atomic<bool> giveUp{false};
};

namespace {

// Marks each call into the sink for the watchdog.
class WatchedKeyboard final : public KeyboardSink {
  public:
    WatchedKeyboard(KeyboardSink& sink, std::mutex& mutex, std::condition_variable& changed,
                    Clock& clock, bool& inCall, std::uint64_t& serial, std::uint64_t& startUs,
                    bool& hung, const std::function<void(const std::string&)>& report)
        : sink_(sink),
          mutex_(mutex),
          changed_(changed),
          clock_(clock),
          inCall_(inCall),
          serial_(serial),
          startUs_(startUs),
          hung_(hung),
          report_(report) {}
    void postCharacters(const std::vector<std::uint32_t>& characters) override {
        begin();
        sink_.postCharacters(characters);
        end();
    }
    void keyEvent(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags) override {
        begin();
        sink_.keyEvent(vk, scan, flags);
        end();
    }
    void setUnicodeEntry(bool on) override { sink_.setUnicodeEntry(on); }
    void endOfText() override { sink_.endOfText(); }

  private:
    void begin() {
        std::lock_guard<std::mutex> lock(mutex_);
        inCall_ = true;
        ++serial_;
        startUs_ = clock_.nowUs();
        changed_.notify_all();
    }
    void end() {
        std::lock_guard<std::mutex> lock(mutex_);
        inCall_ = false;
        if (hung_) {
            hung_ = false;
            report_("the keystroke sink answers again; decodes waiting for it are typed now");
        }
        changed_.notify_all();
    }

    KeyboardSink& sink_;
    std::mutex& mutex_;
    std::condition_variable& changed_;
    Clock& clock_;
    bool& inCall_;
    std::uint64_t& serial_;
    std::uint64_t& startUs_;
    bool& hung_;
    const std::function<void(const std::string&)>& report_;
};

}  // namespace

TypingThread::TypingThread(std::unique_ptr<KeyboardSink> sink, Clock& clock,
                           std::uint32_t timeoutMs, Reporter report)
    : state_(std::make_unique<State>()) {
    state_->owned = std::move(sink);
    state_->sink = state_->owned.get();
    state_->clock = &clock;
    state_->timeoutMs = timeoutMs;
    state_->report = std::move(report);
}

TypingThread::TypingThread(KeyboardSink& sink, Clock& clock, std::uint32_t timeoutMs,
                           Reporter report)
    : state_(std::make_unique<State>()) {
    state_->sink = &sink;
    state_->clock = &clock;
    state_->timeoutMs = timeoutMs;
    state_->report = std::move(report);
}

void TypingThread::start() {
    if (!state_->report) {
        state_->report = [](const std::string& message) { logMessage(LogLevel::Warning, message); };
    }
    State& state = *state_;
    typist_ = std::thread([&state] {
        nameThisThread("typist");
        typist(state);
    });
    if (state.timeoutMs != 0) {
        watchdog_ = std::thread([&state] {
            nameThisThread("typist-watch");
            watchdog(state);
        });
    }
}

TypingThread::~TypingThread() {
    if (!typist_.joinable()) {
        return;  // nothing was ever typed
    }
    State& state = *state_;
    bool done = false;
    {
        std::unique_lock<std::mutex> lock(state.mutex);
        state.stopping = true;
        state.changed.notify_all();
        // What is queued is still typed, unless the sink stopped answering.
        state.changed.wait(lock, [&] { return state.typistDone || state.hung; });
        done = state.typistDone;
    }
    if (watchdog_.joinable()) {
        watchdog_.join();
    }
    if (done) {
        typist_.join();
        return;
    }
    // The typing thread is stuck in the sink and may never come back: it keeps the state and the
    // sink, which therefore are not freed.
    typist_.detach();
    static_cast<void>(state_.release());
}

void TypingThread::submit(TypingJob job) {
    if (!typist_.joinable()) {
        start();
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->jobs.push_back(std::move(job));
    state_->changed.notify_all();
}

bool TypingThread::waitUntilDone() {
    State& state = *state_;
    std::unique_lock<std::mutex> lock(state.mutex);
    state.changed.wait(lock, [&] { return (state.jobs.empty() && !state.typing) || state.hung; });
    return !state.hung;
}

void TypingThread::typist(State& state) {
    WatchedKeyboard watched(*state.sink, state.mutex, state.changed, *state.clock, state.inCall,
                            state.callSerial, state.callStartUs, state.hung, state.report);
    bool afterAnother = false;
    std::unique_lock<std::mutex> lock(state.mutex);
    while (true) {
        state.changed.wait(lock, [&] { return !state.jobs.empty() || state.stopping; });
        if (state.jobs.empty()) {
            break;
        }
        TypingJob job = std::move(state.jobs.front());
        state.jobs.pop_front();
        state.typing = true;
        state.giveUp = false;
        lock.unlock();
        typeJob(job, watched, *state.clock, &state.giveUp, afterAnother);
        afterAnother = true;
        lock.lock();
        state.typing = false;
        state.changed.notify_all();
    }
    state.typistDone = true;
    state.changed.notify_all();
}

void TypingThread::watchdog(State& state) {
    std::unique_lock<std::mutex> lock(state.mutex);
    while (true) {
        state.changed.wait(lock, [&] { return state.inCall || state.typistDone || state.hung; });
        if (state.typistDone || (state.hung && state.stopping)) {
            return;
        }
        if (state.hung) {
            // Given up already; wait for the sink to answer or the end.
            state.changed.wait(lock, [&] { return !state.hung || state.stopping; });
            continue;
        }
        const std::uint64_t serial = state.callSerial;
        const std::uint64_t deadline =
            state.callStartUs + static_cast<std::uint64_t>(state.timeoutMs) * 1000;
        bool answered = state.clock->waitUntil(lock, state.changed, deadline, [&] {
            return !state.inCall || state.callSerial != serial || state.typistDone;
        });
        if (!answered) {
            state.hung = true;
            state.giveUp = true;
            state.report("the keystroke sink has not answered for " +
                         std::to_string(state.timeoutMs) +
                         " ms: the rest of this decode's keystrokes is dropped; later decodes "
                         "wait for the sink");
            state.changed.notify_all();
        }
    }
}

}  // namespace vandora
