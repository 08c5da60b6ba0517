// vandora-diag: works on a reader port directly, without the service, so that an integrator can
// check an engine: which engine answers and at which rate.
//
//   vandora-diag identify --port PATH [--rfid] [--model N] [--hint H]
//   vandora-diag scan --port PATH [--model N] [--hint H] [--timeout MS]
//   vandora-diag settings --port PATH [--model N] [--hint H] --ini FILE (save|load)
//   vandora-diag rfid --port PATH [--model N] [--hint H] read [--start B] [--length N] [--key
//   HEX12]
//                [--key-b]
//   vandora-diag rfid ... write --start B --data HEX [--key HEX12] [--key-b]
//   vandora-diag rfid ... keys --sector S --new-a HEX12 --new-b HEX12 [--key HEX12] [--key-b]
//   vandora-diag capture --port PATH [--model N] [--hint H] [--timeout MS] --out FILE
//   vandora-diag firmware --port PATH [--model N] [--hint H] FILE
//
// Results go to standard output, errors to standard error. Exit codes: 0 success, 1 the
// operation failed, 2 bad arguments.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/AppSettings.h"
#include "config/EngineSettings.h"
#include "config/IniStore.h"
#include "config/SettingsTransfer.h"
#include "config/engines/ImagerPictureFormat.h"
#include "platform/AtomicFile.h"
#include "platform/EngineReadyLine.h"
#include "platform/SerialTrace.h"
#include "platform/TermiosSerialPort.h"
#include "reader/Firmware.h"
#include "reader/Identify.h"
#include "reader/ImageCapture.h"
#include "reader/PortOps.h"
#include "reader/ReaderManager.h"
#include "reader/Scan.h"
#include "reader/engines/EngineTable.h"
#include "rfid/TagOps.h"
#include "rfid/link/RfidLink.h"

namespace {

using namespace vandora;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: vandora-diag identify --port PATH [--rfid] [--model N] [--hint H]\n"
    "       vandora-diag scan --port PATH [--model N] [--hint H] [--timeout MS]\n"
    "       vandora-diag settings --port PATH [--model N] [--hint H] --ini FILE (save|load)\n"
    "       vandora-diag rfid --port PATH [--model N] [--hint H] read [--start B] [--length N]\n"
    "                    [--key HEX12] [--key-b]\n"
    "       vandora-diag rfid ... write --start B --data HEX [--key HEX12] [--key-b]\n"
    "       vandora-diag rfid ... keys --sector S --new-a HEX12 --new-b HEX12 [--key HEX12]\n"
    "                    [--key-b]\n"
    "       vandora-diag capture --port PATH [--model N] [--hint H] [--timeout MS] --out FILE\n"
    "       vandora-diag firmware --port PATH [--model N] [--hint H] FILE\n"
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
    "           section.\n"
    "rfid       opens the RFID channel as the service does (identification and the module's\n"
    "           default set). read reads one tag from byte B (default -1, the default page),\n"
    "           N bytes (default 16) and prints 'type=<code> name=<name> uid=<UID>\n"
    "           data=<hex>' (exit 0) or 'noread error=<code>' (exit 1). write writes HEX at\n"
    "           byte B and prints 'written uid=<UID>'; keys gives Mifare sector S (0 to 63) the\n"
    "           new keys A and B and prints 'keys uid=<UID>'; both print 'error=<code>' and\n"
    "           exit 1 on failure. --key is the Mifare login key (12 hexadecimal digits,\n"
    "           default the settings' default key), key A unless --key-b.\n"
    "capture    opens the barcode channel as the service does, takes one picture with the\n"
    "           2D imager as the picture thread does (turned and encoded as terminal model N\n"
    "           does; --timeout default 3000 ms) and writes it to FILE. Prints\n"
    "           'picture=<FILE> bytes=<n>' (exit 0) or 'nopicture error=<lastError>' (exit 1).\n"
    "firmware   opens the barcode channel, prints 'version=<text>', uploads the decoder\n"
    "           firmware FILE (.shx for the CCD/Laser engine, .dat for the newer 2D imager)\n"
    "           and prints the result on one line; exit 0 on success, 1 on failure.\n"
    "identify, capture and firmware show their progress on standard error while it is a\n"
    "terminal. A port that cannot be opened is named on standard error with the reason.\n"
    "--trace FILE records every byte that passes the port, with its time and direction, rate\n"
    "           changes and purges, in FILE (mode 0600; it can hold decoded data).\n";

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
    // rfid
    std::int32_t start = -1;
    bool startGiven = false;
    std::int32_t length = 16;
    ByteString key = AppSettings().mifareLoginKeyA;
    std::int32_t keyType = 0;
    ByteString data;
    std::int32_t sector = -1;
    ByteString newKeyA;
    ByteString newKeyB;
    // capture and firmware
    std::string out;
    std::string file;
    std::string trace;
};

