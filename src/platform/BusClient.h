// ReaderBusClient: calls to the service's object (org.vandora.Reader, /org/vandora/Reader,
// org.vandora.Reader1), as vandoractl, the tools and a second instance of the service make them.
//
// Errors: calls return 0, or -errno with the D-Bus error's name (and, where asked for, its
// message) given back; nothing throws. Without an open connection they answer -ENOTCONN.
// Time-outs: each call waits for the reply up to sd-bus's default of 25 s.
//
// Threading: the connection's thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/Bus.h"
#include "platform/BusConnection.h"

namespace vandora {

class ReaderBusClient {
  public:
    // Calls over a connection of its own, made by open().
    ReaderBusClient() = default;
    // Calls over a connection that is used for more (the service's own, to wake another
    // instance); it must outlive the client.
    explicit ReaderBusClient(BusConnection& connection) : connection_(&connection) {}
    ReaderBusClient(const ReaderBusClient&) = delete;
    ReaderBusClient& operator=(const ReaderBusClient&) = delete;

    // Opens the client's connection to the session bus or the system bus; 0 or -errno.
    int open(bool systemBus) { return connection_->open(systemBus); }

    int callPostMessage(const std::string& name, std::uint32_t wParam, std::int64_t lParam,
                        std::string& errorName);
    int callShow(std::string& errorName);
    // The status properties as text, in kStatusProperties order ("true"/"false" for booleans).
    int callStatus(std::vector<std::pair<std::string, std::string>>& out, std::string& errorName,
                   std::string& errorMessage);
    // The settings calls; the value (or the exported text) in value.
    int callGetSetting(const std::string& section, const std::string& key, std::string& value,
                       std::string& errorName, std::string& errorMessage);
    int callSetSetting(const std::string& section, const std::string& key, const std::string& value,
                       std::string& errorName, std::string& errorMessage);
    int callExportSettings(std::string& ini, std::string& errorName, std::string& errorMessage);
    int callImportSettings(const std::string& ini, std::string& errorName,
                           std::string& errorMessage);

  private:
    BusConnection own_;
    BusConnection* connection_ = &own_;
};

}  // namespace vandora
