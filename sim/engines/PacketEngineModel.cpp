#include "engines/PacketEngineModel.h"

#include <algorithm>

#include "ScriptedModel.h"
#include "engines/SimPicture.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora::sim {
namespace {

// The opcodes are the wire protocol's, named once for the host and the models.
using packet::kAck;
using packet::kAimOff;
using packet::kAimOn;
using packet::kDecode;
using packet::kImage;
using packet::kMoreFollows;
using packet::kParamDefaults;
using packet::kParamRequest;
using packet::kParamSend;
using packet::kRevision;
using packet::kStartDecode;
using packet::kStopDecode;
constexpr std::uint8_t kRefusal = packet::kNak;
constexpr std::uint8_t kWrapMarker = packet::kWrappedDecode;
constexpr std::uint8_t kFirmwareStart = 0xEE;
constexpr std::uint8_t kImagerMode = 0xF7;
constexpr std::uint8_t kPrefixF0 = 0xF0;
constexpr std::uint8_t kPrefixF1 = 0xF1;
constexpr std::uint8_t kWordPrefix = 0xF4;
constexpr std::uint16_t kRateParam = 0x9C;
constexpr std::uint16_t kNoReadMessageParam = 0x5E;
constexpr std::uint16_t kScanModeParam = 0x8A;
// Status byte of the host's acknowledgement of a whole decode (a continuation's is 3).
constexpr std::uint8_t kDecodeDone = 0x00;

// A packet's length byte counts itself and the header, so one packet carries at most this much.
constexpr std::size_t kMaxPacket = 255;
constexpr std::size_t kImageHeader = 10;
constexpr std::uint16_t kImageFormatParam = 0xF030;
constexpr std::uint8_t kLoaderLead = 0x02;
constexpr std::uint32_t kLoaderBaud = 9600;
constexpr std::uint32_t kUploadBaud = 115200;
constexpr std::uint32_t kClosingAddress = 0xFFFFFFFF;
constexpr std::uint8_t kProgrammed = 0x04;
constexpr std::uint8_t kRecordBad = 0x3F;
// Time the engine takes to write its flash once the download is closed.
constexpr std::uint64_t kProgrammingUs = 500000;

bool isPrefix(std::uint8_t b) {
    return b == kPrefixF0 || b == kPrefixF1;
}

std::uint8_t low(std::size_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}

std::vector<std::vector<std::uint8_t>> chunks(const std::vector<std::uint8_t>& data,
                                              std::size_t first, std::size_t rest) {
    std::vector<std::vector<std::uint8_t>> out;
    std::size_t at = 0;
    do {
        std::size_t n = std::min(out.empty() ? first : rest, data.size() - at);
        out.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(at),
                         data.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < data.size());
    return out;
}

}  // namespace

const PacketEngineModel::OpcodeRow PacketEngineModel::kOpcodes[] = {
    {kRevision, &PacketEngineModel::revision},
    {kAimOff, &PacketEngineModel::aimOff},
    {kAimOn, &PacketEngineModel::aimOn},
    {kParamSend, &PacketEngineModel::parameterSend},
    {kParamRequest, &PacketEngineModel::parameterRequest},
    {kParamDefaults, &PacketEngineModel::parameterDefaults},
    {kAck, &PacketEngineModel::hostAck},
    {kRefusal, &PacketEngineModel::hostRefusal},
    {kStartDecode, &PacketEngineModel::startDecoding},
    {kStopDecode, &PacketEngineModel::stopDecoding},
    {kImagerMode, &PacketEngineModel::imagerMode},
    {kFirmwareStart, &PacketEngineModel::firmwareStart},
};

const std::map<std::uint16_t, std::uint8_t>& PacketEngineModel::defaults() {
    // The common symbologies on, decoding triggered by the host. The line rate is not among
    // them: restoring the defaults must not cut the link the host is using.
    static const std::map<std::uint16_t, std::uint8_t> kDefaults = {
        {0x00, 1}, {0x01, 1}, {0x02, 1}, {0x03, 1},  {0x04, 1}, {0x06, 1},
        {0x07, 1}, {0x08, 1}, {0x0E, 1}, {0x88, 99}, {0x8A, 0},
    };
    return kDefaults;
}

