// The settings plan of the packet engines, types 3 and 8 (imagers) and 4 and 9 (lasers) in one
// set of lists: where the types differ, a step names the types it applies to. The default values
// themselves are columns of the setting rows (PacketSettings.h).
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
using packet_table::kImager3;
using packet_table::kImager8;
using packet_table::kImagers;
using packet_table::kLaser9;
using packet_table::kLasers;
using packet_table::packetEngine;

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

constexpr DefaultStep step(PacketCommand c, TypeSet types, bool again = false) {
    return {static_cast<CommandId>(c), types, again};
}

// clang-format off
// The default sets: each command with the default values of its table for the engine type.
constexpr DefaultStep kDefaults[] = {
    // The imagers.
    step(P::Code39, kImagers), step(P::Code93, kImagers), step(P::Code11, kImagers),
    step(P::Discrete25, kImagers), step(P::Interleaved25, kImagers), step(P::Codabar, kImagers),
    step(P::Code128, kImagers), step(P::Msi, kImagers), step(P::EanJan, kImagers),
    step(P::Upc, kImagers), step(P::Composite, kImagers), step(P::Postal, kImagers),
    step(P::ImagerOptions, kImagers), step(P::Symbologies2DShort, kImager3),
    step(P::Matrix25, kImager8), step(P::Symbologies2DFull, kImager8), step(P::Chinese25, kImager8),
    step(P::MacroPdf, kImagers), step(P::Rss, kImagers), step(P::SecurityLevel, kImagers),
    step(P::Miscellaneous, kImagers), step(P::Reader2D, kImagers),
    // The lasers.
    step(P::Code39, kLasers), step(P::Code93, kLasers), step(P::Code11, kLasers),
    step(P::Discrete25, kLasers), step(P::Interleaved25, kLasers), step(P::Codabar, kLasers),
    step(P::Msi, kLasers), step(P::Code128, kLasers), step(P::EanJan, kLasers),
    step(P::Reader1D, kLasers),
    // The 1D laser also gets these, and its reader settings once more with their second values.
    step(P::Chinese25, kLaser9), step(P::Rss, kLaser9), step(P::Reader1D, kLaser9, true),
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

// The parameter defaults packet, then whatever the engine needs to be found again.
std::int32_t factoryReset(ReaderChannel& channel, FactoryReset reset) {
    if (reset == FactoryReset::None) {
        return 1;
    }
    ByteString reply;
    exchange(channel, hostPacket(packet::kParamDefaults), kCommandMs, &reply, kCommandAttempts);
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
    ByteString setup =
        hostPacket(packet::kParamSend, packet::kParamPermanent,
                   {0xFF, 0x8A, 0x08, 0xEC, 0x00, 0xEE, 0x01, 0x9B, 0x14, 0x88, 0x1E, 0x9F, 0x01});
    if (packetEngine(channel.engineType).laserLinkPair) {
        setup.append(u'\xED');
        setup.append(u'\0');
    }
    setup.setAt(0, static_cast<char16_t>(setup.length()));
    ByteString reply;
    return exchange(channel, setup, kCommandMs, &reply, kCommandAttempts);
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
        packetRead(channel, cache, step.command, std::span<std::int32_t* const>(refs.data(), n));
    }
}

}  // namespace vandora
