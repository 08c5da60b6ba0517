// Engine command exchange: framing of every engine type, the reply and decode readers, the
// packet checksum, acknowledged image reception and the firmware variant of the exchange.
//
// Replies are untrusted: every reader is bounded in bytes and ends within its per-byte time-outs
// (the first byte waits the caller's time-out, each later byte 20 ms, 40 ms on the hex-text RFID
// module). No locking here.
//
// The framing and the exchange are in Exchange.cpp, the reply readers in Replies.cpp, the decode
// packets in DecodePacket.cpp, image reception and the firmware exchange in ImageExchange.cpp.
#pragma once

#include <cstdint>
#include <functional>

#include "common/ByteString.h"
#include "reader/ReaderManager.h"
#include "reader/engines/PacketProtocol.h"

namespace vandora {

// Longest reply, decode or image the readers accept before giving up; far above anything an
// engine sends, and a guard against endless streams.
constexpr std::size_t kMaxReplyBytes = 65536;
constexpr std::size_t kMaxImageBytes = std::size_t{16} * 1024 * 1024;

// Frames and writes a command, optionally reads and checks the reply, and retries. With reply
// null the command is written once. Retries below 1 with a reply fails without sending.
std::int32_t exchange(ReaderChannel& channel, const ByteString& command, std::uint32_t timeoutMs,
                      ByteString* reply, std::int32_t retries);

// Clears out and reads one reply (decode 0) or one decode with its continuation packets
// (decode 1, packet engines only) in the channel's framing.
std::int32_t readReply(ReaderChannel& channel, ByteString& out, std::uint32_t firstByteMs,
                       std::int32_t decode);

// Receives one image from a 2D imager into decodeData: exactly the size its header announces, or
// failure when the engine stops sending before that (a picture cut short is no picture).
// progress, when given, receives the percentage received while it is 90 or less.
std::int32_t receiveImage(ReaderChannel& channel, const std::function<void(int)>& progress);

// The unframed exchange of decoder firmware upload (2D imagers only).
std::int32_t exchangeFirmware(ReaderChannel& channel, const ByteString& command,
                              std::uint32_t timeoutMs, ByteString* reply, std::int32_t retries);

}  // namespace vandora
