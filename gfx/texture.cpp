// Textures: format lists and converters, the resampler, plain, animated and cube textures,
// binding and the per-frame flip.
//
// Sections: formats, converters and lists; resampler; flag words; Texture; CubeTexture;
// binding and animation.
#include "gfx/texture.h"

#include "gfx/device.h"
#include "gfx/device_local.h"
#include "gfx/dxcheck.h"
#include "gfx/resources.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"

#include <algorithm>
#include <cstring>
#include <vector>

// ---- Formats, converters and lists ----

namespace gfx {
namespace {

inline uint32_t packTexel(const TextureFormat& f, uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    const uint8_t* c = f.channels;
    return ((a >> c[1]) << c[0]) | ((r >> c[3]) << c[2]) | ((g >> c[5]) << c[4]) |
           ((b >> c[7]) << c[6]);
}

// One row, with the texel size fixed at compile time; `channels` reads the source pixel as
// alpha, red, green, blue.
template <uint32_t Bytes, int32_t SourceBytes, typename Channels>
void convertRow(const uint8_t* s, uint8_t* t, int32_t count, const TextureFormat& f,
                Channels channels) {
    for (int32_t i = 0; i < count; ++i, s += SourceBytes, t += Bytes) {
        uint32_t a, r, g, b;
        channels(s, &a, &r, &g, &b);
        uint32_t texel = packTexel(f, a, r, g, b);
        if constexpr (Bytes == 4) {
            memcpy(t, &texel, 4); // little-endian
        } else {
            for (uint32_t k = 0; k < Bytes; ++k)
                t[k] = uint8_t(texel >> (8 * k));
        }
    }
}

template <int32_t SourceBytes, typename Channels>
void convertAny(const uint8_t* s, uint8_t* t, int32_t count, const TextureFormat& f,
                Channels channels) {
    switch (f.bits) {
    case 8:
        return convertRow<1, SourceBytes>(s, t, count, f, channels);
    case 16:
        return convertRow<2, SourceBytes>(s, t, count, f, channels);
    case 24:
        return convertRow<3, SourceBytes>(s, t, count, f, channels);
    default:
        return convertRow<4, SourceBytes>(s, t, count, f, channels);
    }
}

void convertRgb(const uint8_t* s, uint8_t* t, int32_t count, const TextureFormat& f) {
    convertAny<3>(s, t, count, f,
                  [](const uint8_t* p, uint32_t* a, uint32_t* r, uint32_t* g, uint32_t* b) {
                      *a = 0, *r = p[2], *g = p[1], *b = p[0];
                  });
}

void convertGray(const uint8_t* s, uint8_t* t, int32_t count, const TextureFormat& f) {
    convertAny<1>(s, t, count, f,
                  [](const uint8_t* p, uint32_t* a, uint32_t* r, uint32_t* g, uint32_t* b) {
                      *a = 0, *r = *g = *b = p[0];
                  });
}

void convertAlpha(const uint8_t* s, uint8_t* t, int32_t count, const TextureFormat& f) {
    convertAny<1>(s, t, count, f,
                  [](const uint8_t* p, uint32_t* a, uint32_t* r, uint32_t* g, uint32_t* b) {
                      *a = p[0], *r = *g = *b = 255;
                  });
}

void convertRgba(const uint8_t* s, uint8_t* t, int32_t count, const TextureFormat& f) {
    convertAny<4>(s, t, count, f,
                  [](const uint8_t* p, uint32_t* a, uint32_t* r, uint32_t* g, uint32_t* b) {
                      *a = p[3], *r = p[2], *g = p[1], *b = p[0];
                  });
}

void convertGrayAlpha(const uint8_t* s, uint8_t* t, int32_t count, const TextureFormat& f) {
    convertAny<2>(s, t, count, f,
                  [](const uint8_t* p, uint32_t* a, uint32_t* r, uint32_t* g, uint32_t* b) {
                      *a = p[1], *r = *g = *b = p[0];
                  });
}

// Channel layout of a format: bits and shift of alpha, red, green, blue; luminance counts
// as red.
struct Layout {
    D3DFORMAT format;
    uint8_t bits[4], shifts[4];
    uint32_t texelBits;
};
constexpr Layout kLayouts[] = {
    {D3DFMT_R8G8B8, {0, 8, 8, 8}, {0, 16, 8, 0}, 24},
    {D3DFMT_X8R8G8B8, {0, 8, 8, 8}, {0, 16, 8, 0}, 32},
    {D3DFMT_A8R8G8B8, {8, 8, 8, 8}, {24, 16, 8, 0}, 32},
    {D3DFMT_R5G6B5, {0, 5, 6, 5}, {0, 11, 5, 0}, 16},
    {D3DFMT_X1R5G5B5, {0, 5, 5, 5}, {0, 10, 5, 0}, 16},
    {D3DFMT_A1R5G5B5, {1, 5, 5, 5}, {15, 10, 5, 0}, 16},
    {D3DFMT_X4R4G4B4, {0, 4, 4, 4}, {0, 8, 4, 0}, 16},
    {D3DFMT_A4R4G4B4, {4, 4, 4, 4}, {12, 8, 4, 0}, 16},
    {D3DFMT_R3G3B2, {0, 3, 3, 2}, {0, 5, 2, 0}, 8},
    {D3DFMT_A8R3G3B2, {8, 3, 3, 2}, {8, 5, 2, 0}, 16},
    {D3DFMT_L8, {0, 8, 0, 0}, {0, 0, 0, 0}, 8},
    {D3DFMT_A8L8, {8, 8, 0, 0}, {8, 0, 0, 0}, 16},
    {D3DFMT_A4L4, {4, 4, 0, 0}, {4, 0, 0, 0}, 8},
    {D3DFMT_A8, {8, 0, 0, 0}, {0, 0, 0, 0}, 8},
};

// A list entry; withAlpha false leaves the format's alpha bits 0.
constexpr TextureFormat entry(D3DFORMAT format, TexelConverter convert, bool withAlpha) {
    TextureFormat f;
    for (const Layout& l : kLayouts) {
        if (l.format != format) continue;
        f.format = format;
        f.bits = l.texelBits;
        f.convert = convert;
        for (int c = 0; c < 4; ++c) {
            bool present = l.bits[c] != 0 && (c != 0 || withAlpha);
            f.channels[2 * c] = present ? l.shifts[c] : 0;
            f.channels[2 * c + 1] = present ? uint8_t(8 - l.bits[c]) : 8;
        }
    }
    return f;
}

constexpr TextureFormat kEnd{};

#define RGB(f) entry(D3DFMT_##f, convertRgb, false)
#define GRAY(f) entry(D3DFMT_##f, convertGray, false)
#define ALPHA(f) entry(D3DFMT_##f, convertAlpha, true)
#define RGBA(f) entry(D3DFMT_##f, convertRgba, true)
#define GRAYALPHA(f) entry(D3DFMT_##f, convertGrayAlpha, true)

const TextureFormat kRgb[] = {RGB(R8G8B8),   RGB(X8R8G8B8), RGB(A8R8G8B8), RGB(R5G6B5),
                              RGB(X1R5G5B5), RGB(A1R5G5B5), RGB(X4R4G4B4), RGB(A4R4G4B4),
                              RGB(R3G3B2),   RGB(A8R3G3B2), kEnd};
const TextureFormat kRgbLow[] = {RGB(R5G6B5),   RGB(X1R5G5B5), RGB(A1R5G5B5), RGB(X4R4G4B4),
                                 RGB(A4R4G4B4), RGB(R8G8B8),   RGB(X8R8G8B8), RGB(A8R8G8B8),
                                 RGB(R3G3B2),   RGB(A8R3G3B2), kEnd};
const TextureFormat kGray[] = {
    GRAY(L8),       GRAY(A8L8),     GRAY(R8G8B8), GRAY(X8R8G8B8), GRAY(A8R8G8B8),
    GRAY(X1R5G5B5), GRAY(A1R5G5B5), GRAY(R5G6B5), GRAY(X4R4G4B4), GRAY(A4R4G4B4),
    GRAY(R3G3B2),   GRAY(A8R3G3B2), kEnd};
const TextureFormat kGrayLow[] = {GRAY(L8),
                                  GRAY(A8L8),
                                  GRAY(X1R5G5B5),
                                  GRAY(A1R5G5B5),
                                  GRAY(R5G6B5),
                                  GRAY(X4R4G4B4),
                                  GRAY(A4R4G4B4),
                                  GRAY(R8G8B8),
                                  GRAY(X8R8G8B8),
                                  GRAY(A8R8G8B8),
                                  GRAY(R3G3B2),
                                  GRAY(A8R3G3B2),
                                  kEnd};
const TextureFormat kAlpha[] = {ALPHA(A8),   ALPHA(A8L8),     ALPHA(A8R3G3B2), ALPHA(A8R8G8B8),
                                ALPHA(A4L4), ALPHA(A4R4G4B4), ALPHA(A1R5G5B5), kEnd};
const TextureFormat kAlphaLow[] = {ALPHA(A8),       ALPHA(A8L8),     ALPHA(A4L4), ALPHA(A4R4G4B4),
                                   ALPHA(A8R8G8B8), ALPHA(A1R5G5B5), kEnd};
const TextureFormat kRgba[] = {RGBA(A8R8G8B8), RGBA(A4R4G4B4), RGBA(A8R3G3B2), RGBA(A1R5G5B5),
                               kEnd};
const TextureFormat kRgbaLow[] = {RGBA(A4R4G4B4), RGBA(A8R8G8B8), RGBA(A1R5G5B5), RGBA(A8R3G3B2),
                                  kEnd};
const TextureFormat kGrayAlpha[] = {GRAYALPHA(A8L8),     GRAYALPHA(A8R8G8B8), GRAYALPHA(A4R4G4B4),
                                    GRAYALPHA(A8R3G3B2), GRAYALPHA(A1R5G5B5), kEnd};
const TextureFormat kGrayAlphaLow[] = {GRAYALPHA(A8L8),     GRAYALPHA(A4R4G4B4),
                                       GRAYALPHA(A8R8G8B8), GRAYALPHA(A8R3G3B2),
                                       GRAYALPHA(A1R5G5B5), kEnd};

#undef RGB
#undef GRAY
#undef ALPHA
#undef RGBA
#undef GRAYALPHA

const TextureFormat kNone[] = {kEnd};

} // namespace

const TextureFormat* textureFormatList(uint32_t flags) {
    bool low = (flags & kTextureLowQuality) != 0;
    switch (flags & 7) {
    case kTextureRgb:
        return low ? kRgbLow : kRgb;
    case kTextureGrayscale:
        return low ? kGrayLow : kGray;
    case kTextureAlpha:
        return low ? kAlphaLow : kAlpha;
    case kTextureRgb | kTextureAlpha:
        return low ? kRgbaLow : kRgba;
    case kTextureGrayscale | kTextureAlpha:
        return low ? kGrayAlphaLow : kGrayAlpha;
    default:
        return kNone;
    }
}

int32_t sourcePixelBytes(uint32_t flags) {
    switch (flags & 7) {
    case kTextureRgb:
        return 3;
    case kTextureGrayscale:
    case kTextureAlpha:
        return 1;
    case kTextureRgb | kTextureAlpha:
        return 4;
    case kTextureGrayscale | kTextureAlpha:
        return 2;
    default:
        return 0;
    }
}

// ---- Resampler ----

namespace {

// Bilinear fit in 16.16 steps; a pixel at the image's last column or row keeps its value
// in that direction, as it has no neighbour there.
void resampleBilinear(const uint8_t* image, int32_t width, int32_t height, int32_t pixelBytes,
                      uint8_t* out, int32_t outWidth, int32_t outHeight) {
    uint32_t stepX = uint32_t((uint64_t(width) << 16) / uint32_t(outWidth));
    uint32_t stepY = uint32_t((uint64_t(height) << 16) / uint32_t(outHeight));
    size_t rowBytes = size_t(width) * pixelBytes;
    for (int32_t y = 0; y < outHeight; ++y) {
        uint32_t sy = uint32_t(y) * stepY;
        int32_t iy = int32_t(sy >> 16);
        int32_t fy = int32_t(sy & 0xffff);
        int32_t iy1 = iy + 1 < height ? iy + 1 : iy;
        const uint8_t* row0 = image + size_t(iy) * rowBytes;
        const uint8_t* row1 = image + size_t(iy1) * rowBytes;
        for (int32_t x = 0; x < outWidth; ++x) {
            uint32_t sx = uint32_t(x) * stepX;
            int32_t ix = int32_t(sx >> 16);
            int32_t fx = int32_t(sx & 0xffff);
            int32_t ix1 = ix + 1 < width ? ix + 1 : ix;
            for (int32_t c = 0; c < pixelBytes; ++c) {
                int32_t p00 = row0[ix * pixelBytes + c], p10 = row0[ix1 * pixelBytes + c];
                int32_t p01 = row1[ix * pixelBytes + c], p11 = row1[ix1 * pixelBytes + c];
                int32_t top = p00 + (((p10 - p00) * fx) >> 16);
                int32_t bottom = p01 + (((p11 - p01) * fx) >> 16);
                *out++ = uint8_t(top + (((bottom - top) * fy) >> 16));
            }
        }
    }
}

} // namespace

void fitImage(const uint8_t* image, int32_t width, int32_t height, int32_t pixelBytes,
              uint8_t* fitted, int32_t textureWidth, int32_t textureHeight, bool resample) {
    size_t outRow = size_t(textureWidth) * pixelBytes;
    if (width == textureWidth && height == textureHeight) {
        memcpy(fitted, image, outRow * textureHeight);
    } else if (resample) {
        resampleBilinear(image, width, height, pixelBytes, fitted, textureWidth, textureHeight);
    } else {
        memset(fitted, 0, outRow * textureHeight);
        size_t inRow = size_t(width) * pixelBytes;
        for (int32_t y = 0; y < height; ++y)
            memcpy(fitted + y * outRow, image + y * inRow, inRow);
    }
}

void halveImage(uint8_t* image, int32_t* width, int32_t* height, int32_t pixelBytes) {
    int32_t w = *width, h = *height;
    int32_t nw = w > 1 ? w / 2 : 1, nh = h > 1 ? h / 2 : 1;
    for (int32_t y = 0; y < nh; ++y) {
        const uint8_t* row0 = image + size_t(2 * y < h ? 2 * y : h - 1) * w * pixelBytes;
        const uint8_t* row1 = image + size_t(2 * y + 1 < h ? 2 * y + 1 : h - 1) * w * pixelBytes;
        for (int32_t x = 0; x < nw; ++x) {
            int32_t x0 = (2 * x < w ? 2 * x : w - 1) * pixelBytes;
            int32_t x1 = (2 * x + 1 < w ? 2 * x + 1 : w - 1) * pixelBytes;
            uint8_t* out = image + (size_t(y) * nw + x) * pixelBytes;
            for (int32_t c = 0; c < pixelBytes; ++c)
                out[c] =
                    uint8_t((row0[x0 + c] + row0[x1 + c] + row1[x0 + c] + row1[x1 + c] + 2) / 4);
        }
    }
    *width = nw;
    *height = nh;
}

uint32_t mipLevelCount(uint32_t width, uint32_t height) {
    uint32_t side = std::min(width, height), count = 0;
    while (side > 1) {
        side >>= 1;
        ++count;
    }
    return count ? count : 1;
}

} // namespace gfx

