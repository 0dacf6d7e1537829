// "crashzoom": an iterated zoom blur of a render target. Each pass adds a copy of the picture,
// zoomed towards a reference point, to the picture itself; the passes ping-pong between the
// source target and a private target of the rectangle's size, and the last one writes the
// target that was current when the effect was called.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/screenfx_local.h"

#include <algorithm>
#include <cinttypes>

namespace {

using namespace screenfx;

constexpr int32_t kMaxSteps = 64;   // beyond this the later passes add nothing visible
constexpr float kZoomDecay = 0.75f; // zoom of a pass relative to the one before
constexpr uint32_t kNoiseMul = 3581032059u, kNoiseAdd = 1132619034u;

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
};

class CrashzoomEffect : public Effect {
  public:
    ~CrashzoomEffect() override {
        quad.release();
        source.drop();
        if (privateTarget) destroyRenderTarget(privateName);
    }
    void render(uint32_t time, uint32_t) override;
    void set(const char* name, const char* value) override;

  private:
    bool prepare();
    void pass(RenderTarget* from, Texture* fromTexture, const Rect& fromRect, RenderTarget* to,
              const Rect& toRect, float zoom);
    uint32_t vertexColour();
    uint32_t nextRandom() { return noiseState = noiseState * kNoiseMul + kNoiseAdd; }

    SourceTexture source;
    float maxZoom = 0.1f;
    int32_t steps = 8;
    float refX = 0.5f, refY = 0.5f;
    float light = 1.0f;
    float noise = 0;
    float zottel = 0;                         // period of the automatic movement in seconds, 0 off
    float sx1 = 0, sy1 = 0, sx2 = 0, sy2 = 0; // source rectangle in pixels
    Rect rect;                                // the rectangle in the source and the current target
    bool haveRect = false;
    bool rectLogged = false;
    RenderTarget* privateTarget = nullptr;
    char privateName[64] = {};
    uint32_t noiseState = 0;
    LazySlice quad;
};

void CrashzoomEffect::set(const char* name, const char* value) {
    auto scalar = [&](float old) { return finiteOr(parseScalar(value), old, "crashzoom", name); };
    if (strcmp(name, "source") == 0)
        source.set(value);
    else if (strcmp(name, "maxzoom") == 0)
        maxZoom = finiteOr(float(parseDecimal(value)), maxZoom, "crashzoom", name);
    else if (strcmp(name, "steps") == 0)
        steps = clampLogged(parseIntValue(value), 1, kMaxSteps, "crashzoom", name);
    else if (strcmp(name, "refx") == 0)
        refX = scalar(refX);
    else if (strcmp(name, "refy") == 0)
        refY = scalar(refY);
    else if (strcmp(name, "light") == 0)
        light = scalar(light);
    else if (strcmp(name, "nordkessel") == 0)
        noise = scalar(noise);
    else if (strcmp(name, "zottel") == 0)
        zottel = scalar(zottel);
    else {
        float* corner = strcmp(name, "sx1") == 0   ? &sx1
                        : strcmp(name, "sy1") == 0 ? &sy1
                        : strcmp(name, "sx2") == 0 ? &sx2
                        : strcmp(name, "sy2") == 0 ? &sy2
                                                   : nullptr;
        if (!corner) return;
        *corner = scalar(*corner);
        haveRect = false;
        rectLogged = false;
    }
}

