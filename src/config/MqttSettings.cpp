#include "config/MqttSettings.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "common/Utf.h"

namespace vandora {

namespace {

constexpr int kPlainPort = 1883;
constexpr int kTlsPort = 8883;
constexpr std::size_t kMaxText = 4095;

enum class Form : std::uint8_t {
    Switch,      // 0 or 1
    Range,       // an integer from low to high
    Broker,      // mqtt://host:port or mqtts://host:port
    TopicLevel,  // text without '/', '+' and '#', not empty
    Topic,       // text without '+' and '#', not empty
    Text,        // any text
};

struct MqttKey {
    std::string_view name;
    Form form;
    std::int64_t low = 0;
    std::int64_t high = 0;
};

// clang-format off
constexpr MqttKey kKeys[] = {
    {"enable", Form::Switch},
    {"broker", Form::Broker},
    {"clientId", Form::TopicLevel},
    {"topicPrefix", Form::Topic},
    {"qos", Form::Range, 0, 2},
    {"keepAlive", Form::Range, 5, 65535},
    {"username", Form::Text},
    {"passwordFile", Form::Text},
    {"caFile", Form::Text},
    {"certFile", Form::Text},
    {"keyFile", Form::Text},
    {"outboxLimit", Form::Range, 1, 100000000},
};
// clang-format on

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string allowed(const MqttKey& key) {
    switch (key.form) {
        case Form::Switch:
            return "0 to 1";
        case Form::Range:
            return std::to_string(key.low) + " to " + std::to_string(key.high);
        case Form::Broker:
            return "mqtt://host:port or mqtts://host:port";
        case Form::TopicLevel:
            return "text without '/', '+' and '#'";
        case Form::Topic:
            return "text without '+' and '#'";
        case Form::Text:
            break;
    }
    return "text of up to " + std::to_string(kMaxText) + " characters";
}

bool parseNumber(std::string_view text, std::int64_t& out) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// Empty when the value fits its key, else why not.
std::string problemOf(const MqttKey& key, const std::string& value) {
    std::int64_t number = 0;
    switch (key.form) {
        case Form::Switch:
        case Form::Range: {
            std::int64_t low = key.form == Form::Switch ? 0 : key.low;
            std::int64_t high = key.form == Form::Switch ? 1 : key.high;
            if (!parseNumber(value, number)) {
                return "not a number";
            }
            if (number < low || number > high) {
                return "outside " + std::to_string(low) + " to " + std::to_string(high);
            }
            return {};
        }
        case Form::Broker: {
            std::string host;
            int port = 0;
            bool tls = false;
            return parseBrokerUrl(value, host, port, tls) ? std::string() : "not a broker address";
        }
        case Form::TopicLevel:
        case Form::Topic: {
            if (value.empty()) {
                return "empty";
            }
            const char* banned = key.form == Form::TopicLevel ? "/+#" : "+#";
            if (value.find_first_of(banned) != std::string::npos) {
                return "holds a character topics reserve";
            }
            return value.size() > kMaxText ? "too long" : std::string();
        }
        case Form::Text:
            break;
    }
    return value.size() > kMaxText ? "longer than " + std::to_string(kMaxText) + " characters"
                                   : std::string();
}

}  // namespace

bool isMqttSection(std::string_view name) {
    return sameName(name, kMqttSectionName);
}

bool parseBrokerUrl(std::string_view url, std::string& host, int& port, bool& tls) {
    constexpr std::string_view kPlain = "mqtt://";
    constexpr std::string_view kSecure = "mqtts://";
    std::string_view rest;
    if (url.substr(0, kSecure.size()) == kSecure) {
        tls = true;
        rest = url.substr(kSecure.size());
    } else if (url.substr(0, kPlain.size()) == kPlain) {
        tls = false;
        rest = url.substr(kPlain.size());
    } else {
        return false;
    }
    if (!rest.empty() && rest.back() == '/') {
        rest.remove_suffix(1);
    }
    std::string_view portText;
    if (!rest.empty() && rest.front() == '[') {
        // An IPv6 address: [::1]:1883.
        std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        host = std::string(rest.substr(1, close - 1));
        std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return false;
            }
            portText = after.substr(1);
        }
    } else {
        std::size_t colon = rest.rfind(':');
        host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = rest.substr(colon + 1);
        }
    }
    if (host.empty() || host.find_first_of("/@ ") != std::string::npos) {
        return false;
    }
    port = tls ? kTlsPort : kPlainPort;
    if (!portText.empty() || rest.find(':') != std::string_view::npos) {
        std::int64_t number = 0;
        if (!parseNumber(portText, number) || number < 1 || number > 65535) {
            return false;
        }
        port = static_cast<int>(number);
    }
    return true;
}

std::vector<std::string> readMqttSettings(const IniStore& store, const std::string& hostName,
                                          MqttSettings& out) {
    out = MqttSettings{};
    out.clientId = hostName;
    std::vector<std::string> problems;
    const IniSection* section = nullptr;
    for (const IniSection& candidate : store.sections()) {
        if (isMqttSection(candidate.name().narrow())) {
            section = &candidate;
            break;
        }
    }
    if (section == nullptr) {
        return problems;
    }
    bool usable = true;
    bool brokerGiven = false;
    for (const MqttKey& key : kKeys) {
        ByteString stored;
        if (store.getString(section, ByteString(std::string(key.name).c_str()), stored) == 0) {
            continue;
        }
        brokerGiven = brokerGiven || key.form == Form::Broker;
        std::string value = utf8Of(stored);
        std::string why = problemOf(key, value);
        if (!why.empty()) {
            problems.push_back("[" + std::string(kMqttSectionName) + "] " + std::string(key.name) +
                               "=" + value + ": " + why + " (allowed: " + allowed(key) + ")");
            if (key.form == Form::Switch || key.form == Form::Broker) {
                usable = false;
            }
            continue;
        }
        std::int64_t number = 0;
        parseNumber(value, number);
        if (key.name == "enable") {
            out.enable = number == 1;
        } else if (key.name == "broker") {
            out.broker = value;
            parseBrokerUrl(value, out.host, out.port, out.tls);
        } else if (key.name == "clientId") {
            out.clientId = value;
        } else if (key.name == "topicPrefix") {
            out.topicPrefix = value;
        } else if (key.name == "qos") {
            out.qos = static_cast<int>(number);
        } else if (key.name == "keepAlive") {
            out.keepAlive = static_cast<int>(number);
        } else if (key.name == "username") {
            out.username = value;
        } else if (key.name == "passwordFile") {
            out.passwordFile = value;
        } else if (key.name == "caFile") {
            out.caFile = value;
        } else if (key.name == "certFile") {
            out.certFile = value;
        } else if (key.name == "keyFile") {
            out.keyFile = value;
        } else if (key.name == "outboxLimit") {
            out.outboxLimit = static_cast<std::uint64_t>(number);
        }
    }
    if (out.enable && !brokerGiven) {
        problems.push_back("[" + std::string(kMqttSectionName) +
                           "] enable=1 without a broker (allowed: " + allowed(kKeys[1]) + ")");
        usable = false;
    }
    if (out.enable && out.clientId.empty()) {
        problems.push_back("[" + std::string(kMqttSectionName) +
                           "] clientId: none given and no host name to take");
        usable = false;
    }
    if (!usable) {
        out.enable = false;
    }
    return problems;
}

}  // namespace vandora
