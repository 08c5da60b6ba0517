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
