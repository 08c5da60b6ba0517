// Keystrokes through the X server's XTest extension, for an X session ($DISPLAY).
//
// Posted characters are typed by keysym: the key that carries the character in the current
// keymap, with Shift when the character sits on the shifted level; a character the keymap lacks
// is put on a spare keycode (one without keysyms) for the moment it is typed. Key events map the
// virtual-key codes to keysyms. Without a display or the extension the sink is not ready and
// drops every call; when the X server goes away later it drops every call from then on.
//
// The sink installs quiet Xlib error handlers for the process (Xlib's own end the process on a
// lost connection). Calls wait for the X server's replies (a keymap look-up, a remapping), which a
// live local server answers at once. Threading: one caller at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/KeyboardSink.h"

struct _XDisplay;

namespace vandora {

class XTestKeyboardSink final : public KeyboardSink {
  public:
    XTestKeyboardSink();
    ~XTestKeyboardSink() override;
    bool ready() const { return display_ != nullptr && !lost_; }
    // Called by Xlib when the connection to the X server is lost.
    void markLost() { lost_ = true; }
    void postCharacters(const std::vector<std::uint32_t>& characters) override;
    void keyEvent(std::uint32_t vk, std::uint32_t scan, std::uint32_t flags) override;

  private:
    // The keycode that types keysym, and whether Shift is needed; remaps a spare keycode when
    // the keymap has none.
    unsigned keycodeFor(unsigned long keysym, bool& shift);
    void fake(unsigned keycode, bool press);

    _XDisplay* display_ = nullptr;
    bool lost_ = false;
    // Keycodes without keysyms, used in turn: a receiver may look a key up after the next
    // remapping, so consecutive missing characters never share one.
    std::vector<unsigned> spares_;
    std::size_t nextSpare_ = 0;
};

}  // namespace vandora
