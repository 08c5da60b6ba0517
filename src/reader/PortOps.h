// Port-level operations of a reader channel: open and close its serial port, write a frame, read
// single bytes with a per-byte time-out, change the rate and time-outs, and drive the host
// request line that packet engines need around each write.
//
// Results are 32-bit, nonzero for success. On failure the errno of the port is kept in the
// channel's lastError; a read that times out keeps 0 there (nothing went wrong with the port).
// A read or write error that says the device is gone closes the port and sets the channel's
// `lost`.
// No locking here: callers hold the channel's channelLock around scan-time traffic.
#pragma once

#include <cstdint>

#include "common/ByteString.h"
#include "reader/ReaderManager.h"

namespace vandora {

// Buffer sizes requested right after opening.
constexpr std::size_t kPortBufferBytes = 4096;

std::int32_t openPort(ReaderChannel& channel);
// Lets what was written leave the port (for a bounded time), drops what was received, closes.
void closePort(ReaderChannel& channel);
// Purges the port, then writes the bytes (each unit's low byte).
std::int32_t writeFrame(ReaderChannel& channel, const ByteString& bytes);
// The same write without the purge.
std::int32_t writeRaw(ReaderChannel& channel, const ByteString& bytes);
// Sets out to 0, then reads one byte within the read time-out in force.
std::int32_t readByte(ReaderChannel& channel, std::uint8_t& out);
// mode 'r' sets the read total constant, 'w' the write total constant; any other letter does
// nothing. Returns 0 when nothing had to change (no system call is made then).
std::int32_t setTimeout(ReaderChannel& channel, char mode, std::uint32_t ms);
// Rate, 8N1, no CTS flow, RTS off. baudRate takes the new value even when the port refuses it.
std::int32_t setBaudRate(ReaderChannel& channel, std::uint32_t baud);
// Raises (1) or drops (0) the host request line and waits for the engine to follow, at most ten
// 10 ms polls. Never fails.
void signalWake(ReaderChannel& channel, std::int32_t raise);

}  // namespace vandora
