// The tmx... entry points: the sound device (or a wall clock, or offline rendering), the
// clocks, the ring of rendered positions, the variables and the conversions.
//
// Sections: state, rendering, clocks, device, offline WAV, entry points.
//
// Every block of sound is rendered in slices of kSliceFrames; each slice leaves an entry in a
// ring (stream frame, song cursor). The clocks first work out the stream frame heard now and
// then read the song time and position of that frame from the ring, so what the main thread
// sees is what comes out of the speakers, not what was just rendered.
//
// The stream frame heard now:
// - sound device: at each callback, the first frame of the block being filled minus one device
//   buffer (the block still playing); between callbacks it runs on with the steady clock, never
//   past what was delivered, never backwards;
// - wall clock (no device): the frames the clock has run through since tmxPlay, rendered
//   silently when asked;
// - offline: the frames of the caller's frame clock since tmxPlay, rendered by
//   tmxOfflineAdvance.
// One mutex guards all of it; the SDL callback takes it for the length of one block.
#include "platform/music/music.h"

#include "platform/config.h"
#include "platform/log.h"
#include "platform/music/music_local.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// --- state -----------------------------------------------------------------------------

// A mutex that knows which thread holds it. The crash path calls tmxClose on whatever thread
// faulted; if that thread was stopped inside the player, waiting for the lock would hang.
class OwnedMutex {
  public:
    void lock() {
        mutex.lock();
        owner = std::this_thread::get_id();
    }
    void unlock() {
        owner = std::thread::id();
        mutex.unlock();
    }
    bool heldHere() const { return owner == std::this_thread::get_id(); }

  private:
    std::mutex mutex;
    std::atomic<std::thread::id> owner{};
};

using Hold = std::lock_guard<OwnedMutex>;

constexpr int32_t kSliceFrames = 64;
constexpr size_t kRingSize = 4096; // slices: 262144 frames, about 6 s at 44.1 kHz
constexpr int64_t kNoFrame = INT64_MIN;

enum class Output { none, device, wallClock, offline };

struct RingEntry {
    int64_t streamFrame = 0; // first frame of the slice, counted from tmxPlay
    SongCursor cursor;       // where the song stood at that frame
};

struct Variable {
    char name[64] = {};
    int32_t value = 0;
};

struct Player {
    OwnedMutex lock; // everything below except `variables`, which only the main thread uses
    Output output = Output::none;
    SoundSettings settings;
    SDL_AudioDeviceID device = 0;
    bool audioSubsystem = false;
    int32_t latencyFrames = 0;

    Tune tune;
    const char* loadError = ""; // why the last tmxLoadMem failed
    Mixer mixer;
    SongCursor cursor; // where the renderer stands
    bool playing = false;
    int64_t renderedFrames = 0; // stream frames rendered since tmxPlay
    std::vector<RingEntry> ring = std::vector<RingEntry>(kRingSize);
    size_t ringCount = 0; // entries written since tmxPlay
    std::vector<float> scratch;

    // Device timing, set by the callback.
    int64_t callbackAudible = kNoFrame; // frame heard at callbackClock
    int64_t callbackFrames = 0;
    std::chrono::steady_clock::time_point callbackClock;
    double anchorFrame = 0.0; // smoothed: frame heard at anchorClock, runs on at the rate
    std::chrono::steady_clock::time_point anchorClock;
    int64_t heardFrame = kNoFrame; // latest answer, keeps the clocks monotonic

    std::chrono::steady_clock::time_point playClock; // wall clock: when tmxPlay ran

    // Offline rendering.
    FILE* wav = nullptr;
    uint32_t wavDataBytes = 0;
    bool wavFailed = false;
    int64_t offlineFrame = 0;     // the caller's frame clock, in frames
    int64_t offlinePlayFrame = 0; // its value at tmxPlay
    uint32_t offlineTime = 0;     // the caller's frame clock as given (1/65536 s)
    uint32_t offlinePlayTime = 0; // its value at tmxPlay
    bool seekedSincePlay = false; // tmxSetPosition moved the song since tmxPlay
    int64_t seekFrame = 0;        // the first stream frame rendered after the last tmxSeekTime

