// Shared pieces of the two-dimensional effects (text writers, images, boxes): the screen-space
// vertex, counted references to fonts and textures that follow their properties, a dynamic
// quad buffer with a static index pattern for batched quads, and the common state blocks.
// Only the files of these effects include this header.
#pragma once

#include "effects/screenvertex_local.h"
#include "gfx/device.h"
#include "gfx/font.h"
#include "gfx/resources.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/gpu/gpu.h"

#include <cstdint>

namespace flat2d {

using effects::kScreenFvf;
using effects::ScreenVertex;

inline ScreenVertex screenVertex(float x, float y, uint32_t colour, float u = 0, float v = 0) {
    return ScreenVertex{x, y, 0.5f, 0.5f, colour, u, v, u, v};
}

// min(255, truncate(f x 255)), and 0 for negative or NaN amounts.
uint32_t alphaByte(float fade);

// A font named by a property: a ".fn2" file name through the font-file cache (so
// "lux32.fn2|res:200" alternatives work), anything else as a run-time font description
// ("Arial|48|1|0"). The reference held before is released; a missing font leaves it null.
struct FontRef {
    BitmapFont* font = nullptr;
    void set(const char* name);
    void release();
    ~FontRef() { release(); }
};

// A texture named by a property, from the texture pool.
struct TextureRef {
    Texture* texture = nullptr;
    void set(const char* request, uint32_t flags = kTextureMipMaps);
    void release();
    ~TextureRef() { release(); }
};

// Quads drawn in batches: a dynamic vertex slice of batch x 4 vertices and a static index
// slice of the 0 1 2 0 2 3 pattern, both made on first use (instances also exist where no
// device does: dry parses). Fill with `begin`/`add`, `finish` draws what is pending.
class QuadBatch {
  public:
    explicit QuadBatch(uint32_t quadsPerBatch) : capacity(quadsPerBatch) {}
    ~QuadBatch();
    QuadBatch(const QuadBatch&) = delete;
    QuadBatch& operator=(const QuadBatch&) = delete;
    // Vertex format of the quads; ScreenVertex unless told otherwise. Before the first add.
    void setFormat(uint32_t fvfCode, uint32_t vertexBytes);
    // Four vertices of vertexBytes each, in fan order.
    void add(const void* fourVertices);
    void finish();
    uint32_t drawCalls = 0; // draws issued since creation (benchmarks)

  private:
    bool ready();
    uint32_t capacity;
    uint32_t fvf = kScreenFvf, stride = sizeof(ScreenVertex);
    GeometrySlice vertices;
    IndexSlice indices;
    bool made = false, failed = false;
    uint8_t* cursor = nullptr;
    uint32_t pending = 0;
};

// Four screen vertices (a fan, or a strip) from a dynamic slice made on first use.
class ScreenFan {
  public:
    ~ScreenFan();
    void draw(const ScreenVertex (&fan)[4], D3DPRIMITIVETYPE type = D3DPT_TRIANGLEFAN);

  private:
    GeometrySlice quad;
    bool made = false;
};

// Stage 0 texture x diffuse in colour and alpha, no depth test, no culling, source-alpha
// blending onto the destination with destBlend.
void textureBlendStates(uint32_t destBlend);
// Text over what is there: device defaults, then glyph coverage x diffuse alpha blended with
// source alpha / inverse source alpha, no depth test. Without these a print shows the glyph
// cells as solid boxes (the default alpha is the diffuse alone).
void textStates();
// Clamped addressing and point mip filtering on stage 0.
void clampedPointMips();

// Logs a message once per flag (the effect keeps the flag).
void logOnce(bool* logged, const char* message);

} // namespace flat2d
