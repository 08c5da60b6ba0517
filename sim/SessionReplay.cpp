#include "SessionReplay.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "PseudoTerminal.h"
#include "common/Hex.h"

#include "platform/Clock.h"

namespace vandora::sim {
namespace {

constexpr std::uint64_t kSecondUs = 1000000;
// The host program starts after the replay and may take a while (a first start, a sanitizer).
constexpr std::uint64_t kFirstBytesUs = 60 * kSecondUs;
// Without a host on the slave side the master reports a hang-up at once; look again this often.
constexpr int kNoHostPollMs = 20;

std::uint64_t nowUs() {
    return RealClock::instance().nowUs();
}

bool parseBytes(std::istringstream& in, std::vector<std::uint8_t>& out) {
    std::string pair;
    while (in >> pair) {
        std::vector<std::uint8_t> byte;
        if (pair.size() != 2 || !parseHex(pair, byte)) {
            return false;
        }
        out.push_back(byte[0]);
    }
    return !out.empty();
}

bool parseTime(const std::string& text, std::uint64_t& us) {
    std::size_t dot = text.find('.');
    std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (whole.empty() || fraction.size() > 6 ||
        whole.find_first_not_of("0123456789") != std::string::npos ||
        fraction.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    fraction.resize(6, '0');
    us = std::strtoull(whole.c_str(), nullptr, 10) * kSecondUs +
         std::strtoull(fraction.c_str(), nullptr, 10);
    return true;
}

void pause(int ms) {
    (void)::poll(nullptr, 0, ms);
}

}  // namespace

std::string traceHex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    for (std::uint8_t b : bytes) {
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.push_back(kUpperHexDigits[b >> 4]);
        out.push_back(kUpperHexDigits[b & 0xF]);
    }
    return out;
}

SessionReplay::~SessionReplay() {
    if (master_ >= 0) {
        ::close(master_);
    }
}

bool SessionReplay::parse(const std::string& text, const std::string& port, std::string& error) {
    steps_.clear();
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream in(line);
        std::string time;
        std::string name;
        std::string event;
        ReplayStep step;
        step.line = number;
        bool ok = static_cast<bool>(in >> time >> name >> event) && parseTime(time, step.timeUs);
        if (ok && event == ">") {
            step.kind = ReplayStep::Kind::Host;
            ok = parseBytes(in, step.bytes);
        } else if (ok && event == "<") {
            step.kind = ReplayStep::Kind::Engine;
            ok = parseBytes(in, step.bytes);
        } else if (ok && event == "=") {
            step.kind = ReplayStep::Kind::Rate;
            unsigned long long baud = 0;
            ok = static_cast<bool>(in >> baud) && baud > 0 && baud <= 4000000;
            step.baud = static_cast<std::uint32_t>(baud);
        } else if (ok && event == "purge") {
            step.kind = ReplayStep::Kind::Purge;
        } else {
            ok = false;
        }
        if (!ok) {
            error = "line " + std::to_string(number) + " is not a trace line";
            return false;
        }
        if (name == port) {
            steps_.push_back(std::move(step));
        }
    }
    // Host bytes followed by a purge before any answer may never have reached the engine.
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        if (steps_[i].kind != ReplayStep::Kind::Host) {
            continue;
        }
        for (std::size_t j = i + 1; j < steps_.size(); ++j) {
            if (steps_[j].kind == ReplayStep::Kind::Engine) {
                break;
            }
            if (steps_[j].kind == ReplayStep::Kind::Purge) {
                steps_[i].mayBeDropped = true;
                break;
            }
        }
    }
    return true;
}

int SessionReplay::start() {
    if (master_ >= 0) {
        return EBUSY;
    }
    return openRawPseudoTerminal(master_, slavePath_);
}

std::uint32_t SessionReplay::hostBaud() const {
    return pseudoTerminalBaud(master_);
}

bool SessionReplay::differs(const ReplayStep& step, std::uint32_t rate) const {
    if (pending_.empty()) {
        return false;
    }
    if (rate != 0 && pending_[0].baud != rate) {
        return true;
    }
    std::size_t have = std::min(pending_.size(), step.bytes.size());
    for (std::size_t i = 0; i < have; ++i) {
        if (pending_[i].value != step.bytes[i]) {
            return true;
        }
    }
    return false;
}

void SessionReplay::receive(std::size_t want, std::uint64_t deadlineUs, const ReplayStep* step,
                            std::uint32_t rate) {
    std::uint8_t buffer[4096];
    while (pending_.size() < want && (step == nullptr || !differs(*step, rate))) {
        std::uint64_t now = nowUs();
        if (now >= deadlineUs) {
            return;
        }
        pollfd fd{master_, POLLIN, 0};
        int ms = static_cast<int>(std::min<std::uint64_t>((deadlineUs - now + 999) / 1000, 1000));
        if (::poll(&fd, 1, ms) < 0 && errno != EINTR) {
            return;
        }
        if ((fd.revents & POLLIN) != 0) {
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) {
                std::uint32_t baud = hostBaud();
                for (ssize_t i = 0; i < n; ++i) {
                    pending_.push_back({buffer[i], baud});
                }
                // The host is talking: give the rest of its bytes a second after each piece.
                deadlineUs = std::max(deadlineUs, nowUs() + kSecondUs);
                continue;
            }
        }
        if ((fd.revents & (POLLHUP | POLLERR)) != 0) {
            pause(kNoHostPollMs);
        }
    }
}

