// Frames per second of the offline frame loop (tick + present) for the timeline's test scene
// (tests/script/timeline_scene.h) at 640x480 and 1920x1080, with GL calls, draws and state
// changes per frame. The reference, measured in the same run at the same size, is a loop that
// only clears the screen and presents. Google Benchmark benchmarks, one iteration per frame:
// clear_present/<size> and timeline/<size>; the timeline's frames walk once through the whole
// scene. After the report it prints the figures and "ratio timeline_<size>_vs_clear_present"
// (timeline fps over reference fps). Run headless with SDL_VIDEODRIVER=offscreen.
#include "bench/bench_results.h"
#include "effects/effect.h"
#include "script/parser.h"
#include "script/timeline.h"
#include "tests/script/headless_device.h"
#include "tests/script/timeline_scene.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 400;
constexpr int kWarmUpFrames = 20;
constexpr uint32_t kSceneLength = 4 * 65536; // the scene runs for 4 seconds

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
};
Session theSession;

void endSession() {
    if (!theSession.deviceUp) return;
    destroyEffects();
    theSession.script.reset();
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

Script& timelineScene() {
    if (!theSession.script) {
        theSession.script =
            std::make_unique<Script>(kTimelineScene, int32_t(strlen(kTimelineScene)), nullptr);
        theSession.script->parse(false);
        createTargets(*theSession.script);
        startTimeline(*theSession.script, nullptr);
    }
    return *theSession.script;
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
            Script& script = timelineScene();
            // The frames walk through the whole scene, so every layer is drawn in its turn.
            measure(state, [&](int k) {
                tick(script, uint32_t(uint64_t(k % kFrames) * kSceneLength / kFrames), 0);
            });
        })
        ->Iterations(kFrames)
        ->UseRealTime();
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
    ResultCollector collector;
    runBenchmarks(collector);
    endSession();
    if (!collector.errors.empty()) {
        fprintf(stderr, "no video driver (run with SDL_VIDEODRIVER=offscreen)\n");
        return 1;
    }
    for (ScreenSize size : sizes)
        printFigures(collector, size);
    return 0;
}