using gfx::TextureFormat;

// ---- Flag words ----

const char* textureFlagWords(uint32_t flags) {
    static char words[160];
    words[0] = 0;
    auto add = [](const char* word) { strncat(words, word, sizeof(words) - strlen(words) - 1); };
    if (flags & kTextureRgb) add("rgb");
    if (flags & kTextureGrayscale) add("grayscale");
    if (flags & kTextureAlpha) add(words[0] ? "+alpha" : "alpha");
    if (flags & kTextureLowQuality) add("+low quality");
    if (flags & kTextureRenderTarget) add("+rendertarget");
    if (flags & kTextureMipMaps) add("+mip maps");
    if (flags & kTextureWrap) add("+wrap");
    if (flags & kTextureAnimated) add("+animated");
    if (flags & kTextureNoLag) add("+no lag");
    return words;
}

// ---- Texture ----

namespace {

std::vector<Texture*> animatedTextures;

const TextureFormat* chooseFormat(uint32_t flags, D3DRESOURCETYPE type) {
    const DeviceContext& c = deviceContext;
    uint32_t usage = (flags & kTextureRenderTarget) ? D3DUSAGE_RENDERTARGET : 0;
    for (const TextureFormat* f = gfx::textureFormatList(flags); f->format != D3DFMT_UNKNOWN; ++f)
        if (c.direct3d &&
            SUCCEEDED(c.direct3d->CheckDeviceFormat(c.adapter, c.deviceType, screenFormat.format,
                                                    usage, type, f->format)))
            return f;
    return nullptr;
}

D3DPOOL devicePool(int32_t pool) {
    return pool == 0 ? D3DPOOL_DEFAULT : pool == 1 ? D3DPOOL_MANAGED : D3DPOOL_SYSTEMMEM;
}

uint32_t powerOfTwoAbove(uint32_t side) {
    uint32_t p = 1;
    while (p < side)
        p <<= 1;
    return p;
}

GpuTexture* createDeviceTexture(const Texture& t, uint32_t usage, D3DPOOL pool,
                                const char* failure) {
    GpuTexture* texture = nullptr;
    checkDx(dxDevice()->CreateTexture(uint32_t(t.textureWidth), uint32_t(t.textureHeight), t.levels,
                                      usage, t.format->format, pool, &texture),
            failure, true);
    return texture;
}

// Converts the fitted work copy into every level of a lockable texture, halving it between
// levels. lock(level, rect) gives the level's texels; a level that cannot be locked ends it.
template <typename Lock, typename Unlock>
void fillLevels(uint8_t* work, int32_t width, int32_t height, int32_t pixelBytes, uint32_t levels,
                const TextureFormat& format, Lock lock, Unlock unlock) {
    for (uint32_t level = 0; level < levels; ++level) {
        D3DLOCKED_RECT locked{};
        if (FAILED(lock(level, &locked))) break;
        for (int32_t y = 0; y < height; ++y)
            format.convert(work + size_t(y) * width * pixelBytes,
                           static_cast<uint8_t*>(locked.pBits) + size_t(y) * locked.Pitch, width,
                           format);
        if (level + 1 < levels) gfx::halveImage(work, &width, &height, pixelBytes);
        unlock(level);
    }
}

} // namespace

