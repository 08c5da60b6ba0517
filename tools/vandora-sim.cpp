// vandora-sim: one simulated engine behind a pseudo-terminal, for running the service, the
// diagnostics tool or end-to-end tests without the hardware.
//
// Prints the slave path on one line of standard output (and links PATH to it with --link), then
// serves until SIGTERM or SIGINT, or until standard input closes when it is a pipe, socket or
// terminal (a job started in the background with /dev/null as input keeps serving).
// Exit codes: 0 stopped, 1 the pseudo-terminal could not be set up, 2 bad arguments.
//
// With --replay it plays the engine's side of one port of a serial trace instead, and exits
// after the last answer: 0 when the host said what the recording says, 1 at the first
// divergence (printed with its line number).
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PtyBridge.h"
#include "SessionReplay.h"
#include "engines/EngineModels.h"

namespace {

using namespace vandora::sim;
using vandora::parseHex;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: vandora-sim --engine N [--baud B] [--link PATH] [--variant V]\n"
    "                   [--decode TYPE:HEXDATA[:wrapped][:split=N] | --decode noread]...\n"
    "                   [--repeat] [--decode-delay MS] [--reply-delay MS]\n"
    "                   [--silent] [--refuse] [--garbage] [--cut K] [--stall K:MS]\n"
    "                   [--tag KIND]... [--trace FILE]\n"
    "       vandora-sim --replay FILE --link PATH [--port COMn]\n"
    "\n"
    "--engine N      engine type: 2 CCD/Laser, 3 2D imager, 4 1D long-range laser, 8 2D\n"
    "                imager (newer), 9 1D laser, 5 RFID letter-command module, 6 RFID\n"
    "                hexadecimal-frame module, 7 RFID binary-link module\n"
    "--baud B        rate the engine starts at (default: its working rate)\n"
    "--link PATH     also make PATH a symbolic link to the slave side\n"
    "--variant V     RFID letter-command module firmware line: 1 (default) or 0\n"
    "--decode T:D    a decode returned on trigger, in order: T the code type byte in\n"
    "                hexadecimal (CCD/Laser: the identifier character's code, e.g. 41 for A;\n"
    "                RFID: the family letter's code, or the family number), D the data (RFID:\n"
    "                the UID) in hexadecimal; ':wrapped' sends it behind the 0x99 marker,\n"
    "                ':split=N' puts N data bytes in each packet. 'noread' is a no-read.\n"
    "--repeat        cycle through the decodes instead of using them up\n"
    "--decode-delay  time from trigger to decode (default 30 ms)\n"
    "--reply-delay   time before every answer (default 0)\n"
    "--silent, --refuse, --garbage\n"
    "                answer nothing, refuse every command, answer junk\n"
    "--cut K         send only the first K bytes of each answer\n"
    "--stall K:MS    pause MS milliseconds after the first K bytes of each answer\n"
    "--tag KIND      RFID: a sample tag in the module's field, in order: mifare, ultralight,\n"
    "                sr176, srix4k, tagit, iso15693 or iso15693-option (a maker that needs\n"
    "                the option flag); without --tag one of each\n"
    "--trace FILE    record every byte that passes the line, with its time, direction and the\n"
    "                host's rate, in FILE (mode 0600)\n"
    "--replay FILE   play the engine's side of port COMn (default COM1) of a trace to the host\n"
    "                on the pseudo-terminal; prints 'replayed <n> exchanges' (exit 0) or\n"
    "                'diverged at line <n>: want <bytes> got <bytes>' (exit 1)\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "vandora-sim: %s\nTry 'vandora-sim --help'.\n", message.c_str());
    return kExitUsage;
}

bool parseNumber(const char* text, unsigned long long high, unsigned long long& out) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > high) {
        return false;
    }
    out = value;
    return true;
}

