// Bitmap fonts: ".fn2" files, the two font caches, measuring and drawing.
// Rendering with FreeType and the font tool are in fontrender.cpp.
//
// Sections: files; caches; pen walk (measuring); drawing; one-line image.
#include "gfx/font.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "gfx/device.h"
#include "gfx/resources.h"
#include "gfx/texture.h"
#include "platform/config.h"
#include "platform/log.h"
#include "platform/values.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

// ---- Files ----

namespace {

constexpr size_t kHeaderBytes = 24;
constexpr size_t kGlyphBytes = 20;
constexpr size_t kSurfaceOffset = kHeaderBytes + 256 * kGlyphBytes; // 5144
// Surfaces never grow past 2048 on a side.
constexpr uint32_t kMaxSurfaceSide = 4096;

uint32_t readU32At(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

float readF32At(const uint8_t* p) {
    uint32_t bits = readU32At(p);
    float value;
    memcpy(&value, &bits, 4);
    return value;
}

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

void putF32(std::vector<uint8_t>& out, float value) {
    uint32_t bits;
    memcpy(&bits, &value, 4);
    putU32(out, bits);
}

bool finite(float value) {
    return std::isfinite(value);
}

} // namespace

bool parseFontFile(const uint8_t* bytes, size_t size, BitmapFont* font) {
    if (size < kSurfaceOffset || memcmp(bytes, "FNT2", 4) != 0) return false;
    uint32_t width = readU32At(bytes + 4), height = readU32At(bytes + 8);
    if (width == 0 || height == 0 || width > kMaxSurfaceSide || height > kMaxSurfaceSide ||
        size - kSurfaceOffset < size_t(width) * height)
        return false;
    BitmapFont parsed;
    parsed.surfaceWidth = int32_t(width);
    parsed.surfaceHeight = int32_t(height);
    parsed.underlineOffset = readF32At(bytes + 12);
    parsed.underlineThickness = readF32At(bytes + 16);
    parsed.scale = readF32At(bytes + 20);
    if (!finite(parsed.underlineOffset) || !finite(parsed.underlineThickness) ||
        !finite(parsed.scale))
        return false;
    for (int i = 0; i < 256; ++i) {
        const uint8_t* r = bytes + kHeaderBytes + i * kGlyphBytes;
        Glyph& g = parsed.glyphs[i];
        g.x = uint16_t(r[0] | r[1] << 8);
        g.y = uint16_t(r[2] | r[3] << 8);
        g.a = readF32At(r + 4);
        g.b = readF32At(r + 8);
        g.c = readF32At(r + 12);
        g.height = readF32At(r + 16);
        if (!finite(g.a) || !finite(g.b) || !finite(g.c) || !finite(g.height)) return false;
    }
    float lineHeight = parsed.glyphs[int('A')].height;
    if (!(lineHeight >= 0 && lineHeight < 65536)) return false;
    parsed.lineHeight = int32_t(lineHeight);
    parsed.surface.assign(bytes + kSurfaceOffset, bytes + kSurfaceOffset + size_t(width) * height);
    *font = std::move(parsed);
    return true;
}

bool readFontFile(Stream* stream, BitmapFont* font) {
    int32_t size = stream->size() - stream->tell();
    if (size < int32_t(kSurfaceOffset)) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!stream->readExact(bytes.data(), size)) return false;
    if (!parseFontFile(bytes.data(), bytes.size(), font)) return false;
    createFontTexture(font);
    return true;
}

bool writeFontFile(const BitmapFont& font, Stream* stream) {
    std::vector<uint8_t> out;
    out.reserve(kSurfaceOffset + font.surface.size());
    out.insert(out.end(), {'F', 'N', 'T', '2'});
    putU32(out, uint32_t(font.surfaceWidth));
    putU32(out, uint32_t(font.surfaceHeight));
    putF32(out, font.underlineOffset);
    putF32(out, font.underlineThickness);
    putF32(out, font.scale);
    for (const Glyph& g : font.glyphs) {
        out.push_back(uint8_t(g.x));
        out.push_back(uint8_t(g.x >> 8));
        out.push_back(uint8_t(g.y));
        out.push_back(uint8_t(g.y >> 8));
        putF32(out, g.a);
        putF32(out, g.b);
        putF32(out, g.c);
        putF32(out, g.height);
    }
    out.insert(out.end(), font.surface.begin(), font.surface.end());
    return stream->writeExact(out.data(), int32_t(out.size())) == 1;
}

