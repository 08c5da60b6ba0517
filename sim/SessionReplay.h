// SessionReplay: plays the engine's side of one port of a serial trace (platform/SerialTrace.h)
// on a pseudo-terminal, so that the host program that made the trace can be run against what a
// real engine said.
//
// The host's bytes are checked against each `>` line and answered with the `<` lines that
// followed them, after the recorded pause since the last bytes (at most 1 s). The host is given
// its recorded pause and 1 s more for each `>` line. A rate line is checked against the rate the
// host's side of the terminal is set to when its next bytes arrive. Host bytes written just
// before a purge with no answer between may have been dropped by that purge: when other bytes
// come in their place, or none within 1 s beyond the recorded pause, they are passed over.
// The first bytes or rate that differ stop the replay with the line number and both values.
//
// Threading: one thread; run() blocks until the replay ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vandora::sim {

struct ReplayStep {
    enum class Kind : std::uint8_t { Host, Engine, Rate, Purge };
    Kind kind = Kind::Host;
    int line = 0;  // 1-based line in the file, comments counted
    std::uint64_t timeUs = 0;
    std::vector<std::uint8_t> bytes;
    std::uint32_t baud = 0;
    bool mayBeDropped = false;  // Host bytes a later purge may have discarded
};

struct ReplayResult {
    bool diverged = false;
    int exchanges = 0;    // `>` lines played
    std::string message;  // "replayed <n> exchanges" or "diverged at line <n>: ..."
};

class SessionReplay {
  public:
    // Reads the steps of one port ("COM1") from a trace's text. False, with a message, for a
    // line that is not of the format.
    bool parse(const std::string& text, const std::string& port, std::string& error);
    const std::vector<ReplayStep>& steps() const { return steps_; }

    // Opens the pseudo-terminal. 0 or an errno value.
    int start();
    const std::string& slavePath() const { return slavePath_; }
    // Plays the steps against whatever opens the slave side.
    ReplayResult run();

    SessionReplay() = default;
    ~SessionReplay();
    SessionReplay(const SessionReplay&) = delete;
    SessionReplay& operator=(const SessionReplay&) = delete;

  private:
    struct HostByte {
        std::uint8_t value;
        std::uint32_t baud;  // the host's rate when it arrived
    };
    // Reads what the host has sent until deadlineUs, until `want` bytes are waiting, or until
    // what waits differs from step's bytes or came at another rate than `rate` (0: any).
    void receive(std::size_t want, std::uint64_t deadlineUs, const ReplayStep* step,
                 std::uint32_t rate);
    bool differs(const ReplayStep& step, std::uint32_t rate) const;
    void sendAt(const std::vector<std::uint8_t>& bytes, std::uint64_t atUs);
    std::uint32_t hostBaud() const;

    std::vector<ReplayStep> steps_;
    std::vector<HostByte> pending_;
    int master_ = -1;
    std::string slavePath_;
};

// Writes bytes in a trace's form: uppercase hexadecimal pairs, blank-separated.
std::string traceHex(const std::vector<std::uint8_t>& bytes);

}  // namespace vandora::sim