PacketEngineModel::PacketEngineModel(int engineType, SimOptions options)
    : EngineSim(*engineFacts(engineType), std::move(options)), params(defaults()) {}

std::uint8_t PacketEngineModel::param(std::uint16_t number) const {
    auto it = params.find(number);
    return it == params.end() ? 0 : it->second;
}

bool PacketEngineModel::selfScanning() const {
    return scansBySelf(facts(), param(kScanModeParam));
}

std::vector<std::uint8_t> PacketEngineModel::refusal() const {
    return withChecksum({0x05, kRefusal, 0x00, 0x00, 0x01});
}

void PacketEngineModel::consume(const std::uint8_t* data, std::size_t size, bool fresh,
                                SimLink& link) {
    if (fresh) {
        buffer_.clear();
    }
    buffer_.insert(buffer_.end(), data, data + size);
    if (loaderMode) {
        consumeLoader(link);
        return;
    }
    while (!buffer_.empty()) {
        std::size_t length = buffer_[0];
        if (length < 4) {
            // No packet is that short: a stray byte, skipped to find the next length.
            buffer_.erase(buffer_.begin());
            continue;
        }
        if (buffer_.size() < length + 2) {
            return;
        }
        unsigned sum = 0;
        for (std::size_t i = 0; i < length; ++i) {
            sum += buffer_[i];
        }
        unsigned check = (static_cast<unsigned>(buffer_[length]) << 8) | buffer_[length + 1];
        bool valid = ((sum + check) & 0xFFFF) == 0;
        Frame frame(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length + 2));
        frameReceived(std::move(frame), valid, link);
    }
}

void PacketEngineModel::respond(const Frame& frame, SimLink& link) {
    bool pictureWaits = !lastAcked_ && lastSent_.size() > 1 && lastSent_[1] == kImage;
    if (pictureWaits && frame[1] != kAck && frame[1] != kRefusal) {
        ++counters.pictureInterruptions;
    }
    bool known = false;
    for (const OpcodeRow& row : kOpcodes) {
        if (row.opcode == frame[1]) {
            (this->*row.handle)(frame, link);
            known = true;
            break;
        }
    }
    if (!known) {
        refuse(link);
    }
    // The host's commands are the only moments the model gets to act: one that changed the scan
    // mode, acknowledged a decode or simply came after an empty look starts the next look.
    selfScan(link);
}

void PacketEngineModel::onOpen(SimLink& link) {
    if (!selfScanning()) {
        return;
    }
    // What was on its way went with the old link and will never be acknowledged; the engine
    // goes on scanning into the new one.
    waiting_.clear();
    lastAcked_ = true;
    seriesOut_ = false;
    selfScan(link);
}

void PacketEngineModel::selfScan(SimLink& link) {
    if (selfScanning() && !seriesOut_) {
        sendDecode(link, true);
    }
}

void PacketEngineModel::ack(SimLink& link) {
    answer(link, withChecksum({0x04, kAck, 0x00, 0x00}));
}

void PacketEngineModel::acknowledge(const Frame& /*frame*/, SimLink& link) {
    ack(link);
}

void PacketEngineModel::firmwareStart(const Frame& /*frame*/, SimLink& link) {
    if (!facts().takesFirmware) {
        refuse(link);
        return;
    }
    ack(link);
    loaderMode = true;
}

void PacketEngineModel::consumeLoader(SimLink& link) {
    while (!buffer_.empty()) {
        if (buffer_[0] != kLoaderLead) {
            // Not the start of a loader frame (the host's purge leftovers): skipped.
            buffer_.erase(buffer_.begin());
            continue;
        }
        if (buffer_.size() < 2) {
            return;
        }
        std::size_t n = buffer_[1];
        if (n == 0) {
            buffer_.erase(buffer_.begin());
            continue;
        }
        // 02, N, N - 1 bytes, two checksum bytes.
        if (buffer_.size() < n + 3) {
            return;
        }
        Frame body(buffer_.begin() + 1, buffer_.begin() + static_cast<std::ptrdiff_t>(1 + n));
        unsigned sum = 0;
        for (std::uint8_t b : body) {
            sum += b;
        }
        unsigned check = (static_cast<unsigned>(buffer_[1 + n]) << 8) | buffer_[2 + n];
        bool valid = ((sum + check) & 0xFFFF) == 0;
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n + 3));
        Frame logged = {kLoaderLead};
        logged.insert(logged.end(), body.begin(), body.end());
        log.push_back({logged, link.baud(), link.nowUs(), valid});
        ++counters.commands;
        loaderFrame(body, valid, link);
    }
}

