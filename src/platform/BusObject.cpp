#include "platform/BusObject.h"

#include <systemd/sd-bus.h>

#include <grp.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

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
    auto* self = static_cast<ReaderBusObject*>(userdata);
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
    static_cast<ReaderBusObject*>(userdata)->handleShow();
    return sd_bus_reply_method_return(m, "");
}

// A settings call's answer as the reply, or as the error it names.
int replySetting(sd_bus_message* m, sd_bus_error* error, const SettingAnswer& answer,
                 bool withValue) {
    if (!answer.error.empty()) {
        return sd_bus_error_set(error, answer.error.c_str(), answer.message.c_str());
    }
    return withValue ? sd_bus_reply_method_return(m, "s", answer.value.c_str())
                     : sd_bus_reply_method_return(m, "");
}

// The handler a settings call goes to; null, with the error set and what the call returns in r,
// when no settings are served here, or when the call changes settings and its caller may not.
ManagementHandler* settingsHandler(sd_bus_message* m, void* userdata, sd_bus_error* error,
                                   bool changes, int& r) {
    auto* self = static_cast<ReaderBusObject*>(userdata);
    ManagementHandler* management = self->management();
    if (management == nullptr) {
        sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "no settings here");
        r = -EOPNOTSUPP;
    } else if (changes && !self->senderMayWrite(m)) {
        r = sd_bus_error_set(error, kAccessDeniedError, "this caller may not change settings");
        management = nullptr;
    }
    return management;
}

int onGetSetting(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    const char* section = nullptr;
    const char* key = nullptr;
    int r = sd_bus_message_read(m, "ss", &section, &key);
    ManagementHandler* management = r < 0 ? nullptr : settingsHandler(m, userdata, error, false, r);
    if (management == nullptr) {
        return r;
    }
    bool mayChange = static_cast<ReaderBusObject*>(userdata)->senderMayWrite(m);
    return replySetting(m, error, management->getSetting(section, key, mayChange), true);
}

int onSetSetting(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    const char* section = nullptr;
    const char* key = nullptr;
    const char* value = nullptr;
    int r = sd_bus_message_read(m, "sss", &section, &key, &value);
    ManagementHandler* management = r < 0 ? nullptr : settingsHandler(m, userdata, error, true, r);
    if (management == nullptr) {
        return r;
    }
    return replySetting(m, error, management->setSetting(section, key, value), false);
}

int onExportSettings(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    int r = 0;
    ManagementHandler* management = settingsHandler(m, userdata, error, false, r);
    if (management == nullptr) {
        return r;
    }
    bool mayChange = static_cast<ReaderBusObject*>(userdata)->senderMayWrite(m);
    return replySetting(m, error, management->exportSettings(mayChange), true);
}

int onImportSettings(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    const char* ini = nullptr;
    int r = sd_bus_message_read(m, "s", &ini);
    ManagementHandler* management = r < 0 ? nullptr : settingsHandler(m, userdata, error, true, r);
    if (management == nullptr) {
        return r;
    }
    return replySetting(m, error, management->importSettings(ini), false);
}

// One value as a property's reply holds it.
int appendValue(sd_bus_message* reply, const char* type, const std::string& value) {
    return sd_bus_message_append(reply, type, value.c_str());
}
int appendValue(sd_bus_message* reply, const char* type, bool value) {
    return sd_bus_message_append(reply, type, static_cast<int>(value));
}
template <typename Number>
int appendValue(sd_bus_message* reply, const char* type, Number value) {
    return sd_bus_message_append(reply, type, value);
}

template <std::size_t... I>
int appendProperty(sd_bus_message* reply, const ReaderStatus& status, std::string_view name,
                   std::index_sequence<I...> /*indexes*/) {
    auto values = status.values();
    int r = -ENOENT;
    (void)((name == kStatusProperties[I].name
                ? (r = appendValue(reply, kStatusProperties[I].type, std::get<I>(values)), true)
                : false) ||
           ...);
    return r;
}

int onProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
               const char* property, sd_bus_message* reply, void* userdata,
               sd_bus_error* /*error*/) {
    return appendProperty(reply, static_cast<ReaderBusObject*>(userdata)->status(), property,
                          std::make_index_sequence<std::size(kStatusProperties)>());
}

constexpr auto kEmits = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;

