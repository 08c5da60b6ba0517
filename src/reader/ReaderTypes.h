// Engine types, terminal models and the engine error codes shared by the reader, settings and
// RFID code.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace vandora {

// Engine behind a channel. Detect is never stored: as a start-up hint it means "detect". The
// numbers are the ones stored in files and shown to users.
enum class EngineType : std::int32_t {
    None = 0,
    Detect = 1,
    CcdLaser = 2,
    Imager2D = 3,
    LongRange1D = 4,
    RfidAscii = 5,
    RfidHex = 6,
    RfidBinaryLink = 7,
    Imager2D4507 = 8,
    Laser1D955 = 9,
};
constexpr std::int32_t kEngineTypeCount = 10;

constexpr std::int32_t toNumber(EngineType type) {
    return static_cast<std::int32_t>(type);
}

// A number from a file, a command line or a settings hint. A number that names no type asks for
// detection, as an unknown start-up hint always has.
constexpr EngineType engineTypeFromNumber(std::int32_t number) {
    return number >= 0 && number < kEngineTypeCount ? static_cast<EngineType>(number)
                                                    : EngineType::Detect;
}

// A set of engine types, one bit per type number.
struct TypeSet {
    std::uint16_t bits = 0;

    constexpr TypeSet() = default;
    constexpr TypeSet(std::initializer_list<EngineType> types) {
        for (EngineType t : types) {
            bits = static_cast<std::uint16_t>(bits | (1u << static_cast<unsigned>(toNumber(t))));
        }
    }
    static constexpr TypeSet every() {
        TypeSet all;
        all.bits = 0xFFFF;
        return all;
    }
    constexpr bool has(EngineType type) const {
        std::int32_t n = toNumber(type);
        return n >= 0 && n < 16 && (bits & (1u << static_cast<unsigned>(n))) != 0;
    }
    constexpr bool empty() const { return bits == 0; }
};

namespace DeviceModel {
constexpr std::int32_t Unknown = 0;
constexpr std::int32_t HRT200CE = 1;
constexpr std::int32_t HRT300CE = 2;
constexpr std::int32_t PocketPC = 3;
constexpr std::int32_t HRT400CE = 4;
constexpr std::int32_t HRT100CE = 5;
}  // namespace DeviceModel

// Engine error codes kept in a channel's lastError (otherwise it holds an errno value).
namespace EngineError {
constexpr std::uint32_t NoDecode = 30001;
constexpr std::uint32_t RfidNoAnswer = 30002;
constexpr std::uint32_t RfidF = 30003;
constexpr std::uint32_t RfidO = 30004;
constexpr std::uint32_t RfidR = 30005;
constexpr std::uint32_t RfidOther = 30011;
}  // namespace EngineError

// Channel numbers (also the serial port numbers).
constexpr std::int32_t kBarcodePort = 1;
constexpr std::int32_t kRfidPort = 2;

// The built-in password of the RFID binary link (4 bytes as 8 hexadecimal characters): what the
// link uses when it is given no password text, and what the simulated module is configured with.
inline constexpr const char* kDefaultLinkPassword = "5A3C91E7";

}  // namespace vandora
