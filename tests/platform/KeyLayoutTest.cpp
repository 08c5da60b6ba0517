// Which keys type a character on a layout, without a display: the table of the virtual keyboard,
// and what a desktop that reads the virtual keyboard's events with the same layout receives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <string>
#include <vector>

#include "platform/KeyLayout.h"
#include "platform/KeyboardSink.h"

namespace vandora {
namespace {

constexpr std::uint32_t kOffset = 8;  // xkb key codes are Linux key codes plus 8

LayoutNames names(const char* layout, const char* variant = "") {
    LayoutNames n;
    n.layout = layout;
    n.variant = variant;
    return n;
}

struct StrokeCase {
    const char* layout;
    const char* variant;
    char32_t character;
    int key;                     // Linux key code; 0: the layout cannot type it
    std::vector<int> modifiers;  // Linux key codes held
};

TEST(KeyLayout, CharactersMapToTheKeysOfTheirLayout) {
    const StrokeCase cases[] = {
        {"us", "", U'a', KEY_A, {}},
        {"us", "", U'A', KEY_A, {KEY_LEFTSHIFT}},
        {"us", "", U'+', KEY_EQUAL, {KEY_LEFTSHIFT}},  // the main key, not the keypad's
        {"us", "", U'7', KEY_7, {}},
        {"us", "", U'\t', KEY_TAB, {}},
        {"us", "", U'\r', KEY_ENTER, {}},
        {"us", "", U'\n', KEY_LINEFEED, {}},
        {"us", "", U'\u00E9', 0, {}},
        {"de", "", U'y', KEY_Z, {}},
        {"de", "", U'z', KEY_Y, {}},
        {"de", "", U'Z', KEY_Y, {KEY_LEFTSHIFT}},
        {"de", "", U'\u00E4', KEY_APOSTROPHE, {}},
        {"de", "", U'\u00DF', KEY_MINUS, {}},
        {"de", "", U'@', KEY_Q, {KEY_RIGHTALT}},
        {"de", "", U'\u20AC', KEY_E, {KEY_RIGHTALT}},
        {"de", "", U'^', 0, {}},  // a dead key: its character needs the input method
        {"de", "nodeadkeys", U'^', KEY_GRAVE, {}},
        {"fr", "", U'\u00E9', KEY_2, {}},
        {"fr", "", U'a', KEY_Q, {}},
        {"fr", "", U'1', KEY_1, {KEY_LEFTSHIFT}},
        {"fr", "", U'@', KEY_0, {KEY_RIGHTALT}},
        {"fr", "", U'\u00EA', 0, {}},
        {"jp", "", U'@', KEY_LEFTBRACE, {}},
    };
    for (const StrokeCase& c : cases) {
        KeyLayout layout = KeyLayout::fromNames(names(c.layout, c.variant));
        ASSERT_TRUE(layout.ok()) << c.layout;
        SCOPED_TRACE(std::string(c.layout) + "(" + c.variant + ") U+" +
                     std::to_string(static_cast<unsigned>(c.character)));
        const KeyStroke* stroke = layout.strokeOf(c.character);
        if (c.key == 0) {
            EXPECT_EQ(stroke, nullptr);
            continue;
        }
        ASSERT_NE(stroke, nullptr);
        EXPECT_EQ(stroke->key, static_cast<std::uint32_t>(c.key) + kOffset);
        std::vector<int> held;
        for (std::uint32_t m : stroke->modifiers) {
            held.push_back(static_cast<int>(m - kOffset));
        }
        EXPECT_EQ(held, c.modifiers);
    }
}

TEST(KeyLayout, NamesComeFromTheEnvironmentThenTheKeyboardFile) {
    LayoutNames file = KeyLayout::namesFromKeyboardFile(
        "# KEYBOARD CONFIGURATION FILE\nXKBMODEL=\"pc105\"\nXKBLAYOUT=\"fr\"\n"
        "XKBVARIANT=\"oss\"\nXKBOPTIONS=\"lv3:ralt_switch\"\nBACKSPACE=\"guess\"\n");
    EXPECT_EQ(file.model, "pc105");
    EXPECT_EQ(file.layout, "fr");
    EXPECT_EQ(file.variant, "oss");
    EXPECT_EQ(file.options, "lv3:ralt_switch");
    EXPECT_EQ(file.describe(), "fr(oss)");

    setenv("VANDORA_XKB_LAYOUT", "de", 1);
    setenv("VANDORA_XKB_VARIANT", "nodeadkeys", 1);
    LayoutNames env = KeyLayout::configuredNames();
    unsetenv("VANDORA_XKB_LAYOUT");
    unsetenv("VANDORA_XKB_VARIANT");
    EXPECT_EQ(env.describe(), "de(nodeadkeys)");
    EXPECT_FALSE(KeyLayout::configuredNames().layout.empty()) << "us at the least";
}

// What a desktop reading the virtual keyboard with `layout` receives: the events the sink wrote
// into a pipe, fed through xkbcommon's own state machine.
class Desktop {
  public:
    explicit Desktop(const LayoutNames& n) {
        context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_rule_names rules{"evdev", nullptr, n.layout.c_str(),
                             n.variant.empty() ? nullptr : n.variant.c_str(), nullptr};
        keymap_ = xkb_keymap_new_from_names(context_, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
        state_ = xkb_state_new(keymap_);
        EXPECT_EQ(pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0);
    }
    ~Desktop() {
        close(fds_[0]);
        close(fds_[1]);
        xkb_state_unref(state_);
        xkb_keymap_unref(keymap_);
        xkb_context_unref(context_);
    }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;
    int eventFd() const { return fds_[1]; }
    // The text typed so far: each key press as its character; a key pressed while Control is
    // held as "<C-keysym>" (the unicode entry chord is "<C-U>").
    std::string received() {
        input_event event{};
        while (read(fds_[0], &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
            if (event.type != EV_KEY) {
                continue;
            }
            xkb_keycode_t key = event.code + kOffset;
            if (event.value == 1) {
                if (xkb_state_mod_name_is_active(state_, XKB_MOD_NAME_CTRL,
                                                 XKB_STATE_MODS_EFFECTIVE) > 0) {
                    xkb_keysym_t sym = xkb_state_key_get_one_sym(state_, key);
                    bool modifierKey = (sym >= XKB_KEY_Shift_L && sym <= XKB_KEY_Hyper_R) ||
                                       (sym >= XKB_KEY_ISO_Lock && sym <= XKB_KEY_ISO_Level5_Lock);
                    if (!modifierKey) {
                        char name[64];
                        xkb_keysym_get_name(sym, name, sizeof name);
                        text_ += std::string("<C-") + name + ">";
                    }
                } else {
                    char utf8[16];
                    xkb_state_key_get_utf8(state_, key, utf8, sizeof utf8);
                    text_ += utf8;
                }
            }
            xkb_state_update_key(state_, key, event.value == 1 ? XKB_KEY_DOWN : XKB_KEY_UP);
        }
        return text_;
    }

  private:
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    int fds_[2] = {-1, -1};
    std::string text_;
};

std::vector<std::uint32_t> units(std::u16string_view text) {
    return {text.begin(), text.end()};
}

struct TypedCase {
    const char* layout;
    const char* variant;
    std::u16string_view text;
    const char* received;  // UTF-8
};

TEST(VirtualKeyboard, TheDesktopReceivesTheTextOnEachLayout) {
    const TypedCase cases[] = {
        {"us", "", u"yz Hello, World! 1+1=2 ~`\"'", "yz Hello, World! 1+1=2 ~`\"'"},
        {"de", "", u"yz\u00E4\u00F6\u00FC\u00DF@\u20AC YZ", "yz\u00E4\u00F6\u00FC\u00DF@\u20AC YZ"},
        {"de", "nodeadkeys", u"^2 = 4", "^2 = 4"},
        {"fr", "", u"\u00E9yz@\u20AC 123 AZERTY", "\u00E9yz@\u20AC 123 AZERTY"},
        {"jp", "", u"@[]\\_", "@[]\\_"},
        {"gb", "", u"\u00A3#\"@", "\u00A3#\"@"},
    };
    for (const TypedCase& c : cases) {
        SCOPED_TRACE(std::string(c.layout) + "(" + c.variant + ")");
        Desktop desktop(names(c.layout, c.variant));
        UinputKeyboardSink sink(desktop.eventFd(), names(c.layout, c.variant));
        ASSERT_TRUE(sink.ready());
        sink.postCharacters(units(c.text));
        EXPECT_EQ(desktop.received(), c.received);
    }
}

TEST(VirtualKeyboard, TabReturnAndLineFeedArriveAsKeys) {
    Desktop desktop(names("de"));
    UinputKeyboardSink sink(desktop.eventFd(), names("de"));
    for (std::uint32_t vk : {9u, 13u, 10u}) {
        sink.keyEvent(vk, 0, 0);
        sink.keyEvent(vk, 0, KeyboardSink::kKeyUp);
    }
    EXPECT_EQ(desktop.received(), "\t\r\n");
}

TEST(VirtualKeyboard, CharactersOffTheLayoutAreEnteredByCodeOrDroppedAndReported) {
    std::vector<std::string> reports;
    Desktop desktop(names("fr"));
    UinputKeyboardSink sink(desktop.eventFd(), names("fr"),
                            [&](const std::string& m) { reports.push_back(m); });
    // U+4E2D and U+1F600 (a surrogate pair in the decode's text) are on no layout.
    sink.postCharacters(units(u"a\u4E2Db\U0001F600"));
    sink.endOfText();
    EXPECT_EQ(desktop.received(), "ab");
    ASSERT_EQ(reports.size(), 1u) << "one message for the text, not one per character";
    EXPECT_NE(reports[0].find("2 character(s)"), std::string::npos) << reports[0];
    EXPECT_EQ(reports[0].find("4E2D"), std::string::npos) << "decoded data stays out of the log";
    EXPECT_EQ(reports[0].find("U+"), std::string::npos) << reports[0];
    sink.endOfText();
    EXPECT_EQ(reports.size(), 1u) << "nothing more dropped, nothing more said";

    // With entry on, the digits come from the French layout's shifted level.
    sink.setUnicodeEntry(true);
    sink.postCharacters(units(u"\u4E2D\U0001F600"));
    sink.endOfText();
    EXPECT_EQ(desktop.received(), "ab<C-U>4e2d <C-U>1f600 ");
    EXPECT_EQ(reports.size(), 1u);
}

}  // namespace
}  // namespace vandora
