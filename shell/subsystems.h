// The calls start-up, the frame loop and shutdown make into the other subsystems, in the
// words of the start-up sequence. Each one forwards to the subsystem that does the work;
// keeping them in one place lets the sequence in startup.cpp read as the order it is.
#pragma once

#include <cstdint>

void initObjectSystem();
void closeObjectSystem();

void loadGraphicsLibrary(); // fatal when the graphics layer cannot start
void unloadGraphicsLibrary();
void enumerateDisplayAdapters();
void freeEnumeration();
// The display mode of a full-screen run: the kept mode of the requested size; false (and
// a warning) when the adapter offers none, and the run goes windowed.
bool chooseFullScreenMode(int32_t width, int32_t height);
void initGraphicsSupport();  // resource manager, geometry caches, textures, pools
void closeGraphicsSupport(); // geometry caches and resource manager
void initTexturesAndPools(); // image resampler, textures, texture pool, font pool
void closeFontAndTexturePools();
void initGraphicsDevice();
void closeGraphicsDevice();
void closeDeviceForFatal();
void releaseScratchBuffers();
void presentFrame();
void clearAndPresentOnce();
void simulateDeviceLoss();  // debug key: the device reports lost until present resets it
void saveDeviceResources(); // full screen lost the focus
void writeFrame(const char* folder, uint64_t frame); // offline: the presented frame as PNG

void readConfiguration();   // preprocess "script", dry parse, apply the configuration keys
void rereadConfiguration(); // the same again after the preferred archive is chosen
void buildScript();         // the build parse: effect instances and the timeline
void destroyScript();
void createMusicControlEffect();
void loadTune(); // the tune named by the "tune" setting into the music player (fatal on errors)

void createScriptTargets();
void startTimelineWithProgress();
void startTimelineQuietly();
void acquireLoadingFonts(); // "lux32.fn2" and "arial_48.fn2", a production's own first
void releaseLoadingFonts();
bool tickTimeline(uint32_t time, uint32_t position); // false at the production's end
