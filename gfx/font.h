// Bitmap fonts: one 8-bit coverage surface holding the 256 characters of a font, with each
// character's cell position and ABC widths, drawn as screen-space quads whose size scales
// with the screen height.
//
// A font comes from a ".fn2" file (made in advance by tools/fonttool) through the font-file
// cache, keyed by file name, or is rendered at run time through the font cache, keyed by
// "face|size|bold|italic" (size 32, bold 0 and italic 0 when left out). Run-time fonts are
// rendered with FreeType; fontconfig resolves the face name, so "Arial" finds a
// metric-compatible face. The surface becomes an alpha texture (flags 44).
//
// Start-up calls `initFontPool` after the texture pool; shutdown `closeFontPool`. Fonts are
// acquired and released by their users; drawing runs on the device thread.
#pragma once

#include "platform/gpu/d3d8types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class Stream;
struct Texture;

struct Glyph {
    uint16_t x = 0, y = 0;     // cell in the surface, pixels
    float a = 0, b = 0, c = 0; // space before, black box width, space after (pixels)
    float height = 0;          // cell height: the font size in pixels
    float u = 0, v = 0;        // texture coordinates of the cell's top-left corner
};

struct BitmapFont {
    Glyph glyphs[256];
    int32_t surfaceWidth = 0, surfaceHeight = 0;
    int32_t lineHeight = 0;       // height of "A"
    float scale = 1;              // requested size / rendered size
    std::vector<uint8_t> surface; // surfaceWidth x surfaceHeight coverage bytes
    Texture* texture = nullptr;
    float underlineOffset = 0;    // pixels from the top of the line
    float underlineThickness = 0; // pixels
    bool underline = false;
    int32_t alignment = 0; // 0 left, 1 centred on the start x, 2 right-aligned to it
};

constexpr uint32_t kFontTextureFlags = 44; // alpha + low quality + mip maps

// ---- Files ----
// Parses ".fn2" bytes (no texture); false for anything else or a damaged file.
bool parseFontFile(const uint8_t* bytes, size_t size, BitmapFont* font);
bool readFontFile(Stream* stream, BitmapFont* font); // parses, then makes the texture
bool writeFontFile(const BitmapFont& font, Stream* stream);
// u and v of every glyph from the texture's pixel mapping; the texture made when missing.
void createFontTexture(BitmapFont* font);
void freeFont(BitmapFont* font);

// ---- Rendering (FreeType) ----
// Supersampling factor of a size: 4 up to 63, 3 up to 95, 2 above; 1 without antialiasing.
int32_t fontSupersampling(int32_t size, bool antialias);
// Renders the 256 characters; no texture. False when the face or the surface cannot be made.
bool renderFont(const char* face, int32_t size, bool bold, bool italic, bool antialias,
                BitmapFont* font);
namespace gfx {
// The surface a font of `size` fits on, with the cell positions of codes 33 to 255 in
// supersampled pixels; the size drops by 5 while the surface would pass 2048 on a side.
struct FontSurfaceFit {
    int32_t size = 0, width = 0, height = 0;
    int32_t cellX[256] = {}, cellY[256] = {};
};
// measure(size, blackBox): the 256 black box widths (supersampled pixels) at a size.
bool fitFontSurface(int32_t size, int32_t k,
                    const std::function<bool(int32_t size, int32_t* blackBox)>& measure,
                    FontSurfaceFit* fit);
} // namespace gfx
// The face file fontconfig finds for a face name (it always offers some face).
bool findFontFace(const char* face, bool bold, bool italic, char* file, size_t capacity);
// The fn2 file name the font tool writes: "%d_%s_%d_%d_%d.fn2".
void fontToolFileName(char* out, size_t capacity, int32_t size, const char* face, int32_t bold,
                      int32_t italic, int32_t antialias);
// The font tool's command line; returns the exit status.
int fontToolMain(int argc, char** argv);

// ---- Caches ----
void initFontPool();
void closeFontPool();
BitmapFont* acquireFontFile(const char* name); // ".fn2" by file request
BitmapFont* acquireFont(const char* request);  // "face|size|bold|italic"
void releaseFont(BitmapFont* font);
int32_t fontCacheCount();        // entries of both caches
void keepUnusedFonts(bool keep); // NamedCache::keepUnused on both caches

// ---- Measuring and drawing ----
// Width in pixels of the widest line (at most `limit` characters; negative: all).
float measureText(const BitmapFont* font, const char* text, float sizeFactor, float spacing,
                  int32_t limit = -1);
float textHeight(const BitmapFont* font, const char* text, float sizeFactor, int32_t limit = -1);
// x offsets of the text's start and end relative to the start x, by alignment, and its height.
void textLayout(const BitmapFont* font, const char* text, float sizeFactor, float spacing,
                float* startOffset, float* endOffset, float* height);
void setFontUnderline(BitmapFont* font, bool on);
void setFontAlignment(BitmapFont* font, int32_t alignment);
// Device states for text over a finished picture: the glyphs' coverage blended in the
// diffuse colour, no depth test.
void setTextOverlayStates();
void drawText(BitmapFont* font, float x, float y, const char* text, float sizeFactor,
              D3DCOLOR colour, float spacing);
// One line of text as a coverage image: measured width at size 1 x line height.
std::vector<uint8_t> renderTextLine(const BitmapFont* font, const char* text, int32_t* width,
                                    int32_t* height);
