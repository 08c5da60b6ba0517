// vandora-diag: works on a reader port directly, without the service, so that an integrator can
// check an engine: which engine answers and at which rate.
//
//   vandora-diag identify --port PATH [--rfid] [--model N] [--hint H]
//   vandora-diag scan --port PATH [--model N] [--hint H] [--timeout MS]
//   vandora-diag settings --port PATH [--model N] [--hint H] --ini FILE (save|load)
//
// Results go to standard output, errors to standard error. Exit codes: 0 success, 1 the
// operation failed, 2 bad arguments.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/EngineSettings.h"
#include "config/IniStore.h"
#include "config/SettingsTransfer.h"
#include "platform/EngineReadyLine.h"
#include "platform/TermiosSerialPort.h"
#include "reader/Identify.h"
#include "reader/PortOps.h"
#include "reader/ReaderManager.h"
#include "reader/Scan.h"

namespace {

using namespace vandora;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: vandora-diag identify --port PATH [--rfid] [--model N] [--hint H]\n"
    "       vandora-diag scan --port PATH [--model N] [--hint H] [--timeout MS]\n"
    "       vandora-diag settings --port PATH [--model N] [--hint H] --ini FILE (save|load)\n"
    "\n"
    "identify   identifies the engine behind a freshly opened port: the barcode channel, or the\n"
    "           RFID channel with --rfid. --model is the terminal model 0 to 5 (default: from\n"
    "           the registry file), --hint the start-up hint (default 1, detect).\n"
    "           Prints 'engine=<type> baud=<rate> variant=<variant>' (exit 0) or\n"
    "           'engine=0 error=<lastError>' (exit 1).\n"
    "scan       opens the barcode channel as the service does (identification and the\n"
    "           engine's default set), makes one read (--timeout, default 3000 ms) and prints\n"
    "           'type=<codeTypeId> name=<codeTypeName> data=<hex>' (exit 0) or\n"
    "           'noread error=<lastError>' (exit 1).\n"
    "settings   opens the barcode channel as the service does; save writes every section the\n"
    "           service saves for this engine into FILE (creating it), load sends FILE's\n"
    "           sections to the engine. Prints 'written <section>' or 'sent <section>' per\n"
    "           section.\n";

// Every port number of the channel opens the one device given on the command line.
class SinglePathProvider final : public SerialPortProvider {
  public:
    explicit SinglePathProvider(std::string path) : path_(std::move(path)) {}
    std::unique_ptr<SerialPort> create(int /*portNumber*/) override {
        return std::make_unique<TermiosSerialPort>(path_);
    }

  private:
    std::string path_;
};

struct Options {
    std::string command;
    std::string port;
    bool rfid = false;
    std::optional<std::int32_t> model;
    std::int32_t hint = toNumber(EngineType::Detect);
    std::int32_t timeoutMs = 3000;
    std::string ini;
    std::string action;
};

// The port of the command line behind a reader manager, as the service would have it; the
// manager applies the engine's default set on open (its engine setup), or nothing for identify.
struct PortSession {
    PortSession(const Options& options, bool withSettings)
        : ports(options.port),
          platform(makePlatform()),
          manager(platform, withSettings ? &settings : nullptr) {
        manager.setDeviceModel(options.model ? *options.model : manager.detectDeviceModel());
    }
    ReaderPlatform makePlatform() {
        ReaderPlatform p;
        p.ports = &ports;
        p.readyLine = &readyLine;
        p.rfidLink = &link;
        return p;
    }

    SinglePathProvider ports;
    FileEngineReadyLine readyLine;
    UnavailableRfidLink link;
    ReaderPlatform platform;
    EngineSettings settings;
    ReaderManager manager;
};

bool parseInt(const char* text, std::int32_t low, std::int32_t high, std::int32_t& out) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < low || value > high) {
        return false;
    }
    out = static_cast<std::int32_t>(value);
    return true;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "vandora-diag: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

int identify(const Options& options) {
    PortSession session(options, false);
    ReaderManager& manager = session.manager;
    std::int32_t which = options.rfid ? kRfidPort : kBarcodePort;
    ReaderChannel& channel = manager.channel(which);
    channel.port = which;
    if (openPort(channel) == 0 ||
        identifyEngine(channel, engineTypeFromNumber(options.hint)) == 0) {
        std::printf("engine=0 error=%u\n", channel.lastError);
        return kExitFailed;
    }
    std::printf("engine=%d baud=%u variant=%d\n", toNumber(channel.engineType), channel.baudRate,
                channel.rfidVariant);
    return kExitOk;
}

