// Glue between the start-up sequence and the subsystems, and the process-wide objects the
// shell owns: the script with its preprocessor.
#include "shell/subsystems.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "effects/effect.h"
#include "gfx/device.h"
#include "gfx/dxcheck.h"
#include "gfx/enumeration.h"
#include "gfx/resources.h"
#include "platform/config.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "platform/music/music.h"
#include "platform/window.h"
#include "script/parser.h"
#include "script/preprocessor.h"
#include "script/timeline.h"
#include "shell/startup.h"

#include <cstdio>
#include <cstdlib>

namespace {

Preprocessor* preprocessor = nullptr;
Script* script = nullptr;
GpuSystem* direct3d = nullptr; // owned here until the device takes it over

// Reads "script" through the file lookup into a new Script (the old one goes first).
void loadScript() {
    destroyScript();
    preprocessor = new Preprocessor;
    if (!preprocessor->run("script")) fatal("out of memory while reading the script\n");
    preprocessor->output()->seek(0);
    script = new Script(preprocessor->output(), &preprocessor->sourceLines());
}

} // namespace

// --- script and effects --------------------------------------------------------------------

void readConfiguration() {
    setScriptMessagePump(pumpMessages);
    loadScript();
    script->parse(true);
    script->forEachGlobal(applyConfigKey);
}

void rereadConfiguration() {
    readConfiguration();
}

void buildScript() {
    if (!script) loadScript();
    script->parse(false);
}

void destroyScript() {
    delete script;
    script = nullptr;
    delete preprocessor;
    preprocessor = nullptr;
}

void createMusicControlEffect() {
    createEffect("tmx", "tmxcontrol");
}

void loadTune() {
    int32_t size = 0;
    Stream* file = openFile(configValues.tune, &size);
    if (!file) fatal("tune not found: %s\n", configValues.tune);
    void* data = malloc(size_t(size > 0 ? size : 1));
    if (!data) fatal("tune not found: %s\n", configValues.tune);
    int32_t got = size > 0 ? file->read(data, size) : 0;
    closeFile(file);
    int result = tmxLoadMem(data, uint32_t(got > 0 ? got : 0), tuneTypeOf(configValues.tune));
    free(data);
    // The decoder's own reason comes first: the code alone tells the author nothing.
    if (result != 0)
        fatal("%s\nwe have some serious problems with our tune '%s': tmxLoadMem returned %d",
              tmxLoadError(), configValues.tune, result);
}

// --- graphics ------------------------------------------------------------------------------

void loadGraphicsLibrary() {
    direct3d = gpuCreate();
    if (!direct3d) fatal("Unable to create DirectX Graphics 8 object");
}

void unloadGraphicsLibrary() {
    if (direct3d) direct3d->Release();
    direct3d = nullptr;
}

void enumerateDisplayAdapters() {
    enumerateAdapters(direct3d, nullptr);
}

void freeEnumeration() {
    freeAdapters();
}

bool chooseFullScreenMode(int32_t width, int32_t height) {
    AdapterInfo* adapter = adapterInfo(deviceSettings.adapter);
    if (adapter) {
        int32_t found = -1;
        for (size_t i = 0; i < adapter->modes.size(); ++i) {
            const D3DDISPLAYMODE& mode = adapter->modes[i];
            if (int32_t(mode.Width) != width || int32_t(mode.Height) != height) continue;
            if (found < 0 || mode.Format == D3DFMT_X8R8G8B8) found = int32_t(i);
        }
        if (found >= 0) {
            deviceSettings.mode = found;
            return true;
        }
    }
    logf("WNMN: warning: the display offers no full-screen mode %dx%d within the script's "
         "limits, playing in a window\n",
         width, height);
    return false;
}

void initGraphicsSupport() {
    resourceInit();
    initGeometryCaches();
}

void closeGraphicsSupport() {
    closeGeometryCaches();
    resourceClose();
}

void initGraphicsDevice() {
    deviceSettings.pumpMessages = pumpMessages;
    initDevice(direct3d, demoWindowHandle());
    direct3d = nullptr; // the device owns the graphics object now; closeDevice releases it
}

void closeGraphicsDevice() {
    closeDevice();
}

void closeDeviceForFatal() {
    closeDeviceOnFatal();
}

void releaseScratchBuffers() {
    freeScratchBuffers();
}

void presentFrame() {
    if (hasDevice()) present();
}

void clearAndPresentOnce() {
    selectRenderTarget("primary");
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    present();
}

void saveDeviceResources() {
    saveResources();
}

void writeFrame(const char* folder, uint64_t frame) {
    char path[4096];
    snprintf(path, sizeof path, "%s/frame%06llu.png", folder, (unsigned long long)frame);
    if (!captureFrame(path, true)) fatal("cannot write the frame '%s'\n", path);
}

// --- timeline --------------------------------------------------------------------------------

void createScriptTargets() {
    createTargets(*script);
}

void startTimelineWithProgress() {
    startTimeline(*script, nullptr);
}

void startTimelineQuietly() {
    startTimeline(*script, nullptr);
}

bool tickTimeline(uint32_t time, uint32_t position) {
    return tick(*script, time, position);
}

void simulateDeviceLoss() {
    if (!hasDevice()) return;
    logf("MAIN: debug key: simulating a lost device\n");
    saveResources();
    dxDevice()->SimulateDeviceLoss(2);
}