    // Pause: the clocks stand at the frame heard when it began, and move on from there.
    bool paused = false;
    int64_t pausedFrame = 0;
    std::chrono::steady_clock::time_point pausedAt;

    std::vector<Variable> variables;
};

Player player;
OwnedMutex conversionLock; // the converter instance
std::atomic<uint64_t> conversionCount{0};

int32_t rate() {
    return player.settings.sampleRate;
}

SoundSettings validSettings(const SoundSettings& wanted) {
    SoundSettings s = wanted;
    s.sampleRate = std::clamp(s.sampleRate, 8000, 192000);
    s.channels = std::clamp(s.channels, 1, 2);
    s.bufferFrames = std::clamp(s.bufferFrames, 64, 16384);
    s.stereoSeparation = std::clamp(s.stereoSeparation, 0, 200);
    s.latencyOffsetMs = std::clamp(s.latencyOffsetMs, -500, 500);
    s.device[sizeof s.device - 1] = 0;
    s.interpolation = s.interpolation >= 8   ? 8
                      : s.interpolation >= 4 ? 4
                      : s.interpolation >= 2 ? 2
                                             : 1;
    return s;
}

// --- rendering -------------------------------------------------------------------------

void pushRing(int64_t streamFrame, const SongCursor& cursor) {
    player.ring[player.ringCount % kRingSize] = RingEntry{streamFrame, cursor};
    ++player.ringCount;
}

// Renders `frames` stream frames into interleaved float stereo (player.scratch).
void renderFloat(int32_t frames) {
    player.scratch.resize(size_t(2 * frames));
    float* out = player.scratch.data();
    for (int32_t done = 0; done < frames; done += kSliceFrames) {
        int32_t slice = std::min(kSliceFrames, frames - done);
        pushRing(player.renderedFrames, player.cursor);
        tuneRender(player.tune, rate(), out + 2 * done, slice, player.cursor);
        mixerProcess(player.mixer, out + 2 * done, slice);
        player.renderedFrames += slice;
    }
}

int16_t toSample(float value) {
    return int16_t(std::lrint(std::clamp(value, -1.0f, 1.0f) * 32767.0f));
}

// Renders into 16-bit samples of the output's channel count.
void renderPcm(int16_t* out, int32_t frames) {
    renderFloat(frames);
    const float* in = player.scratch.data();
    if (player.settings.channels == 2) {
        for (int32_t i = 0; i < 2 * frames; ++i)
            out[i] = toSample(in[i]);
    } else {
        for (int32_t i = 0; i < frames; ++i)
            out[i] = toSample(0.5f * (in[2 * i] + in[2 * i + 1]));
    }
}

// Wall clock: renders silently up to the frames the clock has run through. A long stall
// (more than a few seconds behind) jumps ahead instead of rendering all of it.
// Returns the frame the clock stands at.
int64_t followWallClock() {
    if (player.output != Output::wallClock || !player.playing) return player.renderedFrames;
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - player.playClock).count();
    int64_t target = int64_t(seconds * rate());
    int64_t behind = target - player.renderedFrames;
    if (behind > 4 * int64_t(rate())) {
        int64_t skip = behind - rate();
        Hold conversions(conversionLock);
        SongCursor jumped =
            tuneCursorAt(player.tune, player.cursor.songTime + double(skip) / rate());
        if (player.tune.kind != TuneKind::none)
            tuneSeek(player.tune, rate(), jumped.order, jumped.row, player.cursor);
        player.renderedFrames += skip;
    }
    while (player.renderedFrames < target)
        renderFloat(int32_t(std::min<int64_t>(target - player.renderedFrames, 4096)));
    return target;
}

// --- clocks ----------------------------------------------------------------------------

