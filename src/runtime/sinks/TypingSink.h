// The keystrokes of each decode, typed into whatever window is active: on while keyboardEmu is
// set (2 types virtual-key presses for remote desktops), never into the service's own window.
// Paced by interKeyDelay (between keys) and terminatorDelay (after the terminator); unicodeEntry
// lets the virtual keyboard type characters its layout lacks. The service hands the keystrokes to
// a TypingThread, so that deliver returns at once; tests and tools may type on the calling
// thread instead.
#pragma once

#include "platform/Clock.h"
#include "platform/KeyboardSink.h"
#include "runtime/DecodeFormat.h"
#include "runtime/DecodeSink.h"
#include "runtime/KeyboardEmulation.h"
#include "runtime/TypingThread.h"

namespace vandora {

// The output settings of a decode, copied from the settings record.
OutputOptions outputOptionsOf(const AppSettings& settings);
// The keystrokes of a decode's output text with the pace of the settings.
TypingJob typingJobOf(const ByteString& output, const AppSettings& settings);

class TypingSink final : public DecodeSink {
  public:
    // Types on the thread that delivers.
    TypingSink(KeyboardSink& keyboard, Clock& clock) : keyboard_(&keyboard), clock_(&clock) {}
    // Hands every decode's keystrokes to `thread`.
    explicit TypingSink(TypingThread& thread) : thread_(&thread) {}
    void deliver(const Delivery& delivery, const AppSettings& settings) override;

  private:
    KeyboardSink* keyboard_ = nullptr;
    Clock* clock_ = nullptr;
    TypingThread* thread_ = nullptr;
};

}  // namespace vandora
