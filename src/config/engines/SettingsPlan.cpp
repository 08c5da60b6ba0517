#include "config/engines/SettingsPlan.h"

namespace vandora {

namespace {

// The module types with letter commands and with the binary link keep Mifare keys; the hex-text
// module has a power-on time instead.
constexpr RfidPlan kRfidMifare{.leftOut = {key(kRfid, "timeOfPowerOn")}};
constexpr RfidPlan kRfidAscii{.leftOut = {key(kRfid, "timeOfPowerOn")},
                              .setup = RfidSetup::AsciiRegisters};
constexpr RfidPlan kRfidHex{
    .leftOut = {key(kRfid, "mifareLoginKeyA"), key(kRfid, "m_rfidSecurityKeyType")},
    .setup = RfidSetup::HexFrames};

constexpr std::array<SettingsPlan, kEngineTypeCount> kPlans{{
    {.type = EngineType::None},
    {.type = EngineType::Detect},
    {.type = EngineType::CcdLaser, .barcode = &kCcdFamily, .hasFlag = key(kReaderCcd, "hasCCD")},
    {.type = EngineType::Imager2D, .barcode = &kPacketFamily, .hasFlag = key(kReader2D, "has2D")},
    {.type = EngineType::LongRange1D,
     .barcode = &kPacketFamily,
     .hasFlag = key(kReader1DLr, "has1DLR")},
    {.type = EngineType::RfidAscii, .rfid = &kRfidAscii},
    {.type = EngineType::RfidHex, .rfid = &kRfidHex},
    {.type = EngineType::RfidBinaryLink, .rfid = &kRfidMifare},
    {.type = EngineType::Imager2D4507,
     .barcode = &kPacketFamily,
     .hasFlag = key(kReader2D, "has2D_4507")},
    {.type = EngineType::Laser1D955,
     .barcode = &kPacketFamily,
     .hasFlag = key(kReader1DLr, "has1D_955")},
}};

static_assert([] {
    for (std::size_t i = 0; i < kPlans.size(); ++i) {
        if (toNumber(kPlans[i].type) != static_cast<std::int32_t>(i)) {
            return false;
        }
    }
    return true;
}());

// A file may carry more than one has-flag; the CCD/Laser engine wins, then the imagers, then the
// lasers.
constexpr EngineType kHintOrder[] = {EngineType::CcdLaser, EngineType::Imager2D,
                                     EngineType::Imager2D4507, EngineType::LongRange1D,
                                     EngineType::Laser1D955};

}  // namespace

const SettingsPlan& settingsPlan(EngineType type) {
    std::int32_t n = toNumber(type);
    if (n < 0 || n >= kEngineTypeCount) {
        return kPlans[0];
    }
    return kPlans[static_cast<std::size_t>(n)];
}

std::span<const SettingsPlan> settingsPlans() {
    return kPlans;
}

std::span<const EngineType> hintOrder() {
    return kHintOrder;
}

}  // namespace vandora
