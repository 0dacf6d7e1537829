// Helpers shared by the screen and render-target effects: the pre-transformed screen vertex,
// a lazily made dynamic quad, the "source" render target read through the texture pool, and
// the checks that keep property values finite and in range.
#pragma once

#include "effects/screenvertex_local.h"
#include "gfx/device.h"
#include "gfx/resources.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/gpu/d3d8types.h"
#include "platform/log.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace screenfx {

using effects::kScreenFvf;
using effects::ScreenVertex;

// A dynamic slice made on first use: instances are also created where no device exists (dry
// parses), and released with its owner.
struct LazySlice {
    GeometrySlice slice;
    bool ready = false;

    void* lock(uint32_t fvf, uint32_t count) {
        if (!ready) {
            slice.create(fvf, count, true);
            ready = true;
        }
        return slice.lock();
    }
    void release() {
        if (ready) slice.release();
        ready = false;
    }
};

// Fills four vertices of a fan over (left, top) - (right, bottom), pixel coordinates minus 0.5,
// with texture coordinates (u0, v0) - (u1, v1) in both sets.
inline void fillQuad(ScreenVertex* v, float left, float top, float right, float bottom,
                     uint32_t colour, float u0, float v0, float u1, float v1) {
    left -= 0.5f, top -= 0.5f, right -= 0.5f, bottom -= 0.5f;
    v[0] = {left, top, 0.5f, 0.5f, colour, u0, v0, u0, v0};
    v[1] = {right, top, 0.5f, 0.5f, colour, u1, v0, u1, v0};
    v[2] = {right, bottom, 0.5f, 0.5f, colour, u1, v1, u1, v1};
    v[3] = {left, bottom, 0.5f, 0.5f, colour, u0, v1, u0, v1};
}

// The texture of a named render target, taken from the texture pool as "rtt:" + name once the
// target exists. A missing target or pool leaves it null and the effect draws nothing.
struct SourceTexture {
    char name[64] = {};
    Texture* texture = nullptr;

    void set(const char* value) {
        drop();
        snprintf(name, sizeof(name), "%s", value);
    }
    Texture* get() {
        if (!texture && name[0] && findRenderTarget(name)) {
            char request[80];
            snprintf(request, sizeof(request), "rtt:%s", name);
            texture = acquireTexture(request, 0);
        }
        return texture;
    }
    RenderTarget* target() const { return name[0] ? findRenderTarget(name) : nullptr; }
    void drop() {
        releaseTexture(texture);
        texture = nullptr;
    }
};

// A float property that must be finite; anything else keeps the old value and logs once.
inline float finiteOr(float value, float old, const char* effect, const char* property) {
    if (std::isfinite(value)) return value;
    logf("EFCT: %s: %s must be a finite number; kept %g\n", effect, property, double(old));
    return old;
}

// An integer property clamped to [low, high]; a value outside logs one line.
inline int32_t clampLogged(int32_t value, int32_t low, int32_t high, const char* effect,
                           const char* property) {
    if (value >= low && value <= high) return value;
    int32_t kept = value < low ? low : high;
    logf("EFCT: %s: %s %d out of range %d...%d; using %d\n", effect, property, value, low, high,
         kept);
    return kept;
}

// The alpha-blended, depth-ignoring states most of these effects draw with.
inline void blendStates(uint32_t srcBlend, uint32_t destBlend) {
    resetDeviceState();
    setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    setRenderState(D3DRS_SRCBLEND, srcBlend);
    setRenderState(D3DRS_DESTBLEND, destBlend);
    setRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    setRenderState(D3DRS_ZWRITEENABLE, 0);
    setRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}

} // namespace screenfx
