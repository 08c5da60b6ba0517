// Setting commands of the packet engines (2D imagers, types 3 and 8; 1D lasers, types 4 and 9).
// These engines hold their settings as numbered parameters: a command reads a group of them with
// a parameter request, or writes the changed ones with one parameter send.
//
// Every command takes the direction ('r' or 'w') and one optional argument per setting, in the
// command's order (null: leave it alone); the arguments are bound to the INI keys they mirror
// (PacketCommandTable.h). A ParamCache
// remembers what the engine last accepted or reported, so a write sends only what differs.
// No locking: these run from the main window while no scan is in progress.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "config/engines/CommandSet.h"
#include "reader/ReaderManager.h"

namespace vandora {

enum class PacketCommand : std::uint8_t {
    Code39,
    Upc,
    EanJan,
    Code128,
    Code93,
    Code11,
    Interleaved25,
    Discrete25,
    Codabar,
    Msi,
    Postal,
    Rss,
    Composite,
    Symbologies2DShort,
    Symbologies2DFull,
    SecurityLevel,
    MacroPdf,
    Matrix25,
    Chinese25,
    Miscellaneous,
    Reader2D,
    Reader1D,
    ImagerOptions,
    Count,
};

constexpr std::size_t kPacketMaxArgs = kMaxCommandArgs;

// One slot per command argument, holding the value the engine last accepted or reported;
// -1 until then, so the first write of each argument is always sent.
class ParamCache {
  public:
    ParamCache() { reset(); }
    void reset();
    std::int32_t& slot(PacketCommand command, std::size_t arg) {
        return slots_[static_cast<std::size_t>(command)][arg];
    }

  private:
    std::array<std::array<std::int32_t, kPacketMaxArgs>,
               static_cast<std::size_t>(PacketCommand::Count)>
        slots_{};
};

// The arguments of a command, in order, with the section keys they mirror.
std::span<const ArgBinding> packetArguments(PacketCommand command);
int packetArgumentIndex(PacketCommand command, std::string_view name);
// Whether the command applies to an engine type.
bool packetCommandApplies(PacketCommand command, EngineType engineType);
// Whether one argument of the command takes part on an engine type.
bool packetArgumentApplies(PacketCommand command, std::size_t arg, EngineType engineType);

// Runs a command on channel, one of manager's (a scan mode written goes to the manager).
std::int32_t packetCommand(ReaderManager& manager, ReaderChannel& channel, ParamCache& cache,
                           PacketCommand command, int direction,
                           std::span<std::int32_t* const> args);
// The read direction alone, which changes nothing of the manager's.
std::int32_t packetRead(ReaderChannel& channel, ParamCache& cache, PacketCommand command,
                        std::span<std::int32_t* const> args);

// The commands above behind the interface the settings transfer uses.
const CommandSet& packetCommandSet();

}  // namespace vandora
