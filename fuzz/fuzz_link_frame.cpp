// Drives the framing of the RFID binary link (src/rfid/link/LinkFrame.h) with arbitrary bytes.
//
// Input: byte 0 the link mode (mod 5), byte 1 the command of the request, bytes 2 and 3 its frame
// code C1 and C0, byte 4 the device address; the rest is what the module sent.
//
// 1. The answer parser takes the bytes as received: it must end without reading or writing out
//    of bounds, and an answer it accepts must lie inside its work buffer and be no longer than
//    what arrived.
// 2. The same bytes, used as the data of an answer framed here by the rules written out on their
//    own (stuffing, checksum, rotation, long fields), must come back unchanged; the frame
//    follower must end exactly on its last byte; and no cut of it may pass.
// 3. A request built from the command and the bytes as parameters must be a well-formed frame
//    whose body, read back by the rules here, gives the request again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "rfid/link/LinkFrame.h"

namespace {

namespace lf = vandora::link;
using Bytes = std::vector<std::uint8_t>;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool special(std::uint8_t b, bool longFraming) {
    return b == 0x02 || b == 0x03 || b == 0x10 || (longFraming && b == 0x01);
}

Bytes framed(std::uint8_t start, const Bytes& body, bool longFraming) {
    Bytes wire{start};
    std::uint8_t sum = 0;
    auto put = [&](std::uint8_t b) {
        if (special(b, longFraming)) {
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

// The module's answer to a request with this command and code.
Bytes answerFrame(int mode, std::uint8_t address, std::uint8_t command, lf::FrameCode code,
                  std::uint8_t status, const Bytes& data) {
    if (lf::isLongFraming(mode)) {
        Bytes body{0, 0, address, 0x5A, command, status};
        body.insert(body.end(), data.begin(), data.end());
        if (command != 0xF6) {
            body.push_back(code.c0);  // not compared: any two bytes
            body.push_back(code.c1);
        }
        body[0] = static_cast<std::uint8_t>(body.size() >> 8);
        body[1] = static_cast<std::uint8_t>(body.size());
        return framed(0x01, body, true);
    }
    Bytes payload{static_cast<std::uint8_t>(data.size() + 2), command};
    payload.insert(payload.end(), data.begin(), data.end());
    if (mode != 1) {
        return framed(0x02, payload, false);
    }
    // Mode 1: rotated by the request's C1 (after 0x17 and 0xF6 by the answer's own first code
    // byte, here C0 of the input), followed by the code bytes.
    const bool coded = command != 0x17 && command != 0xF6;
    const std::uint8_t x = coded ? code.c1 : code.c0;
    const std::uint8_t y = coded ? code.c0 : code.c1;
    Bytes body;
    for (std::size_t i = 0; i < payload.size(); ++i) {
        body.push_back(payload[(x % payload.size() + i) % payload.size()]);
    }
    body.push_back(x);
    body.push_back(y);
    return framed(0x02, body, false);
}

// Reads a request frame back; false when it is not well formed.
bool readRequest(const Bytes& wire, int mode, std::uint8_t address, std::uint8_t command,
                 lf::FrameCode code, Bytes& request) {
    const bool longFraming = lf::isLongFraming(mode);
    if (wire.size() < 3 || wire.front() != 0x02 || wire.back() != 0x03) {
        return false;
    }
    Bytes body;
    for (std::size_t i = 1; i + 1 < wire.size(); ++i) {
        std::uint8_t b = wire[i];
        if (b == 0x10) {
            if (i + 2 >= wire.size() || !special(wire[i + 1], longFraming)) {
                return false;
            }
            b = wire[++i];
        } else if (special(b, longFraming)) {
            return false;
        }
        body.push_back(b);
    }
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < body.size(); ++i) {
        sum = static_cast<std::uint8_t>(sum + body[i]);
    }
    if (body.empty() || sum != body.back()) {
        return false;
    }
    body.pop_back();
    if (longFraming) {
        if (body.size() < 5 || (static_cast<std::size_t>(body[0]) << 8 | body[1]) != body.size() ||
            body[2] != address) {
            return false;
        }
        const std::uint8_t modeByte =
            command == 0x17 || command == 0xF6 ? 0 : static_cast<std::uint8_t>(mode - 2);
        if (body[3] != modeByte || body[4] != command) {
            return false;
        }
        std::size_t end = body.size();
        if (command != 0xF6) {
            if (end < 7) {
                return false;
            }
            const Bytes expected = command == 0x17 ? Bytes{0, 0} : Bytes{code.c1, code.c0};
            if (body[end - 2] != expected[0] || body[end - 1] != expected[1]) {
                return false;
            }
            end -= 2;
        }
        request.assign(body.begin() + 4, body.begin() + static_cast<std::ptrdiff_t>(end));
        return true;
    }
    Bytes payload = body;
    if (mode == 1 && command != 0x17 && command != 0xF6) {
        // Rotated by C1 mod L, followed by C1 C0.
        if (body.size() < 4 || body[body.size() - 2] != code.c1 || body.back() != code.c0) {
            return false;
        }
        payload.assign(body.begin(), body.end() - 2);
        const std::size_t n = payload.size();
        Bytes plain(n);
        for (std::size_t i = 0; i < n; ++i) {
            plain[(code.c1 % n + i) % n] = payload[i];
        }
        payload = plain;
    }
    if (payload.size() < 2 || payload[0] != payload.size()) {
        return false;
    }
    request.assign(payload.begin() + 1, payload.end());
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    const int mode = data[0] % 5;
    const std::uint8_t command = data[1];
    const lf::FrameCode code{.c0 = data[3], .c1 = data[2]};
    const std::uint8_t address = data[4];
    const Bytes received(data + 5, data + size);
    const bool longFraming = lf::isLongFraming(mode);

    // 1. The bytes as received.
    Bytes work(lf::kLinkBufferBytes);
    lf::LinkAnswer answer;
    if (lf::parseAnswer(received, mode, address, command, code, work, answer) ==
        lf::AnswerError::None) {
        check(answer.data.data() >= work.data());
        check(answer.data.data() + answer.data.size() <= work.data() + work.size());
        check(answer.data.size() + 2 <= received.size());
    }
    // A small work buffer: refused or inside it.
    Bytes small(16);
    if (lf::parseAnswer(received, mode, address, command, code, small, answer) ==
        lf::AnswerError::None) {
        check(answer.data.data() + answer.data.size() <= small.data() + small.size());
    }

    // 2. The bytes as an answer's data, framed here.
    const Bytes payloadData(received.begin(),
                            received.begin() + static_cast<std::ptrdiff_t>(
                                                   std::min<std::size_t>(received.size(), 200)));
    const std::uint8_t status = longFraming ? static_cast<std::uint8_t>(size) : 0;
    const Bytes wire = answerFrame(mode, address, command, code, status, payloadData);
    check(lf::parseAnswer(wire, mode, address, command, code, work, answer) ==
          lf::AnswerError::None);
    check(answer.echo == command);
    check(answer.status == status);
    check(
        std::equal(answer.data.begin(), answer.data.end(), payloadData.begin(), payloadData.end()));
    lf::FrameFollower follower(lf::answerStart(mode));
    for (std::size_t i = 0; i < wire.size(); ++i) {
        check(follower.feed(wire[i]) == (i + 1 == wire.size()));
    }
    const std::size_t cut = (static_cast<std::size_t>(data[2]) << 8 | data[3]) % wire.size();
    const Bytes part(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(cut));
    check(lf::parseAnswer(part, mode, address, command, code, work, answer) !=
          lf::AnswerError::None);

    // 3. A request of the command with the bytes as parameters.
    Bytes request{command};
    request.insert(request.end(), received.begin(),
                   received.begin() +
                       static_cast<std::ptrdiff_t>(std::min<std::size_t>(received.size(), 300)));
    Bytes out(lf::kLinkBufferBytes);
    const std::size_t built = lf::buildRequest(mode, address, code, request, out);
    if (!longFraming && request.size() > 254) {
        check(built == 0);
    } else {
        check(built != 0);
        Bytes back;
        check(readRequest(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(built)),
                          mode, address, command, code, back));
        check(back == request);
    }
    return 0;
}
