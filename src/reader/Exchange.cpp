#include "reader/Exchange.h"

#include "reader/PortOps.h"
#include "reader/engines/EngineTable.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr int kCcdPreambleBytes = 30;
constexpr std::uint32_t kTextFirstByteMs = 1000;
constexpr std::uint32_t kDecodeAckTimeoutMs = 3000;
constexpr std::uint32_t kImageExchangeMs = 1000;
constexpr int kImageRefusals = 5;
constexpr std::uint32_t kFirmwareRetryPauseMs = 1000;
constexpr std::uint32_t kLaterByteMs = 20;

// Reads one byte, waiting at most ms for it.
bool readWithin(ReaderChannel& channel, std::uint32_t ms, std::uint8_t& byte) {
    setTimeout(channel, 'r', ms);
    return readByte(channel, byte) != 0;
}

// Reads count bytes and keeps them; false at the first time-out.
bool readKeep(ReaderChannel& channel, std::size_t count, std::uint32_t ms, ByteString& out) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t byte = 0;
        if (!readWithin(channel, ms, byte)) {
            return false;
        }
        out.append(static_cast<char16_t>(byte));
    }
    return true;
}

bool readDrop(ReaderChannel& channel, std::size_t count, std::uint32_t ms) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t byte = 0;
        if (!readWithin(channel, ms, byte)) {
            return false;
        }
    }
    return true;
}

// Length fields count the header; a length below it means no data, never a huge count.
std::size_t lengthMinus(std::size_t length, std::size_t header) {
    return length > header ? length - header : 0;
}

ByteString acknowledgement() {
    return hostPacket(packet::kAck, packet::kAckContinue);
}

ByteString refusalAskingAgain() {
    return hostPacket(packet::kNak, 0, {0x01});
}

bool sendAck(ReaderChannel& channel) {
    return exchange(channel, acknowledgement(), kDecodeAckTimeoutMs, nullptr, 1) != 0;
}

std::int32_t readCcdReply(ReaderChannel& channel, ByteString& out, std::uint32_t firstByteMs) {
    std::uint8_t byte = 0;
    if (!readWithin(channel, firstByteMs, byte)) {
        return 0;
    }
    // The first byte is never the end mark: only an ESC there is dropped.
    if (byte != kEsc) {
        out.append(static_cast<char16_t>(byte));
    }
    for (std::size_t n = 1; n < kMaxReplyBytes; ++n) {
        if (!readWithin(channel, kLaterByteMs, byte)) {
            return 0;
        }
        if (byte == kCr) {
            return 1;
        }
        out.append(static_cast<char16_t>(byte));
    }
    return 0;
}

std::int32_t readAsciiReply(ReaderChannel& channel, ByteString& out, std::uint32_t firstByteMs) {
    std::uint8_t byte = 0;
    if (!readWithin(channel, firstByteMs, byte)) {
        return 0;
    }
    // A first LF is kept like any other byte: only later bytes end the reply.
    if (byte != 0) {
        out.append(static_cast<char16_t>(byte));
    }
    for (std::size_t n = 1; n < kMaxReplyBytes; ++n) {
        if (!readWithin(channel, kLaterByteMs, byte)) {
            return 0;
        }
        if (byte == kLf) {
            if (!out.empty() && out.at(out.length() - 1) == kCr) {
                out.truncate(out.length() - 1);
            }
            return 1;
        }
        if (byte != 0) {
            out.append(static_cast<char16_t>(byte));
        }
    }
    return 0;
}

std::int32_t readHexReply(ReaderChannel& channel, ByteString& out, std::uint32_t firstByteMs,
                          std::uint32_t laterMs) {
    std::uint8_t byte = 0;
    if (!readWithin(channel, firstByteMs, byte)) {
        return 0;
    }
    out.append(static_cast<char16_t>(byte));
    while (out.length() < kMaxReplyBytes && readWithin(channel, laterMs, byte)) {
        out.append(static_cast<char16_t>(byte));
    }
    // A module that never goes quiet is broken, not answering.
    return out.length() < kMaxReplyBytes ? 1 : 0;
}

std::int32_t readPacketReply(ReaderChannel& channel, ByteString& out, std::uint32_t firstByteMs) {
    std::uint8_t length = 0;
    if (!readWithin(channel, firstByteMs, length)) {
        return 0;
    }
    out.append(static_cast<char16_t>(length));
    // The two checksum bytes stay unread; the purge before the next write drops them.
    return readKeep(channel, lengthMinus(length, 1), kLaterByteMs, out) ? 1 : 0;
}

