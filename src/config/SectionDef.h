// A settings section as data: its name and its keys in accessor order, and references to single
// keys that are resolved when compiled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vandora {

enum class KeyKind : std::uint8_t { Int, Text };

struct SectionKey {
    std::string_view name;
    KeyKind kind = KeyKind::Int;
};

struct SectionDef {
    std::string_view name;
    std::span<const SectionKey> keys;
};

// The most keys any section has; accessor calls keep their references on the stack.
inline constexpr std::size_t kMaxSectionKeys = 24;

// One key of one section, found when compiled: the engine command tables, the plans and the
// default sets name keys through it, so a key a section lacks is a build error, not a setting
// silently dropped.
struct KeyRef {
    const SectionDef* section = nullptr;
    std::uint8_t index = 0;

    constexpr bool isSet() const { return section != nullptr; }
    constexpr std::string_view name() const { return section->keys[index].name; }
    constexpr bool in(const SectionDef& s) const { return section == &s; }
};

namespace detail {
// Not constexpr: reaching it while compiling a key lookup stops the build.
inline void keyMissingFromSection() {}
}  // namespace detail

consteval KeyRef key(const SectionDef& section, std::string_view name) {
    for (std::size_t i = 0; i < section.keys.size(); ++i) {
        if (section.keys[i].name == name) {
            return {&section, static_cast<std::uint8_t>(i)};
        }
    }
    detail::keyMissingFromSection();
    return {};
}

}  // namespace vandora
