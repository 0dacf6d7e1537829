// Private pieces of the music player shared by its .cpp files: the tune decoders with their
// position <-> time conversions (tune.cpp) and the mixing stage after the decoders (mixer.cpp).
// player.cpp holds the tmx... entry points, the clocks, the sound device and offline rendering.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct openmpt_module;

// The library's own types; only its source files include this header.
namespace music {}
using namespace music;

// Where the renderer stands in the song: the row being played, when it began and how long a
// tick of it lasts, so that the tick of any later moment of the row can be worked out.
namespace music {
struct SongCursor {
    double songTime = 0.0; // seconds from the start of the song
    int32_t order = 0;
    int32_t row = 0;
    int32_t speed = 6;         // ticks per row
    double rowStart = 0.0;     // song time at which the row began
    double tickSeconds = 0.02; // length of one tick of the row
};
} // namespace music

enum class TuneKind { none, module, mp3 };

// MP3 tunes have no orders: a fixed grid of 64 rows per order, 6 ticks per row, 50 ticks per
// second (125 BPM, speed 6).
constexpr int kMp3RowsPerOrder = 64;
constexpr int kMp3Speed = 6;
constexpr int kMp3TicksPerSecond = 50;

namespace music {
struct Tune {
    TuneKind kind = TuneKind::none;
    openmpt_module* player = nullptr;    // renders the sound
    openmpt_module* converter = nullptr; // answers position <-> time questions
    std::vector<int16_t> pcm;            // decoded MP3, interleaved at its own rate
    int32_t pcmChannels = 0;
    int32_t pcmRate = 0;
    int64_t pcmFrames = 0;
    int64_t mp3Frame = 0; // MP3 play position in frames of the output rate
    bool ended = false;   // the song has played to its end
};
} // namespace music

// Loading; false when the decoder cannot read the bytes (the tune is left empty).
bool tuneLoadModule(Tune& tune, const void* data, size_t size, int32_t stereoSeparation,
                    int32_t interpolation);
bool tuneLoadMp3(Tune& tune, const void* data, size_t size);
void tuneFree(Tune& tune);
const char* tuneLoadError(); // the reason of the last failed load

// Rendering into interleaved float stereo at `rate`; frames after the song's end are zero.
// The cursor follows the song, its row start estimated to the rendered frame.
void tuneRender(Tune& tune, int32_t rate, float* stereo, int32_t frames, SongCursor& cursor);
// Back to the song's start.
void tuneRewind(Tune& tune, int32_t rate, SongCursor& cursor);
// Jumps to row `row` of order `order`; false when the tune has no such position.
bool tuneSeek(Tune& tune, int32_t rate, int32_t order, int32_t row, SongCursor& cursor);
// Jumps to a moment of the song; false past its end.
bool tuneSeekTime(Tune& tune, int32_t rate, double seconds, SongCursor& cursor);
double tuneLengthSeconds(Tune& tune); // 0 without a tune

// Conversions, using the converter instance (never the one that plays). Time in seconds.
// tunePositionTime: negative when the position does not exist.
double tunePositionTime(Tune& tune, int32_t order, int32_t row, int32_t tick);
SongCursor tuneCursorAt(Tune& tune, double seconds);
// The packed order << 16 | row << 8 | tick of a cursor at `seconds` (tick clamped to 255).
uint32_t cursorPosition(const SongCursor& cursor, double seconds);

// --- mixing stage ----------------------------------------------------------------------

// Settings of the stage as the variables give them (see music.h for the mappings).
namespace music {
struct MixSettings {
    float volume = 1.0f;   // linear 0...1
    float gain = 1.0f;     // linear, from the amplification in dB
    float pan = 0.0f;      // -1 (all left) ... 1 (all right)
    float balance = 0.0f;  // -1 ... 1
    float surround = 0.0f; // wet levels 0...1, 0 = stage off
    float reverb = 0.0f;
    float chorus = 0.0f;
};

struct Mixer {
    MixSettings target;  // what the variables ask for
    MixSettings current; // what the last block ended on (settings glide over one block)
    int32_t rate = 44100;
    int64_t frameCount = 0;          // drives the chorus sweep
    std::vector<float> chorusLine;   // stereo delay line
    std::vector<float> surroundLine; // mono delay line of the rear signal
    float surroundLowpass = 0.0f;
    std::vector<float> combLines[8];
    std::vector<float> allpassLines[4];
    float combFilter[8] = {};
    size_t combPos[8] = {};
    size_t allpassPos[4] = {};
    size_t chorusPos = 0;
    size_t surroundPos = 0;
};
} // namespace music

// Sizes the delay lines for `rate` and clears them; the current settings jump to the target.
void mixerReset(Mixer& mixer, int32_t rate);
// Processes one block of interleaved stereo in place. A stage whose level is 0 before and
// after the block leaves the samples untouched.
void mixerProcess(Mixer& mixer, float* stereo, int32_t frames);