// The bytes of one received packet, summed as they are read so that its checksum can be checked:
// a packet whose checksum fails is never delivered, so a decode read out of step with the engine
// (a byte taken by someone else, a stray byte taken for the length) cannot come out as data.
class PacketIn {
  public:
    explicit PacketIn(ReaderChannel& channel) : channel_(channel) {}

    bool byte(std::uint32_t ms, std::uint8_t& out) {
        if (!readWithin(channel_, ms, out)) {
            return false;
        }
        sum_ = static_cast<std::uint16_t>(sum_ + out);
        return true;
    }
    // A byte read outside this packet that turned out to be its first.
    void counted(std::uint8_t b) { sum_ = static_cast<std::uint16_t>(sum_ + b); }
    bool keep(std::size_t count, ByteString& out) {
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t b = 0;
            if (!byte(kLaterByteMs, b)) {
                return false;
            }
            out.append(static_cast<char16_t>(b));
        }
        return true;
    }
    bool drop(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t b = 0;
            if (!byte(kLaterByteMs, b)) {
                return false;
            }
        }
        return true;
    }
    // Reads the two checksum bytes; true when they match the bytes read so far.
    bool checksumMatches() {
        std::uint8_t high = 0;
        std::uint8_t low = 0;
        if (!readWithin(channel_, kLaterByteMs, high) || !readWithin(channel_, kLaterByteMs, low)) {
            return false;
        }
        return static_cast<std::uint16_t>((high << 8) | low) ==
               static_cast<std::uint16_t>(0x10000 - sum_);
    }

  private:
    ReaderChannel& channel_;
    std::uint16_t sum_ = 0;
};

// Continuation packets of a wrapped imager decode: each is acknowledged until one says it is the
// last. A silent engine after an acknowledgement simply ends the decode.
std::int32_t readWrappedContinuations(ReaderChannel& channel, ByteString& out) {
    if (!sendAck(channel)) {
        return 0;
    }
    while (out.length() < kMaxReplyBytes) {
        PacketIn in(channel);
        std::uint8_t length = 0;
        if (!in.byte(kLaterByteMs, length)) {
            return 1;
        }
        std::uint8_t header[4] = {};
        for (std::uint8_t& b : header) {
            if (!in.byte(kLaterByteMs, b)) {
                return 0;
            }
        }
        std::uint8_t status = header[2];
        ByteString data;
        if (!in.keep(lengthMinus(length, 5), data) || !in.checksumMatches()) {
            return 0;
        }
        out.append(data);
        if (status == 0) {
            return 1;
        }
        if (!sendAck(channel)) {
            return 0;
        }
    }
    return 0;
}

// Continuation packets of a plain decode with status 2. Once the first acknowledgement is out,
// the packets that arrived whole count as the decode.
std::int32_t readPlainContinuations(ReaderChannel& channel, ByteString& out) {
    sendAck(channel);
    while (out.length() < kMaxReplyBytes) {
        PacketIn in(channel);
        std::uint8_t length = 0;
        if (!in.byte(kLaterByteMs, length)) {
            return 1;
        }
        std::uint8_t opcode = 0;
        if (!in.byte(kLaterByteMs, opcode) || opcode != packet::kDecode) {
            return 1;
        }
        ByteString data;
        if (!in.drop(3) || !in.keep(lengthMinus(length, 5), data) || !in.checksumMatches()) {
            return 1;
        }
        out.append(data);
        sendAck(channel);
    }
    return 1;
}

// What follows the first packet of a decode.
enum class FirstPacket { Broken, Complete, MoreFollow, WrappedContinuations };

