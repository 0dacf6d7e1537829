// Audible-time error of the music clock. Plays a tune through SDL's disk audio driver, which
// writes each block to a file when it takes it and then waits for the block's length, and
// compares, every fraction of a millisecond, the running clock (tmxGetClock) with the sound
// written so far: the block written last is being heard from the moment it appeared, one
// sample frame per 1/rate s. The silent blocks the device took before tmxPlay (all zeros at
// the file's start) are not part of the song. Prints the error's median and spread in
// milliseconds.
//
// The player counts one device buffer as still on its way to the speakers; the disk driver
// has no such buffer, so the probe gives the player the latency offset that a user would set
// for such an output (minus one buffer), and also reports the run without it.
//
// Usage: clock_probe TUNE [SECONDS (default 20)] [LATENCY_OFFSET_MS (default: minus a buffer)]
#include "platform/music/music.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kRate = 44100;
constexpr int32_t kBlockFrames = 2048; // 8 KiB blocks: stdio passes them on at once
constexpr int32_t kFrameBytes = 4;     // 16-bit stereo

std::vector<char> readAll(const char* path) {
    std::vector<char> bytes;
    FILE* file = fopen(path, "rb");
    if (!file) return bytes;
    char chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(file);
    return bytes;
}

int64_t fileFrames(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? int64_t(info.st_size) / kFrameBytes : 0;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(std::min(double(values.size() - 1), p * double(values.size() - 1)))];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: clock_probe TUNE [SECONDS] [LATENCY_OFFSET_MS]\n");
        return 2;
    }
    double seconds = argc > 2 ? atof(argv[2]) : 20.0;
    int offsetMs = argc > 3 ? atoi(argv[3]) : -int(std::lround(kBlockFrames * 1000.0 / kRate));
    std::vector<char> tune = readAll(argv[1]);
    if (tune.empty()) {
        fprintf(stderr, "clock_probe: cannot read %s\n", argv[1]);
        return 1;
    }
    std::string output = "/tmp/clock_probe_" + std::to_string(getpid()) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);

    SoundSettings settings;
    tmxInit(&settings);
    settings.sampleRate = kRate;
    settings.bufferFrames = kBlockFrames;
    settings.latencyOffsetMs = offsetMs;
    tmxOpen(nullptr, &settings);
    std::string name = argv[1];
    int type = name.size() > 3 && name.compare(name.size() - 3, 3, ".xm") == 0    ? kTuneXm
               : name.size() > 4 && name.compare(name.size() - 4, 4, ".mp3") == 0 ? kTuneMp3
                                                                                  : kTuneIt;
    if (tmxLoadMem(tune.data(), uint32_t(tune.size()), type) != 0) {
        fprintf(stderr, "clock_probe: the tune does not load: %s\n", tmxLoadError());
        return 1;
    }
    tmxPlay();

    // Readings: when, the block written last (first frame, end) and when it appeared, and the
    // clock. They are compared once the silence before the song is known.
    struct Reading {
        double since, blockSince;
        int64_t blockStart, written;
        int32_t clock;
    };
    std::vector<Reading> readings;
    int64_t written = 0, blockStart = 0;
    double blockSince = 0;
    const Clock::time_point start = Clock::now();
    for (;;) {
        double since = std::chrono::duration<double>(Clock::now() - start).count();
        if (since > seconds) break;
        int64_t frames = fileFrames(output);
        if (frames != written) {
            blockStart = written;
            written = frames;
            blockSince = since;
        }
        int32_t clock = tmxGetClock();
        // The first two seconds let the clock settle on the device's pace.
        if (since > 2.0 && clock >= 0 && written > 0)
            readings.push_back({since, blockSince, blockStart, written, clock});
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    tmxStop();
    tmxFree();
    tmxClose();
    std::vector<char> sound = readAll(output.c_str());
    unlink(output.c_str());
    int64_t silent = 0; // frames of whole zero blocks before the song
    const int64_t blockBytes = int64_t(kBlockFrames) * kFrameBytes;
    while ((silent + kBlockFrames) * kFrameBytes <= int64_t(sound.size()) &&
           std::all_of(sound.begin() + silent * kFrameBytes,
                       sound.begin() + silent * kFrameBytes + blockBytes,
                       [](char c) { return c == 0; }))
        silent += kBlockFrames;

    std::vector<double> errors;
    for (const Reading& r : readings) {
        double heard =
            std::min(double(r.written), double(r.blockStart) + (r.since - r.blockSince) * kRate) -
            double(silent);
        double clockFrames = double(r.clock) / 65536.0 * kRate;
        errors.push_back((clockFrames - heard) * 1000.0 / kRate);
    }
    std::vector<double> magnitudes;
    for (double e : errors)
        magnitudes.push_back(std::fabs(e));
    printf("latency offset %d ms, %d-frame blocks at %d Hz, %zu readings over %.0f s, %lld silent "
           "blocks before the song\n",
           offsetMs, kBlockFrames, kRate, errors.size(), seconds - 2.0,
           (long long)(silent / kBlockFrames));
    printf("clock minus sound written: median %+.2f ms, 5%% %+.2f ms, 95%% %+.2f ms\n",
           percentile(errors, 0.5), percentile(errors, 0.05), percentile(errors, 0.95));
    printf("|error|: median %.2f ms, 95%% %.2f ms, max %.2f ms\n", percentile(magnitudes, 0.5),
           percentile(magnitudes, 0.95), percentile(magnitudes, 1.0));
    return errors.empty() ? 1 : 0;
}