Texture::Texture(int32_t imageWidth, int32_t imageHeight, uint32_t textureFlags,
                 const uint8_t* image) {
    uint32_t f = textureFlags;
    if ((f & kTextureRenderTarget) && (f & kTextureAnimated))
        fatal("Is texture now animated or rendertarget?");
    if ((f & kTextureNoLag) && !(f & kTextureAnimated))
        logf("TEXX: NoLag only makes sense with animated textures\n");
    if ((f & kTextureAnimated) && (f & kTextureMipMaps))
        logf("TEXX: Animated textures with mipmaps could cause serious performance problems\n");
    if (f & kTextureRenderTarget) f &= ~uint32_t(kTextureMipMaps);
    flags = f;
    width = imageWidth > 0 ? imageWidth : 1;
    height = imageHeight > 0 ? imageHeight : 1;

    const D3DCAPS8& caps = deviceCaps();
    uint32_t tw = uint32_t(width), th = uint32_t(height);
    if (caps.TextureCaps & D3DPTEXTURECAPS_POW2) {
        tw = powerOfTwoAbove(tw);
        th = powerOfTwoAbove(th);
    }
    if (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) tw = th = std::max(tw, th);
    if (caps.MaxTextureWidth && tw > caps.MaxTextureWidth) tw = caps.MaxTextureWidth;
    if (caps.MaxTextureHeight && th > caps.MaxTextureHeight) th = caps.MaxTextureHeight;
    textureWidth = int32_t(tw);
    textureHeight = int32_t(th);

    format = chooseFormat(f, D3DRTYPE_TEXTURE);
    if (!format)
        fatal("No matching texture format found! (w=%d, h=%d, flags=%s)", width, height,
              textureFlagWords(f));
    levels = (f & kTextureMipMaps) && (caps.TextureCaps & D3DPTEXTURECAPS_MIPMAP)
                 ? gfx::mipLevelCount(tw, th)
                 : 1;
    pool = (f & kTextureRenderTarget) ? 0 : (f & kTextureAnimated) ? 2 : 1;
    uint32_t usage = (f & kTextureRenderTarget) ? D3DUSAGE_RENDERTARGET : 0;
    if (pool == 0 || (f & kTextureAnimated)) resourceManagerDiscardBytes(0);
    GpuTexture* texture =
        createDeviceTexture(*this, usage, devicePool(pool), "CreateTexture FAILED");

    if (f & kTextureAnimated) {
        GpuTexture* first = createDeviceTexture(*this, 0, D3DPOOL_DEFAULT,
                                                "CreateTexture FAILED for anim buffer 1");
        displayIds[0] = addResource(first);
        if (!(f & kTextureNoLag)) {
            GpuTexture* second = createDeviceTexture(*this, 0, D3DPOOL_DEFAULT,
                                                     "CreateTexture FAILED for anim buffer 2");
            displayIds[1] = addResource(second);
        }
        animation = (f & kTextureNoLag) ? 1 : 2;
        animatedTextures.push_back(this);
    }
    // A resampled image covers the whole texture, so its coordinates need no scaling either.
    bool resampled = (f & kTextureWrap) || textureWidth < width || textureHeight < height;
    uScale = resampled ? 1.0f : float(width) / float(textureWidth);
    vScale = resampled ? 1.0f : float(height) / float(textureHeight);
    resourceId = addResource(texture);
    created = true;
    logf("TEXX: added texture: width=%d/%d, height: %d/%d, %d miplevels, flags: %s, rid #%08x\n",
         width, textureWidth, height, textureHeight, int(levels), textureFlagWords(flags),
         resourceId);
    if (image) upload(image);
}

