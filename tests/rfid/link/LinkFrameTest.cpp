// The framing of the binary link as pure functions: frame code, requests byte for byte, answers
// taken apart and refused.
#include "rfid/link/LinkFrame.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace vandora::link {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes build(int mode, std::uint8_t address, FrameCode code, const Bytes& request,
            std::size_t capacity = kLinkBufferBytes) {
    Bytes out(capacity);
    out.resize(buildRequest(mode, address, code, request, out));
    return out;
}

// Answers written out by hand from the protocol, independent of the code under test.
Bytes onWire(std::uint8_t start, const Bytes& body, bool longFraming) {
    Bytes wire{start};
    std::uint8_t sum = 0;
    auto put = [&](std::uint8_t b) {
        if (b == 0x02 || b == 0x03 || b == 0x10 || (longFraming && b == 0x01)) {
            wire.push_back(0x10);
        }
        wire.push_back(b);
    };
    for (std::uint8_t b : body) {
        sum = static_cast<std::uint8_t>(sum + b);
        put(b);
    }
    put(sum);
    wire.push_back(0x03);
    return wire;
}

// Short answer; with code bytes (mode 1) the payload is rotated by the first of them.
Bytes shortAnswer(std::uint8_t echo, const Bytes& data,
                  std::optional<std::array<std::uint8_t, 2>> code = std::nullopt) {
    Bytes payload{static_cast<std::uint8_t>(data.size() + 2), echo};
    payload.insert(payload.end(), data.begin(), data.end());
    Bytes body;
    if (code) {
        std::size_t r = (*code)[0] % payload.size();
        for (std::size_t i = 0; i < payload.size(); ++i) {
            body.push_back(payload[(r + i) % payload.size()]);
        }
        body.push_back((*code)[0]);
        body.push_back((*code)[1]);
    } else {
        body = payload;
    }
    return onWire(0x02, body, false);
}

Bytes longAnswer(std::uint8_t address, std::uint8_t echo, std::uint8_t status, const Bytes& data,
                 bool withCode = true) {
    Bytes body{0, 0, address, 0x00, echo, status};
    body.insert(body.end(), data.begin(), data.end());
    if (withCode) {
        body.push_back(0x12);
        body.push_back(0x34);
    }
    body[0] = static_cast<std::uint8_t>(body.size() >> 8);
    body[1] = static_cast<std::uint8_t>(body.size());
    return onWire(0x01, body, true);
}

struct Parsed {
    AnswerError error = AnswerError::None;
    std::uint8_t echo = 0;
    std::uint8_t status = 0;
    Bytes data;
};

Parsed parse(const Bytes& received, int mode, std::uint8_t command, FrameCode code = {},
             std::uint8_t address = 1, std::size_t work = kLinkBufferBytes) {
    Bytes buffer(work);
    LinkAnswer answer;
    Parsed p;
    p.error = parseAnswer(received, mode, address, command, code, buffer, answer);
    p.echo = answer.echo;
    p.status = answer.status;
    p.data.assign(answer.data.begin(), answer.data.end());
    return p;
}