void SessionReplay::sendAt(const std::vector<std::uint8_t>& bytes, std::uint64_t atUs) {
    // Whatever the host says meanwhile is kept for the next `>` line.
    receive(SIZE_MAX, atUs, nullptr, 0);
    std::size_t at = 0;
    std::uint64_t giveUpUs = nowUs() + kSecondUs;
    while (at < bytes.size() && nowUs() < giveUpUs) {
        ssize_t n = ::write(master_, bytes.data() + at, bytes.size() - at);
        if (n > 0) {
            at += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            // Nobody on the slave side: the answer is lost, as on a wire nobody listens to.
            return;
        }
        pollfd fd{master_, POLLOUT, 0};
        (void)::poll(&fd, 1, kNoHostPollMs);
    }
}

ReplayResult SessionReplay::run() {
    ReplayResult result;
    auto diverge = [&](int line, const std::string& want, const std::string& got) {
        result.diverged = true;
        result.message = "diverged at line " + std::to_string(line) + ": want " + want + " got" +
                         (got.empty() ? "" : " " + got);
        return result;
    };
    std::uint32_t expectedRate = 0;
    int rateLine = 0;
    bool rateChecked = true;
    bool first = true;
    std::uint64_t prevTimeUs = 0;
    std::uint64_t prevRealUs = nowUs();
    std::uint64_t lastSentUs = 0;
    for (const ReplayStep& step : steps_) {
        std::uint64_t gapUs = step.timeUs > prevTimeUs ? step.timeUs - prevTimeUs : 0;
        switch (step.kind) {
            case ReplayStep::Kind::Rate:
                expectedRate = step.baud;
                rateLine = step.line;
                rateChecked = false;
                break;
            case ReplayStep::Kind::Purge:
                break;
            case ReplayStep::Kind::Engine:
                sendAt(step.bytes, prevRealUs + std::min(gapUs, kSecondUs));
                lastSentUs = nowUs();
                break;
            case ReplayStep::Kind::Host: {
                ++result.exchanges;
                std::size_t want = step.bytes.size();
                // The host's pause since the last bytes either way is kept, and a second more:
                // after a silent engine it waited out its own time-out before going on.
                std::uint64_t waitUs = first ? kFirstBytesUs : gapUs + kSecondUs;
                // A host that already said something else is not waited for.
                receive(want, nowUs() + waitUs, &step, expectedRate);
                std::size_t have = std::min(pending_.size(), want);
                bool same = have == want;
                for (std::size_t i = 0; same && i < want; ++i) {
                    same = pending_[i].value == step.bytes[i];
                }
                bool rateOk = have == 0 || expectedRate == 0 || pending_[0].baud == expectedRate;
                if (step.mayBeDropped && !(same && rateOk)) {
                    // Dropped by the purge: what came belongs to a later line.
                    break;
                }
                if (have > 0 && !rateOk) {
                    return diverge(rateLine, "= " + std::to_string(expectedRate),
                                   "= " + std::to_string(pending_[0].baud));
                }
                if (!same) {
                    std::vector<std::uint8_t> got;
                    for (std::size_t i = 0; i < have; ++i) {
                        got.push_back(pending_[i].value);
                    }
                    return diverge(step.line, traceHex(step.bytes), traceHex(got));
                }
                rateChecked = true;
                first = false;
                pending_.erase(pending_.begin(),
                               pending_.begin() + static_cast<std::ptrdiff_t>(want));
                break;
            }
        }
        // Pauses run from the last bytes that passed, not from purges and rate changes.
        if (step.kind == ReplayStep::Kind::Host || step.kind == ReplayStep::Kind::Engine) {
            prevTimeUs = step.timeUs;
            prevRealUs = nowUs();
        }
    }
    // The host reads the last answer and closes the port, or a second passes.
    std::uint64_t endUs = (lastSentUs != 0 ? lastSentUs : nowUs()) + kSecondUs;
    for (std::uint64_t now = nowUs(); now < endUs; now = nowUs()) {
        pollfd fd{master_, POLLIN, 0};
        int ms = static_cast<int>((endUs - now + 999) / 1000);
        if (::poll(&fd, 1, ms) <= 0) {
            continue;
        }
        if ((fd.revents & POLLIN) != 0) {
            std::uint8_t buffer[256];
            (void)!::read(master_, buffer, sizeof buffer);
            continue;
        }
        if ((fd.revents & POLLHUP) != 0) {
            break;
        }
    }
    if (!rateChecked && expectedRate != 0 && hostBaud() != expectedRate) {
        return diverge(rateLine, "= " + std::to_string(expectedRate),
                       "= " + std::to_string(hostBaud()));
    }
    result.message = "replayed " + std::to_string(result.exchanges) + " exchanges";
    return result;
}

}  // namespace vandora::sim