Texture::~Texture() {
    auto it = std::find(animatedTextures.begin(), animatedTextures.end(), this);
    if (it != animatedTextures.end()) animatedTextures.erase(it);
    if (!hasResourceManager()) return;
    for (uint32_t id : {displayIds[0], displayIds[1], resourceId}) {
        if (!id) continue;
        forgetTexture(static_cast<GpuBaseTexture*>(resourceObject(id)));
        removeResource(id);
    }
}

uint32_t Texture::bindResource() const {
    if (animation == 1) return displayIds[0];
    if (animation == 2) return displayIds[displayIndex];
    return resourceId;
}

void Texture::upload(const uint8_t* image) {
    int32_t pixelBytes = gfx::sourcePixelBytes(flags);
    if (pool == 0) fatal("Cannot directly upload images to VRAM textures");
    size_t workBytes = size_t(textureWidth) * textureHeight * (pixelBytes ? pixelBytes : 1);
    std::vector<uint8_t> work(workBytes, 0);
    if (image) {
        bool resample = (flags & kTextureWrap) || textureWidth < width || textureHeight < height;
        gfx::fitImage(image, width, height, pixelBytes, work.data(), textureWidth, textureHeight,
                      resample);
        fillLevels(
            work.data(), textureWidth, textureHeight, pixelBytes, levels, *format,
            [&](uint32_t level, D3DLOCKED_RECT* locked) { return lock(level, locked); },
            [&](uint32_t level) { unlock(level); });
    } else {
        for (uint32_t level = 0; level < levels; ++level) {
            D3DLOCKED_RECT locked{};
            D3DSURFACE_DESC desc{};
            if (FAILED(levelDesc(level, &desc)) || FAILED(lock(level, &locked))) break;
            for (uint32_t y = 0; y < desc.Height; ++y)
                memset(static_cast<uint8_t*>(locked.pBits) + size_t(y) * locked.Pitch, 0,
                       size_t(desc.Width) * format->bits / 8);
            unlock(level);
        }
    }
    if (!animation) return;
    uint32_t target = animation == 1 ? displayIds[0] : displayIds[1 - displayIndex];
    auto* source = static_cast<GpuBaseTexture*>(resourceObject(resourceId));
    auto* destination = static_cast<GpuBaseTexture*>(resourceObject(target));
    if (!source || !destination || FAILED(dxDevice()->UpdateTexture(source, destination)))
        logf("TEXX: UpdateTexture FAILED\n");
    if (animation == 2) swapPending = true;
}

