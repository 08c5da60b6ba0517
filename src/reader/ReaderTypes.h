// Engine types, terminal models and the engine error codes shared by the reader, settings and
// RFID code.
#pragma once

#include <cstdint>

namespace vandora {

// Engine behind a channel. 1 is never stored: as a start-up hint it means "detect".
namespace EngineType {
constexpr std::int32_t None = 0;
constexpr std::int32_t Detect = 1;
constexpr std::int32_t CcdLaser = 2;
constexpr std::int32_t Imager2D = 3;
constexpr std::int32_t LongRange1D = 4;
constexpr std::int32_t RfidAscii = 5;
constexpr std::int32_t RfidHex = 6;
constexpr std::int32_t RfidBinaryLink = 7;
constexpr std::int32_t Imager2D4507 = 8;
constexpr std::int32_t Laser1D955 = 9;
}  // namespace EngineType

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

}  // namespace vandora
