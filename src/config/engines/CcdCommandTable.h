// The CCD/Laser engine's setting commands: the rows of CcdSettings.h bound, when compiled, to the
// section keys they mirror, in CcdCommand order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/SettingSections.h"
#include "config/engines/CcdCommands.h"
#include "config/engines/CcdSettings.h"
#include "config/engines/CommandSet.h"
#include "reader/engines/CcdLayout.h"

namespace vandora::ccd_table {

constexpr std::size_t kMaxArgs = 10;

struct Command {
    CcdCommand id = CcdCommand::Count;
    std::array<Arg, kMaxArgs> args{};
    std::array<ArgBinding, kMaxArgs> bindings{};
    std::size_t count = 0;
};

// A command whose arguments mirror the keys of one section.
template <std::size_t N>
consteval Command command(CcdCommand id, const SectionDef& section, const Arg (&args)[N]) {
    static_assert(N <= kMaxArgs);
    Command c;
    c.id = id;
    c.count = N;
    for (std::size_t i = 0; i < N; ++i) {
        c.args[i] = args[i];
        c.args[i].bind.key = key(section, args[i].bind.name);
        c.bindings[i] = c.args[i].bind;
    }
    return c;
}

// A command of the host's own whose arguments no section load or save goes through.
template <std::size_t N>
consteval Command hostCommand(CcdCommand id, const Arg (&args)[N]) {
    static_assert(N <= kMaxArgs);
    Command c;
    c.id = id;
    c.count = N;
    for (std::size_t i = 0; i < N; ++i) {
        c.args[i] = args[i];
        c.bindings[i] = args[i].bind;
    }
    return c;
}

// In CcdCommand order.
inline constexpr std::array<Command, static_cast<std::size_t>(CcdCommand::Count)> kCommands{{
    command(CcdCommand::Reader, kReaderCcd, kReader),
    command(CcdCommand::Codabar, kCodabarCcd, kCodabar),
    command(CcdCommand::Industrial25, kIndustrial25Ccd, kIndustrial25),
    command(CcdCommand::Interleaved25, kInterleaved25Ccd, kInterleaved25),
    command(CcdCommand::Matrix25, kMatrix25Ccd, kMatrix25),
    command(CcdCommand::Code39, kCode39Ccd, kCode39),
    command(CcdCommand::Code93, kCode93Ccd, kCode93),
    command(CcdCommand::Ean128, kEan128Ccd, kEan128),
    command(CcdCommand::Isbt128, kIsbt128Ccd, kIsbt128),
    command(CcdCommand::Code128, kCode128Ccd, kCode128),
    command(CcdCommand::Pharmacode, kPharmacodeCcd, kPharmacode),
    command(CcdCommand::Msi, kMsiCcd, kMsi),
    command(CcdCommand::Negative, kNegativeCcd, kNegative),
    command(CcdCommand::Plessey, kPlesseyCcd, kPlessey),
    command(CcdCommand::Rss, kRssCcd, kRss),
    command(CcdCommand::Telepen, kTelepenCcd, kTelepen),
    command(CcdCommand::Ean8, kEan8Ccd, kEan8),
    command(CcdCommand::Ean13UpcA, kEan13UpcACcd, kEan13UpcA),
    command(CcdCommand::Gtin, kGtinCcd, kGtin),
    command(CcdCommand::UpcE, kUpcECcd, kUpcE),
    hostCommand(CcdCommand::CheckDigitRestore, kCheckDigitRestore),
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
    "one row per command, in CcdCommand order");

constexpr const Command& info(CcdCommand c) {
    return kCommands[static_cast<std::size_t>(c)];
}

// The index of a named argument of a command; a name the command lacks does not compile.
consteval std::uint8_t argIndex(CcdCommand c, std::string_view name) {
    const Command& cmd = info(c);
    for (std::size_t i = 0; i < cmd.count; ++i) {
        if (cmd.args[i].bind.name == name) {
            return static_cast<std::uint8_t>(i);
        }
    }
    detail::keyMissingFromSection();
    return 0;
}

}  // namespace vandora::ccd_table
