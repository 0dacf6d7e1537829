// "torusfader": a flat-shaded grid of 40 x 16 cells over the viewport whose levels run through
// a table of random values with cosine interpolation; "fade" pulls every cell towards "col",
// so that fade 1 covers the viewport in one level (black below 128, white above).
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/screenfx_local.h"

#include <algorithm>

namespace {

using namespace screenfx;

constexpr int32_t kColumns = 40, kRows = 16;
constexpr int32_t kVertices = kColumns * kRows * 6; // two triangles per cell

struct ColourVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
};
constexpr uint32_t kColourFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

class TorusfaderEffect : public Effect {
  public:
    TorusfaderEffect() {
        uint32_t state = 0x544F5255u;
        for (uint8_t& level : levels) {
            state = state * 1664525u + 1013904223u;
            level = uint8_t(state >> 24);
        }
    }
    ~TorusfaderEffect() override { cells.release(); }
    void render(uint32_t time, uint32_t) override {
        const Viewport& view = currentViewport();
        auto* v = static_cast<ColourVertex*>(cells.lock(kColourFvf, kVertices));
        if (!v) return;
        double seconds = double(time) / 65536.0;
        float cellWidth = float(view.width) / kColumns, cellHeight = float(view.height) / kRows;
        for (int32_t i = 0; i < kRows; ++i) {
            for (int32_t j = 0; j < kColumns; ++j) {
                float left = float(view.left) + float(j) * cellWidth - 0.5f;
                float top = float(view.top) + float(i) * cellHeight - 0.5f;
                float right = left + cellWidth, bottom = top + cellHeight;
                uint32_t colour = cellColour(i, j, seconds);
                // Both triangles begin at the cell's own corner, whose colour flat shading uses.
                v[0] = {left, top, 0.5f, 0.5f, colour};
                v[1] = {right, top, 0.5f, 0.5f, colour};
                v[2] = {right, bottom, 0.5f, 0.5f, colour};
                v[3] = {left, top, 0.5f, 0.5f, colour};
                v[4] = {right, bottom, 0.5f, 0.5f, colour};
                v[5] = {left, bottom, 0.5f, 0.5f, colour};
                v += 6;
            }
        }
        cells.slice.unlock();
        blendStates(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
        setRenderState(D3DRS_ZENABLE, 0);
        setRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
        setTexture(0, nullptr);
        setVertexShader(kColourFvf);
        drawPrimitive(D3DPT_TRIANGLELIST, cells.slice.use(), kVertices / 3);
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "col") == 0)
            target = parseIntValue(value);
        else if (strcmp(name, "fade") == 0)
            fade = finiteOr(parseScalar(value), fade, "torusfader", name);
    }

  private:
    // Black with alpha 255 - 2m below level 128, white with alpha 2m - 255 above.
    uint32_t cellColour(int32_t i, int32_t j, double seconds) const {
        double f = double(i ^ j) * 0.07 + 3.0 * seconds;
        double n = floor(f);
        double w = (1.0 - cos((f - n) * 3.141592653589793)) * 0.5;
        auto index = uint32_t(int64_t(fmod(n, 256.0) + 256.0) & 255);
        double a = levels[index], b = levels[(index + 1) & 255];
        double level = a + (b - a) * w;
        int32_t m = std::clamp(truncToInt(level + (double(target) - level) * double(fade)), 0, 255);
        if (m < 128) return uint32_t(255 - 2 * m) << 24;
        return uint32_t(2 * m - 255) << 24 | 0xFFFFFF;
    }

    uint8_t levels[256] = {}; // random levels, made at creation
    int32_t target = 0;       // "col": the level that fade 1 reaches
    float fade = 0;
    LazySlice cells;
};

} // namespace

const EffectClass torusfaderEffectClass = {"torusfader", nullptr, nullptr,
                                           createEffectOf<TorusfaderEffect>,
                                           recreateEffectOf<TorusfaderEffect>};
