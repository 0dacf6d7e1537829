// The flat-scene renderer: one frame of a flat scene through the device context.
//
// Sections: light choice; the free-flying camera of quake mode; view-volume test; parts with
// their two texture stages; glow sprites; the frame.
//
// All geometry reaches the device in camera space: the world transform is object world x
// view and the device's view transform is the identity, so lights are placed in camera space
// too.
#include "scene/render.h"

#include "gfx/device.h"
#include "gfx/dxcheck.h"
#include "gfx/texture.h"
#include "platform/gpu/gpu.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

void transformPoint(const float* p, const D3DMATRIX& m, float* out) {
    for (int c = 0; c < 3; ++c)
        out[c] = p[0] * m.m[0][c] + p[1] * m.m[1][c] + p[2] * m.m[2][c] + m.m[3][c];
}

} // namespace

// ---- Light choice ----

int32_t chooseFlatLights(const FlatScene& scene, const D3DMATRIX& view, float frames,
                         FlatFrameLight* out) {
    std::vector<FlatFrameLight> candidates;
    for (size_t i = 0; i < scene.lights.size(); ++i) {
        const FlatLight& light = scene.lights[i];
        FlatFrameLight c;
        c.index = int32_t(i);
        evaluateTrackValues(light.intensity, frames, &c.intensity, 1);
        float position[3] = {0, 0, 0}, world[3];
        evaluateTrackValues(light.position, frames, position, 3);
        if (light.object)
            transformPoint(position, light.object->world, world);
        else
            memcpy(world, position, sizeof world);
        transformPoint(world, view, c.position);
        const float* rgb = light.values + 3;
        float brightness = c.intensity * (0.3f * rgb[0] + 0.59f * rgb[1] + 0.11f * rgb[2]);
        float radius = light.values[6];
        float distance = std::sqrt(c.position[0] * c.position[0] + c.position[1] * c.position[1] +
                                   c.position[2] * c.position[2]);
        c.key = brightness <= 0 || !(radius >= 0.05f) ? FLT_MAX : distance / brightness;
        c.range = std::min(2 * radius, std::sqrt(FLT_MAX));
        // Lights that cannot reach anything are left out; the others all compete by key.
        if (c.key == FLT_MAX || !std::isfinite(c.key) || !(c.range > 0.05f) ||
            !(c.intensity > 0.005f))
            continue;
        for (int k = 0; k < 3; ++k)
            c.colour[k] = rgb[k] * c.intensity;
        c.attenuation1 = light.values[1];
        c.attenuation2 = light.values[2];
        candidates.push_back(c);
    }
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [](const FlatFrameLight& a, const FlatFrameLight& b) { return a.key < b.key; });
    int32_t count = std::min(int32_t(candidates.size()), kFlatMaxLights);
    std::copy_n(candidates.begin(), count, out);
    return count;
}

namespace {

void applyFlatLights(const FlatFrameLight* lights, int32_t count) {
    for (int32_t n = 0; n < kFlatMaxLights; ++n) {
        if (n < count) {
            const FlatFrameLight& l = lights[n];
            D3DLIGHT8 device;
            device.Type = D3DLIGHT_POINT;
            device.Diffuse = {l.colour[0], l.colour[1], l.colour[2], 0};
            device.Position = {l.position[0], l.position[1], l.position[2]};
            device.Range = l.range;
            device.Attenuation0 = 1;
            device.Attenuation1 = l.attenuation1;
            device.Attenuation2 = l.attenuation2;
            checkDx(dxDevice()->SetLight(uint32_t(n), &device), "SetLight FAILED", false);
        }
        checkDx(dxDevice()->LightEnable(uint32_t(n), n < count), "LightEnable FAILED", false);
    }
}

// ---- Quaternions (x, y, z, w) ----

void quaternionMultiply(const float* a, const float* b, float* out) {
    float r[4] = {
        a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1],
        a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
        a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3],
        a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2],
    };
    memcpy(out, r, sizeof r);
}