void PacketEngineModel::loaderFrame(const Frame& body, bool valid, SimLink& link) {
    // body: N, then N - 1 bytes.
    auto reply = [&](std::uint8_t status) {
        Frame out = {0x07, 0x00, 0x06, 0x64, 0x00, 0x87, status};
        unsigned sum = 0;
        for (std::uint8_t b : out) {
            sum += b;
        }
        unsigned check = (0x10000 - (sum & 0xFFFF)) & 0xFFFF;
        Frame bytes = {kLoaderLead};
        bytes.insert(bytes.end(), out.begin(), out.end());
        bytes.push_back(low(check >> 8));
        bytes.push_back(low(check));
        answer(link, bytes);
    };
    if (faults.silent) {
        return;
    }
    static const Frame kLoaderRequest = {0x07, 0x00, 0x06, 0x64, 0x00, 0x07, 0x05};
    if (valid && body == kLoaderRequest) {
        reply(0x00);
        switchRate(kUploadBaud);
        return;
    }
    // A record: four address bytes and the data.
    if (!valid || body.size() < 5) {
        reply(kRecordBad);
        return;
    }
    std::uint32_t address = (static_cast<std::uint32_t>(body[1]) << 24) |
                            (static_cast<std::uint32_t>(body[2]) << 16) |
                            (static_cast<std::uint32_t>(body[3]) << 8) | body[4];
    reply(0x00);
    if (address == kClosingAddress) {
        ++firmwareLoads;
        loaderMode = false;
        answer(link, {kProgrammed}, kProgrammingUs);
        switchRate(kLoaderBaud);
        return;
    }
    for (std::size_t i = 5; i < body.size(); ++i) {
        firmware[address + static_cast<std::uint32_t>(i - 5)] = body[i];
    }
}

void PacketEngineModel::revision(const Frame& /*frame*/, SimLink& link) {
    const std::string_view text = facts().identity;
    Frame packet = {low(4 + text.size()), kRevision, 0x00, 0x00};
    packet.insert(packet.end(), text.begin(), text.end());
    answer(link, withChecksum(packet));
}

void PacketEngineModel::aimOff(const Frame& /*frame*/, SimLink& link) {
    aiming = false;
    ack(link);
}

void PacketEngineModel::aimOn(const Frame& /*frame*/, SimLink& link) {
    aiming = true;
    ack(link);
}

void PacketEngineModel::parameterSend(const Frame& frame, SimLink& link) {
    // L C6 source status [FF] then pairs: number (F0/F1 prefixed or plain) and value, or F4,
    // number, value high, value low.
    std::size_t i = frame.size() > 4 && frame[4] == 0xFF ? 5 : 4;
    std::map<std::uint16_t, std::uint8_t> bytes;
    std::map<std::uint16_t, std::uint16_t> wordValues;
    auto readNumber = [&](std::uint16_t& number) {
        if (i >= frame.size()) {
            return false;
        }
        number = frame[i++];
        if (isPrefix(static_cast<std::uint8_t>(number))) {
            if (i >= frame.size()) {
                return false;
            }
            number = static_cast<std::uint16_t>((number << 8) | frame[i++]);
        }
        return true;
    };
    while (i < frame.size()) {
        bool word = frame[i] == kWordPrefix;
        if (word) {
            ++i;
        }
        std::uint16_t number = 0;
        if (!readNumber(number) || i + (word ? 2 : 1) > frame.size()) {
            refuse(link);
            return;
        }
        if (word) {
            wordValues[number] = static_cast<std::uint16_t>((frame[i] << 8) | frame[i + 1]);
            i += 2;
        } else {
            bytes[number] = frame[i++];
        }
    }
    for (const auto& [number, value] : bytes) {
        params[number] = value;
    }
    for (const auto& [number, value] : wordValues) {
        words[number] = value;
    }
    ack(link);
    // The acknowledgement still leaves at the old rate; the engine listens at the new one.
    auto rate = bytes.find(kRateParam);
    if (rate != bytes.end() && facts().rateSwitch == RateSwitch::PacketParameter &&
        !faults.silent) {
        switchRate(packetRateForCode(rate->second));
    }
}

