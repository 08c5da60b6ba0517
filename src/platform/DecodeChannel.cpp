#include "platform/DecodeChannel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

namespace {

constexpr mqd_t kNoQueue = static_cast<mqd_t>(-1);
// Rounds of "remove the stale name, create anew" before giving up on a name that keeps coming
// back.
constexpr int kCreateRounds = 3;

std::string reason(int error) {
    return std::strerror(error);
}

std::string foreignOwner(const std::string& name, uid_t owner, uid_t serviceUser) {
    return name + " belongs to user " + std::to_string(owner) + ", not to the service's user " +
           std::to_string(serviceUser) +
           ": decodes are not handed to other programs through the queue and the event "
           "until it is removed";
}

// The file behind a named semaphore (glibc keeps them in /dev/shm as "sem.NAME").
std::string semaphoreFile(const std::string& name) {
    return "/dev/shm/sem." + name.substr(1);
}

void drain(mqd_t queue) {
    std::vector<char> buffer(kDecodeRecordSize);
    unsigned priority = 0;
    while (mq_receive(queue, buffer.data(), buffer.size(), &priority) >= 0) {
    }
}

}  // namespace

DecodeChannelWriter::DecodeChannelWriter() : DecodeChannelWriter(::geteuid()) {}

DecodeChannelWriter::DecodeChannelWriter(uid_t serviceUser) {
    mqd_t staleQueue = kNoQueue;
    sem_t* staleEvent = SEM_FAILED;
    if (!makeQueue(decodeQueueName(), serviceUser, staleQueue) ||
        !makeEvent(decodeEventName(), serviceUser, staleEvent)) {
        closeAll();
    }
    // Whoever still waits on the replaced pair is woken once and finds nothing there: a record
    // left in the old queue is never delivered.
    if (staleQueue != kNoQueue) {
        drain(staleQueue);
        mq_close(staleQueue);
    }
    if (staleEvent != SEM_FAILED) {
        int value = 0;
        if (sem_getvalue(staleEvent, &value) == 0 && value == 0) {
            sem_post(staleEvent);
        }
        sem_close(staleEvent);
    }
}

bool DecodeChannelWriter::makeQueue(const std::string& name, uid_t serviceUser, mqd_t& stale) {
    mq_attr attr{};
    attr.mq_maxmsg = 1;
    attr.mq_msgsize = static_cast<long>(kDecodeRecordSize);
    for (int round = 0; round < kCreateRounds; ++round) {
        queue_ = mq_open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600, &attr);
        if (queue_ != kNoQueue) {
            // The umask may have taken bits off; the mode is set as it must be. Nobody else can
            // have opened the new queue in between: its mode never allowed more.
            if (::fchmod(queue_, 0600) != 0) {
                error_ = "cannot set the mode of " + name + ": " + reason(errno);
                return false;
            }
            reader_ = mq_open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (reader_ == kNoQueue) {
                error_ = "cannot open " + name + ": " + reason(errno);
                return false;
            }
            return true;
        }
        if (errno != EEXIST) {
            error_ = "cannot create " + name + ": " + reason(errno);
            return false;
        }
        // The name is taken: by an earlier run or a reader of this user, or by someone else.
        mqd_t existing = mq_open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (existing == kNoQueue) {
            if (errno == ENOENT) {
                continue;  // removed in the meantime
            }
            // Not even readable: another user's (or one whose mode shuts its owner out).
            error_ = errno == EACCES
                         ? name +
                               " belongs to another user or is closed to this one: decodes are "
                               "not handed to other programs through the queue and the event "
                               "until it is removed"
                         : "cannot open " + name + ": " + reason(errno);
            return false;
        }
        struct stat info {};
        if (::fstat(existing, &info) != 0) {
            error_ = "cannot check " + name + ": " + reason(errno);
            mq_close(existing);
            return false;
        }
        if (info.st_uid != serviceUser) {
            error_ = foreignOwner(name, info.st_uid, serviceUser);
            mq_close(existing);
            return false;
        }
        mq_unlink(name.c_str());
        if (stale != kNoQueue) {
            mq_close(stale);
        }
        stale = existing;
    }
    error_ = "cannot create " + name + ": the name keeps being taken";
    return false;
}

bool DecodeChannelWriter::makeEvent(const std::string& name, uid_t serviceUser, sem_t*& stale) {
    const std::string file = semaphoreFile(name);
    for (int round = 0; round < kCreateRounds; ++round) {
        event_ = sem_open(name.c_str(), O_CREAT | O_EXCL, 0600, 0);
        if (event_ != SEM_FAILED) {
            // The semaphore offers no descriptor: the mode is set on its file. Only the owner can
            // replace a name in the sticky folder, so the file is the one just made.
            int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            bool ok = fd >= 0 && ::fchmod(fd, 0600) == 0;
            int error = errno;
            if (fd >= 0) {
                ::close(fd);
            }
            if (!ok) {
                error_ = "cannot set the mode of " + name + ": " + reason(error);
                return false;
            }
            return true;
        }
        if (errno != EEXIST) {
            error_ = "cannot create " + name + ": " + reason(errno);
            return false;
        }
        struct stat info {};
        if (::lstat(file.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                continue;  // removed in the meantime
            }
            error_ = "cannot check " + name + ": " + reason(errno);
            return false;
        }
        if (info.st_uid != serviceUser) {
            error_ = foreignOwner(name, info.st_uid, serviceUser);
            return false;
        }
        sem_t* existing = sem_open(name.c_str(), 0);
        sem_unlink(name.c_str());
        if (existing != SEM_FAILED) {
            if (stale != SEM_FAILED) {
                sem_close(stale);
            }
            stale = existing;
        }
    }
    error_ = "cannot create " + name + ": the name keeps being taken";
    return false;
}

void DecodeChannelWriter::closeAll() {
    if (queue_ != kNoQueue) {
        mq_close(queue_);
        queue_ = kNoQueue;
    }
    if (reader_ != kNoQueue) {
        mq_close(reader_);
        reader_ = kNoQueue;
    }
    if (event_ != SEM_FAILED) {
        sem_close(event_);
        event_ = SEM_FAILED;
    }
}

DecodeChannelWriter::~DecodeChannelWriter() {
    closeAll();
}

void DecodeChannelWriter::discardUnread() {
    if (reader_ == kNoQueue || event_ == SEM_FAILED) {
        return;
    }
    // A record still waiting is dropped only while its event is still set, that is while no
    // reader has been woken for it; taking the event here un-announces it. A reader that took the
    // event is about to take the record: write() waits for it instead. The event is looked at
    // first: unset, which is the usual case, it costs no system call, where the queue's count
    // would cost one each read.
    int value = 0;
    if (sem_getvalue(event_, &value) != 0 || value == 0) {
        return;
    }
    mq_attr attr{};
    if (mq_getattr(reader_, &attr) != 0 || attr.mq_curmsgs == 0) {
        return;
    }
    if (sem_trywait(event_) == 0) {
        drain(reader_);
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
    if (errno != ETIMEDOUT || reader_ == kNoQueue) {
        return false;
    }
    drain(reader_);
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
