// The point-to-point queue "VandoraQueue" and the event "DecodeEvent" through which other
// programs take decodes: the POSIX message queue /VandoraQueue (one message of 4232 bytes) and
// the named semaphore /DecodeEvent, both mode 0600 so that other users cannot read decodes, both
// names followed by $VANDORA_IPC_SUFFIX when it is set. The semaphore is posted only while its
// value is 0, so it behaves as an auto-reset event.
//
// Threading: the writer side is used by one thread (the service's user-interface thread); any
// number of reader processes may wait on the event.
#pragma once

#include <mqueue.h>
#include <semaphore.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vandora {

constexpr std::size_t kDecodeMessageSize = 4232;

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

// The service's side: creates both objects (or opens them when a reader created them first).
// When either cannot be created the calls fail quietly: write returns false, setEvent does
// nothing.
class DecodeChannelWriter final : public DecodeChannel {
  public:
    DecodeChannelWriter();
    ~DecodeChannelWriter() override;
    DecodeChannelWriter(const DecodeChannelWriter&) = delete;
    DecodeChannelWriter& operator=(const DecodeChannelWriter&) = delete;

    bool ready() const { return queue_ != static_cast<mqd_t>(-1); }
    void discardUnread() override;
    bool write(const std::uint8_t* record, std::size_t size) override;
    void setEvent() override;

  private:
    void drain();

    mqd_t queue_ = static_cast<mqd_t>(-1);
    mqd_t reader_ = static_cast<mqd_t>(-1);
    sem_t* event_ = SEM_FAILED;
};

}  // namespace vandora
