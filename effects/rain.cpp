// "rain": 1000 falling streaks in the cube from -1 to 1, seen through a fixed camera in front
// of it. Each streak shows the "source" target where it falls, a little above, plus a pale
// colour of its own, so that the picture behind seems to run down in drops.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/screenfx_local.h"

#include <algorithm>
#include <vector>

namespace {

using namespace screenfx;

constexpr int32_t kParticles = 1000;
constexpr int32_t kVertices = kParticles * 6;
constexpr float kCamera = 2.0f;                 // the camera looks along +z from z = -kCamera
constexpr float kStreakLength = 0.09f;          // in cube units
constexpr float kRefraction = 0.04f;            // sampled this fraction of the viewport above
constexpr uint32_t kStreakColour = 0x70283038u; // alpha and a pale blue grey

struct Drop {
    float x, y, z; // start in the cube
    float speed;   // cube units per second, downwards
};

class RainEffect : public Effect {
  public:
    RainEffect() : drops(kParticles) {
        for (Drop& drop : drops)
            drop = {unit(), unit(), unit(), 1.2f + 0.4f * (unit() + 1.0f)};
    }
    ~RainEffect() override {
        streaks.release();
        source.drop();
    }
    void render(uint32_t time, uint32_t) override;
    void set(const char* name, const char* value) override {
        if (strcmp(name, "source") == 0) source.set(value);
    }

  private:
    float unit() { // -1 ... 1
        state = state * 1664525u + 1013904223u;
        return float(state >> 8) / float(1 << 23) - 1.0f;
    }

    std::vector<Drop> drops;
    uint32_t state = 0x5241494Eu;
    SourceTexture source;
    LazySlice streaks;
};

void RainEffect::render(uint32_t time, uint32_t) {
    Texture* texture = source.get();
    if (!texture) return;
    const Viewport& view = currentViewport();
    if (view.width <= 0 || view.height <= 0) return;
    auto* v = static_cast<ScreenVertex*>(streaks.lock(kScreenFvf, kVertices));
    if (!v) return;
    double seconds = double(time) / 65536.0;
    float focal = float(view.width) * 0.5f;
    float cx = float(view.left) + float(view.width) * 0.5f;
    float cy = float(view.top) + float(view.height) * 0.5f;
    for (const Drop& drop : drops) {
        float fallen = float(fmod(double(drop.y) + 1.0 + seconds * double(drop.speed), 2.0));
        float y = fallen - 1.0f, depth = drop.z + kCamera;
        float x = cx + drop.x * focal / depth;
        float bottom = cy + y * focal / depth, top = bottom - kStreakLength * focal / depth;
        float half = std::max(0.5f, 1.2f / depth);
        float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
        texture->mapNormalized((x - half - float(view.left)) / float(view.width),
                               (top - float(view.top)) / float(view.height) - kRefraction, &u0,
                               &v0);
        texture->mapNormalized((x + half - float(view.left)) / float(view.width),
                               (bottom - float(view.top)) / float(view.height) - kRefraction, &u1,
                               &v1);
        ScreenVertex quad[4];
        fillQuad(quad, x - half, top, x + half, bottom, kStreakColour, u0, v0, u1, v1);
        const int order[6] = {0, 1, 2, 0, 2, 3};
        for (int i : order)
            *v++ = quad[i];
    }
    streaks.slice.unlock();
    blendStates(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
    setRenderState(D3DRS_ZENABLE, 0);
    const uint32_t stage[] = {D3DTSS_COLOROP,
                              D3DTOP_ADD,
                              D3DTSS_COLORARG1,
                              D3DTA_TEXTURE,
                              D3DTSS_COLORARG2,
                              D3DTA_DIFFUSE,
                              D3DTSS_ADDRESSU,
                              D3DTADDRESS_CLAMP,
                              D3DTSS_ADDRESSV,
                              D3DTADDRESS_CLAMP,
                              D3DTSS_MIPFILTER,
                              D3DTEXF_NONE,
                              0,
                              0};
    setStageStates(0, stage);
    bindTexture(0, texture);
    setVertexShader(kScreenFvf);
    drawPrimitive(D3DPT_TRIANGLELIST, streaks.slice.use(), kVertices / 3);
}

} // namespace

const EffectClass rainEffectClass = {"rain", nullptr, nullptr, createEffectOf<RainEffect>,
                                     recreateEffectOf<RainEffect>};
