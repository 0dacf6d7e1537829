// "motionblur": blends a render target over the current one with an alpha that depends on the
// time since the last frame, so that the old picture fades with a given half-life.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/screenfx_local.h"

#include <algorithm>

namespace {

using namespace screenfx;

// The time of the last motion-blur frame, one for all instances.
uint32_t previousBlurTime = 0;

class MotionblurEffect : public Effect {
  public:
    ~MotionblurEffect() override {
        quad.release();
        source.drop();
    }
    void render(uint32_t time, uint32_t) override {
        int64_t dt = std::max<int64_t>(0, int64_t(time) - int64_t(previousBlurTime));
        previousBlurTime = time;
        Texture* texture = source.get();
        if (!texture) return;
        double kept = pow(0.5, double(dt) / 65536.0 / double(halfLife));
        uint32_t c = uint32_t(std::min(255, truncToInt(kept * 256.0)));
        blendStates(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
        bindTexture(0, texture);
        float u = 1, v = 1;
        texture->mapNormalized(1, 1, &u, &v);
        if (loose) u -= 0.01f, v -= 0.01f;
        const Viewport& view = currentViewport();
        auto* vertices = static_cast<ScreenVertex*>(quad.lock(kScreenFvf, 4));
        if (!vertices) return;
        fillQuad(vertices, float(view.left), float(view.top), float(view.right), float(view.bottom),
                 (255 - c) << 24 | 0xFFFFFF, 0, 0, u, v);
        quad.slice.unlock();
        setVertexShader(kScreenFvf);
        drawPrimitive(D3DPT_TRIANGLEFAN, quad.slice.use(), 2);
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "source") == 0) {
            source.set(value);
        } else if (strcmp(name, "half-life") == 0) {
            float seconds = parseScalar(value);
            if (seconds > 0 && std::isfinite(seconds))
                halfLife = seconds;
            else
                logf("EFCT: motionblur: half-life %s refused; kept %g\n", value, double(halfLife));
        } else if (strcmp(name, "ungenau") == 0) {
            loose = parseIntValue(value) != 0;
        }
    }

  private:
    SourceTexture source;
    float halfLife = 0.25f; // seconds, > 0
    bool loose = false;     // far texture edges pulled in by 0.01
    LazySlice quad;
};

} // namespace

const EffectClass motionblurEffectClass = {"motionblur", nullptr, nullptr,
                                           createEffectOf<MotionblurEffect>,
                                           recreateEffectOf<MotionblurEffect>};
