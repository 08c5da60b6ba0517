// Bounded byte reads shared by the reply, decode-packet and image readers, and the two host
// packets that answer a received packet. No locking here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ByteString.h"
#include "reader/ReaderManager.h"

namespace vandora {

// Wait for each byte after the first of a reply.
constexpr std::uint32_t kLaterByteMs = 20;

// Reads one byte, waiting at most ms for it.
bool readWithin(ReaderChannel& channel, std::uint32_t ms, std::uint8_t& byte);
// Reads count bytes and keeps them; false at the first time-out.
bool readKeep(ReaderChannel& channel, std::size_t count, std::uint32_t ms, ByteString& out);
// Reads count bytes and drops them; false at the first time-out.
bool readDrop(ReaderChannel& channel, std::size_t count, std::uint32_t ms);

// Length fields count the header; a length below it means no data, never a huge count.
constexpr std::size_t lengthMinus(std::size_t length, std::size_t header) {
    return length > header ? length - header : 0;
}

// The host's acknowledgement asking for the next packet.
ByteString acknowledgement();
// The host's refusal asking the engine to send the packet again.
ByteString refusalAskingAgain();

}  // namespace vandora
