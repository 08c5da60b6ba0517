#include "reader/engines/EngineTable.h"

#include <array>

namespace vandora {

namespace {

using namespace std::string_view_literals;

// Request revision: 04 A3 04 00.
constexpr std::string_view kRevisionQuery = "\x04\xA3\x04\x00"sv;

constexpr std::array<EngineInfo, 10> kEngines{{
    {EngineType::None, "none", Framing::None, ""sv, 0, IdentifyRule::None, 0, false,
     BaudCommand::Unsupported, 20, WrappedDecode::None, "", ""},
    {EngineType::Detect, "detect", Framing::None, ""sv, 0, IdentifyRule::None, 0, false,
     BaudCommand::Unsupported, 20, WrappedDecode::None, "", ""},
    {EngineType::CcdLaser, "CcdLaser", Framing::CcdText, "VER"sv, 1, IdentifyRule::AnyButNg, 115200,
     false, BaudCommand::NotNeeded, 20, WrappedDecode::None, "hasCCD", "CCD/Laser"},
    {EngineType::Imager2D, "Imager2D", Framing::Packet, kRevisionQuery, 3,
     IdentifyRule::RevisionSpaces, 115200, true, BaudCommand::PacketParameter, 20,
     WrappedDecode::Imager, "has2D", "2D"},
    {EngineType::LongRange1D, "LongRange1D", Framing::Packet, kRevisionQuery, 3,
     IdentifyRule::RevisionSpaces, 38400, true, BaudCommand::PacketParameter, 20,
     WrappedDecode::Laser, "has1DLR", "Long Range Laser"},
    {EngineType::RfidAscii, "RfidAscii", Framing::AsciiText, "v"sv, 3,
     IdentifyRule::RfidAsciiBanner, 57600, true, BaudCommand::AsciiWp, 20, WrappedDecode::None, "",
     ""},
    {EngineType::RfidHex, "RfidHex", Framing::HexText, "0108000304FE0000"sv, 3,
     IdentifyRule::AnyReply, 115200, false, BaudCommand::NotNeeded, 40, WrappedDecode::None, "",
     ""},
    {EngineType::RfidBinaryLink, "RfidBinaryLink", Framing::Link, ""sv, 0,
     IdentifyRule::LinkModuleInfo, 0, false, BaudCommand::Unsupported, 20, WrappedDecode::None, "",
     ""},
    {EngineType::Imager2D4507, "Imager2D4507", Framing::Packet, kRevisionQuery, 3,
     IdentifyRule::Paaaa, 115200, true, BaudCommand::PacketParameter, 20, WrappedDecode::Imager,
     "has2D_4507", "2D"},
    {EngineType::Laser1D955, "Laser1D955", Framing::Packet, kRevisionQuery, 3,
     IdentifyRule::Byte16Is98or99, 38400, true, BaudCommand::PacketParameter, 20,
     WrappedDecode::Laser, "has1D_955", "1D Laser"},
}};

static_assert([] {
    for (std::size_t i = 0; i < kEngines.size(); ++i) {
        if (kEngines[i].type != static_cast<std::int32_t>(i)) {
            return false;
        }
    }
    return true;
}());

}  // namespace

const EngineInfo& engineInfo(std::int32_t type) {
    if (type < 0 || static_cast<std::size_t>(type) >= kEngines.size()) {
        return kEngines[0];
    }
    return kEngines[static_cast<std::size_t>(type)];
}

}  // namespace vandora
