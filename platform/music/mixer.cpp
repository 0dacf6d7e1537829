// The mixing stage after the decoders: chorus, surround, reverb, then panning, balance,
// volume and amplification. Settings glide linearly over one block so that fades do not
// click. The delay lines are fed all the time, so switching a stage on starts without a gap;
// a stage at level 0 leaves the samples bit for bit as they were.
#include "platform/music/music_local.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Reverb: four damped feedback combs and two all-passes per side, the right side a little
// longer than the left for width (lengths in frames at 44.1 kHz).
constexpr int kCombLengths[4] = {1116, 1188, 1277, 1356};
constexpr int kAllpassLengths[2] = {556, 441};
constexpr int kStereoSpread = 23;
constexpr float kCombFeedback = 0.84f;
constexpr float kCombDamping = 0.2f;
constexpr float kAllpassFeedback = 0.5f;
constexpr float kReverbInputGain = 0.03f;

// Chorus: a delay of 20 ms swept by +-6 ms at 0.6 Hz, the right side a quarter turn later.
constexpr double kChorusDelay = 0.020;
constexpr double kChorusDepth = 0.006;
constexpr double kChorusRate = 0.6;
constexpr float kChorusMix = 0.7f;

// Surround: the middle signal 20 ms late, dulled above 7 kHz, added to the left side and
// taken from the right (the rear channel of a matrix decoder).
constexpr double kSurroundDelay = 0.020;
constexpr double kSurroundCutoff = 7000.0;
constexpr float kSurroundMix = 0.7f;

size_t framesFor(double seconds, int32_t rate) {
    return size_t(std::lround(seconds * rate));
}

size_t scaled(int frames44k, int32_t rate) {
    return std::max<size_t>(1, size_t(std::lround(double(frames44k) * rate / 44100.0)));
}

float flushTiny(float value) {
    return std::fabs(value) < 1e-15f ? 0.0f : value;
}

float glide(float from, float to, int32_t index, int32_t frames) {
    return from + (to - from) * float(index + 1) / float(frames);
}

bool stageOff(float from, float to) {
    return from == 0.0f && to == 0.0f;
}

void chorusStage(Mixer& mixer, float* stereo, int32_t frames) {
    const size_t length = mixer.chorusLine.size() / 2;
    const bool off = stageOff(mixer.current.chorus, mixer.target.chorus);
    for (int32_t i = 0; i < frames; ++i) {
        float* frame = stereo + 2 * i;
        size_t pos = mixer.chorusPos;
        mixer.chorusLine[2 * pos] = frame[0];
        mixer.chorusLine[2 * pos + 1] = frame[1];
        mixer.chorusPos = (pos + 1) % length;
        if (off) continue;
        float wet = glide(mixer.current.chorus, mixer.target.chorus, i, frames) * kChorusMix;
        double t = double(mixer.frameCount + i) / mixer.rate;
        for (int side = 0; side < 2; ++side) {
            double sweep = std::sin(2.0 * kPi * kChorusRate * t + side * kPi / 2.0);
            double delay = (kChorusDelay + kChorusDepth * sweep) * mixer.rate;
            double back = double(pos) + double(length) - delay;
            size_t a = size_t(back) % length, b = (a + 1) % length;
            float fraction = float(back - std::floor(back));
            float delayed =
                mixer.chorusLine[2 * a + side] +
                (mixer.chorusLine[2 * b + side] - mixer.chorusLine[2 * a + side]) * fraction;
            frame[side] += wet * delayed;
        }
    }
}

void surroundStage(Mixer& mixer, float* stereo, int32_t frames) {
    const size_t length = mixer.surroundLine.size();
    const bool off = stageOff(mixer.current.surround, mixer.target.surround);
    const float smoothing = float(1.0 - std::exp(-2.0 * kPi * kSurroundCutoff / mixer.rate));
    for (int32_t i = 0; i < frames; ++i) {
        float* frame = stereo + 2 * i;
        size_t pos = mixer.surroundPos;
        float late = mixer.surroundLine[pos]; // written one line length ago
        mixer.surroundLine[pos] = 0.5f * (frame[0] + frame[1]);
        mixer.surroundPos = (pos + 1) % length;
        mixer.surroundLowpass =
            flushTiny(mixer.surroundLowpass + smoothing * (late - mixer.surroundLowpass));
        if (off) continue;
        float rear = glide(mixer.current.surround, mixer.target.surround, i, frames) *
                     kSurroundMix * mixer.surroundLowpass;
        frame[0] += rear;
        frame[1] -= rear;
    }
}

