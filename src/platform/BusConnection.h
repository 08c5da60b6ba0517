// BusConnection: one connection to the session bus or the system bus, through sd-bus.
//
// Errors: calls return 0 (requestName a positive number) or -errno; nothing throws. A connection
// that is not open answers -ENOTCONN.
//
// Threading: one thread uses a connection (the user-interface thread for the service). Its fd
// goes into that thread's event loop; call process() when it is readable.
#pragma once

#include <string>

struct sd_bus;

namespace vandora {

class BusConnection {
  public:
    BusConnection() = default;
    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    // Connects to the session bus ($DBUS_SESSION_BUS_ADDRESS) or the system bus; 0 or -errno.
    // Opening an open connection does nothing.
    int open(bool systemBus);
    bool isOpen() const { return bus_ != nullptr; }
    bool isSystemBus() const { return systemBus_; }

    // Takes a well-known name; positive, -EEXIST when another connection owns it (-EALREADY when
    // this one does), or -errno.
    int requestName(const char* name);
    // The connection's own name on the bus (":1.42"); empty while not open.
    std::string uniqueName() const;

    int fd() const;
    // Handles everything that has arrived; call when fd() is readable.
    void process();
    // Sends what is queued.
    void flush();

    // The sd-bus connection, for the object and the client built on it; null while not open.
    sd_bus* handle() const { return bus_; }

  private:
    sd_bus* bus_ = nullptr;
    bool systemBus_ = false;
};

}  // namespace vandora