bool parseDecode(const std::string& arg, SimDecode& out) {
    if (arg == "noread") {
        out.form = DecodeForm::NoRead;
        return true;
    }
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        std::size_t colon = arg.find(':', from);
        parts.push_back(arg.substr(from, colon - from));
        if (colon == std::string::npos) {
            break;
        }
        from = colon + 1;
    }
    std::vector<std::uint8_t> type;
    if (parts.size() < 2 || !parseHex(parts[0], type) || type.size() != 1 ||
        !parseHex(parts[1], out.data)) {
        return false;
    }
    out.codeType = type[0];
    for (std::size_t i = 2; i < parts.size(); ++i) {
        unsigned long long n = 0;
        if (parts[i] == "wrapped") {
            out.form = DecodeForm::Wrapped;
        } else if (parts[i].rfind("split=", 0) == 0 && parseNumber(parts[i].c_str() + 6, 250, n) &&
                   n > 0) {
            out.packetData = static_cast<std::size_t>(n);
        } else {
            return false;
        }
    }
    return true;
}

// Standard input counts as a stop signal only when something can close it.
bool watchStdin() {
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0) {
        return false;
    }
    return S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || ::isatty(STDIN_FILENO) != 0;
}

// Makes linkPath a symbolic link to target (replacing an old link); false after saying why.
bool makeLink(const std::string& target, const std::string& linkPath) {
    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        ::unlink(linkPath.c_str());
    }
    if (::symlink(target.c_str(), linkPath.c_str()) != 0) {
        std::fprintf(stderr, "vandora-sim: cannot link %s: %s\n", linkPath.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

int replay(const std::string& file, const std::string& port, const std::string& linkPath) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vandora-sim: cannot read %s: %s\n", file.c_str(),
                     std::strerror(errno));
        return kExitFailed;
    }
    std::ostringstream text;
    text << in.rdbuf();
    SessionReplay session;
    std::string error;
    if (!session.parse(text.str(), port, error)) {
        std::fprintf(stderr, "vandora-sim: %s: %s\n", file.c_str(), error.c_str());
        return kExitFailed;
    }
    int rc = session.start();
    if (rc != 0) {
        std::fprintf(stderr, "vandora-sim: cannot open a pseudo-terminal: %s\n", std::strerror(rc));
        return kExitFailed;
    }
    if (!makeLink(session.slavePath(), linkPath)) {
        return kExitFailed;
    }
    std::printf("%s\n", session.slavePath().c_str());
    std::fflush(stdout);
    ReplayResult result = session.run();
    ::unlink(linkPath.c_str());
    std::printf("%s\n", result.message.c_str());
    return result.diverged ? kExitFailed : kExitOk;
}