void createFontTexture(BitmapFont* font) {
    if (!font->texture)
        font->texture = new Texture(font->surfaceWidth, font->surfaceHeight, kFontTextureFlags,
                                    font->surface.data());
    for (Glyph& g : font->glyphs)
        font->texture->mapPixel(g.x, g.y, &g.u, &g.v);
}

void freeFont(BitmapFont* font) {
    delete font->texture;
    font->texture = nullptr;
    font->surface.clear();
}

// ---- Caches ----

namespace gfx {
namespace {

class FontFileCache : public NamedCache {
  public:
    int32_t load(const char* name, void** object, int32_t* size) override {
        void* file = nullptr;
        if (!fileSystem() || !fileSystem()->acquire(name, &file, nullptr) || !file) return 0;
        auto* stream = static_cast<Stream*>(file);
        stream->seek(0);
        auto* font = new BitmapFont;
        bool ok = readFontFile(stream, font);
        fileSystem()->release(file);
        if (!ok) {
            logf("FONT: warning: %s is no font file\n", name);
            delete font;
            return 0;
        }
        *object = font;
        if (size) *size = 4;
        return 1;
    }
    void unload(void*& object) override {
        auto* font = static_cast<BitmapFont*>(object);
        if (font) freeFont(font);
        delete font;
        object = nullptr;
    }
    ~FontFileCache() override = default;
};

// Read as a property number; an empty field keeps the default.
int32_t descriptionNumber(const std::string& field, int32_t fallback) {
    return field.empty() ? fallback : parseIntValue(field.c_str());
}

class RenderedFontCache : public NamedCache {
  public:
    int32_t load(const char* name, void** object, int32_t* size) override {
        std::string fields[4];
        int field = 0;
        for (const char* p = name; *p; ++p) {
            if (*p == '|') {
                if (++field == 4) break;
                continue;
            }
            fields[field] += *p;
        }
        int32_t fontSize = descriptionNumber(fields[1], 32);
        auto* font = new BitmapFont;
        if (!renderFont(fields[0].c_str(), fontSize, descriptionNumber(fields[2], 0) != 0,
                        descriptionNumber(fields[3], 0) != 0, true, font)) {
            delete font;
            return 0;
        }
        createFontTexture(font);
        *object = font;
        if (size) *size = font->surfaceWidth * font->surfaceHeight;
        return 1;
    }
    void unload(void*& object) override {
        auto* font = static_cast<BitmapFont*>(object);
        if (font) freeFont(font);
        delete font;
        object = nullptr;
    }
    ~RenderedFontCache() override = default;
};

FontFileCache* fileCache = nullptr;
RenderedFontCache* renderedCache = nullptr;

// The text drawer's shared buffers: 16 quads per batch.
constexpr uint32_t kBatchQuads = 16;
constexpr uint32_t kTextFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;
VertexBuffer textVertices;
IndexBuffer textIndices;
bool textBuffersMade = false;

void closeTextBuffers() {
    if (!textBuffersMade) return;
    if (hasResourceManager()) {
        textVertices.destroy();
        textIndices.destroy();
    }
    textVertices = VertexBuffer{};
    textIndices = IndexBuffer{};
    textBuffersMade = false;
}

} // namespace
} // namespace gfx

using namespace gfx;

void initFontPool() {
    if (!fileCache) fileCache = new FontFileCache;
    if (!renderedCache) renderedCache = new RenderedFontCache;
}

void closeFontPool() {
    closeTextBuffers();
    for (NamedCache* cache :
         {static_cast<NamedCache*>(fileCache), static_cast<NamedCache*>(renderedCache)})
        if (cache) cache->releaseAll();
    delete fileCache;
    delete renderedCache;
    fileCache = nullptr;
    renderedCache = nullptr;
}

