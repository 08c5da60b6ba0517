// vandoractl: talks to a running reader service.
//
//   vandoractl post NAME [WPARAM [LPARAM]]   posts a message ("WM_USER1DOWN", "0x8205", ...)
//   vandoractl show                          shows the service's window
//   vandoractl listen [--count N] [--raw | --json]
//                                            prints each decode the service publishes
//   vandoractl type [--keyboard SINK] [--delay MS] [--unicode-entry] TEXT
//                                            types TEXT through the keystroke sink
//
// Exit codes: 0 success, 1 the operation failed, 2 bad arguments.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/Hex.h"
#include "common/Utf.h"
#include "platform/BusClient.h"
#include "platform/Clock.h"
#include "platform/KeyboardSink.h"
#include "platform/KeyboardSinkName.h"
#include "reader/CodeTypes.h"
#include "reader/engines/EngineTable.h"
#include "rfid/TagTable.h"
#include "runtime/DecodeFormat.h"
#include "runtime/KeyboardEmulation.h"
#include "runtime/Messages.h"
#include "runtime/TypingThread.h"
#include "vandora_client.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: vandoractl [--system-bus] post NAME [WPARAM [LPARAM]]\n"
    "       vandoractl [--system-bus] show\n"
    "       vandoractl [--system-bus] listen [--count N] [--raw | --json]\n"
    "       vandoractl type [--keyboard SINK] [--delay MS] [--unicode-entry] TEXT\n"
    "       vandoractl [--system-bus] status\n"
    "       vandoractl [--system-bus] config get SECTION KEY\n"
    "       vandoractl [--system-bus] config set SECTION KEY VALUE\n"
    "       vandoractl [--system-bus] config export [FILE]\n"
    "       vandoractl [--system-bus] config import FILE\n"
    "\n"
    "post     posts a message to the service's main window: a registered name such as\n"
    "         WM_USER1DOWN or WM_USER1UP (the trigger key), or a number such as 0x8205\n"
    "show     shows and activates the service's window\n"
    "listen   waits for decodes (the event and queue of the service; its windowEvent setting\n"
    "         must be on, and listen says so when it is off) and prints one line per record:\n"
    "         <code type name>: <text>, or <tag type name> uid=<UID>: <data> for a tag, with\n"
    "         control characters written \\xNN; --count N stops after N records. A record\n"
    "         left waiting from before listen started is marked so on standard error.\n"
    "         --raw  kind=<7|32> type=<code type> length=<length> data=<hex> [uid=<UID>]\n"
    "         --json one object per line: kind, type, name, text, hex, uid (tags), time, and\n"
    "                \"earlier\": true on a record left from before listen started\n"
    "type     types TEXT (UTF-8) as the service types a decode in local mode, through the sink\n"
    "         the service would pick (--keyboard SINK, else $VANDORA_KEYBOARD, else uinput,\n"
    "         xtest or none): for checking a keyboard layout on a desktop. Tabs and line\n"
    "         breaks in TEXT are key presses. The virtual keyboard types for the layout of\n"
    "         $VANDORA_XKB_LAYOUT and $VANDORA_XKB_VARIANT, else /etc/default/keyboard, else us.\n"
    "         --delay MS waits MS milliseconds between keys; --unicode-entry types characters\n"
    "         the layout lacks as Ctrl+Shift+U hex entry. Fails (1) when no sink can be opened\n"
    "         or the sink stops answering.\n"
    "status   prints the service's state, one Name=value line per property: Model,\n"
    "         BarcodeEngine, BarcodeBaud, RfidModule, RfidVariant, FirmwareVersion,\n"
    "         BarcodeReady, RfidReady, Status, LastError, GoodReads, FailedReads\n"
    "config   reads or changes the settings of the running service: get prints one value;\n"
    "         set checks the value, sends it to the engine and stores it; export prints the\n"
    "         whole configuration as INI text (or writes it to FILE); import applies an INI\n"
    "         file as the service applies its own at start, or changes nothing and names the\n"
    "         first bad section, key or value. SECTION is the INI section's name, for example\n"
    "         \"Barcode Reader 2D\" or General.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "vandoractl: %s\nTry 'vandoractl --help'.\n", message.c_str());
    return kExitUsage;
}

