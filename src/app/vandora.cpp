// vandora: the resident reader service.
//
//   vandora [--headless] [--simulate[=SPEC]] [--system-bus] [--keyboard SINK] [--detect]
//   vandora --screenshots DIR [--simulate[=SPEC]] [--scale N]
//
// With a display it shows its window and tray icon (the windows are a module loaded only then).
// Without a display, or with --headless, it runs without windows: status texts go to standard
// error and "Do you want to quit?" is answered OK. SIGTERM, SIGINT and SIGHUP quit as a confirmed
// quit does, so the settings are read back from the engines and the INI file is written; when that
// write fails the status text says where the settings were kept instead and the exit status
// is 1.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SimulatedTerminal.h"
#include "config/MqttSettings.h"
#include "platform/Clock.h"
#include "platform/DecodeChannel.h"
#include "platform/Display.h"
#include "platform/EngineReadyLine.h"
#include "platform/FileContents.h"
#include "platform/Folders.h"
#include "platform/KeyboardSink.h"
#include "platform/KeyboardSinkName.h"
#include "platform/Log.h"
#include "platform/MosquittoClient.h"
#include "platform/ProgramModule.h"
#include "platform/SerialTrace.h"
#include "platform/SoundPlayer.h"
#include "platform/TermiosSerialPort.h"
#include "reader/ReaderManager.h"
#include "rfid/link/RfidLink.h"
#include "runtime/BusService.h"
#include "runtime/Management.h"
#include "runtime/MqttBridge.h"
#include "runtime/ReaderService.h"
#include "runtime/TypingThread.h"
#include "runtime/sinks/PublishSink.h"
#include "runtime/sinks/TypingSink.h"
#include "ui/WindowModule.h"

