// The info overlay, the pause and the screenshot key.
#include "shell/overlay.h"

#include "gfx/device.h"
#include "gfx/font.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "platform/music/music.h"
#include "shell/input.h"
#include "shell/options.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The embedded small font, the one the loading screen uses (a production's own file wins).
constexpr const char* kOverlayFont = "lux32.fn2|res:200";
constexpr D3DCOLOR kText = 0xFFFFFFFF;
constexpr D3DCOLOR kShadow = 0xFF000000;

struct Overlay {
    BitmapFont* font = nullptr;
    bool visible = false;
    int32_t nextScreenshot = 1;
    Clock::time_point lastFrame;
    bool haveLastFrame = false;
    double frameSeconds = 0; // the last frame's length
    double smoothedFps = 0;  // the frame rate, averaged over about half a second
};

Overlay overlay;

void measureFrame() {
    Clock::time_point now = Clock::now();
    if (overlay.haveLastFrame) {
        overlay.frameSeconds = std::chrono::duration<double>(now - overlay.lastFrame).count();
        double fps = overlay.frameSeconds > 0 ? 1.0 / overlay.frameSeconds : 0.0;
        overlay.smoothedFps =
            overlay.smoothedFps > 0 ? overlay.smoothedFps * 0.97 + fps * 0.03 : fps;
    }
    overlay.lastFrame = now;
    overlay.haveLastFrame = true;
}

void drawLine(float x, float y, const char* text) {
    drawText(overlay.font, x + 1, y + 1, text, 1.0f, kShadow, 0.0f);
    drawText(overlay.font, x, y, text, 1.0f, kText, 0.0f);
}

void saveScreenshot() {
    char path[4096];
    // The first free number: earlier runs' pictures beside the same log stay.
    do {
        screenshotPath(path, sizeof path, overlay.nextScreenshot++);
    } while (access(path, F_OK) == 0 && overlay.nextScreenshot < 100000);
    if (captureFrame(path, true))
        logf("MAIN: screenshot saved as '%s'\n", path);
    else
        logf("MAIN: warning: cannot write the screenshot '%s'\n", path);
}

void togglePause() {
    if (launchOptions.offline()) return; // the frame clock rules an offline run
    bool pause = !tmxPaused();
    tmxPause(pause);
    logf("MAIN: %s at 0x%08x\n", pause ? "paused" : "resumed", unsigned(tmxGetTime()));
}

} // namespace

void prepareOverlay() {
    if (!overlay.font) overlay.font = acquireFontFile(kOverlayFont);
}

void closeOverlay() {
    releaseFont(overlay.font);
    overlay.font = nullptr;
}

bool overlayVisible() {
    return overlay.visible;
}

void screenshotPath(char* out, size_t capacity, int32_t number) {
    const char* log = logFilePath();
    const char* slash = strrchr(log, '/');
    int folder = slash ? int(slash - log) : 1;
    snprintf(out, capacity, "%.*s/screenshot-%03d.png", folder, slash ? log : ".", int(number));
}

void drawOverlay(uint32_t time, uint32_t position) {
    measureFrame();
    if (!overlay.visible || !overlay.font || !hasDevice()) return;
    GpuDevice* device = dxDevice();
    GpuFrameStats stats = device ? device->GetFrameStats() : GpuFrameStats{};
    selectRenderTarget("primary");
    setViewport(0, 0, screenWidth(), screenHeight());
    setTextOverlayStates();
    setFontAlignment(overlay.font, 0);
    float line = textHeight(overlay.font, "A", 1.0f) + 2.0f;
    char text[160];
    snprintf(text, sizeof text, "%.3f s  order %02x row %02x tick %02x%s", double(time) / 65536.0,
             unsigned(position >> 16 & 0xff), unsigned(position >> 8 & 0xff),
             unsigned(position & 0xff), tmxPaused() ? "  paused" : "");
    drawLine(4, 4, text);
    snprintf(text, sizeof text, "%.1f fps  %.2f ms", overlay.smoothedFps,
             overlay.frameSeconds * 1000.0);
    drawLine(4, 4 + line, text);
    snprintf(text, sizeof text, "%u draw calls  %u state changes", unsigned(stats.draws),
             unsigned(stats.stateChanges));
    drawLine(4, 4 + 2 * line, text);
}

void handlePlayerKeys() {
    if (wasKeyPressed(kKeyF1)) {
        overlay.visible = !overlay.visible;
        logf("MAIN: overlay %s\n", overlay.visible ? "on" : "off");
    }
    if (wasKeyPressed(kKeyF2)) togglePause();
    if (wasKeyPressed(kKeyF12)) saveScreenshot();
    // A paused picture does not change: no need to draw it as fast as the machine can.
    if (tmxPaused()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
