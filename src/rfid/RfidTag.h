// The RFID tag state of the RFID channel: the tag in the field, where its user data is read, the
// login key, and the activity signal that keeps the module's port open. The tag operations work on
// it; the barcode channel never uses it.
#pragma once

#include <cstdint>

#include "common/ByteString.h"
#include "platform/Clock.h"
#include "platform/Semaphore.h"

namespace vandora {

struct RfidTagState {
    explicit RfidTagState(Clock& clock) : activity(0, 1, clock) {}
    RfidTagState(const RfidTagState&) = delete;
    RfidTagState& operator=(const RfidTagState&) = delete;

    // Back to no tag: all numbers 0, no data or key, no activity pending.
    void clear();

    ByteString userData;
    std::int32_t readStart = 0;
    std::uint32_t readLength = 0;
    std::uint32_t blockSize = 0;
    ByteString loginKey;
    std::int32_t keyType = 0;
    std::int32_t tagType = 0;
    std::int32_t tagitBlockCount = 0;
    std::int32_t tagitInfoByte = 0;
    // Released by every RFID exchange; the idle listener closes the port when it stays quiet.
    Semaphore activity;
};

}  // namespace vandora
