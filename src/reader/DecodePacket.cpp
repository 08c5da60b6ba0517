#include "reader/DecodePacket.h"

#include "reader/Exchange.h"
#include "reader/ReplyBytes.h"
#include "reader/engines/EngineTable.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora {

namespace {

constexpr std::uint32_t kDecodeAckTimeoutMs = 3000;
// The next packet of a decode that said more follow is answered to an acknowledgement: the
// engine sends it after a turn of its own, which a byte's 20 ms do not always cover (a busy host
// then cut the decode short and delivered the part as the whole). A silent engine still ends the
// decode, a little later.
constexpr std::uint32_t kContinuationMs = 500;

bool sendAck(ReaderChannel& channel) {
    return exchange(channel, acknowledgement(), kDecodeAckTimeoutMs, nullptr, 1) != 0;
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
        if (!in.byte(kContinuationMs, length)) {
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
        if (!in.byte(kContinuationMs, length)) {
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

}  // namespace

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

}  // namespace vandora
