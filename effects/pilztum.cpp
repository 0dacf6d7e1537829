// "pilztum": mushrooms grow on a round patch of grass under a slowly circling camera. Each
// "spawn" places one more (up to 128) away from the others and sends 64 glowing spores from an
// older one to where it appears.
//
// Sections: the random generator and the noise; spawning; drawing (mushrooms, ground,
// spores).
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/scenefx_local.h"
#include "effects/screenvertex_local.h"
#include "gfx/device.h"
#include "gfx/dxcheck.h"
#include "gfx/texture.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "scene/scenefile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace effects {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr const char* kMushroomFile = "nk09\\pilz2.gled";
constexpr const char* kGrassFile = "nk09\\grass.jpg";
constexpr uint32_t kGroundFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1; // 0x142
constexpr float kSporeFlight = 0.6f;                                       // seconds in the air

struct GroundVertex {
    float x, y, z;
    uint32_t diffuse;
    float u, v;
};
static_assert(sizeof(GroundVertex) == 24);

D3DMATRIX rotationX(float a) {
    D3DMATRIX m;
    m.m[1][1] = m.m[2][2] = std::cos(a);
    m.m[1][2] = std::sin(a);
    m.m[2][1] = -std::sin(a);
    return m;
}

D3DMATRIX rotationY(float a) {
    D3DMATRIX m;
    m.m[0][0] = m.m[2][2] = std::cos(a);
    m.m[0][2] = -std::sin(a);
    m.m[2][0] = std::sin(a);
    return m;
}

D3DMATRIX rotationZ(float a) {
    D3DMATRIX m;
    m.m[0][0] = m.m[1][1] = std::cos(a);
    m.m[0][1] = std::sin(a);
    m.m[1][0] = -std::sin(a);
    return m;
}

// The view of a camera at `eye` looking at the origin, up along +y.
D3DMATRIX lookAtOrigin(const float* eye) {
    float z[3] = {-eye[0], -eye[1], -eye[2]};
    float length = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
    for (float& v : z)
        v /= length;
    float y[3] = {-z[0] * z[1], 1 - z[1] * z[1], -z[2] * z[1]};
    length = std::sqrt(y[0] * y[0] + y[1] * y[1] + y[2] * y[2]);
    for (float& v : y)
        v /= length;
    float x[3] = {y[1] * z[2] - y[2] * z[1], y[2] * z[0] - y[0] * z[2], y[0] * z[1] - y[1] * z[0]};
    D3DMATRIX m;
    for (int r = 0; r < 3; ++r) {
        m.m[r][0] = x[r];
        m.m[r][1] = y[r];
        m.m[r][2] = z[r];
    }
    m.m[3][0] = -(eye[0] * x[0] + eye[1] * x[1] + eye[2] * x[2]);
    m.m[3][1] = -(eye[0] * y[0] + eye[1] * y[1] + eye[2] * y[2]);
    m.m[3][2] = -(eye[0] * z[0] + eye[1] * z[1] + eye[2] * z[2]);
    return m;
}

void transformPoint(const float* p, const D3DMATRIX& m, float* out) {
    for (int c = 0; c < 3; ++c)
        out[c] = p[0] * m.m[0][c] + p[1] * m.m[1][c] + p[2] * m.m[2][c] + m.m[3][c];
}

} // namespace

// ---- The random generator and the noise ----

void MersenneTwister::seed(uint32_t value) {
    for (uint32_t& word : state) {
        word = value & 0xffff0000u;
        value = 69069 * value + 1;
        word |= (value & 0xffff0000u) >> 16;
        value = 69069 * value + 1;
    }
    index = 624;
}

