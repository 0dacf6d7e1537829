// "fade": one quad over the current viewport in a colour with the fade amount as alpha,
// blended over what is already there.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/screenvertex_local.h"

#include "gfx/device.h"
#include "gfx/resources.h"
#include "platform/gpu/gpu.h"

#include <algorithm>
#include <cstring>

namespace {

using effects::kScreenFvf;
using effects::ScreenVertex;

// Below this the overlay is invisible and nothing is drawn.
constexpr float kVisibleFade = 0.001f;

class FadeEffect : public Effect {
  public:
    ~FadeEffect() override {
        if (sliceReady) quad.release();
    }
    void render(uint32_t, uint32_t) override {
        if (fade < kVisibleFade) return;
        setOverlayStates();
        drawOverlay(diffuse());
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "fade") == 0)
            fade = float(parseDecimal(value));
        else if (strcmp(name, "color") == 0)
            colour = uint32_t(parseIntValue(value)) & 0xFFFFFF;
    }

  private:
    uint32_t diffuse() const {
        uint32_t alpha = uint32_t(std::min(255, truncToInt(double(fade) * 255.0)));
        return alpha << 24 | colour;
    }
    static void setOverlayStates() {
        resetDeviceState();
        setRenderState(D3DRS_ALPHABLENDENABLE, 1);
        setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        setRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
        setRenderState(D3DRS_ZWRITEENABLE, 0);
        setRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        // An untextured stage samples white, so the quad shows the diffuse colour alone.
        setTexture(0, nullptr);
    }
    // A fan of four vertices on the viewport's edges (pixel centres lie on integers).
    void drawOverlay(uint32_t colourAndAlpha) {
        // Made on first use: instances are also created where no device exists (dry parses).
        if (!sliceReady) {
            quad.create(kScreenFvf, 4, true);
            sliceReady = true;
        }
        const Viewport& view = currentViewport();
        float left = float(view.left) - 0.5f, top = float(view.top) - 0.5f;
        float right = float(view.right) - 0.5f, bottom = float(view.bottom) - 0.5f;
        auto* vertices = static_cast<ScreenVertex*>(quad.lock());
        if (!vertices) return;
        vertices[0] = {left, top, 0.5f, 0.5f, colourAndAlpha, 0, 0, 0, 0};
        vertices[1] = {right, top, 0.5f, 0.5f, colourAndAlpha, 1, 0, 1, 0};
        vertices[2] = {right, bottom, 0.5f, 0.5f, colourAndAlpha, 1, 1, 1, 1};
        vertices[3] = {left, bottom, 0.5f, 0.5f, colourAndAlpha, 0, 1, 0, 1};
        quad.unlock();
        setVertexShader(kScreenFvf);
        uint32_t first = quad.use();
        drawPrimitive(D3DPT_TRIANGLEFAN, first, 2);
    }

    float fade = 0;             // 0 ... 1, alpha of the overlay
    uint32_t colour = 0xFFFFFF; // 0xRRGGBB
    GeometrySlice quad;
    bool sliceReady = false;
};

} // namespace

const EffectClass fadeEffectClass = {"fade", nullptr, nullptr, createEffectOf<FadeEffect>,
                                     recreateEffectOf<FadeEffect>};