// One line of progress on standard error, drawn only while it is a terminal: what is being done
// and for how long, or a bar once the work can say how far it is. A thread of its own redraws it
// every quarter second, so that a long identification shows that it is alive.
class ProgressLine {
  public:
    explicit ProgressLine(std::string phase)
        : shown_(isatty(STDERR_FILENO) != 0),
          phase_(std::move(phase)),
          started_(std::chrono::steady_clock::now()) {
        if (shown_) {
            thread_ = std::thread([this] { run(); });
        }
    }
    ~ProgressLine() {
        if (!shown_) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
        // The line is wiped, so that the result lines stand alone.
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void phase(std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        phase_ = std::move(text);
        percent_ = -1;
    }
    void set(int position, int range) {
        if (range <= 0) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        percent_ = std::clamp(position * 100 / range, 0, 100);
    }

  private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            draw();
            wake_.wait_for(lock, std::chrono::milliseconds(250));
        }
    }
    void draw() const {
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - started_)
                           .count();
        if (percent_ < 0) {
            std::fprintf(stderr, "\r\033[K%s... %llds", phase_.c_str(),
                         static_cast<long long>(seconds));
        } else {
            constexpr int kWidth = 40;
            int filled = percent_ * kWidth / 100;
            std::fprintf(stderr, "\r\033[K[%s%s] %3d%% %s",
                         std::string(static_cast<std::size_t>(filled), '#').c_str(),
                         std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(),
                         percent_, phase_.c_str());
        }
        std::fflush(stderr);
    }

    bool shown_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    bool stop_ = false;
    std::string phase_;
    int percent_ = -1;
    std::chrono::steady_clock::time_point started_;
};

// Whether PATH opens as a serial port; else says why on standard error (naming the path and the
// system's text for the error) and returns the error number for the result line.
int portProblem(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        std::fprintf(stderr, "vandora-diag: cannot open %s: %s\n", path.c_str(),
                     std::strerror(error));
        return error;
    }
    termios attributes{};
    int error = ::tcgetattr(fd, &attributes) == 0 ? 0 : errno;
    ::close(fd);
    if (error != 0) {
        std::fprintf(stderr, "vandora-diag: %s is not a serial port: %s\n", path.c_str(),
                     std::strerror(error));
    }
    return error;
}

// The port of the command line behind a reader manager, as the service would have it; the
// manager applies the engine's default set on open (its engine setup), or nothing for identify.
struct PortSession {
    PortSession(const Options& options, bool withSettings)
        : traced(!options.trace.empty()),
          ports(options.port),
          platform(makePlatform()),
          manager(platform, withSettings ? &settings : nullptr) {
        manager.setDeviceModel(options.model ? *options.model : manager.detectDeviceModel());
        if (traced) {
            bool rfidChannel = options.rfid || options.command == "rfid";
            int rc =
                trace.open(options.trace, "vandora-diag",
                           traceTerminalLine(manager.deviceModel(), rfidChannel ? 0 : options.hint,
                                             rfidChannel ? options.hint : 0));
            if (rc != 0) {
                std::fprintf(stderr, "vandora-diag: cannot write %s: %s\n", options.trace.c_str(),
                             std::strerror(rc));
                std::exit(kExitFailed);
            }
        }
    }
    SerialPortProvider& portsInUse() {
        return traced ? static_cast<SerialPortProvider&>(tracedPorts) : ports;
    }
    ReaderPlatform makePlatform() {
        ReaderPlatform p;
        p.ports = &portsInUse();
        p.readyLine = &readyLine;
        p.rfidLink = &link;
        return p;
    }