std::string busWord(bool systemBus) {
    return systemBus ? "system" : "session";
}

// "WM_USER1DOWN, WM_USER1UP, ... or 0x8205": what post takes.
std::string knownMessageNames() {
    std::string names;
    for (std::string_view name : vandora::messageNames()) {
        names += std::string(name) + ", ";
    }
    return names + "or 0x8205";
}

// A failed bus call in words; the D-Bus error name follows in parentheses.
int busFailed(const std::string& what, int r, const std::string& name, const std::string& message,
              bool systemBus) {
    std::string text;
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
        text = "no Vandora service is running on the " + busWord(systemBus) +
               " bus (start it with 'vandora', or 'systemctl --user start vandora')";
    } else if (name == "org.freedesktop.DBus.Error.AccessDenied") {
        text = "the " + busWord(systemBus) + " bus does not let this user call the service";
    } else if (name == "org.freedesktop.DBus.Error.NoReply" ||
               name == "org.freedesktop.DBus.Error.Timeout" || r == -ETIMEDOUT) {
        text = "the service did not answer in time";
    } else if (name == "org.freedesktop.DBus.Error.UnknownMethod" ||
               name == "org.freedesktop.DBus.Error.UnknownObject" ||
               name == "org.freedesktop.DBus.Error.UnknownInterface") {
        text = "the program that holds the bus name org.vandora.Reader does not serve this call";
    } else if (!message.empty()) {
        text = message;
    } else {
        text = std::strerror(-r);
    }
    std::fprintf(stderr, "vandoractl: %s: %s%s\n", what.c_str(), text.c_str(),
                 name.empty() ? "" : (" (" + name + ")").c_str());
    return kExitFailed;
}

int busUnreachable(bool systemBus, int r) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    std::fprintf(stderr, "vandoractl: cannot connect to the %s bus: %s%s\n",
                 busWord(systemBus).c_str(), std::strerror(-r),
                 !systemBus && (address == nullptr || *address == '\0')
                     ? " (DBUS_SESSION_BUS_ADDRESS is not set)"
                     : "");
    return kExitFailed;
}

bool parseNumber(const char* text, long long low, long long high, long long& out) {
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 0);
    if (end == text || *end != '\0' || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

enum class ListenForm { Text, Raw, Json };

// UTF-16 units as UTF-8, control characters (and an unpaired surrogate's replacement) written as
// \xNN so that a record stays one line.
std::string printableUtf8(const vandora::ByteString& text) {
    std::string out;
    for (std::size_t i = 0; i < text.length(); ++i) {
        char32_t c = vandora::takeCodePoint(text, text.length(), i);
        if (vandora::isSurrogate(c)) {
            c = vandora::kReplacementCharacter;
        }
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
            out += escaped;
        } else {
            vandora::appendUtf8(out, c);
        }
    }
    return out;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// What listen asks the service once: which engine names the code types, and whether it sets
// the event at all.
struct ServiceFacts {
    bool reached = false;
    vandora::EngineType engine = vandora::EngineType::None;
    std::string windowEvent;
};

ServiceFacts askService(bool systemBus) {
    ServiceFacts facts;
    vandora::ReaderBusClient bus;
    if (bus.open(systemBus) < 0) {
        return facts;
    }
    std::vector<std::pair<std::string, std::string>> properties;
    std::string name;
    std::string message;
    if (bus.callStatus(properties, name, message) < 0) {
        return facts;
    }
    facts.reached = true;
    for (const auto& [property, value] : properties) {
        if (property == "BarcodeEngine") {
            facts.engine = vandora::engineTypeFromNumber(std::atoi(value.c_str()));
        }
    }
    bus.callGetSetting("General", "windowEvent", facts.windowEvent, name, message);
    return facts;
}

// A barcode's code type name: the CCD/Laser engine names types by letters, the packet engines
// by numbers, and a few numbers mean both; the service's engine decides, else the packet name.
std::string barcodeTypeName(vandora::EngineType engine, std::uint8_t type) {
    bool letters = vandora::engineInfo(engine).ccdBlock;
    const char* name = letters ? vandora::ccdCodeTypeName(type) : nullptr;
    if (name == nullptr && !letters) {
        name = vandora::packetCodeTypeName(type);
    }
    if (name == nullptr && engine == vandora::EngineType::None) {
        name = vandora::ccdCodeTypeName(type);
    }
    return name != nullptr ? name : "type " + std::to_string(type);
}

std::string isoTimeNow() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", text, static_cast<int>(millis));
    return out;
}