// The rectangle (the viewport, taken once, when no source rectangle is set), clipped to the
// source target, and the private target of its size.
bool CrashzoomEffect::prepare() {
    RenderTarget* from = source.target();
    if (!from || !source.get()) return false;
    if (!haveRect) {
        if (sx1 == 0 && sy1 == 0 && sx2 == 0 && sy2 == 0) {
            const Viewport& view = currentViewport();
            rect = {view.left, view.top, view.right, view.bottom};
        } else {
            rect = {truncToInt(sx1), truncToInt(sy1), truncToInt(sx2), truncToInt(sy2)};
        }
        Rect clipped{std::max(rect.left, 0), std::max(rect.top, 0),
                     std::min(rect.right, from->width), std::min(rect.bottom, from->height)};
        if ((clipped.left != rect.left || clipped.top != rect.top || clipped.right != rect.right ||
             clipped.bottom != rect.bottom) &&
            !rectLogged) {
            logf("EFCT: crashzoom: source rectangle %d,%d-%d,%d clipped to target '%s'\n",
                 rect.left, rect.top, rect.right, rect.bottom, from->name);
            rectLogged = true;
        }
        rect = clipped;
        haveRect = true;
    }
    if (rect.width() <= 0 || rect.height() <= 0) return false;
    if (privateTarget &&
        (privateTarget->width != rect.width() || privateTarget->height != rect.height())) {
        destroyRenderTarget(privateName);
        privateTarget = nullptr;
    }
    if (!privateTarget) {
        snprintf(privateName, sizeof(privateName), "crash%" PRIxPTR, uintptr_t(this));
        privateTarget = createRenderTexture(rect.width(), rect.height(), privateName, true);
    }
    return privateTarget != nullptr;
}

void CrashzoomEffect::render(uint32_t time, uint32_t) {
    RenderTarget* current = currentRenderTarget();
    if (!current || !prepare()) return;
    Viewport saved = currentViewport();
    if (zottel != 0) {
        double s = double(time) / 65536.0, twoPi = 6.283185307179586;
        refX = float(0.5 + 0.5 * sin(twoPi * s / double(zottel)));
        refY = float(0.5 + 0.5 * sin(twoPi * s / (double(zottel) * 1.2)));
    }
    RenderTarget* from = source.target();
    Rect privateRect{0, 0, rect.width(), rect.height()};
    int32_t passes = maxZoom == 0 ? 1 : steps;
    float zoom = maxZoom;
    for (int32_t k = 0; k < passes; ++k) {
        bool readsSource = k % 2 == 0;
        RenderTarget* reads = readsSource ? from : privateTarget;
        RenderTarget* writes = k == passes - 1 ? current : readsSource ? privateTarget : from;
        Texture* texture = readsSource ? source.get() : privateTarget->texture;
        pass(reads, texture, readsSource ? rect : privateRect, writes,
             writes == privateTarget ? privateRect : rect, zoom);
        zoom *= kZoomDecay;
    }
    setRenderTarget(current);
    setViewport(saved.left, saved.top, saved.width, saved.height);
}

uint32_t CrashzoomEffect::vertexColour() {
    int32_t level = std::min(255, truncToInt(double(fabsf(light)) * 128.0));
    if (noise == 0) return uint32_t(level) * 0x01010101u;
    // Each byte varies around the level: (1 - noise) x level plus a random part below
    // 2 x noise x level, so that the mean brightness stays the level.
    int32_t spread = std::clamp(truncToInt(double(noise) * 2.0 * level), 0, 255);
    int32_t base = truncToInt((1.0 - double(noise)) * level);
    uint32_t colour = 0;
    for (int byte = 0; byte < 4; ++byte) {
        int32_t random = spread > 0 ? int32_t((nextRandom() >> 8) % uint32_t(spread)) : 0;
        colour |= uint32_t(std::clamp(base + random, 0, 255)) << (8 * byte);
    }
    return colour;
}

