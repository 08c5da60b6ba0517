#include "platform/DecodeChannel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace vandora {

namespace {
std::string withSuffix(const char* base) {
    std::string name = base;
    if (const char* suffix = std::getenv("VANDORA_IPC_SUFFIX")) {
        name += suffix;
    }
    return name;
}

constexpr long kWriteWaitNs = 10L * 1000 * 1000;
// How long a record that a reader has been woken for may keep the queue full.
constexpr long kClaimedWaitNs = 200L * 1000 * 1000;
}  // namespace

std::string decodeQueueName() {
    return withSuffix("/VandoraQueue");
}

std::string decodeEventName() {
    return withSuffix("/DecodeEvent");
}

DecodeChannelWriter::DecodeChannelWriter() {
    mq_attr attr{};
    attr.mq_maxmsg = 1;
    attr.mq_msgsize = static_cast<long>(kDecodeMessageSize);
    std::string queueName = decodeQueueName();
    queue_ = mq_open(queueName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600, &attr);
    reader_ = mq_open(queueName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    event_ = sem_open(decodeEventName().c_str(), O_CREAT, 0600, 0);
}

DecodeChannelWriter::~DecodeChannelWriter() {
    if (queue_ != static_cast<mqd_t>(-1)) {
        mq_close(queue_);
    }
    if (reader_ != static_cast<mqd_t>(-1)) {
        mq_close(reader_);
    }
    if (event_ != SEM_FAILED) {
        sem_close(event_);
    }
}

void DecodeChannelWriter::discardUnread() {
    if (reader_ == static_cast<mqd_t>(-1)) {
        return;
    }
    mq_attr attr{};
    if (mq_getattr(reader_, &attr) != 0 || attr.mq_curmsgs == 0) {
        return;
    }
    // A record still waiting is dropped only while its event is still set, that is while no
    // reader has been woken for it; taking the event here un-announces it. A reader that took the
    // event is about to take the record: write() waits for it instead.
    if (event_ != SEM_FAILED && sem_trywait(event_) == 0) {
        drain();
    }
}

void DecodeChannelWriter::drain() {
    std::vector<char> buffer(kDecodeMessageSize);
    unsigned priority = 0;
    while (mq_receive(reader_, buffer.data(), buffer.size(), &priority) >= 0) {
    }
}

bool DecodeChannelWriter::write(const std::uint8_t* record, std::size_t size) {
    if (queue_ == static_cast<mqd_t>(-1)) {
        return false;
    }
    auto send = [&](long waitNs) {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += waitNs;
        while (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        return mq_timedsend(queue_, reinterpret_cast<const char*>(record), size, 0, &deadline) == 0;
    };
    if (send(kClaimedWaitNs)) {
        return true;
    }
    // A reader woke for the waiting record and never took it: it is gone or stuck, and the new
    // record takes the place of the old one.
    if (errno != ETIMEDOUT || reader_ == static_cast<mqd_t>(-1)) {
        return false;
    }
    drain();
    return send(kWriteWaitNs);
}

void DecodeChannelWriter::setEvent() {
    if (event_ == SEM_FAILED) {
        return;
    }
    int value = 0;
    if (sem_getvalue(event_, &value) == 0 && value == 0) {
        sem_post(event_);
    }
}

}  // namespace vandora
