// A headless device with the file lookup and the texture pool, as the screen effects need
// them (render targets reached as "rtt:" textures, images by file name), and pixel helpers.
#pragma once

#include "data/filesystem.h"
#include "effects/effect.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "tests/script/headless_device.h"

#include <cstdint>
#include <vector>

inline bool startScreenDevice(int32_t width, int32_t height) {
    if (!startHeadlessDevice(width, height)) return false;
    initFileSystem();
    initTextures();
    initTexturePool();
    return true;
}

inline void stopScreenDevice() {
    destroyEffects();
    closeTexturePool();
    closeTextures();
    closeFileSystem();
    stopHeadlessDevice();
}

// The pixels of a target as 0xRRGGBB, top row first, at the target's requested size.
inline std::vector<uint32_t> targetPixels(const char* name) {
    RenderTarget* target = findRenderTarget(name);
    std::vector<uint32_t> pixels, out;
    if (!target) return out;
    GpuSurface* surface = renderTargetSurface(target);
    if (!surface) return out;
    dxDevice()->ReadSurface(surface, &pixels);
    surface->Release();
    for (int32_t y = 0; y < target->height; ++y)
        for (int32_t x = 0; x < target->width; ++x)
            out.push_back(pixels[size_t(y) * size_t(target->surfaceWidth) + size_t(x)] & 0xFFFFFF);
    return out;
}

// Fills a rectangle of a target with an opaque colour (a quad: clears of texture targets
// take the whole surface) and leaves that target current with the rectangle as viewport.
inline void fillRect(const char* target, int32_t x, int32_t y, int32_t w, int32_t h,
                     uint32_t colour) {
    selectRenderTarget(target);
    setViewport(x, y, w, h);
    resetDeviceState();
    setRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    setTexture(0, nullptr);
    struct {
        float x, y, z, rhw;
        uint32_t diffuse;
    } quad[4];
    float l = float(x) - 0.5f, t = float(y) - 0.5f, r = l + float(w), b = t + float(h);
    uint32_t c = 0xFF000000u | colour;
    quad[0] = {l, t, 0.5f, 1, c};
    quad[1] = {r, t, 0.5f, 1, c};
    quad[2] = {r, b, 0.5f, 1, c};
    quad[3] = {l, b, 0.5f, 1, c};
    drawFanUP(quad, 4, D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
}

inline int channel(uint32_t rgb, int shift) {
    return int((rgb >> shift) & 255);
}
