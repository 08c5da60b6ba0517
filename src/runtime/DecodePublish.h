// Leaves a decode for other programs: the record in the queue, then the event and the two bus
// broadcasts. Runs on the user-interface thread.
#pragma once

#include <cstdint>

#include "platform/Bus.h"
#include "platform/DecodeChannel.h"
#include "runtime/DecodeFormat.h"

namespace vandora {

constexpr const char* kDecodeMessageName = "DECODE_MSG";

struct PublishTargets {
    DecodeChannel* channel = nullptr;  // the queue and event; absent: nothing is published
    DecodeSignals* signals = nullptr;  // the bus; absent: no broadcasts
    bool windowEvent = false;
    bool windowMessage = false;
};

// Replaces an unread record with this one (waiting at most 10 ms for room), then sets the event
// (windowEvent) and broadcasts CopyData and Message (windowMessage). A record that could not be
// written is not announced at all. 1 when the record was written, else 0.
std::int32_t publishDecode(const DecodeQueueRecord& record, const PublishTargets& targets);

}  // namespace vandora