// A device that never starts asking for sound, or stops, would stop the clocks and hang the
// wait for the first sound: after a second without a callback the wall clock takes over from
// the frame heard last.
void watchDevice() {
    using namespace std::chrono;
    const auto now = steady_clock::now();
    bool started = player.callbackAudible != kNoFrame;
    if (now - (started ? player.callbackClock : player.playClock) < seconds(1)) return;
    int64_t heard = started ? std::min(player.callbackAudible + 2 * player.callbackFrames,
                                       player.renderedFrames)
                            : 0;
    heard = std::max<int64_t>({heard, player.heardFrame, 0});
    logf("TMXL: warning: the audio device stopped playing, going on with the wall clock\n");
    player.output = Output::wallClock;
    player.playClock =
        now - duration_cast<steady_clock::duration>(duration<double>(double(heard) / rate()));
}

// The stream frame heard now, kNoFrame before any sound.
int64_t heardFrameNow() {
    if (!player.playing) return kNoFrame;
    if (player.paused) return player.pausedFrame;
    if (player.output == Output::device) watchDevice();
    int64_t frame = kNoFrame;
    if (player.output == Output::device) {
        // Before the first callback nothing is on its way yet: more than a buffer to go.
        if (player.callbackAudible == kNoFrame) return -player.latencyFrames - 1;
        double since =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - player.anchorClock)
                .count();
        frame = int64_t(std::floor(player.anchorFrame + since * rate()));
        frame = std::min(frame, player.callbackAudible + 2 * player.callbackFrames);
        frame = std::min(frame, player.renderedFrames);
    } else if (player.output == Output::offline) {
        frame = player.offlineFrame - player.offlinePlayFrame;
    } else {
        frame = followWallClock();
    }
    if (player.heardFrame != kNoFrame) frame = std::max(frame, player.heardFrame);
    player.heardFrame = frame;
    return frame;
}

// The song cursor of the slice holding `frame` (the renderer's own when nothing is rendered).
const SongCursor& cursorOfFrame(int64_t frame, int64_t& sliceStart) {
    size_t available = std::min(player.ringCount, kRingSize);
    for (size_t back = 1; back <= available; ++back) {
        const RingEntry& entry = player.ring[(player.ringCount - back) % kRingSize];
        if (entry.streamFrame <= frame || back == available) {
            sliceStart = entry.streamFrame;
            return entry.cursor;
        }
    }
    sliceStart = player.renderedFrames;
    return player.cursor;
}

int32_t toTimeUnits(double seconds) {
    double units = std::floor(seconds * 65536.0);
    return int32_t(std::clamp(units, double(INT32_MIN), double(INT32_MAX)));
}

// Negative frames (before the first sound) give negative times, never 0.
int32_t beforeSound(int64_t frame) {
    return frame == kNoFrame ? -1 : std::min(-1, toTimeUnits(double(frame) / rate()));
}

// --- device ----------------------------------------------------------------------------

// Each callback tells which frame is heard now. Callbacks come with some jitter, so the clock
// does not jump to each answer: it runs on at the sample rate and is pulled an eighth of the
// way towards it; only a large miss (a dropout, a stall) moves it at once.
void followCallback(std::chrono::steady_clock::time_point now, int32_t frames) {
    int64_t heard = player.renderedFrames - player.latencyFrames;
    double predicted = player.anchorFrame +
                       std::chrono::duration<double>(now - player.anchorClock).count() * rate();
    double miss = double(heard) - predicted;
    if (player.callbackAudible == kNoFrame || std::fabs(miss) > 2.0 * player.latencyFrames)
        player.anchorFrame = double(heard);
    else
        player.anchorFrame = predicted + miss / 8.0;
    player.anchorClock = now;
    player.callbackClock = now;
    player.callbackAudible = heard;
    player.callbackFrames = frames;
}

void SDLCALL audioCallback(void*, Uint8* stream, int length) {
    Hold guard(player.lock);
    int32_t frames = length / int32_t(sizeof(int16_t) * player.settings.channels);
    if (!player.playing || player.output != Output::device) {
        memset(stream, 0, size_t(length));
        return;
    }
    followCallback(std::chrono::steady_clock::now(), frames);
    renderPcm(reinterpret_cast<int16_t*>(stream), frames);
}

