// CommandSet: what the settings transfer needs to know of an engine family's setting commands,
// whether they change a configuration block the host keeps (CCD/Laser) or numbered parameters in
// the engine (packet engines).
//
// Each command takes the direction ('r' reads, 'w' writes) and one optional argument per setting,
// in the command's order (null: leave that setting alone). Each argument is bound, when the table
// is compiled, to the section key it mirrors, with the engine types for which load-all sends it and
// save-all writes it. Results are 1 or 0.
#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "config/SettingSections.h"
#include "reader/ReaderManager.h"

namespace vandora {

class ParamCache;

// A set of engine types, one bit per type number.
struct TypeSet {
    std::uint16_t bits = 0;

    constexpr TypeSet() = default;
    constexpr TypeSet(std::initializer_list<EngineType> types) {
        for (EngineType t : types) {
            bits = static_cast<std::uint16_t>(bits | (1u << static_cast<unsigned>(toNumber(t))));
        }
    }
    static constexpr TypeSet every() {
        TypeSet all;
        all.bits = 0xFFFF;
        return all;
    }
    constexpr bool has(EngineType type) const {
        std::int32_t n = toNumber(type);
        return n >= 0 && n < 16 && (bits & (1u << static_cast<unsigned>(n))) != 0;
    }
    constexpr bool empty() const { return bits == 0; }
};

// No default: the default set leaves the argument absent.
inline constexpr std::int32_t kNoDefault = INT32_MIN;

// One argument of a command and the setting it mirrors: one row per setting.
struct ArgBinding {
    std::string_view name;
    // The section key; unset for an argument no section holds.
    KeyRef key{};
    // Engine types for which load-all sends it and save-all writes it back.
    TypeSet load = TypeSet::every();
    TypeSet save = TypeSet::every();
    // The program's default set, by engine type number.
    std::array<std::int32_t, kEngineTypeCount> defaults = noDefaults();
    // The value when the default set sends the command a second time.
    std::int32_t again = kNoDefault;

    static constexpr std::array<std::int32_t, kEngineTypeCount> noDefaults() {
        std::array<std::int32_t, kEngineTypeCount> none{};
        none.fill(kNoDefault);
        return none;
    }
    constexpr void setDefault(TypeSet types, std::int32_t value) {
        for (std::int32_t n = 0; n < kEngineTypeCount; ++n) {
            if (types.has(engineTypeFromNumber(n))) {
                defaults[static_cast<std::size_t>(n)] = value;
            }
        }
    }
    constexpr std::int32_t defaultFor(EngineType type, bool second) const {
        std::int32_t n = toNumber(type);
        if (second) {
            return again;
        }
        return n >= 0 && n < kEngineTypeCount ? defaults[static_cast<std::size_t>(n)] : kNoDefault;
    }
};

// The most arguments any command of any family takes.
inline constexpr std::size_t kMaxCommandArgs = 20;

using CommandId = std::uint8_t;

class CommandSet {
  public:
    virtual ~CommandSet() = default;

    virtual std::size_t commandCount() const = 0;
    virtual std::span<const ArgBinding> arguments(CommandId command) const = 0;
    // Whether one argument takes part on an engine type.
    virtual bool argumentApplies(CommandId command, std::size_t arg, EngineType type) const = 0;
    virtual std::int32_t run(ReaderChannel& channel, ParamCache& cache, CommandId command,
                             int direction, std::span<std::int32_t* const> args) const = 0;
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
