// Steps of the start-up sequence whose subsystems have not landed yet: the object system of
// the 3D engine, the texture and font pools, and the loading screen's fonts. Each does
// nothing until its subsystem exists; the sequence keeps its order meanwhile.
#include "shell/subsystems.h"

void initObjectSystem() {}
void closeObjectSystem() {}
void closeFontAndTexturePools() {}
void releaseLoadingFonts() {}