uint32_t MersenneTwister::next() {
    constexpr uint32_t kMatrix = 0x9908b0dfu, kUpper = 0x80000000u, kLower = 0x7fffffffu;
    if (index >= 624) {
        if (index == 625) seed(4357);
        for (int i = 0; i < 624; ++i) {
            uint32_t y = (state[i] & kUpper) | (state[(i + 1) % 624] & kLower);
            state[i] = state[(i + 397) % 624] ^ (y >> 1) ^ ((y & 1) ? kMatrix : 0);
        }
        index = 0;
    }
    uint32_t y = state[index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

float pilzNoise(float s) {
    if (!std::isfinite(s)) return 0;
    // The lattice repeats every 2^24 steps; folding keeps the integer part in range.
    if (std::fabs(s) >= 16777216.0f) s = std::fmod(s, 16777216.0f);
    float whole = std::floor(s), f = s - whole;
    uint32_t n = uint32_t(int32_t(whole)); // the hashes wrap in 32 bits
    uint32_t h1 = ((n * uint32_t(-2217129)) ^ (n * 15625u + 1u)) & 0xFFFFFFu;
    uint32_t h2 = ~((n * 15625u + 15626u) ^ (n * 2217129u + 2217128u)) & 0xFFFFFFu;
    float a = float(h1) / 16777216.0f, b = float(h2) / 16777216.0f;
    return a + (1 - std::cos(f * kPi)) * (b - a) / 2;
}

// ---- Spawning ----

PilztumEffect::PilztumEffect() {
    // A dry parse (no device) only checks the script: the mushroom's buffers need a device.
    scene = hasDevice() ? loadObjectScene(kMushroomFile) : nullptr;
    if (!scene && hasDevice())
        logf("GLED: warning - pilztum: scene file '%s' not found, no mushrooms\n", kMushroomFile);
    else if (scene && scene->meshes.empty())
        logf("GLED: warning - pilztum: '%s' holds no mesh, no mushrooms\n", kMushroomFile);
    grass = acquireSceneTexture(kGrassFile, 96);
    char request[64];
    snprintf(request, sizeof request, "glow:%d %f %f %f %f", 16, 2.5, 2.5, 2.5, 1.7);
    glow = acquireSceneTexture(request, 64);
    random.seed(uint32_t(rand()));
    spawn();
}

PilztumEffect::~PilztumEffect() {
    if (groundReady) {
        groundVertices.release();
        groundIndices.release();
        gledDone();
    }
    releaseSceneTexture(grass);
    releaseSceneTexture(glow);
    delete scene;
}

void PilztumEffect::set(const char* name, const char* /*value*/) {
    if (strcmp(name, "spawn") == 0) spawn();
}

float PilztumEffect::signedUnit() {
    return float(int32_t(random.next())) / 2147483648.0f;
}

void PilztumEffect::spawn() {
    if (mushroomCount >= kMaxMushrooms) return;
    const int32_t k = mushroomCount;
    Mushroom grown;
    if (k > 0) {
        // Inside the disc of radius 16 and clear of the others; every miss lets them come
        // closer, so the search always ends.
        float closeness = 2.25f;
        for (;;) {
            grown.x = signedUnit() * 12;
            grown.z = signedUnit() * 12;
            bool free = grown.x * grown.x + grown.z * grown.z < 256;
            for (int32_t i = 0; free && i < k; ++i) {
                float dx = grown.x - mushrooms[i].x, dz = grown.z - mushrooms[i].z;
                free = dx * dx + dz * dz >= closeness * mushrooms[i].size * mushrooms[i].size;
            }
            if (free) break;
            closeness *= 0.95f;
        }
        for (float& tilt : grown.tilt)
            tilt = signedUnit() * 0.15f;
        float v = pilzNoise(signedUnit() * 100000), phase = pilzNoise(signedUnit() * 100000);
        grown.size = 0.75f + v;
        grown.phase = (1 + phase) * (grown.x + grown.z);

        const Mushroom& from = mushrooms[random.next() % uint32_t(k)];
        float now = float(lastTime) / 65536.0f, x = grown.x, z = grown.z;
        for (int32_t i = 0; i < kSpores; ++i) {
            x += signedUnit() * 0.08f;
            z += signedUnit() * 0.08f;
            float r = signedUnit(), jitter = signedUnit();
            spores[i] = {from.x,
                         from.y,
                         from.z,
                         x,
                         z,
                         (r + 3.5f) * 0.8f,
                         now + float(i) * 0.011f + jitter * 0.006f};
        }
    }
    mushrooms[k] = grown;
    mushroomCount = k + 1;
}

// ---- Drawing ----

void resetSceneStages() {
    bindTexture(0, nullptr);
    const uint32_t first[] = {D3DTSS_COLOROP,
                              D3DTOP_MODULATE,
                              D3DTSS_COLORARG1,
                              D3DTA_TEXTURE,
                              D3DTSS_COLORARG2,
                              D3DTA_DIFFUSE,
                              D3DTSS_ALPHAOP,
                              D3DTOP_SELECTARG2,
                              D3DTSS_ALPHAARG2,
                              D3DTA_DIFFUSE,
                              D3DTSS_TEXCOORDINDEX,
                              0,
                              D3DTSS_TEXTURETRANSFORMFLAGS,
                              0,
                              0,
                              0};
    setStageStates(0, first);
    setStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    setStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
}

void PilztumEffect::makeGround() {
    if (groundReady) return;
    groundReady = true;
    gledAcquireDrawingBuffers();
    groundVertices.create(kGroundFvf, kGrid * kGrid, false);
    groundIndices.create((kGrid - 1) * (kGrid - 1) * 6, false);
    if (auto* v = static_cast<GroundVertex*>(groundVertices.lock())) {
        for (int32_t row = 0; row < kGrid; ++row)
            for (int32_t column = 0; column < kGrid; ++column) {
                float x = float(column - 18) * 2 / 36, z = float(row - 18) * 2 / 36;
                float grey = std::fmax(0.0f, 255 - 255 * std::sqrt(x * x + z * z));
                uint32_t g = uint32_t(grey);
                *v++ = {float(column - 18),     0,
                        float(row - 18),        0xFF000000u | g << 16 | g << 8 | g,
                        float(column) * 2 / 36, float(row) * 2 / 36};
            }
        groundVertices.unlock();
    }
    if (uint16_t* i = groundIndices.lock()) {
        for (int32_t row = 0; row + 1 < kGrid; ++row)
            for (int32_t column = 0; column + 1 < kGrid; ++column) {
                auto c = uint16_t(row * kGrid + column);
                const uint16_t quad[6] = {c, uint16_t(c + 1),  uint16_t(c + 37),
                                          c, uint16_t(c + 37), uint16_t(c + 36)};
                for (uint16_t index : quad)
                    *i++ = index;
            }
        groundIndices.unlock();
    }
}

void PilztumEffect::render(uint32_t time, uint32_t) {
    int32_t step = rendered ? int32_t(time - lastTime) : 0;
    float dt = float(step > 0 ? step : 0) / 65536.0f, t = float(time) / 32768.0f;
    lastTime = time;
    rendered = true;
    if (!hasDevice()) return;
    makeGround();

    clear(3, 0, 1.0f, 0);
    D3DMATRIX projection = sceneProjection(1.0f, 2.8125f, objectSceneQ());
    float turn = t / 2;
    const float eye[3] = {12 * std::sin(turn), 4, -12 * std::cos(turn)};
    D3DMATRIX viewMatrix = lookAtOrigin(eye);
    setTransform(D3DTS_VIEW, viewMatrix);
    setTransform(D3DTS_PROJECTION, projection);

    D3DLIGHT8 sun;
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = {1.0f, 0.97f, 0.9f, 0};
    sun.Direction = {0.4f, -1.0f, 0.6f};
    checkDx(dxDevice()->SetLight(0, &sun), "SetLight FAILED", false);
    checkDx(dxDevice()->LightEnable(0, true), "LightEnable FAILED", false);
    for (uint32_t i = 1; i < 8; ++i)
        checkDx(dxDevice()->LightEnable(i, false), "LightEnable FAILED", false);
    const uint32_t states[] = {D3DRS_LIGHTING,
                               1,
                               D3DRS_NORMALIZENORMALS,
                               1,
                               D3DRS_ZENABLE,
                               1,
                               D3DRS_ZWRITEENABLE,
                               1,
                               D3DRS_ZFUNC,
                               D3DCMP_LESS,
                               D3DRS_CULLMODE,
                               D3DCULL_NONE,
                               D3DRS_ALPHABLENDENABLE,
                               0,
                               0,
                               0};
    setRenderStates(states);
    drawMushrooms(t, dt);
    drawGround();
    drawSpores(float(time) / 65536.0f, viewMatrix, projection);
}

void PilztumEffect::drawMushrooms(float t, float dt) {
    gledMesh* mesh = scene && !scene->meshes.empty() ? scene->meshes[0] : nullptr;
    resetSceneStages();
    for (int32_t i = 0; i < mushroomCount; ++i) {
        Mushroom& m = mushrooms[i];
        m.pop *= std::pow(0.01f, dt);
        if (m.pop < 0.001f) m.pop = 0;
        float tilt[3], phase = m.phase;
        tilt[0] = m.tilt[0] + pilzNoise(t * 1.2f + phase + 140.2f) / 2 - 0.25f;
        tilt[1] = m.tilt[1] + pilzNoise(t * 1.1f + phase + 22.5f) / 2 - 0.25f;
        tilt[2] = m.tilt[2] + pilzNoise(t * 0.9f + phase + 131.4f) / 2 - 0.25f;
        float size = m.size + pilzNoise(t * 1.05f + phase + 242.4f) / 4 - 0.125f;
        float sway = (pilzNoise(t * 0.96f + phase + 840.1f) - 0.5f) * 0.8f;
        // Growing: from nothing to full size as the pop value decays, stretched while young.
        float grown = size * (1 - m.pop);
        if (!mesh || grown < 0.001f) continue;
        D3DMATRIX scale;
        scale.m[0][0] = scale.m[2][2] = grown;
        scale.m[1][1] = grown * (1 + 0.5f * m.pop);
        D3DMATRIX world =
            multiply(multiply(multiply(scale, rotationY(tilt[2] + sway)), rotationX(tilt[0])),
                     rotationZ(tilt[1]));
        world.m[3][0] = m.x;
        world.m[3][1] = m.y;
        world.m[3][2] = m.z;
        setTransform(D3DTS_WORLD, world);
        mesh->draw();
    }
}

void PilztumEffect::drawGround() {
    setTransform(D3DTS_WORLD, D3DMATRIX{});
    setRenderState(D3DRS_LIGHTING, 0);
    bindTexture(0, grass);
    const uint32_t stage[] = {D3DTSS_COLOROP,
                              D3DTOP_MODULATE,
                              D3DTSS_COLORARG1,
                              D3DTA_TEXTURE,
                              D3DTSS_COLORARG2,
                              D3DTA_DIFFUSE,
                              D3DTSS_ADDRESSU,
                              D3DTADDRESS_WRAP,
                              D3DTSS_ADDRESSV,
                              D3DTADDRESS_WRAP,
                              D3DTSS_MINFILTER,
                              D3DTEXF_LINEAR,
                              D3DTSS_MAGFILTER,
                              D3DTEXF_LINEAR,
                              D3DTSS_MIPFILTER,
                              D3DTEXF_LINEAR,
                              0,
                              0};
    setStageStates(0, stage);
    setVertexShader(kGroundFvf);
    uint32_t first = groundVertices.use();
    uint32_t start = groundIndices.use(first);
    drawIndexed(D3DPT_TRIANGLELIST, 0, kGrid * kGrid, start, (kGrid - 1) * (kGrid - 1) * 2);
}

// The spores fly in an arc from their mushroom to the new one, brightest half-way, as
// additive screen-aligned sprites, eight to a batch of the shared glow buffers.
void PilztumEffect::drawSpores(float seconds, const D3DMATRIX& viewMatrix,
                               const D3DMATRIX& projection) {
    GeometrySlice* vertices = gledGlowVertices();
    IndexSlice* indices = gledGlowIndices();
    if (!vertices || !indices) return;
    const Viewport& port = currentViewport();
    ScreenVertex quads[kSpores * 4];
    int32_t count = 0;
    for (const Spore& spore : spores) {
        float flown = (seconds - spore.startTime) / kSporeFlight;
        if (!(flown >= 0 && flown <= 1)) continue;
        const float world[3] = {spore.startX + (spore.x - spore.startX) * flown,
                                spore.startY + 0.9f + 2.5f * flown * (1 - flown) - 0.6f * flown,
                                spore.startZ + (spore.z - spore.startZ) * flown};
        float p[3];
        transformPoint(world, viewMatrix, p);
        if (p[2] <= 0.01f) continue;
        float x =
            float(port.left) + (1 + projection.m[0][0] * p[0] / p[2]) * 0.5f * float(port.width);
        float y =
            float(port.top) + (1 - projection.m[1][1] * p[1] / p[2]) * 0.5f * float(port.height);
        float depth = (projection.m[2][2] * p[2] + projection.m[3][2]) / p[2];
        float half = spore.size * 0.6f * 0.1f * float(port.height) / p[2];
        auto level = uint32_t(std::fmin(255.0f, 255 * std::sin(kPi * flown)));
        uint32_t colour =
            0xFF000000u | level << 16 | (level * 230 / 255) << 8 | (level * 150 / 255);
        float l = x - half - 0.5f, r = x + half - 0.5f, top = y - half - 0.5f, b = y + half - 0.5f;
        float rhw = 1 / p[2];
        ScreenVertex* q = &quads[count++ * 4];
        q[0] = {l, top, depth, rhw, colour, 0, 0, 0, 0};
        q[1] = {r, top, depth, rhw, colour, 1, 0, 1, 0};
        q[2] = {r, b, depth, rhw, colour, 1, 1, 1, 1};
        q[3] = {l, b, depth, rhw, colour, 0, 1, 0, 1};
    }
    if (count == 0) return;
    const uint32_t states[] = {D3DRS_LIGHTING,
                               0,
                               D3DRS_ALPHABLENDENABLE,
                               1,
                               D3DRS_SRCBLEND,
                               D3DBLEND_ONE,
                               D3DRS_DESTBLEND,
                               D3DBLEND_ONE,
                               D3DRS_ZWRITEENABLE,
                               0,
                               D3DRS_ZFUNC,
                               D3DCMP_LESS,
                               0,
                               0};
    setRenderStates(states);
    bindTexture(0, glow);
    const uint32_t stage[] = {D3DTSS_COLOROP,
                              D3DTOP_MODULATE,
                              D3DTSS_COLORARG1,
                              D3DTA_TEXTURE,
                              D3DTSS_COLORARG2,
                              D3DTA_DIFFUSE,
                              D3DTSS_ADDRESSU,
                              D3DTADDRESS_CLAMP,
                              D3DTSS_ADDRESSV,
                              D3DTADDRESS_CLAMP,
                              0,
                              0};
    setStageStates(0, stage);
    setVertexShader(kScreenFvf);
    for (int32_t done = 0; done < count; done += 8) {
        int32_t batch = count - done < 8 ? count - done : 8;
        auto* v = static_cast<ScreenVertex*>(vertices->lock(0, batch * 4));
        uint16_t* i = v ? indices->lock(0, batch * 6) : nullptr;
        if (!v) return;
        memcpy(v, &quads[done * 4], sizeof(ScreenVertex) * size_t(batch) * 4);
        vertices->unlock();
        if (!i) return;
        for (int32_t s = 0; s < batch; ++s) {
            auto c = uint16_t(s * 4);
            const uint16_t two[6] = {c, uint16_t(c + 1), uint16_t(c + 2),
                                     c, uint16_t(c + 2), uint16_t(c + 3)};
            memcpy(i + s * 6, two, sizeof two);
        }
        indices->unlock();
        uint32_t first = vertices->use();
        uint32_t start = indices->use(first);
        drawIndexed(D3DPT_TRIANGLELIST, 0, uint32_t(batch * 4), start, uint32_t(batch * 2));
    }
    setRenderState(D3DRS_ZWRITEENABLE, 1);
    setRenderState(D3DRS_ALPHABLENDENABLE, 0);
}

} // namespace effects

const EffectClass pilztumEffectClass = {"pilztum", nullptr, nullptr,
                                        createEffectOf<effects::PilztumEffect>,
                                        recreateEffectOf<effects::PilztumEffect>};
