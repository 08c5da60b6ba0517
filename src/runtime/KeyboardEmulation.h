// Keystroke emulation: the output text of a decode as key calls into a KeyboardSink, either as
// posted characters (local mode) or as virtual-key presses that also pass through a
// remote-desktop client (RDP mode).
#pragma once

#include "common/ByteString.h"
#include "platform/Clock.h"
#include "platform/KeyboardSink.h"

namespace vandora {

void emulateKeyboard(const ByteString& text, bool rdpMode, KeyboardSink& sink, Clock& clock);

}  // namespace vandora
