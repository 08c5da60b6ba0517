// CommandSet: what the settings transfer needs to know of an engine family's setting commands,
// whether they change a configuration block the host keeps (CCD/Laser) or numbered parameters in
// the engine (packet engines).
//
// Each command takes the direction ('r' reads, 'w' writes) and one optional argument per setting,
// in the command's order (null: leave that setting alone). Each argument is a setting row
// (SettingRow.h): the section key it mirrors, bound when the table is compiled, the engine types
// for which load-all sends it and save-all writes it, and its default values. Results are 1 or 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "config/SettingSections.h"
#include "config/engines/SettingRow.h"
#include "reader/ReaderManager.h"

namespace vandora {

class ParamCache;

using CommandId = std::uint8_t;

class CommandSet {
  public:
    virtual ~CommandSet() = default;

    virtual std::size_t commandCount() const = 0;
    virtual std::span<const ArgBinding> arguments(CommandId command) const = 0;
    // Whether one argument takes part on an engine type.
    virtual bool argumentApplies(CommandId command, std::size_t arg, EngineType type) const = 0;
    // Runs a command on channel, one of manager's (whose scan mode and host options a command
    // may change).
    virtual std::int32_t run(ReaderManager& manager, ReaderChannel& channel, ParamCache& cache,
                             CommandId command, int direction,
                             std::span<std::int32_t* const> args) const = 0;
};

// Index of a named argument; -1 when the command has none of that name.
inline int argumentIndex(std::span<const ArgBinding> args, std::string_view name) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace vandora
