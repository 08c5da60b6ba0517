// Each decode for other programs: the record in the queue, then the event (windowEvent) and the
// bus broadcasts (windowMessage); nothing at all while both are off.
#pragma once

#include "platform/Bus.h"
#include "platform/DecodeChannel.h"
#include "runtime/DecodeSink.h"

namespace vandora {

class PublishSink final : public DecodeSink {
  public:
    // signals may be null (no bus): the record and the event still go out.
    PublishSink(DecodeChannel& channel, DecodeSignals* signals)
        : channel_(channel), signals_(signals) {}
    void deliver(const Delivery& delivery, const AppSettings& settings) override;

  private:
    DecodeChannel& channel_;
    DecodeSignals* signals_;
};

}  // namespace vandora
