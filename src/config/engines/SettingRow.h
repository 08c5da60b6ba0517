// The part of a setting row that every engine family shares: the section key it mirrors, the
// engine types load-all and save-all move it for, and the default set's values.
#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "config/SectionDef.h"
#include "reader/ReaderTypes.h"

namespace vandora {

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

// The section keys of a command whose arguments are its section's keys, in the same order.
template <typename Arg, std::size_t N>
consteval std::array<SectionKey, N> keysOf(const Arg (&args)[N]) {
    std::array<SectionKey, N> keys{};
    for (std::size_t i = 0; i < N; ++i) {
        keys[i] = {args[i].bind.name};
    }
    return keys;
}

}  // namespace vandora
