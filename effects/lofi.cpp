// "lofi": a grayscale noise texture laid over the viewport in a colour, at a random offset each
// frame, mirrored at its edges.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/screenfx_local.h"

#include <algorithm>
#include <vector>

namespace {

using namespace screenfx;

constexpr int32_t kNoiseSize = 128;
constexpr float kVisibleFade = 0.001f;

class LofiEffect : public Effect {
  public:
    ~LofiEffect() override {
        quad.release();
        delete noise;
    }
    void render(uint32_t, uint32_t) override {
        if (!(fade >= kVisibleFade)) return;
        if (!noise) makeNoise();
        uint32_t alpha = uint32_t(std::min(255, truncToInt(double(fade) * 255.0)));
        const Viewport& view = currentViewport();
        float u0 = float(nextByte()) / 256.0f, v0 = float(nextByte()) / 256.0f;
        float u1 = u0 + float(view.width) / 64.0f, v1 = v0 + float(view.height) / 64.0f;
        auto* v = static_cast<ScreenVertex*>(quad.lock(kScreenFvf, 4));
        if (!v) return;
        fillQuad(v, float(view.left), float(view.top), float(view.right), float(view.bottom),
                 alpha << 24 | colour, u0, v0, u1, v1);
        std::swap(v[2], v[3]); // strip order: top left, top right, bottom left, bottom right
        quad.slice.unlock();
        setStates();
        setVertexShader(kScreenFvf);
        drawPrimitive(D3DPT_TRIANGLESTRIP, quad.slice.use(), 2);
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "fade") == 0)
            fade = finiteOr(parseScalar(value), fade, "lofi", name);
        else if (strcmp(name, "color") == 0)
            colour = uint32_t(parseIntValue(value)) & 0xFFFFFF;
    }

  private:
    // A linear congruential generator of our own, so that the noise is the same every run.
    uint8_t nextByte() {
        state = state * 1664525u + 1013904223u;
        return uint8_t(state >> 24);
    }
    void makeNoise() {
        std::vector<uint8_t> bytes(size_t(kNoiseSize) * kNoiseSize);
        for (uint8_t& byte : bytes)
            byte = nextByte();
        noise = new Texture(kNoiseSize, kNoiseSize, kTextureGrayscale, bytes.data());
    }
    void setStates() {
        blendStates(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
        const uint32_t stage[] = {D3DTSS_ALPHAOP,
                                  D3DTOP_MODULATE,
                                  D3DTSS_ALPHAARG1,
                                  D3DTA_TEXTURE,
                                  D3DTSS_ALPHAARG2,
                                  D3DTA_DIFFUSE,
                                  D3DTSS_MINFILTER,
                                  D3DTEXF_POINT,
                                  D3DTSS_MAGFILTER,
                                  D3DTEXF_POINT,
                                  D3DTSS_MIPFILTER,
                                  D3DTEXF_NONE,
                                  D3DTSS_ADDRESSU,
                                  D3DTADDRESS_MIRROR,
                                  D3DTSS_ADDRESSV,
                                  D3DTADDRESS_MIRROR,
                                  0,
                                  0};
        setStageStates(0, stage);
        bindTexture(0, noise);
    }

    float fade = 1.0f;
    uint32_t colour = 0xFFFFFF;
    Texture* noise = nullptr; // the effect's own, made on the first drawn frame
    uint32_t state = 0x4C4F4649u;
    LazySlice quad;
};

} // namespace

const EffectClass lofiEffectClass = {"lofi", nullptr, nullptr, createEffectOf<LofiEffect>,
                                     recreateEffectOf<LofiEffect>};