namespace {

using namespace vandora;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr std::uint32_t kReleaseAfterMs = 300;
// A keystroke sink call that takes longer than this has stopped answering (a hung X server); a
// live one answers within milliseconds.
constexpr std::uint32_t kKeyboardTimeoutMs = 2000;

const char* const kUsage =
    "usage: vandora [--headless] [--simulate[=SPEC]] [--system-bus] [--keyboard SINK] [--detect]\n"
    "       vandora --screenshots DIR [--simulate[=SPEC]] [--scale N]\n"
    "\n"
    "The resident reader service of the terminal: identifies the barcode engine and the RFID\n"
    "module behind the serial ports, sends them their settings and turns trigger messages into\n"
    "reads delivered to other programs.\n"
    "\n"
    "--headless         run without windows (also the case without a display)\n"
    "--simulate[=SPEC]  simulated engines behind the ports instead of devices. SPEC is a\n"
    "                   comma-separated list of model=N (terminal model 0-5), barcode=T (engine\n"
    "                   type 2 CCD/Laser, 3 or 8 2D imager, 4 long-range laser, 9 1D laser, 0\n"
    "                   none) and rfid=T (RFID module 5 letter commands, 6 hexadecimal frames,\n"
    "                   7 binary link, 0 none), as each model carries them (below; any other\n"
    "                   combination is refused), and decodeMs=N (the barcode engine's time to a\n"
    "                   decode, 0 to 60000 ms; default 30). The default is "
    "model=4,barcode=3,rfid=0, a\n"
    "                   terminal with a 2D imager; a model named alone gets its 2D imager. The\n"
    "                   engine decodes a list of sample barcodes; the RFID module has sample\n"
    "                   tags in its field (Mifare 1K with the default key, Ultralight, SR176,\n"
    "                   SRIX4K, Tag-it, ISO 15693). With a terminal on standard input,\n"
    "                   each Enter press is a trigger press and release, and each decode is\n"
    "                   printed on standard output.\n"
    "--system-bus       use the system bus instead of the session bus\n"
    "--keyboard SINK    keystroke sink: uinput, xtest, log:PATH or none\n"
    "--detect           look for both engines whatever the settings file says, and store what\n"
    "                   is found in it\n"
    "--trace FILE       record every byte that passes the serial ports, with its time, port and\n"
    "                   direction, rate changes and purges, in FILE (mode 0600; it can hold\n"
    "                   decoded data); also VANDORA_TRACE=FILE\n"
    "--screenshots DIR  draws, without a display, the window's tabs and every option and\n"
    "                   symbology page of the terminal into DIR as PNG files named after the\n"
    "                   page's title (general.png, code-128.png, ...), then exits\n"
    "--scale N          with --screenshots: 1 for the 320 x 300 layout (the default), 2 for the\n"
    "                   640 x 600 one\n"
    "\n"
    "The bus is answered from the start: while the engines are being found (which can take\n"
    "several seconds) Show is handled at once, and trigger presses and other messages are kept\n"
    "and handled in order as soon as the readers are up. A barcode engine whose device goes away\n"
    "is closed and said so on the status line; it is opened, identified and sent its settings\n"
    "again when its device comes back.\n";

// The usage text with the simulated terminals' combinations at its end.
std::string usage() {
    return std::string(kUsage) + "\nWhat each terminal model carries (--simulate):\n" +
           sim::terminalCombinations();
}

// Standard error goes nowhere: writing each status line there would cost a system call a read.
bool stderrIsNull() {
    struct stat err {};
    struct stat null {};
    return ::fstat(STDERR_FILENO, &err) == 0 && S_ISCHR(err.st_mode) &&
           ::stat("/dev/null", &null) == 0 && err.st_rdev == null.st_rdev;
}

// The view of a service without windows: the status line goes to standard error, each text
// once. Under systemd, where standard error is a stream into the journal, it says nothing: the
// status line would put every read into the journal, and the failures it shows are logged with
// their priorities and error numbers already. Nor does it when standard error is /dev/null. Where
// the log writes standard error too, the texts it has said are not repeated; where decodes are
// echoed on standard output, their status line is not either.
class HeadlessView final : public MainView {
  public:
    explicit HeadlessView(bool decodesEchoed) : decodesEchoed_(decodesEchoed) {}
    void setStatusText(const ByteString& text) override { showStatus(text, StatusOrigin::Plain); }
    void showStatus(const ByteString& text, StatusOrigin origin) override {
        if (text.empty() || quiet_ ||
            (origin == StatusOrigin::Logged && logWritesStandardError()) ||
            (origin == StatusOrigin::Decode && decodesEchoed_)) {
            return;
        }
        std::string line = text.narrow();
        for (char& c : line) {
            if (c == '\r' || c == '\n') {
                c = ' ';
            }
        }
        std::fprintf(stderr, "vandora: %s\n", line.c_str());
    }
    int messageBox(const std::string& text, const std::string& caption) override {
        if (!quiet_) {
            std::fprintf(stderr, "vandora: %s: %s OK\n", caption.c_str(), text.c_str());
        }
        return kOk;
    }