void printDecode(const vandora_decode& decode, ListenForm form, vandora::EngineType engine,
                 bool earlier) {
    std::string hex =
        vandora::hexText(std::vector<std::uint8_t>(decode.data, decode.data + decode.data_length));
    bool rfid = decode.kind == VANDORA_KIND_RFID;
    if (form == ListenForm::Raw) {
        std::printf("kind=%u type=%u length=%u data=%s%s%s\n", decode.kind, decode.code_type,
                    decode.length, hex.c_str(), rfid ? " uid=" : "", rfid ? decode.uid : "");
        return;
    }
    vandora::ByteString data = vandora::ByteString::fromBytes(decode.data, decode.data_length);
    std::string name = rfid ? vandora::tagFamilyName(static_cast<char16_t>(decode.code_type))
                            : barcodeTypeName(engine, decode.code_type);
    std::string text =
        printableUtf8(rfid ? data : vandora::convertDecodeText(engine, decode.code_type, data));
    if (form == ListenForm::Text) {
        if (rfid) {
            std::printf("%s uid=%s: %s\n", name.c_str(), decode.uid, text.c_str());
        } else {
            std::printf("%s: %s\n", name.c_str(), text.c_str());
        }
        return;
    }
    std::printf("{\"kind\":%u,\"type\":%u,\"name\":%s,\"text\":%s,\"hex\":\"%s\"", decode.kind,
                decode.code_type, jsonString(name).c_str(), jsonString(text).c_str(), hex.c_str());
    if (rfid) {
        std::printf(",\"uid\":%s", jsonString(decode.uid).c_str());
    }
    std::printf(",\"time\":\"%s\"%s}\n", isoTimeNow().c_str(), earlier ? ",\"earlier\":true" : "");
}

int listen(long long count, ListenForm form, bool systemBus) {
    vandora_client* client = vandora_client_open();
    if (client == nullptr) {
        std::fprintf(stderr, "vandoractl: cannot open the decode queue and event: %s\n",
                     std::strerror(errno));
        return kExitFailed;
    }
    // A record already waiting was published before listen started; it is not a new read.
    bool earlier = vandora_client_pending(client) == 1;
    ServiceFacts facts = askService(systemBus);
    if (facts.windowEvent == "0") {
        std::fprintf(stderr,
                     "vandoractl: listen: the service's windowEvent setting is off, so no record "
                     "will come; turn it on with: vandoractl config set General windowEvent 1\n");
    }
    long long printed = 0;
    while (count <= 0 || printed < count) {
        vandora_decode decode;
        int r = vandora_client_wait(client, -1, &decode);
        if (r < 0) {
            std::fprintf(stderr, "vandoractl: listen: %s\n", std::strerror(errno));
            vandora_client_close(client);
            return kExitFailed;
        }
        if (r == 0) {
            continue;
        }
        if (!facts.reached && decode.kind != VANDORA_KIND_RFID) {
            facts = askService(systemBus);
        }
        if (earlier) {
            std::fflush(stdout);
            std::fprintf(stderr,
                         "vandoractl: listen: this record was waiting from before listen "
                         "started\n");
        }
        printDecode(decode, form, facts.engine, earlier);
        std::fflush(stdout);
        earlier = false;
        ++printed;
    }
    vandora_client_close(client);
    return kExitOk;
}

