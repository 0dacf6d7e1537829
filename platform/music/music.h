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
//
// Clocks: tmxGetTime is the song time of the sample coming out of the speakers now (what is
// still buffered in the device is not counted; between audio callbacks it runs on with a
// steady clock). It follows seeks. tmxGetClock counts the same heard samples since tmxPlay
// and never jumps, so differences of two readings are a frame step. Both are negative until
// the first sample is heard (after tmxPlay, about one device buffer later), and again after
// tmxStop. Without a sound device (none found, or noSound) both run on the wall clock from
// tmxPlay on, and the tune is rendered silently so that positions keep following it; a
// device that asks for no sound for a second (never started, or stalled) hands the clocks
// over to the wall clock the same way. Each fallback logs a "TMXL: warning: ..." line.
//
// Conversions: tmxPositionToTime gives the start of the row plus `tick` ticks of that row
// (the row's length divided by its speed; a tick past the speed just adds time), rounded up
// to the next 1/65536 s so that tmxTimeToPosition of the result gives the same position. It is
// negative for an order past the end, a row past the pattern's length, a row the song never
// reaches, and for MP3 a row >= 64 or a moment past the end of the sound. tmxTimeToPosition
// of a moment past the end of a module gives its last row.
//
// Variables: any name is stored (tmxGetVariable). These control the mixing stage after the
// decoders at once; settings glide over one block (about 1.5 ms) so fades do not click:
//   "__tmxcvol"  volume in percent, 0 ... 100 (100 = as decoded; outside is clamped)
//   "__tmxcamp"  amplification in dB, -60 ... +24 (0 = none); samples clip at full scale
//   "__tmxcpan"  panning in percent, -100 (all to the left) ... 0 (as decoded) ... 100; the
//                side the picture moves away from is folded into the other side
//   "__tmxcbal"  balance in percent, -100 (right side silent) ... 0 ... 100 (left side silent)
//   "__tmxcsrd"  surround level 0 ... 100: the middle signal 20 ms late, dulled above 7 kHz,
//                added to the left and taken from the right side (a rear channel)
//   "__tmxcrvb"  reverb level 0 ... 100: wet level of a room reverb (combs and all-passes)
//   "__tmxcchr"  chorus level 0 ... 100: wet level of a 20 ms +-6 ms delay swept at 0.6 Hz
// Level 0 switches a stage off: the samples pass bit for bit unchanged. Values outside the
// ranges are clamped.
//
// Threads: every function is called from the main thread; the sound device's callback runs
// on its own thread and shares the player's state under one lock.
#pragma once

#include <cstdint>

struct SoundSettings {
    int32_t sampleRate = 44100;
    int32_t channels = 2;           // 1 or 2
    int32_t bufferFrames = 1024;    // device buffer in sample frames
    int32_t stereoSeparation = 100; // percent, passed to the module renderer
    int32_t interpolation = 4;      // filter taps of the module renderer: 1, 2, 4 or 8
    int32_t noSound = 0;            // 1 = play on a wall clock without opening a device
    int32_t latencyOffsetMs = 0;    // heard this much later than the device reports (-500 ... 500)
    char device[128] = {};          // output device name; empty = the system's default
};

// Tune types of tmxLoadMem.
enum TmxTuneType : int { kTuneUnknown = 0, kTuneXm = 2, kTuneIt = 4, kTuneMp3 = 5 };

// Fills the settings with the defaults and forgets all variables.
void tmxInit(SoundSettings* settings);
// The sound settings dialog (output device, sample rate, interpolation filter, stereo
// separation) in the launch dialog's window; OK stores the choice in settings, Cancel and a
// missing dialog window leave them as they are.
void tmxConfigDialog(void* dialogWindow, SoundSettings* settings);
// Opens the sound device (paused), or falls back to the wall clock with a warning line.
void tmxOpen(void* demoWindow, SoundSettings* settings);
// Type kTuneMp3 is decoded as MP3, every other type by the module library. The bytes are
// copied; 0 = success, 1 = not a module it can read, 2 = not an MP3, 3 = no data.
int tmxLoadMem(const void* data, uint32_t size, int type);
// Why the last tmxLoadMem failed, in the decoder's words ("" after a success).
const char* tmxLoadError();
// Starts the tune from its beginning (also after tmxStop).
void tmxPlay();
void tmxStop();
// Holds the sound and both clocks where they are, and lets them go on from there; tmxPlay and
// tmxStop end a pause. Offline the caller's frame clock rules and a pause does nothing.
void tmxPause(bool pause);
bool tmxPaused();
void tmxFree();
void tmxClose();
int32_t tmxGetTime();      // audible position, negative until sound really plays
int32_t tmxGetClock();     // running clock, negative until playback has begun
uint32_t tmxGetPosition(); // packed position heard now
void tmxSetPosition(int order, int row);
// Moves the song to `time` (1/65536 s), to the sample: the row that holds it, then on through
// the row. Offline the heard time is exactly `time` from the next reading on, as if the tune
// had played there from the start. False (and nothing moves) past the end of the tune.
bool tmxSeekTime(uint32_t time);
// True while the sound heard is still what was rendered before the last tmxSeekTime (a sound
// device plays out its buffer first); the clocks then still show the old moment.
bool tmxSeekPending();
// The length of the loaded tune in 1/65536 s (0 without one).
uint32_t tmxTuneLength();
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
// Without a WAV path the sound is rendered and dropped.
// The times given to tmxOfflineAdvance are the caller's frame clock, which starts at 0 with
// tmxOfflineOpen and only goes forward (an earlier time changes nothing); tmxPlay starts the
// tune at the clock's current value. Stretches while nothing plays are written as silence,
// so the WAV stays in step with the frame clock. The output is 16-bit PCM with the rate and
// channel count of the settings; the same calls give the same bytes.
bool tmxOfflineOpen(const char* wavPath, const SoundSettings* settings);
void tmxOfflineAdvance(uint32_t time, bool write);
bool tmxOfflineClose();
