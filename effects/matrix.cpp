// "matrix": columns of glyphs falling over a character grid. Stripes run down a column,
// lighting the cells they pass (level 8, the head 15 with a fresh glyph), then a second pass
// from the top darkens the column again (level 0, its head 2). Cells are drawn as textured
// quads through the world, view and projection transforms, all cells in a few indexed draws.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/flat2d_local.h"
#include "platform/log.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Grid caps: a larger grid is cut to these (a cell is four vertices, drawn in batches).
constexpr int32_t kMaxSide = 1024;
constexpr int32_t kMaxCells = 65536;
constexpr int32_t kMaxStripes = 4096;
constexpr uint32_t kBatchCells = 2048;
constexpr int32_t kWarmUpSteps = 100;

struct CellVertex {
    float x, y, z;
    uint32_t diffuse;
    float u, v;
};
constexpr uint32_t kCellFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct Stripe {
    bool running = false;
    int32_t column = 0;
    float position = 0; // rows; past the bottom the clearing pass (position - rows)
    float speed = 1;    // rows per unit of simulation
};

class MatrixEffect : public Effect {
  public:
    MatrixEffect() { cells.setFormat(kCellFvf, sizeof(CellVertex)); }
    void render(uint32_t time, uint32_t) override {
        if (!glyphs.texture) fatal("Matrix effect used without font!");
        if (cols != builtCols || rows != builtRows || stripeCount != builtStripes) rebuild();
        uint32_t dt = firstFrame ? 0 : time - previousTime;
        if (dt > 65536) dt = 0;
        firstFrame = false;
        previousTime = time;
        step(float(dt) * speed / 3000.0f);
        if (fade != 0) draw();
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "font") == 0)
            glyphs.set(value);
        else if (strcmp(name, "cols") == 0 || strcmp(name, "columns") == 0)
            cols = parseIntValue(value);
        else if (strcmp(name, "rows") == 0)
            rows = parseIntValue(value);
        else if (strcmp(name, "stripes") == 0)
            stripeCount = parseIntValue(value);
        else if (strcmp(name, "speed") == 0)
            speed = parseScalar(value);
        else if (strcmp(name, "fade") == 0)
            fade = parseScalar(value);
        else if (strcmp(name, "opaque") == 0)
            opaque = parseIntValue(value) != 0;
    }

  private:
    uint32_t random() {
        seed = seed * 214013u + 2531011u;
        return seed >> 16 & 0x7FFF;
    }
    uint32_t wideRandom() { return random() << 15 | random(); }
    void rebuild() {
        builtCols = cols;
        builtRows = rows;
        builtStripes = stripeCount;
        gridCols = std::clamp(cols, 1, kMaxSide);
        gridRows = std::clamp(rows, 1, std::min(kMaxSide, kMaxCells / gridCols));
        if (cols != gridCols || rows != gridRows)
            logf("EFCT: matrix grid %d x %d cut to %d x %d\n", cols, rows, gridCols, gridRows);
        glyph.assign(size_t(gridCols) * gridRows, 0);
        level.assign(glyph.size(), 0);
        for (uint8_t& c : glyph)
            c = uint8_t(random() & 127);
        stripes.assign(size_t(std::clamp(stripeCount, 0, kMaxStripes)), Stripe());
        for (int32_t i = 0; i < kWarmUpSteps; ++i)
            step(1);
    }
    void mark(int32_t column, int32_t row, uint8_t value, bool newGlyph) {
        if (row < 0 || row >= gridRows) return;
        size_t cell = size_t(row) * gridCols + size_t(column);
        level[cell] = value;
        if (newGlyph) glyph[cell] = uint8_t(random() & 127);
    }
    void moveStripe(Stripe& stripe, float x) {
        float a = stripe.position, b = a + x * stripe.speed;
        int32_t from = int32_t(a), to = int32_t(b);
        if (from < gridRows) {
            for (int32_t row = from; row <= std::min(to, gridRows - 1); ++row)
                mark(stripe.column, row, 8, false);
            mark(stripe.column, to, 15, true);
            stripe.position = std::min(b, float(gridRows));
            return;
        }
        for (int32_t row = from - gridRows; row <= std::min(to - gridRows, gridRows - 1); ++row)
            mark(stripe.column, row, 0, false);
        mark(stripe.column, to - gridRows, 2, false);
        stripe.position = b;
        if (int32_t(b) >= 2 * gridRows) stripe.running = false;
    }
    void step(float x) {
        // A stripe never needs more than one pass over the column and back in one step.
        if (!(x >= 0)) x = 0;
        x = std::min(x, 4.0f * float(gridRows));
        for (Stripe& stripe : stripes) {
            if (stripe.running) {
                moveStripe(stripe, x);
            } else if ((random() & 7) == 0) {
                stripe.running = true;
                stripe.position = 0;
                stripe.column = int32_t(random() % uint32_t(gridCols));
                stripe.speed = 1 + float(random() & 255) / 200.0f;
            }
        }
        int32_t changes = gridCols * gridRows / 50;
        for (int32_t i = 0; i < changes; ++i)
            glyph[wideRandom() % glyph.size()] = uint8_t(random() & 127);
    }
    void setStates() const {
        resetDeviceState();
        flat2d::textureBlendStates(opaque ? D3DBLEND_INVSRCALPHA : D3DBLEND_ONE);
        flat2d::clampedPointMips();
        D3DMATRIX view, projection;
        view.m[3][0] = -0.5f;
        view.m[3][1] = -0.5f;
        const float zNear = 0.001f, zFar = 1.0f, q = zFar / (zFar - zNear);
        projection.m[1][1] = -1;
        projection.m[2][2] = q;
        projection.m[2][3] = 1;
        projection.m[3][2] = -q * zNear;
        projection.m[3][3] = 0;
        setTransform(D3DTS_VIEW, view);
        setTransform(D3DTS_PROJECTION, projection);
    }
    void draw() {
        setStates();
        bindTexture(0, glyphs.texture);
        uint32_t alpha = flat2d::alphaByte(fade) << 24;
        float du = 1.0f / 16, dv = 1.0f / 8;
        for (int32_t j = 0; j < gridRows; ++j)
            for (int32_t i = 0; i < gridCols; ++i) {
                size_t cell = size_t(j) * gridCols + size_t(i);
                uint32_t c = glyph[cell], colour = alpha | level[cell] * 0x111111u;
                float u = (float(c % 16) * 16 + 0.5f) / 256, v = (float(c / 16) * 16 + 0.5f) / 128;
                float x0 = float(i) / float(gridCols), x1 = float(i + 1) / float(gridCols);
                float y0 = float(j) / float(gridRows), y1 = float(j + 1) / float(gridRows);
                CellVertex quad[4] = {{x0, y0, 0.5f, colour, u, v},
                                      {x1, y0, 0.5f, colour, u + du, v},
                                      {x1, y1, 0.5f, colour, u + du, v + dv},
                                      {x0, y1, 0.5f, colour, u, v + dv}};
                for (CellVertex& vertex : quad)
                    glyphs.texture->mapNormalized(vertex.u, vertex.v, &vertex.u, &vertex.v);
                cells.add(quad);
            }
        cells.finish();
    }

    flat2d::TextureRef glyphs; // 256 x 128: 128 glyphs of 16 x 16, 16 per row
    flat2d::QuadBatch cells{kBatchCells};
    int32_t cols = 80, rows = 60, stripeCount = 100;
    int32_t builtCols = -1, builtRows = -1, builtStripes = -1; // as last built
    int32_t gridCols = 0, gridRows = 0;                        // capped sizes in use
    float speed = 1, fade = 1;
    bool opaque = true;
    std::vector<uint8_t> glyph, level; // per cell, row after row
    std::vector<Stripe> stripes;
    uint32_t seed = 1;
    uint32_t previousTime = 0;
    bool firstFrame = true;
};

} // namespace

const EffectClass matrixEffectClass = {"matrix", nullptr, nullptr, createEffectOf<MatrixEffect>,
                                       recreateEffectOf<MatrixEffect>};
