// KeyLayout: which keys type a character on a keyboard layout.
//
// A keystroke sink that sends key positions (the virtual keyboard, XTest) types a character by
// pressing the key that carries it in the layout the receiving desktop uses, with the modifier
// keys of that key's level held: Shift, AltGr (level 3), level 5. The table is built once from an
// xkbcommon keymap, compiled from layout names or read from the X server, and kept as plain
// values. Only levels reached directly are used: dead keys and compose sequences depend on the
// receiving side's input method, so a character that needs them counts as missing. Control, Alt
// and the lock modifiers are never used, since holding them turns typing into shortcuts.
//
// Key codes are xkb key codes: the Linux input key code plus 8, which is also the X server's
// numbering.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct xkb_keymap;

namespace vandora {

// The names an xkb keymap is compiled from; empty fields take xkbcommon's defaults.
struct LayoutNames {
    std::string model;
    std::string layout;
    std::string variant;
    std::string options;
    // "de(nodeadkeys)", for messages.
    std::string describe() const;
};

// One character as keys: hold `modifiers` (in order), tap `key`, let go in reverse order.
struct KeyStroke {
    std::uint32_t key = 0;
    std::vector<std::uint32_t> modifiers;
    bool operator==(const KeyStroke&) const = default;
};

class KeyLayout {
  public:
    // The layout that the virtual keyboard types for: $VANDORA_XKB_LAYOUT (with
    // $VANDORA_XKB_VARIANT), else the system's keyboard configuration (/etc/default/keyboard),
    // else "us".
    static LayoutNames configuredNames();
    // XKBMODEL, XKBLAYOUT, XKBVARIANT and XKBOPTIONS of a keyboard configuration file's text.
    static LayoutNames namesFromKeyboardFile(std::string_view text);

    // Compiled from names; not ok() when xkbcommon cannot compile them.
    static KeyLayout fromNames(const LayoutNames& names);
    // From a keymap, for its layout (group) `layoutIndex`.
    static KeyLayout fromKeymap(xkb_keymap* keymap, std::uint32_t layoutIndex);

    bool ok() const { return !byCharacter_.empty(); }
    const std::string& name() const { return name_; }
    // The keys of a Unicode character, or null when the layout has no level that types it.
    const KeyStroke* strokeOf(char32_t character) const;
    // The keys of an xkb keysym (Tab, Return, Linefeed, ...), or null.
    const KeyStroke* strokeOfKeysym(std::uint32_t keysym) const;

  private:
    std::string name_;
    std::unordered_map<char32_t, KeyStroke> byCharacter_;
    std::unordered_map<std::uint32_t, KeyStroke> byKeysym_;
};

// Code points of UTF-16 units: a surrogate pair becomes one character; a lone surrogate stays.
std::vector<char32_t> codePointsOf(const std::vector<std::uint32_t>& units);

}  // namespace vandora
