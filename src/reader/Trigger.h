// The trigger forms of each engine type and the handling of a trigger release, shared by the
// scan and its public trigger calls (Scan.h).
//
// Locking: a release that finds the channel busy leaves its stop behind in stopPending; the
// holder of channelLock sends it when it lets go (ChannelHold does that).
#pragma once

#include <cstdint>

#include "reader/ReaderManager.h"

namespace vandora {

// The trigger command of the channel's engine. The barcode engines' forms expect the channel
// lock held by the caller; the RFID forms manage the port themselves.
std::int32_t triggerLocked(ReaderChannel& channel, std::int32_t on);

// A release of the trigger: stops the engine now when the channel is free, else leaves the stop
// to the read or command holding the channel.
std::int32_t releaseTrigger(ReaderChannel& channel);

// Holds the channel lock for the scope and settles a stop left behind meanwhile.
class ChannelHold {
  public:
    explicit ChannelHold(ReaderChannel& channel);
    ~ChannelHold();
    ChannelHold(const ChannelHold&) = delete;
    ChannelHold& operator=(const ChannelHold&) = delete;

  private:
    ReaderChannel& channel_;
};

}  // namespace vandora