// The interface: its methods and signals, then one property a status value, whose changes are
// announced. Ten entries besides the properties: the start, six methods, two signals, the end.
template <std::size_t... I>
auto makeVtable(std::index_sequence<I...> /*indexes*/) {
    return std::array<sd_bus_vtable, 10 + sizeof...(I)>{{
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("PostMessage", "sux", "", onPostMessage, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("Show", "", "", onShow, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("GetSetting", "ss", "s", onGetSetting, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("SetSetting", "sss", "", onSetSetting, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("ExportSettings", "", "s", onExportSettings, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("ImportSettings", "s", "", onImportSettings, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_SIGNAL("CopyData", "say", 0),
        SD_BUS_SIGNAL("Message", "sux", 0),
        SD_BUS_PROPERTY(kStatusProperties[I].name, kStatusProperties[I].type, onProperty, 0,
                        kEmits)...,
        SD_BUS_VTABLE_END,
    }};
}

const auto kVtable = makeVtable(std::make_index_sequence<std::size(kStatusProperties)>());

template <std::size_t... I>
void addChanged(const ReaderStatus& a, const ReaderStatus& b, std::vector<const char*>& names,
                std::index_sequence<I...> /*indexes*/) {
    auto before = a.values();
    auto after = b.values();
    ((std::get<I>(before) != std::get<I>(after) ? names.push_back(kStatusProperties[I].name)
                                                : void()),
     ...);
}

// The names of the properties whose values differ.
std::vector<const char*> changedProperties(const ReaderStatus& a, const ReaderStatus& b) {
    std::vector<const char*> names;
    addChanged(a, b, names, std::make_index_sequence<std::size(kStatusProperties)>());
    return names;
}

}  // namespace

ReaderBusObject::~ReaderBusObject() {
    if (slot_ != nullptr) {
        sd_bus_slot_unref(slot_);
    }
}

int ReaderBusObject::serve(PostHandler post, ShowHandler show, ManagementHandler* management) {
    sd_bus* bus = connection_->handle();
    if (bus == nullptr) {
        return -ENOTCONN;
    }
    post_ = std::move(post);
    show_ = std::move(show);
    management_ = management;
    return sd_bus_add_object_vtable(bus, &slot_, kBusPath, kBusInterface, kVtable.data(), this);
}

int ReaderBusObject::requestName() {
    return connection_->requestName(kBusName);
}

int ReaderBusObject::emitCopyData(const std::string& name, const std::uint8_t* data,
                                  std::size_t size) {
    sd_bus* bus = connection_->handle();
    if (bus == nullptr) {
        return -ENOTCONN;
    }
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_signal(bus, &m, kBusPath, kBusInterface, "CopyData");
    if (r >= 0) {
        r = sd_bus_message_append(m, "s", name.c_str());
    }
    if (r >= 0) {
        r = sd_bus_message_append_array(m, 'y', data, size);
    }
    if (r >= 0) {
        r = sd_bus_send(bus, m, nullptr);
    }
    sd_bus_message_unref(m);
    return r < 0 ? r : 0;
}

int ReaderBusObject::emitMessage(const std::string& name, std::uint32_t wParam,
                                 std::int64_t lParam) {
    sd_bus* bus = connection_->handle();
    if (bus == nullptr) {
        return -ENOTCONN;
    }
    int r = sd_bus_emit_signal(bus, kBusPath, kBusInterface, "Message", "sux", name.c_str(), wParam,
                               lParam);
    return r < 0 ? r : 0;
}

void ReaderBusObject::flush() {
    connection_->flush();
}

int ReaderBusObject::publishStatus(const ReaderStatus& status) {
    std::vector<const char*> names = changedProperties(status_, status);
    status_ = status;
    sd_bus* bus = connection_->handle();
    if (bus == nullptr || names.empty() || slot_ == nullptr) {
        return bus == nullptr ? -ENOTCONN : 0;
    }
    names.push_back(nullptr);
    int r = sd_bus_emit_properties_changed_strv(bus, kBusPath, kBusInterface,
                                                const_cast<char**>(names.data()));  // NOLINT
    return r < 0 ? r : 0;
}

namespace {

// The groups the bus daemon knows a connection by (UnixGroupIDs of GetConnectionCredentials,
// taken from its socket when it connected); empty when the daemon does not say. sd-bus does not
// pass these on for a daemon bus, and the process's /proc entry may be hidden from the service.
std::vector<gid_t> daemonGroupsOf(sd_bus* bus, const char* sender) {
    std::vector<gid_t> groups;
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};
    if (sender == nullptr ||
        sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetConnectionCredentials", &error, &reply, "s",
                           sender) < 0) {
        sd_bus_error_free(&error);
        return groups;
    }
    if (sd_bus_message_enter_container(reply, 'a', "{sv}") > 0) {
        while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(reply, "s", &name) >= 0 && name != nullptr &&
                std::string_view(name) == "UnixGroupIDs" &&
                sd_bus_message_enter_container(reply, 'v', "au") > 0) {
                const void* data = nullptr;
                std::size_t size = 0;
                if (sd_bus_message_read_array(reply, 'u', &data, &size) >= 0) {
                    const auto* ids = static_cast<const std::uint32_t*>(data);
                    groups.assign(ids, ids + size / sizeof(std::uint32_t));
                }
                sd_bus_message_exit_container(reply);
            } else {
                sd_bus_message_skip(reply, "v");
            }
            sd_bus_message_exit_container(reply);
        }
    }
    sd_bus_message_unref(reply);
    return groups;
}

}  // namespace

bool ReaderBusObject::senderMayWrite(sd_bus_message* message) const {
    sd_bus_creds* creds = nullptr;
    if (sd_bus_query_sender_creds(message, SD_BUS_CREDS_EUID, &creds) < 0) {
        return false;
    }
    uid_t euid = 0;
    bool allowed = sd_bus_creds_get_euid(creds, &euid) >= 0 && (euid == 0 || euid == geteuid());
    sd_bus_creds_unref(creds);
    const group* admins =
        connection_->isSystemBus() && !allowed ? getgrnam("vandora-admin") : nullptr;
    if (admins != nullptr) {
        for (gid_t gid :
             daemonGroupsOf(connection_->handle(), sd_bus_message_get_sender(message))) {
            allowed = allowed || gid == admins->gr_gid;
        }
    }
    return allowed;
}

}  // namespace vandora
