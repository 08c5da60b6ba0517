// The framing of the RFID binary link as pure functions: the frame code, building a request and
// taking an answer apart. No state, no port, no clock: RfidLink drives them, and so can a test or
// a fuzz target.
//
// Short framing (modes 0 and 1), before stuffing:
//   request  L command parameters [C1 C0] checksum      (L counts itself, command and parameters)
//   answer   L echo data [code code] checksum
// In mode 1 every request but 0x17 and 0xF6 carries the frame code and its payload (L, command,
// parameters) goes out rotated left by C1 mod L; the answer carries the request's code and is
// rotated the same way (after 0x17 and 0xF6 by its own first code byte, which is not compared).
// Long framing (modes 2, 3 and 4), before stuffing:
//   request  length(2, MSB first) address mode-2 command parameters C1 C0 checksum
//   answer   length(2, MSB first) address unused echo status data code code checksum
// (0x17: mode byte 0 and code 00 00; 0xF6: mode byte 0 and no code; length counts from itself to
// the end of the code). On the wire a frame is 0x02 (a long answer 0x01), the body with each of
// 0x02, 0x03 and 0x10 (long framing also 0x01) preceded by 0x10, then 0x03.
//
// Answers are untrusted: every length is checked against what arrived before anything is read,
// and a frame that does not hold together is refused as a whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vandora::link {

inline constexpr std::size_t kLinkBufferBytes = 2048;

inline constexpr std::uint8_t kFrameStart = 0x02;
inline constexpr std::uint8_t kLongAnswerStart = 0x01;
inline constexpr std::uint8_t kFrameEnd = 0x03;
inline constexpr std::uint8_t kEscape = 0x10;

inline constexpr std::uint8_t kCommandHandshake = 0x17;
inline constexpr std::uint8_t kCommandUncoded = 0xF6;

inline constexpr int kHighestMode = 4;

// Modes 2, 3 and 4 use the long framing, 0 and 1 the short one.
constexpr bool isLongFraming(int mode) {
    return mode >= 2;
}
// Modes 1, 3 and 4 have a code state (set up by the handshake).
constexpr bool hasCodeState(int mode) {
    return mode == 1 || mode == 3 || mode == 4;
}
// Whether a request of this command carries the frame code (and advances it first).
constexpr bool carriesCode(int mode, std::uint8_t command) {
    return hasCodeState(mode) && command != kCommandHandshake && command != kCommandUncoded;
}
// Start byte of an answer in the framing of the mode.
constexpr std::uint8_t answerStart(int mode) {
    return isLongFraming(mode) ? kLongAnswerStart : kFrameStart;
}

struct FrameCode {
    std::uint8_t c0 = 0;
    std::uint8_t c1 = 0;
    bool operator==(const FrameCode&) const = default;
};

// Bytes 0-3 the step, bytes 4-7 the counter, both 32-bit little-endian.
using CodeState = std::array<std::uint8_t, 8>;

// The code state from the module's 8 seed bytes r1..r8 and the 4 password bytes.
CodeState codeStateFromSeed(std::span<const std::uint8_t, 8> seed,
                            std::span<const std::uint8_t, 4> password);
// The frame code of the counter bytes.
FrameCode deriveFrameCode(const CodeState& state);
// counter += step (wrapping), then the new code.
FrameCode advanceFrameCode(CodeState& state);

// Builds the wire bytes of a request (request = command, then parameters) into out. code: the
// code the frame carries (already advanced by the caller when carriesCode). Returns the number of
// bytes written; 0 when the request is empty, its short-framing length does not fit in one byte,
// or the frame does not fit in out.
std::size_t buildRequest(int mode, std::uint8_t address, FrameCode code,
                         std::span<const std::uint8_t> request, std::span<std::uint8_t> out);

// Follows the bytes of an answer as they arrive: waits for the start byte, then for a 0x03 that
// is not escaped. feed() returns true on the byte that completes the frame.
class FrameFollower {
  public:
    explicit FrameFollower(std::uint8_t startByte) : start_(startByte) {}
    bool feed(std::uint8_t byte);
    bool started() const { return started_; }

  private:
    std::uint8_t start_;
    bool started_ = false;
    bool escaped_ = false;
};

enum class AnswerError : std::uint8_t {
    None,
    NoStart,       // no start byte
    EscapedStart,  // the byte before the first start byte is 0x10
    NoEnd,         // the last byte is not 0x03, or an unescaped 0x03 before it
    CutStuffing,   // a 0x10 with nothing after it: the frame was cut in the middle
    TooLong,       // the body does not fit the work buffer
    TooShort,      // fewer bytes than the framing's fixed fields
    Checksum,
    Length,   // short: L outside 2..payload; long: the length field does not match
    Address,  // long framing: another device's answer
    Code,     // short framing, mode 1: the code is not the request's
};

struct LinkAnswer {
    std::uint8_t echo = 0;
    std::uint8_t status = 0;             // long framing; 0 in the short framing
    std::span<const std::uint8_t> data;  // after the echo (and status), inside the work buffer
};

// Takes an answer apart. received: the bytes as read (junk before the start byte allowed);
// mode, address: the device's; command and code: those of the request it answers. The body is
// unstuffed (and un-rotated) into work; out.data points into it.
AnswerError parseAnswer(std::span<const std::uint8_t> received, int mode, std::uint8_t address,
                        std::uint8_t command, FrameCode code, std::span<std::uint8_t> work,
                        LinkAnswer& out);

}  // namespace vandora::link
