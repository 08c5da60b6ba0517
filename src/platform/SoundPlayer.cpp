#include "platform/SoundPlayer.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <sndfile.h>

#include <filesystem>
#include <vector>

namespace vandora {

namespace {
constexpr unsigned kLatencyUs = 200000;
constexpr sf_count_t kChunkFrames = 4096;

// The sound libraries are loaded at the first sound played, not at start: with their codecs they
// would take about a megabyte of every service's memory, and most terminals never play a file.
struct SoundLibraries {
    decltype(&::sf_open) sfOpen = nullptr;
    decltype(&::sf_close) sfClose = nullptr;
    decltype(&::sf_readf_short) sfReadShort = nullptr;
    decltype(&::snd_pcm_open) pcmOpen = nullptr;
    decltype(&::snd_pcm_set_params) pcmSetParams = nullptr;
    decltype(&::snd_pcm_writei) pcmWrite = nullptr;
    decltype(&::snd_pcm_recover) pcmRecover = nullptr;
    decltype(&::snd_pcm_drain) pcmDrain = nullptr;
    decltype(&::snd_pcm_close) pcmClose = nullptr;
    bool ok = false;

    SoundLibraries() {
        // Kept loaded for the life of the process.
        void* sndfile = dlopen("libsndfile.so.1", RTLD_NOW | RTLD_LOCAL);
        void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        if (sndfile == nullptr || alsa == nullptr) {
            return;
        }
        ok = find(sndfile, "sf_open", sfOpen) && find(sndfile, "sf_close", sfClose) &&
             find(sndfile, "sf_readf_short", sfReadShort) && find(alsa, "snd_pcm_open", pcmOpen) &&
             find(alsa, "snd_pcm_set_params", pcmSetParams) &&
             find(alsa, "snd_pcm_writei", pcmWrite) && find(alsa, "snd_pcm_recover", pcmRecover) &&
             find(alsa, "snd_pcm_drain", pcmDrain) && find(alsa, "snd_pcm_close", pcmClose);
    }

    template <typename F>
    static bool find(void* library, const char* name, F& function) {
        function = reinterpret_cast<F>(dlsym(library, name));  // NOLINT: a symbol's address
        return function != nullptr;
    }
};

const SoundLibraries* soundLibraries() {
    static const SoundLibraries libraries;
    return libraries.ok ? &libraries : nullptr;
}
}  // namespace

bool AlsaSoundPlayer::play(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return false;
    }
    const SoundLibraries* lib = soundLibraries();
    if (lib == nullptr) {
        return false;
    }
    SF_INFO info{};
    SNDFILE* file = lib->sfOpen(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return false;
    }
    if (info.channels <= 0 || info.samplerate <= 0) {
        lib->sfClose(file);
        return false;
    }
    snd_pcm_t* pcm = nullptr;
    if (lib->pcmOpen(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) {
        lib->sfClose(file);
        return false;
    }
    bool ok = lib->pcmSetParams(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                                static_cast<unsigned>(info.channels),
                                static_cast<unsigned>(info.samplerate), 1, kLatencyUs) >= 0;
    std::vector<short> buffer(static_cast<std::size_t>(kChunkFrames * info.channels));
    while (ok) {
        sf_count_t frames = lib->sfReadShort(file, buffer.data(), kChunkFrames);
        if (frames <= 0) {
            break;
        }
        const short* data = buffer.data();
        while (frames > 0) {
            snd_pcm_sframes_t written =
                lib->pcmWrite(pcm, data, static_cast<snd_pcm_uframes_t>(frames));
            if (written < 0) {
                if (lib->pcmRecover(pcm, static_cast<int>(written), 1) < 0) {
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
        lib->pcmDrain(pcm);
    }
    lib->pcmClose(pcm);
    lib->sfClose(file);
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
