#include "engines/RfidLinkModel.h"

#include <algorithm>

#include "common/Hex.h"

#include "reader/ReaderTypes.h"

namespace vandora::sim {
namespace {

// The module's own reading of the link (written from the protocol, not shared with the host).
constexpr std::uint8_t kStart = 0x02;
constexpr std::uint8_t kLongAnswerStart = 0x01;
constexpr std::uint8_t kEnd = 0x03;
constexpr std::uint8_t kEscape = 0x10;
constexpr std::uint8_t kHandshake = 0x17;
constexpr std::uint8_t kUncoded = 0xF6;
constexpr std::size_t kMaxBody = 4096;

constexpr std::uint8_t kProtocolA = 0x41;
constexpr std::uint8_t kProtocolB = 0x73;
constexpr std::uint8_t kProtocol15693 = 0x31;

constexpr std::uint8_t kFlagAddressed = 0x20;
constexpr std::uint8_t kFlagOption = 0x40;
constexpr std::size_t kUltralightPages = 16;
constexpr std::size_t kSr176UidBlocks = 4;

bool longFraming(int mode) {
    return mode >= 2;
}
bool codedMode(int mode) {
    return mode == 1 || mode == 3 || mode == 4;
}
bool escapable(std::uint8_t b, int mode) {
    return b == kStart || b == kEnd || b == kEscape || (longFraming(mode) && b == kLongAnswerStart);
}

std::uint8_t sum(const std::vector<std::uint8_t>& bytes, std::size_t count) {
    std::uint8_t s = 0;
    for (std::size_t i = 0; i < count; ++i) {
        s = static_cast<std::uint8_t>(s + bytes[i]);
    }
    return s;
}

// Code state: bytes 0-3 step, 4-7 counter (little-endian).
std::array<std::uint8_t, 8> seeded(const std::array<std::uint8_t, 8>& r,
                                   const LinkPasswordBytes& p) {
    std::array<std::uint8_t, 8> s{};
    s[4] = r[0] ^ p[0];
    s[1] = r[1] ^ p[1];
    s[0] = r[2] ^ p[2];
    s[7] = r[3] ^ p[3];
    s[5] = r[4] ^ p[0];
    s[3] = r[5] ^ p[1];
    s[6] = r[6] ^ p[2];
    s[2] = r[7] ^ p[3];
    return s;
}

// Advances the counter by the step and gives the code (c1, c0).
std::pair<std::uint8_t, std::uint8_t> nextCode(std::array<std::uint8_t, 8>& s) {
    std::uint32_t step = 0;
    std::uint32_t counter = 0;
    for (std::size_t i = 4; i-- > 0;) {
        step = step << 8 | s[i];
        counter = counter << 8 | s[4 + i];
    }
    counter += step;
    for (std::size_t i = 0; i < 4; ++i) {
        s[4 + i] = static_cast<std::uint8_t>(counter >> (8 * i));
    }
    if ((s[4] & 1) != 0) {
        return {static_cast<std::uint8_t>(s[6] ^ s[4]), static_cast<std::uint8_t>(s[7] ^ s[5])};
    }
    return {static_cast<std::uint8_t>(s[6] ^ s[5]), static_cast<std::uint8_t>(s[7] ^ s[4])};
}

bool parsePassword(std::string_view text, LinkPasswordBytes& out) {
    if (text.size() != 8) {
        return false;
    }
    LinkPasswordBytes bytes{};
    for (std::size_t i = 0; i < 4; ++i) {
        int high = hexDigitValue(text[2 * i]);
        int low = hexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    out = bytes;
    return true;
}

MifareKey keyAt(const std::vector<std::uint8_t>& params, std::size_t at) {
    MifareKey key{};
    std::copy_n(params.begin() + static_cast<std::ptrdiff_t>(at), key.size(), key.begin());
    return key;
}

}  // namespace

RfidLinkModel::RfidLinkModel(SimOptions options) : EngineSim(*engineFacts(7), std::move(options)) {
    parsePassword(kDefaultLinkPassword, password_);
    std::string_view identity = facts().identity;
    std::copy_n(identity.begin(), std::min(identity.size(), moduleInfo.size()), moduleInfo.begin());
}

bool RfidLinkModel::setPasswordText(std::string_view text) {
    return parsePassword(text, password_);
}

void RfidLinkModel::setLinkMode(int mode) {
    if (mode >= 0 && mode <= 4) {
        mode_ = mode;
        inStep_ = false;
        collecting_ = false;
    }
}

std::uint8_t RfidLinkModel::draw() {
    random_ ^= random_ << 13;
    random_ ^= random_ >> 17;
    random_ ^= random_ << 5;
    return static_cast<std::uint8_t>(random_ >> 11);
}

// --- hearing --------------------------------------------------------------------------------

void RfidLinkModel::consume(const std::uint8_t* data, std::size_t size, bool fresh, SimLink& link) {
    if (fresh) {
        collecting_ = false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (!collecting_) {
            if (b == kStart) {
                collecting_ = true;
                escaped_ = false;
                malformed_ = false;
                body_.clear();
            }
            continue;
        }
        if (escaped_) {
            escaped_ = false;
            if (!escapable(b, mode_)) {
                malformed_ = true;
            }
            body_.push_back(b);
        } else if (b == kEscape) {
            escaped_ = true;
        } else if (b == kEnd) {
            collecting_ = false;
            frameEnded(link);
        } else if (b == kStart) {
            // A new frame: the half-heard one is lost.
            body_.clear();
            malformed_ = false;
        } else {
            if (longFraming(mode_) && b == kLongAnswerStart) {
                malformed_ = true;  // should have been escaped
            }
            body_.push_back(b);
        }
        if (body_.size() > kMaxBody) {
            collecting_ = false;
        }
    }
}

bool RfidLinkModel::decode(const std::vector<std::uint8_t>& body, Heard& heard) const {
    const std::size_t size = body.size();
    if (size < 3 || sum(body, size - 1) != body[size - 1]) {
        return false;
    }
    if (!longFraming(mode_)) {
        if (mode_ == 0) {
            if (body[0] != size - 1) {
                return false;
            }
            heard.command = body[1];
            heard.params.assign(body.begin() + 2, body.end() - 1);
            return true;
        }
        // Mode 1. The handshake (and 0xF6) go plain: L = 2, the command, the checksum.
        if (size == 3 && body[0] == 2 && (body[1] == kHandshake || body[1] == kUncoded)) {
            heard.command = body[1];
            return true;
        }
        if (size < 5) {
            return false;
        }
        const std::size_t length = size - 3;
        heard.c1 = body[length];
        heard.c0 = body[length + 1];
        heard.coded = true;
        // Sent: payload bytes r..L-1, then 0..r-1.
        const std::size_t r = heard.c1 % length;
        std::vector<std::uint8_t> payload(length);
        for (std::size_t i = 0; i < length; ++i) {
            payload[(r + i) % length] = body[i];
        }
        if (payload[0] != length || payload[1] == kHandshake || payload[1] == kUncoded) {
            return false;
        }
        heard.command = payload[1];
        heard.params.assign(payload.begin() + 2, payload.end());
        return true;
    }
    // Long: length(2) address mode command parameters [code(2)] checksum.
    if (size < 6 || (static_cast<std::size_t>(body[0]) << 8 | body[1]) != size - 1 ||
        body[2] != address) {
        return false;
    }
    heard.command = body[4];
    const bool uncoded = heard.command == kUncoded;
    const std::size_t codeBytes = uncoded ? 0 : 2;
    if (size < 6 + codeBytes) {
        return false;
    }
    const std::size_t end = size - 1 - codeBytes;
    heard.params.assign(body.begin() + 5, body.begin() + static_cast<std::ptrdiff_t>(end));
    if (!uncoded) {
        heard.c1 = body[end];
        heard.c0 = body[end + 1];
    }
    if (heard.command == kHandshake || uncoded) {
        return body[3] == 0 && (uncoded || (heard.c1 == 0 && heard.c0 == 0));
    }
    heard.coded = codedMode(mode_);
    return body[3] == mode_ - 2;
}

void RfidLinkModel::frameEnded(SimLink& link) {
    if (missedFrames > 0) {
        --missedFrames;
        return;
    }
    Heard heard;
    if (malformed_ || !decode(body_, heard)) {
        ++linkCounters.badFrames;
        frameReceived(body_, false, link);
        return;
    }
    std::vector<std::uint8_t> frame{heard.command};
    frame.insert(frame.end(), heard.params.begin(), heard.params.end());
    if (heard.coded) {
        if (!inStep_) {
            ++linkCounters.refusedOutOfStep;
            frameReceived(std::move(frame), false, link);
            return;
        }
        auto [c1, c0] = nextCode(codeState_);
        if (c1 != heard.c1 || c0 != heard.c0) {
            inStep_ = false;
            ++linkCounters.codeMismatches;
            frameReceived(std::move(frame), false, link);
            return;
        }
    }
    current_ = std::move(heard);
    frameReceived(std::move(frame), true, link);
}

void RfidLinkModel::onInvalid(SimLink& /*link*/) {
    // A real module keeps quiet about a frame it cannot take.
}

// --- answering ------------------------------------------------------------------------------

std::vector<std::uint8_t> RfidLinkModel::frameAnswer(std::uint8_t echo, std::uint8_t status,
                                                     const std::vector<std::uint8_t>& data,
                                                     std::uint8_t x, std::uint8_t y) const {
    std::vector<std::uint8_t> body;
    if (!longFraming(mode_)) {
        const std::size_t length = std::min<std::size_t>(data.size(), 253) + 2;
        std::vector<std::uint8_t> payload{static_cast<std::uint8_t>(length), echo};
        payload.insert(payload.end(), data.begin(),
                       data.begin() + static_cast<std::ptrdiff_t>(length - 2));
        if (mode_ == 1) {
            std::uint8_t c1 = current_.coded ? current_.c1 : x;
            std::uint8_t c0 = current_.coded ? current_.c0 : y;
            const std::size_t r = c1 % length;
            for (std::size_t i = 0; i < length; ++i) {
                body.push_back(payload[(r + i) % length]);
            }
            body.push_back(c1);
            body.push_back(c0);
        } else {
            body = payload;
        }
    } else {
        body = {0, 0, address, 0x00, echo, status};
        body.insert(body.end(), data.begin(), data.end());
        if (current_.command != kUncoded) {
            body.push_back(current_.c1);
            body.push_back(current_.c0);
        }
        body[0] = static_cast<std::uint8_t>(body.size() >> 8);
        body[1] = static_cast<std::uint8_t>(body.size());
    }
    body.push_back(sum(body, body.size()));
    std::vector<std::uint8_t> wire{longFraming(mode_) ? kLongAnswerStart : kStart};
    for (std::uint8_t b : body) {
        if (escapable(b, mode_)) {
            wire.push_back(kEscape);
        }
        wire.push_back(b);
    }
    wire.push_back(kEnd);
    return wire;
}

std::vector<std::uint8_t> RfidLinkModel::failureAnswer(std::uint8_t code, std::uint8_t x,
                                                       std::uint8_t y) const {
    if (longFraming(mode_)) {
        return frameAnswer(current_.command, code, {}, x, y);
    }
    return frameAnswer(static_cast<std::uint8_t>(current_.command ^ 0x80), 0, {code}, x, y);
}

std::vector<std::uint8_t> RfidLinkModel::refusal() const {
    return failureAnswer(kRefused, 0, 0);
}

void RfidLinkModel::reply(SimLink& link, const std::vector<std::uint8_t>& data) {
    std::uint8_t x = draw();
    std::uint8_t y = draw();
    answer(link, frameAnswer(current_.command, 0, data, x, y));
}

void RfidLinkModel::fail(SimLink& link, std::uint8_t code) {
    ++linkCounters.failures;
    std::uint8_t x = draw();
    std::uint8_t y = draw();
    answer(link, failureAnswer(code, x, y));
}

void RfidLinkModel::respond(const std::vector<std::uint8_t>& /*frame*/, SimLink& link) {
    const Heard& heard = current_;
    for (LinkForcedAnswer& forced : forcedData) {
        if (forced.command != heard.command || forced.uses == 0) {
            continue;
        }
        if (forced.uses > 0) {
            --forced.uses;
        }
        std::uint8_t x = draw();
        std::uint8_t y = draw();
        answer(link,
               frameAnswer(forced.echo.value_or(heard.command), forced.status, forced.data, x, y));
        return;
    }
    const std::vector<std::uint8_t>& p = heard.params;
    switch (heard.command) {
        case kHandshake:
            handshake(link);
            return;
        case 0x19: {
            std::vector<std::uint8_t> data(moduleInfo.begin(), moduleInfo.end());
            data.insert(data.end(), serialNumber.begin(), serialNumber.end());
            reply(link, data);
            return;
        }
        case 0x11:
        case 0x13:
            if (p.size() != 1) {
                fail(link, kBadRequest);
                return;
            }
            (heard.command == 0x11 ? stateValue : controlValue) = p[0];
            reply(link, {});
            return;
        case 0x1B:
            ++resets;
            reply(link, {});
            return;
        case 0x1F:
            if (p.size() != 1 ||
                (p[0] != kProtocolA && p[0] != kProtocolB && p[0] != kProtocol15693)) {
                fail(link, kBadRequest);
                return;
            }
            protocol = p[0];
            reply(link, {});
            return;
        case 0x20: {
            if (p.size() != 1) {
                fail(link, kBadRequest);
                return;
            }
            if (!needProtocol(kProtocolA, link)) {
                return;
            }
            const SimTag* tag = field.find(kFamily14443A);
            if (tag == nullptr) {
                fail(link, kNoTag);
                return;
            }
            std::vector<std::uint8_t> data = tag->uid;
            data.push_back(tag->atqaLow());
            data.push_back(0x00);
            data.push_back(tag->kind == TagKind::Mifare1K ? 0x08 : 0x00);
            reply(link, data);
            return;
        }
        case 0x21:
        case 0x22:
        case 0x2A:
            mifare(heard, link);
            return;
        case 0x2E:
        case 0x2F:
            ultralight(heard, link);
            return;
        case 0x41:
        case 0x43:
        case 0x44:
        case 0x46:
        case 0x47:
        case 0x49:
            sr(heard, link);
            return;
        case 0x60:
        case 0x64:
        case 0x65:
            vicinity(heard, link);
            return;
        default:
            fail(link, kUnknownCommand);
            return;
    }
}

void RfidLinkModel::handshake(SimLink& link) {
    ++linkCounters.handshakes;
    std::array<std::uint8_t, 8> seed{};
    if (fixedSeed) {
        seed = *fixedSeed;
    } else {
        for (std::uint8_t& b : seed) {
            b = draw();
        }
    }
    lastSeed = seed;
    int newMode = mode_;
    std::vector<std::uint8_t> data;
    if (handshakeModeByte) {
        newMode = *handshakeModeByte + 2;
        data.push_back(*handshakeModeByte);
        if (newMode != 2) {
            data.insert(data.end(), seed.begin(), seed.end());
        }
    } else {
        data.assign(seed.begin(), seed.end());
    }
    reply(link, data);
    if (newMode >= 0 && newMode <= 4) {
        mode_ = newMode;
    }
    codeState_ = seeded(seed, password_);
    inStep_ = true;
}

bool RfidLinkModel::needProtocol(std::uint8_t wanted, SimLink& link) {
    if (protocol != wanted) {
        fail(link, kWrongProtocol);
        return false;
    }
    return true;
}

SimTag* RfidLinkModel::kind(TagKind wanted, SimLink& link) {
    SimTag* tag = field.findKind(wanted);
    if (tag == nullptr) {
        fail(link, kNoTag);
    }
    return tag;
}

void RfidLinkModel::mifare(const Heard& heard, SimLink& link) {
    const std::vector<std::uint8_t>& p = heard.params;
    const std::size_t expected = heard.command == 0x21 ? 8 : 24;
    if (p.size() != expected) {
        fail(link, kBadRequest);
        return;
    }
    if (!needProtocol(kProtocolA, link)) {
        return;
    }
    SimTag* tag = kind(TagKind::Mifare1K, link);
    if (tag == nullptr) {
        return;
    }
    // Flags: bit 0 key B, bit 1 zero key (the key bytes are zeros then), bit 2 option.
    const int keyType = p[0] & 0x01;
    const MifareKey key = keyAt(p, 2);
    const std::size_t block = p[1];
    if (heard.command == 0x21) {
        std::optional<std::vector<std::uint8_t>> bytes = tag->readMifare(block, keyType, key);
        if (!bytes) {
            fail(link, kRefused);
            return;
        }
        reply(link, *bytes);
        return;
    }
    bool done = false;
    if (heard.command == 0x22) {
        done = tag->writeMifare(block, keyType, key, {p.begin() + 8, p.end()});
    } else {
        std::array<std::uint8_t, 16> trailer{};
        std::copy(p.begin() + 8, p.end(), trailer.begin());
        done = tag->writeMifareKeys(block, keyType, key, trailer);
    }
    if (!done) {
        fail(link, kRefused);
        return;
    }
    reply(link, {});
}

void RfidLinkModel::ultralight(const Heard& heard, SimLink& link) {
    const std::vector<std::uint8_t>& p = heard.params;
    if (p.size() != (heard.command == 0x2E ? 1u : 5u)) {
        fail(link, kBadRequest);
        return;
    }
    if (!needProtocol(kProtocolA, link)) {
        return;
    }
    SimTag* tag = kind(TagKind::Ultralight, link);
    if (tag == nullptr) {
        return;
    }
    const std::size_t page = p[0];
    if (heard.command == 0x2E) {
        // Four pages from the one asked, wrapping at the end of the memory.
        if (page >= kUltralightPages || tag->blocks.size() < kUltralightPages) {
            fail(link, kRefused);
            return;
        }
        std::vector<std::uint8_t> data;
        for (std::size_t i = 0; i < 4; ++i) {
            const std::vector<std::uint8_t>& bytes = tag->blocks[(page + i) % kUltralightPages];
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
        reply(link, data);
        return;
    }
    if (!tag->write(page, {p.begin() + 1, p.end()})) {
        fail(link, kRefused);
        return;
    }
    reply(link, {});
}

void RfidLinkModel::sr(const Heard& heard, SimLink& link) {
    const std::vector<std::uint8_t>& p = heard.params;
    std::size_t expected = 0;
    switch (heard.command) {
        case 0x43:
        case 0x46:
            expected = 1;
            break;
        case 0x44:
            expected = 3;
            break;
        case 0x47:
            expected = 5;
            break;
        default:
            break;
    }
    if (p.size() != expected) {
        fail(link, kBadRequest);
        return;
    }
    if (!needProtocol(kProtocolB, link)) {
        return;
    }
    const bool sr176 = heard.command == 0x41 || heard.command == 0x43 || heard.command == 0x44;
    SimTag* tag = kind(sr176 ? TagKind::Sr176 : TagKind::Srix4k, link);
    if (tag == nullptr) {
        return;
    }
    switch (heard.command) {
        case 0x41:
            reply(link, {tag->uid.empty() ? std::uint8_t{0} : tag->uid.back()});
            return;
        case 0x49:
            reply(link, tag->uid);
            return;
        case 0x43: {
            const std::size_t block = p[0];
            if (block < kSr176UidBlocks) {
                // The UID blocks: block 3 holds the most significant pair.
                std::size_t at = (kSr176UidBlocks - 1 - block) * 2;
                if (tag->uid.size() < at + 2) {
                    fail(link, kRefused);
                    return;
                }
                reply(link, {tag->uid[at], tag->uid[at + 1]});
                return;
            }
            [[fallthrough]];
        }
        case 0x46: {
            std::optional<std::vector<std::uint8_t>> bytes = tag->read(p[0]);
            if (!bytes) {
                fail(link, kRefused);
                return;
            }
            reply(link, *bytes);
            return;
        }
        default: {
            const std::size_t block = p[0];
            if ((sr176 && block < kSr176UidBlocks) ||
                !tag->write(block, {p.begin() + 1, p.end()})) {
                fail(link, kRefused);
                return;
            }
            reply(link, {});
            return;
        }
    }
}

SimTag* RfidLinkModel::iso15693(std::uint8_t flags, const std::uint8_t* uidLsbFirst,
                                SimLink& link) {
    for (std::size_t i = 0; i < field.size(); ++i) {
        SimTag& tag = field.at(i);
        if (tag.kind != TagKind::Iso15693) {
            continue;
        }
        if ((flags & kFlagAddressed) == 0) {
            return &tag;
        }
        if (tag.uid.size() == 8 && std::equal(tag.uid.rbegin(), tag.uid.rend(), uidLsbFirst)) {
            return &tag;
        }
    }
    fail(link, kNoTag);
    return nullptr;
}

void RfidLinkModel::vicinity(const Heard& heard, SimLink& link) {
    const std::vector<std::uint8_t>& p = heard.params;
    if (p.size() != (heard.command == 0x65 ? 14u : 11u)) {
        fail(link, kBadRequest);
        return;
    }
    if (!needProtocol(kProtocol15693, link)) {
        return;
    }
    if (heard.command == 0x60) {
        // flags, AFI, mask length, mask: the first mask-length bytes of the UID as sent (least
        // significant first).
        const std::size_t maskBytes = std::min<std::size_t>(p[2], 8);
        for (std::size_t i = 0; i < field.size(); ++i) {
            const SimTag& tag = field.at(i);
            if (tag.kind != TagKind::Iso15693 || tag.uid.size() != 8) {
                continue;
            }
            std::vector<std::uint8_t> sent(tag.uid.rbegin(), tag.uid.rend());
            if (!std::equal(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(maskBytes),
                            p.begin() + 3)) {
                continue;
            }
            std::vector<std::uint8_t> data{0x00};
            data.insert(data.end(), sent.begin(), sent.end());
            reply(link, data);
            return;
        }
        fail(link, kNoTag);
        return;
    }
    SimTag* tag = iso15693(p[0], p.data() + 1, link);
    if (tag == nullptr) {
        return;
    }
    const std::size_t block = p[9];
    if (heard.command == 0x64) {
        std::vector<std::uint8_t> data;
        const std::size_t count = std::max<std::size_t>(p[10], 1);
        for (std::size_t i = 0; i < count; ++i) {
            std::optional<std::vector<std::uint8_t>> bytes = tag->read(block + i);
            if (!bytes) {
                fail(link, kRefused);
                return;
            }
            data.insert(data.end(), bytes->begin(), bytes->end());
        }
        reply(link, data);
        return;
    }
    if (!tag->write(block, {p.begin() + 10, p.end()}, (p[0] & kFlagOption) != 0)) {
        fail(link, kRefused);
        return;
    }
    reply(link, {});
}

}  // namespace vandora::sim