void keepUnusedFonts(bool keep) {
    for (NamedCache* cache :
         {static_cast<NamedCache*>(fileCache), static_cast<NamedCache*>(renderedCache)})
        if (cache) cache->keepUnused(keep);
}

BitmapFont* acquireFontFile(const char* name) {
    void* object = nullptr;
    if (!fileCache || !name || !fileCache->acquire(name, &object, nullptr)) return nullptr;
    return static_cast<BitmapFont*>(object);
}

BitmapFont* acquireFont(const char* request) {
    void* object = nullptr;
    if (!renderedCache || !request || !renderedCache->acquire(request, &object, nullptr))
        return nullptr;
    return static_cast<BitmapFont*>(object);
}

void releaseFont(BitmapFont* font) {
    if (!font) return;
    // An object is in one cache only; the other ignores it.
    if (fileCache) fileCache->release(font);
    if (renderedCache) renderedCache->release(font);
}

int32_t fontCacheCount() {
    return (fileCache ? fileCache->count() : 0) + (renderedCache ? renderedCache->count() : 0);
}

// ---- Pen walk ----

namespace {

// Screen height over the preferred height: text keeps its share of the screen.
float screenRatio() {
    float height = float(screenHeight() > 0 ? screenHeight() : 1);
    return height / preferredHeight();
}

float textScale(const BitmapFont* font, float sizeFactor) {
    return sizeFactor * font->scale * screenRatio();
}

float tabStop() {
    return 24.0f * screenRatio();
}

// The pen after a tab: the next stop after it, measured from the line's start.
float nextTabStop(float pen, float lineStart) {
    float stop = tabStop();
    if (stop <= 0) return pen;
    return lineStart + (std::floor((pen + 0.1f - lineStart) / stop) + 1) * stop;
}

float advanceOf(const BitmapFont* font, uint8_t code, float m) {
    const Glyph& g = font->glyphs[code];
    return m * (g.a + g.b + g.c);
}

// Advance after a character other than tab and line feed.
float spacingAfter(const BitmapFont* font, const uint8_t* next, int32_t remaining, float m,
                   float spacing) {
    return remaining > 0 && *next > 31 ? m * float(font->lineHeight) * spacing : 0.0f;
}

int32_t textLength(const char* text, int32_t limit) {
    int32_t length = int32_t(strlen(text));
    return limit >= 0 && limit < length ? limit : length;
}

// Width of the line that starts at `text` (up to a line feed or the end).
float lineWidth(const BitmapFont* font, const uint8_t* text, int32_t length, float m,
                float spacing) {
    float pen = 0;
    for (int32_t i = 0; i < length && text[i] != '\n'; ++i) {
        if (text[i] == '\t') {
            pen = nextTabStop(pen, 0);
            continue;
        }
        pen += advanceOf(font, text[i], m);
        pen += spacingAfter(font, text + i + 1, length - i - 1, m, spacing);
    }
    return pen;
}

float alignedStart(const BitmapFont* font, float x, const uint8_t* line, int32_t length, float m,
                   float spacing) {
    if (font->alignment == 0) return x;
    float width = lineWidth(font, line, length, m, spacing);
    return font->alignment == 2 ? x - width : x - width * 0.5f;
}

} // namespace

float measureText(const BitmapFont* font, const char* text, float sizeFactor, float spacing,
                  int32_t limit) {
    if (!font || !text) return 0;
    float m = textScale(font, sizeFactor), widest = 0;
    auto* bytes = reinterpret_cast<const uint8_t*>(text);
    int32_t length = textLength(text, limit);
    for (int32_t start = 0; start <= length;) {
        widest = std::max(widest, lineWidth(font, bytes + start, length - start, m, spacing));
        const void* feed = memchr(bytes + start, '\n', size_t(length - start));
        if (!feed) break;
        start = int32_t(static_cast<const uint8_t*>(feed) - bytes) + 1;
    }
    return widest;
}

