#include "rfid/link/LinkFrame.h"

#include <algorithm>

namespace vandora::link {
namespace {

std::uint32_t readLe32(const CodeState& state, std::size_t at) {
    return static_cast<std::uint32_t>(state[at]) | static_cast<std::uint32_t>(state[at + 1]) << 8 |
           static_cast<std::uint32_t>(state[at + 2]) << 16 |
           static_cast<std::uint32_t>(state[at + 3]) << 24;
}

void writeLe32(CodeState& state, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        state[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

bool needsEscape(std::uint8_t byte, bool longFraming) {
    return byte == kFrameStart || byte == kFrameEnd || byte == kEscape ||
           (longFraming && byte == kLongAnswerStart);
}

// Writes a frame into a fixed buffer: raw bytes, and body bytes stuffed and summed.
class FrameWriter {
  public:
    FrameWriter(std::span<std::uint8_t> out, bool longFraming)
        : out_(out), longFraming_(longFraming) {}

    void raw(std::uint8_t byte) {
        if (size_ < out_.size()) {
            out_[size_] = byte;
        } else {
            overflow_ = true;
        }
        ++size_;
    }
    void body(std::uint8_t byte) {
        sum_ = static_cast<std::uint8_t>(sum_ + byte);
        stuffed(byte);
    }
    void checksum() { stuffed(sum_); }
    // Bytes written; 0 when they did not fit.
    std::size_t finish() const { return overflow_ ? 0 : size_; }

  private:
    void stuffed(std::uint8_t byte) {
        if (needsEscape(byte, longFraming_)) {
            raw(kEscape);
        }
        raw(byte);
    }

    std::span<std::uint8_t> out_;
    bool longFraming_;
    std::size_t size_ = 0;
    std::uint8_t sum_ = 0;
    bool overflow_ = false;
};

std::uint8_t sumOf(std::span<const std::uint8_t> bytes) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    return sum;
}

}  // namespace

CodeState codeStateFromSeed(std::span<const std::uint8_t, 8> seed,
                            std::span<const std::uint8_t, 4> password) {
    CodeState state{};
    state[4] = seed[0] ^ password[0];
    state[1] = seed[1] ^ password[1];
    state[0] = seed[2] ^ password[2];
    state[7] = seed[3] ^ password[3];
    state[5] = seed[4] ^ password[0];
    state[3] = seed[5] ^ password[1];
    state[6] = seed[6] ^ password[2];
    state[2] = seed[7] ^ password[3];
    return state;
}

FrameCode deriveFrameCode(const CodeState& state) {
    FrameCode code;
    if ((state[4] & 0x01) != 0) {
        code.c1 = state[6] ^ state[4];
        code.c0 = state[7] ^ state[5];
    } else {
        code.c0 = state[7] ^ state[4];
        code.c1 = state[6] ^ state[5];
    }
    return code;
}

FrameCode advanceFrameCode(CodeState& state) {
    writeLe32(state, 4, readLe32(state, 4) + readLe32(state, 0));
    return deriveFrameCode(state);
}

std::size_t buildRequest(int mode, std::uint8_t address, FrameCode code,
                         std::span<const std::uint8_t> request, std::span<std::uint8_t> out) {
    if (request.empty()) {
        return 0;
    }
    const std::uint8_t command = request[0];
    const bool longFraming = isLongFraming(mode);
    FrameWriter frame(out, longFraming);
    frame.raw(kFrameStart);
    if (!longFraming) {
        if (request.size() > 254) {
            return 0;
        }
        const std::size_t length = request.size() + 1;
        auto payload = [&](std::size_t i) {
            return i == 0 ? static_cast<std::uint8_t>(length) : request[i - 1];
        };
        const bool coded = carriesCode(mode, command);
        const std::size_t r = coded ? code.c1 % length : 0;
        for (std::size_t i = 0; i < length; ++i) {
            frame.body(payload((r + i) % length));
        }
        if (coded) {
            frame.body(code.c1);
            frame.body(code.c0);
        }
    } else {
        const bool uncoded = command == kCommandUncoded;
        const std::size_t length = request.size() + (uncoded ? 4 : 6);
        if (length > 0xFFFF) {
            return 0;
        }
        const bool plainMode = command == kCommandHandshake || uncoded;
        frame.body(static_cast<std::uint8_t>(length >> 8));
        frame.body(static_cast<std::uint8_t>(length));
        frame.body(address);
        frame.body(plainMode ? 0x00 : static_cast<std::uint8_t>(mode - 2));
        for (std::uint8_t b : request) {
            frame.body(b);
        }
        if (command == kCommandHandshake) {
            frame.body(0x00);
            frame.body(0x00);
        } else if (!uncoded) {
            frame.body(code.c1);
            frame.body(code.c0);
        }
    }
    frame.checksum();
    frame.raw(kFrameEnd);
    return frame.finish();
}

bool FrameFollower::feed(std::uint8_t byte) {
    if (!started_) {
        if (byte == start_) {
            started_ = true;
            escaped_ = false;
        }
        return false;
    }
    if (escaped_) {
        escaped_ = false;
        return false;
    }
    if (byte == kEscape) {
        escaped_ = true;
        return false;
    }
    return byte == kFrameEnd;
}

AnswerError parseAnswer(std::span<const std::uint8_t> received, int mode, std::uint8_t address,
                        std::uint8_t command, FrameCode code, std::span<std::uint8_t> work,
                        LinkAnswer& out) {
    out = LinkAnswer{};
    const std::uint8_t start = answerStart(mode);
    const auto found = std::find(received.begin(), received.end(), start);
    if (found == received.end()) {
        return AnswerError::NoStart;
    }
    const auto s = static_cast<std::size_t>(found - received.begin());
    if (s > 0 && received[s - 1] == kEscape) {
        return AnswerError::EscapedStart;
    }
    const std::size_t last = received.size() - 1;
    if (last <= s || received[last] != kFrameEnd) {
        return AnswerError::NoEnd;
    }

    // Unstuff the bytes between the start and the end.
    std::size_t w = 0;
    for (std::size_t i = s + 1; i < last; ++i) {
        std::uint8_t b = received[i];
        if (b == kEscape) {
            if (i + 1 >= last) {
                return AnswerError::CutStuffing;
            }
            b = received[++i];
        } else if (b == kFrameEnd) {
            // An end byte that is not escaped closes the frame: what follows is not its body.
            return AnswerError::NoEnd;
        }
        if (w >= work.size()) {
            return AnswerError::TooLong;
        }
        work[w++] = b;
    }
    std::span<std::uint8_t> body = work.first(w);

    if (isLongFraming(mode)) {
        // length(2) address unused echo status [data] [code(2)] checksum
        const std::size_t codeBytes = command == kCommandUncoded ? 0 : 2;
        const std::size_t fixed = 6 + codeBytes;
        if (w < fixed + 1) {
            return AnswerError::TooShort;
        }
        if (sumOf(body.first(w - 1)) != body[w - 1]) {
            return AnswerError::Checksum;
        }
        const std::size_t length = static_cast<std::size_t>(body[0]) << 8 | body[1];
        if (length != w - 1) {
            return AnswerError::Length;
        }
        if (body[2] != address) {
            return AnswerError::Address;
        }
        out.echo = body[4];
        out.status = body[5];
        out.data = body.subspan(6, w - 1 - codeBytes - 6);
        return AnswerError::None;
    }

    const bool coded = hasCodeState(mode);
    // Mode 1: more than 3 body bytes (payload, code, checksum); mode 0: L, echo, checksum.
    if (coded ? w <= 3 : w < 3) {
        return AnswerError::TooShort;
    }
    if (sumOf(body.first(w - 1)) != body[w - 1]) {
        return AnswerError::Checksum;
    }
    std::size_t available = w - 1;
    if (coded) {
        const std::size_t n = w - 3;
        std::uint8_t rotation = body[n];
        if (carriesCode(mode, command)) {
            if (body[n] != code.c1 || body[n + 1] != code.c0) {
                return AnswerError::Code;
            }
            rotation = code.c1;
        }
        const std::size_t r = rotation % n;
        // Received: payload bytes r..n-1, then 0..r-1.
        std::rotate(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(n - r),
                    body.begin() + static_cast<std::ptrdiff_t>(n));
        available = n;
    }
    const std::size_t length = body[0];
    if (length < 2 || length > available) {
        return AnswerError::Length;
    }
    out.echo = body[1];
    out.data = body.subspan(2, length - 2);
    return AnswerError::None;
}

}  // namespace vandora::link
