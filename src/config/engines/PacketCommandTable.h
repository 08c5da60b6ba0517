// The packet engines' setting commands: the rows of PacketSettings.h bound, when compiled, to the
// section keys they mirror, in PacketCommand order; and how the packet engines differ.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/SettingSections.h"
#include "config/engines/CommandSet.h"
#include "config/engines/PacketCommands.h"
#include "config/engines/PacketSettings.h"

namespace vandora::packet_table {

// How an engine is put back to its factory settings before its default set.
enum class FactoryReset : std::uint8_t {
    None,
    // The engine falls back to its factory rate: close, open and find it again.
    ReopenAndProbe,
    // Talk to it at 9600 and move it to its working rate again.
    Rebaud,
};

// How the packet engines differ, one row per type.
struct PacketEngine {
    EngineType type;
    // The arguments with a second parameter number use it on this engine.
    bool alternateParams = false;
    // The exposure goes out in steps of 5 as a word of the engine's own table.
    bool steppedExposure = false;
    FactoryReset reset = FactoryReset::None;
    // The link set-up carries one more pair (ED 00).
    bool laserLinkPair = false;
};

inline constexpr PacketEngine kPacketEngineRows[] = {
    {.type = EngineType::Imager2D, .steppedExposure = true},
    {.type = EngineType::LongRange1D, .reset = FactoryReset::ReopenAndProbe, .laserLinkPair = true},
    {.type = EngineType::Imager2D4507, .alternateParams = true},
    {.type = EngineType::Laser1D955, .reset = FactoryReset::Rebaud, .laserLinkPair = true},
};

constexpr PacketEngine packetEngine(EngineType type) {
    for (const PacketEngine& row : kPacketEngineRows) {
        if (row.type == type) {
            return row;
        }
    }
    return {.type = type};
}

struct Command {
    PacketCommand id = PacketCommand::Count;
    TypeSet types;
    std::array<Arg, kMaxCommandArgs> args{};
    std::array<ArgBinding, kMaxCommandArgs> bindings{};
    std::size_t count = 0;
    // Order in which changed pairs are sent.
    std::array<std::uint8_t, kMaxCommandArgs> sendOrder{};
};

// A command whose arguments mirror keys of the given sections (the first that has the name).
template <std::size_t N>
consteval Command command(PacketCommand id, TypeSet types, const SectionDef& first,
                          const SectionDef& second, const Arg (&args)[N]) {
    static_assert(N <= kMaxCommandArgs);
    Command c;
    c.id = id;
    c.types = types;
    c.count = N;
    for (std::size_t i = 0; i < N; ++i) {
        c.args[i] = args[i];
        c.sendOrder[i] = static_cast<std::uint8_t>(i);
        if (args[i].own) {
            c.bindings[i] = args[i].bind;
            continue;
        }
        bool inFirst = false;
        for (const SectionKey& k : first.keys) {
            inFirst = inFirst || k.name == args[i].bind.name;
        }
        c.args[i].bind.key =
            inFirst ? key(first, args[i].bind.name) : key(second, args[i].bind.name);
        c.bindings[i] = c.args[i].bind;
    }
    return c;
}

template <std::size_t N>
consteval Command command(PacketCommand id, TypeSet types, const SectionDef& section,
                          const Arg (&args)[N]) {
    return command(id, types, section, section, args);
}

consteval Command postalCommand() {
    Command info =
        command(PacketCommand::Postal,
                {EngineType::Imager2D, EngineType::LongRange1D, EngineType::Imager2D4507},
                kPostal2D, kPostal);
    // The engine takes the US check digit right after the UK pair.
    constexpr std::uint8_t order[] = {0, 1, 2, 3, 7, 4, 5, 6};
    for (std::size_t i = 0; i < 8; ++i) {
        info.sendOrder[i] = order[i];
    }
    return info;
}

// In PacketCommand order.
inline constexpr std::array<Command, static_cast<std::size_t>(PacketCommand::Count)> kCommands{{
    command(PacketCommand::Code39, kPacketEngines, kCode39Lr, kCode39),
    command(PacketCommand::Upc, kPacketEngines, kUpcLr, kUpc),
    command(PacketCommand::EanJan, kPacketEngines, kEanJanLr, kEanJan),
    command(PacketCommand::Code128, kPacketEngines, kCode128Lr, kCode128),
    command(PacketCommand::Code93, kPacketEngines, kCode93Lr, kCode93),
    command(PacketCommand::Code11, kPacketEngines, kCode11_2D, kCode11),
    command(PacketCommand::Interleaved25, kPacketEngines, kInterleaved25Lr, kInterleaved25),
    command(PacketCommand::Discrete25, kPacketEngines, kDiscrete25Lr, kDiscrete25),
    command(PacketCommand::Codabar, kPacketEngines, kCodabarLr, kCodabar),
    command(PacketCommand::Msi, kPacketEngines, kMsiLr, kMsi),
    postalCommand(),
    command(PacketCommand::Rss, kPacketEngines, kRssLr, kRss),
    command(PacketCommand::Composite, kImagers, kComposite2D, kComposite),
    command(PacketCommand::Symbologies2DShort, kImagers, kSymbologies2DShort, kSymbologiesShort),
    command(PacketCommand::Symbologies2DFull, kImager8, kSymbologies2DFull, kSymbologiesFull),
    command(PacketCommand::SecurityLevel, kPacketEngines, kSecurity2D, kSecurityLevel),
    command(PacketCommand::MacroPdf, kImagers, kMacroPdf2D, kMacroPdf),
    command(PacketCommand::Matrix25, kImager8, kMatrix25_2D, kMatrix25),
    command(PacketCommand::Chinese25, {EngineType::Imager2D4507, EngineType::Laser1D955},
            kChinese25, kChinese25Args),
    command(PacketCommand::Miscellaneous, kPacketEngines, kMiscLr, kMiscellaneous),
    command(PacketCommand::Reader2D, kImagers, kReader2D, kReader2DArgs),
    command(PacketCommand::Reader1D, kLasers, kReader1DLr, kReader1D),
    command(PacketCommand::ImagerOptions, kImagers, kReader2D, kImage2D, kImagerOptions),
}};

static_assert(
    [] {
        for (std::size_t i = 0; i < kCommands.size(); ++i) {
            if (static_cast<std::size_t>(kCommands[i].id) != i || kCommands[i].count == 0) {
                return false;
            }
        }
        return true;
    }(),
    "one row per command, in PacketCommand order");

constexpr const Command& info(PacketCommand c) {
    return kCommands[static_cast<std::size_t>(c)];
}

// The index of a named argument of a command; a name the command lacks does not compile.
consteval std::uint8_t argIndex(PacketCommand c, std::string_view name) {
    const Command& cmd = info(c);
    for (std::size_t i = 0; i < cmd.count; ++i) {
        if (cmd.args[i].bind.name == name) {
            return static_cast<std::uint8_t>(i);
        }
    }
    detail::keyMissingFromSection();
    return 0;
}

}  // namespace vandora::packet_table
