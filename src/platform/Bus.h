// Bus: the service's D-Bus connection (session bus, or the system bus), through sd-bus.
//
// The service owns the well-known name org.vandora.Reader and serves /org/vandora/Reader with
// the interface org.vandora.Reader1: methods PostMessage(s, u, x) and Show(), signals
// CopyData(s, ay) and Message(s, u, x). The same class makes the client calls of vandoractl.
//
// Errors: calls return 0 (requestName a positive number) or -errno; nothing throws. A Bus that
// is not open answers -ENOTCONN. Time-outs: signals are queued and never wait for a receiver;
// the client method calls wait for the reply up to sd-bus's default of 25 s.
//
// Threading: one thread uses a connection (the user-interface thread for the service). The
// connection's fd goes into that thread's event loop; call process() when it is readable.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct sd_bus;
struct sd_bus_slot;
struct sd_bus_message;

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
};

// The property names in the order tools list them.
inline constexpr const char* kStatusProperties[] = {
    "Model",        "BarcodeEngine", "BarcodeBaud", "RfidModule", "RfidVariant", "FirmwareVersion",
    "BarcodeReady", "RfidReady",     "Status",      "LastError",  "GoodReads",   "FailedReads"};

// The answer of a settings call: empty error on success, else one of the error names above with
// a message for people.
struct SettingAnswer {
    std::string error;
    std::string message;
    std::string value;
};

// What the service answers to management tools. Called on the connection's thread.
// mayChange says whether the caller may change settings (Bus::senderMayWrite): only such a
// caller is given secret values (GetSetting refuses them, ExportSettings leaves them out).
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

class Bus final : public DecodeSignals {
  public:
    // Answers a PostMessage: true when the name was known (and posted).
    using PostHandler =
        std::function<bool(const std::string& name, std::uint32_t wParam, std::int64_t lParam)>;
    using ShowHandler = std::function<void()>;

    Bus() = default;
    ~Bus() override;
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // Connects to the session bus ($DBUS_SESSION_BUS_ADDRESS) or the system bus; 0 or -errno.
    int open(bool systemBus);
    bool isOpen() const { return bus_ != nullptr; }

    // Serves the object; 0 or -errno. management may be null (settings calls then fail).
    int serve(PostHandler post, ShowHandler show, ManagementHandler* management = nullptr);
    // The properties' values from now on; PropertiesChanged names those that differ from the
    // last values given. 0 or -errno.
    int publishStatus(const ReaderStatus& status);
    const ReaderStatus& status() const { return status_; }
    ManagementHandler* management() const { return management_; }
    void setManagement(ManagementHandler* management) { management_ = management; }
    // Whether the sender of the message being handled may change settings: root, the service's
    // own user, or (on the system bus) a member of the group "vandora-admin".
    bool senderMayWrite(sd_bus_message* message) const;
    // Takes the well-known name; positive, -EEXIST when another connection owns it (-EALREADY
    // when this one does), or -errno.
    int requestName();

    // -ENOTCONN while not open.
    int emitCopyData(const std::string& name, const std::uint8_t* data, std::size_t size) override;
    int emitMessage(const std::string& name, std::uint32_t wParam, std::int64_t lParam) override;

    // Client calls to the service; 0, or -errno with the error's name in errorName.
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

    int fd() const;
    // The connection's own name on the bus (":1.42"); empty while not open.
    std::string uniqueName() const;
    // Handles everything that has arrived; call when fd() is readable.
    void process();
    // Sends what is queued.
    void flush() override;

    // Called by the method dispatch.
    bool handlePost(const std::string& name, std::uint32_t wParam, std::int64_t lParam) {
        return post_ && post_(name, wParam, lParam);
    }
    void handleShow() {
        if (show_) {
            show_();
        }
    }

  private:
    sd_bus* bus_ = nullptr;
    sd_bus_slot* slot_ = nullptr;
    PostHandler post_;
    ShowHandler show_;
    ManagementHandler* management_ = nullptr;
    ReaderStatus status_;
    bool systemBus_ = false;
};

}  // namespace vandora