void PacketEngineModel::parameterRequest(const Frame& frame, SimLink& link) {
    Frame reply = {0x00, kParamSend, 0x00, 0x00, 0xFF};
    for (std::size_t i = 4; i < frame.size(); ++i) {
        std::uint16_t number = frame[i];
        Frame pair;
        if (isPrefix(frame[i]) && i + 1 < frame.size()) {
            pair.push_back(frame[i]);
            number = static_cast<std::uint16_t>((number << 8) | frame[++i]);
        }
        pair.push_back(low(number));
        pair.push_back(param(number));
        if (reply.size() + pair.size() > kMaxPacket) {
            break;
        }
        reply.insert(reply.end(), pair.begin(), pair.end());
    }
    reply[0] = low(reply.size());
    answer(link, withChecksum(reply));
}

void PacketEngineModel::parameterDefaults(const Frame& /*frame*/, SimLink& link) {
    std::uint8_t rate = param(kRateParam);
    params = defaults();
    words.clear();
    ack(link);
    // Some engines take their factory line rate back with the other defaults (the host then
    // meets them at that rate and moves them again); the others keep the rate in use.
    if (facts().defaultsBaud != 0) {
        switchRate(facts().defaultsBaud);
    } else if (rate != 0) {
        params[kRateParam] = rate;
    }
}

void PacketEngineModel::hostAck(const Frame& frame, SimLink& link) {
    ++counters.acks;
    lastAcked_ = true;
    if (!waiting_.empty()) {
        Frame next = std::move(waiting_.front());
        waiting_.pop_front();
        sendPacket(next, 0, link);
    } else if (frame.size() > 3 && frame[3] == kDecodeDone) {
        seriesOut_ = false;
    }
}

void PacketEngineModel::hostRefusal(const Frame& /*frame*/, SimLink& link) {
    // The host missed the packet it was waiting for and asks for it again; with nothing
    // outstanding there is nothing to say.
    if (!lastAcked_ && !lastSent_.empty()) {
        ++counters.resends;
        answer(link, withChecksum(lastSent_));
    }
}

void PacketEngineModel::startDecoding(const Frame& /*frame*/, SimLink& link) {
    scanning = true;
    ack(link);
    if (snapshotMode && facts().takesPictures) {
        sendImage(link);
    } else {
        sendDecode(link);
    }
}

void PacketEngineModel::stopDecoding(const Frame& /*frame*/, SimLink& link) {
    scanning = false;
    aiming = false;
    waiting_.clear();
    lastAcked_ = true;
    seriesOut_ = false;
    ack(link);
}

void PacketEngineModel::imagerMode(const Frame& frame, SimLink& link) {
    if (!facts().takesPictures) {
        refuse(link);
        return;
    }
    snapshotMode = frame.size() <= 4 || frame[4] != 0;
    ack(link);
}

void PacketEngineModel::sendPacket(const Frame& packet, std::uint64_t extraDelayUs, SimLink& link) {
    ++counters.packets;
    lastSent_ = packet;
    lastAcked_ = false;
    answer(link, withChecksum(packet), extraDelayUs);
}

void PacketEngineModel::startSeries(std::vector<Frame> packets, SimLink& link) {
    seriesOut_ = true;
    waiting_.assign(packets.begin() + 1, packets.end());
    sendPacket(packets.front(), options_.decodeDelayUs, link);
}