int typeText(const std::vector<std::string>& args) {
    std::string keyboard;
    long long delay = 0;
    bool unicodeEntry = false;
    std::vector<std::string> words;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--keyboard") {
            if (i + 1 == args.size()) {
                return usageError("--keyboard needs a sink: uinput, xtest, log:PATH or none");
            }
            keyboard = args[++i];
            if (!vandora::isKeyboardSinkName(keyboard)) {
                return usageError("--keyboard: unknown sink '" + keyboard +
                                  "' (uinput, xtest, log:PATH or none)");
            }
        } else if (args[i] == "--delay") {
            if (i + 1 == args.size()) {
                return usageError("--delay needs milliseconds from 0 to 10000");
            }
            if (!parseNumber(args[++i].c_str(), 0, 10000, delay)) {
                return usageError("--delay needs milliseconds from 0 to 10000");
            }
        } else if (args[i] == "--unicode-entry") {
            unicodeEntry = true;
        } else if (args[i].size() > 1 && args[i][0] == '-' && words.empty()) {
            return usageError("type: unknown option '" + args[i] + "'");
        } else {
            words.push_back(args[i]);
        }
    }
    if (words.size() != 1) {
        return usageError("type needs one TEXT");
    }
    vandora::TypingJob job;
    if (!vandora::appendStrictUtf8(words[0], job.text)) {
        return usageError("TEXT is not UTF-8");
    }
    job.interKeyDelayMs = static_cast<std::uint32_t>(delay);
    job.unicodeEntry = unicodeEntry;
    std::unique_ptr<vandora::KeyboardSink> sink = vandora::makeKeyboardSink(keyboard);
    if (dynamic_cast<vandora::NullKeyboardSink*>(sink.get()) != nullptr) {
        std::fprintf(stderr, "vandoractl: no keystroke sink could be opened%s\n",
                     keyboard == "none" ? " (none was asked for)" : "");
        return kExitFailed;
    }
    // A hung X server must not hang the tool: the sink is given up after the time-out.
    constexpr std::uint32_t kTimeoutMs = 5000;
    vandora::TypingThread thread(std::move(sink), vandora::RealClock::instance(), kTimeoutMs,
                                 [](const std::string& message) {
                                     std::fprintf(stderr, "vandoractl: %s\n", message.c_str());
                                 });
    thread.submit(std::move(job));
    return thread.waitUntilDone() ? kExitOk : kExitFailed;
}

}  // namespace

// A value on one line: a line break (CR LF, LF or CR, as status texts have them) is written as
// the two characters "\n", so that every property stays one Name=value line.
std::string oneLine(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
                ++i;
            }
            out += "\\n";
        } else {
            out += value[i];
        }
    }
    return out;
}

