#include "reader/TerminalModels.h"

namespace vandora {

namespace {

using T = EngineType;

// Detection orders. The pauses give an engine that is still powering up time to answer the later
// candidates.
constexpr std::array<DetectStep, 3> kBarcodeCcdFirst{
    {{T::CcdLaser, 0}, {T::Imager2D, 0}, {T::LongRange1D, 0}}};
constexpr std::array<DetectStep, 2> kBarcodeLaserFirst{
    {{T::Laser1D955, 0}, {T::Imager2D4507, 1000}}};
constexpr std::array<DetectStep, 3> kBarcodeAny{
    {{T::CcdLaser, 0}, {T::Imager2D4507, 4000}, {T::Imager2D, 0}}};
constexpr std::array<DetectStep, 1> kRfidHex{{{T::RfidHex, 0}}};
constexpr std::array<DetectStep, 1> kRfidLetters{{{T::RfidAscii, 0}}};
constexpr std::array<DetectStep, 1> kRfidLink{{{T::RfidBinaryLink, 0}}};
constexpr std::array<DetectStep, 3> kRfidAny{
    {{T::RfidBinaryLink, 0}, {T::RfidAscii, 0}, {T::RfidHex, 0}}};

// The menu of the models that carry a CCD/Laser or a 2D imager and an RFID module of their own.
constexpr std::array<TrayReaderSwitch, 4> kCcdImagerRfidMenu{{
    {TraySwitch::Laser, "CCD/Laser", {T::CcdLaser}},
    {TraySwitch::Imager2D, "2D", {T::Imager2D, T::Imager2D4507}},
    {TraySwitch::Rfid, "RFID", {T::RfidHex, T::RfidBinaryLink}},
}};

// Indexed by model number.
constexpr std::array<TerminalModel, 6> kModels{{
    {.model = DeviceModel::Unknown, .barcodeDetect = kBarcodeAny, .rfidDetect = kRfidAny},
    {.model = DeviceModel::HRT200CE,
     .registryName = "HRT200CE",
     .sysLibrary = "HRT200CE_SYS.so",
     .kernelReadyLine = true,
     .picture = PictureHandling::Converted,
     .signalFields = true,
     .barcodeDetect = kBarcodeCcdFirst,
     .rfidDetect = kRfidHex,
     .tray = kCcdImagerRfidMenu},
    {.model = DeviceModel::HRT300CE,
     .registryName = "HRT300CE",
     .sysLibrary = "HRT300CE_SYS.so",
     .kernelReadyLine = true,
     .picture = PictureHandling::Converted,
     .barcodeDetect = kBarcodeCcdFirst,
     .rfidDetect = kRfidLetters,
     .tray = {{{TraySwitch::Laser, "CCD/Laser", {T::CcdLaser}},
               {TraySwitch::Imager2D, "2D", {T::Imager2D}},
               {TraySwitch::LongRange, "Long Range Laser", {T::LongRange1D}},
               {TraySwitch::Rfid, "RFID", {T::RfidAscii}}}}},
    // The generic Pocket PC: no system library, no picture rule, no tray switches.
    {.model = DeviceModel::PocketPC,
     .registryName = "Pocket_PC",
     .barcodeDetect = kBarcodeAny,
     .rfidDetect = kRfidLetters},
    {.model = DeviceModel::HRT400CE,
     .registryName = "HRT400CE",
     .sysLibrary = "HRT400CE_SYS.so",
     .kernelReadyLine = true,
     .picture = PictureHandling::AsReceived,
     .datFirmware = true,
     .reopenAfterDat = true,
     .minLedMs = 400,
     .rfidOverLink = true,
     .signalFields = true,
     .barcodeDetect = kBarcodeAny,
     .rfidDetect = kRfidLink,
     .tray = kCcdImagerRfidMenu},
    // No RFID module: the window leaves out everything RFID.
    {.model = DeviceModel::HRT100CE,
     .registryName = "HRT100CE",
     .sysLibrary = "HRT100CE_SYS.so",
     .picture = PictureHandling::Converted,
     .datFirmware = true,
     .rfidInWindow = false,
     .signalFields = true,
     .barcodeDetect = kBarcodeLaserFirst,
     .rfidDetect = kRfidAny,
     .tray = {{{TraySwitch::Laser, "1D Laser", {T::Laser1D955}},
               {TraySwitch::Imager2D, "2D", {T::Imager2D4507}}}}},
}};

static_assert([] {
    for (std::size_t i = 0; i < kModels.size(); ++i) {
        if (kModels[i].model != static_cast<std::int32_t>(i)) {
            return false;
        }
    }
    return true;
}());

}  // namespace

const TerminalModel& terminalModel(std::int32_t model) {
    if (model < 0 || static_cast<std::size_t>(model) >= kModels.size()) {
        return kModels.front();
    }
    return kModels[static_cast<std::size_t>(model)];
}

std::int32_t modelFromRegistryName(std::string_view text) {
    for (const TerminalModel& row : kModels) {
        if (*row.registryName != '\0' && text == row.registryName) {
            return row.model;
        }
    }
    return DeviceModel::Unknown;
}

std::span<const DetectStep> detectOrder(std::int32_t port, std::int32_t model) {
    const TerminalModel& row = terminalModel(model);
    return port == kBarcodePort ? row.barcodeDetect : row.rfidDetect;
}

}  // namespace vandora