// The first packet of a decode, checksum included.
FirstPacket readFirstDecodePacket(ReaderChannel& channel, ByteString& out,
                                  std::uint32_t firstByteMs) {
    auto checked = [](bool whole, FirstPacket then) { return whole ? then : FirstPacket::Broken; };
    PacketIn in(channel);
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    if (!readWithin(channel, firstByteMs, a) || !readWithin(channel, firstByteMs, b)) {
        return FirstPacket::Broken;
    }
    std::uint8_t length = a;
    if (b == packet::kDecode) {
        in.counted(a);
        in.counted(b);
    } else {
        // Two stray bytes before the packet are tolerated, no more.
        std::uint8_t opcode = 0;
        if (!in.byte(firstByteMs, length) || !in.byte(kLaterByteMs, opcode) ||
            opcode != packet::kDecode) {
            return FirstPacket::Broken;
        }
    }
    std::uint8_t source = 0;
    std::uint8_t status = 0;
    if (!in.byte(kLaterByteMs, source) || !in.byte(kLaterByteMs, status)) {
        return FirstPacket::Broken;
    }
    std::uint8_t first = 0;
    if (!in.byte(kLaterByteMs, first)) {
        return FirstPacket::Broken;
    }
    if (first != packet::kWrappedDecode) {
        out.append(static_cast<char16_t>(first));
        return checked(
            in.keep(lengthMinus(length, 5), out) && in.checksumMatches(),
            status == packet::kMoreFollows ? FirstPacket::MoreFollow : FirstPacket::Complete);
    }
    switch (engineInfo(channel.engineType).wrapped) {
        case WrappedDecode::Imager:
            if (!in.keep(1, out) || !in.drop(4) || !in.keep(lengthMinus(length, 10), out)) {
                return FirstPacket::Broken;
            }
            // Continuations follow the acknowledgement, whatever the status says.
            return checked(in.checksumMatches(), FirstPacket::WrappedContinuations);
        case WrappedDecode::Laser: {
            if (!in.keep(1, out) || !in.drop(1)) {
                return FirstPacket::Broken;
            }
            // A zero byte escapes the two after it; time-outs read as zero here.
            std::size_t remaining = lengthMinus(length, 7);
            std::size_t used = 0;
            while (used < remaining) {
                std::uint8_t byte = 0;
                in.byte(kLaterByteMs, byte);
                if (byte != 0) {
                    out.append(static_cast<char16_t>(byte));
                    used += 1;
                } else {
                    std::uint8_t skipped = 0;
                    in.byte(kLaterByteMs, skipped);
                    in.byte(kLaterByteMs, skipped);
                    used += 3;
                }
            }
            return checked(in.checksumMatches(), FirstPacket::Complete);
        }
        case WrappedDecode::None:
            return FirstPacket::Broken;
    }
    return FirstPacket::Broken;
}

std::int32_t readDecodePacket(ReaderChannel& channel, ByteString& out, std::uint32_t firstByteMs) {
    switch (readFirstDecodePacket(channel, out, firstByteMs)) {
        case FirstPacket::Broken:
            out.clear();
            return 0;
        case FirstPacket::Complete:
            return 1;
        case FirstPacket::MoreFollow:
            return readPlainContinuations(channel, out);
        case FirstPacket::WrappedContinuations:
            if (readWrappedContinuations(channel, out) == 0) {
                out.clear();
                return 0;
            }
            return 1;
    }
    return 0;
}

ByteString ccdFrame(const ByteString& command) {
    ByteString frame(kCcdPreambleBytes + command.length() + 2);
    for (int i = 0; i < kCcdPreambleBytes; ++i) {
        frame.append(u'\xFF');
    }
    frame.append(static_cast<char16_t>(kEsc));
    frame.append(command);
    frame.append(static_cast<char16_t>(kCr));
    return frame;
}

std::int32_t wrappedWrite(ReaderChannel& channel, const ByteString& packet) {
    signalWake(channel, 1);
    std::int32_t ok = writeFrame(channel, packet);
    signalWake(channel, 0);
    return ok;
}

}  // namespace

std::int32_t readReply(ReaderChannel& channel, ByteString& out, std::uint32_t firstByteMs,
                       std::int32_t decode) {
    out.clear();
    const EngineInfo& info = engineInfo(channel.engineType);
    switch (info.framing) {
        case Framing::CcdText:
            return readCcdReply(channel, out, firstByteMs);
        case Framing::AsciiText:
            return readAsciiReply(channel, out, firstByteMs);
        case Framing::HexText:
            return readHexReply(channel, out, firstByteMs, info.laterByteMs);
        case Framing::Packet:
            return decode == 1 ? readDecodePacket(channel, out, firstByteMs)
                               : readPacketReply(channel, out, firstByteMs);
        case Framing::None:
        case Framing::Link:
            return 0;
    }
    return 0;
}

