// Steps of the start-up sequence whose subsystems have not landed yet or have just landed:
// the object system of the 3D engine does nothing until it exists; the textures, texture
// pool, font pool and the loading screen's fonts start and stop here.
#include "shell/subsystems.h"

#include "gfx/font.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"

namespace {

// A production's own files win; the embedded copies make sure every production has them.
constexpr const char* kSmallLoadingFont = "lux32.fn2|res:200";
constexpr const char* kLargeLoadingFont = "arial_48.fn2|res:201";
BitmapFont* loadingFonts[2] = {};

} // namespace

void initObjectSystem() {}
void closeObjectSystem() {}

void initTexturesAndPools() {
    initTextures();
    initTexturePool();
    initFontPool();
}

void closeFontAndTexturePools() {
    releaseLoadingFonts();
    closeFontPool();
    closeTexturePool();
    closeTextures();
}

void acquireLoadingFonts() {
    loadingFonts[0] = acquireFontFile(kSmallLoadingFont);
    loadingFonts[1] = acquireFontFile(kLargeLoadingFont);
}

void releaseLoadingFonts() {
    for (BitmapFont*& font : loadingFonts) {
        releaseFont(font);
        font = nullptr;
    }
}
