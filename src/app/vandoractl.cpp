// vandoractl: talks to a running reader service.
//
//   vandoractl post NAME [WPARAM [LPARAM]]   posts a message ("WM_USER1DOWN", "0x8205", ...)
//   vandoractl show                          shows the service's window
//   vandoractl listen [--count N]            prints each decode the service publishes
//   vandoractl type [--keyboard SINK] [--delay MS] [--unicode-entry] TEXT
//                                            types TEXT through the keystroke sink
//
// Exit codes: 0 success, 1 the operation failed, 2 bad arguments.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/Bus.h"
#include "platform/Clock.h"
#include "platform/KeyboardSink.h"
#include "runtime/KeyboardEmulation.h"
#include "runtime/TypingThread.h"
#include "vandora_client.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: vandoractl [--system-bus] post NAME [WPARAM [LPARAM]]\n"
    "       vandoractl [--system-bus] show\n"
    "       vandoractl listen [--count N]\n"
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
    "         must be on) and prints one line per record:\n"
    "         kind=<7|32> type=<code type> length=<length> data=<hex> [uid=<UID>]\n"
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
    std::fprintf(stderr, "vandoractl: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
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

int listen(long long count) {
    vandora_client* client = vandora_client_open();
    if (client == nullptr) {
        std::fprintf(stderr, "vandoractl: cannot open the decode queue\n");
        return kExitFailed;
    }
    long long printed = 0;
    while (count <= 0 || printed < count) {
        vandora_decode decode;
        int r = vandora_client_wait(client, -1, &decode);
        if (r < 0) {
            vandora_client_close(client);
            return kExitFailed;
        }
        if (r == 0) {
            continue;
        }
        std::printf("kind=%u type=%u length=%u data=", decode.kind, decode.code_type,
                    decode.length);
        for (std::size_t i = 0; i < decode.data_length; ++i) {
            std::printf("%02X", decode.data[i]);
        }
        if (decode.kind == VANDORA_KIND_RFID) {
            std::printf(" uid=%s", decode.uid);
        }
        std::printf("\n");
        std::fflush(stdout);
        ++printed;
    }
    vandora_client_close(client);
    return kExitOk;
}

// UTF-8 into the UTF-16 units a decode's text holds; false on a malformed sequence.
bool utf16Of(const std::string& text, vandora::ByteString& out) {
    for (std::size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t n = lead < 0x80         ? 1
                        : (lead >> 5) == 6  ? 2
                        : (lead >> 4) == 14 ? 3
                        : (lead >> 3) == 30 ? 4
                                            : 0;
        if (n == 0 || i + n > text.size()) {
            return false;
        }
        char32_t c = n == 1 ? lead : lead & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            unsigned char follow = static_cast<unsigned char>(text[i + k]);
            if ((follow >> 6) != 2) {
                return false;
            }
            c = (c << 6) | (follow & 0x3F);
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.append(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.append(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.append(static_cast<char16_t>(c));
        }
        i += n;
    }
    return true;
}

int typeText(const std::vector<std::string>& args) {
    std::string keyboard;
    long long delay = 0;
    bool unicodeEntry = false;
    std::vector<std::string> words;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--keyboard" && i + 1 < args.size()) {
            keyboard = args[++i];
        } else if (args[i] == "--delay" && i + 1 < args.size()) {
            if (!parseNumber(args[++i].c_str(), 0, 10000, delay)) {
                return usageError("--delay needs milliseconds from 0 to 10000");
            }
        } else if (args[i] == "--unicode-entry") {
            unicodeEntry = true;
        } else {
            words.push_back(args[i]);
        }
    }
    if (words.size() != 1) {
        return usageError("type needs one TEXT");
    }
    vandora::TypingJob job;
    if (!utf16Of(words[0], job.text)) {
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

int failed(const std::string& what, int r, const std::string& name, const std::string& message) {
    std::fprintf(stderr, "vandoractl: %s: %s%s%s\n", what.c_str(),
                 message.empty() ? std::strerror(-r) : message.c_str(), name.empty() ? "" : " (",
                 name.empty() ? "" : (name + ")").c_str());
    return kExitFailed;
}

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
        std::ifstream in(args[2], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "vandoractl: cannot read %s\n", args[2].c_str());
            return kExitFailed;
        }
        ini.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    vandora::Bus bus;
    if (bus.open(systemBus) < 0) {
        std::fprintf(stderr, "vandoractl: cannot reach the %s bus\n",
                     systemBus ? "system" : "session");
        return kExitFailed;
    }
    std::string name;
    std::string message;
    if (command == "status") {
        std::vector<std::pair<std::string, std::string>> properties;
        int r = bus.callStatus(properties, name, message);
        if (r < 0) {
            return failed("status", r, name, message);
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
        return failed("config " + action, r, name, message);
    }
    if (action == "get") {
        std::printf("%s\n", value.c_str());
    } else if (action == "export" && args.size() == 3) {
        std::ofstream out(args[2], std::ios::binary | std::ios::trunc);
        out << value;
        if (!out.flush()) {
            std::fprintf(stderr, "vandoractl: cannot write %s\n", args[2].c_str());
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
        if (args.size() == 3 && args[1] == "--count") {
            if (!parseNumber(args[2].c_str(), 1, 1LL << 40, count)) {
                return usageError("--count needs a positive number");
            }
        } else if (args.size() != 1) {
            return usageError("listen takes only --count N");
        }
        return listen(count);
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
    vandora::Bus bus;
    if (bus.open(systemBus) < 0) {
        std::fprintf(stderr, "vandoractl: cannot reach the %s bus\n",
                     systemBus ? "system" : "session");
        return kExitFailed;
    }
    std::string error;
    int r = command == "post"
                ? bus.callPostMessage(args[1], static_cast<std::uint32_t>(wParam), lParam, error)
                : bus.callShow(error);
    if (r < 0) {
        std::fprintf(stderr, "vandoractl: %s: %s\n", command.c_str(),
                     error.empty() ? std::strerror(-r) : error.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