float combStep(Mixer& mixer, int index, float input) {
    std::vector<float>& line = mixer.combLines[index];
    size_t& pos = mixer.combPos[index];
    float out = line[pos];
    mixer.combFilter[index] =
        flushTiny(out * (1.0f - kCombDamping) + mixer.combFilter[index] * kCombDamping);
    line[pos] = flushTiny(input + mixer.combFilter[index] * kCombFeedback);
    pos = (pos + 1) % line.size();
    return out;
}

float allpassStep(Mixer& mixer, int index, float input) {
    std::vector<float>& line = mixer.allpassLines[index];
    size_t& pos = mixer.allpassPos[index];
    float stored = line[pos];
    line[pos] = flushTiny(input + stored * kAllpassFeedback);
    pos = (pos + 1) % line.size();
    return stored - input;
}

void reverbStage(Mixer& mixer, float* stereo, int32_t frames) {
    const bool off = stageOff(mixer.current.reverb, mixer.target.reverb);
    for (int32_t i = 0; i < frames; ++i) {
        float* frame = stereo + 2 * i;
        float input = (frame[0] + frame[1]) * kReverbInputGain;
        float wet[2] = {0.0f, 0.0f};
        for (int side = 0; side < 2; ++side) {
            for (int c = 0; c < 4; ++c)
                wet[side] += combStep(mixer, side * 4 + c, input);
            for (int a = 0; a < 2; ++a)
                wet[side] = allpassStep(mixer, side * 2 + a, wet[side]);
        }
        if (off) continue;
        float level = glide(mixer.current.reverb, mixer.target.reverb, i, frames);
        frame[0] += level * wet[0];
        frame[1] += level * wet[1];
    }
}

// Panning moves the whole picture: the side it moves away from is folded into the other.
// Balance only turns one side down. Then volume and amplification.
void levelStage(Mixer& mixer, float* stereo, int32_t frames) {
    const MixSettings& from = mixer.current;
    const MixSettings& to = mixer.target;
    for (int32_t i = 0; i < frames; ++i) {
        float* frame = stereo + 2 * i;
        float left = frame[0], right = frame[1];
        float pan = glide(from.pan, to.pan, i, frames);
        if (pan > 0.0f) {
            right += left * pan;
            left *= 1.0f - pan;
        } else if (pan < 0.0f) {
            left += right * -pan;
            right *= 1.0f + pan;
        }
        float balance = glide(from.balance, to.balance, i, frames);
        if (balance > 0.0f) left *= 1.0f - balance;
        if (balance < 0.0f) right *= 1.0f + balance;
        float level =
            glide(from.volume, to.volume, i, frames) * glide(from.gain, to.gain, i, frames);
        frame[0] = left * level;
        frame[1] = right * level;
    }
}

} // namespace

void mixerReset(Mixer& mixer, int32_t rate) {
    mixer.rate = rate;
    mixer.frameCount = 0;
    mixer.current = mixer.target;
    mixer.chorusLine.assign(2 * framesFor(kChorusDelay + kChorusDepth + 0.005, rate), 0.0f);
    mixer.surroundLine.assign(std::max<size_t>(1, framesFor(kSurroundDelay, rate)), 0.0f);
    mixer.surroundLowpass = 0.0f;
    for (int side = 0; side < 2; ++side) {
        for (int c = 0; c < 4; ++c)
            mixer.combLines[side * 4 + c].assign(
                scaled(kCombLengths[c] + side * kStereoSpread, rate), 0.0f);
        for (int a = 0; a < 2; ++a)
            mixer.allpassLines[side * 2 + a].assign(
                scaled(kAllpassLengths[a] + side * kStereoSpread, rate), 0.0f);
    }
    std::fill(std::begin(mixer.combFilter), std::end(mixer.combFilter), 0.0f);
    std::fill(std::begin(mixer.combPos), std::end(mixer.combPos), size_t(0));
    std::fill(std::begin(mixer.allpassPos), std::end(mixer.allpassPos), size_t(0));
    mixer.chorusPos = 0;
    mixer.surroundPos = 0;
}

void mixerProcess(Mixer& mixer, float* stereo, int32_t frames) {
    if (frames <= 0 || mixer.chorusLine.empty()) return;
    chorusStage(mixer, stereo, frames);
    surroundStage(mixer, stereo, frames);
    reverbStage(mixer, stereo, frames);
    levelStage(mixer, stereo, frames);
    mixer.current = mixer.target;
    mixer.frameCount += frames;
}
