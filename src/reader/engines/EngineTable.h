// One row of facts per engine type: how its commands are framed, how it is identified, at which
// rates it may talk and how it is moved to its working rate. Identification, exchange and the
// decode reader look the differences up here instead of switching on the type in many places.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/ByteString.h"
#include "reader/ReaderTypes.h"

namespace vandora {

enum class Framing : std::uint8_t {
    None,       // no traffic of its own (none, detect)
    CcdText,    // thirty 0xFF, ESC, text, CR; reply text ended by CR
    AsciiText,  // plain text; reply ended by LF
    HexText,    // plain text; reply ends when the line goes quiet
    Packet,     // length, opcode, source, status, data, 16-bit checksum
    Link,       // only through the RFID binary link
};

// How a wrapped (0x99) decode packet is laid out.
enum class WrappedDecode : std::uint8_t { None, Imager, Laser };

// How the engine is moved from 9600 to its working rate.
enum class BaudCommand : std::uint8_t { Unsupported, NotNeeded, AsciiWp, PacketParameter };

// What the identification answer must show. The checks themselves live in Identify.cpp.
enum class IdentifyRule : std::uint8_t {
    None,
    AnyButNg,         // any reply other than "NG"
    RevisionSpaces,   // the character before the third space names the type (3 or 4)
    RfidAsciiBanner,  // "MultiISO 1." or "ISO 0.9v"
    AnyReply,
    LinkModuleInfo,  // the binary link's module information succeeds
    Paaaa,           // "PAAAA" at or after the fifth byte
    Byte16Is98or99,  // at least 17 bytes, the sixteenth 0x98 or 0x99
};

struct EngineInfo {
    std::int32_t type;
    const char* name;
    Framing framing;
    // Identification query: text, or packet bytes without checksum.
    std::string_view query;
    std::int32_t queryAttempts;
    IdentifyRule rule;
    // The rate the engine works at, and whether it may also be found at 9600 and moved.
    std::uint32_t workingBaud;
    bool alsoAt9600;
    BaudCommand baudCommand;
    // Wait for every reply byte after the first.
    std::uint32_t laterByteMs;
    WrappedDecode wrapped;
    // Configuration key of the reader section that names it ("" for RFID types).
    const char* configKey;
    // Name in the tray menu ("" when not shown).
    const char* trayName;
};

// The row of a type; an unknown type gets the row of type 0 (no engine).
const EngineInfo& engineInfo(std::int32_t type);

inline bool isPacketEngine(std::int32_t type) {
    return engineInfo(type).framing == Framing::Packet;
}

}  // namespace vandora