// Turns q by `angle` about its own axis (0 x, 1 y, 2 z).
void turnLocal(float* q, int axis, float angle) {
    if (angle == 0) return;
    float d[4] = {0, 0, 0, std::cos(angle / 2)};
    d[axis] = std::sin(angle / 2);
    quaternionMultiply(q, d, q);
    float length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (length > 0)
        for (int k = 0; k < 4; ++k)
            q[k] /= length;
}

// Rotation matrix m[row][column] whose column k is the camera's axis k in world space.
void quaternionMatrix(const float* q, float m[3][3]) {
    float x = q[0], y = q[1], z = q[2], w = q[3];
    m[0][0] = 1 - 2 * (y * y + z * z), m[0][1] = 2 * (x * y - z * w), m[0][2] = 2 * (x * z + y * w);
    m[1][0] = 2 * (x * y + z * w), m[1][1] = 1 - 2 * (x * x + z * z), m[1][2] = 2 * (y * z - x * w);
    m[2][0] = 2 * (x * z - y * w), m[2][1] = 2 * (y * z + x * w), m[2][2] = 1 - 2 * (x * x + y * y);
}

void matrixQuaternion(const float m[3][3], float* q) {
    float trace = m[0][0] + m[1][1] + m[2][2];
    if (trace > 0) {
        float s = std::sqrt(trace + 1) * 2;
        q[3] = s / 4;
        q[0] = (m[2][1] - m[1][2]) / s, q[1] = (m[0][2] - m[2][0]) / s;
        q[2] = (m[1][0] - m[0][1]) / s;
        return;
    }
    int i = m[1][1] > m[0][0] ? 1 : 0;
    if (m[2][2] > m[i][i]) i = 2;
    int j = (i + 1) % 3, k = (i + 2) % 3;
    float s = std::sqrt(1 + m[i][i] - m[j][j] - m[k][k]) * 2;
    q[i] = s / 4;
    q[3] = (m[k][j] - m[j][k]) / s;
    q[j] = (m[j][i] + m[i][j]) / s;
    q[k] = (m[k][i] + m[i][k]) / s;
}

int keyDown(int code) {
    auto f = sceneInput().isKeyDown;
    return f ? f(code) : 0;
}

int keyPressed(int code) {
    auto f = sceneInput().wasKeyPressed;
    return f ? f(code) : 0;
}

// A held control sets the velocity; without one it decays by 0.02 per second.
void steer(float& velocity, float wanted, bool held, float seconds) {
    if (held) {
        velocity = wanted;
        return;
    }
    velocity *= std::pow(0.02f, seconds);
    if (std::fabs(velocity) < 0.001f) velocity = 0;
}

constexpr int kKeyI = 23, kKeySpace = 57, kKeyPadMinus = 74, kKeyPadPlus = 78;
constexpr int kKeyUp = 200, kKeyLeft = 203, kKeyRight = 205, kKeyDown = 208;
constexpr float kTurnPerUnit = float(M_PI / 1800);

} // namespace

// ---- Quake mode ----

