// The music player: tracker modules (.xm .it .s3m .mod) through libopenmpt, MP3 through
// libmpg123, sound out through SDL2 audio.
//
// Order of calls over a run: tmxInit -> (tmxConfigDialog)* -> tmxOpen -> tmxLoadMem ->
// conversions while the script is parsed -> tmxPlay -> every frame tmxGetTime and
// tmxGetPosition (tmxSetPosition, tmxSetVariable as needed) -> tmxStop -> (loop: tmxPlay
// again) -> tmxStop, tmxFree, tmxClose.
//
// Times are 1/65536 s. A song position is packed as order << 16 | row << 8 | tick. MP3 tunes
// have no orders: they get a fixed grid of 64 rows per order at 125 BPM, speed 6.
//
// Offline mode (video export, tests): instead of a sound device the player renders into a
// WAV file in lockstep with a frame clock that the caller advances.
#pragma once

#include <cstdint>

struct SoundSettings {
    int32_t sampleRate = 44100;
    int32_t channels = 2;         // 1 or 2
    int32_t bufferFrames = 1024;  // device buffer in sample frames
    int32_t stereoSeparation = 100; // percent, passed to the module renderer
    int32_t interpolation = 4;    // filter taps of the module renderer: 1, 2, 4 or 8
    int32_t noSound = 0;          // 1 = play on a wall clock without opening a device
};

// Tune types of tmxLoadMem.
enum TmxTuneType : int { kTuneUnknown = 0, kTuneXm = 2, kTuneIt = 4, kTuneMp3 = 5 };

void tmxInit(SoundSettings* settings);
void tmxConfigDialog(void* dialogWindow, SoundSettings* settings);
void tmxOpen(void* demoWindow, SoundSettings* settings);
int tmxLoadMem(const void* data, uint32_t size, int type); // 0 = success
void tmxPlay();
void tmxStop();
void tmxFree();
void tmxClose();
int32_t tmxGetTime();      // audible position, negative until sound really plays
int32_t tmxGetClock();     // running clock, negative until playback has begun
uint32_t tmxGetPosition(); // packed position heard now
void tmxSetPosition(int order, int row);
int32_t tmxPositionToTime(int order, int row, int tick); // negative: no such position
uint32_t tmxTimeToPosition(uint32_t time);
void tmxSetVariable(const char* name, int32_t value);

// --- beyond the library interface ------------------------------------------------------

// The value last stored under a variable name (0 when never set).
int32_t tmxGetVariable(const char* name);

// Number of calls of tmxPositionToTime and tmxTimeToPosition so far (tests check that a
// dry parse never converts).
uint64_t tmxConversionCount();

// Offline rendering. tmxOfflineOpen replaces the sound device (call it instead of tmxOpen);
// from tmxPlay on, the clocks stand at the last time given to tmxOfflineAdvance, which
// renders the audio up to that time, writing it to the WAV file when `write` is set.
// tmxOfflineClose finishes the WAV header. Returns false when the file cannot be written.
bool tmxOfflineOpen(const char* wavPath, const SoundSettings* settings);
void tmxOfflineAdvance(uint32_t time, bool write);
bool tmxOfflineClose();
