#include "reader/engines/EngineTable.h"

#include <array>

namespace vandora {

namespace {

using namespace std::string_view_literals;

// Request revision: 04 A3 04 00.
constexpr std::string_view kRevisionQuery = "\x04\xA3\x04\x00"sv;

// The rows as the core knows them; the module slots are filled at start (setEngineModule).
constexpr std::array<EngineInfo, kEngineTypeCount> kCoreRows{{
    {.type = EngineType::None, .name = "none", .hint = HintRole::NoEngine},
    {.type = EngineType::Detect, .name = "detect", .hint = HintRole::Detect},
    {.type = EngineType::CcdLaser,
     .name = "CcdLaser",
     .port = kBarcodePort,
     .framing = Framing::CcdText,
     .query = "VER"sv,
     .queryAttempts = 1,
     .rule = IdentifyRule::AnyButNg,
     .workingBaud = 115200,
     .baudCommand = BaudCommand::NotNeeded,
     .trigger = TriggerStyle::CcdOnOff,
     .modeSource = ScanModeSource::CcdBlock,
     .selfScanModes = {1, 5, 7},
     .toggleScanModes = {3},
     .knownTypesOnlyModes = {7},
     .releaseKeepsScanning = {0, 3},
     .ccdBlock = true,
     .continuousScan = true,
     .continuousPause = {.modes = {3}, .inModesMs = 500, .otherwiseMs = 200},
     .version = VersionText::Reply,
     .firmware = FirmwareFile::Shx,
     .firmwareFilter = "SHX Files (*.SHX)||",
     .uploadDoneText = "Uploading decoder succeeds.",
     .configKey = "hasCCD",
     .trayName = "CCD/Laser",
     .pages = PageFamily::CcdLaser},
    {.type = EngineType::Imager2D,
     .name = "Imager2D",
     .port = kBarcodePort,
     .framing = Framing::Packet,
     .query = kRevisionQuery,
     .queryAttempts = 3,
     .rule = IdentifyRule::RevisionSpaces,
     .revisionLetters = "P"sv,
     .workingBaud = 115200,
     .alsoAt9600 = true,
     .baudCommand = BaudCommand::PacketParameter,
     .wrapped = WrappedDecode::Imager,
     .trigger = TriggerStyle::PacketStartStop,
     .imager = true,
     .version = VersionText::RevisionWord,
     .configKey = "has2D",
     .trayName = "2D",
     .pages = PageFamily::Imager2D},
    {.type = EngineType::LongRange1D,
     .name = "LongRange1D",
     .port = kBarcodePort,
     .framing = Framing::Packet,
     .query = kRevisionQuery,
     .queryAttempts = 3,
     .rule = IdentifyRule::RevisionSpaces,
     .revisionLetters = "\x00\x07G"sv,
     .workingBaud = 38400,
     .alsoAt9600 = true,
     .baudCommand = BaudCommand::PacketParameter,
     .wrapped = WrappedDecode::Laser,
     .trigger = TriggerStyle::PacketAiming,
     .selfScanModes = {4, 7},
     .continuousPause = {.modes = {4}, .inModesMs = 200, .otherwiseMs = 0},
     .version = VersionText::RevisionWord,
     .configKey = "has1DLR",
     .trayName = "Long Range Laser",
     .pages = PageFamily::Laser1D},
    {.type = EngineType::RfidAscii,
     .name = "RfidAscii",
     .port = kRfidPort,
     .framing = Framing::AsciiText,
     .query = "v"sv,
     .queryAttempts = 3,
     .rule = IdentifyRule::RfidAsciiBanner,
     .workingBaud = 57600,
     .alsoAt9600 = true,
     .baudCommand = BaudCommand::AsciiWp},
    {.type = EngineType::RfidHex,
     .name = "RfidHex",
     .port = kRfidPort,
     .framing = Framing::HexText,
     .query = "0108000304FE0000"sv,
     .queryAttempts = 3,
     .rule = IdentifyRule::AnyReply,
     .workingBaud = 115200,
     .baudCommand = BaudCommand::NotNeeded,
     .laterByteMs = 40,
     .rfidPageWhileOff = true},
    {.type = EngineType::RfidBinaryLink,
     .name = "RfidBinaryLink",
     .port = kRfidPort,
     // A module that does not answer through the link may be a letter-command module.
     .hintFallback = EngineType::RfidAscii,
     .framing = Framing::Link,
     .rule = IdentifyRule::LinkModuleInfo,
     .mifareKeysPage = true},
    {.type = EngineType::Imager2D4507,
     .name = "Imager2D4507",
     .port = kBarcodePort,
     // The newer imager takes this long to power up after the port opens.
     .hintWaitMs = 3000,
     .framing = Framing::Packet,
     .query = kRevisionQuery,
     .queryAttempts = 3,
     .rule = IdentifyRule::Paaaa,
     .workingBaud = 115200,
     .alsoAt9600 = true,
     .baudCommand = BaudCommand::PacketParameter,
     .wrapped = WrappedDecode::Imager,
     .trigger = TriggerStyle::PacketStartStop,
     .selfScanModes = {7},
     .releaseKeepsScanning = {7, 9, 10},
     .imager = true,
     .continuousScan = true,
     .continuousPause = {.modes = {7}, .inModesMs = 200, .otherwiseMs = 0},
     .reinitThread = true,
     .version = VersionText::RevisionCells,
     .versionCells = 16,
     .firmware = FirmwareFile::Dat,
     .firmwareFilter = "DAT Files (*.dat)|*.DAT||",
     .uploadDoneText = "Uploading decoder succeeds.\r\nPlease close and open this program again.",
     .configKey = "has2D_4507",
     .trayName = "2D",
     .pages = PageFamily::Imager2D},
    {.type = EngineType::Laser1D955,
     .name = "Laser1D955",
     .port = kBarcodePort,
     .framing = Framing::Packet,
     .query = kRevisionQuery,
     .queryAttempts = 3,
     .rule = IdentifyRule::Byte16Is98or99,
     .workingBaud = 38400,
     .alsoAt9600 = true,
     .baudCommand = BaudCommand::PacketParameter,
     .wrapped = WrappedDecode::Laser,
     .trigger = TriggerStyle::PacketStartStop,
     .selfScanModes = {4, 7},
     .continuousScan = true,
     .continuousPause = {.modes = {4}, .inModesMs = 200, .otherwiseMs = 0},
     .version = VersionText::RevisionCells,
     .versionCells = 8,
     .configKey = "has1D_955",
     .trayName = "1D Laser",
     .pages = PageFamily::Laser1D},
}};

static_assert([] {
    for (std::size_t i = 0; i < kCoreRows.size(); ++i) {
        if (toNumber(kCoreRows[i].type) != static_cast<std::int32_t>(i)) {
            return false;
        }
    }
    return true;
}());

// Written only by setEngineModule, once at start, before any channel opens.
constinit std::array<EngineInfo, kEngineTypeCount> gEngines = kCoreRows;

}  // namespace

const EngineInfo& engineInfo(EngineType type) {
    std::int32_t n = toNumber(type);
    if (n < 0 || n >= kEngineTypeCount) {
        return gEngines[toNumber(EngineType::Detect)];
    }
    return gEngines[static_cast<std::size_t>(n)];
}

std::span<const EngineInfo> engineRows() {
    return gEngines;
}

void setEngineModule(EngineType type, const EngineModule* module) {
    std::int32_t n = toNumber(type);
    if (n >= 0 && n < kEngineTypeCount) {
        gEngines[static_cast<std::size_t>(n)].module = module;
    }
}

}  // namespace vandora