bool openDevice() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        logf("TMXL: warning: audio does not start (%s), playing on the wall clock\n",
             SDL_GetError());
        return false;
    }
    player.audioSubsystem = true;
    SDL_AudioSpec wanted{}, obtained{};
    wanted.freq = player.settings.sampleRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = Uint8(player.settings.channels);
    wanted.samples = Uint16(player.settings.bufferFrames);
    wanted.callback = audioCallback;
    const char* name = player.settings.device[0] ? player.settings.device : nullptr;
    player.device = SDL_OpenAudioDevice(name, 0, &wanted, &obtained, 0);
    if (!player.device && name) {
        logf("TMXL: warning: audio device '%s' does not open (%s), trying the default\n", name,
             SDL_GetError());
        player.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    }
    if (!player.device) {
        logf("TMXL: warning: no audio device (%s), playing on the wall clock\n", SDL_GetError());
        return false;
    }
    // A latency offset moves the audible clock for outputs that add a delay of their own.
    int32_t offsetFrames = int32_t(int64_t(player.settings.latencyOffsetMs) * obtained.freq / 1000);
    player.latencyFrames = std::max(0, int32_t(obtained.samples) + offsetFrames);
    logf("TMXL: audio device open: %d Hz, %d channels, %d frames buffer\n", obtained.freq,
         int(obtained.channels), int(obtained.samples));
    return true;
}

void closeOutput() {
    if (player.device) SDL_CloseAudioDevice(player.device);
    player.device = 0;
    if (player.audioSubsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    player.audioSubsystem = false;
    player.output = Output::none;
}

// --- offline WAV -----------------------------------------------------------------------

void putLe(unsigned char* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = (unsigned char)(value >> (8 * i));
}

bool writeWavHeader(FILE* file, const SoundSettings& s, uint32_t dataBytes) {
    unsigned char header[44];
    uint32_t blockAlign = uint32_t(2 * s.channels);
    memcpy(header, "RIFF", 4);
    putLe(header + 4, 36 + dataBytes, 4);
    memcpy(header + 8, "WAVEfmt ", 8);
    putLe(header + 16, 16, 4);
    putLe(header + 20, 1, 2); // PCM
    putLe(header + 22, uint32_t(s.channels), 2);
    putLe(header + 24, uint32_t(s.sampleRate), 4);
    putLe(header + 28, uint32_t(s.sampleRate) * blockAlign, 4);
    putLe(header + 32, blockAlign, 2);
    putLe(header + 34, 16, 2);
    memcpy(header + 36, "data", 4);
    putLe(header + 40, dataBytes, 4);
    return fseek(file, 0, SEEK_SET) == 0 && fwrite(header, 1, 44, file) == 44 &&
           fseek(file, 0, SEEK_END) == 0;
}

// The RIFF sizes are 32 bits: a WAV file ends a little before 4 GiB.
constexpr uint32_t kWavDataLimit = 0xffffffffu - 36u;

void writeWavFrames(const int16_t* samples, int32_t frames) {
    size_t count = size_t(frames) * size_t(player.settings.channels);
    if (player.wavFailed) return;
    if (count * 2 > kWavDataLimit - player.wavDataBytes) {
        logf("TMXL: the WAV file is full (4 GiB), the rest of the sound is not written\n");
        player.wavFailed = true;
        return;
    }
    std::vector<unsigned char> bytes(count * 2);
    for (size_t i = 0; i < count; ++i)
        putLe(&bytes[2 * i], uint16_t(samples[i]), 2);
    if (fwrite(bytes.data(), 1, bytes.size(), player.wav) != bytes.size()) player.wavFailed = true;
    player.wavDataBytes += uint32_t(bytes.size());
}

// --- variables -------------------------------------------------------------------------

Variable* findVariable(const char* name) {
    for (Variable& v : player.variables)
        if (strncmp(v.name, name, sizeof v.name - 1) == 0) return &v;
    return nullptr;
}

float fraction(int32_t percent, int32_t low, int32_t high) {
    return float(std::clamp(percent, low, high)) / 100.0f;
}

// Applies a control variable to the mixing stage; false when the name is not one of them.
bool applyControl(const char* name, int32_t value, MixSettings& mix) {
    if (strcmp(name, "__tmxcvol") == 0)
        mix.volume = fraction(value, 0, 100);
    else if (strcmp(name, "__tmxcamp") == 0)
        mix.gain = float(std::pow(10.0, std::clamp(value, -60, 24) / 20.0));
    else if (strcmp(name, "__tmxcpan") == 0)
        mix.pan = fraction(value, -100, 100);
    else if (strcmp(name, "__tmxcbal") == 0)
        mix.balance = fraction(value, -100, 100);
    else if (strcmp(name, "__tmxcsrd") == 0)
        mix.surround = fraction(value, 0, 100);
    else if (strcmp(name, "__tmxcrvb") == 0)
        mix.reverb = fraction(value, 0, 100);
    else if (strcmp(name, "__tmxcchr") == 0)
        mix.chorus = fraction(value, 0, 100);
    else
        return false;
    return true;
}

} // namespace

