// Steps of the start-up sequence whose subsystems have not landed yet or have just landed:
// the object system of the 3D engine does nothing until it exists; the textures, texture
// pool and font pool start and stop here.
#include "shell/subsystems.h"

#include "gfx/texture.h"
#include "gfx/texturepool.h"

void initObjectSystem() {}
void closeObjectSystem() {}

void initTexturesAndPools() {
    initTextures();
    initTexturePool();
}

void closeFontAndTexturePools() {
    closeTexturePool();
    closeTextures();
}

void releaseLoadingFonts() {}
