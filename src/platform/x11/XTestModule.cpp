// The X session's keystroke sink as a module of its own: the service loads it (and the X client
// libraries with it) only when keystrokes go to an X server.
#include "platform/x11/XTestKeyboardSink.h"

extern "C" __attribute__((visibility("default"))) vandora::KeyboardSink* vandoraCreateXTestSink() {
    auto* sink = new vandora::XTestKeyboardSink();  // NOLINT: ownership passes to the caller
    if (!sink->ready()) {
        delete sink;  // NOLINT
        return nullptr;
    }
    return sink;
}