  private:
    bool quiet_ = stderrIsJournal() || stderrIsNull();
    bool decodesEchoed_;
};

struct Options {
    bool headless = false;
    bool simulate = false;
    std::string spec;
    bool systemBus = false;
    bool detect = false;
    std::string keyboard;
    std::string screenshots;  // the folder; empty: a service
    int scale = 1;
    std::string trace;  // --trace FILE, else $VANDORA_TRACE
};

const WindowModule* loadWindows() {
    std::string error;
    auto entry = reinterpret_cast<WindowModuleEntry>(
        programModuleSymbol(kWindowModuleFile, kWindowModuleSymbol, &error));
    if (entry == nullptr) {
        logMessage(LogLevel::Warning, "windows unavailable, running without: " + error);
        return nullptr;
    }
    return entry();
}

// A view that keeps quiet: the pictures of the pages need no status lines.
class SilentView final : public MainView {
  public:
    void setStatusText(const ByteString& /*text*/) override {}
    int messageBox(const std::string& /*text*/, const std::string& /*caption*/) override {
        return kOk;
    }
};

// The pictures of every page of the (simulated) terminal, from a settings file of its own so
// that they look the same wherever they are drawn.
int drawScreenshots(const Options& options, const ReaderPlatform& platform) {
    const WindowModule* windows = loadWindows();
    if (windows == nullptr) {
        std::fprintf(stderr, "vandora: --screenshots: the windows module is missing\n");
        return kExitFailed;
    }
    char folder[] = "/tmp/vandora-screenshots-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("vandora: --screenshots");
        return kExitFailed;
    }
    std::string ini = std::string(folder) + "/VandoraINI.txt";
    int written = -1;
    {
        SilentView view;
        ReaderServiceParts parts;
        parts.platform = platform;
        parts.view = &view;
        parts.iniPath = ini;
        ReaderService service(parts);
        service.startUp();
        written = windows->screenshots(&service, options.screenshots.c_str(), options.scale);
    }
    unlink(ini.c_str());
    rmdir(folder);
    if (written < 0) {
        std::fprintf(stderr, "vandora: --screenshots: cannot write into %s\n",
                     options.screenshots.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

struct ViewDeleter {
    const WindowModule* windows;
    void operator()(MainView* view) const { windows->destroyView(view); }
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "vandora: %s\nTry 'vandora --help'.\n", message.c_str());
    return kExitUsage;
}

// The pictures' folder is made and tried before the engines are looked for (which takes
// seconds), so that a folder that cannot be written fails at once.
bool screenshotFolderWritable(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    int error = ec ? ec.value() : (access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno);
    if (error != 0) {
        std::fprintf(stderr, "vandora: --screenshots: cannot write into %s: %s\n", folder.c_str(),
                     std::strerror(error));
        return false;
    }
    return true;
}

std::string printable(const ByteString& data) {
    std::string out;
    for (std::size_t i = 0; i < data.length(); ++i) {
        char16_t c = data.at(i);
        out.push_back(c >= 32 && c < 127 ? static_cast<char>(c) : '.');
    }
    return out;
}

// Simulation mode: each decode on standard output, as the engine sent it.
class EchoSink final : public DecodeSink {
  public:
    void deliver(const Delivery& delivery, const AppSettings& /*settings*/) override {
        std::printf("%s: %s\n", delivery.decode.codeTypeName.narrow().c_str(),
                    printable(delivery.decode.data).c_str());
        std::fflush(stdout);
    }
};

// The outputs to other programs. Made once this instance holds the bus name, so that a second
// instance never touches the first one's keyboard, queue or event.
struct Outputs {
    Outputs(const std::string& keyboardName, BusService& bus)
        : Outputs(makeKeyboardSink(keyboardName), bus) {}
    Outputs(std::unique_ptr<KeyboardSink> keyboard, BusService& bus)
        : typesKeys(dynamic_cast<NullKeyboardSink*>(keyboard.get()) == nullptr),
          typist(std::move(keyboard), RealClock::instance(), kKeyboardTimeoutMs),
          typing(typist),
          publish(channel, bus.signals()) {
        if (!channel.ready()) {
            logMessage(LogLevel::Error, channel.error());
        }
    }
    // A keystroke sink is there to type into ("none" is none): without one, decodes are not
    // turned into keystrokes at all, and the typing thread never starts.
    bool typesKeys;
    // Keystrokes are typed off the user-interface thread: a slow pace or a hung X server never
    // holds up the record, event and signals of the same decode.
    TypingThread typist;
    TypingSink typing;
    DecodeChannelWriter channel;
    PublishSink publish;
    EchoSink echo;
};

// Where the MQTT outbox and sequence counter live: the system service's state folder (systemd
// names it), else the user's.
std::string mqttStateFolder() {
    const char* systemd = std::getenv("STATE_DIRECTORY");
    if (systemd != nullptr && *systemd == '/' && std::strchr(systemd, ':') == nullptr) {
        std::string folder = systemd;
        return folder.back() == '/' ? folder : folder + "/";
    }
    return stateFolder();
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

// The client of the site's broker, when [MQTT] in the settings file (loaded by now) turns it on.
// Null when it is off or cannot start; the log says why.
std::unique_ptr<MqttBridge> startMqtt(ReaderService& service, Management& management,
                                      MqttClient& client) {
    MqttSettings settings;
    for (const std::string& problem : readMqttSettings(service.store(), hostName(), settings)) {
        logMessage(LogLevel::Warning, "bad value in " + service.iniPath() + ": " + problem);
    }
    if (!settings.enable) {
        return nullptr;
    }
    std::string password;
    if (!settings.passwordFile.empty()) {
        std::vector<std::uint8_t> bytes;
        if (!readWholeFile(settings.passwordFile, bytes, 4096)) {
            logMessage(LogLevel::Error, "MQTT stays off: cannot read the password file " +
                                            settings.passwordFile + ": " + std::strerror(errno));
            return nullptr;
        }
        password.assign(bytes.begin(), bytes.end());
        while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) {
            password.pop_back();
        }
    }
    auto bridge = std::make_unique<MqttBridge>(client, service.loop(), &management, settings,
                                               mqttStateFolder());
    if (bridge->start(password) == 0) {
        logMessage(LogLevel::Error, "MQTT stays off: " + bridge->message());
        return nullptr;
    }
    return bridge;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool scaleGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(usage().c_str(), stdout);
            return kExitOk;
        } else if (a == "--headless") {
            options.headless = true;
        } else if (a == "--simulate") {
            options.simulate = true;
        } else if (a.rfind("--simulate=", 0) == 0) {
            options.simulate = true;
            options.spec = a.substr(std::strlen("--simulate="));
        } else if (a == "--system-bus") {
            options.systemBus = true;
        } else if (a == "--detect") {
            options.detect = true;
        } else if (a == "--trace") {
            if (i + 1 == argc) {
                return usageError("--trace needs a file");
            }
            options.trace = argv[++i];
        } else if (a == "--keyboard" || a == "--screenshots" || a == "--scale") {
            if (i + 1 == argc) {
                return usageError(a + " needs " +
                                  (a == "--keyboard" ? "a sink: uinput, xtest, log:PATH or none"
                                   : a == "--screenshots" ? "a folder"
                                                          : "1 or 2"));
            }
            std::string value = argv[++i];
            if (a == "--keyboard") {
                if (!isKeyboardSinkName(value)) {
                    return usageError("--keyboard: unknown sink '" + value +
                                      "' (uinput, xtest, log:PATH or none)");
                }
                options.keyboard = value;
            } else if (a == "--screenshots") {
                if (value.empty()) {
                    return usageError("--screenshots needs a folder");
                }
                options.screenshots = value;
            } else {
                if (value != "1" && value != "2") {
                    return usageError("--scale: 1 or 2, not '" + value + "'");
                }
                options.scale = value == "2" ? 2 : 1;
                scaleGiven = true;
            }
        } else {
            return usageError("unknown argument '" + a + "'");
        }
    }
    if (scaleGiven && options.screenshots.empty()) {
        return usageError("--scale needs --screenshots DIR");
    }

