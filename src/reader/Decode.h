// One decode as a reader hands it over, moved from the thread that read it to the outputs.
#pragma once

#include <cstdint>

#include "common/ByteString.h"
#include "reader/ReaderTypes.h"

namespace vandora {

// The numbers are the ones the decode message carries.
enum class DecodeKind : std::int32_t {
    Barcode = 1,
    Rfid = 2,
};

struct Decode {
    DecodeKind kind = DecodeKind::Barcode;
    EngineType engineType = EngineType::None;  // barcode: the engine that read it
    std::int32_t codeTypeId = 0;               // barcode: code type number; RFID: tag type
    ByteString codeTypeName;                   // code type name, or tag type name
    ByteString data;                           // barcode data, or the RFID UID text
    ByteString userData;                       // RFID only
    // When the read was made, in milliseconds since 1970 (UTC); 0 until it is handed over.
    std::int64_t madeMs = 0;
};

}  // namespace vandora
