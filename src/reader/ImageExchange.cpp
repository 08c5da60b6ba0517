// Image reception from the 2D imagers and the unframed exchange of decoder firmware upload.
#include "reader/Exchange.h"
#include "reader/PortOps.h"
#include "reader/ReplyBytes.h"
#include "reader/engines/EngineTable.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora {

namespace {

constexpr std::uint32_t kImageExchangeMs = 1000;
constexpr int kImageRefusals = 5;
constexpr std::uint32_t kFirmwareRetryPauseMs = 1000;
// Size (4 bytes, big-endian) and six more bytes ahead of the picture's own bytes.
constexpr std::size_t kImageHeaderBytes = 10;

// Reads the rest of a packet whose length byte has been read: the length - 1 bytes kept in
// `out` (length byte included), then the two checksum bytes, which on a real line come a byte-time
// or more later and must not be left for the next read to take as a length. False on a time-out
// or a wrong checksum.
bool readPacketBody(ReaderChannel& channel, std::uint8_t length, ByteString& out) {
    out.clear();
    out.append(static_cast<char16_t>(length));
    if (length < 4 || !readKeep(channel, length - 1U, kLaterByteMs, out)) {
        return false;
    }
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (!readWithin(channel, kLaterByteMs, high) || !readWithin(channel, kLaterByteMs, low)) {
        return false;
    }
    return packetChecksum(out) == ((static_cast<std::uint16_t>(high) << 8) | low);
}

// Asks for the next image packet (the acknowledgement) or for the last one again (the refusal)
// and reads it whole. False when nothing usable came.
bool requestImagePacket(ReaderChannel& channel, const ByteString& request, ByteString& packetOut) {
    if (exchange(channel, request, kImageExchangeMs, nullptr, 1) == 0) {
        return false;
    }
    std::uint8_t length = 0;
    return readWithin(channel, kImageExchangeMs, length) &&
           readPacketBody(channel, length, packetOut) && packetOut.byteAt(1) == packet::kImage;
}

}  // namespace

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
    // The checksum of the first packet, so that it is not read as the next packet's length.
    readDrop(channel, 2, kLaterByteMs);
    if (channel.decodeData.length() <= kImageHeaderBytes) {
        return 0;
    }
    std::uint64_t total = (static_cast<std::uint64_t>(channel.decodeData.byteAt(0)) << 24) |
                          (static_cast<std::uint64_t>(channel.decodeData.byteAt(1)) << 16) |
                          (static_cast<std::uint64_t>(channel.decodeData.byteAt(2)) << 8) |
                          channel.decodeData.byteAt(3);
    channel.decodeData.remove(0, kImageHeaderBytes);
    // The size comes from the line: nothing is believed beyond what any imager takes.
    if (total == 0 || total > kMaxImageBytes) {
        return 0;
    }
    const ByteString ack = acknowledgement();
    const ByteString again = refusalAskingAgain();
    ByteString packet;
    // The picture is complete when the announced bytes are in: no time-outs are waited out.
    while (channel.decodeData.length() < total) {
        bool received = requestImagePacket(channel, ack, packet);
        for (int i = 0; !received && i < kImageRefusals; ++i) {
            received = requestImagePacket(channel, again, packet);
        }
        if (!received) {
            // Cut short: the engine stopped sending before the picture was whole.
            return 0;
        }
        std::size_t room = static_cast<std::size_t>(total) - channel.decodeData.length();
        ByteString data = packet.mid(4);
        if (data.length() > room) {
            data.truncate(room);
        }
        channel.decodeData.append(data);
        if (progress) {
            std::uint64_t percent = channel.decodeData.length() * 100ULL / total;
            if (percent <= 90) {
                progress(static_cast<int>(percent));
            }
        }
    }
    // The imager waits for the last packet's acknowledgement too before it takes another
    // command; nothing more follows it, so no reply is read.
    exchange(channel, ack, kImageExchangeMs, nullptr, 1);
    return 1;
}

std::int32_t exchangeFirmware(ReaderChannel& channel, const ByteString& command,
                              std::uint32_t timeoutMs, ByteString* reply, std::int32_t retries) {
    setTimeout(channel, 'w', timeoutMs);
    if (!engineInfo(channel.engineType).imager || reply == nullptr || retries < 1) {
        return 0;
    }
    Clock& clock = channel.clock();
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
