#include "platform/KeyLayout.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <sstream>
#include <tuple>

#include "common/Utf.h"
#include "platform/FileContents.h"

namespace vandora {

namespace {

constexpr std::uint32_t kEvdevOffset = 8;
// X keycodes end at 255, and the virtual keyboard declares the keys below it: keys above
// (multimedia keys that some layouts give a character) cannot be pressed.
constexpr std::uint32_t kHighestKey = 255;
// Shift and AltGr first: of several keys that set a modifier, the ones every keyboard has.
constexpr std::uint32_t kPreferredModifierKeys[] = {42 + kEvdevOffset, 100 + kEvdevOffset};

bool isKeypadKeysym(xkb_keysym_t sym) {
    return sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_Equal;
}

// A fresh state on layout `layout`, nothing held.
xkb_state* freshState(xkb_keymap* keymap, std::uint32_t layout) {
    xkb_state* state = xkb_state_new(keymap);
    if (state != nullptr) {
        xkb_state_update_mask(state, 0, 0, 0, 0, 0, layout);
    }
    return state;
}

std::string trimmedValue(std::string value) {
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) {
        value.pop_back();
    }
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

std::string LayoutNames::describe() const {
    return variant.empty() ? layout : layout + "(" + variant + ")";
}

LayoutNames KeyLayout::namesFromKeyboardFile(std::string_view text) {
    LayoutNames names;
    std::istringstream in{std::string(text)};
    std::string line;
    while (std::getline(in, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') {
            continue;
        }
        std::size_t eq = line.find('=', start);
        if (eq == std::string::npos) {
            continue;
        }
        std::string key = line.substr(start, eq - start);
        std::string value = trimmedValue(line.substr(eq + 1));
        if (key == "XKBMODEL") {
            names.model = value;
        } else if (key == "XKBLAYOUT") {
            names.layout = value;
        } else if (key == "XKBVARIANT") {
            names.variant = value;
        } else if (key == "XKBOPTIONS") {
            names.options = value;
        }
    }
    return names;
}

LayoutNames KeyLayout::configuredNames() {
    const char* layout = std::getenv("VANDORA_XKB_LAYOUT");
    if (layout != nullptr && *layout != '\0') {
        const char* variant = std::getenv("VANDORA_XKB_VARIANT");
        LayoutNames names;
        names.layout = layout;
        names.variant = variant != nullptr ? variant : "";
        return names;
    }
    std::vector<std::uint8_t> file;
    if (readWholeFile("/etc/default/keyboard", file)) {
        LayoutNames names = namesFromKeyboardFile(std::string(file.begin(), file.end()));
        if (!names.layout.empty()) {
            return names;
        }
    }
    LayoutNames names;
    names.layout = "us";
    return names;
}

KeyLayout KeyLayout::fromNames(const LayoutNames& names) {
    KeyLayout layout;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context == nullptr) {
        return layout;
    }
    auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    xkb_rule_names rules{"evdev", orNull(names.model), orNull(names.layout), orNull(names.variant),
                         orNull(names.options)};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap != nullptr) {
        layout = fromKeymap(keymap, 0);
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    layout.name_ = names.describe();
    return layout;
}

KeyLayout KeyLayout::fromKeymap(xkb_keymap* keymap, std::uint32_t layoutIndex) {
    KeyLayout result;
    if (const char* name = xkb_keymap_layout_get_name(keymap, layoutIndex)) {
        result.name_ = name;
    }
    xkb_mod_mask_t allowed = 0;
    for (const char* mod : {XKB_MOD_NAME_SHIFT, "Mod3", "Mod5"}) {
        xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, mod);
        if (index != XKB_MOD_INVALID) {
            allowed |= 1u << index;
        }
    }
    const xkb_keycode_t minKey = xkb_keymap_min_keycode(keymap);
    const xkb_keycode_t maxKey =
        std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), kHighestKey);

    // The key that sets each allowed modifier on its own, while held.
    std::array<std::uint32_t, 32> modifierKey{};
    auto tryModifier = [&](xkb_keycode_t key) {
        xkb_state* state = freshState(keymap, layoutIndex);
        if (state == nullptr) {
            return;
        }
        xkb_state_update_key(state, key, XKB_KEY_DOWN);
        xkb_mod_mask_t held = xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED);
        xkb_mod_mask_t stuck = xkb_state_serialize_mods(
            state,
            static_cast<xkb_state_component>(XKB_STATE_MODS_LATCHED | XKB_STATE_MODS_LOCKED));
        xkb_state_unref(state);
        if (stuck == 0 && std::popcount(held) == 1 && (held & allowed) != 0) {
            std::uint32_t& slot = modifierKey[static_cast<std::size_t>(std::countr_zero(held))];
            if (slot == 0) {
                slot = key;
            }
        }
    };
    for (std::uint32_t key : kPreferredModifierKeys) {
        tryModifier(key);
    }
    for (xkb_keycode_t key = minKey; key <= maxKey; ++key) {
        tryModifier(key);
    }

    // Of several ways to type one keysym: main keys before the keypad (whose meaning follows Num
    // Lock), fewer modifiers, then the lower key code.
    using Rank = std::tuple<bool, int, std::uint32_t>;
    std::unordered_map<std::uint32_t, Rank> symRank;
    std::unordered_map<char32_t, Rank> charRank;
    for (xkb_keycode_t key = minKey; key <= maxKey; ++key) {
        xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap, key);
        if (layouts == 0) {
            continue;
        }
        xkb_layout_index_t layout = layoutIndex < layouts ? layoutIndex : 0;
        xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, key, layout);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, key, layout, level, &syms) != 1) {
                continue;
            }
            const xkb_keysym_t sym = syms[0];
            std::array<xkb_mod_mask_t, 16> masks{};
            std::size_t count = xkb_keymap_key_get_mods_for_level(keymap, key, layout, level,
                                                                  masks.data(), masks.size());
            bool found = false;
            xkb_mod_mask_t best = 0;
            for (std::size_t i = 0; i < count; ++i) {
                if ((masks[i] & ~allowed) == 0 &&
                    (!found || std::popcount(masks[i]) < std::popcount(best))) {
                    best = masks[i];
                    found = true;
                }
            }
            if (!found) {
                continue;
            }
            KeyStroke stroke;
            stroke.key = key;
            for (xkb_mod_mask_t rest = best; rest != 0; rest &= rest - 1) {
                std::uint32_t modKey =
                    modifierKey[static_cast<std::size_t>(std::countr_zero(rest))];
                if (modKey == 0) {
                    found = false;
                    break;
                }
                stroke.modifiers.push_back(modKey);
            }
            if (!found) {
                continue;
            }
            // Checked by pressing the keys in a fresh state, as the receiving side will.
            xkb_state* state = freshState(keymap, layoutIndex);
            if (state == nullptr) {
                continue;
            }
            for (std::uint32_t modKey : stroke.modifiers) {
                xkb_state_update_key(state, modKey, XKB_KEY_DOWN);
            }
            bool types = xkb_state_key_get_one_sym(state, key) == sym;
            xkb_state_unref(state);
            if (!types) {
                continue;
            }
            Rank rank{isKeypadKeysym(sym), std::popcount(best), key};
            if (auto it = symRank.find(sym); it == symRank.end() || rank < it->second) {
                symRank[sym] = rank;
                result.byKeysym_[sym] = stroke;
            }
            char32_t character = xkb_keysym_to_utf32(sym);
            if (character == 0) {
                continue;  // dead keys and function keys type no character of their own
            }
            if (auto it = charRank.find(character); it == charRank.end() || rank < it->second) {
                charRank[character] = rank;
                result.byCharacter_[character] = stroke;
            }
        }
    }
    return result;
}

const KeyStroke* KeyLayout::strokeOf(char32_t character) const {
    auto it = byCharacter_.find(character);
    return it == byCharacter_.end() ? nullptr : &it->second;
}

const KeyStroke* KeyLayout::strokeOfKeysym(std::uint32_t keysym) const {
    auto it = byKeysym_.find(keysym);
    return it == byKeysym_.end() ? nullptr : &it->second;
}

std::vector<char32_t> codePointsOf(const std::vector<std::uint32_t>& units) {
    std::vector<char32_t> out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        out.push_back(takeCodePoint(units, units.size(), i));
    }
    return out;
}

}  // namespace vandora
