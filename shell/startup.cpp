// Start-up, main loop and shutdown.
//
// Sections: configuration keys; the demo window and its events; start-up; demoInit;
// demoMain and the frame loop; demoExit. The order of the subsystems is the table of
// shell/subsystems.cpp; this file holds what the table's window and launch rows do and the
// demo's own steps.
#include "shell/startup.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "effects/effect.h"
#include "platform/config.h"
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/music/music.h"
#include "platform/values.h"
#include "platform/window.h"
#include "shell/benchmark.h"
#include "shell/export.h"
#include "shell/input.h"
#include "shell/loadingscreen.h"
#include "shell/overlay.h"
#include "shell/progresswindow.h"
#include "shell/seek.h"
#include "shell/subsystems.h"
#include "shell/watch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

char titleBuffer[4096];
constexpr const char kTitlePrefix[] = "Now playing: ";
constexpr const char kWindowTitle[] = "Nordkessel Visual System";
bool quitPosted = false;
bool windowActive = false;              // the demo window is the active window
constexpr int kDebugLoseDeviceKey = 67; // F9: lose the device, as a mode switch would
bool exiting = false;
bool offline = false;
uint64_t offlineFrame = 0;  // frames played so far in an offline run
uint64_t writtenFrames = 0; // frames written to PNG files (those at or after --from)
uint32_t offlineFrom = 0;   // 1/65536 s
uint32_t offlineTo = 0xffffffffu;

uint32_t secondsToTime(double seconds) {
    return uint32_t(seconds * 65536.0 + 0.5);
}

// ------------------------------------------------------------------------------------------
// Configuration keys

void storeInt(int32_t& field, const char* value) {
    field = parseIntValue(value);
}

} // namespace

void applyConfigKey(const char* name, const char* value) {
    ConfigValues& c = configValues;
    if (strcmp(name, "tune") == 0) {
        copyName(c.tune, value);
        for (char* p = c.tune; *p; ++p)
            if (*p >= 'A' && *p <= 'Z') *p = char(*p - 'A' + 'a');
    } else if (strcmp(name, "minxres") == 0) {
        storeInt(c.minxres, value);
    } else if (strcmp(name, "minyres") == 0) {
        storeInt(c.minyres, value);
    } else if (strcmp(name, "maxxres") == 0) {
        storeInt(c.maxxres, value);
    } else if (strcmp(name, "maxyres") == 0) {
        storeInt(c.maxyres, value);
    } else if (strcmp(name, "prefxres") == 0) {
        storeInt(c.prefxres, value);
    } else if (strcmp(name, "prefyres") == 0) {
        storeInt(c.prefyres, value);
    } else if (strcmp(name, "prefbpp") == 0) {
        c.prefbpp = parseIntValue(value);
        if (c.prefbpp % 8 != 0 || c.prefbpp < 16) {
            logf("MAIN: preferred bit depth '%s' doesn't make sense, falling back to 16\n", value);
            c.prefbpp = 16;
        }
    } else if (strcmp(name, "gamma") == 0) {
        float gamma = parseScalar(value);
        if (!(gamma >= 0.2f)) gamma = 0.2f; // also catches a value that is not a number
        if (gamma > 4.0f) gamma = 4.0f;
        c.gamma = gamma;
    }
}

int tuneTypeOf(const char* tuneName) {
    if (strstr(tuneName, ".xm")) return kTuneXm;
    if (strstr(tuneName, ".it")) return kTuneIt;
    if (strstr(tuneName, ".mp3")) return kTuneMp3;
    return kTuneUnknown;
}

// ------------------------------------------------------------------------------------------
// The demo window and its events

