#include "reader/Exchange.h"

#include "reader/PortOps.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kDecodeOpcode = 0xF3;
constexpr std::uint8_t kImageOpcode = 0xB1;
constexpr std::uint8_t kWrappedDecode = 0x99;
constexpr std::uint8_t kMoreFollows = 2;
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
    ByteString ack;
    for (std::uint8_t b : {0x04, 0xD0, 0x04, 0x03}) {
        ack.append(static_cast<char16_t>(b));
    }
    return ack;
}

ByteString refusalAskingAgain() {
    ByteString refusal;
    for (std::uint8_t b : {0x05, 0xD1, 0x04, 0x00, 0x01}) {
        refusal.append(static_cast<char16_t>(b));
    }
    return refusal;
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

// Continuation packets of a wrapped imager decode: each is acknowledged until one says it is the
// last. A silent engine after an acknowledgement simply ends the decode.
std::int32_t readWrappedContinuations(ReaderChannel& channel, ByteString& out) {
    if (!sendAck(channel)) {
        return 0;
    }
    while (out.length() < kMaxReplyBytes) {
        std::uint8_t length = 0;
        if (!readWithin(channel, kLaterByteMs, length)) {
            return 1;
        }
        std::uint8_t header[4] = {};
        for (std::uint8_t& b : header) {
            if (!readWithin(channel, kLaterByteMs, b)) {
                return 0;
            }
        }
        std::uint8_t status = header[2];
        if (!readKeep(channel, lengthMinus(length, 5), kLaterByteMs, out)) {
            return 0;
        }
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
// whatever arrived counts as the decode.
std::int32_t readPlainContinuations(ReaderChannel& channel, ByteString& out) {
    sendAck(channel);
    while (out.length() < kMaxReplyBytes) {
        std::uint8_t length = 0;
        if (!readWithin(channel, kLaterByteMs, length)) {
            return 1;
        }
        std::uint8_t opcode = 0;
        if (!readWithin(channel, kLaterByteMs, opcode) || opcode != kDecodeOpcode) {
            return 1;
        }
        if (!readDrop(channel, 3, kLaterByteMs)) {
            return 1;
        }
        if (!readKeep(channel, lengthMinus(length, 5), kLaterByteMs, out)) {
            return 1;
        }
        sendAck(channel);
    }
    return 1;
}

std::int32_t readDecodePacket(ReaderChannel& channel, ByteString& out, std::uint32_t firstByteMs) {
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    if (!readWithin(channel, firstByteMs, a) || !readWithin(channel, firstByteMs, b)) {
        return 0;
    }
    std::uint8_t length = a;
    if (b != kDecodeOpcode) {
        // Two stray bytes before the packet are tolerated, no more.
        std::uint8_t opcode = 0;
        if (!readWithin(channel, firstByteMs, length) ||
            !readWithin(channel, kLaterByteMs, opcode) || opcode != kDecodeOpcode) {
            return 0;
        }
    }
    std::uint8_t source = 0;
    std::uint8_t status = 0;
    if (!readWithin(channel, kLaterByteMs, source) || !readWithin(channel, kLaterByteMs, status)) {
        return 0;
    }
    std::uint8_t first = 0;
    if (!readWithin(channel, kLaterByteMs, first)) {
        return 0;
    }
    if (first == kWrappedDecode) {
        switch (engineInfo(channel.engineType).wrapped) {
            case WrappedDecode::Imager:
                if (!readKeep(channel, 1, kLaterByteMs, out) ||
                    !readDrop(channel, 4, kLaterByteMs) ||
                    !readKeep(channel, lengthMinus(length, 10), kLaterByteMs, out)) {
                    return 0;
                }
                return readWrappedContinuations(channel, out);
            case WrappedDecode::Laser: {
                if (!readKeep(channel, 1, kLaterByteMs, out) ||
                    !readDrop(channel, 1, kLaterByteMs)) {
                    return 0;
                }
                // A zero byte escapes the two after it; time-outs read as zero here.
                std::size_t remaining = lengthMinus(length, 7);
                std::size_t used = 0;
                while (used < remaining) {
                    std::uint8_t byte = 0;
                    readWithin(channel, kLaterByteMs, byte);
                    if (byte != 0) {
                        out.append(static_cast<char16_t>(byte));
                        used += 1;
                    } else {
                        std::uint8_t skipped = 0;
                        readWithin(channel, kLaterByteMs, skipped);
                        readWithin(channel, kLaterByteMs, skipped);
                        used += 3;
                    }
                }
                return 1;
            }
            case WrappedDecode::None:
                return 0;
        }
    }
    out.append(static_cast<char16_t>(first));
    if (!readKeep(channel, lengthMinus(length, 5), kLaterByteMs, out)) {
        return 0;
    }
    if (status != kMoreFollows) {
        return 1;
    }
    return readPlainContinuations(channel, out);
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

std::uint16_t packetChecksum(const ByteString& bytes) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < bytes.length(); ++i) {
        sum = static_cast<std::uint16_t>(sum + bytes.byteAt(i));
    }
    return static_cast<std::uint16_t>(0x10000 - sum);
}

void appendChecksum(ByteString& bytes) {
    std::uint16_t sum = packetChecksum(bytes);
    bytes.append(static_cast<char16_t>(sum >> 8));
    bytes.append(static_cast<char16_t>(sum & 0xFF));
}

bool isRefusal(const ByteString& reply) {
    return reply.length() >= 5 && reply.byteAt(0) == 0x05 && reply.byteAt(1) == 0xD1 &&
           reply.byteAt(2) == 0x00 && reply.byteAt(3) == 0x00;
}

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
        if (byte == kImageOpcode) {
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
    if ((channel.engineType != EngineType::Imager2D &&
         channel.engineType != EngineType::Imager2D4507) ||
        reply == nullptr || retries < 1) {
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
        if (!ok || (reply->length() > 4 && reply->byteAt(0) == 0x05 && reply->byteAt(1) == 0xD1 &&
                    reply->byteAt(2) == 0x00 && reply->byteAt(3) == 0x00)) {
            clock.sleepMs(kFirmwareRetryPauseMs);
            continue;
        }
        return 1;
    }
    return 0;
}

}  // namespace vandora