    std::unique_ptr<sim::SimulatedTerminal> terminal;
    LinuxSerialPortProvider ports;
    FileEngineReadyLine readyLine;
    std::unique_ptr<RfidLink> link;
    ReaderPlatform platform;
    if (options.simulate) {
        sim::TerminalSpec spec;
        std::string error;
        if (!sim::parseTerminalSpec(options.spec, spec, error)) {
            return usageError("--simulate: " + error);
        }
        terminal = std::make_unique<sim::SimulatedTerminal>(spec);
        platform = terminal->platform();
    } else {
        platform.ports = &ports;
        platform.readyLine = &readyLine;
    }
    // Tracing wraps whatever ports there are, before anything opens one; off, nothing is wrapped.
    if (options.trace.empty() && std::getenv("VANDORA_TRACE") != nullptr) {
        options.trace = std::getenv("VANDORA_TRACE");
    }
    SerialTrace trace;
    std::unique_ptr<TracingPortProvider> tracedPorts;
    if (!options.trace.empty()) {
        std::string terminalLine;
        if (terminal) {
            sim::TerminalSpec spec;
            std::string error;
            (void)sim::parseTerminalSpec(options.spec, spec, error);
            terminalLine = traceTerminalLine(spec.model, spec.barcode, spec.rfid);
        } else {
            // Devices: the engines are found by detection or from the settings' hints.
            terminalLine =
                traceTerminalLine(ReaderManager(platform, nullptr).detectDeviceModel(),
                                  toNumber(EngineType::Detect), toNumber(EngineType::Detect));
        }
        int rc = trace.open(options.trace, "vandora", terminalLine);
        if (rc != 0) {
            std::fprintf(stderr, "vandora: cannot write %s: %s\n", options.trace.c_str(),
                         std::strerror(rc));
            return kExitFailed;
        }
        tracedPorts = std::make_unique<TracingPortProvider>(*platform.ports, trace);
        platform.ports = tracedPorts.get();
    }
    // The binary link opens the RFID port itself, through the same ports (simulated or not).
    link = std::make_unique<RfidLink>(*platform.ports, *platform.clock);
    platform.rfidLink = link.get();
    if (!options.screenshots.empty()) {
        if (!screenshotFolderWritable(options.screenshots)) {
            return kExitFailed;
        }
        return drawScreenshots(options, platform);
    }

