// Texture pool, glow textures, render-texture publishing and the DDS reader.
// The picture loader is in picture.cpp.
#include "gfx/texturepool.h"

#include "data/stream.h"
#include "gfx/device.h"
#include "gfx/texture.h"
#include "platform/log.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

namespace {

TexturePool* thePool = nullptr;

// A render target's texture belongs to the target; the pool only lends it out.
bool ownedByTarget(const Texture* texture) {
    return (texture->flags & kTextureRenderTarget) != 0;
}

} // namespace

// ---- Pool ----

int32_t TexturePool::load(const char* name, void** object, int32_t* size) {
    *object = nullptr;
    if (strcmp(name, "null") == 0) return 0;
    Texture* texture = nullptr;
    if (strncasecmp(name, "glow:", 5) == 0) {
        int n = 0;
        float er = 0, eg = 0, eb = 0, k = 0;
        if (sscanf(name + 5, "%d %f %f %f %f", &n, &er, &eg, &eb, &k) != 5 || n <= 0 || n > 4096) {
            logf("TXPL: warning: bad glow request %s\n", name);
            return 0;
        }
        texture = createGlowTexture(n, er, eg, eb, k, flags);
    } else {
        void* file = nullptr;
        if (!fileSystem() || !fileSystem()->acquire(name, &file, nullptr) || !file) {
            logf("TXPL: ignoring request for %s\n", name);
            return 0;
        }
        auto* stream = static_cast<Stream*>(file);
        stream->seek(0);
        texture = loadTextureStream(stream, flags);
        fileSystem()->release(file);
    }
    if (!texture) return 0;
    *object = texture;
    if (size) *size = int32_t(sizeof(Texture));
    return 1;
}

void TexturePool::unload(void*& object) {
    auto* texture = static_cast<Texture*>(object);
    if (texture && !ownedByTarget(texture)) delete texture;
    object = nullptr;
}

TexturePool::~TexturePool() = default;

void initTexturePool() {
    logf("TEXX: init\n");
    if (!thePool) thePool = new TexturePool;
    logf("TXPL: init\n");
    for (RenderTarget* t = renderTargets(); t; t = t->next)
        if (t->texture) publishRenderTexture(t);
}

void closeTexturePool() {
    if (!thePool) return;
    thePool->releaseAll();
    delete thePool;
    thePool = nullptr;
}

TexturePool* texturePool() {
    return thePool;
}

Texture* acquireTexture(const char* request, uint32_t flags) {
    if (!thePool || !request) return nullptr;
    void* object = nullptr;
    thePool->flags = flags;
    if (!thePool->acquire(request, &object, nullptr)) return nullptr;
    return static_cast<Texture*>(object);
}

void releaseTexture(Texture* texture) {
    if (thePool && texture) thePool->release(texture);
}

void publishRenderTexture(RenderTarget* target) {
    if (!thePool || !target || !target->texture) return;
    char name[80];
    snprintf(name, sizeof(name), "rtt:%s", target->name);
    thePool->insert(name, target->texture, 0);
}

void withdrawRenderTexture(RenderTarget* target) {
    if (thePool && target && target->texture) thePool->release(target->texture);
}

// ---- Glow ----

void glowImage(int32_t n, float er, float eg, float eb, float intensity, uint8_t* out) {
    float half = float(n) * 0.5f;
    float scale = intensity * 255.0f;
    const float exponents[3] = {eb, eg, er}; // stored blue, green, red
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < n; ++j) {
            float x = (float(j) - half) / half, y = (float(i) - half) / half;
            float v = 1.0f - sqrtf((x * x + y * y) * 0.5f);
            if (v < 0) v = 0;
            for (int c = 0; c < 3; ++c) {
                float value = powf(v, exponents[c]) * scale;
                int32_t channel = !(value > 0) ? 0 : value >= 255.0f ? 255 : int32_t(value);
                *out++ = uint8_t(channel);
            }
        }
    }
}

Texture* createGlowTexture(int32_t n, float er, float eg, float eb, float intensity,
                           uint32_t flags) {
    logf("TXPL: calculating glow, size %d, r %.2f, g %.2f, b %.2f, intensity %.2f\n", n, er, eg, eb,
         intensity);
    std::vector<uint8_t> image(size_t(n) * n * 3);
    glowImage(n, er, eg, eb, intensity, image.data());
    return new Texture(n, n, flags | kTextureRgb, image.data());
}

// ---- Loading a stream ----

