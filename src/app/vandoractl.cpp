// vandoractl: talks to a running reader service.
//
//   vandoractl post NAME [WPARAM [LPARAM]]   posts a message ("WM_USER1DOWN", "0x8205", ...)
//   vandoractl show                          shows the service's window
//   vandoractl listen [--count N]            prints each decode the service publishes
//
// Exit codes: 0 success, 1 the operation failed, 2 bad arguments.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Bus.h"
#include "vandora_client.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: vandoractl [--system-bus] post NAME [WPARAM [LPARAM]]\n"
    "       vandoractl [--system-bus] show\n"
    "       vandoractl listen [--count N]\n"
    "\n"
    "post     posts a message to the service's main window: a registered name such as\n"
    "         WM_USER1DOWN or WM_USER1UP (the trigger key), or a number such as 0x8205\n"
    "show     shows and activates the service's window\n"
    "listen   waits for decodes (the event and queue of the service; its windowEvent setting\n"
    "         must be on) and prints one line per record:\n"
    "         kind=<7|32> type=<code type> length=<length> data=<hex> [uid=<UID>]\n";

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

}  // namespace

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
