// Frames per second of the offline frame loop (tick + present) for the timeline's test scene
// (tests/script/timeline_scene.h) at 640x480 and 1920x1080, with GL calls, draws and state
// changes per frame. The reference, measured in the same run at the same size, is a loop that
// only clears the screen and presents. Google Benchmark benchmarks, one iteration per frame:
// clear_present/<size> and timeline/<size>; the timeline's frames walk once through the whole
// scene. After the report it prints the figures and "ratio timeline_<size>_vs_clear_present"
// (timeline fps over reference fps).
//
// timeline_cpu/500x2000 measures the timeline's own work without drawing: a production of 500
// instances of a class whose render does nothing, 2,000 actions on ten viewports in 16 layers,
// 200 fades and 500 property events, ticked across its 200 seconds; the figure is the CPU time
// of `tick` alone per frame. Run headless with SDL_VIDEODRIVER=offscreen.
#include "bench/bench_results.h"
#include "effects/effect.h"
#include "script/parser.h"
#include "script/timeline.h"
#include "tests/effects/builtin_classes.h"
#include "tests/script/headless_device.h"
#include "tests/script/timeline_scene.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 400;
constexpr int kWarmUpFrames = 20;
constexpr uint32_t kSceneLength = 4 * 65536; // the scene runs for 4 seconds

constexpr int kBusyEffects = 500;
constexpr int kBusyRunsPerEffect = 4;
constexpr int kBusySeconds = 200;
constexpr int kBusyFrames = 2000;

struct ScreenSize {
    int32_t width = 0, height = 0;
    std::string name() const { return std::to_string(width) + "x" + std::to_string(height); }
};

// The device of the size being measured, and the scene once the timeline benchmark needs it.
// The benchmarks of one size run one after the other, so each size starts its device once.
struct Session {
    ScreenSize size;
    bool deviceUp = false;
    std::unique_ptr<Script> script;
    std::unique_ptr<Script> busyScript;
    Timeline timeline, busyTimeline;
};
Session theSession;

void endSession() {
    if (!theSession.deviceUp) return;
    destroyEffects();
    theSession.script.reset();
    theSession.busyScript.reset();
    stopHeadlessDevice();
    theSession.deviceUp = false;
}

bool deviceAt(ScreenSize size) {
    if (theSession.deviceUp && theSession.size.width == size.width &&
        theSession.size.height == size.height)
        return true;
    endSession();
    theSession.size = size;
    theSession.deviceUp = startHeadlessDevice(size.width, size.height);
    return theSession.deviceUp;
}

Timeline& timelineScene() {
    if (!theSession.script) {
        theSession.script =
            std::make_unique<Script>(kTimelineScene, int32_t(strlen(kTimelineScene)), nullptr);
        theSession.script->parse(false);
        createTargets(theSession.timeline, *theSession.script);
        startTimeline(theSession.timeline, nullptr);
    }
    return theSession.timeline;
}

// An effect that draws nothing, so that only the timeline's own work is measured.
class IdleEffect : public Effect {};
const EffectClass idleEffectClass = {"idle", nullptr, nullptr, createEffectOf<IdleEffect>,
                                     recreateEffectOf<IdleEffect>};

// Every effect runs four times for 40 seconds, 50 seconds apart, so that 400 of the 500 run
// at any moment; fades and events are spread over the whole production.
std::string busyScriptText() {
    std::string text;
    for (int v = 0; v < 10; ++v)
        text += "viewport v" + std::to_string(v) + " 0." + std::to_string(v) + " 0 0.1 1\n";
    for (int e = 0; e < kBusyEffects; ++e)
        text += "effect e" + std::to_string(e) + " is idle\n";
    text += "demo runs for " + std::to_string(kBusySeconds) + " seconds\n";
    for (int r = 0; r < kBusyRunsPerEffect; ++r)
        for (int e = 0; e < kBusyEffects; ++e)
            text += "at second " + std::to_string(r * 50 + e % 50) + " start e" +
                    std::to_string(e) + " vp v" + std::to_string(e % 10) + " z " +
                    std::to_string(e % 16) + " for 40 seconds\n";
    for (int f = 0; f < 200; ++f)
        text += "at second " + std::to_string(f) + " fade e" + std::to_string(f % kBusyEffects) +
                ".level from 0 to 1 for 5 seconds\n";
    for (int k = 0; k < 500; ++k)
        text += "at second " + std::to_string(k * kBusySeconds / 500) + " set e" +
                std::to_string(k % kBusyEffects) + ".word to " + std::to_string(k) + "\n";
    text += "enddemo\n";
    return text;
}

Timeline& busyScene() {
    if (!theSession.busyScript) {
        static bool registered = false;
        if (!registered) registerEffectClass(idleEffectClass);
        registered = true;
        static const std::string text = busyScriptText();
        theSession.busyScript =
            std::make_unique<Script>(text.c_str(), int32_t(text.size()), nullptr);
        theSession.busyScript->parse(false);
        createTargets(theSession.busyTimeline, *theSession.busyScript);
        startTimeline(theSession.busyTimeline, nullptr);
    }
    return theSession.busyTimeline;
}