void PacketEngineModel::sendDecode(SimLink& link, bool bySelf) {
    if (bySelf && peekDecode() == nullptr) {
        return;
    }
    ++counters.decodes;
    SimDecode decode;
    if (!nextDecode(decode) || decode.form == DecodeForm::NoRead) {
        // The engine tells of a no-read only when its parameter says so and the host asked for
        // the read; otherwise the host's wait simply runs out.
        if (!bySelf && param(kNoReadMessageParam) != 0) {
            answer(link, refusal(), options_.decodeDelayUs);
        }
        return;
    }
    const std::size_t wanted = decode.packetData == 0 ? kMaxPacket : decode.packetData;
    std::vector<Frame> packets;
    WrapForm wrap = decode.form == DecodeForm::Wrapped ? facts().wrapped : WrapForm::None;
    if (wrap == WrapForm::Laser) {
        // One packet; the data is cut into segments by three-byte marks led by a zero byte.
        Frame body;
        for (std::size_t i = 0; i < decode.data.size(); ++i) {
            if (i > 0 && decode.packetData != 0 && i % decode.packetData == 0) {
                body.insert(body.end(), {0x00, 0x00, low(i / decode.packetData)});
            }
            body.push_back(decode.data[i]);
        }
        body.resize(std::min(body.size(), kMaxPacket - 7));
        Frame packet = {low(7 + body.size()), kDecode,         0x00, 0x00,
                        kWrapMarker,          decode.codeType, 0x00};
        packet.insert(packet.end(), body.begin(), body.end());
        packets.push_back(packet);
    } else if (wrap == WrapForm::Imager) {
        auto parts = chunks(decode.data, std::min(wanted, kMaxPacket - 10),
                            std::min(wanted, kMaxPacket - 5));
        for (std::size_t n = 0; n < parts.size(); ++n) {
            std::uint8_t status = n + 1 < parts.size() ? kMoreFollows : 0;
            Frame packet;
            if (n == 0) {
                std::size_t total = decode.data.size();
                packet = {low(10 + parts[n].size()),
                          kDecode,
                          0x00,
                          status,
                          kWrapMarker,
                          decode.codeType,
                          low(parts.size()),
                          0x01,
                          low(total >> 8),
                          low(total)};
            } else {
                packet = {low(5 + parts[n].size()), kDecode, 0x00, status, decode.codeType};
            }
            packet.insert(packet.end(), parts[n].begin(), parts[n].end());
            packets.push_back(packet);
        }
    } else {
        auto parts =
            chunks(decode.data, std::min(wanted, kMaxPacket - 5), std::min(wanted, kMaxPacket - 5));
        for (std::size_t n = 0; n < parts.size(); ++n) {
            std::uint8_t status = n + 1 < parts.size() ? kMoreFollows : 0;
            Frame packet = {low(5 + parts[n].size()), kDecode, 0x00, status, decode.codeType};
            packet.insert(packet.end(), parts[n].begin(), parts[n].end());
            packets.push_back(packet);
        }
    }
    startSeries(std::move(packets), link);
}

void PacketEngineModel::sendImage(SimLink& link) {
    snapshotMode = false;
    std::vector<std::uint8_t> image = options_.image;
    if (image.empty()) {
        image = simPicture(param(kImageFormatParam) == 3);
    }
    std::size_t total = image.size();
    std::vector<std::uint8_t> payload = {low(total >> 24), low(total >> 16), low(total >> 8),
                                         low(total)};
    payload.resize(kImageHeader, 0x00);
    payload.insert(payload.end(), image.begin(), image.end());
    // 254-byte packets: with their checksum 256 bytes, an even share of the engine's buffer.
    auto parts = chunks(payload, kMaxPacket - 5, kMaxPacket - 5);
    std::vector<Frame> packets;
    for (std::size_t n = 0; n < parts.size(); ++n) {
        std::uint8_t status = n + 1 < parts.size() ? kMoreFollows : 0;
        Frame packet = {low(4 + parts[n].size()), kImage, 0x00, status};
        packet.insert(packet.end(), parts[n].begin(), parts[n].end());
        packets.push_back(packet);
    }
    startSeries(std::move(packets), link);
}

}  // namespace vandora::sim
