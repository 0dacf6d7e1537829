// Object-scene rendering, flat-scene tracks and object matrices, the shared glow buffers.
#include "scene/render.h"

#include "gfx/device.h"
#include "gfx/dxcheck.h"
#include "gfx/resources.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

float fromBits(uint32_t bits) {
    float f;
    memcpy(&f, &bits, 4);
    return f;
}

int32_t drawingBufferUsers = 0;
GeometrySlice glowVertices;
IndexSlice glowIndices;

} // namespace

// ---- Object scenes ----

float objectSceneQ() {
    return fromBits(0x3F800005);
}

float flatSceneQ() {
    return fromBits(0x3F80000A);
}

D3DMATRIX sceneProjection(float zoomX, float zoomY, float q) {
    D3DMATRIX m;
    m.m[0][0] = zoomX;
    m.m[1][1] = zoomY;
    m.m[2][2] = q;
    m.m[2][3] = 1;
    m.m[3][2] = -0.01f * q;
    m.m[3][3] = 0;
    return m;
}

D3DMATRIX sceneView(const gledViewSettings& view, const gledScene& scene) {
    const float scale[3] = {view.xScale, view.yScale, view.zScale};
    const float offset[3] = {view.camXOffset, view.camYOffset, view.camZOffset};
    D3DMATRIX m;
    if (scene.cameras.empty()) {
        // Scaled first, then moved: the offsets are not scaled.
        for (int c = 0; c < 3; ++c) {
            m.m[c][c] = scale[c];
            m.m[3][c] = -offset[c];
        }
        return m;
    }
    m = affineInverse(scene.cameras[0]->transform);
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 3; ++r)
            m.m[r][c] *= scale[c];
        m.m[3][c] = (m.m[3][c] - offset[c]) * scale[c];
    }
    return m;
}

void renderScene(const gledViewSettings& view, gledScene* scene) {
    clear((view.clear ? 1u : 0u) | (view.clearZ ? 2u : 0u), 0, 1.0f, 0);
    if (!scene) return;
    const gledCamera* camera = scene->cameras.empty() ? nullptr : scene->cameras[0];
    D3DMATRIX projection =
        camera ? sceneProjection(camera->zoomX, camera->zoomY, objectSceneQ())
               : sceneProjection(fromBits(0x3F23D70A), fromBits(0x3F75C28F), objectSceneQ());
    setTransform(D3DTS_VIEW, sceneView(view, *scene));
    setTransform(D3DTS_PROJECTION, projection);
    setRenderState(D3DRS_LIGHTING, 1);
    setRenderState(D3DRS_ZWRITEENABLE, 1);
    setRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    setRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    uint32_t used = 0;
    for (const gledLight* light : scene->lights) {
        if (used == 8) break;
        light->apply(used++);
    }
    for (uint32_t i = used; i < 8; ++i)
        checkDx(dxDevice()->LightEnable(i, false), "LightEnable FAILED", false);
    for (gledObject* object : scene->objects) {
        if (!object->mesh) continue;
        setTransform(D3DTS_WORLD, object->transform);
        object->mesh->draw();
    }
}

// ---- Flat-scene tracks ----

namespace {

float loopTime(const FlatTrack& track, float t) {
    if (!std::isfinite(t)) return 0;
    float length = float(track.length);
    switch (track.loopMode) {
    case 0:
        return t > length ? 0 : t;
    case 1:
        return t > length ? length : t;
    case 2:
        if (length < 1) return 0;
        if (t > length) {
            // Subtracting the length while t > L, in one step (a whole multiple stays at L).
            float rest = std::fmod(t, length);
            return rest == 0 ? length : rest;
        }
        return t;
    default:
        return t;
    }
}

} // namespace

