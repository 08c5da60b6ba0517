// WorkerThread: a thread that blocks on its own semaphore, does one job per release and leaves
// when its stop flag is set. A burst of releases collapses into one job (the semaphore's maximum
// is 1). Stopping sets the flag, releases the semaphore once and waits for the done signal, so a
// job in progress finishes first.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/Semaphore.h"

namespace vandora {

class WorkerThread {
  public:
    WorkerThread() = default;
    ~WorkerThread() { stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the loop: wait on `request`, leave when *stopFlag is 1, else run job. `done` (may be
    // null) is released when the loop ends. `name` (may be null) names the thread.
    void start(Semaphore& request, Semaphore* done, std::atomic<std::int32_t>& stopFlag,
               std::function<void()> job, const char* name = nullptr);
    bool running() const { return thread_.joinable(); }
    // Sets the flag, wakes the thread and waits until it has ended.
    void stop();

  private:
    std::thread thread_;
    Semaphore* request_ = nullptr;
    Semaphore* done_ = nullptr;
    std::atomic<std::int32_t>* stopFlag_ = nullptr;
};

}  // namespace vandora
