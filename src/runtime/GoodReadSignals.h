// Good-read signals: buzzer, sound file, LED and vibrator. Each runs on its own worker thread
// (GoodReadSink starts them), drives the terminal system library loaded by the reader
// manager, and times itself on one of the manager's signal-timing semaphores, so that shutdown
// can cut a running signal short. A missing library or entry skips the hardware call; the wait
// still takes its time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/SoundPlayer.h"
#include "reader/ReaderManager.h"

namespace vandora {

// duration in units of 100 ms (at most 255), frequency passed to the library as it is.
void soundBuzzer(ReaderManager& manager, std::int32_t duration, std::int32_t frequency);
// Plays the good-read sound of index 1 to 9 from the system folder; other indexes are silent.
// Returns whether a sound played.
bool playGoodReadSound(std::int32_t index, SoundPlayer& player, const std::string& folder);
void lightLed(ReaderManager& manager, std::uint32_t milliseconds);
// halfSeconds in units of 500 ms.
void runVibrator(ReaderManager& manager, std::uint32_t halfSeconds);

// The sound name of an index, or null.
const char* goodReadSoundName(std::int32_t index);

}  // namespace vandora
