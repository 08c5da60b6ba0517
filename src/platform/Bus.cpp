#include "platform/Bus.h"

#include <systemd/sd-bus.h>

#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

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

// A settings call's answer as the reply, or as the error it names.
int replySetting(sd_bus_message* m, sd_bus_error* error, const SettingAnswer& answer,
                 bool withValue) {
    if (!answer.error.empty()) {
        return sd_bus_error_set(error, answer.error.c_str(), answer.message.c_str());
    }
    return withValue ? sd_bus_reply_method_return(m, "s", answer.value.c_str())
                     : sd_bus_reply_method_return(m, "");
}

ManagementHandler* managementOf(void* userdata, sd_bus_error* error) {
    ManagementHandler* management = static_cast<Bus*>(userdata)->management();
    if (management == nullptr) {
        sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "no settings here");
    }
    return management;
}

int onGetSetting(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    const char* section = nullptr;
    const char* key = nullptr;
    int r = sd_bus_message_read(m, "ss", &section, &key);
    if (r < 0) {
        return r;
    }
    ManagementHandler* management = managementOf(userdata, error);
    if (management == nullptr) {
        return -EOPNOTSUPP;
    }
    bool mayChange = static_cast<Bus*>(userdata)->senderMayWrite(m);
    return replySetting(m, error, management->getSetting(section, key, mayChange), true);
}

int onSetSetting(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    const char* section = nullptr;
    const char* key = nullptr;
    const char* value = nullptr;
    int r = sd_bus_message_read(m, "sss", &section, &key, &value);
    if (r < 0) {
        return r;
    }
    ManagementHandler* management = managementOf(userdata, error);
    if (management == nullptr) {
        return -EOPNOTSUPP;
    }
    if (!static_cast<Bus*>(userdata)->senderMayWrite(m)) {
        return sd_bus_error_set(error, kAccessDeniedError, "this caller may not change settings");
    }
    return replySetting(m, error, management->setSetting(section, key, value), false);
}

int onExportSettings(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    ManagementHandler* management = managementOf(userdata, error);
    if (management == nullptr) {
        return -EOPNOTSUPP;
    }
    bool mayChange = static_cast<Bus*>(userdata)->senderMayWrite(m);
    return replySetting(m, error, management->exportSettings(mayChange), true);
}

int onImportSettings(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    const char* ini = nullptr;
    int r = sd_bus_message_read(m, "s", &ini);
    if (r < 0) {
        return r;
    }
    ManagementHandler* management = managementOf(userdata, error);
    if (management == nullptr) {
        return -EOPNOTSUPP;
    }
    if (!static_cast<Bus*>(userdata)->senderMayWrite(m)) {
        return sd_bus_error_set(error, kAccessDeniedError, "this caller may not change settings");
    }
    return replySetting(m, error, management->importSettings(ini), false);
}

int onProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
               const char* property, sd_bus_message* reply, void* userdata,
               sd_bus_error* /*error*/) {
    const ReaderStatus& st = static_cast<Bus*>(userdata)->status();
    std::string name = property;
    if (name == "Model") {
        return sd_bus_message_append(reply, "i", st.model);
    }
    if (name == "BarcodeEngine") {
        return sd_bus_message_append(reply, "i", st.barcodeEngine);
    }
    if (name == "BarcodeBaud") {
        return sd_bus_message_append(reply, "u", st.barcodeBaud);
    }
    if (name == "RfidModule") {
        return sd_bus_message_append(reply, "i", st.rfidModule);
    }
    if (name == "RfidVariant") {
        return sd_bus_message_append(reply, "i", st.rfidVariant);
    }
    if (name == "FirmwareVersion") {
        return sd_bus_message_append(reply, "s", st.firmwareVersion.c_str());
    }
    if (name == "BarcodeReady") {
        return sd_bus_message_append(reply, "b", static_cast<int>(st.barcodeReady));
    }
    if (name == "RfidReady") {
        return sd_bus_message_append(reply, "b", static_cast<int>(st.rfidReady));
    }
    if (name == "Status") {
        return sd_bus_message_append(reply, "s", st.status.c_str());
    }
    if (name == "LastError") {
        return sd_bus_message_append(reply, "i", st.lastError);
    }
    if (name == "GoodReads") {
        return sd_bus_message_append(reply, "t", st.goodReads);
    }
    if (name == "FailedReads") {
        return sd_bus_message_append(reply, "t", st.failedReads);
    }
    return -ENOENT;
}

