// Vowel analysis of the sound input: capture hand-over, analysis thread, the band filters and
// the vowel match.
#include "audio/capture.h"

#include "platform/audioin.h"
#include "platform/log.h"

#include <chrono>
#include <cmath>

namespace {

// Band centres / 22050: 450, 630, 960, 1230, 1950, 2550, 4500, 6630 Hz.
constexpr float kBandCoefficient[VowelAnalyser::kBands] = {0.020408163f, 0.028571429f, 0.043537416f,
                                                           0.055782314f, 0.088435374f, 0.11564626f,
                                                           0.20408164f,  0.30068028f};

// The vowels' band spectra in percent, rows u, o, a, e, i.
constexpr float kVowelSpectrum[VowelAnalyser::kVowels][VowelAnalyser::kBands] = {
    {90, 100, 90, 75, 50, 40, 20, 0},
    {70, 80, 90, 100, 80, 40, 20, 0},
    {80, 80, 80, 80, 100, 95, 30, 0},
    {80, 90, 100, 100, 60, 40, 0, 10},
    {90, 100, 85, 70, 50, 40, 5, 15}};

constexpr float kQuietLoudness = 0.2f;
constexpr float kMinimumDistance = 0.005f;

// One state-variable filter step with damping 1; returns the band output.
inline float filterStep(float input, float& low, float& band, float f) {
    low += f * band;
    float high = input - band - low;
    band += f * high;
    return band;
}

} // namespace

VowelAnalyser::VowelAnalyser() {
    for (auto& v : vowel)
        v = 0.0f;
    for (auto& r : reserved)
        r = 0.0f;
}

VowelAnalyser::~VowelAnalyser() {
    close();
}

bool VowelAnalyser::open(int32_t) {
    close();
    {
        std::lock_guard<std::mutex> guard(lock);
        quit = finished = false;
        done[0] = done[1] = false;
        nextBuffer = 0;
    }
    device = audioInOpen(kBlockSamples, deliver, this);
    thread = std::thread([this] { analysisLoop(); });
    return true;
}

void VowelAnalyser::start() {
    audioInStart(device);
}

void VowelAnalyser::stop() {
    audioInStop(device);
}

void VowelAnalyser::close() {
    stop();
    // The device goes first, so that no block arrives while the thread ends.
    audioInClose(device);
    device = 0;
    if (!thread.joinable()) return;
    std::unique_lock<std::mutex> guard(lock);
    quit = true;
    dataReady.notify_all();
    bool ended =
        threadEnded.wait_for(guard, std::chrono::milliseconds(1000), [this] { return finished; });
    guard.unlock();
    if (ended) {
        thread.join();
    } else {
        logf("WAVI: warning - the analysis thread did not end within 1000 ms\n");
        thread.detach();
    }
}

// On the audio back end's thread: the block goes into the free buffer, if there is one.
void VowelAnalyser::deliver(const int16_t* samples, int32_t count, void* user) {
    auto* analyser = static_cast<VowelAnalyser*>(user);
    std::lock_guard<std::mutex> guard(analyser->lock);
    int32_t slot = analyser->nextBuffer;
    if (analyser->done[slot] || count != kBlockSamples) {
        ++analyser->dropped;
        return;
    }
    std::copy(samples, samples + count, analyser->buffers[slot]);
    analyser->done[slot] = true;
    analyser->nextBuffer = (slot + 1) % kBuffers;
    analyser->dataReady.notify_one();
}

void VowelAnalyser::analysisLoop() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        dataReady.wait(guard, [this] { return quit || done[0] || done[1]; });
        if (quit) break;
        for (int32_t slot = 0; slot < kBuffers; ++slot) {
            if (!done[slot]) continue;
            // The buffer stays marked busy while it is analysed outside the lock.
            guard.unlock();
            analyseBlock(buffers[slot], kBlockSamples);
            guard.lock();
            done[slot] = false;
        }
    }
    finished = true;
    threadEnded.notify_all();
}

void VowelAnalyser::analyseBlock(const int16_t* samples, int32_t count) {
    if (count <= 0) return;
    double squares = 0;
    for (int32_t i = 0; i < count; ++i)
        squares += double(samples[i]) * double(samples[i]);
    float level = float(std::sqrt(squares / double(count)) / 32768.0);
    loudness = level;
    if (level < kQuietLoudness) {
        for (float& band : bands)
            band = 0.0f;
        for (auto& v : vowel)
            v = 0.0f;
        for (auto& r : reserved)
            r = 0.0f;
        return;
    }
    float levels[kBands];
    for (int32_t b = 0; b < kBands; ++b) {
        float* s = filterState[b];
        float f = kBandCoefficient[b];
        double energy = 0;
        for (int32_t i = 0; i < count; ++i) {
            float first = filterStep(float(samples[i]), s[0], s[1], f);
            float second = filterStep(first, s[2], s[3], f);
            energy += double(second) * double(second);
        }
        levels[b] = energy >= 65536.0 ? float(std::log(energy)) - 11.0f : 0.0f;
    }
    matchLevels(levels);
}

void VowelAnalyser::matchLevels(const float* levels) {
    float highest = 0.0f, lowest = 10000.0f;
    for (int32_t b = 0; b < kBands; ++b) {
        highest = std::max(highest, levels[b]);
        lowest = std::min(lowest, levels[b]);
    }
    while (highest <= lowest)
        highest += 1.0f;
    for (int32_t b = 0; b < kBands; ++b)
        bands[b] = (levels[b] - lowest) / (highest - lowest);

    float distance[kVowels];
    float closest = 10.0f;
    for (int32_t v = 0; v < kVowels; ++v) {
        float sum = 0;
        for (int32_t b = 0; b < kBands; ++b) {
            float d = bands[b] - kVowelSpectrum[v][b] / 100.0f;
            sum += d * d;
        }
        distance[v] = std::max(std::sqrt(sum), kMinimumDistance);
        closest = std::min(closest, distance[v]);
    }
    float mean = 0;
    for (int32_t v = 0; v < kVowels; ++v) {
        vowel[v] = closest / distance[v];
        mean += vowel[v];
    }
    mean /= float(kVowels);
    float deviation = 0;
    for (int32_t v = 0; v < kVowels; ++v)
        deviation += (vowel[v] - mean) * (vowel[v] - mean);
    spread = std::sqrt(deviation);
}
