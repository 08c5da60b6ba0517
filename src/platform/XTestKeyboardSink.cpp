#include "platform/XTestKeyboardSink.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace vandora {

namespace {

// Keysym of a Unicode code point.
KeySym keysymOfCharacter(std::uint32_t c) {
    if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) {
        return c;
    }
    switch (c) {
        case 9:
            return XK_Tab;
        case 10:
        case 13:
            return XK_Return;
        default:
            return 0x01000000UL | c;
    }
}

KeySym keysymOfVk(std::uint32_t vk) {
    if (vk >= 'A' && vk <= 'Z') {
        return XK_a + (vk - 'A');
    }
    if (vk >= '0' && vk <= '9') {
        return vk;
    }
    switch (vk) {
        case 9:
            return XK_Tab;
        case 13:
            return XK_Return;
        case 16:
            return XK_Shift_L;
        case 17:
            return XK_Control_L;
        case 0x20:
            return XK_space;
        case 0x6A:
            return XK_KP_Multiply;
        case 0x6B:
            return XK_KP_Add;
        case 0xBA:
            return XK_semicolon;
        case 0xBB:
            return XK_equal;
        case 0xBC:
            return XK_comma;
        case 0xBD:
            return XK_minus;
        case 0xBE:
            return XK_period;
        case 0xBF:
            return XK_slash;
        case 0xC0:
            return XK_grave;
        case 0xDB:
            return XK_bracketleft;
        case 0xDC:
            return XK_backslash;
        case 0xDD:
            return XK_bracketright;
        case 0xDE:
            return XK_apostrophe;
        default:
            return NoSymbol;
    }
}

// Xlib's default handlers end the process on a lost connection or a refused request; a lost
// X server must only cost the keystrokes.
int quietIoError(Display* /*display*/) {
    return 0;
}

int quietError(Display* /*display*/, XErrorEvent* /*event*/) {
    return 0;
}

void connectionLost(Display* /*display*/, void* sink) {
    static_cast<XTestKeyboardSink*>(sink)->markLost();
}

}  // namespace

XTestKeyboardSink::XTestKeyboardSink() {
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) {
        return;
    }
    XSetIOErrorHandler(quietIoError);
    XSetErrorHandler(quietError);
    XSetIOErrorExitHandler(display_, connectionLost, this);
    int event = 0, error = 0, major = 0, minor = 0;
    if (XTestQueryExtension(display_, &event, &error, &major, &minor) == 0) {
        XCloseDisplay(display_);
        display_ = nullptr;
        return;
    }
    // Spare keycodes: ones with no keysym at all, for characters the keymap lacks.
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(display_, &minCode, &maxCode);
    KeySym* map = XGetKeyboardMapping(display_, static_cast<KeyCode>(minCode),
                                      maxCode - minCode + 1, &perCode);
    for (int code = maxCode; map != nullptr && code >= minCode && spares_.size() < 16; --code) {
        bool empty = true;
        for (int i = 0; i < perCode; ++i) {
            empty = empty && map[(code - minCode) * perCode + i] == NoSymbol;
        }
        if (empty) {
            spares_.push_back(static_cast<unsigned>(code));
        }
    }
    if (map != nullptr) {
        XFree(map);
    }
}

XTestKeyboardSink::~XTestKeyboardSink() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

unsigned XTestKeyboardSink::keycodeFor(unsigned long keysym, bool& shift) {
    shift = false;
    if (lost_) {
        return 0;
    }
    KeyCode code = XKeysymToKeycode(display_, keysym);
    if (code != 0) {
        int perCode = 0;
        KeySym* syms = XGetKeyboardMapping(display_, code, 1, &perCode);
        if (syms != nullptr) {
            shift = perCode > 1 && syms[0] != keysym && syms[1] == keysym;
            XFree(syms);
        }
        return code;
    }
    if (spares_.empty()) {
        return 0;
    }
    unsigned spare = spares_[nextSpare_++ % spares_.size()];
    KeySym sym = keysym;
    XChangeKeyboardMapping(display_, static_cast<int>(spare), 1, &sym, 1);
    XSync(display_, False);
    return spare;
}

void XTestKeyboardSink::fake(unsigned keycode, bool press) {
    XTestFakeKeyEvent(display_, keycode, press ? True : False, CurrentTime);
}

void XTestKeyboardSink::postCharacters(const std::vector<std::uint32_t>& characters) {
    if (!ready()) {
        return;
    }
    unsigned shiftCode = XKeysymToKeycode(display_, XK_Shift_L);
    for (std::uint32_t c : characters) {
        bool shift = false;
        unsigned code = keycodeFor(keysymOfCharacter(c), shift);
        if (code == 0) {
            continue;
        }
        if (shift) {
            fake(shiftCode, true);
        }
        fake(code, true);
        fake(code, false);
        if (shift) {
            fake(shiftCode, false);
        }
        if (lost_) {
            return;
        }
        // The spare keycode is remapped per character: the server must see this one first.
        XSync(display_, False);
    }
}

void XTestKeyboardSink::keyEvent(std::uint32_t vk, std::uint32_t /*scan*/, std::uint32_t flags) {
    if (!ready()) {
        return;
    }
    KeySym sym = keysymOfVk(vk);
    if (sym == NoSymbol) {
        return;
    }
    KeyCode code = XKeysymToKeycode(display_, sym);
    if (code == 0) {
        return;
    }
    fake(code, (flags & kKeyUp) == 0);
    XFlush(display_);
}

}  // namespace vandora
