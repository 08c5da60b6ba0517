// The queue and the event are the service's own: names found taken are made anew when they are
// the service user's, refused when they are someone else's.
#include <fcntl.h>
#include <mqueue.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DecodeChannel.h"
#include "platform/PlatformTestUtil.h"

namespace vandora {
namespace {

using testing::ScopedEnv;

constexpr mqd_t kNoQueue = static_cast<mqd_t>(-1);
constexpr uid_t kOtherUser = 65534;

std::string semaphoreFile() {
    return "/dev/shm/sem." + decodeEventName().substr(1);
}

// Objects made under the names before the service starts, as another program would: mode 0666,
// a record in the queue and the event set.
class TakenNames {
  public:
    TakenNames(bool queue, bool event) {
        if (queue) {
            mq_attr attr{};
            attr.mq_maxmsg = 1;
            attr.mq_msgsize = static_cast<long>(kDecodeRecordSize);
            queue_ = mq_open(decodeQueueName().c_str(), O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK,
                             0666, &attr);
            EXPECT_NE(queue_, kNoQueue) << errno;
            EXPECT_EQ(::fchmod(queue_, 0666), 0);
            std::vector<char> record(kDecodeRecordSize, 'F');
            EXPECT_EQ(mq_send(queue_, record.data(), record.size(), 0), 0);
        }
        if (event) {
            event_ = sem_open(decodeEventName().c_str(), O_CREAT | O_EXCL, 0666, 1);
            EXPECT_NE(event_, SEM_FAILED) << errno;
            EXPECT_EQ(::chmod(semaphoreFile().c_str(), 0666), 0);
        }
    }
    ~TakenNames() {
        if (queue_ != kNoQueue) {
            mq_close(queue_);
        }
        if (event_ != SEM_FAILED) {
            sem_close(event_);
        }
        mq_unlink(decodeQueueName().c_str());
        sem_unlink(decodeEventName().c_str());
    }
    TakenNames(const TakenNames&) = delete;
    TakenNames& operator=(const TakenNames&) = delete;

    mqd_t queue() const { return queue_; }
    bool giveTo(uid_t user) const {
        return (queue_ == kNoQueue || ::fchown(queue_, user, user) == 0) &&
               (event_ == SEM_FAILED || ::chown(semaphoreFile().c_str(), user, user) == 0);
    }

  private:
    mqd_t queue_ = kNoQueue;
    sem_t* event_ = SEM_FAILED;
};

struct stat statOfQueue(mqd_t queue) {
    struct stat info {};
    EXPECT_EQ(::fstat(queue, &info), 0);
    return info;
}

bool holdsARecord(mqd_t queue) {
    std::vector<char> buffer(kDecodeRecordSize);
    return mq_receive(queue, buffer.data(), buffer.size(), nullptr) >= 0;
}

class DecodeChannelNames : public ::testing::Test {
  protected:
    ScopedEnv suffix_{"VANDORA_IPC_SUFFIX", ".own" + std::to_string(::getpid())};
};

TEST_F(DecodeChannelNames, OwnTakenNamesAreMadeAnewPrivateAndEmpty) {
    TakenNames taken(true, true);
    struct stat staleQueue = statOfQueue(taken.queue());
    struct stat staleEvent {};
    ASSERT_EQ(::stat(semaphoreFile().c_str(), &staleEvent), 0);

    // The mode must not depend on the umask.
    mode_t oldMask = ::umask(0277);
    DecodeChannelWriter writer;
    ::umask(oldMask);
    ASSERT_TRUE(writer.ready()) << writer.error();
    EXPECT_EQ(writer.error(), "");

    mqd_t now = mq_open(decodeQueueName().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_NE(now, kNoQueue);
    struct stat queue = statOfQueue(now);
    EXPECT_NE(queue.st_ino, staleQueue.st_ino) << "a new queue";
    EXPECT_EQ(queue.st_mode & 07777, 0600u);
    EXPECT_FALSE(holdsARecord(now)) << "the record left before is not under the name";
    EXPECT_FALSE(holdsARecord(taken.queue())) << "nor in the old queue for whoever holds it";
    mq_close(now);

    struct stat event {};
    ASSERT_EQ(::stat(semaphoreFile().c_str(), &event), 0);
    EXPECT_NE(event.st_ino, staleEvent.st_ino) << "a new event";
    EXPECT_EQ(event.st_mode & 07777, 0600u);
    sem_t* fresh = sem_open(decodeEventName().c_str(), 0);
    ASSERT_NE(fresh, SEM_FAILED);
    int value = -1;
    sem_getvalue(fresh, &value);
    EXPECT_EQ(value, 0) << "the new event is not set";
    sem_close(fresh);

    // And the new pair works.
    std::vector<std::uint8_t> record(kDecodeRecordSize, 'N');
    EXPECT_TRUE(writer.write(record.data(), record.size()));
}

TEST_F(DecodeChannelNames, NamesOfAnotherUserAreRefusedAndLeftAlone) {
    struct Case {
        const char* label;
        bool queue;
        bool event;
        bool realOwner;  // given to another user with chown (root only), else posed through the
                         // service user
        std::string named;
    };
    const Case cases[] = {
        {"queue and event", true, true, false, decodeQueueName()},
        {"event only", false, true, false, decodeEventName()},
        {"queue and event of another real user", true, true, true, decodeQueueName()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TakenNames taken(c.queue, c.event);
        uid_t serviceUser = ::geteuid();
        if (c.realOwner) {
            if (::geteuid() != 0) {
                std::printf("not root: \"%s\" is shown only through the service user\n", c.label);
                continue;
            }
            ASSERT_TRUE(taken.giveTo(kOtherUser));
        } else {
            serviceUser = ::geteuid() + 1;
        }
        struct stat eventBefore {};
        ASSERT_EQ(::stat(semaphoreFile().c_str(), &eventBefore), 0);

        DecodeChannelWriter writer(serviceUser);
        EXPECT_FALSE(writer.ready());
        EXPECT_NE(writer.error().find(c.named + " belongs to user"), std::string::npos)
            << writer.error();
        std::vector<std::uint8_t> record(kDecodeRecordSize, 'N');
        EXPECT_FALSE(writer.write(record.data(), record.size()));

        struct stat eventAfter {};
        ASSERT_EQ(::stat(semaphoreFile().c_str(), &eventAfter), 0);
        EXPECT_EQ(eventAfter.st_ino, eventBefore.st_ino) << "the event is left as it was";
        if (c.queue) {
            mqd_t now = mq_open(decodeQueueName().c_str(), O_RDONLY | O_NONBLOCK);
            ASSERT_NE(now, kNoQueue);
            EXPECT_EQ(statOfQueue(now).st_ino, statOfQueue(taken.queue()).st_ino);
            EXPECT_TRUE(holdsARecord(now)) << "the queue is left as it was";
            mq_close(now);
        }
    }
}

}  // namespace
}  // namespace vandora
