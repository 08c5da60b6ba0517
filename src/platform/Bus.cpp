#include "platform/Bus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <string>

namespace vandora {

namespace {

constexpr std::size_t kQuotedNameLimit = 64;

// The name as the error quotes it: at most 64 characters, so that a caller cannot make the
// service build and send back a reply of any size. Cut between characters, since a bus string
// must stay valid UTF-8; a cut is marked with "...".
std::string quotedName(const char* name) {
    std::string text = name != nullptr ? name : "";
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A character starts at every byte that is not a UTF-8 continuation byte.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 &&
            ++characters > kQuotedNameLimit) {
            return "'" + text.substr(0, i) + "'...";
        }
    }
    return "'" + text + "'";
}

int onPostMessage(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<Bus*>(userdata);
    const char* name = nullptr;
    std::uint32_t wParam = 0;
    std::int64_t lParam = 0;
    int r = sd_bus_message_read(m, "sux", &name, &wParam, &lParam);
    if (r < 0) {
        return r;
    }
    if (!self->handlePost(name, wParam, lParam)) {
        return sd_bus_error_setf(error, kUnknownMessageError, "unknown message %s",
                                 quotedName(name).c_str());
    }
    return sd_bus_reply_method_return(m, "");
}

int onShow(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
    static_cast<Bus*>(userdata)->handleShow();
    return sd_bus_reply_method_return(m, "");
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("PostMessage", "sux", "", onPostMessage, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Show", "", "", onShow, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("CopyData", "say", 0),
    SD_BUS_SIGNAL("Message", "sux", 0),
    SD_BUS_VTABLE_END,
};

}  // namespace

Bus::~Bus() {
    if (slot_ != nullptr) {
        sd_bus_slot_unref(slot_);
    }
    if (bus_ != nullptr) {
        sd_bus_flush_close_unref(bus_);
    }
}

int Bus::open(bool systemBus) {
    if (bus_ != nullptr) {
        return 0;
    }
    return systemBus ? sd_bus_open_system(&bus_) : sd_bus_open_user(&bus_);
}

int Bus::serve(PostHandler post, ShowHandler show) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    post_ = std::move(post);
    show_ = std::move(show);
    return sd_bus_add_object_vtable(bus_, &slot_, kBusPath, kBusInterface, kVtable, this);
}

int Bus::requestName() {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    return sd_bus_request_name(bus_, kBusName, 0);
}

int Bus::emitCopyData(const std::string& name, const std::uint8_t* data, std::size_t size) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_signal(bus_, &m, kBusPath, kBusInterface, "CopyData");
    if (r >= 0) {
        r = sd_bus_message_append(m, "s", name.c_str());
    }
    if (r >= 0) {
        r = sd_bus_message_append_array(m, 'y', data, size);
    }
    if (r >= 0) {
        r = sd_bus_send(bus_, m, nullptr);
    }
    sd_bus_message_unref(m);
    return r < 0 ? r : 0;
}

int Bus::emitMessage(const std::string& name, std::uint32_t wParam, std::int64_t lParam) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    int r = sd_bus_emit_signal(bus_, kBusPath, kBusInterface, "Message", "sux", name.c_str(),
                               wParam, lParam);
    return r < 0 ? r : 0;
}

namespace {
int finishCall(int r, sd_bus_error& error, std::string& errorName) {
    if (r < 0 && error.name != nullptr) {
        errorName = error.name;
    }
    sd_bus_error_free(&error);
    return r < 0 ? r : 0;
}
}  // namespace

int Bus::callPostMessage(const std::string& name, std::uint32_t wParam, std::int64_t lParam,
                         std::string& errorName) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    sd_bus_error error{};
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_, kBusName, kBusPath, kBusInterface, "PostMessage", &error,
                               &reply, "sux", name.c_str(), wParam, lParam);
    sd_bus_message_unref(reply);
    return finishCall(r, error, errorName);
}

int Bus::callShow(std::string& errorName) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    sd_bus_error error{};
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_, kBusName, kBusPath, kBusInterface, "Show", &error, &reply, "");
    sd_bus_message_unref(reply);
    return finishCall(r, error, errorName);
}

int Bus::fd() const {
    return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1;
}

std::string Bus::uniqueName() const {
    const char* name = nullptr;
    if (bus_ == nullptr || sd_bus_get_unique_name(bus_, &name) < 0 || name == nullptr) {
        return {};
    }
    return name;
}

void Bus::process() {
    if (bus_ == nullptr) {
        return;
    }
    while (sd_bus_process(bus_, nullptr) > 0) {
    }
}

void Bus::flush() {
    if (bus_ != nullptr) {
        sd_bus_flush(bus_);
    }
}

}  // namespace vandora