float textHeight(const BitmapFont* font, const char* text, float sizeFactor, int32_t limit) {
    if (!font || !text) return 0;
    int32_t lines = 1, length = textLength(text, limit);
    for (int32_t i = 0; i < length; ++i)
        lines += text[i] == '\n';
    return float(lines) * textScale(font, sizeFactor) * float(font->lineHeight);
}

void textLayout(const BitmapFont* font, const char* text, float sizeFactor, float spacing,
                float* startOffset, float* endOffset, float* height) {
    float width = measureText(font, text, sizeFactor, spacing);
    int32_t alignment = font ? font->alignment : 0;
    *startOffset = alignment == 0 ? 0 : alignment == 1 ? -width * 0.5f : -width;
    *endOffset = alignment == 0 ? width : alignment == 1 ? width * 0.5f : 0;
    *height = textHeight(font, text, sizeFactor);
}

void setFontUnderline(BitmapFont* font, bool on) {
    if (font) font->underline = on;
}

void setFontAlignment(BitmapFont* font, int32_t alignment) {
    if (font) font->alignment = alignment;
}

// ---- Drawing ----

namespace {

struct TextVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
    float u0, v0, u1, v1;
};

struct TextBatch {
    BitmapFont* font = nullptr;
    D3DCOLOR colour = 0;
    uint32_t quads = 0;
    TextVertex* vertices = nullptr;
};

void makeTextBuffers() {
    if (textBuffersMade) return;
    textVertices.create(kTextFvf, kBatchQuads * 4, true, true);
    textIndices.create(kBatchQuads * 6, false, false, false);
    if (auto* index = static_cast<uint16_t*>(textIndices.lock(0, -1, kLockNormal))) {
        for (uint16_t q = 0; q < kBatchQuads; ++q) {
            const uint16_t quad[6] = {0, 1, 2, 0, 2, 3};
            for (int i = 0; i < 6; ++i)
                index[q * 6 + i] = uint16_t(q * 4 + quad[i]);
        }
        textIndices.unlock();
    }
    textBuffersMade = true;
}

void flushBatch(TextBatch& batch) {
    if (batch.vertices) {
        textVertices.unlock();
        batch.vertices = nullptr;
    }
    if (!batch.quads) return;
    textVertices.use();
    textIndices.use(0);
    drawIndexed(D3DPT_TRIANGLELIST, 0, batch.quads * 4, 0, batch.quads * 2);
    batch.quads = 0;
}

void addQuad(TextBatch& batch, const TextVertex (&quad)[4]) {
    if (!batch.vertices) {
        batch.vertices = static_cast<TextVertex*>(textVertices.lock(0, -1, kLockDiscard));
        if (!batch.vertices) return;
    }
    memcpy(batch.vertices + batch.quads * 4, quad, sizeof(quad));
    if (++batch.quads == kBatchQuads) flushBatch(batch);
}

void drawUnderline(TextBatch& batch, float left, float right, float penY, float m) {
    const BitmapFont* font = batch.font;
    float top = std::floor(penY + m * font->underlineOffset) - 0.5f;
    float bottom = top + std::ceil(m * font->underlineThickness);
    const TextVertex fan[4] = {
        {left, top, 0.5f, 0.5f, batch.colour, 0, 0, 0, 0},
        {right, top, 0.5f, 0.5f, batch.colour, 0, 0, 0, 0},
        {right, bottom, 0.5f, 0.5f, batch.colour, 0, 0, 0, 0},
        {left, bottom, 0.5f, 0.5f, batch.colour, 0, 0, 0, 0},
    };
    bindTexture(0, nullptr);
    drawFanUP(fan, 4, kTextFvf);
    bindTexture(0, font->texture);
}

