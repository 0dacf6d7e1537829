// The sound settings dialog, shown in the launch dialog's window.
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/music/music.h"

#include <SDL.h>

#include <cstring>

namespace {

// Output devices by name; entry 0 stands for the system's default.
std::vector<std::string> outputDevices() {
    std::vector<std::string> names = {"system default"};
    bool started = SDL_WasInit(SDL_INIT_AUDIO) != 0;
    if (!started && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        logf("TMXC: warning: no audio devices to offer (%s)\n", SDL_GetError());
        return names;
    }
    int count = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i)
        if (const char* name = SDL_GetAudioDeviceName(i, 0)) names.push_back(name);
    if (!started) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return names;
}

template <size_t N> int32_t indexOf(const int32_t (&values)[N], int32_t value, int32_t fallback) {
    for (size_t i = 0; i < N; ++i)
        if (values[i] == value) return int32_t(i);
    return fallback;
}

SoundDialogView viewOf(const SoundSettings& s) {
    SoundDialogView v;
    v.devices = outputDevices();
    for (size_t i = 1; i < v.devices.size(); ++i)
        if (v.devices[i] == s.device) v.device = int32_t(i);
    v.rateIndex = indexOf(kSoundRates, s.sampleRate, 1);
    v.interpolationIndex = indexOf(kSoundInterpolations, s.interpolation, 2);
    v.separation = s.stereoSeparation;
    return v;
}

void store(const SoundDialogView& v, SoundSettings* s) {
    const std::string& device = v.device > 0 ? v.devices[size_t(v.device)] : std::string();
    snprintf(s->device, sizeof s->device, "%s", device.c_str());
    s->sampleRate = kSoundRates[v.rateIndex];
    s->interpolation = kSoundInterpolations[v.interpolationIndex];
    s->stereoSeparation = v.separation;
    logf("TMXC: sound settings: device '%s', %d Hz, interpolation %d, separation %d%%\n",
         s->device[0] ? s->device : "default", s->sampleRate, s->interpolation,
         s->stereoSeparation);
}

} // namespace

void tmxConfigDialog(void*, SoundSettings* settings) {
    if (!settings || !dialogWindowOpen()) return;
    SoundDialogView view = viewOf(*settings);
    for (;;) {
        SoundAction action = runSoundFrame(view);
        if (action == SoundAction::Ok) store(view, settings);
        if (action != SoundAction::None) return;
    }
}
