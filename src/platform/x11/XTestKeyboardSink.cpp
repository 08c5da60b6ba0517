#include "platform/x11/XTestKeyboardSink.h"

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/VirtualKeys.h"

namespace vandora {

namespace {

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
    int opcode = 0, xkbError = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (XkbQueryExtension(display_, &opcode, &xkbEventBase_, &xkbError, &xkbMajor, &xkbMinor) ==
        0) {
        XCloseDisplay(display_);
        display_ = nullptr;
        return;
    }
    // Told of a new keymap, a remapping, and a switch of the layout group; not of each modifier.
    XkbSelectEvents(display_, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                    XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
    XkbSelectEventDetails(display_, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask,
                          XkbGroupStateMask);
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
    loadLayout();
}

void XTestKeyboardSink::loadLayout() {
    XFlush(display_);
    xcb_connection_t* connection = XGetXCBConnection(display_);
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (connection == nullptr || context == nullptr) {
        if (context != nullptr) {
            xkb_context_unref(context);
        }
        return;
    }
    std::int32_t device = -1;
    if (xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr) != 0) {
        device = xkb_x11_get_core_keyboard_device_id(connection);
    }
    xkb_keymap* keymap = device < 0 ? nullptr
                                    : xkb_x11_keymap_new_from_device(context, connection, device,
                                                                     XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap != nullptr) {
        XkbStateRec state{};
        XkbGetState(display_, XkbUseCoreKbd, &state);
        layout_ = KeyLayout::fromKeymap(keymap, state.group);
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
}

void XTestKeyboardSink::followKeymapChanges() {
    bool changed = false;
    while (!lost_ && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        changed = changed || event.type == xkbEventBase_ || event.type == MappingNotify;
    }
    if (changed && !lost_) {
        loadLayout();
    }
}

XTestKeyboardSink::~XTestKeyboardSink() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

unsigned XTestKeyboardSink::spareFor(unsigned long keysym) {
    if (spares_.empty() || keysym == 0) {
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
    followKeymapChanges();
    for (char32_t c : codePointsOf(characters)) {
        if (lost_) {
            return;
        }
        if (const KeyStroke* stroke = layout_.strokeOf(c)) {
            for (std::uint32_t modifier : stroke->modifiers) {
                fake(modifier, true);
            }
            fake(stroke->key, true);
            fake(stroke->key, false);
            for (auto it = stroke->modifiers.rbegin(); it != stroke->modifiers.rend(); ++it) {
                fake(*it, false);
            }
            continue;
        }
        unsigned spare = spareFor(xkb_utf32_to_keysym(c));
        if (spare != 0) {
            fake(spare, true);
            fake(spare, false);
            // The spare keycode is remapped per character: the server must see this one first.
            XSync(display_, False);
        }
    }
    XFlush(display_);
}

void XTestKeyboardSink::keyEvent(std::uint32_t vk, std::uint32_t /*scan*/, std::uint32_t flags) {
    std::uint16_t key = linuxKeyOfVirtualKey(vk);
    if (!ready() || key == 0) {
        return;
    }
    // X keycodes are Linux key codes plus 8.
    fake(key + 8u, (flags & kKeyUp) == 0);
    XFlush(display_);
}

}  // namespace vandora
