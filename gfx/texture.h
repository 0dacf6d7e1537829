// Textures: device textures that hide the device's size and format limits.
//
// A caller gives the image size and a flag set (what the image holds and how the texture is
// used); the texture picks a size the device accepts (powers of two, square, maximum size)
// and the first pixel format of a preference list that the device supports, converts 8-bit
// images into it and builds every mip level. When the texture had to be larger than the
// image, the image sits in the top-left corner and the coordinate mappings account for it
// (with the wrap flag the image is stretched over the whole texture instead).
//
// Device objects belong to the resource manager (gfx/resources.h); a texture holds only
// resource ids and looks the objects up when it needs them, so objects recreated after a
// device loss are picked up without its help.
//
// Animated textures are filled in system memory and copied to one display buffer ("no lag")
// or to the hidden one of two, shown from the next frame on: `flipAnimatedTextures`, which
// `present` calls once per frame, switches them. Start-up calls `initTextures` (the image
// resampler) after the resource manager; textures are created and bound on the device thread.
#pragma once

#include "platform/gpu/d3d8types.h"

#include <cstdint>

class GpuBaseTexture;
class GpuSurface;

enum TextureFlag : uint32_t {
    kTextureRgb = 0x1,
    kTextureGrayscale = 0x2,
    kTextureAlpha = 0x4,
    kTextureLowQuality = 0x8,
    kTextureRenderTarget = 0x10,
    kTextureMipMaps = 0x20,
    kTextureWrap = 0x40,
    kTextureAnimated = 0x80,
    kTextureNoLag = 0x100,
};

namespace gfx {
// Converts `count` source pixels of one row into texels of the format.
struct TextureFormat;
using TexelConverter = void (*)(const uint8_t* source, uint8_t* texels, int32_t count,
                                const TextureFormat& format);
struct TextureFormat {
    D3DFORMAT format = D3DFMT_UNKNOWN; // D3DFMT_UNKNOWN ends a list
    uint8_t channels[8] = {};          // shift and loss of alpha, red, green, blue
    uint32_t bits = 0;                 // bits per texel
    TexelConverter convert = nullptr;
};
// The candidate list for flag bits 0 to 3, ended by an entry of format D3DFMT_UNKNOWN.
const TextureFormat* textureFormatList(uint32_t flags);
// Source bytes per pixel of flag bits 0 to 3 (0 for combinations without a layout).
int32_t sourcePixelBytes(uint32_t flags);
// The image fitted to the texture size: copied, resampled or placed top-left.
void fitImage(const uint8_t* image, int32_t width, int32_t height, int32_t pixelBytes,
              uint8_t* fitted, int32_t textureWidth, int32_t textureHeight, bool resample);
// Halves an image in place with the rounded 2 x 2 box filter; the new size is written back.
void halveImage(uint8_t* image, int32_t* width, int32_t* height, int32_t pixelBytes);
// Mip levels of a chain built by halving the smaller side down to 1.
uint32_t mipLevelCount(uint32_t width, uint32_t height);
} // namespace gfx

// The flag words of log lines ("grayscale+alpha+mip maps"); one static buffer.
const char* textureFlagWords(uint32_t flags);

struct TextureBase {
    virtual uint32_t bindResource() const = 0; // resource id of the device texture to bind now
    virtual ~TextureBase() = default;

    bool created = false;
    uint32_t resourceId = 0;
};

struct Texture : TextureBase {
    // Fatal when the flags or the device leave no way to make it.
    Texture(int32_t width, int32_t height, uint32_t textureFlags, const uint8_t* image = nullptr);
    ~Texture() override;
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;
    uint32_t bindResource() const override;

    // Bytes in the source layout of the flags, of the image size; null fills with zeros.
    void upload(const uint8_t* image);
    HRESULT lock(uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect = nullptr,
                 uint32_t lockFlags = 0);
    HRESULT unlock(uint32_t level);
    HRESULT levelDesc(uint32_t level, D3DSURFACE_DESC* desc) const;
    GpuSurface* surfaceLevel(uint32_t level) const; // a reference added; null on failure

    // Image coordinates to texture coordinates: normalised (0..1 of the image) or pixels.
    void mapNormalized(float u, float v, float* tu, float* tv) const;
    void mapPixel(float x, float y, float* tu, float* tv) const;

    int32_t width = 0, height = 0;               // image
    int32_t textureWidth = 0, textureHeight = 0; // device texture
    float uScale = 1, uOffset = 0, vScale = 1, vOffset = 0;
    uint32_t flags = 0;
    uint32_t levels = 1;
    int32_t animation = 0;    // 0 none, 1 one display buffer, 2 two display buffers
    int32_t displayIndex = 0; // display buffer in use (two buffers)
    bool swapPending = false;
    const gfx::TextureFormat* format = nullptr;
    int32_t pool = 1; // 0 default, 1 managed, 2 system memory
    uint32_t displayIds[2] = {};
    bool levelLocked = false;
};

struct CubeTexture : TextureBase {
    CubeTexture(int32_t edgeLength, uint32_t textureFlags);
    ~CubeTexture() override;
    CubeTexture(const CubeTexture&) = delete;
    CubeTexture& operator=(const CubeTexture&) = delete;
    uint32_t bindResource() const override;
    // An edge x edge image in the flags' source layout into one face, all mip levels.
    void upload(D3DCUBEMAP_FACES face, const uint8_t* image);

    int32_t edge = 0;
    uint32_t flags = 0;
    uint32_t levels = 1;
    const gfx::TextureFormat* format = nullptr;
    int32_t pool = 1;
};

// Binds a texture (or none) to a stage through the device context's state cache.
void bindTexture(uint32_t stage, const TextureBase* texture);
// Once per frame: double-buffered animated textures with a new image show it.
void flipAnimatedTextures();
int32_t animatedTextureCount();
// The image resampler; logs "RSPL: init".
void initTextures();
void closeTextures();
