// FileContents: a regular file read whole, as the settings and the firmware loads take them.
//
// Nothing throws; a file that grows while it is read is read to its new end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace vandora {

// The bytes of the file at path; false when it cannot be opened or read, is not a regular file
// (a device or pipe has no end to bound the memory by), or holds more than maxBytes.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out,
                   std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

}  // namespace vandora
