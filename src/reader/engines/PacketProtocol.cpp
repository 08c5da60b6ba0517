#include "reader/engines/PacketProtocol.h"

namespace vandora {

ByteString hostPacket(std::uint8_t opcode, std::uint8_t status,
                      std::initializer_list<std::uint8_t> data) {
    ByteString out(4 + data.size() + 2);
    out.append(static_cast<char16_t>(4 + data.size()));
    out.append(static_cast<char16_t>(opcode));
    out.append(static_cast<char16_t>(packet::kFromHost));
    out.append(static_cast<char16_t>(status));
    for (std::uint8_t b : data) {
        out.append(static_cast<char16_t>(b));
    }
    return out;
}

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
    return reply.length() >= 5 && reply.byteAt(0) == 0x05 && reply.byteAt(1) == packet::kNak &&
           reply.byteAt(2) == 0x00 && reply.byteAt(3) == 0x00;
}

}  // namespace vandora
