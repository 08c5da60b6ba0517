// Code type names: turns the raw decode in a channel into the shared decode record (code type
// number and name, data without the engine's prefix), applying the host-side EAN/UPC and EAN-128
// options that the CCD/Laser engine leaves to the program.
#pragma once

#include <cstdint>

#include "reader/ReaderManager.h"

namespace vandora {

// Names the decode in channel; the CCD/Laser engine's EAN/UPC and EAN-128 decodes are shaped by
// the host options.
void nameCodeType(ReaderChannel& channel, const CcdHostOptions& options);

// Table look-ups; null when the identifier has no entry.
const char* ccdCodeTypeName(std::int32_t id);
const char* packetCodeTypeName(std::int32_t id);

}  // namespace vandora
