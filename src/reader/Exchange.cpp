#include "reader/Exchange.h"

#include "reader/PortOps.h"
#include "reader/engines/EngineTable.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kCr = 0x0D;
constexpr int kCcdPreambleBytes = 30;
constexpr std::uint32_t kTextFirstByteMs = 1000;

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

}  // namespace vandora