void addGlyph(TextBatch& batch, const Glyph& g, float penX, float penY, float m) {
    const BitmapFont* font = batch.font;
    float exactLeft = penX + m * g.a;
    float left = std::floor(exactLeft) - 0.5f, top = std::floor(penY) - 0.5f;
    float width = m * (g.b + 1), height = m * g.height;
    if (left + width < 0 || left >= float(screenWidth())) return;
    float sw = float(font->surfaceWidth), sh = float(font->surfaceHeight);
    float u = g.u - (exactLeft - std::floor(exactLeft)) / (m * sw);
    float v = g.v - (penY - std::floor(penY)) / (m * sh);
    float du = (g.b + 1) / sw, dv = g.height / sh;
    D3DCOLOR c = batch.colour;
    const TextVertex quad[4] = {
        {left, top, 0.5f, 0.5f, c, u, v, u, v},
        {left + width, top, 0.5f, 0.5f, c, u + du, v, u + du, v},
        {left + width, top + height, 0.5f, 0.5f, c, u + du, v + dv, u + du, v + dv},
        {left, top + height, 0.5f, 0.5f, c, u, v + dv, u, v + dv},
    };
    addQuad(batch, quad);
}

} // namespace

void drawText(BitmapFont* font, float x, float y, const char* text, float sizeFactor,
              D3DCOLOR colour, float spacing) {
    if (!font || !text || !hasDevice()) return;
    makeTextBuffers();
    float m = textScale(font, sizeFactor);
    auto* bytes = reinterpret_cast<const uint8_t*>(text);
    int32_t length = int32_t(strlen(text));
    TextBatch batch{font, colour, 0, nullptr};
    bindTexture(0, font->texture);
    float lineStart = alignedStart(font, x, bytes, length, m, spacing);
    float penX = lineStart, penY = y;
    for (int32_t i = 0; i < length; ++i) {
        uint8_t code = bytes[i];
        if (code == '\t') {
            penX = nextTabStop(penX, lineStart);
            continue;
        }
        if (code == '\n') {
            flushBatch(batch);
            if (font->underline) drawUnderline(batch, lineStart, penX, penY, m);
            penY += m * float(font->lineHeight);
            lineStart = alignedStart(font, x, bytes + i + 1, length - i - 1, m, spacing);
            penX = lineStart;
            continue;
        }
        if (code > 32) addGlyph(batch, font->glyphs[code], penX, penY, m);
        penX += advanceOf(font, code, m);
        penX += spacingAfter(font, bytes + i + 1, length - i - 1, m, spacing);
    }
    flushBatch(batch);
    if (font->underline) drawUnderline(batch, lineStart, penX, penY, m);
}

// ---- One-line image ----

std::vector<uint8_t> renderTextLine(const BitmapFont* font, const char* text, int32_t* width,
                                    int32_t* height) {
    *width = *height = 0;
    if (!font || !text) return {};
    float m = textScale(font, 1.0f);
    int32_t w = int32_t(measureText(font, text, 1.0f, 0.0f)), h = font->lineHeight;
    if (w <= 0 || h <= 0) return {};
    std::vector<uint8_t> image(size_t(w) * h, 0);
    float pen = 0;
    auto* bytes = reinterpret_cast<const uint8_t*>(text);
    for (size_t i = 0; bytes[i] && bytes[i] != '\n'; ++i) {
        const Glyph& g = font->glyphs[bytes[i]];
        if (bytes[i] > 32) {
            int32_t left = int32_t(std::floor(pen + m * g.a));
            int32_t columns = int32_t(g.b) + 1, rows = std::min(h, int32_t(g.height));
            for (int32_t row = 0; row < rows; ++row)
                for (int32_t col = 0; col < columns; ++col) {
                    int32_t sx = g.x + col, sy = g.y + row, dx = left + col;
                    if (sx >= font->surfaceWidth || sy >= font->surfaceHeight || dx < 0 || dx >= w)
                        continue;
                    uint8_t& out = image[size_t(row) * w + dx];
                    out = std::max(out, font->surface[size_t(sy) * font->surfaceWidth + sx]);
                }
        }
        pen += advanceOf(font, bytes[i], m);
    }
    *width = w;
    *height = h;
    return image;
}

void setTextOverlayStates() {
    resetDeviceState();
    setRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    setStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    setStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    setStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}