void evaluateTrack(const FlatTrack& track, float t, float* out) {
    const size_t n = size_t(track.valueCount), keys = track.keys.size();
    if (keys == 0) {
        for (size_t v = 0; v < n; ++v)
            out[v] = 0;
        return;
    }
    // Before the first key (a negative scene time) holds the first key, as after the last.
    t = std::max(loopTime(track, t), float(track.keys[0].frame));
    size_t i = 0;
    while (i + 1 < keys && float(track.keys[i + 1].frame) < t)
        ++i;
    if (keys == 1 || i + 1 >= keys) {
        // One key, or a time past the last key: hold the last key reached.
        memcpy(out, track.keyValues(i), n * 4);
        return;
    }
    const FlatKey& k0 = track.keys[i];
    const FlatKey& k1 = track.keys[i + 1];
    float d = float(k1.frame - k0.frame);
    float u = d == 1 ? 0 : (t - float(k0.frame)) / d;
    const float* p0 = track.keyValues(i);
    const float* p1 = track.keyValues(i + 1);
    if (k1.linear) {
        for (size_t v = 0; v < n; ++v)
            out[v] = p0[v] + (p1[v] - p0[v]) * u;
        return;
    }
    float h1 = 2 * u * u * u - 3 * u * u + 1, h2 = -2 * u * u * u + 3 * u * u;
    float h3 = u * u * u - 2 * u * u + u, h4 = u * u * u - u * u;
    float a = k0.tension * (1 + k0.continuity) * (1 + k0.bias);
    float e = k0.tension * (1 - k0.continuity) * (1 - k0.bias);
    float f = k1.tension * (1 - k1.continuity) * (1 + k1.bias);
    float g = k1.tension * (1 + k1.continuity) * (1 - k1.bias);
    // The first key (or one without a predecessor) and the last (or one without a
    // successor) take the one-sided tangents.
    bool first = k0.frame == 0 || i == 0;
    bool last = k1.frame == track.length || i + 2 >= keys;
    for (size_t v = 0; v < n; ++v) {
        float outgoing = first ? (p1[v] - p0[v]) * (a + e) / 2
                               : (a * (p0[v] - track.keyValues(i - 1)[v]) + e * (p1[v] - p0[v])) *
                                     d / float(k1.frame - track.keys[i - 1].frame);
        float incoming = last ? (p1[v] - p0[v]) * (f + g) / 2
                              : (f * (p1[v] - p0[v]) + g * (track.keyValues(i + 2)[v] - p1[v])) *
                                    d / float(track.keys[i + 2].frame - k0.frame);
        out[v] = p0[v] * h1 + p1[v] * h2 + outgoing * h3 + incoming * h4;
    }
}

void evaluateTrackValues(const FlatTrack& track, float t, float* out, int32_t count) {
    if (track.valueCount <= 0) return;
    float values[16];
    std::vector<float> many;
    float* at = values;
    if (track.valueCount > 16) {
        many.resize(size_t(track.valueCount));
        at = many.data();
    }
    evaluateTrack(track, t, at);
    memcpy(out, at, size_t(std::min(count, track.valueCount)) * 4);
}

D3DMATRIX flatObjectMatrix(const float* values, const float* pivot) {
    float sa = std::sin(values[3]), ca = std::cos(values[3]);
    float sb = std::sin(values[4]), cb = std::cos(values[4]);
    float sc = std::sin(values[5]), cc = std::cos(values[5]);
    const float* s = values + 6;
    D3DMATRIX m;
    const float rows[3][3] = {
        {(ca * cc + sc * sb * sa) * s[0], -sc * cb * s[0], (sc * sb * ca - cc * sa) * s[0]},
        {(ca * sc - sa * sb * cc) * s[1], cb * cc * s[1], (-ca * sb * cc - sa * sc) * s[1]},
        {sa * cb * s[2], sb * s[2], ca * cb * s[2]},
    };
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m.m[r][c] = rows[r][c];
    for (int c = 0; c < 3; ++c)
        m.m[3][c] =
            values[c] - (rows[0][c] * pivot[0] + rows[1][c] * pivot[1] + rows[2][c] * pivot[2]);
    return m;
}