HRESULT Texture::lock(uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect,
                      uint32_t lockFlags) {
    auto* texture = static_cast<GpuTexture*>(resourceObject(resourceId));
    if (!texture) return D3DERR_INVALIDCALL;
    HRESULT hr = texture->LockRect(level, locked, rect, lockFlags);
    if (SUCCEEDED(hr)) levelLocked = true;
    return hr;
}

HRESULT Texture::unlock(uint32_t level) {
    auto* texture = static_cast<GpuTexture*>(resourceObject(resourceId));
    if (!texture) return D3DERR_INVALIDCALL;
    levelLocked = false;
    return texture->UnlockRect(level);
}

HRESULT Texture::levelDesc(uint32_t level, D3DSURFACE_DESC* desc) const {
    auto* texture = static_cast<GpuTexture*>(resourceObject(resourceId));
    return texture ? texture->GetLevelDesc(level, desc) : D3DERR_INVALIDCALL;
}

GpuSurface* Texture::surfaceLevel(uint32_t level) const {
    auto* texture = static_cast<GpuTexture*>(resourceObject(resourceId));
    GpuSurface* surface = nullptr;
    if (!texture || FAILED(texture->GetSurfaceLevel(level, &surface))) return nullptr;
    return surface;
}

void Texture::mapNormalized(float u, float v, float* tu, float* tv) const {
    *tu = u * uScale + uOffset;
    *tv = v * vScale + vOffset;
}

