// Steps of the start-up sequence whose subsystems have not landed yet. Each does nothing
// until its subsystem exists; the sequence keeps its order meanwhile.
#include "shell/subsystems.h"

void initObjectSystem() {}
void closeObjectSystem() {}
void closeFontAndTexturePools() {}
void createTargets() {}
void startTimelineWithProgress() {}
void startTimelineQuietly() {}
void releaseLoadingFonts() {}
bool tickTimeline(uint32_t, uint32_t) {
    return true;
}
