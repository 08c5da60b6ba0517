// The RFID tag state of the RFID channel: the tag in the field, where its user data is read, the
// login key, and the activity signal that keeps the module's port open. The RFID code keeps it
// beside the channel (ReaderChannel::moduleState) and the tag operations work on it; the reader
// core only owns it and clears it with the channel.
#pragma once

#include <cstdint>

#include "common/ByteString.h"
#include "platform/Clock.h"
#include "platform/Semaphore.h"
#include "reader/ReaderManager.h"

namespace vandora {

struct RfidTagState final : ChannelModuleState {
    explicit RfidTagState(Clock& clock) : activity(0, 1, clock) {}
    RfidTagState(const RfidTagState&) = delete;
    RfidTagState& operator=(const RfidTagState&) = delete;

    // Back to no tag: all numbers 0, no data or key, no activity pending.
    void clear() override;

    ByteString userData;
    std::int32_t readStart = 0;
    std::uint32_t readLength = 0;
    std::uint32_t blockSize = 0;
    ByteString loginKey;
    std::int32_t keyType = 0;
    std::int32_t tagType = 0;
    std::int32_t tagitBlockCount = 0;
    std::int32_t tagitInfoByte = 0;
    // Released by every RFID read that found a tag; the idle listener closes the port when it
    // stays quiet.
    Semaphore activity;
};

// The tag state of the channel, made on first use. The RFID module makes it when its channel
// opens, before any other thread can ask for it.
RfidTagState& tagState(ReaderChannel& channel);

}  // namespace vandora
