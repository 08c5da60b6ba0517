// Keystroke emulation: the output text of a decode as key calls into a KeyboardSink, either as
// posted characters (local mode) or as virtual-key presses that also pass through a
// remote-desktop client (RDP mode).
#pragma once

#include <atomic>
#include <cstdint>

#include "common/ByteString.h"
#include "platform/Clock.h"
#include "platform/KeyboardSink.h"

namespace vandora {

void emulateKeyboard(const ByteString& text, bool rdpMode, KeyboardSink& sink, Clock& clock);

// The keystrokes of one decode, with their pace.
struct TypingJob {
    ByteString text;
    bool rdpMode = false;
    // Wait between two calls into the sink; posted characters then go one per call, so the
    // receiving application gets the pause between every two keys.
    std::uint32_t interKeyDelayMs = 0;
    // Wait after the terminator cell at terminatorAt (npos: none), before what follows it.
    std::uint32_t terminatorDelayMs = 0;
    std::size_t terminatorAt = ByteString::npos;
    bool unicodeEntry = false;
};

// Types a job into sink, sleeping on clock for its pace. `stop` (may be null) is read before
// each call into the sink: once it holds, the rest of the job is dropped. afterAnother: keys of
// another job went just before, so the pause comes before this job's first key too.
void typeJob(const TypingJob& job, KeyboardSink& sink, Clock& clock,
             const std::atomic<bool>* stop = nullptr, bool afterAnother = false);

}  // namespace vandora
