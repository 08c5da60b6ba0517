// Good-read signals: buzzer, sound file, LED and vibrator. Each runs on its own worker thread
// (GoodReadSink starts them), drives the signal hardware (SignalDevices) and times itself on that
// signal's timer, so that shutdown can cut a running signal short. Hardware the terminal lacks
// does nothing; the wait still takes its time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/SignalDevices.h"
#include "platform/SoundPlayer.h"
#include "reader/ReaderManager.h"

namespace vandora {

// duration in units of 100 ms (at most 255), frequency passed to the hardware as it is.
void soundBuzzer(SignalDevices& devices, std::int32_t duration, std::int32_t frequency);
// model: the terminal model, which sets the shortest light it shows.
void lightLed(SignalDevices& devices, std::int32_t model, std::uint32_t milliseconds);
// halfSeconds in units of 500 ms.
void runVibrator(SignalDevices& devices, std::uint32_t halfSeconds);

// The same on the manager's signal hardware and terminal model.
void soundBuzzer(ReaderManager& manager, std::int32_t duration, std::int32_t frequency);
void lightLed(ReaderManager& manager, std::uint32_t milliseconds);
void runVibrator(ReaderManager& manager, std::uint32_t halfSeconds);

// Plays the good-read sound of index 1 to 9 from the system folder; other indexes are silent.
// Returns whether a sound played.
bool playGoodReadSound(std::int32_t index, SoundPlayer& player, const std::string& folder);

// The sound name of an index, or null.
const char* goodReadSoundName(std::int32_t index);

}  // namespace vandora
