// Keystrokes through the X server's XTest extension, for an X session ($DISPLAY).
//
// Posted characters are typed on the X server's own keymap, in its current layout group: the key
// that carries the character and the modifier keys of its level (Shift, AltGr), as KeyLayout
// finds them in the keymap read through xkbcommon. The keymap is read again when the server says
// it changed (setxkbmap, a layout switch). A character the keymap lacks is put on a spare keycode
// (one without keysyms) for the moment it is typed. Key events are key positions: the virtual
// keys of VirtualKeys.h. Without a display or the extensions the sink is not ready and drops
// every call; when the X server goes away later it drops every call from then on.
//
// The sink installs quiet Xlib error handlers for the process (Xlib's own end the process on a
// lost connection). Calls wait for the X server's replies (a keymap, a remapping), which a live
// local server answers at once and a hung one never does. Threading: one caller at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/KeyLayout.h"
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
    const KeyLayout& layout() const { return layout_; }

  private:
    void loadLayout();
    // Reads the keymap again when the server announced a change since the last call.
    void followKeymapChanges();
    // A spare keycode remapped to keysym; 0 when there is none.
    unsigned spareFor(unsigned long keysym);
    void fake(unsigned keycode, bool press);

    _XDisplay* display_ = nullptr;
    bool lost_ = false;
    int xkbEventBase_ = -1;
    KeyLayout layout_;
    // Keycodes without keysyms, used in turn: a receiver may look a key up after the next
    // remapping, so consecutive missing characters never share one.
    std::vector<unsigned> spares_;
    std::size_t nextSpare_ = 0;
};

}  // namespace vandora
