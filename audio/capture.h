// Audio capture: the sound card's input turned into a loudness and five vowel likelihoods.
//
// One `VowelAnalyser` belongs to each talking-head effect: the effect constructs it, calls
// `open(-1)` and `start()` when it is created, reads `vowel` and `loudness` once per frame, and
// destroys it (which closes it) with the effect. Recording runs on the audio back end's thread
// in blocks of 2048 samples at 44100 Hz, two blocks in flight; a thread of the analyser's own
// analyses each finished block and publishes the results as single aligned 32-bit floats, so
// the render thread reads them without a lock (the five vowels of one frame may come from two
// blocks). Without an input device nothing is recorded and the vowels stay 0.
//
// The analysis of a block: loudness = RMS / 32768; below 0.2 the block is quiet (bands, vowels
// and the four reserved values 0). Otherwise eight bands are measured by two cascaded
// state-variable band-pass filters each (state kept from block to block), their log energies
// normalised to [0, 1] and compared with five stored vowel spectra; the closest vowel gets 1.0
// and the others the ratio of the closest distance to theirs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class VowelAnalyser {
  public:
    static constexpr int32_t kBands = 8;
    static constexpr int32_t kVowels = 5; // u, o, a, e, i
    static constexpr int32_t kBlockSamples = 2048;
    static constexpr int32_t kBuffers = 2;

    VowelAnalyser();
    ~VowelAnalyser();
    VowelAnalyser(const VowelAnalyser&) = delete;
    VowelAnalyser& operator=(const VowelAnalyser&) = delete;

    // Opens the default input (every device id means the default one) and starts the analysis
    // thread. Returns true also when there is no input device: the results then stay 0.
    bool open(int32_t deviceId);
    void start();
    void stop();
    // Stops recording and ends the analysis thread (within 1000 ms).
    void close();

    // The analysis of one block, as the thread runs it (tests call it directly).
    void analyseBlock(const int16_t* samples, int32_t count);
    // Steps 3.2 to 3.5 of the analysis from raw band levels (log energies minus 11).
    void matchLevels(const float* levels);

    bool recording() const { return device != 0; }

    float filterState[kBands][4] = {}; // per band: low and band of the two cascaded filters
    float bands[kBands] = {};          // normalised levels of the last analysed block
    std::atomic<float> vowel[kVowels];
    std::atomic<float> reserved[4];
    std::atomic<float> spread{0.0f};
    std::atomic<float> loudness{0.0f};

  private:
    static void deliver(const int16_t* samples, int32_t count, void* user);
    void analysisLoop();

    uint32_t device = 0;
    std::thread thread;
    std::mutex lock; // guards the buffers' states, quit and finished
    std::condition_variable dataReady, threadEnded;
    int16_t buffers[kBuffers][kBlockSamples] = {};
    bool done[kBuffers] = {}; // recorded, waiting for the analysis
    int32_t nextBuffer = 0;   // the buffer the next recorded block goes into
    int32_t dropped = 0;      // blocks recorded while both buffers were busy
    bool quit = false;
    bool finished = false;
};
