// The decode reader of the packet engines: the first decode packet (plain, or wrapped in the
// imager's or the laser's form) and its continuation packets, each acknowledged and each checked
// against its checksum. No locking here.
#pragma once

#include <cstdint>

#include "common/ByteString.h"
#include "reader/ReaderManager.h"

namespace vandora {

// Reads one decode with its continuation packets into out; 0 with out empty when the decode came
// broken.
std::int32_t readDecodePacket(ReaderChannel& channel, ByteString& out, std::uint32_t firstByteMs);

}  // namespace vandora