namespace {

void windowProcedure(const WindowEvent& event) {
    switch (event.type) {
    case WindowEvent::Activate:
        windowActive = true;
        wakeInput();
        break;
    case WindowEvent::Deactivate:
        feedInputEvent(event);
        if (offline) break;
        windowActive = false;
        if (!configValues.windowed) saveDeviceResources();
        break;
    case WindowEvent::Paint:
        if (configValues.windowed) presentFrame();
        break;
    case WindowEvent::Close:
        quitPosted = true;
        break;
    case WindowEvent::KeyDown:
        if (event.key == kDebugLoseDeviceKey) simulateDeviceLoss();
        feedInputEvent(event);
        break;
    case WindowEvent::KeyUp:
    case WindowEvent::MouseMotion:
    case WindowEvent::MouseButton:
        feedInputEvent(event);
        break;
    case WindowEvent::None:
        break;
    }
}

void waitForPlayback() {
    while (tmxGetTime() < 0 || tmxGetClock() < 0) {
        pumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

bool openDemoWindow() {
    if (!initVideo()) fatal("Cannot create demo window");
    bool windowed = configValues.windowed != 0;
    if (!createDemoWindow(kWindowTitle, configValues.xres, configValues.yres, windowed, offline))
        fatal("Cannot create demo window");
    // A new window that is shown becomes the active one; a hidden offline window draws anyway.
    windowActive = true;
    logf("WNMN: output/focus window created\n");
    return true;
}

void closeDemoWindow() {
    destroyDemoWindow();
    closeVideo();
}

void closeDemoWindowOnFatal() {
    destroyDemoWindow();
}

void pumpMessages() {
    WindowEvent event;
    while (nextWindowEvent(&event)) {
        windowProcedure(event);
        if (quitPosted) demoExit();
    }
    if (quitPosted) demoExit();
}

// ------------------------------------------------------------------------------------------
// Start-up

int luxMain(const LaunchOptions& options) {
    offline = options.offline();
    if (offline) {
        offlineFrom = secondsToTime(options.from);
        if (options.to >= 0) offlineTo = secondsToTime(options.to);
    }
    logf("WNMN: started logging\n");
    openStartupProgress(!offline && hasDisplay());

    startSubsystems(); // through demoInit; returns only when the user did not quit

    logf("WNMN: demoMain()\n");
    demoMain();

    postWindowClose();
    quitPosted = true;
    pumpMessages();
    demoExit();
}

// ------------------------------------------------------------------------------------------
// demoInit

void demoInit() {
    markLoadStage("start-up");
    createMusicControlEffect();

    // An offline run is the same every time: what effects draw at random (the mushroom field,
    // noise, code rain) starts from a fixed seed there, so a render can be compared and redone.
    srand(launchOptions.offline() ? 1u : unsigned(time(nullptr)));
    loadingScreen().chooseMessage(rand() % kLoadingMessageCount);
    acquireLoadingFonts();

    snprintf(titleBuffer, sizeof titleBuffer, "%s%s", kTitlePrefix, preferredArchiveDescription());
    loadingScreen().setTitle(titleBuffer);

    loadingScreen().drawStatus("re-parsing script");
    rereadConfiguration();
    markLoadStage("script");

    setDemoWindowTitle(titleBuffer + strlen(kTitlePrefix));

    loadingScreen().drawStatus("loading music");
    loadTune();
    markLoadStage("music");

    loadingScreen().drawStatus("preparing");
    buildScript();
    markLoadStage("build");
}

// ------------------------------------------------------------------------------------------
// demoMain and the frame loop

namespace {

// Offline runs advance the music clock by exactly one frame per frame and return the
// frame's time. The production plays from its start so that every effect and event is where
// it would be; audio and frames are written only from --from on, and up to --to.
uint32_t advanceOfflineClock() {
    uint32_t time = offlineFrameTime(offlineFrame);
    uint32_t end = time < offlineTo ? time : offlineTo;
    if (end > offlineFrom) {
        tmxOfflineAdvance(offlineFrom, false); // nothing once the clock is past it
        tmxOfflineAdvance(end, true);
    } else {
        tmxOfflineAdvance(end, false);
    }
    return time;
}

void writeOfflineFrame(uint32_t time) {
    if (time >= offlineFrom) deliverOfflineFrame(writtenFrames++);
    ++offlineFrame;
}

void restartPlayback() {
    tmxStop();
    restartProduction();
    tmxPlay();
    waitForPlayback();
}

} // namespace

void handleSkipKeys(uint32_t pos) {
    // Skip forward to row 0 of the next order, only when not already at a row 0.
    if (wasKeyPressed(kKeySpace) && (pos & 0xff00) != 0) {
        uint32_t target = (pos & 0xff0000) + 0x10000;
        logf("MAIN: skipping to 0x%06x\n", target);
        tmxSetPosition(int(target >> 16), 0);
        logf("MAIN: new time 0x%08x\n", unsigned(tmxGetTime()));
        pos = target;
    }
    if (wasKeyPressed(kKeyRightAlt) && (pos & 0xff00) != 0 && pos >= 0x10000) {
        uint32_t target = (pos & 0xff0000) - 0x10000;
        logf("MAIN: skipping back to 0x%06x (backskip can cause strange effects)\n", target);
        tmxSetPosition(int(target >> 16), 0);
        logf("MAIN: new time 0x%08x\n", unsigned(tmxGetTime()));
    }
}

void demoMain() {
    createScriptTargets();
    startTimelineWithProgress();
    markLoadStage("settings");
    warmUpProduction();
    markLoadStage("warm-up");
    prepareOverlay();
    releaseLoadingFonts();
    clearAndPresentOnce();
    logLoadReport();

    logf("MAIN: presync\n");
    if (offline) offlineFrame = offlineStartFrame(); // --start-at: later than frame 0
    tmxPlay();
    seekToStartPosition(offline);
    waitForPlayback();

    logf("MAIN: start mainloop\n");
    for (;;) {
        if (!windowActive) {
            pumpMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (isKeyDown(kKeyEscape)) {
            logf("MAIN: ESC pressed\n");
            break;
        }
        uint32_t frameTime = offline ? advanceOfflineClock() : 0;
        if (offline && frameTime >= offlineTo) {
            logf("MAIN: render end reached\n");
            break;
        }
        int32_t now = tmxGetTime();
        uint32_t time = now < 0 ? 0 : uint32_t(now);
        uint32_t pos = tmxGetPosition();
        if (!tickTimeline(time, pos)) {
            logf("MAIN: demo ended\n");
            if (!configValues.loop) break;
            restartPlayback();
            continue;
        }
        if (launchOptions.watch) drawScriptWatchMessage();
        drawOverlay(time, pos);
        presentFrame();
        countPlaybackFrame();
        if (offline) writeOfflineFrame(frameTime);
        pumpMessages();
        handleSkipKeys(pos);
        handleSeekKeys(pos);
        if (launchOptions.watch) pollScriptWatch(time, offline);
        handlePlayerKeys();
    }
    if (offline) writeEffectCounts(launchOptions.renderDir.c_str());
    logf("MAIN: end mainloop\n");
    logPlaybackCreations();
    finishOfflineRun();
}

// ------------------------------------------------------------------------------------------
// demoExit

void demoExit() {
    if (exiting) _exit(1); // a close request while closing: nothing left to do safely
    exiting = true;
    logf("WNMN: demoExit()...\n");
    closeSubsystems();
    logf("WNMN: normal exit\n");
    exit(0);
}
