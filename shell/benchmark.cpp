// The load report and the playback counters.
#include "shell/benchmark.h"

#include "gfx/device.h"
#include "gfx/font.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "scene/scenefile.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Static initialisation runs first thing in the process: loading is counted from here.
const Clock::time_point processStart = Clock::now();

struct LoadStage {
    std::string name;
    double seconds = 0;
};

struct LoadReport {
    std::vector<LoadStage> stages;
    Clock::time_point stageStart = processStart;
    std::string text;
    GpuTotals atEnd; // the device counters when loading ended
};

struct PlaybackCounters {
    uint64_t frames = 0;
    uint64_t draws = 0;
    uint64_t stateChanges = 0;
    Clock::time_point firstFrame;
    Clock::time_point lastFrame;
    double firstThreadCpu = 0; // seconds of CPU at the first frame
    double firstProcessCpu = 0;
    double threadCpu = 0; // at the latest frame
    double processCpu = 0;
};

LoadReport load;
PlaybackCounters playback;

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double cpuSeconds(clockid_t clock) {
    timespec now = {};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

} // namespace

void markLoadStage(const char* stage) {
    Clock::time_point now = Clock::now();
    load.stages.push_back(LoadStage{stage, seconds(now - load.stageStart)});
    load.stageStart = now;
}

void logLoadReport() {
    double total = seconds(load.stageStart - processStart);
    char part[256];
    snprintf(part, sizeof part, "%.3f s:", total);
    std::string text = part;
    for (size_t i = 0; i < load.stages.size(); ++i) {
        snprintf(part, sizeof part, "%s %s %.3f s", i ? "," : "", load.stages[i].name.c_str(),
                 load.stages[i].seconds);
        text += part;
    }
    load.atEnd = gpuTotals();
    snprintf(part, sizeof part,
             "; %llu textures, %d fonts, %u scene files read, %llu shaders compiled",
             (unsigned long long)load.atEnd.texturesCreated, int(fontCacheCount()),
             unsigned(sceneLoadCount()), (unsigned long long)load.atEnd.programsCompiled);
    text += part;
    load.text = text;
    logf("MAIN: load report: %s\n", text.c_str());
}

const char* loadReportText() {
    return load.text.c_str();
}

void countPlaybackFrame() {
    Clock::time_point now = Clock::now();
    double threadCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    double processCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    // The first frame starts the clocks: its own cost is the time to the second one.
    if (playback.frames++ == 0) {
        playback.firstFrame = now;
        playback.firstThreadCpu = threadCpu;
        playback.firstProcessCpu = processCpu;
    } else if (GpuDevice* device = dxDevice()) {
        const GpuFrameStats& stats = device->GetFrameStats();
        playback.draws += stats.draws;
        playback.stateChanges += stats.stateChanges;
    }
    playback.lastFrame = now;
    playback.threadCpu = threadCpu;
    playback.processCpu = processCpu;
}

double playbackSeconds() {
    return playback.frames > 1 ? seconds(playback.lastFrame - playback.firstFrame) : 0.0;
}

uint64_t playbackFrames() {
    return playback.frames;
}

void logPlaybackCreations() {
    const GpuTotals& now = gpuTotals();
    logf("MAIN: playback made %llu programs, %llu textures, %llu depth surfaces, %llu buffers\n",
         (unsigned long long)(now.programsCompiled - load.atEnd.programsCompiled),
         (unsigned long long)(now.texturesCreated - load.atEnd.texturesCreated),
         (unsigned long long)(now.depthSurfaces - load.atEnd.depthSurfaces),
         (unsigned long long)(now.buffersCreated - load.atEnd.buffersCreated));
}

void printBenchmarkReport(FILE* out, int32_t width, int32_t height, int32_t fps) {
    // Frames after the first are the measured ones (the first one starts the clocks).
    uint64_t measured = playback.frames > 1 ? playback.frames - 1 : 0;
    double wall = playbackSeconds();
    double perFrame = measured ? 1.0 / double(measured) : 0.0;
    fprintf(out, "benchmark: %dx%d, %llu frames at %d fps (%.2f s of the production) in %.2f s\n",
            int(width), int(height), (unsigned long long)playback.frames, int(fps),
            double(playback.frames) / double(fps > 0 ? fps : 1), wall);
    fprintf(out, "fps: %.1f\n", wall > 0 ? double(measured) / wall : 0.0);
    fprintf(out, "wall time per frame: %.3f ms\n", 1000.0 * wall * perFrame);
    fprintf(out, "CPU time per frame: %.3f ms main thread, %.3f ms all threads\n",
            1000.0 * (playback.threadCpu - playback.firstThreadCpu) * perFrame,
            1000.0 * (playback.processCpu - playback.firstProcessCpu) * perFrame);
    fprintf(out, "draw calls per frame: %.1f\n", double(playback.draws) * perFrame);
    fprintf(out, "state changes per frame: %.1f\n", double(playback.stateChanges) * perFrame);
    fprintf(out, "loading: %s\n", loadReportText());
}
