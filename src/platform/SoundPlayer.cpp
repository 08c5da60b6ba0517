#include "platform/SoundPlayer.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <filesystem>
#include <vector>

namespace vandora {

namespace {
constexpr unsigned kLatencyUs = 200000;
constexpr sf_count_t kChunkFrames = 4096;
}  // namespace

bool AlsaSoundPlayer::play(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return false;
    }
    if (info.channels <= 0 || info.samplerate <= 0) {
        sf_close(file);
        return false;
    }
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) {
        sf_close(file);
        return false;
    }
    bool ok = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                                 static_cast<unsigned>(info.channels),
                                 static_cast<unsigned>(info.samplerate), 1, kLatencyUs) >= 0;
    std::vector<short> buffer(static_cast<std::size_t>(kChunkFrames * info.channels));
    while (ok) {
        sf_count_t frames = sf_readf_short(file, buffer.data(), kChunkFrames);
        if (frames <= 0) {
            break;
        }
        const short* data = buffer.data();
        while (frames > 0) {
            snd_pcm_sframes_t written =
                snd_pcm_writei(pcm, data, static_cast<snd_pcm_uframes_t>(frames));
            if (written < 0) {
                if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0) {
                    ok = false;
                    break;
                }
                continue;
            }
            frames -= written;
            data += written * info.channels;
        }
    }
    if (ok) {
        snd_pcm_drain(pcm);
    }
    snd_pcm_close(pcm);
    sf_close(file);
    return ok;
}

std::string systemSoundPath(const std::string& folder, const std::string& name) {
    std::string plain = folder + name;
    std::error_code ec;
    if (std::filesystem::exists(plain, ec)) {
        return plain;
    }
    std::string wav = plain + ".wav";
    return std::filesystem::exists(wav, ec) ? wav : plain;
}

}  // namespace vandora
