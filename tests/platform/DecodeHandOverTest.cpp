// The hand-over of decodes through the real queue and event to a reader that keeps up.
#include <gtest/gtest.h>
#include <mqueue.h>
#include <semaphore.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/DecodeChannel.h"
#include "support/Blocked.h"

namespace vandora {
namespace {

std::array<std::uint8_t, kDecodeRecordSize> recordOf(std::uint8_t tag) {
    std::array<std::uint8_t, kDecodeRecordSize> record{};
    record[0] = 7;
    record[1] = tag;
    return record;
}

class DecodeHandOver : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("VANDORA_IPC_SUFFIX", ("-handover-" + std::to_string(getpid())).c_str(), 1);
        mq_unlink(decodeQueueName().c_str());
        sem_unlink(decodeEventName().c_str());
    }
    void TearDown() override {
        mq_unlink(decodeQueueName().c_str());
        sem_unlink(decodeEventName().c_str());
        unsetenv("VANDORA_IPC_SUFFIX");
    }
    void publish(DecodeChannelWriter& writer, std::uint8_t tag) {
        auto record = recordOf(tag);
        writer.discardUnread();
        ASSERT_TRUE(writer.write(record.data(), record.size()));
        writer.setEvent();
    }
};

// A reader woken for a record takes it even when the next decode is published before it got
// there: the record it was woken for is not pulled from under it, and no wake finds an empty
// queue.
TEST_F(DecodeHandOver, ARecordAReaderWasWokenForIsNotDiscarded) {
    DecodeChannelWriter writer;
    ASSERT_TRUE(writer.ready());
    mqd_t queue = mq_open(decodeQueueName().c_str(), O_RDONLY | O_NONBLOCK);
    sem_t* event = sem_open(decodeEventName().c_str(), 0);
    ASSERT_NE(queue, static_cast<mqd_t>(-1));
    ASSERT_NE(event, SEM_FAILED);

    publish(writer, 'A');
    ASSERT_EQ(sem_wait(event), 0);  // the reader is woken for A ...
    std::atomic<pid_t> publisher{0};
    std::thread second([&] {
        publisher = testing::threadId();
        publish(writer, 'B');
    });
    // ... and takes its record only once B's write waits for the place A holds.
    while (publisher == 0) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(testing::waitUntilBlockedIn(publisher, SYS_mq_timedsend));
    std::vector<char> buffer(kDecodeRecordSize);
    std::vector<char> taken;
    ASSERT_EQ(mq_receive(queue, buffer.data(), buffer.size(), nullptr),
              static_cast<ssize_t>(kDecodeRecordSize));
    taken.push_back(buffer[1]);
    second.join();
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 2;
    ASSERT_EQ(sem_timedwait(event, &deadline), 0);
    ASSERT_EQ(mq_receive(queue, buffer.data(), buffer.size(), nullptr),
              static_cast<ssize_t>(kDecodeRecordSize))
        << "the event announced an empty queue";
    taken.push_back(buffer[1]);
    EXPECT_EQ(taken, (std::vector<char>{'A', 'B'}));
    mq_close(queue);
    sem_close(event);
}

// A record nobody was woken for is replaced by the next one, and its event stands for the new
// record only: one wake, one record.
TEST_F(DecodeHandOver, ARecordNobodyWasWokenForGivesWayToTheNext) {
    DecodeChannelWriter writer;
    mqd_t queue = mq_open(decodeQueueName().c_str(), O_RDONLY | O_NONBLOCK);
    sem_t* event = sem_open(decodeEventName().c_str(), 0);
    publish(writer, 'A');
    publish(writer, 'B');
    std::vector<char> buffer(kDecodeRecordSize);
    ASSERT_EQ(sem_trywait(event), 0);
    ASSERT_EQ(mq_receive(queue, buffer.data(), buffer.size(), nullptr),
              static_cast<ssize_t>(kDecodeRecordSize));
    EXPECT_EQ(buffer[1], 'B');
    EXPECT_NE(sem_trywait(event), 0) << "one wake per record";
    mq_close(queue);
    sem_close(event);
}

// A reader that was woken and never takes its record holds up the next decode for a bounded
// time only.
TEST_F(DecodeHandOver, AStuckReaderDelaysTheNextDecodeAtMost200ms) {
    DecodeChannelWriter writer;
    mqd_t queue = mq_open(decodeQueueName().c_str(), O_RDONLY | O_NONBLOCK);
    sem_t* event = sem_open(decodeEventName().c_str(), 0);
    publish(writer, 'A');
    ASSERT_EQ(sem_trywait(event), 0);  // woken, and then stuck
    auto start = std::chrono::steady_clock::now();
    publish(writer, 'B');
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    std::vector<char> buffer(kDecodeRecordSize);
    ASSERT_EQ(mq_receive(queue, buffer.data(), buffer.size(), nullptr),
              static_cast<ssize_t>(kDecodeRecordSize));
    EXPECT_EQ(buffer[1], 'B');
    mq_close(queue);
    sem_close(event);
}

}  // namespace
}  // namespace vandora
