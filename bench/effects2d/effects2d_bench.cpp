// CPU time per frame of each two-dimensional effect at 1280 x 720 (clear, render, present),
// against a frame that only clears and presents, measured in the same run, with GL calls and
// draw calls per frame. matrix runs at 80 x 60 cells, yodawriter with a text of about 2,000
// particles; both should need a few draw calls, not one per cell or particle.
// Prints "ratio <class>_vs_clear <cpu of the class / cpu of the clear frame>" lines.
// Run headless: SDL_VIDEODRIVER=offscreen build/bench/effects2d_bench
#include "bench/bench_results.h"
#include "data/filesystem.h"
#include "effects/effect.h"
#include "gfx/font.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "tests/effects/builtin_classes.h"
#include "tests/script/headless_device.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int32_t kWidth = 1280, kHeight = 720;
constexpr int kFrames = 100;
constexpr int kWarmUpFrames = 10;

using Settings = std::vector<std::pair<std::string, std::string>>;

struct Case {
    const char* className;
    Settings settings;
};

std::string font() {
    return std::string(LUX_BINARY_DIR) + "/fonts/arial_48.fn2";
}

std::vector<Case> cases() {
    return {
        {"vexwriter", {{"font", font()}, {"text", "letters that zoom away"}, {"indelay", "0"}}},
        {"multitext",
         {{"font", font()},
          {"count", "4"},
          {"msg1", "one"},
          {"msg2", "two"},
          {"msg3", "three"},
          {"msg4", "four"},
          {"time", "1"}}},
        {"letterwriter", {{"font", font()}, {"c", "A"}, {"scale", "4"}}},
        {"scroller",
         {{"font", font()},
          {"msg", "a line of text that runs across"},
          {"scale", "1"},
          {"time", "0.3"}}},
        {"image", {{"image", "lake.jpg"}, {"angle", "20"}}},
        {"imagescroller", {{"path", "lake"}, {"nimages", "6"}, {"len", "1536"}, {"load", "1"}}},
        {"matrix", {{"font", "glyphs.png"}, {"cols", "80"}, {"rows", "60"}}},
        {"yodawriter", {{"font", "Arial|54"}, {"text", "particles"}}},
        {"designbox", {{"thick", "4y"}}},
        {"designlines", {{"reset", "1"}, {"length", "1"}, {"thick", "3y"}}},
    };
}

bool started = false;

bool start() {
    if (started) return true;
    if (!startHeadlessDevice(kWidth, kHeight)) return false;
    configValues.prefxres = 640;
    configValues.prefyres = 480;
    initFileSystem();
    initTextures();
    initTexturePool();
    initFontPool();
    std::filesystem::path lake = std::filesystem::path(LUX_TEST_DATA) / "scratch-lake.jpg";
    std::filesystem::copy_file(lake, "lake.jpg", std::filesystem::copy_options::overwrite_existing);
    for (int i = 0; i < 6; ++i)
        std::filesystem::copy_file(lake, "lake" + std::to_string(i) + ".jpg",
                                   std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(std::filesystem::path(LUX_SOURCE_DIR) /
                                   "tests/effects/production/glyphs.png",
                               "glyphs.png", std::filesystem::copy_options::overwrite_existing);
    started = true;
    return true;
}

void stop() {
    if (!started) return;
    destroyEffects();
    closeFontPool();
    closeTexturePool();
    closeTextures();
    closeFileSystem();
    stopHeadlessDevice();
    started = false;
}

// One iteration per frame: clear, the frame's drawing, present; counts the device's work.
template <class Frame> void measure(benchmark::State& state, Frame frame) {
    for (int k = 0; k < kWarmUpFrames; ++k) {
        frame(k);
        present();
    }
    double glCalls = 0, draws = 0;
    int k = kWarmUpFrames;
    for (auto _ : state) {
        selectRenderTarget("primary");
        setViewport(0, 0, kWidth, kHeight);
        clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        frame(k++);
        present();
        const GpuFrameStats& stats = dxDevice()->GetFrameStats();
        glCalls += stats.glCalls;
        draws += stats.draws;
    }
    using benchmark::Counter;
    state.counters["gl_calls"] = Counter(glCalls, Counter::kAvgIterations);
    state.counters["draws"] = Counter(draws, Counter::kAvgIterations);
}

void registerAll() {
    benchmark::RegisterBenchmark("clear", [](benchmark::State& state) {
        if (!start()) return state.SkipWithError("no video driver");
        measure(state, [](int) {});
    })->Iterations(kFrames);
    for (const Case& c : cases()) {
        benchmark::RegisterBenchmark(c.className, [c](benchmark::State& state) {
            if (!start()) return state.SkipWithError("no video driver");
            std::string instance = std::string("bench_") + c.className;
            createEffect(instance.c_str(), c.className);
            for (const auto& [name, value] : c.settings)
                setEffectProperty(instance.c_str(), name.c_str(), value.c_str());
            // 30 frames per second of local time, looping over 2 seconds for the writers.
            measure(state, [&](int k) {
                renderEffect(instance.c_str(), uint32_t((k % 60) * 65536 / 30), 0);
            });
        })->Iterations(kFrames);
    }
}

// Covered samples of the yodawriter text (coverage of 96 and more): its particles.
int yodaParticles() {
    BitmapFont* arial = acquireFont("Arial|54");
    int32_t width = 0, height = 0, covered = 0;
    for (uint8_t cover : renderTextLine(arial, "particles", &width, &height))
        covered += cover >= 96;
    releaseFont(arial);
    return covered;
}

void printFigures(const ResultCollector& collector, int particles) {
    const BenchResult* reference = findResult(collector, "clear");
    if (!reference) return;
    printf("clear %dx%d: %.3f ms CPU per frame, %.1f GL calls\n", kWidth, kHeight,
           1000 * reference->cpuSeconds, counterOf(*reference, "gl_calls"));
    for (const Case& c : cases()) {
        const BenchResult* result = findResult(collector, c.className);
        if (!result) continue;
        if (std::string(c.className) == "yodawriter")
            printf("yodawriter particles: %d\n", particles);
        printf("%s: %.3f ms CPU per frame, %.1f GL calls, %.1f draws per frame\n", c.className,
               1000 * result->cpuSeconds, counterOf(*result, "gl_calls"),
               counterOf(*result, "draws"));
        printf("ratio %s_vs_clear %.3f\n", c.className, result->cpuSeconds / reference->cpuSeconds);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = withDefaultFlags(argc, argv, {});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    registerAll();
    ResultCollector collector;
    runBenchmarks(collector);
    int particles = started ? yodaParticles() : 0;
    stop();
    printFigures(collector, particles);
    return 0;
}