// Runs frame(k) then present() once per iteration, after a few frames of warm-up, and counts
// the device's work per frame.
template <class Frame> void measure(benchmark::State& state, Frame frame) {
    for (int k = 0; k < kWarmUpFrames; ++k) {
        frame(k);
        present();
    }
    double glCalls = 0, draws = 0, stateChanges = 0;
    int k = 0;
    for (auto _ : state) {
        frame(k++);
        present();
        const GpuFrameStats& stats = dxDevice()->GetFrameStats();
        glCalls += stats.glCalls;
        draws += stats.draws;
        stateChanges += stats.stateChanges;
    }
    using benchmark::Counter;
    state.counters["fps"] = Counter(double(state.iterations()), Counter::kIsRate);
    state.counters["gl_calls"] = Counter(glCalls, Counter::kAvgIterations);
    state.counters["draws"] = Counter(draws, Counter::kAvgIterations);
    state.counters["state_changes"] = Counter(stateChanges, Counter::kAvgIterations);
}

void registerBenchmarks(ScreenSize size) {
    benchmark::RegisterBenchmark(("clear_present/" + size.name()).c_str(),
                                 [size](benchmark::State& state) {
                                     if (!deviceAt(size)) {
                                         state.SkipWithError("no video driver");
                                         return;
                                     }
                                     measure(state, [](int) {
                                         selectRenderTarget("primary");
                                         clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
                                     });
                                 })
        ->Iterations(kFrames)
        ->UseRealTime();
    benchmark::RegisterBenchmark(
        ("timeline/" + size.name()).c_str(),
        [size](benchmark::State& state) {
            if (!deviceAt(size)) {
                state.SkipWithError("no video driver");
                return;
            }
            Timeline& script = timelineScene();
            // The frames walk through the whole scene, so every layer is drawn in its turn.
            measure(state, [&](int k) {
                tick(script, uint32_t(uint64_t(k % kFrames) * kSceneLength / kFrames), 0);
            });
        })
        ->Iterations(kFrames)
        ->UseRealTime();
}

// CPU time of tick alone per frame; each iteration is one frame of the walk through the busy
// production, presented outside the timed span.
void registerTimelineCpuBenchmark() {
    benchmark::RegisterBenchmark(
        "timeline_cpu/500x2000",
        [](benchmark::State& state) {
            if (!deviceAt({640, 480})) {
                state.SkipWithError("no video driver");
                return;
            }
            Timeline& script = busyScene();
            int k = 0;
            for (auto _ : state) {
                uint32_t now =
                    uint32_t(uint64_t(k % kBusyFrames) * kBusySeconds * 65536 / kBusyFrames);
                ++k;
                auto begin = std::chrono::steady_clock::now();
                tick(script, now, 0);
                auto end = std::chrono::steady_clock::now();
                state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
                present();
            }
        })
        ->Iterations(kBusyFrames)
        ->UseManualTime();
}

void printFigures(const ResultCollector& collector, ScreenSize size) {
    const BenchResult* reference = findResult(collector, "clear_present/" + size.name());
    const BenchResult* timeline = findResult(collector, "timeline/" + size.name());
    std::string sizeName = size.name();
    const char* name = sizeName.c_str();
    if (timeline)
        printf("timeline %s: %.1f frames/s (%.3f ms/frame), %.1f GL calls, %.1f draws, "
               "%.1f state changes per frame\n",
               name, 1.0 / timeline->realSeconds, 1000.0 * timeline->realSeconds,
               counterOf(*timeline, "gl_calls"), counterOf(*timeline, "draws"),
               counterOf(*timeline, "state_changes"));
    if (reference)
        printf("clear+present %s: %.1f frames/s, %.1f GL calls per frame\n", name,
               1.0 / reference->realSeconds, counterOf(*reference, "gl_calls"));
    if (timeline && reference)
        printf("ratio timeline_%s_vs_clear_present %.3f\n", name,
               reference->realSeconds / timeline->realSeconds);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = withDefaultFlags(argc, argv, {});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    const ScreenSize sizes[] = {{640, 480}, {1920, 1080}};
    for (ScreenSize size : sizes)
        registerBenchmarks(size);
    registerTimelineCpuBenchmark();
    ResultCollector collector;
    runBenchmarks(collector);
    endSession();
    if (!collector.errors.empty()) {
        fprintf(stderr, "no video driver (run with SDL_VIDEODRIVER=offscreen)\n");
        return 1;
    }
    for (ScreenSize size : sizes)
        printFigures(collector, size);
    if (const BenchResult* busy = findResult(collector, "timeline_cpu/500x2000"))
        printf("timeline_cpu 500 effects, 2000 actions: %.1f us of tick per frame\n",
               1e6 * busy->realSeconds);
    return 0;
}