void computeFlatWorlds(FlatScene& scene, float frames) {
    for (FlatObject& object : scene.objects)
        object.computed = object.visiting = false;
    std::vector<FlatObject*> chain;
    for (FlatObject& object : scene.objects) {
        // Walk up to the first computed ancestor (or the root), then down: no recursion, so
        // deep parent chains cost no stack. The loader refuses cycles; one made in memory
        // ends the walk where it comes round, and that object counts as a root.
        chain.clear();
        FlatObject* at = &object;
        for (; at && !at->computed && !at->visiting; at = at->parent) {
            at->visiting = true;
            chain.push_back(at);
        }
        bool cycle = at && at->visiting;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            FlatObject* o = *it;
            FlatObject* parent = cycle && it == chain.rbegin() ? nullptr : o->parent;
            o->time = o->timeOverride >= 0 ? o->timeOverride : parent ? parent->time : frames;
            float values[9] = {0, 0, 0, 0, 0, 0, 1, 1, 1};
            evaluateTrackValues(o->track, o->time, values, 9);
            D3DMATRIX local = flatObjectMatrix(values, o->pivot);
            o->world = parent ? multiply(local, parent->world) : local;
            o->computed = true;
            o->visiting = false;
        }
    }
}

D3DMATRIX flatCameraView(const FlatScene& scene, int32_t number, float frames, float* zoom) {
    D3DMATRIX view;
    *zoom = 1;
    if (number < 0 || size_t(number) >= scene.cameras.size()) return view;
    const FlatCamera& camera = scene.cameras[size_t(number)];
    float values[9] = {0, 0, 0, 0, 0, 0, 1, 1, 1};
    evaluateTrackValues(camera.placement, frames, values, 9);
    evaluateTrackValues(camera.zoom, frames, zoom, 1);
    if (camera.object) {
        float d[3];
        for (int i = 0; i < 3; ++i)
            d[i] = camera.object->world.m[3][i] - values[i];
        values[3] = std::atan2(d[0], d[2]);                                 // yaw
        values[4] = std::atan2(d[1], std::sqrt(d[0] * d[0] + d[2] * d[2])); // pitch
    }
    const float unit[9] = {0, 0, 0, values[3], values[4], values[5], 1, 1, 1};
    const float origin[3] = {0, 0, 0};
    D3DMATRIX rotation = flatObjectMatrix(unit, origin);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            view.m[r][c] = rotation.m[c][r] * values[6 + r];
    for (int c = 0; c < 3; ++c) {
        view.m[3][c] =
            -(values[0] * view.m[0][c] + values[1] * view.m[1][c] + values[2] * view.m[2][c]);
        view.m[c][3] = 0;
    }
    view.m[3][3] = 1;
    return view;
}

// ---- Shared drawing buffers ----

// The buffers are made on first use with a device: effects also exist in dry parses, which
// have none.
void gledAcquireDrawingBuffers() {
    ++drawingBufferUsers;
}

void gledDone() {
    if (drawingBufferUsers == 0) {
        logf("gledDone() called too often\n");
        return;
    }
    if (--drawingBufferUsers > 0) return;
    if (glowVertices.shared) glowVertices.release();
    if (glowIndices.shared) glowIndices.release();
    glowVertices = GeometrySlice{};
    glowIndices = IndexSlice{};
}

int32_t gledDrawingBufferUsers() {
    return drawingBufferUsers;
}

namespace {

bool glowBuffersReady() {
    if (drawingBufferUsers == 0 || !hasDevice() || !hasResourceManager()) return false;
    if (!glowVertices.shared) glowVertices.create(0x244, 32, true);
    if (!glowIndices.shared) glowIndices.create(48, true);
    return true;
}

} // namespace

GeometrySlice* gledGlowVertices() {
    return glowBuffersReady() ? &glowVertices : nullptr;
}

IndexSlice* gledGlowIndices() {
    return glowBuffersReady() ? &glowIndices : nullptr;
}
