// The table of subsystems in start-up order, the walks through it, and the production the
// shell owns (script, preprocessor, timeline).
#include "shell/subsystems.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "effects/effect.h"
#include "gfx/device.h"
#include "gfx/dxcheck.h"
#include "gfx/enumeration.h"
#include "gfx/font.h"
#include "gfx/resources.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/config.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "platform/music/music.h"
#include "platform/window.h"
#include "scene/object.h"
#include "scene/scene.h"
#include "script/parser.h"
#include "script/preprocessor.h"
#include "script/timeline.h"
#include "shell/export.h"
#include "shell/input.h"
#include "shell/launchdialog.h"
#include "shell/loadingscreen.h"
#include "shell/options.h"
#include "shell/overlay.h"
#include "shell/progresswindow.h"
#include "shell/startup.h"
#include "shell/watch.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

Preprocessor* preprocessor = nullptr;
Script* script = nullptr;
Timeline timeline;
GpuSystem* direct3d = nullptr; // owned here until the device takes it over
SoundSettings soundSettings;
int32_t startedRows = 0; // rows of the table whose init has run

// Reads "script" through the file lookup into a new Script (the old one goes first).
void destroyScript() {
    timeline = Timeline{};
    delete script;
    script = nullptr;
    delete preprocessor;
    preprocessor = nullptr;
}

void loadScript() {
    destroyScript();
    preprocessor = new Preprocessor;
    if (!preprocessor->run("script")) fatal("out of memory while reading the script\n");
    preprocessor->output()->seek(0);
    script = new Script(preprocessor->output(), &preprocessor->sourceLines());
}

// ---- Rows ----

// The object system's registry, and the input the scene engine's steered cameras read (the
// input tables live in the shell, above the scene library).
bool initObjectSystem() {
    initClassRegistry();
    setSceneInput(inputTableSceneHooks());
    return true;
}

void closeObjectSystem() {
    setSceneInput(SceneInput{});
    closeClassRegistry();
}

bool startFileLookup() {
    initFileSystem();
    return true;
}

bool loadGraphicsLibrary() {
    direct3d = gpuCreate();
    if (!direct3d) fatal("Unable to create DirectX Graphics 8 object");
    return true;
}

void unloadGraphicsLibrary() {
    if (direct3d) direct3d->Release();
    direct3d = nullptr;
}

bool readConfiguration() {
    setScriptMessagePump(pumpMessages);
    loadScript();
    script->parse(true);
    script->forEachGlobal(applyConfigKey);
    return true;
}

bool startMusicLibrary() {
    tmxInit(&soundSettings);
    soundSettings.noSound = launchOptions.offline() ? 1 : 0;
    return true;
}

bool enumerateDisplayAdapters() {
    setStartupProgressRange(int32_t(direct3d->GetAdapterCount()) + 1);
    enumerateAdapters(direct3d, reportStartupProgress);
    closeStartupProgress();
    return true;
}

bool runLaunchDialog() {
    if (!showLaunchDialog(launchOptions, &soundSettings)) return false; // the user quit
    roundVideoSize();
    return true;
}

bool initGraphicsSupport() {
    resourceInit();
    initGeometryCaches();
    return true;
}

void restoreScreenSaver() {
    setScreenSaverEnabled(true);
}

bool switchScreenSaverOff() {
    if (launchOptions.offline()) return true;
    setScreenSaverEnabled(false);
    addExitCallback(restoreScreenSaver);
    return true;
}

bool initGraphicsDevice() {
    deviceSettings.pumpMessages = pumpMessages;
    if (launchOptions.offline()) deviceSettings.vsync = 0; // nobody watches: as fast as it goes
    initDevice(direct3d, demoWindowHandle());
    direct3d = nullptr; // the device owns the graphics object now; closeDevice releases it
    return true;
}

bool startInput() {
    initInput();
    return true;
}

bool openMusicOutput() {
    if (!launchOptions.offline()) {
        tmxOpen(demoWindowHandle(), &soundSettings);
        return true;
    }
    return openOfflineOutput(&soundSettings);
}