// --- entry points ----------------------------------------------------------------------

void tmxInit(SoundSettings* settings) {
    if (settings) *settings = SoundSettings{};
    player.variables.clear();
    Hold guard(player.lock);
    player.mixer.target = MixSettings{};
}

// The sound settings dialog is not there yet: the settings stay as tmxInit filled them.
// Stops playing and closes the output (device or WAV file); the tune stays loaded.
static void closeOutputs() {
    tmxStop();
    if (player.wav) tmxOfflineClose();
    closeOutput();
}

void tmxOpen(void*, SoundSettings* settings) {
    closeOutputs();
    Hold guard(player.lock);
    player.settings = validSettings(settings ? *settings : SoundSettings{});
    if (player.settings.noSound) {
        logf("TMXL: warning: sound is off, playing on the wall clock\n");
        player.output = Output::wallClock;
    } else {
        player.output = openDevice() ? Output::device : Output::wallClock;
    }
    mixerReset(player.mixer, rate());
}

int tmxLoadMem(const void* data, uint32_t size, int type) {
    tmxStop();
    Hold audio(player.lock);
    Hold conversions(conversionLock);
    player.loadError = "";
    if (!data || size == 0) {
        tuneFree(player.tune);
        logf("TMXL: no tune data\n");
        player.loadError = "no tune data";
        return 3;
    }
    bool loaded = type == kTuneMp3
                      ? tuneLoadMp3(player.tune, data, size)
                      : tuneLoadModule(player.tune, data, size, player.settings.stereoSeparation,
                                       player.settings.interpolation);
    if (!loaded) {
        player.loadError = tuneLoadError();
        return type == kTuneMp3 ? 2 : 1;
    }
    tuneRewind(player.tune, rate(), player.cursor);
    return 0;
}

const char* tmxLoadError() {
    return player.loadError;
}

void tmxPlay() {
    {
        Hold guard(player.lock);
        tuneRewind(player.tune, rate(), player.cursor);
        mixerReset(player.mixer, rate());
        player.renderedFrames = 0;
        player.ringCount = 0;
        player.callbackAudible = kNoFrame;
        player.heardFrame = kNoFrame;
        player.playClock = std::chrono::steady_clock::now();
        player.offlinePlayFrame = player.offlineFrame;
        player.offlinePlayTime = player.offlineTime;
        player.seekedSincePlay = false;
        player.seekFrame = 0;
        player.paused = false;
        player.playing = player.output != Output::none;
        if (!player.playing) logf("TMXL: warning: tmxPlay before tmxOpen\n");
    }
    if (player.device) SDL_PauseAudioDevice(player.device, 0);
}

void tmxStop() {
    if (player.device) SDL_PauseAudioDevice(player.device, 1);
    Hold guard(player.lock);
    player.playing = false;
    player.paused = false;
}