void Texture::mapPixel(float x, float y, float* tu, float* tv) const {
    *tu = x * uScale / float(width) + uOffset;
    *tv = y * vScale / float(height) + vOffset;
}

// ---- CubeTexture ----

CubeTexture::CubeTexture(int32_t edgeLength, uint32_t textureFlags) {
    uint32_t f = textureFlags;
    if (f & kTextureAnimated) fatal("Animated Cubemaps are not supported (yet)");
    if (f & kTextureRenderTarget) f &= ~uint32_t(kTextureMipMaps);
    const D3DCAPS8& caps = deviceCaps();
    if (!(caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP))
        fatal("Cubemaps are not supported on your graphics adapter, but we need them");
    uint32_t side = edgeLength > 0 ? uint32_t(edgeLength) : 1;
    if (caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP_POW2) side = powerOfTwoAbove(side);
    if (caps.MaxTextureWidth && side > caps.MaxTextureWidth) side = caps.MaxTextureWidth;
    if (int64_t(side) != edgeLength)
        fatal("Hardware does not directly support requested cubemap edge size of %d", edgeLength);
    flags = f;
    edge = edgeLength;
    format = chooseFormat(f, D3DRTYPE_CUBETEXTURE);
    if (!format)
        fatal("No matching cubemap format found! (edge=%d, flags=%s)", edge, textureFlagWords(f));
    levels = (f & kTextureMipMaps) && (caps.TextureCaps & D3DPTEXTURECAPS_MIPCUBEMAP)
                 ? gfx::mipLevelCount(side, side)
                 : 1;
    pool = (f & kTextureRenderTarget) ? 0 : 1;
    if (pool == 0) resourceManagerDiscardBytes(0);
    GpuCubeTexture* texture = nullptr;
    checkDx(dxDevice()->CreateCubeTexture(side, levels,
                                          (f & kTextureRenderTarget) ? D3DUSAGE_RENDERTARGET : 0,
                                          format->format, devicePool(pool), &texture),
            "CreateCubeTexture FAILED", true);
    resourceId = addResource(texture);
    created = true;
    logf("TEXX: added cubemap: edge=%d, %d miplevels, flags: %s, rid #%08x\n", edge, int(levels),
         textureFlagWords(flags), resourceId);
}

