// BusService: the service's object on the bus (PostMessage and Show, turned into messages of the
// event loop) and its single-instance name. Without a bus the service still runs; posted
// messages and broadcasts are then off.
//
// Threading: the user-interface thread; the connection is served by its event loop.
#pragma once

#include "platform/Bus.h"
#include "runtime/EventLoop.h"

namespace vandora {

class BusService {
  public:
    explicit BusService(bool systemBus) : systemBus_(systemBus) {}

    // Connects to the bus and serves the object into loop, which must outlive the connection's
    // use.
    void attach(EventLoop& loop);
    // Takes the service's well-known name; false when another instance holds it, which is then
    // asked to show itself.
    bool claimInstance();
    bool hasBus() const { return bus_.isOpen(); }
    // The broadcasts of decodes; null without a bus.
    DecodeSignals* signals() { return bus_.isOpen() ? &bus_ : nullptr; }
    // The connection itself (status properties, settings calls).
    Bus& bus() { return bus_; }

  private:
    bool systemBus_;
    Bus bus_;
};

}  // namespace vandora
