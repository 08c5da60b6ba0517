// What the service's workers share: the readers, the window as the service talks to it, the loop
// their messages go to, the general stop flag, and the hand-over of decodes to the loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "reader/Decode.h"
#include "reader/ReaderManager.h"
#include "runtime/EventLoop.h"
#include "runtime/MainView.h"
#include "runtime/Messages.h"

namespace vandora {

// Decodes of the worker threads not yet taken by the loop, oldest first: one for each decode
// message on its way. Decodes of both kinds queue in the order their messages were sent.
class DecodeHandOver {
  public:
    // From a worker thread: leaves the decode for the loop and tells it, waiting until it was
    // delivered when wait is set.
    void handOver(EventLoop& loop, Decode&& decode, bool wait);
    // On the loop thread, for each decode message: the oldest decode left.
    std::optional<Decode> take();

  private:
    std::mutex mutex_;
    std::deque<Decode> decodes_;
};

struct WorkerParts {
    ReaderManager& manager;
    // The service's view of its window: never null (without a window it only keeps the status).
    MainView& view;
    EventLoop& loop;
    // The general stop flag: every worker thread but the RFID one leaves once it is set, so the
    // first thread stopped at quit ends the others' waiting requests too.
    std::atomic<std::int32_t>& stopFlag;
    DecodeHandOver& decodes;
};

}  // namespace vandora