void tmxPause(bool pause) {
    using namespace std::chrono;
    // The device lock comes before the player's (the callback holds it while it takes ours).
    if (pause && player.device) SDL_PauseAudioDevice(player.device, 1);
    bool sounding = false;
    {
        Hold guard(player.lock);
        bool live = player.playing && player.output != Output::offline;
        if (pause && live && !player.paused) {
            player.pausedFrame = heardFrameNow();
            player.pausedAt = steady_clock::now();
            player.paused = true;
        } else if (!pause && player.paused) {
            // Every clock that measures time since a moment moves on by the pause.
            const auto shift = steady_clock::now() - player.pausedAt;
            player.playClock += shift;
            player.anchorClock += shift;
            player.callbackClock += shift;
            player.paused = false;
        }
        sounding = player.playing && !player.paused;
    }
    if (sounding && player.device) SDL_PauseAudioDevice(player.device, 0);
}

bool tmxPaused() {
    Hold guard(player.lock);
    return player.paused;
}

void tmxFree() {
    tmxStop();
    Hold audio(player.lock);
    Hold conversions(conversionLock);
    tuneFree(player.tune);
    player.cursor = SongCursor{};
}

void tmxClose() {
    // Reached from the crash path on a thread that faulted inside the player (the sound
    // callback, a seek, a conversion): the process is ending, leave everything as it is.
    if (player.lock.heldHere() || conversionLock.heldHere()) return;
    closeOutputs();
    tmxFree();
}

// Offline, the caller's frame clock is the heard time itself: going through whole samples
// and back would put a frame's time up to two units early, and an event due exactly at a
// frame would show one frame late.
namespace {
bool offlineTimeIsExact() {
    return player.output == Output::offline && player.playing && !player.seekedSincePlay;
}
} // namespace

int32_t tmxGetTime() {
    Hold guard(player.lock);
    int64_t frame = heardFrameNow();
    if (frame == kNoFrame || frame < 0) return beforeSound(frame);
    if (offlineTimeIsExact()) return int32_t(player.offlineTime - player.offlinePlayTime);
    int64_t sliceStart = 0;
    const SongCursor& cursor = cursorOfFrame(frame, sliceStart);
    return toTimeUnits(cursor.songTime + double(frame - sliceStart) / rate());
}

int32_t tmxGetClock() {
    Hold guard(player.lock);
    int64_t frame = heardFrameNow();
    if (frame == kNoFrame || frame < 0) return beforeSound(frame);
    if (player.output == Output::offline && player.playing)
        return int32_t(player.offlineTime - player.offlinePlayTime);
    return toTimeUnits(double(frame) / rate());
}

uint32_t tmxGetPosition() {
    Hold guard(player.lock);
    int64_t frame = heardFrameNow();
    if (frame == kNoFrame || frame < 0 || player.tune.kind == TuneKind::none) return 0;
    int64_t sliceStart = 0;
    const SongCursor& cursor = cursorOfFrame(frame, sliceStart);
    return cursorPosition(cursor, cursor.songTime + double(frame - sliceStart) / rate());
}

void tmxSetPosition(int order, int row) {
    Hold audio(player.lock);
    followWallClock();
    player.seekedSincePlay = true;
    Hold conversions(conversionLock);
    if (!tuneSeek(player.tune, rate(), order, row, player.cursor))
        logf("TMXL: warning: no position %d/%d to go to\n", order, row);
}

bool tmxSeekTime(uint32_t time) {
    Hold audio(player.lock);
    followWallClock();
    Hold conversions(conversionLock);
    if (!tuneSeekTime(player.tune, rate(), double(time) / 65536.0, player.cursor)) {
        logf("TMXL: warning: no moment %.3f s to go to\n", double(time) / 65536.0);
        return false;
    }
    if (player.output != Output::offline || !player.playing) {
        player.seekedSincePlay = true;
        player.seekFrame = player.renderedFrames;
        return true;
    }
    // Offline the stream restarts at the moment's own frame, so the heard time and the
    // positions follow on exactly as after a play from the start.
    int64_t frames = int64_t(time) * rate() / 65536;
    player.offlinePlayTime = player.offlineTime - time;
    player.offlinePlayFrame = player.offlineFrame - frames;
    player.renderedFrames = frames;
    player.ringCount = 0;
    player.heardFrame = kNoFrame;
    player.seekedSincePlay = false;
    player.seekFrame = frames;
    return true;
}

