// Sound input on SDL's capture devices; SDL's callback hands over whole blocks.
#include "platform/audioin.h"

#include "platform/log.h"

#include <SDL2/SDL.h>

#include <mutex>
#include <vector>

namespace {

// One open capture device: SDL's callback collects samples until a block is full.
struct Capture {
    SDL_AudioDeviceID id = 0;
    AudioInDeliver deliver = nullptr;
    void* user = nullptr;
    std::vector<int16_t> block;
    size_t filled = 0;
};

void SDLCALL collect(void* userdata, Uint8* stream, int length) {
    auto* capture = static_cast<Capture*>(userdata);
    const auto* samples = reinterpret_cast<const int16_t*>(stream);
    size_t count = size_t(length) / sizeof(int16_t);
    while (count > 0) {
        size_t take = capture->block.size() - capture->filled;
        if (take > count) take = count;
        SDL_memcpy(capture->block.data() + capture->filled, samples, take * sizeof(int16_t));
        capture->filled += take;
        samples += take;
        count -= take;
        if (capture->filled < capture->block.size()) break;
        capture->deliver(capture->block.data(), int32_t(capture->block.size()), capture->user);
        capture->filled = 0;
    }
}

// Open captures by SDL device id; SDL ids are never 0.
std::mutex capturesLock;
std::vector<Capture*> captures;

Capture* findCapture(uint32_t device) {
    std::lock_guard<std::mutex> lock(capturesLock);
    for (Capture* capture : captures)
        if (capture->id == device) return capture;
    return nullptr;
}

} // namespace

uint32_t audioInOpen(int32_t blockSamples, AudioInDeliver deliver, void* user) {
    if (blockSamples <= 0 || !deliver) return 0;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        logf("WAVI: warning - no sound input (%s), the analysis stays silent\n", SDL_GetError());
        return 0;
    }
    auto* capture = new Capture;
    capture->deliver = deliver;
    capture->user = user;
    capture->block.assign(size_t(blockSamples), 0);
    SDL_AudioSpec want{};
    want.freq = kAudioInRate;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = uint16_t(blockSamples > 4096 ? 4096 : blockSamples);
    want.callback = collect;
    want.userdata = capture;
    SDL_AudioSpec have{};
    capture->id = SDL_OpenAudioDevice(nullptr, 1, &want, &have, 0);
    if (!capture->id) {
        logf("WAVI: warning - no sound input (%s), the analysis stays silent\n", SDL_GetError());
        delete capture;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return 0;
    }
    std::lock_guard<std::mutex> lock(capturesLock);
    captures.push_back(capture);
    return capture->id;
}

void audioInStart(uint32_t device) {
    if (findCapture(device)) SDL_PauseAudioDevice(device, 0);
}

void audioInStop(uint32_t device) {
    if (findCapture(device)) SDL_PauseAudioDevice(device, 1);
}

void audioInClose(uint32_t device) {
    Capture* capture = findCapture(device);
    if (!capture) return;
    SDL_CloseAudioDevice(device); // waits for a callback that is running
    {
        std::lock_guard<std::mutex> lock(capturesLock);
        std::erase(captures, capture);
    }
    delete capture;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}