void closeMusicOutput() {
    tmxStop();
    tmxFree();
    if (launchOptions.offline()) tmxOfflineClose();
    tmxClose();
}

bool registerEffectClasses() {
    registerBuiltinEffectClasses();
    return true;
}

void closeEffects() {
    destroyEffects();
    closeEffectClasses();
}

bool runDemoInit() {
    demoInit();
    pumpMessages();
    return true;
}

// Start-up order. Every way out walks it backward, so a row closes after every row that
// started later. `closeDevice` also closes the resource manager and geometry caches, so the
// device is closed by the row that opened those: the texture and font pools between them
// hold device objects and close first.
const Subsystem kTable[] = {
    {"object system", "WNMN: base init\n", initObjectSystem, closeObjectSystem, nullptr, nullptr},
    {"scratch buffers", nullptr, nullptr, freeScratchBuffers, nullptr, nullptr},
    {"file lookup", nullptr, startFileLookup, closeFileSystem, "WNMN: closing support\n", nullptr},
    {"graphics library", nullptr, loadGraphicsLibrary, unloadGraphicsLibrary, nullptr, nullptr},
    {"configuration", nullptr, readConfiguration, destroyScript, nullptr, nullptr},
    {"music library", nullptr, startMusicLibrary, nullptr, nullptr, nullptr},
    {"enumeration", nullptr, enumerateDisplayAdapters, freeAdapters, nullptr, nullptr},
    {"launch dialog", nullptr, runLaunchDialog, nullptr, nullptr, nullptr},
    {"demo window", nullptr, openDemoWindow, closeDemoWindow, nullptr, closeDemoWindowOnFatal},
    {"graphics support", "WNMN: dx support init\n", initGraphicsSupport, closeDevice, nullptr,
     nullptr},
    {"textures", nullptr,
     [] {
         initTextures();
         return true;
     },
     closeTextures, nullptr, nullptr},
    {"texture pool", nullptr,
     [] {
         initTexturePool();
         return true;
     },
     closeTexturePool, nullptr, nullptr},
    {"font pool", nullptr,
     [] {
         initFontPool();
         return true;
     },
     closeFontPool, nullptr, nullptr},
    {"screen saver", nullptr, switchScreenSaverOff, nullptr, nullptr, nullptr},
    {"device", "WNMN: directx init\n", initGraphicsDevice, nullptr, nullptr, closeDeviceOnFatal},
    {"input", nullptr, startInput, closeInput, nullptr, nullptr},
    {"music output", "TMXL: init\n", openMusicOutput, closeMusicOutput, "WNMN: closing dx\n",
     tmxClose},
    {"effects", nullptr, registerEffectClasses, closeEffects, "WNMN: closing fx\n", nullptr},
    {"overlay", nullptr, nullptr, closeOverlay, nullptr, nullptr},
    {"production", "WNMN: demoInit()\n", runDemoInit, destroyScript, nullptr, nullptr},
    {"script watch", nullptr, nullptr, closeScriptWatch, nullptr, nullptr},
};
constexpr int32_t kRows = int32_t(sizeof kTable / sizeof kTable[0]);

void closeRows(bool withLogs) {
    while (startedRows > 0) {
        const Subsystem& row = kTable[--startedRows];
        if (withLogs && row.closeLog) logf("%s", row.closeLog);
        if (row.close) row.close();
    }
}

} // namespace

void startSubsystems() {
    setFatalCloseHandler(closeSubsystemsOnFatal);
    for (const Subsystem& row : kTable) {
        if (row.initLog) logf("%s", row.initLog);
        ++startedRows; // a row that fails half-way is closed on the fatal path too
        if (!row.init || row.init()) continue;
        --startedRows;
        logf("WNMN: user selected quit\n");
        closeRows(false);
        exit(0);
    }
}

void closeSubsystems() {
    closeRows(true);
}

void closeSubsystemsOnFatal() {
    for (int32_t row = startedRows - 1; row >= 0; --row)
        if (kTable[row].closeOnFatal) kTable[row].closeOnFatal();
}

const Subsystem* subsystemTable(int32_t* count) {
    if (count) *count = kRows;
    return kTable;
}