CubeTexture::~CubeTexture() {
    if (!resourceId || !hasResourceManager()) return;
    forgetTexture(static_cast<GpuBaseTexture*>(resourceObject(resourceId)));
    removeResource(resourceId);
}

uint32_t CubeTexture::bindResource() const {
    return resourceId;
}

void CubeTexture::upload(D3DCUBEMAP_FACES face, const uint8_t* image) {
    if (pool == 0) fatal("Cannot directly upload images to VRAM textures");
    auto* texture = static_cast<GpuCubeTexture*>(resourceObject(resourceId));
    if (!texture || !image) return;
    int32_t pixelBytes = gfx::sourcePixelBytes(flags);
    std::vector<uint8_t> work(image, image + size_t(edge) * edge * pixelBytes);
    fillLevels(
        work.data(), edge, edge, pixelBytes, levels, *format,
        [&](uint32_t level, D3DLOCKED_RECT* locked) {
            return texture->LockRect(face, level, locked, nullptr, 0);
        },
        [&](uint32_t level) { texture->UnlockRect(face, level); });
}

// ---- Binding and animation ----

void bindTexture(uint32_t stage, const TextureBase* texture) {
    if (stage >= deviceCaps().MaxTextureBlendStages) {
        logf("TEXX: more texture blend stages used than available\n");
        return;
    }
    GpuBaseTexture* object =
        texture ? static_cast<GpuBaseTexture*>(resourceObject(texture->bindResource())) : nullptr;
    setTexture(stage, object);
}

void flipAnimatedTextures() {
    for (Texture* t : animatedTextures) {
        if (t->animation != 2 || !t->swapPending) continue;
        t->displayIndex = 1 - t->displayIndex;
        t->swapPending = false;
    }
}

int32_t animatedTextureCount() {
    return int32_t(animatedTextures.size());
}

void initTextures() {
    logf("RSPL: init\n");
}

void closeTextures() {}
