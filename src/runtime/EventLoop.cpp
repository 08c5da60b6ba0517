#include "runtime/EventLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vandora {

namespace {
// The loop this thread is dispatching, if any: a message it posts to that loop is handled before
// the loop waits again, so it needs no wake-up.
thread_local const EventLoop* tDispatching = nullptr;

class Dispatching {
  public:
    explicit Dispatching(const EventLoop* loop) : previous_(tDispatching) { tDispatching = loop; }
    ~Dispatching() { tDispatching = previous_; }
    Dispatching(const Dispatching&) = delete;
    Dispatching& operator=(const Dispatching&) = delete;

  private:
    const EventLoop* previous_;
};
}  // namespace

struct SendState {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool handled = false;
};

EventLoop::EventLoop() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

EventLoop::~EventLoop() {
    quit();
    // Senders still waiting learn that their message was not handled.
    std::deque<Pending> left;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        left.swap(queue_);
    }
    for (Pending& p : left) {
        if (p.sent) {
            std::lock_guard<std::mutex> lock(p.sent->mutex);
            p.sent->done = true;
            p.sent->cv.notify_all();
        }
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

void EventLoop::post(const Message& message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (quit_) {
            return;
        }
        queue_.push_back({message, nullptr});
    }
    if (tDispatching == this) {
        return;
    }
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

bool EventLoop::send(const Message& message) {
    if (std::this_thread::get_id() == loopThread_) {
        if (handler_) {
            handler_(message);
        }
        return true;
    }
    auto state = std::make_shared<SendState>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (quit_) {
            return false;
        }
        queue_.push_back({message, state});
    }
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    std::unique_lock<std::mutex> lock(state->mutex);
    state->cv.wait(lock, [&] { return state->done; });
    return state->handled;
}

int EventLoop::watchFd(int fd, short events, FdCallback callback) {
    int id = nextId_++;
    watches_.push_back({id, fd, events, std::move(callback)});
    return id;
}

void EventLoop::changeFdEvents(int id, short events) {
    for (Watch& w : watches_) {
        if (w.id == id) {
            w.events = events;
        }
    }
}

void EventLoop::unwatchFd(int id) {
    std::erase_if(watches_, [id](const Watch& w) { return w.id == id; });
}

int EventLoop::addTimer(std::uint32_t ms, TimerCallback callback) {
    int id = nextId_++;
    timers_.push_back({id, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms),
                       std::move(callback)});
    return id;
}

void EventLoop::cancelTimer(int id) {
    std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
}

void EventLoop::quit(int code) {
    std::deque<Pending> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!quit_) {
            exitCode_ = code;
        }
        quit_ = true;
        // Nothing more is handled; a sender still waiting must not wait for ever (it may be a
        // worker thread that the quitting window is about to stop).
        dropped.swap(queue_);
    }
    for (Pending& p : dropped) {
        if (p.sent) {
            std::lock_guard<std::mutex> lock(p.sent->mutex);
            p.sent->done = true;
            p.sent->cv.notify_all();
        }
    }
    if (wakeFd_ >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
}

bool EventLoop::quitting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return quit_;
}

int EventLoop::nextTimeoutMs() const {
    if (timers_.empty()) {
        return -1;
    }
    auto now = std::chrono::steady_clock::now();
    auto due = std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
                   return a.due < b.due;
               })->due;
    if (due <= now) {
        return 0;
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
    return static_cast<int>(ms) + 1;
}

void EventLoop::drainWake() {
    // One read takes the whole count of an eventfd.
    std::uint64_t value = 0;
    [[maybe_unused]] ssize_t n = read(wakeFd_, &value, sizeof value);
}

bool EventLoop::hasMessages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !queue_.empty();
}

void EventLoop::handleMessages() {
    for (;;) {
        Pending p;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty()) {
                return;
            }
            p = std::move(queue_.front());
            queue_.pop_front();
        }
        if (handler_) {
            handler_(p.message);
        }
        if (p.sent) {
            std::lock_guard<std::mutex> lock(p.sent->mutex);
            p.sent->handled = true;
            p.sent->done = true;
            p.sent->cv.notify_all();
        }
    }
}

void EventLoop::runDueTimers() {
    auto now = std::chrono::steady_clock::now();
    std::vector<TimerCallback> due;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->due <= now) {
            due.push_back(std::move(it->callback));
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
    for (TimerCallback& cb : due) {
        cb();
    }
}

void EventLoop::pollOnce(int timeoutMs) {
    // Kept between turns so that a turn allocates nothing.
    pollFds_.clear();
    pollIds_.clear();
    pollFds_.push_back({wakeFd_, POLLIN, 0});
    for (const Watch& w : watches_) {
        pollFds_.push_back({w.fd, w.events, 0});
        pollIds_.push_back(w.id);
    }
    int ready = poll(pollFds_.data(), pollFds_.size(), timeoutMs);
    if (ready <= 0) {
        return;
    }
    if ((pollFds_[0].revents & POLLIN) != 0) {
        drainWake();
    }
    ready_.clear();
    for (std::size_t i = 1; i < pollFds_.size(); ++i) {
        if (pollFds_[i].revents != 0) {
            ready_.emplace_back(pollIds_[i - 1], pollFds_[i].revents);
        }
    }
    // A callback may watch or unwatch fds: each is looked up again, and called from a copy.
    for (const auto& [id, revents] : ready_) {
        auto it = std::find_if(watches_.begin(), watches_.end(),
                               [id = id](const Watch& w) { return w.id == id; });
        if (it != watches_.end()) {
            FdCallback callback = it->callback;
            callback(revents);
        }
    }
}

std::vector<std::pair<int, short>> EventLoop::watchedFds() const {
    std::vector<std::pair<int, short>> out;
    out.reserve(watches_.size());
    for (const Watch& w : watches_) {
        out.emplace_back(w.fd, w.events);
    }
    return out;
}

void EventLoop::dispatchPending() {
    loopThread_ = std::this_thread::get_id();
    Dispatching dispatching(this);
    pollOnce(0);
    handleMessages();
    runDueTimers();
    // What the timers posted, before the outer loop waits again.
    handleMessages();
}

int EventLoop::exitCode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exitCode_;
}

int EventLoop::run() {
    loopThread_ = std::this_thread::get_id();
    Dispatching dispatching(this);
    for (;;) {
        handleMessages();
        runDueTimers();
        if (quitting()) {
            break;
        }
        pollOnce(hasMessages() ? 0 : nextTimeoutMs());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return exitCode_;
}

}  // namespace vandora