int serve(int engineType, const SimOptions& options, const std::vector<std::string>& tags,
          const std::string& linkPath, const std::string& tracePath) {
    std::shared_ptr<EngineSim> model = makeEngineModel(engineType, options);
    if (TagField* field = model->tagField()) {
        field->clear();
        if (tags.empty()) {
            for (SimTag& tag : sampleTags()) {
                field->place(std::move(tag));
            }
        }
        for (const std::string& name : tags) {
            field->place(*sampleTag(name));
        }
    }
    // Signals are taken through a descriptor; the bridge's thread inherits the block.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);

    PtyBridge bridge(model);
    vandora::SerialTrace trace;
    if (!tracePath.empty()) {
        const EngineFacts& facts = *engineFacts(engineType);
        bool rfid = facts.framing == WireFraming::AsciiText ||
                    facts.framing == WireFraming::HexText ||
                    facts.framing == WireFraming::BinaryLink;
        // The simulator does not know the terminal it is fitted to.
        int rc = trace.open(
            tracePath, "vandora-sim",
            vandora::traceTerminalLine(-1, rfid ? 0 : engineType, rfid ? engineType : 0));
        if (rc != 0) {
            std::fprintf(stderr, "vandora-sim: cannot write %s: %s\n", tracePath.c_str(),
                         std::strerror(rc));
            return kExitFailed;
        }
        bridge.setTrace(&trace, rfid ? "COM2" : "COM1");
    }
    int rc = bridge.start();
    if (rc != 0) {
        std::fprintf(stderr, "vandora-sim: cannot open a pseudo-terminal: %s\n", std::strerror(rc));
        return kExitFailed;
    }
    bool linked = false;
    if (!linkPath.empty()) {
        if (!makeLink(bridge.slavePath(), linkPath)) {
            return kExitFailed;
        }
        linked = true;
    }
    std::printf("%s\n", bridge.slavePath().c_str());
    std::fflush(stdout);

    bool stdinWatched = watchStdin();
    for (;;) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {stdinWatched ? STDIN_FILENO : -1, POLLIN, 0}};
        int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            break;
        }
        if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            char buffer[256];
            if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
                break;
            }
        }
    }
    bridge.stop();
    trace.close();
    if (linked) {
        ::unlink(linkPath.c_str());
    }
    if (signalFd >= 0) {
        ::close(signalFd);
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int engineType = 0;
    std::string linkPath;
    SimOptions options;
    std::vector<std::string> tags;
    std::string tracePath;
    std::string replayPath;
    std::string replayPort = "COM1";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const char* {
            return i + 1 < args.size() ? args[++i].c_str() : nullptr;
        };
        unsigned long long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (a == "--engine") {
            if (!parseNumber(value(), 9, n) || engineFacts(static_cast<int>(n)) == nullptr) {
                return usageError("--engine needs one of 2, 3, 4, 5, 6, 7, 8, 9");
            }
            engineType = static_cast<int>(n);
        } else if (a == "--baud") {
            if (!parseNumber(value(), 4000000, n) || n == 0) {
                return usageError("--baud needs a rate");
            }
            options.startBaud = static_cast<std::uint32_t>(n);
        } else if (a == "--link") {
            const char* v = value();
            if (v == nullptr || *v == '\0') {
                return usageError("--link needs a path");
            }
            linkPath = v;
        } else if (a == "--variant") {
            if (!parseNumber(value(), 1, n)) {
                return usageError("--variant needs 0 or 1");
            }
            options.variant = static_cast<int>(n);
        } else if (a == "--decode") {
            const char* v = value();
            SimDecode decode;
            if (v == nullptr || !parseDecode(v, decode)) {
                return usageError("--decode needs TYPE:HEXDATA[:wrapped][:split=N] or noread");
            }
            options.decodes.push_back(decode);
        } else if (a == "--repeat") {
            options.repeatDecodes = true;
        } else if (a == "--decode-delay" || a == "--reply-delay") {
            if (!parseNumber(value(), 3600000, n)) {
                return usageError(a + " needs milliseconds");
            }
            (a == "--decode-delay" ? options.decodeDelayUs : options.faults.replyDelayUs) =
                n * 1000;
        } else if (a == "--tag") {
            const char* v = value();
            if (v == nullptr || !sampleTag(v)) {
                return usageError(
                    "--tag needs mifare, ultralight, sr176, srix4k, tagit, "
                    "iso15693 or iso15693-option");
            }
            tags.emplace_back(v);
        } else if (a == "--trace" || a == "--replay") {
            const char* v = value();
            if (v == nullptr || *v == '\0') {
                return usageError(a + " needs a file");
            }
            (a == "--trace" ? tracePath : replayPath) = v;
        } else if (a == "--port") {
            const char* v = value();
            std::string name = v != nullptr ? v : "";
            if (name.rfind("COM", 0) != 0 || !parseNumber(name.c_str() + 3, 9, n) || n == 0) {
                return usageError("--port needs COM1 to COM9");
            }
            replayPort = name;
        } else if (a == "--silent") {
            options.faults.silent = true;
        } else if (a == "--refuse") {
            options.faults.refuseAll = true;
        } else if (a == "--garbage") {
            options.faults.garbage = true;
        } else if (a == "--cut") {
            if (!parseNumber(value(), 65535, n)) {
                return usageError("--cut needs a byte count");
            }
            options.faults.cutAfter = static_cast<std::size_t>(n);
        } else if (a == "--stall") {
            const char* v = value();
            std::string arg = v != nullptr ? v : "";
            std::size_t colon = arg.find(':');
            unsigned long long ms = 0;
            if (colon == std::string::npos ||
                !parseNumber(arg.substr(0, colon).c_str(), 65535, n) ||
                !parseNumber(arg.substr(colon + 1).c_str(), 3600000, ms)) {
                return usageError("--stall needs K:MS");
            }
            options.faults.stallAfter = static_cast<std::size_t>(n);
            options.faults.stallUs = ms * 1000;
        } else {
            return usageError("unknown argument '" + a + "'");
        }
    }
    if (!replayPath.empty()) {
        if (linkPath.empty()) {
            return usageError("--replay needs --link PATH");
        }
        return replay(replayPath, replayPort, linkPath);
    }
    if (engineType == 0) {
        return usageError("--engine is required");
    }
    return serve(engineType, options, tags, linkPath, tracePath);
}
