// The reply readers of each framing; the packet engines' decodes are read in DecodePacket.cpp.
#include "reader/DecodePacket.h"
#include "reader/Exchange.h"
#include "reader/ReplyBytes.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;

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

}  // namespace vandora