constexpr auto kEmits = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("PostMessage", "sux", "", onPostMessage, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Show", "", "", onShow, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetSetting", "ss", "s", onGetSetting, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SetSetting", "sss", "", onSetSetting, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ExportSettings", "", "s", onExportSettings, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ImportSettings", "s", "", onImportSettings, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("CopyData", "say", 0),
    SD_BUS_SIGNAL("Message", "sux", 0),
    SD_BUS_PROPERTY("Model", "i", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("BarcodeEngine", "i", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("BarcodeBaud", "u", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("RfidModule", "i", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("RfidVariant", "i", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("FirmwareVersion", "s", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("BarcodeReady", "b", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("RfidReady", "b", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("Status", "s", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("LastError", "i", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("GoodReads", "t", onProperty, 0, kEmits),
    SD_BUS_PROPERTY("FailedReads", "t", onProperty, 0, kEmits),
    SD_BUS_VTABLE_END,
};

// The names of the properties whose values differ.
std::vector<const char*> changedProperties(const ReaderStatus& a, const ReaderStatus& b) {
    std::vector<const char*> names;
    auto check = [&names](bool differs, const char* name) {
        if (differs) {
            names.push_back(name);
        }
    };
    check(a.model != b.model, "Model");
    check(a.barcodeEngine != b.barcodeEngine, "BarcodeEngine");
    check(a.barcodeBaud != b.barcodeBaud, "BarcodeBaud");
    check(a.rfidModule != b.rfidModule, "RfidModule");
    check(a.rfidVariant != b.rfidVariant, "RfidVariant");
    check(a.firmwareVersion != b.firmwareVersion, "FirmwareVersion");
    check(a.barcodeReady != b.barcodeReady, "BarcodeReady");
    check(a.rfidReady != b.rfidReady, "RfidReady");
    check(a.status != b.status, "Status");
    check(a.lastError != b.lastError, "LastError");
    check(a.goodReads != b.goodReads, "GoodReads");
    check(a.failedReads != b.failedReads, "FailedReads");
    return names;
}

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
    systemBus_ = systemBus;
    return systemBus ? sd_bus_open_system(&bus_) : sd_bus_open_user(&bus_);
}

int Bus::serve(PostHandler post, ShowHandler show, ManagementHandler* management) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    post_ = std::move(post);
    show_ = std::move(show);
    management_ = management;
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

int Bus::publishStatus(const ReaderStatus& status) {
    std::vector<const char*> names = changedProperties(status_, status);
    status_ = status;
    if (bus_ == nullptr || names.empty() || slot_ == nullptr) {
        return bus_ == nullptr ? -ENOTCONN : 0;
    }
    names.push_back(nullptr);
    int r = sd_bus_emit_properties_changed_strv(bus_, kBusPath, kBusInterface,
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

bool Bus::senderMayWrite(sd_bus_message* message) const {
    sd_bus_creds* creds = nullptr;
    if (sd_bus_query_sender_creds(message, SD_BUS_CREDS_EUID, &creds) < 0) {
        return false;
    }
    uid_t euid = 0;
    bool allowed = sd_bus_creds_get_euid(creds, &euid) >= 0 && (euid == 0 || euid == geteuid());
    sd_bus_creds_unref(creds);
    const group* admins = systemBus_ && !allowed ? getgrnam("vandora-admin") : nullptr;
    if (admins != nullptr) {
        for (gid_t gid : daemonGroupsOf(bus_, sd_bus_message_get_sender(message))) {
            allowed = allowed || gid == admins->gr_gid;
        }
    }
    return allowed;
}

namespace {
int callWithMessage(sd_bus* bus, const char* method, sd_bus_message** reply, std::string& errorName,
                    std::string& errorMessage, const char* types, ...) {
    sd_bus_error error{};
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus, &call, kBusName, kBusPath, kBusInterface, method);
    if (r >= 0 && types != nullptr && *types != '\0') {
        va_list ap;
        va_start(ap, types);
        r = sd_bus_message_appendv(call, types, ap);
        va_end(ap);
    }
    if (r >= 0) {
        r = sd_bus_call(bus, call, 0, &error, reply);
    }
    sd_bus_message_unref(call);
    if (r < 0) {
        errorName = error.name != nullptr ? error.name : "";
        errorMessage = error.message != nullptr ? error.message : std::strerror(-r);
    }
    sd_bus_error_free(&error);
    return r < 0 ? r : 0;
}

int readString(sd_bus_message* reply, std::string& out) {
    const char* text = nullptr;
    int r = sd_bus_message_read(reply, "s", &text);
    if (r >= 0) {
        out = text != nullptr ? text : "";
    }
    return r < 0 ? r : 0;
}
}  // namespace

int Bus::callStatus(std::vector<std::pair<std::string, std::string>>& out, std::string& errorName,
                    std::string& errorMessage) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    out.clear();
    static constexpr const char* kTypes[] = {"i", "i", "u", "i", "i", "s",
                                             "b", "b", "s", "i", "t", "t"};
    static_assert(std::size(kTypes) == std::size(kStatusProperties));
    for (std::size_t p = 0; p < std::size(kStatusProperties); ++p) {
        const char* name = kStatusProperties[p];
        sd_bus_error error{};
        sd_bus_message* reply = nullptr;
        // The reply comes positioned inside its variant.
        int r = sd_bus_get_property(bus_, kBusName, kBusPath, kBusInterface, name, &error, &reply,
                                    kTypes[p]);
        if (r < 0) {
            errorName = error.name != nullptr ? error.name : "";
            errorMessage = error.message != nullptr ? error.message : std::strerror(-r);
            sd_bus_error_free(&error);
            sd_bus_message_unref(reply);
            return r;
        }
        sd_bus_error_free(&error);
        std::string text;
        switch (kTypes[p][0]) {
            case 'i': {
                std::int32_t v = 0;
                r = sd_bus_message_read(reply, "i", &v);
                text = std::to_string(v);
                break;
            }
            case 'u': {
                std::uint32_t v = 0;
                r = sd_bus_message_read(reply, "u", &v);
                text = std::to_string(v);
                break;
            }
            case 't': {
                std::uint64_t v = 0;
                r = sd_bus_message_read(reply, "t", &v);
                text = std::to_string(v);
                break;
            }
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

int Bus::callGetSetting(const std::string& section, const std::string& key, std::string& value,
                        std::string& errorName, std::string& errorMessage) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    sd_bus_message* reply = nullptr;
    int r = callWithMessage(bus_, "GetSetting", &reply, errorName, errorMessage, "ss",
                            section.c_str(), key.c_str());
    if (r >= 0) {
        r = readString(reply, value);
    }
    sd_bus_message_unref(reply);
    return r;
}

int Bus::callSetSetting(const std::string& section, const std::string& key,
                        const std::string& value, std::string& errorName,
                        std::string& errorMessage) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    sd_bus_message* reply = nullptr;
    int r = callWithMessage(bus_, "SetSetting", &reply, errorName, errorMessage, "sss",
                            section.c_str(), key.c_str(), value.c_str());
    sd_bus_message_unref(reply);
    return r;
}

int Bus::callExportSettings(std::string& ini, std::string& errorName, std::string& errorMessage) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    sd_bus_message* reply = nullptr;
    int r = callWithMessage(bus_, "ExportSettings", &reply, errorName, errorMessage, "");
    if (r >= 0) {
        r = readString(reply, ini);
    }
    sd_bus_message_unref(reply);
    return r;
}

int Bus::callImportSettings(const std::string& ini, std::string& errorName,
                            std::string& errorMessage) {
    if (bus_ == nullptr) {
        return -ENOTCONN;
    }
    sd_bus_message* reply = nullptr;
    int r =
        callWithMessage(bus_, "ImportSettings", &reply, errorName, errorMessage, "s", ini.c_str());
    sd_bus_message_unref(reply);
    return r;
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
