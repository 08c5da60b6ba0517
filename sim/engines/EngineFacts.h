// What each simulated engine looks like from the wire: how it frames what it hears and says, the
// rate it works at, how it is moved to another rate, what it answers when asked who it is, and how
// it wraps long decodes. One row per engine type; the models read their differences from here.
#pragma once

#include <cstdint>
#include <string_view>

namespace vandora::sim {

enum class WireFraming : std::uint8_t {
    CcdText,     // wake-up 0xFF bytes, ESC, text, CR; answers text ended by CR
    Packet,      // length, opcode, source, status, data, 16-bit checksum high byte first
    AsciiText,   // letter commands; answers ended by CR LF
    HexText,     // frames written as hexadecimal text; answers with no end mark
    BinaryLink,  // RFID binary link: stuffed frames with checksum, handshake and frame code
};

// How the engine is told to change its line rate.
enum class RateSwitch : std::uint8_t {
    None,
    PacketParameter,  // parameter 0x9C in a parameter send packet
    AsciiRegister,    // "wp0C03": register 0x0C set to 3
};

// Layout of a decode that starts with the 0x99 marker.
enum class WrapForm : std::uint8_t {
    None,
    Imager,  // four header bytes after the code type, continuation packets on acknowledgement
    Laser,   // one byte after the code type, then data with zero-led three-byte marks
};

struct EngineFacts {
    int type;
    const char* name;
    WireFraming framing;
    std::uint32_t workingBaud;
    RateSwitch rateSwitch;
    // Rate the engine falls back to when its parameter defaults are restored; 0: it keeps the
    // rate it is at.
    std::uint32_t defaultsBaud;
    // Answer to the identification query: the revision text of a packet engine (the data of
    // its 0xA3 answer), the version text of a text engine.
    std::string_view identity;
    // Second identity, for the RFID module that comes in two firmware lines (variant 0).
    std::string_view identityAlt;
    // Answer of a text engine that refuses a command (packet engines send 05 D1 00 00 01).
    std::string_view refusal;
    WrapForm wrapped;
    bool takesPictures;
    // Scan-mode values in which the engine reads by itself, one bit per value (bit n: mode n);
    // the host then only waits for decodes and never triggers.
    std::uint16_t selfScanModes;
    // Values in which it reads by itself only once the host has started it.
    std::uint16_t selfScanModesOnceStarted;
    // Takes decoder firmware: S-record download lines (CCD/Laser) or loader frames (packet).
    bool takesFirmware = false;
};

// The row of a type, or null for a type that has no model.
const EngineFacts* engineFacts(int type);

// Whether an engine in scan mode `mode` reads by itself; `started`: the host has started it.
bool scansBySelf(const EngineFacts& facts, unsigned mode, bool started = false);

// Rate selected by the value of parameter 0x9C; 0 for a value the engines do not know.
std::uint32_t packetRateForCode(std::uint8_t code);

}  // namespace vandora::sim
