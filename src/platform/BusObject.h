// ReaderBusObject: the service's object /org/vandora/Reader on a bus connection, with the
// interface org.vandora.Reader1: methods PostMessage(s, u, x), Show(), GetSetting(s, s) -> s,
// SetSetting(s, s, s), ExportSettings() -> s and ImportSettings(s); signals CopyData(s, ay) and
// Message(s, u, x); the status properties, whose changes are announced.
//
// Errors: calls return 0 (requestName a positive number) or -errno; nothing throws. On a
// connection that is not open they answer -ENOTCONN. Signals are queued and never wait for a
// receiver.
//
// Threading: the connection's thread; the handlers are called from its process().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Bus.h"
#include "platform/BusConnection.h"

struct sd_bus_slot;
struct sd_bus_message;

namespace vandora {

class ReaderBusObject final : public DecodeSignals {
  public:
    // Answers a PostMessage: true when the name was known (and posted).
    using PostHandler =
        std::function<bool(const std::string& name, std::uint32_t wParam, std::int64_t lParam)>;
    using ShowHandler = std::function<void()>;

    // The connection must outlive the object.
    explicit ReaderBusObject(BusConnection& connection) : connection_(&connection) {}
    ~ReaderBusObject() override;
    ReaderBusObject(const ReaderBusObject&) = delete;
    ReaderBusObject& operator=(const ReaderBusObject&) = delete;

    // Serves the object; 0 or -errno. management may be null (settings calls then fail).
    int serve(PostHandler post, ShowHandler show, ManagementHandler* management = nullptr);
    // Takes the service's well-known name; positive, -EEXIST when another connection owns it
    // (-EALREADY when this one does), or -errno.
    int requestName();

    // The properties' values from now on; PropertiesChanged names those that differ from the
    // last values given. 0 or -errno.
    int publishStatus(const ReaderStatus& status);
    const ReaderStatus& status() const { return status_; }
    ManagementHandler* management() const { return management_; }
    void setManagement(ManagementHandler* management) { management_ = management; }

    int emitCopyData(const std::string& name, const std::uint8_t* data, std::size_t size) override;
    int emitMessage(const std::string& name, std::uint32_t wParam, std::int64_t lParam) override;
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
    // Whether the sender of the message being handled may change settings: root, the service's
    // own user, or (on the system bus) a member of the group "vandora-admin".
    bool senderMayWrite(sd_bus_message* message) const;

  private:
    BusConnection* connection_;
    sd_bus_slot* slot_ = nullptr;
    PostHandler post_;
    ShowHandler show_;
    ManagementHandler* management_ = nullptr;
    ReaderStatus status_;
};

}  // namespace vandora