void placeQuakeCamera(FlatQuakeCamera& camera, const D3DMATRIX& view) {
    float m[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m[r][c] = view.m[r][c];
    // A view with scales: take the directions only.
    for (int c = 0; c < 3; ++c) {
        float length = std::sqrt(m[0][c] * m[0][c] + m[1][c] * m[1][c] + m[2][c] * m[2][c]);
        if (length > 0)
            for (int r = 0; r < 3; ++r)
                m[r][c] /= length;
    }
    matrixQuaternion(m, camera.orientation);
    // The fourth row is -p . axis_j; the axes are orthonormal, so p = -sum(row_j axis_j).
    for (int r = 0; r < 3; ++r)
        camera.position[r] =
            -(view.m[3][0] * m[r][0] + view.m[3][1] * m[r][1] + view.m[3][2] * m[r][2]);
    camera.placed = true;
}

void updateQuakeCamera(FlatQuakeCamera& camera, float seconds) {
    if (!(seconds >= 0) || !std::isfinite(seconds)) seconds = 0;
    const SceneInput& input = sceneInput();
    if (input.captureMouse) input.captureMouse();
    int dx = 0, dy = 0, dz = 0;
    if (input.readMouseMotion) input.readMouseMotion(dx, dy, dz);
    int buttons = input.mouseButtons ? input.mouseButtons() : 0;
    if (keyPressed(kKeyI)) camera.invertY = !camera.invertY;
    if (keyDown(kKeyPadMinus)) camera.speed *= std::pow(0.8f, seconds);
    if (keyDown(kKeyPadPlus)) camera.speed /= std::pow(0.8f, seconds);
    camera.speed = std::clamp(camera.speed, 1e-6f, 1e6f);

    bool left = keyDown(kKeyLeft), right = keyDown(kKeyRight);
    steer(camera.strafe, (right ? camera.speed : 0) - (left ? camera.speed : 0), left || right,
          seconds);
    bool ahead = keyDown(kKeyUp) || (buttons & 1), back = keyDown(kKeyDown) || (buttons & 2);
    steer(camera.forward, 1.5f * camera.speed * ((ahead ? 1.0f : 0.0f) - (back ? 1.0f : 0.0f)),
          ahead || back, seconds);

    if (keyDown(kKeySpace)) {
        turnLocal(camera.orientation, 2, float(dx) * kTurnPerUnit);
    } else {
        turnLocal(camera.orientation, 1, float(dx) * kTurnPerUnit);
        turnLocal(camera.orientation, 0, float(camera.invertY ? -dy : dy) * kTurnPerUnit);
    }
    turnLocal(camera.orientation, 2, float(dz) * kTurnPerUnit);

    float m[3][3];
    quaternionMatrix(camera.orientation, m);
    for (int r = 0; r < 3; ++r)
        camera.position[r] += (m[r][0] * camera.strafe + m[r][2] * camera.forward) * seconds;
}

D3DMATRIX quakeCameraView(const FlatQuakeCamera& camera) {
    float m[3][3];
    quaternionMatrix(camera.orientation, m);
    D3DMATRIX view;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            view.m[r][c] = m[r][c];
    for (int c = 0; c < 3; ++c)
        view.m[3][c] = -(camera.position[0] * m[0][c] + camera.position[1] * m[1][c] +
                         camera.position[2] * m[2][c]);
    return view;
}

// ---- View volume ----

bool flatBoxVisible(const float* box, const D3DMATRIX& toCamera, float zoom) {
    // Bit k: condition k held for some corner.
    uint32_t seen = 0;
    for (int corner = 0; corner < 8; ++corner) {
        const float p[3] = {box[corner & 1 ? 3 : 0], box[corner & 2 ? 4 : 1],
                            box[corner & 4 ? 5 : 2]};
        float c[3];
        transformPoint(p, toCamera, c);
        float x = 0.64f * zoom * c[0], y = 0.96f * zoom * c[1], z = c[2];
        seen |= (z >= 0.01f ? 1u : 0u) | (x >= -z ? 2u : 0u) | (x <= z ? 4u : 0u) |
                (y >= -z ? 8u : 0u) | (y <= z ? 16u : 0u);
    }
    return seen == 31;
}

namespace {

// ---- Parts ----

// The reflection vector (camera space, unit length) to texture coordinates:
// u = 0.5 + 0.5 rx, v = 0.5 - 0.5 ry, a sphere-map-like lookup of the map's centre for a
// vector pointing back at the viewer's axis.
D3DMATRIX reflectionTextureMatrix() {
    D3DMATRIX m;
    m.m[0][0] = 0.5f;
    m.m[1][1] = -0.5f;
    m.m[2][2] = 0;
    m.m[3][0] = 0.5f;
    m.m[3][1] = 0.5f;
    return m;
}

void setStageFilters(uint32_t stage, uint32_t bits) {
    uint32_t filter = (bits & 1) ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    setStageState(stage, D3DTSS_MINFILTER, filter);
    setStageState(stage, D3DTSS_MAGFILTER, filter);
    uint32_t mip = !(bits & 2)               ? D3DTEXF_NONE
                   : deviceSettings.notrilin ? D3DTEXF_POINT
                                             : D3DTEXF_LINEAR;
    setStageState(stage, D3DTSS_MIPFILTER, mip);
}

const Texture* partTexture(const FlatScene& scene, uint32_t number) {
    if (number == 0 || number > scene.textures.size()) return nullptr;
    return scene.textures[number - 1];
}

// Stage set-up of a part; returns the first stage left disabled.
uint32_t setPartStages(const FlatScene& scene, const FlatPart& part) {
    uint32_t stage = 0, stages = blendStageCount();
    if (const Texture* texture = partTexture(scene, part.texture1)) {
        bindTexture(stage, texture);
        setStageState(stage, D3DTSS_COLOROP, D3DTOP_MODULATE);
        setStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        setStageState(stage, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        setStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        setStageState(stage, D3DTSS_TEXCOORDINDEX, 0);
        setStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        setTransform(D3DTRANSFORMSTATETYPE(D3DTS_TEXTURE0 + stage), D3DMATRIX{});
        setStageFilters(stage, part.filter & 15);
        ++stage;
    }
    const Texture* reflection = partTexture(scene, part.texture2);
    if (reflection && stage < stages) {
        bindTexture(stage, reflection);
        setStageState(stage, D3DTSS_COLOROP, D3DTOP_ADD);
        setStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        setStageState(stage, D3DTSS_COLORARG2, D3DTA_CURRENT);
        setStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        setStageState(stage, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
        setStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        setTransform(D3DTRANSFORMSTATETYPE(D3DTS_TEXTURE0 + stage), reflectionTextureMatrix());
        setStageFilters(stage, (part.filter >> 4) & 15);
        ++stage;
    }
    if (stage < stages) {
        bindTexture(stage, nullptr);
        setStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
        setStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }
    return stage;
}

int32_t drawPart(const FlatScene& scene, FlatPart& part, D3DMATERIAL8& material) {
    bool vertexColour = (part.vertexFormat & D3DFVF_DIFFUSE) != 0;
    if (!vertexColour) {
        material.Diffuse = {float((part.colour >> 16) & 255) / 255,
                            float((part.colour >> 8) & 255) / 255, float(part.colour & 255) / 255,
                            0};
        checkDx(dxDevice()->SetMaterial(&material), "SetMaterial FAILED", false);
    }
    setRenderState(D3DRS_DIFFUSEMATERIALSOURCE, vertexColour ? D3DMCS_COLOR1 : D3DMCS_MATERIAL);
    setRenderState(D3DRS_CULLMODE, (part.flags & 1) ? D3DCULL_NONE : D3DCULL_CCW);
    setPartStages(scene, part);
    if (!part.buffer.id) return 0;
    part.buffer.use();
    int32_t draws = 0;
    for (FlatPrimitive& primitive : part.primitives) {
        if (!primitive.buffer.id || primitive.primitiveCount == 0) continue;
        primitive.buffer.use(0);
        drawIndexed(D3DPRIMITIVETYPE(primitive.type), 0, part.vertexCount, 0,
                    primitive.primitiveCount);
        ++draws;
    }
    return draws;
}

// ---- Glows ----

struct GlowVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u0, v0, u1, v1;
};
static_assert(sizeof(GlowVertex) == 36, "format 0x244");
constexpr int32_t kGlowsPerBatch = 8; // 32 vertices, 48 indices

struct GlowBatch {
    const Texture* texture = nullptr;
    GlowVertex vertices[kGlowsPerBatch * 4];
    int32_t count = 0;
};

int32_t flushGlows(GlowBatch& batch) {
    GeometrySlice* vertices = gledGlowVertices();
    IndexSlice* indices = gledGlowIndices();
    int32_t count = batch.count;
    batch.count = 0;
    if (count == 0 || !vertices || !indices) return 0;
    void* to = vertices->lock(0, count * 4);
    if (!to) return 0;
    memcpy(to, batch.vertices, size_t(count) * 4 * sizeof(GlowVertex));
    vertices->unlock();
    uint16_t* index = indices->lock(0, count * 6);
    if (!index) return 0;
    for (int32_t g = 0; g < count; ++g) {
        const uint16_t base = uint16_t(g * 4);
        const uint16_t quad[6] = {base, uint16_t(base + 1), uint16_t(base + 2),
                                  base, uint16_t(base + 2), uint16_t(base + 3)};
        memcpy(index + g * 6, quad, sizeof quad);
    }
    indices->unlock();
    bindTexture(0, batch.texture);
    uint32_t firstVertex = vertices->use();
    uint32_t firstIndex = indices->use(firstVertex);
    drawIndexed(D3DPT_TRIANGLELIST, 0, uint32_t(count) * 4, firstIndex, uint32_t(count) * 2);
    return 1;
}

void setGlowStates() {
    setRenderState(D3DRS_LIGHTING, 0);
    setRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    setRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    setRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    setRenderState(D3DRS_ZWRITEENABLE, 0);
    setRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    setStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    setStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    setStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    setStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    setStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    setStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    setStageFilters(0, 1);
    if (blendStageCount() > 1) {
        bindTexture(1, nullptr);
        setStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        setStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }
}

// The glow of a light from its glow track: red, green, blue (0 to 255) and a size, or for a
// shorter track a size alone with the light's own colour. Colour and size are scaled by 0.6
// and the intensity; the colour is clamped to 255 and the size, a scene length, is projected
// like geometry (so it shrinks with 1 / depth).
void addGlow(GlowBatch& batch, const FlatLight& light, const float* p, float intensity,
             float frames, float zoom) {
    float g[4] = {0, 0, 0, 0};
    evaluateTrackValues(light.glow, frames, g, 4);
    float rgb[3] = {light.values[3] * 255, light.values[4] * 255, light.values[5] * 255};
    float size = g[0];
    if (light.glow.valueCount >= 4) {
        memcpy(rgb, g, sizeof rgb);
        size = g[3];
    }
    float scale = 0.6f * intensity, s = size * scale;
    if (!(s > 0) || !std::isfinite(s)) return;
    const Viewport& vp = currentViewport();
    float halfW = float(vp.width) / 2, halfH = float(vp.height) / 2;
    float cx = float(vp.left) + (1 + 0.64f * zoom * p[0] / p[2]) * halfW - 0.5f;
    float cy = float(vp.top) + (1 - 0.96f * zoom * p[1] / p[2]) * halfH - 0.5f;
    float rx = 0.64f * zoom * s / p[2] * halfW, ry = 0.96f * zoom * s / p[2] * halfH;
    float q = flatSceneQ();
    float depth = std::clamp(q * (p[2] - 0.01f) / p[2], 0.0f, 1.0f);
    uint32_t colour = 0xFF000000u;
    for (int k = 0; k < 3; ++k) {
        float v = std::clamp(rgb[k] * scale, 0.0f, 255.0f);
        colour |= uint32_t(std::lround(v)) << (16 - 8 * k);
    }
    GlowVertex* v = batch.vertices + batch.count * 4;
    const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (int k = 0; k < 4; ++k) {
        float u = (corners[k][0] + 1) / 2, w = (corners[k][1] + 1) / 2;
        v[k] = {
            cx + corners[k][0] * rx, cy + corners[k][1] * ry, depth, 1 / p[2], colour, u, w, u, w};
    }
    ++batch.count;
}

int32_t drawGlows(const FlatScene& scene, const D3DMATRIX& view, float frames, float zoom,
                  FlatFrameStats* stats) {
    if (!gledGlowVertices()) return 0;
    bool statesSet = false;
    GlowBatch batch;
    int32_t draws = 0;
    for (const FlatLight& light : scene.lights) {
        if (!light.hasGlow || !light.glowTexture) continue;
        float position[3] = {0, 0, 0}, world[3], p[3], intensity = 0;
        evaluateTrackValues(light.position, frames, position, 3);
        if (light.object)
            transformPoint(position, light.object->world, world);
        else
            memcpy(world, position, sizeof world);
        transformPoint(world, view, p);
        if (!(p[2] > 0.01f)) continue;
        evaluateTrackValues(light.intensity, frames, &intensity, 1);
        if (!statesSet) {
            setGlowStates();
            statesSet = true;
        }
        if (batch.count == kGlowsPerBatch ||
            (batch.count > 0 && batch.texture != light.glowTexture))
            draws += flushGlows(batch);
        batch.texture = light.glowTexture;
        int32_t before = batch.count;
        addGlow(batch, light, p, intensity, frames, zoom);
        if (stats && batch.count > before) ++stats->glows;
    }
    return draws + flushGlows(batch);
}

// Scene material and render states of step 4.
D3DMATERIAL8 sceneMaterial(const FlatScene& scene, bool additive) {
    D3DMATERIAL8 material;
    const uint32_t c = scene.ambientColour;
    material.Ambient = {scene.ambientLevel * scene.ambientRed * float((c >> 16) & 255) / 255,
                        scene.ambientLevel * scene.ambientGreen * float((c >> 8) & 255) / 255,
                        scene.ambientLevel * scene.ambientBlue * float(c & 255) / 255, 0};
    checkDx(dxDevice()->SetMaterial(&material), "SetMaterial FAILED", false);
    setRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
    setRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    setRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
    setRenderState(D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL);
    setRenderState(D3DRS_LIGHTING, scene.lights.empty() ? 0 : 1);
    setRenderState(D3DRS_AMBIENT, 0xFFFFFF);
    setRenderState(D3DRS_NORMALIZENORMALS, 1);
    setRenderState(D3DRS_SPECULARENABLE, 0);
    setRenderState(D3DRS_LOCALVIEWER, 0);
    setRenderState(D3DRS_ZWRITEENABLE, additive ? 0 : 1);
    setRenderState(D3DRS_ALPHABLENDENABLE, additive ? 1 : 0);
    if (additive) {
        setRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        setRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    }
    return material;
}

} // namespace

// ---- The frame ----

void renderFlatScene(FlatScene& scene, const FlatFrame& frame) {
    FlatFrameStats local;
    FlatFrameStats& stats = frame.stats ? *frame.stats : local;
    stats = FlatFrameStats{};
    float frames = frame.seconds * scene.animationRate;
    if (!std::isfinite(frames)) frames = 0;
    computeFlatWorlds(scene, frames);

    float zoom = 1;
    D3DMATRIX view = flatCameraView(scene, frame.camera, frame.quake ? 0 : frames, &zoom);
    if (frame.quake) {
        if (!frame.quake->placed) placeQuakeCamera(*frame.quake, view);
        updateQuakeCamera(*frame.quake, frame.elapsed);
        view = quakeCameraView(*frame.quake);
    }
    setTransform(D3DTS_VIEW, D3DMATRIX{});
    setTransform(D3DTS_PROJECTION, sceneProjection(0.64f * zoom, 0.96f * zoom, flatSceneQ()));

    D3DMATERIAL8 material = sceneMaterial(scene, frame.additive);
    FlatFrameLight lights[kFlatMaxLights];
    stats.lights = chooseFlatLights(scene, view, frames, lights);
    applyFlatLights(lights, stats.lights);

    for (FlatObject& object : scene.objects) {
        if (!object.mesh) continue;
        D3DMATRIX toCamera = multiply(object.world, view);
        if (!flatBoxVisible(object.mesh->box, toCamera, zoom)) {
            ++stats.culledObjects;
            continue;
        }
        ++stats.drawnObjects;
        setTransform(D3DTS_WORLD, toCamera);
        for (FlatPart& part : object.mesh->parts) {
            if (part.vertexCount == 0) continue;
            stats.drawCalls += drawPart(scene, part, material);
        }
    }
    stats.drawCalls += drawGlows(scene, view, frames, zoom, &stats);

    for (FlatObject& object : scene.objects)
        object.timeOverride = -1;
}
