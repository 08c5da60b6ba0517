// KeyboardSink: where emulated keystrokes go.
//
// Two calls carry every key sequence: postCharacters (a batch of characters typed into the
// focused window) and keyEvent (one key going down or up, by Windows virtual-key code, with a
// scan code and flags: 2 key up, 4 silent). Sinks:
//   log:PATH  appends one line per call ("post N c1 c2 ..." with uppercase hexadecimal code
//             points, "key VK SCAN FLAGS" in decimal) so other programs can check sequences;
//   uinput    a virtual keyboard through /dev/uinput;
//   xtest     the X server's XTest extension (XTestKeyboardSink.h);
//   none      drops everything.
// A sink that fails (no device, file not writable, X server gone) drops the call: the log is
// written without waiting, the virtual keyboard is non-blocking. The XTest sink waits for its X
// server's replies, so a hung server holds a call up; the typing thread (runtime/TypingThread.h)
// is what keeps that away from the rest of the service. The log sink says once that it cannot
// write (again only after it could in between), not once per key.
// Threading: one caller at a time (the typing thread, or a tool).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/KeyLayout.h"

namespace vandora {

class KeyboardSink {
  public:
    static constexpr std::uint32_t kKeyUp = 2;
    static constexpr std::uint32_t kSilent = 4;

    virtual ~KeyboardSink() = default;
    virtual void postCharacters(const std::vector<std::uint32_t>& characters) = 0;
    virtual void keyEvent(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags) = 0;
    // Characters the layout lacks: typed as Ctrl+Shift+U, hexadecimal digits and space (the
    // entry that common Linux input methods understand) when on, else dropped. Only the virtual
    // keyboard needs it; the XTest sink puts such a character on a spare key.
    virtual void setUnicodeEntry(bool /*on*/) {}
    // The text of one decode is complete: a sink that dropped characters says so now, once.
    virtual void endOfText() {}
};

class NullKeyboardSink final : public KeyboardSink {
  public:
    void postCharacters(const std::vector<std::uint32_t>&) override {}
    void keyEvent(std::uint32_t, std::uint32_t, std::uint32_t) override {}
};

class LogKeyboardSink final : public KeyboardSink {
  public:
    // Receives the one line that says the log cannot be written; the default writes it to
    // standard error.
    using Reporter = std::function<void(const std::string& message)>;

    explicit LogKeyboardSink(std::string path, Reporter report = {});
    void postCharacters(const std::vector<std::uint32_t>& characters) override;
    void keyEvent(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags) override;

  private:
    void appendLine(const std::string& line);
    void failed(int error);
    std::string path_;
    Reporter report_;
    bool failing_ = false;
};

// A virtual keyboard. Posted characters are typed on the configured layout
// (KeyLayout::configuredNames): the key and modifiers of the level that carries the character;
// AltGr levels included. Key events map virtual-key codes to Linux key codes (VirtualKeys.h).
// Characters the layout lacks are typed by Unicode entry when it is on, else dropped and counted
// in one message per text.
class UinputKeyboardSink final : public KeyboardSink {
  public:
    using Reporter = std::function<void(const std::string& message)>;

    // A device through /dev/uinput, typing for `names` (default: the configured layout).
    UinputKeyboardSink();
    explicit UinputKeyboardSink(const LayoutNames& names, Reporter report = {});
    // Writes the input events to `eventFd` (not owned) instead of a device: what a device would
    // receive, for tests and measurements.
    UinputKeyboardSink(int eventFd, const LayoutNames& names, Reporter report = {});
    ~UinputKeyboardSink() override;
    UinputKeyboardSink(const UinputKeyboardSink&) = delete;
    UinputKeyboardSink& operator=(const UinputKeyboardSink&) = delete;

    bool ready() const { return fd_ >= 0 && layout_.ok(); }
    const KeyLayout& layout() const { return layout_; }
    void postCharacters(const std::vector<std::uint32_t>& characters) override;
    void keyEvent(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags) override;
    void setUnicodeEntry(bool on) override { unicodeEntry_ = on; }
    void endOfText() override;

  private:
    void openDevice();
    void press(std::uint32_t xkbKey, bool down);
    void type(const KeyStroke& stroke);
    bool typeByUnicodeEntry(char32_t character);
    void flush();

    KeyLayout layout_;
    Reporter report_;
    int fd_ = -1;
    bool ownsFd_ = false;
    bool unicodeEntry_ = false;
    std::size_t dropped_ = 0;             // characters of this decode the layout lacks
    std::vector<unsigned char> pending_;  // input events not yet written
};

// The sink named by `name` ("uinput", "xtest", "log:PATH" or "none"), or, when name is empty, by
// $VANDORA_KEYBOARD, else uinput when /dev/uinput can be opened, else xtest when $DISPLAY is set
// and reachable, else none.
std::unique_ptr<KeyboardSink> makeKeyboardSink(const std::string& name);

}  // namespace vandora