std::int32_t exchange(ReaderChannel& channel, const ByteString& command, std::uint32_t timeoutMs,
                      ByteString* reply, std::int32_t retries) {
    setTimeout(channel, 'w', timeoutMs);
    const EngineInfo& info = engineInfo(channel.engineType);
    ByteString frame;
    std::uint32_t firstByteMs = kTextFirstByteMs;
    switch (info.framing) {
        case Framing::CcdText:
            frame = ccdFrame(command);
            break;
        case Framing::AsciiText:
        case Framing::HexText:
            frame = command;
            break;
        case Framing::Packet:
            // A copy: the caller's command never carries a checksum, however often it is sent.
            frame = command;
            appendChecksum(frame);
            firstByteMs = timeoutMs;
            break;
        case Framing::None:
        case Framing::Link:
            return 0;
    }
    bool packet = info.framing == Framing::Packet;
    auto write = [&] { return packet ? wrappedWrite(channel, frame) : writeFrame(channel, frame); };
    if (reply == nullptr) {
        return write();
    }
    for (std::int32_t attempt = 0; attempt < retries; ++attempt) {
        if (!write()) {
            continue;
        }
        if (!readReply(channel, *reply, firstByteMs, 0)) {
            continue;
        }
        if (info.framing == Framing::CcdText && *reply == "NG") {
            continue;
        }
        if (packet && isRefusal(*reply)) {
            continue;
        }
        return 1;
    }
    return 0;
}

std::int32_t receiveImage(ReaderChannel& channel, const std::function<void(int)>& progress) {
    channel.decodeData.clear();
    setTimeout(channel, 'r', channel.scanTimeout);
    std::uint8_t previous = 0;
    std::uint8_t byte = 0;
    std::size_t hunted = 0;
    for (;;) {
        if (readByte(channel, byte) == 0) {
            return 0;
        }
        if (byte == packet::kImage) {
            break;
        }
        // An engine that streams without ever starting an image packet is broken.
        if (++hunted > kMaxReplyBytes) {
            return 0;
        }
        previous = byte;
    }
    std::uint8_t length = previous;
    // Two bytes are skipped, one per call. NOLINTNEXTLINE(misc-redundant-expression)
    if (readByte(channel, byte) == 0 || readByte(channel, byte) == 0) {
        return 0;
    }
    for (std::size_t i = 0; i < lengthMinus(length, 4); ++i) {
        if (readByte(channel, byte) == 0) {
            break;
        }
        channel.decodeData.append(static_cast<char16_t>(byte));
    }
    if (channel.decodeData.length() <= 10) {
        return 0;
    }
    std::uint64_t total = (static_cast<std::uint64_t>(channel.decodeData.byteAt(0)) << 24) |
                          (static_cast<std::uint64_t>(channel.decodeData.byteAt(1)) << 16) |
                          (static_cast<std::uint64_t>(channel.decodeData.byteAt(2)) << 8) |
                          channel.decodeData.byteAt(3);
    channel.decodeData.remove(0, 10);
    const ByteString ack = acknowledgement();
    const ByteString again = refusalAskingAgain();
    ByteString packet;
    while (channel.decodeData.length() < kMaxImageBytes) {
        bool received = exchange(channel, ack, kImageExchangeMs, &packet, 1) != 0;
        for (int i = 0; !received && i < kImageRefusals; ++i) {
            received = exchange(channel, again, kImageExchangeMs, &packet, 1) != 0;
        }
        if (!received) {
            return 1;
        }
        channel.decodeData.append(packet.mid(4));
        if (progress && total > 0) {
            std::uint64_t percent = channel.decodeData.length() * 100ULL / total;
            if (percent <= 90) {
                progress(static_cast<int>(percent));
            }
        }
    }
    // More than any picture the imagers take: the engine is not sending an image.
    return 0;
}

std::int32_t exchangeFirmware(ReaderChannel& channel, const ByteString& command,
                              std::uint32_t timeoutMs, ByteString* reply, std::int32_t retries) {
    setTimeout(channel, 'w', timeoutMs);
    if (!engineInfo(channel.engineType).imager || reply == nullptr || retries < 1) {
        return 0;
    }
    Clock& clock = channel.owner->clock();
    for (std::int32_t attempt = 0; attempt < retries; ++attempt) {
        if (writeRaw(channel, command) == 0) {
            continue;
        }
        reply->clear();
        std::uint8_t first = 0;
        std::uint8_t count = 0;
        bool ok = readWithin(channel, timeoutMs, first) && readWithin(channel, kLaterByteMs, count);
        if (ok) {
            reply->append(static_cast<char16_t>(first));
            reply->append(static_cast<char16_t>(count));
            ok = readKeep(channel, lengthMinus(count, 1), kLaterByteMs, *reply) &&
                 readDrop(channel, 2, kLaterByteMs);
        }
        if (!ok || isRefusal(*reply)) {
            clock.sleepMs(kFirmwareRetryPauseMs);
            continue;
        }
        return 1;
    }
    return 0;
}

}  // namespace vandora