TEST(LinkFrameCode, SeedAndPasswordFillTheCodeStateInTheOrderOfTheProtocol) {
    const std::array<std::uint8_t, 8> seed{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const std::array<std::uint8_t, 4> zero{};
    EXPECT_EQ(codeStateFromSeed(seed, zero),
              (CodeState{0x33, 0x22, 0x88, 0x66, 0x11, 0x55, 0x77, 0x44}));
    const std::array<std::uint8_t, 4> password{0x01, 0x02, 0x04, 0x08};
    EXPECT_EQ(codeStateFromSeed(seed, password),
              (CodeState{0x37, 0x20, 0x80, 0x64, 0x10, 0x54, 0x73, 0x4C}));
}

TEST(LinkFrameCode, CodeComesFromTheCounterBytesByTheParityOfTheFirst) {
    struct Case {
        CodeState state;
        FrameCode code;
    };
    const Case cases[] = {
        // s4 odd: c1 = s6 ^ s4, c0 = s7 ^ s5.
        {{0, 0, 0, 0, 0x01, 0x30, 0x04, 0x0F}, {.c0 = 0x3F, .c1 = 0x05}},
        // s4 even: c0 = s7 ^ s4, c1 = s6 ^ s5.
        {{0, 0, 0, 0, 0x02, 0x30, 0x04, 0x0F}, {.c0 = 0x0D, .c1 = 0x34}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(deriveFrameCode(c.state), c.code);
    }
}

TEST(LinkFrameCode, CounterAdvancesByTheStepAndWraps) {
    CodeState state{0x02, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    FrameCode code = advanceFrameCode(state);
    EXPECT_EQ(state, (CodeState{0x02, 0, 0, 0, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(code, deriveFrameCode(state));
    state = {0x00, 0x01, 0x00, 0x80, 0x00, 0xFF, 0x00, 0x80};
    advanceFrameCode(state);  // 0x80000100 + 0x8000FF00 = 0x1_0001_0000
    EXPECT_EQ(state, (CodeState{0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0x01, 0x00}));
}

TEST(LinkFrameRequest, BytesOnTheWire) {
    struct Case {
        const char* what;
        int mode;
        FrameCode code;
        Bytes request;
        Bytes wire;
    };
    const Case cases[] = {
        // L = 3, C1 = 5: rotated by 5 mod 3 = 2, the parameter goes first, then L (0x03,
        // stuffed) and the command.
        {"rotation by C1 mod L",
         1,
         {.c0 = 0x00, .c1 = 0x05},
         {0x1F, 0x41},
         {0x02, 0x41, 0x10, 0x03, 0x1F, 0x05, 0x00, 0x68, 0x03}},
        {"C1 = 0 leaves it",
         1,
         {.c0 = 0x00, .c1 = 0x00},
         {0x1F, 0x41},
         {0x02, 0x10, 0x03, 0x1F, 0x41, 0x00, 0x00, 0x63, 0x03}},
        {"C1 = L rotates fully",
         1,
         {.c0 = 0x09, .c1 = 0x03},
         {0x1F, 0x41},
         {0x02, 0x10, 0x03, 0x1F, 0x41, 0x10, 0x03, 0x09, 0x6F, 0x03}},
        {"handshake goes plain in mode 1",
         1,
         {.c0 = 0x77, .c1 = 0x66},
         {0x17},
         {0x02, 0x10, 0x02, 0x17, 0x19, 0x03}},
        {"0xF6 goes plain in mode 1",
         1,
         {.c0 = 0x77, .c1 = 0x66},
         {0xF6},
         {0x02, 0x10, 0x02, 0xF6, 0xF8, 0x03}},
        {"mode 0 has no code",
         0,
         {.c0 = 0x77, .c1 = 0x66},
         {0x19},
         {0x02, 0x10, 0x02, 0x19, 0x1B, 0x03}},
        // Short framing: 0x10, 0x02 and 0x03 escaped, 0x01 not.
        {"short stuffing",
         0,
         {},
         {0x2F, 0x05, 0x10, 0x01, 0x02, 0x03},
         {0x02, 0x07, 0x2F, 0x05, 0x10, 0x10, 0x01, 0x10, 0x02, 0x10, 0x03, 0x51, 0x03}},
        {"a checksum is stuffed too", 0, {}, {0x01}, {0x02, 0x10, 0x02, 0x01, 0x10, 0x03, 0x03}},
        // Long framing: 0x01 escaped as well (the address here).
        {"long stuffing", 2, {}, {0x2F, 0x05, 0x10, 0x01, 0x02, 0x03}, {0x02, 0x00, 0x0C, 0x10,
                                                                        0x01, 0x00, 0x2F, 0x05,
                                                                        0x10, 0x10, 0x10, 0x01,
                                                                        0x10, 0x02, 0x10, 0x03,
                                                                        0x00, 0x00, 0x57, 0x03}},
        {"long coded request carries C1 C0 and mode - 2",
         4,
         {.c0 = 0x34, .c1 = 0x12},
         {0x19},
         {0x02, 0x00, 0x07, 0x10, 0x01, 0x10, 0x02, 0x19, 0x12, 0x34, 0x69, 0x03}},
        {"long handshake: mode byte 0, code 00 00",
         3,
         {.c0 = 0x34, .c1 = 0x12},
         {0x17, 0x01},
         {0x02, 0x00, 0x08, 0x10, 0x01, 0x00, 0x17, 0x10, 0x01, 0x00, 0x00, 0x21, 0x03}},
        {"long 0xF6: length + 4, no code",
         3,
         {.c0 = 0x34, .c1 = 0x12},
         {0xF6},
         {0x02, 0x00, 0x05, 0x10, 0x01, 0x00, 0xF6, 0xFC, 0x03}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(build(c.mode, 1, c.code, c.request), c.wire);
    }
}

TEST(LinkFrameRequest, RefusesWhatDoesNotFit) {
    EXPECT_TRUE(build(1, 1, {}, {}).empty());
    // The short length byte counts itself: 254 bytes of command and parameters at most.
    EXPECT_FALSE(build(0, 1, {}, Bytes(254, 0x20)).empty());
    EXPECT_TRUE(build(0, 1, {}, Bytes(255, 0x20)).empty());
    // Room for the frame, or nothing.
    EXPECT_EQ(build(0, 1, {}, {0x19}).size(), 6u);
    EXPECT_TRUE(build(0, 1, {}, {0x19}, 5).empty());
    EXPECT_EQ(build(0, 1, {}, {0x19}, 6).size(), 6u);
}

TEST(LinkFrameAnswer, ValidAnswersOfEachFraming) {
    struct Case {
        const char* what;
        int mode;
        std::uint8_t command;
        FrameCode code;
        Bytes received;
        std::uint8_t echo;
        std::uint8_t status;
        Bytes data;
    };
    const std::array<std::uint8_t, 2> code5{0x05, 0x00};
    const Case cases[] = {
        {"mode 0, literal", 0, 0x1F, {}, {0x02, 0x10, 0x02, 0x1F, 0x21, 0x03}, 0x1F, 0, {}},
        {"mode 0 with data", 0, 0x19, {}, shortAnswer(0x19, {0xAA, 0xBB}), 0x19, 0, {0xAA, 0xBB}},
        {"junk before the start",
         0,
         0x19,
         {},
         [] {
             Bytes b{0xFF, 0x41, 0x03};
             Bytes a = shortAnswer(0x19, {0x01});
             b.insert(b.end(), a.begin(), a.end());
             return b;
         }(),
         0x19,
         0,
         {0x01}},
        {"mode 1, literal: rotated by 5 mod 4",
         1,
         0x19,
         {.c0 = 0x00, .c1 = 0x05},
         {0x02, 0x19, 0xAA, 0xBB, 0x04, 0x05, 0x00, 0x87, 0x03},
         0x19,
         0,
         {0xAA, 0xBB}},
        {"mode 1, stuffed data",
         1,
         0x2E,
         {.c0 = 0x10, .c1 = 0x02},
         shortAnswer(0x2E, {0x10, 0x02, 0x03, 0x01}, std::array<std::uint8_t, 2>{0x02, 0x10}),
         0x2E,
         0,
         {0x10, 0x02, 0x03, 0x01}},
        // The handshake answer is rotated by its own first code byte, which is not compared.
        {"mode 1 handshake",
         1,
         0x17,
         {.c0 = 0x99, .c1 = 0x98},
         shortAnswer(0x17, {1, 2, 3, 4, 5, 6, 7, 8}, std::array<std::uint8_t, 2>{0x0D, 0xEE}),
         0x17,
         0,
         {1, 2, 3, 4, 5, 6, 7, 8}},
        {"mode 1, code 5",
         1,
         0x19,
         {.c0 = 0x00, .c1 = 0x05},
         shortAnswer(0x19, {0x42}, code5),
         0x19,
         0,
         {0x42}},
        {"long, literal",
         3,
         0x19,
         {},
         {0x01, 0x00, 0x08, 0x10, 0x01, 0x00, 0x19, 0x00, 0x12, 0x34, 0x68, 0x03},
         0x19,
         0,
         {}},
        {"long with data and status",
         4,
         0x21,
         {},
         longAnswer(1, 0x21, 0x07, {0x01, 0x02, 0x03}),
         0x21,
         0x07,
         {0x01, 0x02, 0x03}},
        {"long 0xF6 has no code bytes",
         2,
         0xF6,
         {},
         longAnswer(1, 0xF6, 0, {0xAB}, false),
         0xF6,
         0,
         {0xAB}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Parsed p = parse(c.received, c.mode, c.command, c.code);
        ASSERT_EQ(p.error, AnswerError::None);
        EXPECT_EQ(p.echo, c.echo);
        EXPECT_EQ(p.status, c.status);
        EXPECT_EQ(p.data, c.data);
    }
}

TEST(LinkFrameAnswer, RefusesAnswersThatDoNotHoldTogether) {
    struct Case {
        const char* what;
        int mode;
        std::uint8_t command;
        Bytes received;
        AnswerError error;
        std::size_t work = kLinkBufferBytes;
    };
    Bytes wrongAddress = longAnswer(2, 0x19, 0, {});
    Bytes badLength = longAnswer(1, 0x19, 0, {0x00});
    badLength[2] = 0x0A;  // length 0x0A, body has 9 before the checksum
    badLength[badLength.size() - 2] =
        static_cast<std::uint8_t>(badLength[badLength.size() - 2] + 1);
    const Case cases[] = {
        {"nothing", 0, 0x19, {}, AnswerError::NoStart},
        {"no start byte", 0, 0x19, {0x41, 0x42, 0x03}, AnswerError::NoStart},
        {"long answer needs 0x01", 3, 0x19, shortAnswer(0x19, {}), AnswerError::NoStart},
        {"escaped start",
         0,
         0x1F,
         {0x10, 0x02, 0x10, 0x02, 0x1F, 0x21, 0x03},
         AnswerError::EscapedStart},
        {"no end byte", 0, 0x1F, {0x02, 0x10, 0x02, 0x1F, 0x21}, AnswerError::NoEnd},
        {"start alone", 0, 0x1F, {0x02}, AnswerError::NoEnd},
        {"an end byte inside",
         0,
         0x1F,
         {0x02, 0x03, 0x10, 0x02, 0x1F, 0x21, 0x03},
         AnswerError::NoEnd},
        {"cut after an escape",
         0,
         0x1F,
         {0x02, 0x10, 0x02, 0x1F, 0x21, 0x10, 0x03},
         AnswerError::CutStuffing},
        {"larger than the work buffer", 0, 0x19, shortAnswer(0x19, Bytes(8, 0x55)),
         AnswerError::TooLong, 9},
        {"checksum", 0, 0x1F, {0x02, 0x10, 0x02, 0x1F, 0x22, 0x03}, AnswerError::Checksum},
        {"L beyond the body", 0, 0x19, {0x02, 0x05, 0x19, 0xAA, 0xC8, 0x03}, AnswerError::Length},
        {"L without an echo", 0, 0x19, {0x02, 0x01, 0x19, 0x1A, 0x03}, AnswerError::Length},
        {"mode 0 too short", 0, 0x19, {0x02, 0x19, 0x19, 0x03}, AnswerError::TooShort},
        {"mode 1 needs more than 3 body bytes",
         1,
         0x1F,
         {0x02, 0x10, 0x02, 0x1F, 0x21, 0x03},
         AnswerError::TooShort},
        {"mode 1 code of another frame", 1, 0x19,
         shortAnswer(0x19, {0x42}, std::array<std::uint8_t, 2>{0x06, 0x00}), AnswerError::Code},
        {"mode 1 code bytes swapped", 1, 0x19,
         shortAnswer(0x19, {0x42}, std::array<std::uint8_t, 2>{0x00, 0x05}), AnswerError::Code},
        {"mode 1 rotation does not give L", 1, 0x19,
         onWire(0x02, {0x19, 0x42, 0x07, 0x05, 0x00}, false), AnswerError::Length},
        {"long shorter than its fixed fields", 3, 0x19,
         onWire(0x01, {0x00, 0x06, 0x01, 0x00, 0x19, 0x00}, true), AnswerError::TooShort},
        {"long 0xF6 shorter than its fixed fields", 3, 0xF6,
         onWire(0x01, {0x00, 0x05, 0x01, 0x00, 0xF6}, true), AnswerError::TooShort},
        {"long length field", 3, 0x19, badLength, AnswerError::Length},
        {"long address", 3, 0x19, wrongAddress, AnswerError::Address},
        {"long checksum",
         3,
         0x19,
         {0x01, 0x00, 0x08, 0x10, 0x01, 0x00, 0x19, 0x00, 0x12, 0x34, 0x69, 0x03},
         AnswerError::Checksum},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(parse(c.received, c.mode, c.command, {.c0 = 0x00, .c1 = 0x05}, 1, c.work).error,
                  c.error);
    }
}

TEST(LinkFrameAnswer, LongAnswerCodeBytesAreNotCompared) {
    Parsed p = parse(longAnswer(1, 0x19, 0, {0x01}), 3, 0x19, {.c0 = 0xAA, .c1 = 0xBB});
    EXPECT_EQ(p.error, AnswerError::None);
    EXPECT_EQ(p.data, Bytes{0x01});
}

TEST(LinkFrameAnswer, EveryCutOfAValidAnswerIsRefused) {
    struct Case {
        int mode;
        std::uint8_t command;
        FrameCode code;
        Bytes full;
    };
    const Case cases[] = {
        {0, 0x19, {}, shortAnswer(0x19, {0x10, 0x02, 0x03, 0x55})},
        {1,
         0x19,
         {.c0 = 0x00, .c1 = 0x05},
         shortAnswer(0x19, {0x10, 0x03}, std::array<std::uint8_t, 2>{0x05, 0x00})},
        {3, 0x21, {}, longAnswer(1, 0x21, 0, {0x01, 0x10, 0x03, 0x02})},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(parse(c.full, c.mode, c.command, c.code).error, AnswerError::None);
        for (std::size_t cut = 0; cut < c.full.size(); ++cut) {
            Bytes part(c.full.begin(), c.full.begin() + static_cast<std::ptrdiff_t>(cut));
            EXPECT_NE(parse(part, c.mode, c.command, c.code).error, AnswerError::None)
                << "mode " << c.mode << " cut at " << cut;
        }
    }
}

TEST(LinkFrameFollower, EndsOnTheFirstEndByteThatIsNotEscaped) {
    struct Case {
        std::uint8_t start;
        Bytes bytes;
        std::size_t completesAt;  // index of the completing byte; bytes.size(): never
    };
    const Case cases[] = {
        {0x02, {0x03, 0x41, 0x02, 0x10, 0x03, 0x10, 0x10, 0x03, 0x55}, 7},
        {0x02, {0x02, 0x10, 0x03}, 3},
        {0x01, {0x02, 0x03, 0x01, 0x10, 0x01, 0x03}, 5},
        {0x01, {0x02, 0x03}, 2},
    };
    for (const Case& c : cases) {
        FrameFollower follower(c.start);
        std::size_t at = c.bytes.size();
        for (std::size_t i = 0; i < c.bytes.size(); ++i) {
            if (follower.feed(c.bytes[i])) {
                at = i;
                break;
            }
        }
        EXPECT_EQ(at, c.completesAt);
    }
}

// The seeds of fuzz_link_frame: five header bytes (mode, command, C1, C0, address), then an
// answer that the parser takes.
TEST(LinkFrameSeeds, EverySeedOfTheFuzzTargetIsAValidAnswer) {
    const std::filesystem::path dir =
        std::filesystem::path(VANDORA_SOURCE_DIR) / "fuzz" / "corpus" / "link_frame";
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GE(bytes.size(), 5u);
        Bytes received(bytes.begin() + 5, bytes.end());
        Parsed p =
            parse(received, bytes[0] % 5, bytes[1], {.c0 = bytes[3], .c1 = bytes[2]}, bytes[4]);
        EXPECT_EQ(p.error, AnswerError::None);
        ++count;
    }
    EXPECT_GE(count, 10u);
}

}  // namespace
}  // namespace vandora::link
