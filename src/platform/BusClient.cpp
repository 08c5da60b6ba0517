#include "platform/BusClient.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

namespace vandora {

namespace {
// A number of the reply, in decimal.
template <typename Number>
int readNumber(sd_bus_message* reply, const char* type, std::string& text) {
    Number value = 0;
    int r = sd_bus_message_read(reply, type, &value);
    text = std::to_string(value);
    return r;
}

int readString(sd_bus_message* reply, std::string& out) {
    const char* text = nullptr;
    int r = sd_bus_message_read(reply, "s", &text);
    if (r >= 0) {
        out = text != nullptr ? text : "";
    }
    return r < 0 ? r : 0;
}

// Calls a method of the service with the arguments of types; the string it answers goes into
// text when text is given. 0, or -errno with the error's name and message.
int callMethod(sd_bus* bus, const char* method, std::string* text, std::string& errorName,
               std::string& errorMessage, const char* types, ...) {
    if (bus == nullptr) {
        return -ENOTCONN;
    }
    sd_bus_error error{};
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_call(bus, &call, kBusName, kBusPath, kBusInterface, method);
    if (r >= 0 && types != nullptr && *types != '\0') {
        va_list ap;
        va_start(ap, types);
        r = sd_bus_message_appendv(call, types, ap);
        va_end(ap);
    }
    if (r >= 0) {
        r = sd_bus_call(bus, call, 0, &error, &reply);
    }
    sd_bus_message_unref(call);
    if (r < 0) {
        errorName = error.name != nullptr ? error.name : "";
        errorMessage = error.message != nullptr ? error.message : std::strerror(-r);
    }
    sd_bus_error_free(&error);
    if (r >= 0 && text != nullptr) {
        r = readString(reply, *text);
    }
    sd_bus_message_unref(reply);
    return r < 0 ? r : 0;
}
}  // namespace

int ReaderBusClient::callPostMessage(const std::string& name, std::uint32_t wParam,
                                     std::int64_t lParam, std::string& errorName) {
    std::string message;
    return callMethod(connection_->handle(), "PostMessage", nullptr, errorName, message, "sux",
                      name.c_str(), wParam, lParam);
}

int ReaderBusClient::callShow(std::string& errorName) {
    std::string message;
    return callMethod(connection_->handle(), "Show", nullptr, errorName, message, "");
}

int ReaderBusClient::callStatus(std::vector<std::pair<std::string, std::string>>& out,
                                std::string& errorName, std::string& errorMessage) {
    sd_bus* bus = connection_->handle();
    if (bus == nullptr) {
        return -ENOTCONN;
    }
    out.clear();
    for (const auto& [name, type] : kStatusProperties) {
        sd_bus_error error{};
        sd_bus_message* reply = nullptr;
        // The reply comes positioned inside its variant.
        int r =
            sd_bus_get_property(bus, kBusName, kBusPath, kBusInterface, name, &error, &reply, type);
        if (r < 0) {
            errorName = error.name != nullptr ? error.name : "";
            errorMessage = error.message != nullptr ? error.message : std::strerror(-r);
            sd_bus_error_free(&error);
            sd_bus_message_unref(reply);
            return r;
        }
        sd_bus_error_free(&error);
        std::string text;
        switch (type[0]) {
            case 'i':
                r = readNumber<std::int32_t>(reply, "i", text);
                break;
            case 'u':
                r = readNumber<std::uint32_t>(reply, "u", text);
                break;
            case 't':
                r = readNumber<std::uint64_t>(reply, "t", text);
                break;
            case 'b': {
                int v = 0;
                r = sd_bus_message_read(reply, "b", &v);
                text = v != 0 ? "true" : "false";
                break;
            }
            default: {
                const char* v = nullptr;
                r = sd_bus_message_read(reply, "s", &v);
                text = v != nullptr ? v : "";
                break;
            }
        }
        if (r < 0) {
            sd_bus_message_unref(reply);
            errorMessage = std::strerror(-r);
            return r;
        }
        sd_bus_message_unref(reply);
        out.emplace_back(name, text);
    }
    return 0;
}

int ReaderBusClient::callGetSetting(const std::string& section, const std::string& key,
                                    std::string& value, std::string& errorName,
                                    std::string& errorMessage) {
    return callMethod(connection_->handle(), "GetSetting", &value, errorName, errorMessage, "ss",
                      section.c_str(), key.c_str());
}

int ReaderBusClient::callSetSetting(const std::string& section, const std::string& key,
                                    const std::string& value, std::string& errorName,
                                    std::string& errorMessage) {
    return callMethod(connection_->handle(), "SetSetting", nullptr, errorName, errorMessage, "sss",
                      section.c_str(), key.c_str(), value.c_str());
}

int ReaderBusClient::callExportSettings(std::string& ini, std::string& errorName,
                                        std::string& errorMessage) {
    return callMethod(connection_->handle(), "ExportSettings", &ini, errorName, errorMessage, "");
}

int ReaderBusClient::callImportSettings(const std::string& ini, std::string& errorName,
                                        std::string& errorMessage) {
    return callMethod(connection_->handle(), "ImportSettings", nullptr, errorName, errorMessage,
                      "s", ini.c_str());
}

}  // namespace vandora
