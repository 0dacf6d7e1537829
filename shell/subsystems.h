// The subsystems in their start-up order, and the ways through them.
//
// One table (shell/subsystems.cpp) lists every subsystem once, in start-up order, as
// {name, init log line, init, close, close log line, closeOnFatal}. Start-up runs it forward
// (`startSubsystems`); each way out runs backward through what has started: `demoExit` all of
// it with its phase lines ("WNMN: closing fx" ...), the launch dialog's quit path from the
// dialog down, the fatal path only the rows with a fatal close (device, music, window).
// Adding a subsystem is adding its row.
//
// The shell also owns the production being played here: the script with its preprocessor
// and the timeline's runtime form, which the frame loop reaches through the calls below.
#pragma once

#include <cstdint>

struct Subsystem {
    const char* name = nullptr;
    const char* initLog = nullptr;  // logged before init, or null
    bool (*init)() = nullptr;       // false: the user chose to quit (launch dialog)
    void (*close)() = nullptr;      // orderly close, or null
    const char* closeLog = nullptr; // logged by demoExit before this row closes, or null
    void (*closeOnFatal)() = nullptr;
};

// Runs every row's init in order. When a row answers false (the user quit the launch
// dialog), logs "WNMN: user selected quit", closes what started and exits with status 0.
void startSubsystems();
// demoExit: closes every started row, last first, with the close log lines.
void closeSubsystems();
// The fatal path: the fatal closes of the started rows, last first.
void closeSubsystemsOnFatal();
// The table, for tests and tools; count receives its length.
const Subsystem* subsystemTable(int32_t* count);

// ---- The production (main thread) ----
void createScriptTargets();
void startTimelineWithProgress();
void restartProduction(); // the loop option: effects recreated, build parse, targets, timeline
bool tickTimeline(uint32_t time, uint32_t position); // false at the production's end
// Seeking and watching (shell/seek.h, shell/watch.h):
struct Timeline;
struct TickTimes;
struct SourceLines;
class Script;
Timeline& productionTimeline();
const SourceLines* productionSourceLines(); // the files the playing script came from, or null
// Every effect made anew, the initial settings run again, the timeline rebuilt at `time`.
void restartTimelineAt(uint32_t time, const TickTimes& ticks);
// A built script (parse(false) done) replaces the playing one: targets, initial settings,
// the timeline rebuilt at `time`. The old script's effect instances stay unused.
void replaceProductionScript(Script* built, uint32_t time, const TickTimes& ticks);
// Under the loading screen: every action drawn once, so that playback makes no programs or
// device objects of its own.
void warmUpProduction();
uint32_t productionEndTime(); // the script's demo end (1/65536 s), 0 before a script exists
void acquireLoadingFonts();   // "lux32.fn2" and "arial_48.fn2", a production's own first
void releaseLoadingFonts();

// ---- Hooks of the soak and fault runs (null by default: nothing is called) ----
// After every frame an offline run writes (frame numbers from 0), and before the loop option
// restarts the production.
void setOfflineFrameHook(void (*hook)(uint64_t frame));
void setProductionRestartHook(void (*hook)());

// ---- The device, for the frame loop and the window procedure ----
void presentFrame();
void clearAndPresentOnce();
void simulateDeviceLoss();  // debug key: the device reports lost until present resets it
void saveDeviceResources(); // full screen lost the focus
void writeFrame(const char* folder, uint64_t frame); // offline: the presented frame as PNG
// Offline: "effects.txt", one line per effect instance: class, instance, frames rendered.
void writeEffectCounts(const char* folder);
// The display mode of a full-screen run: the kept mode of the requested size; false (and
// a warning) when the adapter offers none, and the run goes windowed.
bool chooseFullScreenMode(int32_t width, int32_t height);

// ---- The steps of demoInit ----
void createMusicControlEffect();
void rereadConfiguration(); // the script read again after the preferred archive is chosen
void loadTune();    // the tune named by the "tune" setting into the music player (fatal on errors)
void buildScript(); // the build parse: effect instances and the timeline's lists

// ---- Rows whose work lives in startup.cpp (the window and the launch choices) ----
bool openDemoWindow();
void closeDemoWindow();
void closeDemoWindowOnFatal();
