// Frames per second of the offline frame loop (tick + present) for the timeline's test scene
// (tests/script/timeline_scene.h) at 640x480 and 1920x1080, with GL calls, draws and state
// changes per frame. The reference, measured in the same run at the same size, is a loop that
// only clears the screen and presents. Run headless with SDL_VIDEODRIVER=offscreen.
#include "effects/effect.h"
#include "script/parser.h"
#include "script/timeline.h"
#include "tests/script/headless_device.h"
#include "tests/script/timeline_scene.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kFrames = 400;
constexpr uint32_t kSceneLength = 4 * 65536; // the scene runs for 4 seconds

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct LoopFigures {
    double framesPerSecond = 0;
    double glCalls = 0, draws = 0, stateChanges = 0; // per frame
};

// Runs frame(k) then present() kFrames times, after a few frames of warm-up.
template <class Frame> LoopFigures measure(Frame frame) {
    for (int k = 0; k < 20; ++k) {
        frame(k);
        present();
    }
    LoopFigures figures;
    double start = seconds();
    for (int k = 0; k < kFrames; ++k) {
        frame(k);
        present();
        const GpuFrameStats& stats = dxDevice()->GetFrameStats();
        figures.glCalls += stats.glCalls;
        figures.draws += stats.draws;
        figures.stateChanges += stats.stateChanges;
    }
    double elapsed = seconds() - start;
    figures.framesPerSecond = kFrames / elapsed;
    figures.glCalls /= kFrames;
    figures.draws /= kFrames;
    figures.stateChanges /= kFrames;
    return figures;
}

bool runAt(int32_t width, int32_t height) {
    if (!startHeadlessDevice(width, height)) return false;
    LoopFigures reference = measure([](int) {
        selectRenderTarget("primary");
        clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    });
    LoopFigures timeline;
    {
        Script script(kTimelineScene, int32_t(strlen(kTimelineScene)), nullptr);
        script.parse(false);
        createTargets(script);
        startTimeline(script, nullptr);
        // The frames walk through the whole scene, so every layer is drawn in its turn.
        timeline = measure([&](int k) {
            tick(script, uint32_t(uint64_t(k % kFrames) * kSceneLength / kFrames), 0);
        });
    }
    destroyEffects();
    stopHeadlessDevice();

    printf("timeline %dx%d: %.1f frames/s (%.3f ms/frame), %.1f GL calls, %.1f draws, "
           "%.1f state changes per frame\n",
           int(width), int(height), timeline.framesPerSecond, 1000.0 / timeline.framesPerSecond,
           timeline.glCalls, timeline.draws, timeline.stateChanges);
    printf("clear+present %dx%d: %.1f frames/s, %.1f GL calls per frame\n", int(width), int(height),
           reference.framesPerSecond, reference.glCalls);
    printf("ratio timeline_%dx%d_vs_clear_present %.3f\n", int(width), int(height),
           timeline.framesPerSecond / reference.framesPerSecond);
    return true;
}

} // namespace

int main() {
    setbuf(stdout, nullptr);
    if (!runAt(640, 480) || !runAt(1920, 1080)) {
        fprintf(stderr, "no video driver (run with SDL_VIDEODRIVER=offscreen)\n");
        return 1;
    }
    return 0;
}
