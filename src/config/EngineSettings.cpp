#include "config/EngineSettings.h"

#include <array>
#include <string_view>
#include <vector>

#include "config/CcdCommands.h"
#include "reader/Exchange.h"
#include "reader/Identify.h"
#include "reader/PortOps.h"

namespace vandora {

namespace {

struct Value {
    std::string_view name;
    std::int32_t value;
};

// One write command of a default set: the named arguments get values, the rest stay absent.
template <typename Command>
struct Item {
    Command command;
    std::vector<Value> values;
};

using CcdItem = Item<CcdCommand>;
using PacketItem = Item<PacketCommand>;

const std::vector<CcdItem>& ccdDefaults() {
    static const std::vector<CcdItem> items = {
        {CcdCommand::Codabar, {{"enable", 1}, {"startStopChar", 0}, {"transmitStartStopChar", 0}}},
        {CcdCommand::Industrial25,
         {{"enable", 1},
          {"checkDigitVerification", 0},
          {"transmitCheckDigit", 1},
          {"startStopPattern", 0},
          {"isMaxMinLengthFormat", 1},
          {"length1", 127},
          {"length2", 4}}},
        {CcdCommand::Interleaved25,
         {{"enable", 1},
          {"checkDigitVerification", 0},
          {"transmitCheckDigit", 1},
          {"startStopPattern", 1},
          {"isMaxMinLengthFormat", 1},
          {"length1", 127},
          {"length2", 4}}},
        {CcdCommand::Matrix25,
         {{"enable", 1},
          {"checkDigitVerification", 0},
          {"transmitCheckDigit", 1},
          {"startStopPattern", 2},
          {"isMaxMinLengthFormat", 1},
          {"length1", 127},
          {"length2", 4}}},
        {CcdCommand::Code39,
         {{"enable", 1},
          {"checkDigitVerification", 0},
          {"transmitCheckDigit", 1},
          {"fullASCII", 0},
          {"transmitStartStopChar", 0}}},
        {CcdCommand::Code93, {{"enable", 1}}},
        {CcdCommand::Code128, {{"enable", 1}}},
        {CcdCommand::Ean128, {{"enable", 1}, {"wantCodeId", 0}, {"ean128FieldSeparator", 0}}},
        {CcdCommand::Pharmacode,
         {{"enable", 0},
          {"enableCIP39", 0},
          {"transmitCheckDigit", 1},
          {"transmitCIP39CheckDigit", 1}}},
        {CcdCommand::Msi,
         {{"enable", 0},
          {"checkDigitVerification", 0},
          {"transmitCheckDigit", 1},
          {"isMaxMinLengthFormat", 1},
          {"length1", 127},
          {"length2", 4}}},
        {CcdCommand::Negative, {{"enable", 0}}},
        {CcdCommand::Plessey,
         {{"enable", 0}, {"transmitCheckDigit", 1}, {"convertToUKplessey", 0}}},
        {CcdCommand::Rss,
         {{"enableLimited", 0},
          {"enableExpanded", 0},
          {"enableRSS14", 0},
          {"transmitRSS14CodeID", 1},
          {"transmitRSS14ApplicationID", 1},
          {"transmitRSS14CheckDigit", 1},
          {"transmitRSSCodeID", 1},
          {"transmitRSSApplicationID", 1},
          {"transmitRSSCheckDigit", 1},
          {"transmitRSSExpandedCodeID", 1}}},
        {CcdCommand::Telepen, {{"enable", 0}, {"enableAIM", 1}}},
        {CcdCommand::Ean8,
         {{"enable", 1},
          {"enableAddon2", 0},
          {"enableAddon5", 0},
          {"transmitCheckDigit", 1},
          {"convertToEAN13", 0}}},
        {CcdCommand::Ean13UpcA,
         {{"enable", 1},
          {"enableAddon2", 0},
          {"enableAddon5", 0},
          {"enableISBN", 0},
          {"enableISSN", 0},
          {"transmitEan13CheckDigit", 1},
          {"convertToEAN13", 1},
          {"transmitUpcACheckDigit", 1},
          {"transmitSystemNumber", 1}}},
        {CcdCommand::Gtin, {{"enable", 0}}},
        {CcdCommand::UpcE,
         {{"enable", 1},
          {"enableAddon2", 0},
          {"enableAddon5", 0},
          {"enableUpcE1", 0},
          {"convertToUpcA", 0},
          {"transmitCheckDigit", 1},
          {"transmitSystemNumber", 0},
          {"upcE1TripleCheck", 0}}},
        {CcdCommand::Isbt128, {{"enable", 1}}},
        {CcdCommand::Reader, {{"scanMode", 6}, {"redundancy", 0}, {"laserOnTime", 3}}},
    };
    return items;
}

const std::vector<Value> kLengths455 = {{"enable", 1}, {"length1", 4}, {"length2", 55}};

// The imagers' default set; values that differ between types 3 and 8 are fixed up by the caller.
std::vector<PacketItem> imagerDefaults(EngineType type) {
    using P = PacketCommand;
    std::vector<PacketItem> items = {
        {P::Code39,
         {{"enable", 1},
          {"trioptic", 0},
          {"code39ToCode32", 0},
          {"code32Prefix", 0},
          {"checkDigitVerification", 0},
          {"transmitCheckDigit", 0},
          {"fullASCII", 0},
          {"length1", 4},
          {"length2", 55}}},
        {P::Code93, kLengths455},
        {P::Code11,
         {{"enable", 1},
          {"checkDigitVerification", 0},
          {"transmitCheckDigit", 0},
          {"length1", 4},
          {"length2", 55}}},
        {P::Discrete25, kLengths455},
        {P::Interleaved25, kLengths455},
        {P::Codabar,
         {{"enable", 1}, {"length1", 4}, {"length2", 55}, {"clsiEditing", 0}, {"notisEditing", 0}}},
        {P::Code128,
         {{"enable", 1},
          {"uccEan128", 1},
          {"isbt128", 1},
          {"enableIsbtConcatenation", 0},
          {"isbtConcatenationRedundancy", 10}}},
        {P::Msi,
         {{"enable", 1},
          {"length1", 4},
          {"length2", 55},
          {"checkDigitVerification", 0},
          {"transmitCheckDigit", 0},
          {"checkDigitAlgorithm", 1}}},
        {P::EanJan,
         {{"enableEAN8_JAN8", 1},
          {"enableEAN13_JAN13", 1},
          {"enableBooklandEAN", 1},
          {"UPC_EAN_JAN_decodeSupplementals", 0},
          {"UPC_EAN_JAN_supplementalsRedundancy", 10},
          {"EAN8_JAN8_extend", 0},
          {"uccCouponExtendedCode", 0}}},
        {P::Upc,
         {{"enableUPC_A", 1},
          {"enableUPC_E", 1},
          {"enableUPC_E1", 0},
          {"transmitUPC_AcheckDigit", 1},
          {"transmitUPC_EcheckDigit", 1},
          {"transmitUPC_E1checkDigit", 1},
          {"preambleUPC_A", 1},
          {"preambleUPC_E", 1},
          {"preambleUPC_E1", 1},
          {"convertUPC_EtoA", 0},
          {"convertUPC_E1ToA", 0}}},
        {P::Composite,
         {{"cc_c", 1},
          {"cc_ab", 0},
          {"tlc39", 0},
          {"upcMode", 1},
          {"beepMode", 1},
          {"uccEAN128EmulationMode", 0}}},
        {P::Postal,
         {{"usPostnet", 1},
          {"usPlanet", 1},
          {"ukPostal", 1},
          {"transmitUKcheckDigit", 1},
          {"japanPostal", 1},
          {"australianPostal", 1},
          {"dutchPostal", 1},
          {"transmitUScheckDigit", 1}}},
        {P::ImagerOptions,
         {{"decodingAutoexposure", 1},
          {"decodingIllumination", 1},
          {"decodeAimingPattern", type == EngineType::Imager2D ? 1 : 2},
          {"imgFocus", 0},
          {"fifthOption", 0},
          {"imageAutoexposure", 1},
          {"imageIllumination", 1},
          {"gain", 100},
          {"exposureTime", 10},
          {"snapshotModeTimeout", 0},
          {"snapshotAimPattern", 1},
          {"imageResolution", 0},
          {"jpgImageOptions", 1},
          {"qualityValue", 65},
          {"jpgSizeValue", 40},
          {"imageFileFormat", 1},
          {"bitsPerPixel", 2}}},
    };
    if (type == EngineType::Imager2D) {
        items.push_back({P::Symbologies2DShort,
                         {{"pdf417", 1},
                          {"microPDF417", 0},
                          {"code128Emulation", 0},
                          {"dataMatrix", 1},
                          {"maxiCode", 1},
                          {"qrCode", 1}}});
    } else {
        items.push_back({P::Matrix25,
                         {{"enable", 1},
                          {"length1", 4},
                          {"length2", 55},
                          {"redundancy", 0},
                          {"checkDigitVerification", 0},
                          {"transmitCheckDigit", 0}}});
        items.push_back({P::Symbologies2DFull,
                         {{"pdf417", 1},
                          {"microPDF417", 0},
                          {"code128Emulation", 0},
                          {"dataMatrix", 1},
                          {"dataMatrixInverse", 0},
                          {"decodeMirrorImage", 0},
                          {"maxiCode", 1},
                          {"qrCode", 1},
                          {"qrCodeInverse", 0},
                          {"microQR", 1},
                          {"azTech", 1},
                          {"azTechInverse", 0}}});
        items.push_back({P::Chinese25, {{"enable", 1}}});
    }
    items.push_back(
        {P::MacroPdf, {{"macroPDFTransmit", 4}, {"controlHeader", 0}, {"escapeChar", 0}}});
    items.push_back(
        {P::Rss, {{"rss14", 1}, {"rssUmited", 1}, {"rssExpanded", 1}, {"convertToUPC_EAN", 0}}});
    items.push_back(
        {P::SecurityLevel, {{"redundancy", 1}, {"securityLevel", 0}, {"interCharGapSize", 6}}});
    items.push_back({P::Miscellaneous,
                     {{"transmitCodeIdChar", 0}, {"scanDataFormat", 0}, {"sendNoReadMessage", 0}}});
    items.push_back(
        {P::Reader2D, {{"laserOnTime", 30}, {"timeoutBetweenSameSymbol", 6}, {"scanMode", 8}}});
    return items;
}

std::vector<PacketItem> laserDefaults(EngineType type) {
    using P = PacketCommand;
    std::vector<PacketItem> items;
    for (P c :
         {P::Code39, P::Code93, P::Code11, P::Discrete25, P::Interleaved25, P::Codabar, P::Msi}) {
        items.push_back({c, kLengths455});
    }
    items.push_back({P::Code128, {{"enable", 1}}});
    items.push_back({P::EanJan,
                     {{"enableEAN8_JAN8", 1},
                      {"enableEAN13_JAN13", 1},
                      {"enableBooklandEAN", 1},
                      {"upcEanSecurityLevel", type == EngineType::LongRange1D ? 1 : 2}}});
    items.push_back({P::Reader1D,
                     {{"laserOnTime", 30},
                      {"linearCodeTypeSecurityLevels", 2},
                      {"bidirectionalRedundancy", 1}}});
    if (type == EngineType::LongRange1D) {
        return items;
    }
    // The 1D laser also gets these, and its reader settings once more with its own values.
    items.push_back({P::Chinese25, {{"enable", 1}}});
    items.push_back(
        {P::Rss, {{"rss14", 1}, {"rssUmited", 1}, {"rssExpanded", 1}, {"convertToUPC_EAN", 0}}});
    items.push_back({P::Reader1D,
                     {{"laserOnTime", 30},
                      {"linearCodeTypeSecurityLevels", 1},
                      {"bidirectionalRedundancy", 1},
                      {"scanMode", 8}}});
    return items;
}

// Runs one default-set item; the single command's result is not looked at.
template <typename Command, typename IndexOf, typename Run>
void runItem(const Item<Command>& item, IndexOf indexOf, Run run) {
    std::array<std::int32_t, kPacketMaxArgs> values{};
    std::array<std::int32_t*, kPacketMaxArgs> refs{};
    std::size_t count = 0;
    for (const Value& v : item.values) {
        int index = indexOf(item.command, v.name);
        if (index < 0) {
            continue;
        }
        auto i = static_cast<std::size_t>(index);
        values[i] = v.value;
        refs[i] = &values[i];
        count = std::max(count, i + 1);
    }
    run(item.command, std::span<std::int32_t* const>(refs.data(), count));
}

constexpr std::uint32_t kCommandMs = 1000;
constexpr std::int32_t kCommandAttempts = 5;
constexpr std::uint32_t kRfidSettleMs = 100;
constexpr int kRfidRegisterTries = 10;
constexpr std::uint32_t kHexSetupMs = 3000;
constexpr std::int32_t kHexSetupAttempts = 3;
constexpr std::uint32_t kHexIdleSeconds = 20;

ByteString bytesString(std::initializer_list<std::uint8_t> bytes) {
    ByteString out;
    for (std::uint8_t b : bytes) {
        out.append(static_cast<char16_t>(b));
    }
    return out;
}

// Sends a register write until the module echoes the value.
void writeAsciiRegister(ReaderChannel& channel, const char* command, const char* echo) {
    for (int i = 0; i < kRfidRegisterTries; ++i) {
        ByteString reply;
        if (exchange(channel, ByteString(command), kCommandMs, &reply, 3) != 0 && reply == echo) {
            return;
        }
    }
}

void readAsciiRegisters(ReaderChannel& channel) {
    // Kept afresh each time the module is set up, so repeated reopens do not pile up.
    channel.parameterImage.clear();
    int first = channel.rfidVariant == 0 || channel.rfidVariant == 1 ? 0x0A : 0x00;
    int last = first == 0x0A ? 0x1F : 0x00;
    for (int reg = first; reg <= last; ++reg) {
        ByteString command;
        command.format("rp%02x", reg);
        ByteString reply;
        if (exchange(channel, command, kCommandMs, &reply, 1) == 0 || reply == "R") {
            channel.parameterImage.append(u'\0');
            continue;
        }
        ByteString bytes;
        hexToBytes(reply, bytes);
        channel.parameterImage.append(bytes);
    }
}

}  // namespace

std::int32_t sendLinkSetup(ReaderChannel& channel) {
    ByteString packet = bytesString({0x00, 0xC6, 0x04, 0x08, 0xFF, 0x8A, 0x08, 0xEC, 0x00, 0xEE,
                                     0x01, 0x9B, 0x14, 0x88, 0x1E, 0x9F, 0x01});
    if (channel.engineType == EngineType::LongRange1D ||
        channel.engineType == EngineType::Laser1D955) {
        packet.append(u'\xED');
        packet.append(u'\0');
    }
    packet.setAt(0, static_cast<char16_t>(packet.length()));
    ByteString reply;
    return exchange(channel, packet, kCommandMs, &reply, kCommandAttempts);
}

std::int32_t EngineSettings::applyDefaults(ReaderManager& manager, std::int32_t which) {
    return which == kRfidPort ? rfidDefaults(manager) : barcodeDefaults(manager);
}

std::int32_t EngineSettings::barcodeDefaults(ReaderManager& manager) {
    ReaderChannel& channel = manager.barcode;
    EngineType type = channel.engineType;
    auto runPacket = [&](const std::vector<PacketItem>& items) {
        for (const PacketItem& item : items) {
            runItem(item, packetArgumentIndex, [&](PacketCommand c, auto args) {
                packetCommand(channel, cache_, c, 'w', args);
            });
        }
    };
    ByteString reply;
    switch (type) {
        case EngineType::CcdLaser:
            ccdQueryBlock(channel);
            for (const CcdItem& item : ccdDefaults()) {
                runItem(item, ccdArgumentIndex,
                        [&](CcdCommand c, auto args) { ccdCommand(channel, c, 'w', args); });
            }
            return 1;
        case EngineType::Imager2D:
        case EngineType::Imager2D4507:
            sendLinkSetup(channel);
            readWholeEngine(channel, cache_);
            runPacket(imagerDefaults(type));
            return 1;
        case EngineType::LongRange1D:
            exchange(channel, bytesString({0x04, 0xC8, 0x04, 0x00}), kCommandMs, &reply,
                     kCommandAttempts);
            // The engine falls back to its factory rate: find it again.
            closePort(channel);
            if (openPort(channel) == 0 || probeEngine(channel) == 0) {
                closePort(channel);
                return 0;
            }
            sendLinkSetup(channel);
            readWholeEngine(channel, cache_);
            runPacket(laserDefaults(type));
            return 1;
        case EngineType::Laser1D955:
            exchange(channel, bytesString({0x04, 0xC8, 0x04, 0x00}), kCommandMs, &reply,
                     kCommandAttempts);
            setBaudRate(channel, 9600);
            if (setEngineBaud(channel, 38400) != 0) {
                setBaudRate(channel, 38400);
            }
            sendLinkSetup(channel);
            readWholeEngine(channel, cache_);
            runPacket(laserDefaults(type));
            return 1;
        default:
            return 0;
    }
}

std::int32_t EngineSettings::rfidDefaults(ReaderManager& manager) {
    ReaderChannel& channel = manager.rfid;
    switch (channel.engineType) {
        case EngineType::RfidAscii:
            if (openPort(channel) == 0 || probeEngine(channel) == 0) {
                closePort(channel);
                return 0;
            }
            manager.clock().sleepMs(kRfidSettleMs);
            writeAsciiRegister(channel, "wp0B08", "08");
            writeAsciiRegister(channel, "wp0E7F", "7F");
            readAsciiRegisters(channel);
            closePort(channel);
            return 1;
        case EngineType::RfidHex: {
            if (hexSetupFirst_ && hexSetupSecond_) {
                return 1;
            }
            manager.rfidIdleSeconds = kHexIdleSeconds;
            ByteString reply;
            if (!hexSetupFirst_) {
                if (exchange(channel, ByteString("0109000304F0000000"), kHexSetupMs, &reply,
                             kHexSetupAttempts) == 0) {
                    // Lets a waiting RFID read go on; it sees the failure itself.
                    channel.channelLock.release();
                    return 0;
                }
                hexSetupFirst_ = true;
            }
            std::int32_t result = 1;
            if (!hexSetupSecond_) {
                result = exchange(channel, ByteString("0109000304F1FF0000"), kHexSetupMs, &reply,
                                  kHexSetupAttempts);
                hexSetupSecond_ = result != 0;
            }
            return result;
        }
        default:
            return 1;
    }
}

void EngineSettings::restoreHostOptions(ReaderChannel& channel) {
    ReaderManager& manager = *channel.owner;
    std::int32_t ean13 = manager.transmitEan13CheckDigit;
    std::int32_t upcA = manager.transmitUpcACheckDigit;
    std::int32_t convert = manager.convertToEAN13;
    std::int32_t* args[] = {&ean13, &upcA, &convert};
    ccdCommand(channel, CcdCommand::CheckDigitRestore, 'w', args);
}

}  // namespace vandora
