// The keystrokes of each decode, typed into whatever window is active: on while keyboardEmu is
// set (2 types virtual-key presses for remote desktops), never into the service's own window.
#pragma once

#include "platform/Clock.h"
#include "platform/KeyboardSink.h"
#include "runtime/DecodeFormat.h"
#include "runtime/DecodeSink.h"

namespace vandora {

// The output settings of a decode, copied from the settings record.
OutputOptions outputOptionsOf(const AppSettings& settings);

class TypingSink final : public DecodeSink {
  public:
    TypingSink(KeyboardSink& keyboard, Clock& clock) : keyboard_(keyboard), clock_(clock) {}
    void deliver(const Delivery& delivery, const AppSettings& settings) override;

  private:
    KeyboardSink& keyboard_;
    Clock& clock_;
};

}  // namespace vandora
