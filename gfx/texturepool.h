// Texture pool, glow textures and image loading.
//
// Effects and scenes ask for textures by a request: a file name (an image on disk or in an
// archive), "glow:" with a size and four numbers ("glow:16 3.5 3.5 3.5 1.1"), "null" (no
// texture) or "rtt:" and a render target name (published by the device context). The pool
// makes each request once and shares it by reference count; requests match without regard to case.
// A caller sets the flags of the next created texture (`flags`) right before `acquire`: the
// loaders add the colour content bits themselves, a caller that wants a grayscale or alpha
// texture of a picture sets that bit.
//
// Files are read as raw uncompressed DDS (24 or 32 bits) or, failing that, by the picture
// loader `luxLoadTexture`: JPEG through libjpeg-turbo, PNG, BMP, GIF and TGA through
// stb_image. A missing file is logged and skipped; a corrupt one is fatal.
//
// Start-up calls `initTexturePool` after `initTextures`; shutdown `closeTexturePool`, which
// unloads every entry.
#pragma once

#include "data/filesystem.h"

#include <cstdint>
#include <vector>

class Stream;
struct Texture;
struct RenderTarget;

class TexturePool : public NamedCache {
  public:
    int32_t load(const char* name, void** object, int32_t* size) override;
    void unload(void*& object) override;
    ~TexturePool() override;

    uint32_t flags = 0; // flags of the next created texture
};

void initTexturePool(); // logs "TEXX: init" and "TXPL: init"
void closeTexturePool();
TexturePool* texturePool(); // null outside init/close

// Sets the pool's flags and acquires a request; null when it yields no texture.
Texture* acquireTexture(const char* request, uint32_t flags);
void releaseTexture(Texture* texture);

// The device context's render-to-texture targets, published as "rtt:" + name.
void publishRenderTexture(RenderTarget* target);
void withdrawRenderTexture(RenderTarget* target);

// A size x size glow: v = 1 - sqrt((x^2 + y^2) / 2) from the centre, each channel
// pow(v, exponent) x intensity x 255.
Texture* createGlowTexture(int32_t size, float redExponent, float greenExponent, float blueExponent,
                           float intensity, uint32_t flags);
// The glow image in the rgb layout (blue, green, red), size x size x 3 bytes.
void glowImage(int32_t size, float redExponent, float greenExponent, float blueExponent,
               float intensity, uint8_t* out);

// A DDS reader, then the picture loader; the stream is rewound between them.
Texture* loadTextureStream(Stream* stream, uint32_t flags);
// Null with `declined` set when the stream is no DDS file (position left for the caller).
Texture* readDdsTexture(Stream* stream, uint32_t flags, bool* declined);
// The pixels of a DDS file: null, or the message of what is wrong with it.
struct DdsImage {
    int32_t width = 0, height = 0;
    int32_t pixelBytes = 0; // 4: blue, green, red, alpha; 3: blue, green, red
    std::vector<uint8_t> pixels;
};
const char* parseDds(Stream* stream, DdsImage* image, bool* declined);
// The picture loader (fatal when the picture cannot be decoded).
Texture* luxLoadTexture(Stream* stream, uint32_t flags);

// Decoded picture in the layout the flags ask for: one luma byte per pixel with grayscale or
// alpha, else blue, green, red. False (and a log line) when the bytes are no picture.
struct Picture {
    int32_t width = 0, height = 0;
    int32_t pixelBytes = 0;    // 1 or 3
    uint8_t* pixels = nullptr; // malloc'd
};
bool decodePicture(Stream* stream, uint32_t flags, Picture* picture);
void freePicture(Picture* picture);