// status and config: calls to the running service's management interface.
int manage(bool systemBus, const std::vector<std::string>& args) {
    const std::string& command = args[0];
    std::string action = args.size() > 1 ? args[1] : "";
    if (command == "status" && args.size() != 1) {
        return usageError("status takes no arguments");
    }
    if (command == "config") {
        bool fits = (action == "get" && args.size() == 4) ||
                    (action == "set" && args.size() == 5) ||
                    (action == "export" && (args.size() == 2 || args.size() == 3)) ||
                    (action == "import" && args.size() == 3);
        if (!fits) {
            return usageError(
                "config needs get SECTION KEY, set SECTION KEY VALUE, export [FILE] "
                "or import FILE");
        }
    }
    std::string ini;
    if (action == "import") {
        errno = 0;
        std::ifstream in(args[2], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "vandoractl: cannot read %s: %s\n", args[2].c_str(),
                         std::strerror(errno != 0 ? errno : EIO));
            return kExitFailed;
        }
        ini.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    vandora::ReaderBusClient bus;
    if (int r = bus.open(systemBus); r < 0) {
        return busUnreachable(systemBus, r);
    }
    std::string name;
    std::string message;
    if (command == "status") {
        std::vector<std::pair<std::string, std::string>> properties;
        int r = bus.callStatus(properties, name, message);
        if (r < 0) {
            return busFailed("status", r, name, message, systemBus);
        }
        for (const auto& [property, value] : properties) {
            std::printf("%s=%s\n", property.c_str(), oneLine(value).c_str());
        }
        return kExitOk;
    }
    std::string value;
    int r = 0;
    if (action == "get") {
        r = bus.callGetSetting(args[2], args[3], value, name, message);
    } else if (action == "set") {
        r = bus.callSetSetting(args[2], args[3], args[4], name, message);
    } else if (action == "export") {
        r = bus.callExportSettings(value, name, message);
    } else {
        r = bus.callImportSettings(ini, name, message);
    }
    if (r < 0) {
        return busFailed("config " + action, r, name, message, systemBus);
    }
    if (action == "get") {
        std::printf("%s\n", value.c_str());
    } else if (action == "export" && args.size() == 3) {
        errno = 0;
        std::ofstream out(args[2], std::ios::binary | std::ios::trunc);
        out << value;
        if (!out.flush()) {
            std::fprintf(stderr, "vandoractl: cannot write %s: %s\n", args[2].c_str(),
                         std::strerror(errno != 0 ? errno : EIO));
            return kExitFailed;
        }
    } else if (action == "export") {
        std::fputs(value.c_str(), stdout);
    }
    return kExitOk;
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool systemBus = false;
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
    }
    if (!args.empty() && args[0] == "--system-bus") {
        systemBus = true;
        args.erase(args.begin());
    }
    if (args.empty()) {
        return usageError("missing command");
    }
    const std::string command = args[0];
    if (command == "listen") {
        long long count = 0;
        ListenForm form = ListenForm::Text;
        bool formGiven = false;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--count") {
                if (i + 1 == args.size() || !parseNumber(args[++i].c_str(), 1, 1LL << 40, count)) {
                    return usageError("--count needs a positive number");
                }
            } else if (args[i] == "--raw" || args[i] == "--json") {
                if (formGiven) {
                    return usageError("listen takes one of --raw and --json");
                }
                formGiven = true;
                form = args[i] == "--raw" ? ListenForm::Raw : ListenForm::Json;
            } else {
                return usageError("listen: unknown argument '" + args[i] + "'");
            }
        }
        return listen(count, form, systemBus);
    }
    if (command == "type") {
        return typeText(args);
    }
    if (command == "status" || command == "config") {
        return manage(systemBus, args);
    }
    if (command != "post" && command != "show") {
        return usageError("unknown command '" + command + "'");
    }

    long long wParam = 0;
    long long lParam = 0;
    if (command == "post") {
        if (args.size() < 2 || args.size() > 4) {
            return usageError("post needs NAME [WPARAM [LPARAM]]");
        }
        if (args.size() >= 3 && !parseNumber(args[2].c_str(), 0, 0xFFFFFFFFLL, wParam)) {
            return usageError("WPARAM must be a number from 0 to 4294967295");
        }
        if (args.size() == 4 && !parseNumber(args[3].c_str(), INT64_MIN + 1, INT64_MAX, lParam)) {
            return usageError("LPARAM must be a number");
        }
    } else if (args.size() != 1) {
        return usageError("show takes no arguments");
    }
    vandora::ReaderBusClient bus;
    if (int r = bus.open(systemBus); r < 0) {
        return busUnreachable(systemBus, r);
    }
    std::string error;
    int r = command == "post"
                ? bus.callPostMessage(args[1], static_cast<std::uint32_t>(wParam), lParam, error)
                : bus.callShow(error);
    if (r < 0) {
        std::string message;
        if (error == "org.vandora.Reader1.Error.UnknownMessage") {
            message = "the service does not know the message '" + args[1] +
                      "'; known: " + knownMessageNames();
        }
        return busFailed(command, r, error, message, systemBus);
    }
    return kExitOk;
}
