// Shared pieces of the two-dimensional effects: font and texture references, quad batches.
#include "effects/flat2d_local.h"

#include "platform/log.h"
#include "platform/values.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <strings.h>

namespace flat2d {

uint32_t alphaByte(float fade) {
    if (!(fade > 0)) return 0;
    return uint32_t(std::min(255, truncToInt(double(fade) * 255.0)));
}

namespace {

// True when the first alternative of a file request ends in ".fn2".
bool namesFontFile(const char* name) {
    const char* bar = strchr(name, '|');
    size_t length = bar ? size_t(bar - name) : strlen(name);
    return length >= 4 && strncasecmp(name + length - 4, ".fn2", 4) == 0;
}

} // namespace

void FontRef::set(const char* name) {
    release();
    if (!name || !*name) return;
    font = namesFontFile(name) ? acquireFontFile(name) : acquireFont(name);
}

void FontRef::release() {
    if (font) releaseFont(font);
    font = nullptr;
}

void TextureRef::set(const char* request, uint32_t flags) {
    release();
    if (!request || !*request) return;
    texture = acquireTexture(request, flags);
}

void TextureRef::release() {
    if (texture) releaseTexture(texture);
    texture = nullptr;
}

QuadBatch::~QuadBatch() {
    if (!made) return;
    vertices.release();
    indices.release();
}

void QuadBatch::setFormat(uint32_t fvfCode, uint32_t vertexBytes) {
    fvf = fvfCode;
    stride = vertexBytes;
}

bool QuadBatch::ready() {
    if (made) return !failed;
    made = true;
    vertices.create(fvf, capacity * 4, true);
    indices.create(capacity * 6, false);
    uint16_t* index = indices.lock();
    if (!index) {
        failed = true;
        return false;
    }
    for (uint32_t q = 0; q < capacity; ++q) {
        const uint16_t pattern[6] = {0, 1, 2, 0, 2, 3};
        for (int i = 0; i < 6; ++i)
            index[q * 6 + i] = uint16_t(q * 4 + pattern[i]);
    }
    indices.unlock();
    return true;
}

void QuadBatch::add(const void* fourVertices) {
    if (!cursor) {
        if (!ready()) return;
        cursor = static_cast<uint8_t*>(vertices.lock());
        if (!cursor) return;
    }
    memcpy(cursor + size_t(pending) * 4 * stride, fourVertices, size_t(4) * stride);
    if (++pending == capacity) finish();
}

void QuadBatch::finish() {
    if (!cursor) return;
    vertices.unlock();
    cursor = nullptr;
    if (!pending) return;
    setVertexShader(fvf);
    uint32_t first = vertices.use();
    uint32_t firstIndex = indices.use(first);
    drawIndexed(D3DPT_TRIANGLELIST, 0, pending * 4, firstIndex, pending * 2);
    ++drawCalls;
    pending = 0;
}

ScreenFan::~ScreenFan() {
    if (made) quad.release();
}

void ScreenFan::draw(const ScreenVertex (&fan)[4], D3DPRIMITIVETYPE type) {
    if (!made) {
        quad.create(kScreenFvf, 4, true);
        made = true;
    }
    auto* out = static_cast<ScreenVertex*>(quad.lock());
    if (!out) return;
    memcpy(out, fan, sizeof(fan));
    quad.unlock();
    setVertexShader(kScreenFvf);
    uint32_t first = quad.use();
    drawPrimitive(type, first, 2);
}

void textureBlendStates(uint32_t destBlend) {
    setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    setRenderState(D3DRS_DESTBLEND, destBlend);
    setRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    setRenderState(D3DRS_ZWRITEENABLE, 0);
    setRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    setStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    setStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    setStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    setStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}

void textStates() {
    resetDeviceState();
    textureBlendStates(D3DBLEND_INVSRCALPHA);
}

void clampedPointMips() {
    setStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    setStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
    setStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
}

void logOnce(bool* logged, const char* message) {
    if (*logged) return;
    *logged = true;
    logf("%s", message);
}

} // namespace flat2d
