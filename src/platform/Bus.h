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
#include <vector>

struct sd_bus;
struct sd_bus_slot;

namespace vandora {

constexpr const char* kBusName = "org.vandora.Reader";
constexpr const char* kBusPath = "/org/vandora/Reader";
constexpr const char* kBusInterface = "org.vandora.Reader1";
constexpr const char* kUnknownMessageError = "org.vandora.Reader1.Error.UnknownMessage";

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

    // Serves the object; 0 or -errno.
    int serve(PostHandler post, ShowHandler show);
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
};

}  // namespace vandora
