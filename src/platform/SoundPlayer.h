// SoundPlayer: plays a sound file to the end before it returns.
//
// The ALSA player reads the file with libsndfile (WAV and the other formats it knows) and plays
// it on the default PCM device. A missing file, an unreadable one or no sound card makes play()
// return false at once; nothing is reported, the caller just goes on.
// Threading: one play at a time per player; call from one worker thread.
#pragma once

#include <string>

namespace vandora {

class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;
    virtual bool play(const std::string& path) = 0;
};

class AlsaSoundPlayer final : public SoundPlayer {
  public:
    bool play(const std::string& path) override;
};

// The sound file for a name in the system folder: the name itself, or name + ".wav" when only
// that exists.
std::string systemSoundPath(const std::string& folder, const std::string& name);

}  // namespace vandora
