// BusService: the service's object on the bus (PostMessage and Show, turned into messages of the
// event loop) and its single-instance name. Without a bus the service still runs; posted
// messages and broadcasts are then off.
//
// Threading: the user-interface thread; the connection is served by its event loop.
#pragma once

#include "platform/BusConnection.h"
#include "platform/BusObject.h"
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
    bool hasBus() const { return connection_.isOpen(); }
    // The broadcasts of decodes; null without a bus.
    DecodeSignals* signals() { return connection_.isOpen() ? &object_ : nullptr; }
    // The object on the bus (status properties, settings calls).
    ReaderBusObject& object() { return object_; }

  private:
    bool systemBus_;
    BusConnection connection_;
    ReaderBusObject object_{connection_};
};

}  // namespace vandora