// ---- The production ----

void createMusicControlEffect() {
    createEffect("tmx", "tmxcontrol");
}

void rereadConfiguration() {
    readConfiguration();
}

void buildScript() {
    if (!script) loadScript();
    script->parse(false);
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

void createScriptTargets() {
    createTargets(timeline, *script);
}

void startTimelineWithProgress() {
    startTimeline(timeline, loadingProgress);
}

namespace {
void (*offlineFrameHook)(uint64_t frame) = nullptr;
void (*productionRestartHook)() = nullptr;
} // namespace

void setOfflineFrameHook(void (*hook)(uint64_t frame)) {
    offlineFrameHook = hook;
}

void setProductionRestartHook(void (*hook)()) {
    productionRestartHook = hook;
}

void restartProduction() {
    if (productionRestartHook) productionRestartHook();
    recreateEffects();
    buildScript();
    createTargets(timeline, *script);
    startTimeline(timeline, nullptr);
    dropShadowedEffects();
}

bool tickTimeline(uint32_t time, uint32_t position) {
    // A device lost since the last present comes back before the frame is drawn; drawn into
    // the lost device, the frame would be gone with the reset (a black frame offline).
    restoreLostDevice();
    return tick(timeline, time, position);
}

Timeline& productionTimeline() {
    return timeline;
}

const SourceLines* productionSourceLines() {
    return preprocessor ? &preprocessor->sourceLines() : nullptr;
}

void restartTimelineAt(uint32_t time, const TickTimes& ticks) {
    recreateEffects();
    startTimeline(timeline, nullptr);
    rebuildTimeline(timeline, time, ticks);
}

void replaceProductionScript(Script* built, uint32_t time, const TickTimes& ticks) {
    destroyScript();
    script = built;
    createTargets(timeline, *script);
    startTimeline(timeline, nullptr);
    dropShadowedEffects();
    rebuildTimeline(timeline, time, ticks);
}

void warmUpProduction() {
    // What the warm-up loads stays for the run, also when an effect lets go of it, so that a
    // texture or font that a later event asks for is there already.
    if (texturePool()) texturePool()->keepUnused(true);
    keepUnusedFonts(true);
    warmUpTimeline(timeline, loadingProgress);
}

uint32_t productionEndTime() {
    return script ? script->demoEnd() : 0;
}

// ---- The loading screen's fonts ----

namespace {

// A production's own files win; the embedded copies make sure every production has them.
constexpr const char* kSmallLoadingFont = "lux32.fn2|res:200";
constexpr const char* kLargeLoadingFont = "arial_48.fn2|res:201";
BitmapFont* loadingFonts[2] = {};

} // namespace

void acquireLoadingFonts() {
    loadingFonts[0] = acquireFontFile(kSmallLoadingFont);
    loadingFonts[1] = acquireFontFile(kLargeLoadingFont);
    loadingScreen().setFonts(loadingFonts[0], loadingFonts[1]);
}

void releaseLoadingFonts() {
    loadingScreen().setFonts(nullptr, nullptr);
    for (BitmapFont*& font : loadingFonts) {
        releaseFont(font);
        font = nullptr;
    }
}

// ---- The device ----

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
    if (offlineFrameHook) offlineFrameHook(frame);
}

namespace {

void writeEffectLine(const EffectInstance& instance, void* file) {
    fprintf(static_cast<FILE*>(file), "%s %s %u\n", instance.effectClass->name, instance.name,
            unsigned(instance.renders));
}

} // namespace

void writeEffectCounts(const char* folder) {
    std::string path = std::string(folder) + "/effects.txt";
    FILE* file = fopen(path.c_str(), "w");
    if (!file) fatal("cannot write '%s'\n", path.c_str());
    forEachEffectInstance(writeEffectLine, file);
    if (fclose(file) != 0) fatal("cannot write '%s'\n", path.c_str());
}

void simulateDeviceLoss() {
    if (!hasDevice()) return;
    logf("MAIN: debug key: simulating a lost device\n");
    saveResources();
    dxDevice()->SimulateDeviceLoss(2);
}
