// The point-to-point queue "VandoraQueue" and the event "DecodeEvent" through which other
// programs take decodes: the POSIX message queue /VandoraQueue (one message of 4232 bytes) and
// the named semaphore /DecodeEvent, both mode 0600 so that other users cannot read decodes, both
// names followed by $VANDORA_IPC_SUFFIX when it is set. The semaphore is posted only while its
// value is 0, so it behaves as an auto-reset event.
//
// The service makes both objects itself, new, each time it starts: an object left under one of
// the names by an earlier run or by a reader of the same user is removed first (whoever held it
// then holds an object nobody writes any more), and a name that belongs to another user is
// refused, since whoever made it could read every decode and slip in records of their own.
//
// Threading: the writer side is used by one thread (the service's user-interface thread); any
// number of reader processes may wait on the event.
#pragma once

#include <mqueue.h>
#include <semaphore.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "client/vandora_client.h"

namespace vandora {

// One record is one message. The size is the one the client library reads, which other
// programs build against.
constexpr std::size_t kDecodeRecordSize = VANDORA_RECORD_SIZE;

std::string decodeQueueName();
std::string decodeEventName();

// The writer's side of the queue and the event, as the delivery of a decode uses them.
class DecodeChannel {
  public:
    virtual ~DecodeChannel() = default;
    // Throws away a record no reader has been woken for (the queue holds one); never waits.
    virtual void discardUnread() = 0;
    // Writes one record. A record still in the queue is one a reader was woken for: the write
    // waits up to 200 ms for the reader to take it, then replaces it. False when it could not (no
    // queue, a record of the wrong size).
    virtual bool write(const std::uint8_t* record, std::size_t size) = 0;
    // Sets the event unless it is already set; never waits.
    virtual void setEvent() = 0;
};

// The service's side: creates both objects, new and mode 0600 whatever the umask. Readers still
// waiting on objects it replaced are woken once on the old event and find the old queue empty
// (the client library then follows the names to the new pair). When either object cannot be
// made the calls fail quietly (write returns false, setEvent does nothing) and error() says why.
class DecodeChannelWriter final : public DecodeChannel {
  public:
    DecodeChannelWriter();
    // `serviceUser` is the user whose objects count as the service's own; tests pose as another
    // user with it.
    explicit DecodeChannelWriter(uid_t serviceUser);
    ~DecodeChannelWriter() override;
    DecodeChannelWriter(const DecodeChannelWriter&) = delete;
    DecodeChannelWriter& operator=(const DecodeChannelWriter&) = delete;

    bool ready() const { return queue_ != static_cast<mqd_t>(-1); }
    // Why the objects could not be made; empty when ready.
    const std::string& error() const { return error_; }
    void discardUnread() override;
    bool write(const std::uint8_t* record, std::size_t size) override;
    void setEvent() override;

  private:
    bool makeQueue(const std::string& name, uid_t serviceUser, mqd_t& stale);
    bool makeEvent(const std::string& name, uid_t serviceUser, sem_t*& stale);
    void closeAll();

    mqd_t queue_ = static_cast<mqd_t>(-1);
    mqd_t reader_ = static_cast<mqd_t>(-1);
    sem_t* event_ = SEM_FAILED;
    std::string error_;
};

}  // namespace vandora
