#include "reader/ReplyBytes.h"

#include "reader/PortOps.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora {

bool readWithin(ReaderChannel& channel, std::uint32_t ms, std::uint8_t& byte) {
    setTimeout(channel, 'r', ms);
    return readByte(channel, byte) != 0;
}

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

ByteString acknowledgement() {
    return hostPacket(packet::kAck, packet::kAckContinue);
}

ByteString refusalAskingAgain() {
    return hostPacket(packet::kNak, 0, {0x01});
}

}  // namespace vandora
