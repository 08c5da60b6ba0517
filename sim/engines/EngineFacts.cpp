#include "engines/EngineFacts.h"

#include <initializer_list>

namespace vandora::sim {
namespace {

using namespace std::string_view_literals;

// Revision texts. Identification reads them by position: the character before the third space
// names the 2D imager ("P") or the long-range laser ("G"); the newer imager carries "PAAAA";
// the 1D laser's sixteenth packet byte (the twelfth text byte) is 0x98.
constexpr std::string_view kImagerRevision = "IMG R03 P 21.07"sv;
constexpr std::string_view kLongRangeRevision = "LRL R05 G 11.2"sv;
constexpr std::string_view kImager4507Revision = "PAAAAS00-B1 R07"sv;
constexpr std::string_view kLaser955Revision =
    "LS9-R1.00-A\x98"
    "0123"sv;

constexpr std::uint16_t modes(std::initializer_list<unsigned> values) {
    std::uint16_t bits = 0;
    for (unsigned v : values) {
        bits = static_cast<std::uint16_t>(bits | (1u << v));
    }
    return bits;
}

// Scan modes: the CCD/Laser engine's from its configuration block, the packet engines' from
// parameter 0x8A. The first 2D imager has no mode in which it reads by itself.
constexpr EngineFacts kEngines[] = {
    {2, "CCD/Laser", WireFraming::CcdText, 115200, RateSwitch::None, 0, "CL 2.10"sv, ""sv, "NG"sv,
     WrapForm::None, false, modes({1, 5, 7}), modes({3}), true},
    {3, "2D imager", WireFraming::Packet, 115200, RateSwitch::PacketParameter, 0, kImagerRevision,
     ""sv, ""sv, WrapForm::Imager, true, 0, 0},
    {4, "1D long-range laser", WireFraming::Packet, 38400, RateSwitch::PacketParameter, 0,
     kLongRangeRevision, ""sv, ""sv, WrapForm::Laser, false, modes({4, 7}), 0},
    {5, "RFID letter-command module", WireFraming::AsciiText, 57600, RateSwitch::AsciiRegister, 0,
     "MultiISO 1.2.4"sv, "ISO 0.9v3"sv, "F"sv, WrapForm::None, false, 0, 0},
    {6, "RFID hexadecimal-frame module", WireFraming::HexText, 115200, RateSwitch::None, 0,
     "HXR 3.01"sv, ""sv, "[FF]"sv, WrapForm::None, false, 0, 0},
    // The binary-link module: its identity is the 8 information bytes of command 0x19.
    {7, "RFID binary-link module", WireFraming::BinaryLink, 19200, RateSwitch::None, 0,
     "RFM-2.25"sv, ""sv, ""sv, WrapForm::None, false, 0, 0},
    {8, "2D imager (newer)", WireFraming::Packet, 115200, RateSwitch::PacketParameter, 0,
     kImager4507Revision, ""sv, ""sv, WrapForm::Imager, true, modes({7}), 0, true},
    {9, "1D laser", WireFraming::Packet, 38400, RateSwitch::PacketParameter, 9600,
     kLaser955Revision, ""sv, ""sv, WrapForm::Laser, false, modes({4, 7}), 0},
};

struct RateCode {
    std::uint8_t code;
    std::uint32_t baud;
};

constexpr RateCode kRateCodes[] = {{0x06, 9600}, {0x08, 38400}, {0x0B, 115200}};

}  // namespace

const EngineFacts* engineFacts(int type) {
    for (const EngineFacts& row : kEngines) {
        if (row.type == type) {
            return &row;
        }
    }
    return nullptr;
}

bool scansBySelf(const EngineFacts& facts, unsigned mode, bool started) {
    if (mode >= 16) {
        return false;
    }
    std::uint16_t bit = static_cast<std::uint16_t>(1u << mode);
    return (facts.selfScanModes & bit) != 0 ||
           (started && (facts.selfScanModesOnceStarted & bit) != 0);
}

std::uint32_t packetRateForCode(std::uint8_t code) {
    for (const RateCode& row : kRateCodes) {
        if (row.code == code) {
            return row.baud;
        }
    }
    return 0;
}

}  // namespace vandora::sim