Texture* loadTextureStream(Stream* stream, uint32_t flags) {
    int32_t start = stream->tell();
    bool declined = false;
    if (Texture* texture = readDdsTexture(stream, flags, &declined)) return texture;
    if (!declined) return nullptr;
    stream->seek(start);
    if (Texture* texture = luxLoadTexture(stream, flags)) return texture;
    stream->seek(start);
    return nullptr;
}

// ---- DDS ----

namespace {

constexpr uint32_t kDdsMagic = 0x20534444; // "DDS "
constexpr uint32_t kDdsLinearSize = 0x80000;
constexpr uint32_t kDdsPitch = 0x8;
constexpr int32_t kDdsMinDescription = 104; // through the alpha mask
constexpr int32_t kDdsMaxDescription = 128;

uint32_t fieldAt(const uint8_t* description, int32_t offset) {
    const uint8_t* p = description + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// 4 for the 32-bit form, 3 for the 24-bit form, 0 for anything else.
int32_t ddsPixelBytes(const uint8_t* d) {
    if (fieldAt(d, 72) != 32 || fieldAt(d, 80) != 0) return 0;
    uint32_t pfFlags = fieldAt(d, 76), bits = fieldAt(d, 84);
    bool rgbMasks =
        fieldAt(d, 88) == 0xFF0000 && fieldAt(d, 92) == 0xFF00 && fieldAt(d, 96) == 0xFF;
    if (!rgbMasks) return 0;
    if (pfFlags == 0x41 && bits == 32 && fieldAt(d, 100) == 0xFF000000u) return 4;
    if (pfFlags == 0x40 && bits == 24 && fieldAt(d, 100) == 0) return 3;
    return 0;
}

} // namespace

const char* parseDds(Stream* stream, DdsImage* image, bool* declined) {
    *declined = false;
    uint32_t magic = 0;
    if (stream->read(&magic, 4) != 4 || magic != kDdsMagic) {
        *declined = true;
        return nullptr;
    }
    const char* corrupted = "Raw texture file corrupted";
    uint8_t d[kDdsMaxDescription] = {};
    if (stream->read(d, 4) != 4) return corrupted;
    int32_t length = int32_t(fieldAt(d, 0));
    if (length < kDdsMinDescription || length > kDdsMaxDescription ||
        !stream->readExact(d + 4, length - 4))
        return corrupted;
    // A count of 1 (the one level) is what common tools write for a single-level file.
    if (fieldAt(d, 24) > 1) return corrupted;
    int32_t pixelBytes = ddsPixelBytes(d);
    if (!pixelBytes) return "Raw texture file has unsupported pixel format";
    uint32_t layout = fieldAt(d, 4);
    if (!(layout & (kDdsLinearSize | kDdsPitch))) return "Raw texture has strange layout flags";

    int64_t height = fieldAt(d, 8), width = fieldAt(d, 12), pitch = fieldAt(d, 16);
    int64_t rowBytes = width * pixelBytes;
    int64_t dataStart = stream->tell();
    int64_t available = int64_t(stream->size()) - dataStart;
    // Each pixel takes at least a byte of the file, which also keeps the products in range.
    if (width <= 0 || height <= 0 || width > available || height > available) return corrupted;
    bool linear = (layout & kDdsLinearSize) != 0;
    if (!linear && pitch < rowBytes) return corrupted;
    int64_t needed = linear ? rowBytes * height : pitch * (height - 1) + rowBytes;
    if (needed > available) return corrupted;

    image->width = int32_t(width);
    image->height = int32_t(height);
    image->pixelBytes = pixelBytes;
    image->pixels.assign(size_t(rowBytes * height), 0);
    if (linear) {
        if (!stream->readExact(image->pixels.data(), int32_t(rowBytes * height))) return corrupted;
        return nullptr;
    }
    for (int64_t row = 0; row < height; ++row) {
        stream->seek(int32_t(dataStart + row * pitch));
        if (!stream->readExact(image->pixels.data() + row * rowBytes, int32_t(rowBytes)))
            return corrupted;
    }
    return nullptr;
}

Texture* readDdsTexture(Stream* stream, uint32_t flags, bool* declined) {
    DdsImage image;
    if (const char* error = parseDds(stream, &image, declined)) fatal("%s", error);
    if (*declined) return nullptr;
    uint32_t content = image.pixelBytes == 4 ? (kTextureRgb | kTextureAlpha) : kTextureRgb;
    return new Texture(image.width, image.height, flags | content, image.pixels.data());
}
