#include "platform/Semaphore.h"

#include <algorithm>

namespace vandora {

Semaphore::Semaphore(std::uint32_t initial, std::uint32_t maximum, Clock& clock)
    : clock_(&clock), count_(std::min(initial, maximum)), maximum_(maximum) {}

bool Semaphore::release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ >= maximum_) {
            return false;
        }
        ++count_;
    }
    cv_.notify_one();
    return true;
}

bool Semaphore::wait(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (count_ == 0 && timeoutMs == 0) {
        return false;
    }
    std::uint64_t deadline = clock_->deadlineAfterMs(timeoutMs);
    if (!clock_->waitUntil(lock, cv_, deadline, [this] { return count_ > 0; })) {
        return false;
    }
    --count_;
    return true;
}

std::uint32_t Semaphore::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

void Semaphore::reset(std::uint32_t initial) {
    std::lock_guard<std::mutex> lock(mutex_);
    count_ = std::min(initial, maximum_);
}

}  // namespace vandora
