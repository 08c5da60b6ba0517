// The settings plan of the packet engines, types 3 and 8 (imagers) and 4 and 9 (lasers) in one
// set of lists: where the types differ, a step, a default item or a value names the types it
// applies to.
#include "config/engines/PacketPlan.h"

#include "config/engines/PacketCommandTable.h"
#include "config/engines/SettingsPlan.h"
#include "reader/Exchange.h"
#include "reader/Identify.h"
#include "reader/PortOps.h"
#include "reader/engines/EngineTable.h"

namespace vandora {

namespace {

using P = PacketCommand;
using packet_table::FactoryReset;
using packet_table::kImagers;
using packet_table::kLasers;
using packet_table::packetEngine;
constexpr TypeSet kImager3{EngineType::Imager2D};
constexpr TypeSet kImager8{EngineType::Imager2D4507};
constexpr TypeSet kLaser4{EngineType::LongRange1D};
constexpr TypeSet kLaser9{EngineType::Laser1D955};

// clang-format off
constexpr SectionStep kLoad[] = {
    {&kReader2D, kImagers},
    {&kReader1DLr, kLasers},
    {&kCodabarLr},
    {&kCode11_2D, kImagers},
    {&kCode128Lr},
    {&kCode39Lr},
    {&kCode93Lr},
    {&kComposite2D, kImagers},
    {&kDiscrete25Lr},
    {&kEanJanLr},
    {&kInterleaved25Lr},
    {&kMacroPdf2D, kImagers},
    {&kMiscLr},
    {&kMsiLr},
    {&kPostal2D, kImagers},
    {&kRssLr},
    {&kSecurity2D, kImagers},
    {&kUpcLr},
    {&kCode11_2D, kLaser9},
    {&kChinese25, kLaser9},
    {&kSymbologies2DShort, kImager3},
    {&kImage2D, kImagers},
    {&kChinese25, kImager8},
    {&kMatrix25_2D, kImager8},
    // After the short form, so that its values win for the six keys they share.
    {&kSymbologies2DFull, kImager8},
};

constexpr SectionStep kSave[] = {
    {&kReader2D, kImagers},
    {&kReader1DLr, kLasers},
    {&kCodabarLr},
    {&kCode11_2D, kImagers},
    {&kCode128Lr},
    {&kCode39Lr},
    {&kCode93Lr},
    {&kComposite2D, kImagers},
    {&kDiscrete25Lr},
    {&kEanJanLr},
    {&kInterleaved25Lr},
    {&kMacroPdf2D, kImagers},
    {&kMiscLr},
    {&kMsiLr},
    {&kPostal2D, kImagers},
    {&kRssLr},
    {&kSymbologies2DShort, kImagers},
    {&kUpcLr},
    {&kCode11_2D, kLaser9},
    {&kChinese25, kLaser9},
    {&kSecurity2D, kImager3},
    {&kImage2D, kImagers},
    {&kChinese25, kImager8},
    {&kMatrix25_2D, kImager8},
    {&kSymbologies2DFull, kImager8},
};
// clang-format on

consteval DefaultItem item(PacketCommand c, TypeSet types,
                           std::initializer_list<NamedValue> values) {
    DefaultItem d;
    d.command = static_cast<CommandId>(c);
    d.types = types;
    for (const NamedValue& v : values) {
        d.values[d.count++] = {packet_table::argIndex(c, v.name), v.value, v.types};
    }
    return d;
}

consteval DefaultItem lengths455(PacketCommand c) {
    return item(c, kLasers, {{"enable", 1}, {"length1", 4}, {"length2", 55}});
}

// clang-format off
constexpr DefaultItem kDefaults[] = {
    // The imagers.
    item(P::Code39, kImagers, {{"enable", 1}, {"trioptic", 0}, {"code39ToCode32", 0},
                               {"code32Prefix", 0}, {"checkDigitVerification", 0},
                               {"transmitCheckDigit", 0}, {"fullASCII", 0}, {"length1", 4},
                               {"length2", 55}}),
    item(P::Code93, kImagers, {{"enable", 1}, {"length1", 4}, {"length2", 55}}),
    item(P::Code11, kImagers, {{"enable", 1}, {"checkDigitVerification", 0},
                               {"transmitCheckDigit", 0}, {"length1", 4}, {"length2", 55}}),
    item(P::Discrete25, kImagers, {{"enable", 1}, {"length1", 4}, {"length2", 55}}),
    item(P::Interleaved25, kImagers, {{"enable", 1}, {"length1", 4}, {"length2", 55}}),
    item(P::Codabar, kImagers, {{"enable", 1}, {"length1", 4}, {"length2", 55},
                                {"clsiEditing", 0}, {"notisEditing", 0}}),
    item(P::Code128, kImagers, {{"enable", 1}, {"uccEan128", 1}, {"isbt128", 1},
                                {"enableIsbtConcatenation", 0},
                                {"isbtConcatenationRedundancy", 10}}),
    item(P::Msi, kImagers, {{"enable", 1}, {"length1", 4}, {"length2", 55},
                            {"checkDigitVerification", 0}, {"transmitCheckDigit", 0},
                            {"checkDigitAlgorithm", 1}}),
    item(P::EanJan, kImagers, {{"enableEAN8_JAN8", 1}, {"enableEAN13_JAN13", 1},
                               {"enableBooklandEAN", 1}, {"UPC_EAN_JAN_decodeSupplementals", 0},
                               {"UPC_EAN_JAN_supplementalsRedundancy", 10},
                               {"EAN8_JAN8_extend", 0}, {"uccCouponExtendedCode", 0}}),
    item(P::Upc, kImagers, {{"enableUPC_A", 1}, {"enableUPC_E", 1}, {"enableUPC_E1", 0},
                            {"transmitUPC_AcheckDigit", 1}, {"transmitUPC_EcheckDigit", 1},
                            {"transmitUPC_E1checkDigit", 1}, {"preambleUPC_A", 1},
                            {"preambleUPC_E", 1}, {"preambleUPC_E1", 1}, {"convertUPC_EtoA", 0},
                            {"convertUPC_E1ToA", 0}}),
    item(P::Composite, kImagers, {{"cc_c", 1}, {"cc_ab", 0}, {"tlc39", 0}, {"upcMode", 1},
                                  {"beepMode", 1}, {"uccEAN128EmulationMode", 0}}),
    item(P::Postal, kImagers, {{"usPostnet", 1}, {"usPlanet", 1}, {"ukPostal", 1},
                               {"transmitUKcheckDigit", 1}, {"japanPostal", 1},
                               {"australianPostal", 1}, {"dutchPostal", 1},
                               {"transmitUScheckDigit", 1}}),
    item(P::ImagerOptions, kImagers, {{"decodingAutoexposure", 1}, {"decodingIllumination", 1},
                                      {"decodeAimingPattern", 1, kImager3},
                                      {"decodeAimingPattern", 2, kImager8}, {"imgFocus", 0},
                                      {"fifthOption", 0}, {"imageAutoexposure", 1},
                                      {"imageIllumination", 1}, {"gain", 100},
                                      {"exposureTime", 10}, {"snapshotModeTimeout", 0},
                                      {"snapshotAimPattern", 1}, {"imageResolution", 0},
                                      {"jpgImageOptions", 1}, {"qualityValue", 65},
                                      {"jpgSizeValue", 40}, {"imageFileFormat", 1},
                                      {"bitsPerPixel", 2}}),
    item(P::Symbologies2DShort, kImager3, {{"pdf417", 1}, {"microPDF417", 0},
                                           {"code128Emulation", 0}, {"dataMatrix", 1},
                                           {"maxiCode", 1}, {"qrCode", 1}}),
    item(P::Matrix25, kImager8, {{"enable", 1}, {"length1", 4}, {"length2", 55},
                                 {"redundancy", 0}, {"checkDigitVerification", 0},
                                 {"transmitCheckDigit", 0}}),
    item(P::Symbologies2DFull, kImager8, {{"pdf417", 1}, {"microPDF417", 0},
                                          {"code128Emulation", 0}, {"dataMatrix", 1},
                                          {"dataMatrixInverse", 0}, {"decodeMirrorImage", 0},
                                          {"maxiCode", 1}, {"qrCode", 1}, {"qrCodeInverse", 0},
                                          {"microQR", 1}, {"azTech", 1}, {"azTechInverse", 0}}),
    item(P::Chinese25, kImager8, {{"enable", 1}}),
    item(P::MacroPdf, kImagers, {{"macroPDFTransmit", 4}, {"controlHeader", 0},
                                 {"escapeChar", 0}}),
    item(P::Rss, kImagers, {{"rss14", 1}, {"rssUmited", 1}, {"rssExpanded", 1},
                            {"convertToUPC_EAN", 0}}),
    item(P::SecurityLevel, kImagers, {{"redundancy", 1}, {"securityLevel", 0},
                                      {"interCharGapSize", 6}}),
    item(P::Miscellaneous, kImagers, {{"transmitCodeIdChar", 0}, {"scanDataFormat", 0},
                                      {"sendNoReadMessage", 0}}),
    item(P::Reader2D, kImagers, {{"laserOnTime", 30}, {"timeoutBetweenSameSymbol", 6},
                                 {"scanMode", 8}}),

    // The lasers.
    lengths455(P::Code39),
    lengths455(P::Code93),
    lengths455(P::Code11),
    lengths455(P::Discrete25),
    lengths455(P::Interleaved25),
    lengths455(P::Codabar),
    lengths455(P::Msi),
    item(P::Code128, kLasers, {{"enable", 1}}),
    item(P::EanJan, kLasers, {{"enableEAN8_JAN8", 1}, {"enableEAN13_JAN13", 1},
                              {"enableBooklandEAN", 1}, {"upcEanSecurityLevel", 1, kLaser4},
                              {"upcEanSecurityLevel", 2, kLaser9}}),
    item(P::Reader1D, kLasers, {{"laserOnTime", 30}, {"linearCodeTypeSecurityLevels", 2},
                                {"bidirectionalRedundancy", 1}}),
    // The 1D laser also gets these, and its reader settings once more with its own values.
    item(P::Chinese25, kLaser9, {{"enable", 1}}),
    item(P::Rss, kLaser9, {{"rss14", 1}, {"rssUmited", 1}, {"rssExpanded", 1},
                           {"convertToUPC_EAN", 0}}),
    item(P::Reader1D, kLaser9, {{"laserOnTime", 30}, {"linearCodeTypeSecurityLevels", 1},
                                {"bidirectionalRedundancy", 1}, {"scanMode", 8}}),
};

// What reading the whole engine asks for, in order.
struct ReadStep {
    PacketCommand command;
    TypeSet types;
};

constexpr ReadStep kReadWhole[] = {
    {P::Upc, kLasers}, {P::Code128, kLasers}, {P::Code39, kLasers}, {P::Code93, kLasers},
    {P::Interleaved25, kLasers}, {P::Discrete25, kLasers}, {P::Codabar, kLasers},
    {P::Msi, kLasers}, {P::Rss, kLasers}, {P::EanJan, kLasers}, {P::Miscellaneous, kLasers},
    {P::Reader1D, kLasers}, {P::Code11, kLaser9}, {P::Chinese25, kLaser9},

    {P::Upc, kImagers}, {P::EanJan, kImagers}, {P::Code39, kImagers}, {P::Code128, kImagers},
    {P::Code93, kImagers}, {P::Code11, kImagers}, {P::Interleaved25, kImagers},
    {P::Discrete25, kImagers}, {P::Codabar, kImagers}, {P::Msi, kImagers}, {P::Postal, kImagers},
    {P::Rss, kImagers}, {P::Composite, kImagers}, {P::SecurityLevel, kImagers},
    {P::MacroPdf, kImagers}, {P::Miscellaneous, kImagers}, {P::Reader2D, kImagers},
    {P::Symbologies2DShort, kImager3}, {P::ImagerOptions, kImagers}, {P::Chinese25, kImager8},
    {P::Matrix25, kImager8}, {P::Symbologies2DFull, kImager8},
};
// clang-format on

constexpr std::uint32_t kCommandMs = 1000;
constexpr std::int32_t kCommandAttempts = 5;
constexpr std::uint32_t kFactoryRate = 9600;

ByteString bytesString(std::initializer_list<std::uint8_t> bytes) {
    ByteString out;
    for (std::uint8_t b : bytes) {
        out.append(static_cast<char16_t>(b));
    }
    return out;
}

// The parameter defaults packet, then whatever the engine needs to be found again.
std::int32_t factoryReset(ReaderChannel& channel, FactoryReset reset) {
    if (reset == FactoryReset::None) {
        return 1;
    }
    ByteString reply;
    exchange(channel, bytesString({0x04, 0xC8, 0x04, 0x00}), kCommandMs, &reply, kCommandAttempts);
    if (reset == FactoryReset::ReopenAndProbe) {
        closePort(channel);
        if (openPort(channel) == 0 || probeEngine(channel) == 0) {
            closePort(channel);
            return 0;
        }
        return 1;
    }
    std::uint32_t working = engineInfo(channel.engineType).workingBaud;
    setBaudRate(channel, kFactoryRate);
    if (setEngineBaud(channel, working) != 0) {
        setBaudRate(channel, working);
    }
    return 1;
}

std::int32_t prepare(ReaderChannel& channel, ParamCache& cache) {
    if (factoryReset(channel, packetEngine(channel.engineType).reset) == 0) {
        return 0;
    }
    sendLinkSetup(channel);
    readWholeEngine(channel, cache);
    return 1;
}

const CommandSet& commands() {
    return packetCommandSet();
}

}  // namespace

const FamilyPlan kPacketFamily{&commands, kLoad, kSave, &prepare, kDefaults};

std::int32_t sendLinkSetup(ReaderChannel& channel) {
    ByteString packet = bytesString({0x00, 0xC6, 0x04, 0x08, 0xFF, 0x8A, 0x08, 0xEC, 0x00, 0xEE,
                                     0x01, 0x9B, 0x14, 0x88, 0x1E, 0x9F, 0x01});
    if (packetEngine(channel.engineType).laserLinkPair) {
        packet.append(u'\xED');
        packet.append(u'\0');
    }
    packet.setAt(0, static_cast<char16_t>(packet.length()));
    ByteString reply;
    return exchange(channel, packet, kCommandMs, &reply, kCommandAttempts);
}

void readWholeEngine(ReaderChannel& channel, ParamCache& cache) {
    for (const ReadStep& step : kReadWhole) {
        if (!step.types.has(channel.engineType)) {
            continue;
        }
        std::array<std::int32_t, kPacketMaxArgs> values{};
        std::array<std::int32_t*, kPacketMaxArgs> refs{};
        std::size_t n = packetArguments(step.command).size();
        for (std::size_t i = 0; i < n; ++i) {
            refs[i] = &values[i];
        }
        packetCommand(channel, cache, step.command, 'r',
                      std::span<std::int32_t* const>(refs.data(), n));
    }
}

}  // namespace vandora
