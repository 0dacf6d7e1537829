// Frame time of the scene effects at 1280 x 720, drawn into a texture target of that size:
// "pilztum" with its 128 mushrooms and "max" with the generated head, against the floor of
// a frame that clears and draws the mushroom mesh once, in the same run. Three repetitions
// each; prints the median, the spread ((slowest - fastest) / median) and
// "ratio scenefx_<class>_720p <median / reference median>". Run with
// SDL_VIDEODRIVER=offscreen where there is no display; the generated assets come from the
// build folder.
#include "bench/bench_results.h"
#include "effects/scenefx_local.h"
#include "scene/object.h"
#include "scene/scenefile.h"
#include "tests/effects/screen_fixture.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

constexpr int32_t kWidth = 1280, kHeight = 720;

// Keeps every repetition's time per iteration beside the collector's own summary.
class RepetitionCollector : public ResultCollector {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred)
                times[run.run_name.function_name].push_back(run.real_accumulated_time /
                                                            double(run.iterations));
        ResultCollector::ReportRuns(runs);
    }
    std::map<std::string, std::vector<double>> times;
};

void frame(benchmark::State& state, Effect* effect) {
    uint32_t now = 0, calls = 0;
    for (auto _ : state) {
        selectRenderTarget("frame");
        setViewport(0, 0, kWidth, kHeight);
        uint32_t before = dxDevice()->GetCurrentStats().glCalls;
        effect->render(now += 65536 / 60, 0);
        flushState();
        calls = dxDevice()->GetCurrentStats().glCalls - before;
        glFinish();
    }
    state.counters["gl_calls"] = calls;
}

// The floor: clear, one light, the mushroom mesh drawn once.
void reference(benchmark::State& state, gledScene* mushroom) {
    for (auto _ : state) {
        selectRenderTarget("frame");
        setViewport(0, 0, kWidth, kHeight);
        clear(3, 0, 1.0f, 0);
        D3DMATRIX view;
        view.m[3][2] = 3;
        setTransform(D3DTS_VIEW, view);
        setTransform(D3DTS_PROJECTION, sceneProjection(1.0f, 1.7778f, objectSceneQ()));
        setTransform(D3DTS_WORLD, D3DMATRIX{});
        setRenderState(D3DRS_LIGHTING, 1);
        setRenderState(D3DRS_ZENABLE, 1);
        effects::resetSceneStages();
        mushroom->meshes[0]->draw();
        flushState();
        glFinish();
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args =
        withDefaultFlags(argc, argv, {"--benchmark_min_time=0.3", "--benchmark_repetitions=3"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    namespace fs = std::filesystem;
    fs::create_directories("nk09");
    for (const char* name : {"pilz2.gled", "grass.jpg", "max.gled"})
        fs::copy_file(fs::path(LUX_BINARY_DIR) / "assets/nk09" / name, fs::path("nk09") / name,
                      fs::copy_options::overwrite_existing);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    initClassRegistry();
    if (!startScreenDevice(kWidth, kHeight)) {
        std::printf("no video driver\n");
        return 1;
    }
    createRenderTexture(kWidth, kHeight, "frame", true);
    registerSceneClasses();
    gledScene* mushroom = loadObjectScene("nk09\\pilz2.gled");
    auto* field = new effects::PilztumEffect;
    for (int i = 1; i < effects::PilztumEffect::kMaxMushrooms; ++i)
        field->spawn();
    auto* single = new effects::PilztumEffect; // the first mushroom only: the cost of the rest
    auto* head = new effects::MaxEffect;
    head->set("scene", "nk09\\max.gled");
    if (!mushroom || !field->scene || !head->scene) {
        std::printf("generated assets missing under %s/assets\n", LUX_BINARY_DIR);
        return 1;
    }
    benchmark::RegisterBenchmark("reference/720p", reference, mushroom)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("pilztum/720p", frame, field)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("pilztum1/720p", frame, single)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("max/720p", frame, head)->Unit(benchmark::kMillisecond);
    RepetitionCollector collector;
    runBenchmarks(collector);
    const std::vector<double>& floor = collector.times["reference/720p"];
    for (const char* name : {"reference", "pilztum", "pilztum1", "max"}) {
        const std::vector<double>& times = collector.times[std::string(name) + "/720p"];
        if (times.empty() || floor.empty()) continue;
        double middle = median(times);
        double spread = (*std::max_element(times.begin(), times.end()) -
                         *std::min_element(times.begin(), times.end())) /
                        middle;
        std::printf("median %s_720p %.3f ms, spread %.1f %%\n", name, middle * 1000, spread * 100);
        if (strcmp(name, "reference") != 0)
            std::printf("ratio scenefx_%s_720p %.2f\n", name, middle / median(floor));
    }
    delete field;
    delete single;
    delete head;
    delete mushroom;
    stopScreenDevice();
    closeClassRegistry();
    return 0;
}
