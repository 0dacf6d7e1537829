// Steps of the start-up sequence whose subsystems have not landed yet. Each does nothing
// until its subsystem exists; the sequence keeps its order meanwhile.
#include "shell/subsystems.h"

void initObjectSystem() {}
void closeObjectSystem() {}
void loadGraphicsLibrary() {}
void unloadGraphicsLibrary() {}
void enumerateAdapters() {}
void freeEnumeration() {}
void initGraphicsSupport() {}
void closeGraphicsSupport() {}
void closeFontAndTexturePools() {}
void initGraphicsDevice() {}
void closeGraphicsDevice() {}
void closeDeviceForFatal() {}
void freeScratchBuffers() {}
void presentFrame() {}
void clearAndPresentOnce() {}
void captureFrame(const char*, uint64_t) {}
void createTargets() {}
void startTimelineWithProgress() {}
void startTimelineQuietly() {}
void releaseLoadingFonts() {}
bool tickTimeline(uint32_t, uint32_t) {
    return true;
}