bool tmxSeekPending() {
    Hold guard(player.lock);
    if (!player.playing) return false;
    int64_t frame = heardFrameNow();
    return frame == kNoFrame || frame < player.seekFrame;
}

uint32_t tmxTuneLength() {
    Hold guard(conversionLock);
    double units = std::floor(tuneLengthSeconds(player.tune) * 65536.0);
    return units >= double(UINT32_MAX) ? UINT32_MAX : uint32_t(units);
}

int32_t tmxPositionToTime(int order, int row, int tick) {
    ++conversionCount;
    Hold guard(conversionLock);
    double seconds = tunePositionTime(player.tune, order, row, tick);
    if (seconds < 0.0) return -1;
    // Rounded up, so that the time converts back to the same position.
    double units = std::ceil(seconds * 65536.0);
    return units > double(INT32_MAX) ? -1 : int32_t(units);
}

uint32_t tmxTimeToPosition(uint32_t time) {
    ++conversionCount;
    Hold guard(conversionLock);
    if (player.tune.kind == TuneKind::none) return 0;
    double seconds = double(time) / 65536.0;
    return cursorPosition(tuneCursorAt(player.tune, seconds), seconds);
}

void tmxSetVariable(const char* name, int32_t value) {
    if (!name) return;
    Variable* variable = findVariable(name);
    if (!variable) {
        player.variables.emplace_back();
        variable = &player.variables.back();
        copyName(variable->name, name);
    }
    variable->value = value;
    Hold guard(player.lock);
    applyControl(name, value, player.mixer.target);
}

int32_t tmxGetVariable(const char* name) {
    Variable* variable = name ? findVariable(name) : nullptr;
    return variable ? variable->value : 0;
}

uint64_t tmxConversionCount() {
    return conversionCount;
}

bool tmxOfflineOpen(const char* wavPath, const SoundSettings* settings) {
    closeOutputs();
    Hold guard(player.lock);
    player.settings = validSettings(settings ? *settings : SoundSettings{});
    // Without a path the sound is rendered and dropped (benchmarks).
    player.wav = wavPath ? fopen(wavPath, "w+b") : nullptr;
    if (wavPath && !player.wav) {
        logf("TMXL: cannot write '%s'\n", wavPath);
        return false;
    }
    player.wavDataBytes = 0;
    player.wavFailed = player.wav && !writeWavHeader(player.wav, player.settings, 0);
    player.output = Output::offline;
    player.offlineFrame = 0;
    player.offlinePlayFrame = 0;
    player.offlineTime = player.offlinePlayTime = 0;
    mixerReset(player.mixer, rate());
    logf("TMXL: rendering offline to '%s'\n", wavPath ? wavPath : "nowhere");
    return !player.wavFailed;
}

void tmxOfflineAdvance(uint32_t time, bool write) {
    Hold guard(player.lock);
    if (player.output != Output::offline) return;
    if (time > player.offlineTime) player.offlineTime = time;
    int64_t target = int64_t(time) * rate() / 65536;
    std::vector<int16_t> block;
    while (player.offlineFrame < target) {
        int32_t frames = int32_t(std::min<int64_t>(target - player.offlineFrame, 4096));
        block.assign(size_t(frames) * size_t(player.settings.channels), 0);
        if (player.playing) renderPcm(block.data(), frames);
        if (write && player.wav) writeWavFrames(block.data(), frames);
        player.offlineFrame += frames;
    }
}

bool tmxOfflineClose() {
    Hold guard(player.lock);
    if (!player.wav) {
        bool wasOffline = player.output == Output::offline;
        if (wasOffline) player.playing = false, player.output = Output::none;
        return wasOffline;
    }
    bool ok = !player.wavFailed && writeWavHeader(player.wav, player.settings, player.wavDataBytes);
    ok = fclose(player.wav) == 0 && ok;
    player.wav = nullptr;
    player.playing = false;
    player.output = Output::none;
    if (!ok) logf("TMXL: the WAV file could not be written\n");
    return ok;
}