int scan(const Options& options) {
    PortSession session(options, true);
    ReaderManager& manager = session.manager;
    if (manager.openReader(kBarcodePort, engineTypeFromNumber(options.hint)) == 0) {
        std::printf("noread error=%u\n", manager.barcode.lastError);
        return kExitFailed;
    }
    manager.barcodeReady = 1;
    Decode decode;
    if (scanBarcode(manager, decode, static_cast<std::uint32_t>(options.timeoutMs)) == 0) {
        std::printf("noread error=%u\n", manager.barcode.lastError);
        return kExitFailed;
    }
    std::printf("type=%d name=%s data=%s\n", decode.codeTypeId,
                decode.codeTypeName.narrow().c_str(), bytesToHex(decode.data).narrow().c_str());
    return kExitOk;
}

int settingsCommand(const Options& options) {
    PortSession session(options, true);
    ReaderManager& manager = session.manager;
    EngineSettings& engine = session.settings;
    if (manager.openReader(kBarcodePort, engineTypeFromNumber(options.hint)) == 0) {
        std::fprintf(stderr, "vandora-diag: no barcode engine, error %u\n",
                     manager.barcode.lastError);
        return kExitFailed;
    }
    AppSettings settings;
    settings.enableBarcode = 1;
    IniStore store;
    if (options.action == "load") {
        if (store.load(options.ini) == 0) {
            std::fprintf(stderr, "vandora-diag: %s\n", store.lastError().narrow().c_str());
            return kExitFailed;
        }
        loadAll(manager, engine, store, settings, [](const SectionDef& section) {
            std::printf("sent %.*s\n", static_cast<int>(section.name.size()), section.name.data());
        });
        return kExitOk;
    }
    // Sections of other engines already in the file are kept.
    store.load(options.ini);
    saveAll(manager, engine, store, settings, [](const SectionDef& section) {
        std::printf("written %.*s\n", static_cast<int>(section.name.size()), section.name.data());
    });
    if (store.save(options.ini) == 0) {
        std::fprintf(stderr, "vandora-diag: %s\n", store.lastError().narrow().c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
    }
    if (args.empty()) {
        return usageError("missing command");
    }
    Options options;
    options.command = args[0];
    if (options.command != "identify" && options.command != "scan" &&
        options.command != "settings") {
        return usageError("unknown command '" + options.command + "'");
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const char* {
            return i + 1 < args.size() ? args[++i].c_str() : nullptr;
        };
        if (a == "--port") {
            const char* v = value();
            if (v == nullptr || *v == '\0') {
                return usageError("--port needs a path");
            }
            options.port = v;
        } else if (a == "--rfid" && options.command == "identify") {
            options.rfid = true;
        } else if (a == "--ini" && options.command == "settings") {
            const char* v = value();
            if (v == nullptr || *v == '\0') {
                return usageError("--ini needs a file");
            }
            options.ini = v;
        } else if ((a == "save" || a == "load") && options.command == "settings" &&
                   options.action.empty()) {
            options.action = a;
        } else if (a == "--timeout" && options.command == "scan") {
            if (!parseInt(value(), 0, 3600000, options.timeoutMs)) {
                return usageError("--timeout needs milliseconds");
            }
        } else if (a == "--model") {
            std::int32_t model = 0;
            if (!parseInt(value(), 0, 5, model)) {
                return usageError("--model needs a number from 0 to 5");
            }
            options.model = model;
        } else if (a == "--hint") {
            if (!parseInt(value(), 0, 9, options.hint)) {
                return usageError("--hint needs a number from 0 to 9");
            }
        } else {
            return usageError("unknown argument '" + a + "'");
        }
    }
    if (options.port.empty()) {
        return usageError("--port is required");
    }
    if (options.command == "settings") {
        if (options.ini.empty() || options.action.empty()) {
            return usageError("settings needs --ini FILE and save or load");
        }
        return settingsCommand(options);
    }
    return options.command == "scan" ? scan(options) : identify(options);
}
