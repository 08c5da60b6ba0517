#include "platform/BusConnection.h"

#include <systemd/sd-bus.h>

#include <cerrno>

namespace vandora {

BusConnection::~BusConnection() {
    if (bus_ != nullptr) {
        sd_bus_flush_close_unref(bus_);
    }
}

int BusConnection::open(bool systemBus) {
    if (bus_ != nullptr) {
        return 0;
    }
    systemBus_ = systemBus;
    return systemBus ? sd_bus_open_system(&bus_) : sd_bus_open_user(&bus_);
}

int BusConnection::requestName(const char* name) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    return sd_bus_request_name(bus_, name, 0);
}

std::string BusConnection::uniqueName() const {
    const char* name = nullptr;
    if (bus_ == nullptr || sd_bus_get_unique_name(bus_, &name) < 0 || name == nullptr) {
        return {};
    }
    return name;
}

int BusConnection::fd() const {
    return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1;
}

void BusConnection::process() {
    if (bus_ == nullptr) {
        return;
    }
    while (sd_bus_process(bus_, nullptr) > 0) {
    }
}

void BusConnection::flush() {
    if (bus_ != nullptr) {
        sd_bus_flush(bus_);
    }
}

}  // namespace vandora