void CrashzoomEffect::pass(RenderTarget* from, Texture* fromTexture, const Rect& fromRect,
                           RenderTarget* to, const Rect& toRect, float zoom) {
    if (to != currentRenderTarget()) setRenderTarget(to);
    setViewport(toRect.left, toRect.top, toRect.width(), toRect.height());
    resetDeviceState();
    setRenderState(D3DRS_ALPHABLENDENABLE, 0);
    setRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    setRenderState(D3DRS_ZWRITEENABLE, 0);
    const uint32_t zoomed[] = {D3DTSS_COLOROP,
                               D3DTOP_MODULATE,
                               D3DTSS_COLORARG1,
                               D3DTA_TEXTURE,
                               D3DTSS_COLORARG2,
                               D3DTA_DIFFUSE,
                               D3DTSS_ALPHAOP,
                               D3DTOP_SELECTARG1,
                               D3DTSS_ALPHAARG1,
                               D3DTA_DIFFUSE,
                               D3DTSS_ADDRESSU,
                               D3DTADDRESS_CLAMP,
                               D3DTSS_ADDRESSV,
                               D3DTADDRESS_CLAMP,
                               D3DTSS_MINFILTER,
                               D3DTEXF_LINEAR,
                               D3DTSS_MAGFILTER,
                               D3DTEXF_LINEAR,
                               D3DTSS_MIPFILTER,
                               D3DTEXF_NONE,
                               D3DTSS_TEXCOORDINDEX,
                               0,
                               0,
                               0};
    setStageStates(0, zoomed);
    bindTexture(0, fromTexture);
    if (blendStageCount() > 1) {
        // current + diffuse alpha x the unzoomed texture. That copy maps texel centres onto
        // pixel centres one to one, where point sampling reads the very texel a linear filter
        // would: the same picture from a quarter of the texel reads (the pass runs six times a
        // frame over the whole screen).
        const uint32_t plain[] = {D3DTSS_COLOROP,
                                  D3DTOP_MODULATEALPHA_ADDCOLOR,
                                  D3DTSS_COLORARG1,
                                  D3DTA_CURRENT,
                                  D3DTSS_COLORARG2,
                                  D3DTA_TEXTURE,
                                  D3DTSS_ALPHAOP,
                                  D3DTOP_SELECTARG1,
                                  D3DTSS_ALPHAARG1,
                                  D3DTA_CURRENT,
                                  D3DTSS_ADDRESSU,
                                  D3DTADDRESS_CLAMP,
                                  D3DTSS_ADDRESSV,
                                  D3DTADDRESS_CLAMP,
                                  D3DTSS_MINFILTER,
                                  D3DTEXF_POINT,
                                  D3DTSS_MAGFILTER,
                                  D3DTEXF_POINT,
                                  D3DTSS_MIPFILTER,
                                  D3DTEXF_NONE,
                                  D3DTSS_TEXCOORDINDEX,
                                  1,
                                  0,
                                  0};
        setStageStates(1, plain);
        bindTexture(1, fromTexture);
    }
    float width = float(from->surfaceWidth), height = float(from->surfaceHeight);
    float rx = float(fromRect.left) + refX * float(fromRect.width());
    float ry = float(fromRect.top) + refY * float(fromRect.height());
    auto shrink = [&](float c, float r) { return r + (c - r) / (zoom + 1.0f); };
    auto* v = static_cast<ScreenVertex*>(quad.lock(kScreenFvf, 4));
    if (!v) return;
    fillQuad(v, float(toRect.left), float(toRect.top), float(toRect.right), float(toRect.bottom), 0,
             float(fromRect.left) / width, float(fromRect.top) / height,
             float(fromRect.right) / width, float(fromRect.bottom) / height);
    for (int i = 0; i < 4; ++i) {
        v[i].diffuse = vertexColour();
        v[i].u0 = shrink(v[i].u1 * width, rx) / width;
        v[i].v0 = shrink(v[i].v1 * height, ry) / height;
    }
    quad.slice.unlock();
    setVertexShader(kScreenFvf);
    drawPrimitive(D3DPT_TRIANGLEFAN, quad.slice.use(), 2);
    setTexture(1, nullptr);
}

} // namespace

const EffectClass crashzoomEffectClass = {"crashzoom", nullptr, nullptr,
                                          createEffectOf<CrashzoomEffect>,
                                          recreateEffectOf<CrashzoomEffect>};
