// EventLoop: the user-interface thread's message loop.
//
// Every state change of the running service arrives here as a message (trigger keys from other
// programs over D-Bus, decodes from the worker threads) and is handled on the one thread that
// runs the loop. Worker threads post (fire and forget) or send (wait until handled). Besides
// messages the loop watches file descriptors (the bus connection, signals) and runs timers.
//
// The loop is built from one eventfd and poll(), so another event loop (a toolkit's) can drive it
// instead of run(): watch wakeFd() and the fds of watchedFds(), and call dispatchPending() when
// any is readable or nextTimeoutMs() has passed.
//
// Threading: post(), send() and quit() may be called from any thread; everything else only from
// the loop's thread. send() from the loop's own thread handles the message at once.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace vandora {

struct Message {
    std::uint32_t id = 0;
    std::uint32_t wParam = 0;
    std::int64_t lParam = 0;
};

class EventLoop {
  public:
    using Handler = std::function<void(const Message&)>;
    using FdCallback = std::function<void(short revents)>;
    using TimerCallback = std::function<void()>;

    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    bool valid() const { return wakeFd_ >= 0; }
    void setHandler(Handler handler) { handler_ = std::move(handler); }

    void post(const Message& message);
    // Waits until the loop has handled the message; false when the loop quit first.
    bool send(const Message& message);

    // Watches fd for events (POLLIN, POLLOUT); the callback gets the revents. Returns an id.
    int watchFd(int fd, short events, FdCallback callback);
    void changeFdEvents(int id, short events);
    void unwatchFd(int id);
    // Runs the callback once after ms (0: on the next turn). Returns an id.
    int addTimer(std::uint32_t ms, TimerCallback callback);
    void cancelTimer(int id);

    // Runs until quit(); returns the exit code given to quit().
    int run();
    // Ends the loop: messages still queued are dropped and their senders let go (send() returns
    // false), and so is every later post or send.
    void quit(int code = 0);
    bool quitting() const;
    // The code given to quit().
    int exitCode() const;

    // For an outer event loop.
    int wakeFd() const { return wakeFd_; }
    // The watched descriptors with the events asked for (loop thread only).
    std::vector<std::pair<int, short>> watchedFds() const;
    // Milliseconds to the next timer, -1 when none.
    int nextTimeoutMs() const;
    // Handles queued messages, due timers and ready fds (polled without waiting).
    void dispatchPending();

  private:
    struct Pending {
        Message message;
        std::shared_ptr<struct SendState> sent;
    };
    struct Watch {
        int id;
        int fd;
        short events;
        FdCallback callback;
    };
    struct Timer {
        int id;
        std::chrono::steady_clock::time_point due;
        TimerCallback callback;
    };

    void drainWake();
    bool hasMessages() const;
    void handleMessages();
    void runDueTimers();
    void pollOnce(int timeoutMs);

    int wakeFd_ = -1;
    Handler handler_;
    mutable std::mutex mutex_;
    std::deque<Pending> queue_;
    bool quit_ = false;
    int exitCode_ = 0;
    std::atomic<std::thread::id> loopThread_{};
    std::vector<Watch> watches_;
    std::vector<Timer> timers_;
    int nextId_ = 1;
    // One poll's descriptors, the watches they belong to and the ones found ready.
    std::vector<pollfd> pollFds_;
    std::vector<int> pollIds_;
    std::vector<std::pair<int, short>> ready_;
};

}  // namespace vandora