    bool traced;
    SinglePathProvider ports;
    SerialTrace trace;
    TracingPortProvider tracedPorts{ports, trace};
    FileEngineReadyLine readyLine;
    RfidLink link{portsInUse(), RealClock::instance()};
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
    std::fprintf(stderr, "vandora-diag: %s\nTry 'vandora-diag --help'.\n", message.c_str());
    return kExitUsage;
}

// The result line of a command whose port did not open, as when the engine's channel fails.
int portFailed(const Options& options, int error) {
    if (options.command == "identify") {
        std::printf("engine=0 error=%d\n", error);
    } else if (options.command == "scan" ||
               (options.command == "rfid" && options.action == "read")) {
        std::printf("noread error=%d\n", error);
    } else if (options.command == "capture") {
        std::printf("nopicture error=%d\n", error);
    } else if (options.command == "rfid") {
        std::printf("error=%d\n", error);
    }
    return kExitFailed;
}

int identify(const Options& options) {
    PortSession session(options, false);
    ReaderManager& manager = session.manager;
    std::int32_t which = options.rfid ? kRfidPort : kBarcodePort;
    ReaderChannel& channel = manager.channel(which);
    channel.port = which;
    std::int32_t found = 0;
    {
        ProgressLine progress("identifying the engine on " + options.port);
        found = openPort(channel) != 0 &&
                identifyEngine(channel, engineTypeFromNumber(options.hint)) != 0;
    }
    if (found == 0) {
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

// Opens the RFID channel with the module's default set, as the service's start does.
bool openRfid(ReaderManager& manager, const Options& options) {
    if (manager.openReader(kRfidPort, engineTypeFromNumber(options.hint)) == 0) {
        return false;
    }
    manager.rfidReady = 1;
    return true;
}

std::array<std::uint8_t, 6> keyBytes(const ByteString& hex) {
    ByteString bytes;
    hexToBytes(hex, bytes);
    std::array<std::uint8_t, 6> key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[i] = bytes.byteAt(i);
    }
    return key;
}

int rfid(const Options& options) {
    PortSession session(options, true);
    ReaderManager& manager = session.manager;
    ReaderChannel& channel = manager.rfid;
    if (options.action == "read") {
        TagRead tag;
        if (!openRfid(manager, options) || readTag(manager, options.start, options.length,
                                                   options.key, options.keyType, tag) == 0) {
            std::printf("noread error=%u\n", channel.lastError);
            return kExitFailed;
        }
        std::printf("type=%d name=%s uid=%s data=%s\n", tag.codeTypeId,
                    tag.codeTypeName.narrow().c_str(), tag.uid.narrow().c_str(),
                    bytesToHex(tag.userData).narrow().c_str());
        return kExitOk;
    }
    if (!openRfid(manager, options)) {
        std::printf("error=%u\n", channel.lastError);
        return kExitFailed;
    }
    if (options.action == "write") {
        ByteString data;
        hexToBytes(options.data, data);
        if (writeTag(manager, options.start, data, options.key, options.keyType) == 0) {
            std::printf("error=%u\n", channel.lastError);
            return kExitFailed;
        }
        std::printf("written uid=%s\n", channel.decodeData.narrow().c_str());
        return kExitOk;
    }
    // keys: the tag is found first, so that its UID can be named.
    TagRead tag;
    SectorKeys keys;
    keys.keyType = options.keyType;
    keys.sector = options.sector;
    keys.keyText = options.key;
    keys.loginKey = keyBytes(options.key);
    keys.newKeyA = keyBytes(options.newKeyA);
    keys.newKeyB = keyBytes(options.newKeyB);
    if (readTag(manager, -1, 0, options.key, options.keyType, tag) == 0 ||
        changeSectorKeys(manager, keys) == 0) {
        std::printf("error=%u\n", channel.lastError);
        return kExitFailed;
    }
    std::printf("keys uid=%s\n", tag.uid.narrow().c_str());
    return kExitOk;
}

int capture(const Options& options) {
    PortSession session(options, true);
    ReaderManager& manager = session.manager;
    std::vector<std::uint8_t> picture;
    std::int32_t taken = 0;
    {
        ProgressLine progress("opening the engine on " + options.port);
        if (manager.openReader(kBarcodePort, engineTypeFromNumber(options.hint)) != 0) {
            manager.barcodeReady = 1;
            PictureFormat format = imagerPictureFormat(manager, session.settings);
            progress.phase("taking the picture");
            taken = captureImage(manager, picture, static_cast<std::uint32_t>(options.timeoutMs),
                                 format, [&progress](int percent) { progress.set(percent, 100); });
        }
    }
    if (taken == 0) {
        std::printf("nopicture error=%u\n", manager.barcode.lastError);
        return kExitFailed;
    }
    AtomicFile out(options.out);
    if (out.write(picture) == 0) {
        std::fprintf(stderr, "vandora-diag: cannot write %s: %s\n", options.out.c_str(),
                     std::strerror(out.lastError()));
        return kExitFailed;
    }
    std::printf("picture=%s bytes=%zu\n", options.out.c_str(), picture.size());
    return kExitOk;
}

int firmware(const Options& options) {
    // The file is checked before the port: a misspelt name fails at once, not after the
    // engine's identification.
    if (FILE* file = std::fopen(options.file.c_str(), "rb")) {
        std::fclose(file);
    } else {
        std::fprintf(stderr, "vandora-diag: cannot read %s: %s\n", options.file.c_str(),
                     std::strerror(errno));
        std::printf("%s\n", kUploadFailsText);
        return kExitFailed;
    }
    if (portProblem(options.port) != 0) {
        std::printf("%s\n", kUploadFailsText);
        return kExitFailed;
    }
    PortSession session(options, true);
    ReaderManager& manager = session.manager;
    ProgressLine progress("opening the engine on " + options.port);
    if (manager.openReader(kBarcodePort, engineTypeFromNumber(options.hint)) == 0) {
        progress.phase("");
        std::fprintf(stderr, "\r\033[Kvandora-diag: no barcode engine, error %u\n",
                     manager.barcode.lastError);
        std::printf("%s\n", kUploadFailsText);
        return kExitFailed;
    }
    EngineType type = manager.barcodeEngineType();
    ByteString version;
    queryFirmwareVersion(manager, type, version);
    std::printf("version=%s\n", version.narrow().c_str());
    std::fflush(stdout);
    std::int32_t ok = 0;
    if (takesFirmware(type)) {
        int range = engineInfo(type).firmware == FirmwareFile::Dat ? 1000 : 100;
        progress.phase("uploading " + options.file);
        progress.set(0, range);
        ok = uploadDecoder(manager, options.file,
                           [&progress, range](int position) { progress.set(position, range); });
    }
    std::string result = ok != 0 ? uploadSucceedsText(type) : kUploadFailsText;
    for (std::size_t at = result.find("\r\n"); at != std::string::npos; at = result.find("\r\n")) {
        result.replace(at, 2, " ");
    }
    std::printf("%s\n", result.c_str());
    return ok != 0 ? kExitOk : kExitFailed;
}

bool isHexText(const char* text, std::size_t length) {
    if (text == nullptr || std::strlen(text) != length) {
        return false;
    }
    for (const char* c = text; *c != '\0'; ++c) {
        if (std::isxdigit(static_cast<unsigned char>(*c)) == 0) {
            return false;
        }
    }
    return true;
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
        options.command != "settings" && options.command != "rfid" &&
        options.command != "capture" && options.command != "firmware") {
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
        } else if (a == "--trace") {
            const char* v = value();
            if (v == nullptr || *v == '\0') {
                return usageError("--trace needs a file");
            }
            options.trace = v;
        } else if (a == "--rfid" && options.command == "identify") {
            options.rfid = true;
        } else if (a == "--ini" && options.command == "settings") {
            const char* v = value();
            if (v == nullptr || *v == '\0') {
                return usageError("--ini needs a file");
            }
            options.ini = v;
        } else if (options.action.empty() &&
                   (((a == "save" || a == "load") && options.command == "settings") ||
                    ((a == "read" || a == "write" || a == "keys") && options.command == "rfid"))) {
            options.action = a;
        } else if (a == "--start" && options.command == "rfid") {
            if (!parseInt(value(), -1, 65535, options.start)) {
                return usageError("--start needs a byte number from -1 on");
            }
            options.startGiven = true;
        } else if (a == "--length" && options.command == "rfid") {
            if (!parseInt(value(), 0, 65535, options.length)) {
                return usageError("--length needs a number of bytes");
            }
        } else if (a == "--key" && options.command == "rfid") {
            const char* v = value();
            if (!isHexText(v, 12)) {
                return usageError("--key needs 12 hexadecimal digits");
            }
            options.key = v;
        } else if (a == "--key-b" && options.command == "rfid") {
            options.keyType = 1;
        } else if (a == "--data" && options.command == "rfid") {
            const char* v = value();
            if (v == nullptr || *v == '\0' || !isHexText(v, std::strlen(v)) ||
                std::strlen(v) % 2 != 0) {
                return usageError("--data needs bytes in hexadecimal");
            }
            options.data = v;
        } else if (a == "--sector" && options.command == "rfid") {
            if (!parseInt(value(), 0, 63, options.sector)) {
                return usageError("--sector needs a number from 0 to 63");
            }
        } else if ((a == "--new-a" || a == "--new-b") && options.command == "rfid") {
            const char* v = value();
            if (!isHexText(v, 12)) {
                return usageError(a + " needs 12 hexadecimal digits");
            }
            (a == "--new-a" ? options.newKeyA : options.newKeyB) = v;
        } else if (a == "--out" && options.command == "capture") {
            const char* v = value();
            if (v == nullptr || *v == '\0') {
                return usageError("--out needs a file");
            }
            options.out = v;
        } else if (options.command == "firmware" && options.file.empty() && !a.empty() &&
                   a[0] != '-') {
            options.file = a;
        } else if (a == "--timeout" &&
                   (options.command == "scan" || options.command == "capture")) {
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
        return usageError(options.command + " needs --port PATH");
    }
    if (options.command == "settings" && (options.ini.empty() || options.action.empty())) {
        return usageError("settings needs --ini FILE and save or load");
    }
    if (options.command == "rfid") {
        if (options.action.empty()) {
            return usageError("rfid needs read, write or keys");
        }
        if (options.action == "write" && (!options.startGiven || options.data.empty())) {
            return usageError("rfid write needs --start B and --data HEX");
        }
        if (options.action == "keys" &&
            (options.sector < 0 || options.newKeyA.empty() || options.newKeyB.empty())) {
            return usageError("rfid keys needs --sector S, --new-a HEX12 and --new-b HEX12");
        }
    }
    if (options.command == "capture" && options.out.empty()) {
        return usageError("capture needs --out FILE");
    }
    if (options.command == "firmware") {
        if (options.file.empty()) {
            return usageError("firmware needs a FILE");
        }
        return firmware(options);
    }
    if (int error = portProblem(options.port); error != 0) {
        return portFailed(options, error);
    }
    if (options.command == "settings") {
        return settingsCommand(options);
    }
    if (options.command == "rfid") {
        return rfid(options);
    }
    if (options.command == "capture") {
        return capture(options);
    }
    return options.command == "scan" ? scan(options) : identify(options);
}
