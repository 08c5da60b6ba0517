// MqttSettings: the section [MQTT] of the settings file, which makes the service a client of the
// site's broker. Off unless enable=1; a file without the section means what it always meant.
// The section is the fleet's way in, so only the file changes it: management tools and the
// broker itself cannot (isMqttSection tells them apart).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/IniStore.h"

namespace vandora {

inline constexpr std::string_view kMqttSectionName = "MQTT";

struct MqttSettings {
    bool enable = false;
    // As written (mqtt://host:port or mqtts://host:port), and what it says.
    std::string broker;
    std::string host;
    int port = 1883;
    bool tls = false;
    // Also the MQTT client id: unique per terminal. Default: the host name.
    std::string clientId;
    std::string topicPrefix = "vandora";
    int qos = 1;
    int keepAlive = 30;
    std::string username;
    // The password is only ever read from this file, never kept in the settings.
    std::string passwordFile;
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    // Decodes kept while the broker cannot be reached; the oldest go beyond it.
    std::uint64_t outboxLimit = 100000;
};

// Reads [MQTT] from the store; a missing key keeps its default, and clientId defaults to
// hostName. Returns every value that cannot be used, one text each in the form the other bad
// values of the file are reported in ("[MQTT] qos=5: outside 0 to 2 (allowed: 0 to 2)"); a
// bad value keeps the default, and a bad enable or broker keeps the client off.
std::vector<std::string> readMqttSettings(const IniStore& store, const std::string& hostName,
                                          MqttSettings& out);

// Whether a section name (any case) is [MQTT].
bool isMqttSection(std::string_view name);

// Splits mqtt://host:port or mqtts://host:port (the port may be left out: 1883 and 8883);
// false when it is neither.
bool parseBrokerUrl(std::string_view url, std::string& host, int& port, bool& tls);

}  // namespace vandora
