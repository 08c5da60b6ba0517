// The CCD/Laser engine's configuration block as the program reads it: where each field sits.
// The block is kept one byte per unit in a ByteString and is valid from 30 bytes on.
#pragma once

#include <cstdint>

#include "common/ByteString.h"

namespace vandora {

struct CcdField {
    std::uint8_t byte;
    std::uint8_t lowBit;
    std::uint8_t width;
};

constexpr std::size_t kCcdBlockMinBytes = 30;

namespace ccd {
constexpr CcdField kScanMode{20, 4, 4};
constexpr CcdField kCode128Enable{22, 7, 1};
constexpr CcdField kEan128Enable{22, 6, 1};
// Set when the engine's code identifiers are not wanted.
constexpr CcdField kNoCodeId{22, 5, 1};
constexpr CcdField kUpcATransmitSystemNumber{10, 0, 1};
}  // namespace ccd

// The field's unsigned value; 0 when the block is too short to hold it.
inline std::uint32_t ccdFieldValue(const ByteString& block, CcdField field) {
    if (block.length() <= field.byte) {
        return 0;
    }
    std::uint32_t mask = (1u << field.width) - 1u;
    return (static_cast<std::uint32_t>(block.byteAt(field.byte)) >> field.lowBit) & mask;
}

}  // namespace vandora
