// Bus: the service's D-Bus interface as both sides know it: the well-known name
// org.vandora.Reader, the object /org/vandora/Reader, the interface org.vandora.Reader1 with its
// error names and status properties, and what the service answers and broadcasts through it.
//
// Three classes carry it: BusConnection (platform/BusConnection.h) owns a connection to the bus
// through sd-bus; ReaderBusObject (platform/BusObject.h) serves the object on one for the service;
// ReaderBusClient (platform/BusClient.h) makes the calls of vandoractl and the tools on one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <tuple>

namespace vandora {

constexpr const char* kBusName = "org.vandora.Reader";
constexpr const char* kBusPath = "/org/vandora/Reader";
constexpr const char* kBusInterface = "org.vandora.Reader1";
constexpr const char* kUnknownMessageError = "org.vandora.Reader1.Error.UnknownMessage";
constexpr const char* kUnknownSettingError = "org.vandora.Reader1.Error.UnknownSetting";
constexpr const char* kInvalidValueError = "org.vandora.Reader1.Error.InvalidValue";
constexpr const char* kEngineRefusedError = "org.vandora.Reader1.Error.EngineRefused";
constexpr const char* kAccessDeniedError = "org.vandora.Reader1.Error.AccessDenied";

// The service's state as management tools read it (the properties of org.vandora.Reader1).
struct ReaderStatus {
    std::int32_t model = 0;
    std::int32_t barcodeEngine = 0;
    std::uint32_t barcodeBaud = 0;
    std::int32_t rfidModule = 0;
    std::int32_t rfidVariant = 0;
    std::string firmwareVersion;
    bool barcodeReady = false;
    bool rfidReady = false;
    std::string status;
    std::int32_t lastError = 0;
    std::uint64_t goodReads = 0;
    std::uint64_t failedReads = 0;

    // The values in kStatusProperties order.
    auto values() const {
        return std::tie(model, barcodeEngine, barcodeBaud, rfidModule, rfidVariant, firmwareVersion,
                        barcodeReady, rfidReady, status, lastError, goodReads, failedReads);
    }
};

// The properties, with their D-Bus types, in the order tools list them.
struct StatusProperty {
    const char* name;
    const char* type;
};
inline constexpr StatusProperty kStatusProperties[] = {
    {"Model", "i"},       {"BarcodeEngine", "i"},   {"BarcodeBaud", "u"},  {"RfidModule", "i"},
    {"RfidVariant", "i"}, {"FirmwareVersion", "s"}, {"BarcodeReady", "b"}, {"RfidReady", "b"},
    {"Status", "s"},      {"LastError", "i"},       {"GoodReads", "t"},    {"FailedReads", "t"},
};
static_assert(std::tuple_size_v<decltype(ReaderStatus{}.values())> == std::size(kStatusProperties));

// The answer of a settings call: empty error on success, else one of the error names above with
// a message for people.
struct SettingAnswer {
    std::string error;
    std::string message;
    std::string value;
};

// What the service answers to management tools. Called on the connection's thread.
// mayChange says whether the caller may change settings (ReaderBusObject::senderMayWrite): only
// such a caller is given secret values (GetSetting refuses them, ExportSettings leaves them out).
class ManagementHandler {
  public:
    virtual ~ManagementHandler() = default;
    virtual SettingAnswer getSetting(const std::string& section, const std::string& key,
                                     bool mayChange) = 0;
    virtual SettingAnswer setSetting(const std::string& section, const std::string& key,
                                     const std::string& value) = 0;
    virtual SettingAnswer exportSettings(bool mayChange) = 0;
    virtual SettingAnswer importSettings(const std::string& ini) = 0;
};

// The broadcasts of a decode. Each call returns 0 or -errno and never waits for a receiver.
class DecodeSignals {
  public:
    virtual ~DecodeSignals() = default;
    // The signal CopyData(s name, ay data).
    virtual int emitCopyData(const std::string& name, const std::uint8_t* data,
                             std::size_t size) = 0;
    // The signal Message(s name, u wParam, x lParam).
    virtual int emitMessage(const std::string& name, std::uint32_t wParam, std::int64_t lParam) = 0;
    // Hands what is queued to the bus.
    virtual void flush() = 0;
};

}  // namespace vandora
