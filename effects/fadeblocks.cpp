// "fadeblocks": the viewport cut into vertical stripes that flicker in brightness, each edge
// at a random speed of its own, flat shaded and added to the picture.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/screenfx_local.h"

#include <vector>

namespace {

using namespace screenfx;

constexpr int32_t kMaxBlocks = 1024; // narrower than a pixel at any screen beyond this
constexpr int32_t kDefaultBlocks = 16;

struct ColourVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
};
constexpr uint32_t kColourFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

class FadeblocksEffect : public Effect {
  public:
    FadeblocksEffect() { build(kDefaultBlocks); }
    ~FadeblocksEffect() override { stripes.release(); }
    void render(uint32_t time, uint32_t) override {
        int32_t n = int32_t(speeds.size()) - 1;
        const Viewport& view = currentViewport();
        auto* v = static_cast<ColourVertex*>(stripes.lock(kColourFvf, uint32_t(kMaxBlocks * 6)));
        if (!v) return;
        double seconds = double(time) / 65536.0;
        float width = float(view.width) / float(n);
        float top = float(view.top) - 0.5f, bottom = float(view.bottom) - 0.5f;
        for (int32_t k = 0; k < n; ++k) {
            float left = float(view.left) + float(k) * width - 0.5f, right = left + width;
            uint32_t own = edgeColour(k, seconds), next = edgeColour(k + 1, seconds);
            // Both triangles start on the left edge, whose colour flat shading takes.
            v[0] = {left, top, 0.5f, 0.5f, own};
            v[1] = {right, top, 0.5f, 0.5f, next};
            v[2] = {right, bottom, 0.5f, 0.5f, next};
            v[3] = {left, bottom, 0.5f, 0.5f, own};
            v[4] = {left, top, 0.5f, 0.5f, own};
            v[5] = {right, bottom, 0.5f, 0.5f, next};
            v += 6;
        }
        stripes.slice.unlock();
        blendStates(D3DBLEND_SRCALPHA, D3DBLEND_ONE);
        setRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
        setTexture(0, nullptr);
        setVertexShader(kColourFvf);
        drawPrimitive(D3DPT_TRIANGLELIST, stripes.slice.use(), uint32_t(n * 2));
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "blocks") == 0)
            build(clampLogged(parseIntValue(value), 1, kMaxBlocks, "fadeblocks", name));
    }

  private:
    // One random speed per stripe edge, random / 32767 + 0.1.
    void build(int32_t blocks) {
        speeds.resize(size_t(blocks) + 1);
        for (double& speed : speeds) {
            state = state * 1103515245u + 12345u;
            speed = double((state >> 16) & 0x7FFF) / 32767.0 + 0.1;
        }
    }
    uint32_t edgeColour(int32_t k, double seconds) const {
        int32_t alpha = truncToInt(sin(3.0 * seconds * speeds[size_t(k)]) * 63.0 + 191.0);
        return uint32_t(alpha) << 24 | 0x303030;
    }

    std::vector<double> speeds; // blocks + 1 edges
    uint32_t state = 1;
    LazySlice stripes;
};

} // namespace

const EffectClass fadeblocksEffectClass = {"fadeblocks", nullptr, nullptr,
                                           createEffectOf<FadeblocksEffect>,
                                           recreateEffectOf<FadeblocksEffect>};
