#include "vandora_client.h"

#include <fcntl.h>
#include <mqueue.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Written in the C subset of C++ (no standard library objects, nothing that unwinds), so that
// programs in C link the static library without the C++ run-time.

struct vandora_client {
    mqd_t queue;
    sem_t* event;
};

namespace {
// The IPC name: base followed by $VANDORA_IPC_SUFFIX; false when it does not fit.
bool ipcName(const char* base, char (&name)[256]) {
    const char* suffix = std::getenv("VANDORA_IPC_SUFFIX");
    int n = std::snprintf(name, sizeof name, "%s%s", base, suffix != nullptr ? suffix : "");
    return n > 0 && static_cast<size_t>(n) < sizeof name;
}

// The service makes a new queue and event under the names each time it starts, and wakes the
// readers of the old pair once. After a wake that found no record, a reader whose queue is no
// longer the one under the name moves to the new pair; it passes the wake on to the next reader
// of the old pair, so that all of them move. True when it moved.
bool followNewPair(vandora_client* client) {
    char queueName[256];
    char eventName[256];
    if (!ipcName("/VandoraQueue", queueName) || !ipcName("/DecodeEvent", eventName)) {
        return false;
    }
    mqd_t queue = mq_open(queueName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (queue == static_cast<mqd_t>(-1)) {
        return false;
    }
    struct stat now {};
    struct stat held {};
    if (fstat(queue, &now) != 0 || fstat(client->queue, &held) != 0 ||
        (now.st_dev == held.st_dev && now.st_ino == held.st_ino)) {
        mq_close(queue);
        return false;
    }
    sem_t* event = sem_open(eventName, 0);
    if (event == SEM_FAILED) {
        mq_close(queue);
        return false;
    }
    if (event != client->event) {
        sem_post(client->event);
    }
    // The C library hands out one mapping per semaphore file; this close drops the extra count
    // when the event was not replaced.
    sem_close(client->event);
    mq_close(client->queue);
    client->queue = queue;
    client->event = event;
    return true;
}
}  // namespace

extern "C" {

vandora_client* vandora_client_open(void) {
    mq_attr attr{};
    attr.mq_maxmsg = 1;
    attr.mq_msgsize = VANDORA_RECORD_SIZE;
    char queueName[256];
    char eventName[256];
    if (!ipcName("/VandoraQueue", queueName) || !ipcName("/DecodeEvent", eventName)) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    mqd_t queue = mq_open(queueName, O_RDONLY | O_NONBLOCK | O_CREAT | O_CLOEXEC, 0600, &attr);
    if (queue == static_cast<mqd_t>(-1)) {
        return nullptr;
    }
    sem_t* event = sem_open(eventName, O_CREAT, 0600, 0);
    if (event == SEM_FAILED) {
        mq_close(queue);
        return nullptr;
    }
    auto* client = static_cast<vandora_client*>(std::malloc(sizeof(vandora_client)));
    if (client == nullptr) {
        mq_close(queue);
        sem_close(event);
        return nullptr;
    }
    client->queue = queue;
    client->event = event;
    return client;
}

void vandora_client_close(vandora_client* client) {
    if (client == nullptr) {
        return;
    }
    mq_close(client->queue);
    sem_close(client->event);
    std::free(client);
}

int vandora_parse_record(const uint8_t* record, size_t size, vandora_decode* out) {
    if (record == nullptr || out == nullptr || size != VANDORA_RECORD_SIZE) {
        return -1;
    }
    std::memset(out, 0, sizeof *out);
    out->kind = record[0];
    out->code_type = record[1];
    out->length = static_cast<uint32_t>(record[8]) | (static_cast<uint32_t>(record[9]) << 8) |
                  (static_cast<uint32_t>(record[10]) << 16) |
                  (static_cast<uint32_t>(record[11]) << 24);
    const uint8_t* data = record + 133;
    if (out->kind == VANDORA_KIND_RFID) {
        std::memcpy(out->uid, record + 12, 20);
        out->uid[20] = '\0';
        // The user data has no length of its own: it ends at the first zero byte.
        size_t n = 0;
        while (n < 4095 && data[n] != 0) {
            ++n;
        }
        out->data_length = n;
    } else {
        out->data_length = out->length < 4095 ? out->length : 4095;
    }
    std::memcpy(out->data, data, out->data_length);
    return 0;
}

int vandora_client_pending(vandora_client* client) {
    if (client == nullptr) {
        return -1;
    }
    mq_attr attr{};
    if (mq_getattr(client->queue, &attr) != 0) {
        return -1;
    }
    return attr.mq_curmsgs > 0 ? 1 : 0;
}

int vandora_client_wait(vandora_client* client, int timeout_ms, vandora_decode* out) {
    if (client == nullptr || out == nullptr) {
        return -1;
    }
    timespec deadline{};
    if (timeout_ms >= 0) {
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += timeout_ms / 1000;
        deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
    }
    for (;;) {
        int r;
        if (timeout_ms < 0) {
            do {
                r = sem_wait(client->event);
            } while (r != 0 && errno == EINTR);
        } else {
            do {
                r = sem_timedwait(client->event, &deadline);
            } while (r != 0 && errno == EINTR);
            if (r != 0 && errno == ETIMEDOUT) {
                return 0;
            }
        }
        if (r != 0) {
            return -1;
        }
        uint8_t record[VANDORA_RECORD_SIZE];
        unsigned priority = 0;
        ssize_t n =
            mq_receive(client->queue, reinterpret_cast<char*>(record), sizeof record, &priority);
        if (n >= 0) {
            return vandora_parse_record(record, static_cast<size_t>(n), out) == 0 ? 1 : -1;
        }
        if (errno != EAGAIN) {
            return -1;
        }
        // The event without a record: another reader took it, or the service started anew and
        // this reader still held the pair it replaced; then the wait goes on on the new pair.
        if (!followNewPair(client)) {
            return 0;
        }
    }
}

}  // extern "C"
