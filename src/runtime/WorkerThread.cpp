#include "runtime/WorkerThread.h"

#include "platform/ThreadName.h"

namespace vandora {

void WorkerThread::start(Semaphore& request, Semaphore* done, std::atomic<std::int32_t>& stopFlag,
                         std::function<void()> job, const char* name) {
    stop();
    request_ = &request;
    done_ = done;
    stopFlag_ = &stopFlag;
    thread_ = std::thread([this, job = std::move(job), name] {
        if (name != nullptr) {
            nameThisThread(name);
        }
        for (;;) {
            request_->wait();
            if (*stopFlag_ == 1) {
                break;
            }
            job();
        }
        if (done_ != nullptr) {
            done_->release();
        }
    });
}

void WorkerThread::stop() {
    if (!thread_.joinable()) {
        return;
    }
    *stopFlag_ = 1;
    request_->release();
    if (done_ != nullptr) {
        done_->wait();
    }
    thread_.join();
}

}  // namespace vandora
