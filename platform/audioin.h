// Sound input: the default capture device, delivered in fixed blocks.
//
// `audioInOpen` opens the default input (44100 Hz, one channel, signed 16-bit samples) and
// calls `deliver` with every full block of `blockSamples` samples, on the audio back end's own
// thread, once `audioInStart` has started recording. `audioInStop` pauses it; `audioInClose`
// stops and closes it, after which `deliver` is never called again. A machine without an input
// device gives 0 from `audioInOpen` and one log line; callers go on without sound.
#pragma once

#include <cstdint>

using AudioInDeliver = void (*)(const int16_t* samples, int32_t count, void* user);

constexpr int32_t kAudioInRate = 44100;

uint32_t audioInOpen(int32_t blockSamples, AudioInDeliver deliver, void* user);
void audioInStart(uint32_t device);
void audioInStop(uint32_t device);
void audioInClose(uint32_t device);
