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
    std::array<Arg, kMaxArgs> args{};
    std::array<ArgBinding, kMaxArgs> bindings{};
    std::size_t count = 0;
};

// A command whose arguments mirror the keys of one section.
template <std::size_t N>
consteval Command command(const SectionDef& section, const Arg (&args)[N]) {
    static_assert(N <= kMaxArgs);
    Command c;
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
consteval Command hostCommand(const Arg (&args)[N]) {
    static_assert(N <= kMaxArgs);
    Command c;
    c.count = N;
    for (std::size_t i = 0; i < N; ++i) {
        c.args[i] = args[i];
        c.bindings[i] = args[i].bind;
    }
    return c;
}

// In CcdCommand order.
inline constexpr std::array<Command, static_cast<std::size_t>(CcdCommand::Count)> kCommands{{
    command(kReaderCcd, kReader),
    command(kCodabarCcd, kCodabar),
    command(kIndustrial25Ccd, kIndustrial25),
    command(kInterleaved25Ccd, kInterleaved25),
    command(kMatrix25Ccd, kMatrix25),
    command(kCode39Ccd, kCode39),
    command(kCode93Ccd, kCode93),
    command(kEan128Ccd, kEan128),
    command(kIsbt128Ccd, kIsbt128),
    command(kCode128Ccd, kCode128),
    command(kPharmacodeCcd, kPharmacode),
    command(kMsiCcd, kMsi),
    command(kNegativeCcd, kNegative),
    command(kPlesseyCcd, kPlessey),
    command(kRssCcd, kRss),
    command(kTelepenCcd, kTelepen),
    command(kEan8Ccd, kEan8),
    command(kEan13UpcACcd, kEan13UpcA),
    command(kGtinCcd, kGtin),
    command(kUpcECcd, kUpcE),
    hostCommand(kCheckDigitRestore),
}};

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