    // SIGTERM, SIGINT and SIGHUP (the terminal closed) arrive through the event loop, as a
    // confirmed quit: the settings are read back and saved.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);

    // Simulation echoes each decode on standard output.
    HeadlessView headless(options.simulate);
    // The windows, when there is a display to show them on; the view outlives the service.
    const WindowModule* windows = !options.headless && displayAvailable() ? loadWindows() : nullptr;
    std::unique_ptr<MainView, ViewDeleter> windowView(nullptr, ViewDeleter{windows});
    if (windows != nullptr) {
        windowView.reset(windows->createView(&argc, argv));
    }
    AlsaSoundPlayer sound;
    bool echo = options.simulate && isatty(STDIN_FILENO) != 0;
    BusService bus(options.systemBus);
    std::unique_ptr<Outputs> outputs;
    MosquittoClient mqttClient;
    std::unique_ptr<MqttBridge> mqtt;
    ReaderServiceParts parts;
    parts.platform = platform;
    parts.view = windowView ? windowView.get() : static_cast<MainView*>(&headless);
    parts.sound = &sound;
    parts.detect = options.detect;
    ReaderService service(parts);
    bus.attach(service.loop());
    if (!bus.claimInstance()) {
        // Another instance runs: it has been asked to show itself.
        return kExitOk;
    }
    service.setBroadcasts(bus.signals());
    // Status properties and settings for management tools.
    Management management(service, bus.object());
    bus.object().setManagement(&management);
    outputs = std::make_unique<Outputs>(options.keyboard, bus);
    // The record and the broadcasts first: reader programs need not wait for the typing thread.
    service.addSink(outputs->publish);
    if (outputs->typesKeys) {
        service.addSink(outputs->typing);
    }
    if (options.simulate) {
        service.addSink(outputs->echo);
    }
    service.startUpInBackground();
    // The broker last: its outbox append must never hold up the other outputs of a decode.
    mqtt = startMqtt(service, management, mqttClient);
    if (mqtt) {
        service.addSink(*mqtt);
        MqttBridge* bridge = mqtt.get();
        management.setStatusFollower([bridge](const ReaderStatus& st) { bridge->setStatus(st); });
        bridge->setStatus(management.status());
    }
    EventLoop& loop = service.loop();
    if (signalFd >= 0) {
        loop.watchFd(signalFd, POLLIN, [&](short) {
            signalfd_siginfo info{};
            while (read(signalFd, &info, sizeof info) == sizeof info) {
            }
            service.quitNow();
        });
    }
    if (echo) {
        std::fprintf(stderr, "vandora: simulation: press Enter to pull the trigger\n");
        loop.watchFd(STDIN_FILENO, POLLIN, [&](short revents) {
            char buffer[256];
            ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0 || (revents & (POLLHUP | POLLERR)) != 0) {
                service.quitNow();
                return;
            }
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\n' && service.lookingForEngines()) {
                    // The press would wait for the engines: it is answered instead.
                    std::fprintf(stderr,
                                 "vandora: still looking for the engines; press Enter again "
                                 "once they are found\n");
                } else if (buffer[i] == '\n') {
                    loop.post({Msg::User1Down, 0, 0});
                    loop.addTimer(kReleaseAfterMs, [&] { loop.post({Msg::User1Up, 0, 0}); });
                }
            }
        });
    }
    int code = windowView ? windows->run(windowView.get(), &service) : loop.run();
    if (signalFd >= 0) {
        close(signalFd);
    }
    // A clean stop: the status says offline before the connection ends.
    management.setStatusFollower({});
    mqtt.reset();
    return code == 0 && !service.saveFailed() ? kExitOk : kExitFailed;
}
