// "max": a talking head. The vowels heard on the sound input pick the mouth shapes of the
// morph mesh "max_headroom", the loudness opens the mouth, the teeth and eyes follow a pose
// table, the eyes look at the viewer, and the viewer steers the camera "orbitCam" with
// keys and mouse.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/scenefx_local.h"
#include "gfx/device.h"
#include "platform/log.h"
#include "scene/scenefile.h"

#include <cmath>
#include <cstring>

namespace effects {

namespace {

// Morph targets and vowel levels in the capture's order.
enum Vowel { kU, kO, kA, kE, kI, kVowels };
constexpr const char* kTargetNames[kVowels] = {"MSH-u", "MSH-o", "MSH-a", "MSH-e", "MSH-i"};
constexpr const char* kPieceNames[kHeadPieces] = {"up_teeth", "low_teeth", "sphere", "sphere1"};

// Per piece: translation, rotation about x, y, z (radians), scale. The rest pose changes
// nothing; each vowel pose is where the pieces go for that vowel at full weight. Model units:
// the head is about 7.5 tall and faces -z.
constexpr float kRestPiece[9] = {0, 0, 0, 0, 0, 0, 1, 1, 1};
constexpr float kVowelPoses[kVowels][MaxEffect::kPoseValues] = {
    // u: lips pushed forward, jaw a little open, eyes as they are
    {0, 0, -0.12f, 0, 0, 0, 0.85f, 1, 1, 0, -0.2f, -0.12f, 0, 0, 0, 0.85f, 1, 1,
     0, 0, 0,      0, 0, 0, 1,     1, 1, 0, 0,     0,      0, 0, 0, 1,     1, 1},
    // o: the jaw well down, the eyes open wide
    {0, 0.05f, -0.06f, 0, 0, 0, 0.9f, 1,    1, 0, -0.45f, -0.06f, 0.12f, 0, 0, 0.9f, 1,    1,
     0, 0,     0,      0, 0, 0, 1,    1.1f, 1, 0, 0,      0,      0,     0, 0, 1,    1.1f, 1},
    // a: the jaw all the way down and tipped back
    {0, 0.08f, 0, 0, 0, 0, 1,     1,     1, 0, -0.62f, 0.05f, 0.18f, 0, 0, 1,     1,     1,
     0, 0.03f, 0, 0, 0, 0, 1.04f, 1.06f, 1, 0, 0.03f,  0,     0,     0, 0, 1.04f, 1.06f, 1},
    // e: a narrow opening, the eyes narrowing
    {0, 0.03f, 0, 0, 0, 0, 1.05f, 1,    1, 0, -0.22f, 0, 0.05f, 0, 0, 1.05f, 1,    1,
     0, 0,     0, 0, 0, 0, 1,     0.9f, 1, 0, 0,      0, 0,     0, 0, 1,     0.9f, 1},
    // i: teeth nearly together, a squint
    {0, 0,      0, 0, 0, 0, 1.08f, 1,    1, 0, -0.13f, 0, 0, 0, 0, 1.08f, 1,    1,
     0, -0.02f, 0, 0, 0, 0, 1,     0.8f, 1, 0, -0.02f, 0, 0, 0, 0, 1,     0.8f, 1},
};
constexpr float kEyeTurnLimit = 0.6f; // radians off straight ahead

// Process-wide, as every "max" instance shares them.
float smoothedWeight[kVowels] = {};
float smoothedLoudness = 0;

D3DMATRIX poseMatrix(const float* values) {
    float cx = std::cos(values[3]), sx = std::sin(values[3]);
    float cy = std::cos(values[4]), sy = std::sin(values[4]);
    float cz = std::cos(values[5]), sz = std::sin(values[5]);
    D3DMATRIX scale, rx, ry, rz;
    scale.m[0][0] = values[6], scale.m[1][1] = values[7], scale.m[2][2] = values[8];
    rx.m[1][1] = rx.m[2][2] = cx, rx.m[1][2] = sx, rx.m[2][1] = -sx;
    ry.m[0][0] = ry.m[2][2] = cy, ry.m[0][2] = -sy, ry.m[2][0] = sy;
    rz.m[0][0] = rz.m[1][1] = cz, rz.m[0][1] = sz, rz.m[1][0] = -sz;
    return multiply(multiply(multiply(scale, rx), ry), rz);
}

float length3(const float* v) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// A rotation whose local -z (where the iris is) points along `towards`, turned at most
// kEyeTurnLimit away from straight ahead (-z).
D3DMATRIX lookRotation(const float* towards) {
    float d[3] = {towards[0], towards[1], towards[2]};
    float length = length3(d);
    D3DMATRIX m;
    if (!(length > 0) || !std::isfinite(length)) return m;
    for (float& v : d)
        v /= length;
    float ahead = -d[2];
    if (ahead < std::cos(kEyeTurnLimit)) {
        float side[3] = {d[0], d[1], 0};
        float sideLength = length3(side);
        if (sideLength == 0) return m;
        for (int i = 0; i < 2; ++i)
            d[i] = side[i] / sideLength * std::sin(kEyeTurnLimit);
        d[2] = -std::cos(kEyeTurnLimit);
    }
    float z[3] = {-d[0], -d[1], -d[2]};
    float y[3] = {-z[0] * z[1], 1 - z[1] * z[1], -z[2] * z[1]};
    float yLength = length3(y);
    for (float& v : y)
        v /= yLength;
    float x[3] = {y[1] * z[2] - y[2] * z[1], y[2] * z[0] - y[0] * z[2], y[0] * z[1] - y[1] * z[0]};
    for (int c = 0; c < 3; ++c) {
        m.m[0][c] = x[c];
        m.m[1][c] = y[c];
        m.m[2][c] = z[c];
    }
    return m;
}

} // namespace

void resetMaxSmoothing() {
    for (float& w : smoothedWeight)
        w = 0;
    smoothedLoudness = 0;
}

MaxEffect::MaxEffect() {
    for (int32_t piece = 0; piece < kHeadPieces; ++piece)
        memcpy(&pose[piece * 9], kRestPiece, sizeof kRestPiece);
    capture.open(-1);
    capture.start();
    if (!capture.recording()) logf("GLED: warning - max: no sound input, the mouth stays shut\n");
}

MaxEffect::~MaxEffect() {
    capture.close();
    if (heard[kU] + heard[kO] + heard[kA] + heard[kE] + heard[kI] > 0)
        logf("GLED: max heard the vowels u %d, o %d, a %d, e %d, i %d (frames)\n", heard[kU],
             heard[kO], heard[kA], heard[kE], heard[kI]);
    delete scene;
}

void MaxEffect::set(const char* name, const char* value) {
    if (strcmp(name, "scene") == 0) loadScene(value);
}

void MaxEffect::loadScene(const char* name) {
    delete scene;
    scene = nullptr;
    camera = nullptr;
    head = nullptr;
    for (gledObject*& piece : pieces)
        piece = nullptr;
    if (!hasDevice()) return; // a dry parse: the head's buffers need a device
    scene = loadObjectScene(name);
    if (!scene) {
        logf("GLED: warning - max: scene file '%s' not found, nothing to show\n", name);
        return;
    }
    camera = scene->addControllableCamera(nullptr, "orbitCam");
    struct LightSetting {
        const char* name;
        float position[3];
        float colour[3];
    };
    const LightSetting lights[3] = {
        {"sceneLight", {-2.5f, 3, -6}, {0.75f, 0.75f, 0.75f}},
        {"sceneLight2", {0.3f, 5, -6}, {0.75f, 0.75f, 0.75f}},
        {"sceneLight3", {4.5f, 1.5f, -2.4f}, {0.375f, 0.1125f, 0.045f}}};
    for (const LightSetting& setting : lights) {
        gledLight* light = scene->addLight(nullptr, setting.name);
        light->type = 1;
        light->attenuation[0] = 1.0f;
        light->range = 1e9f;
        for (int c = 0; c < 3; ++c) {
            light->transform.m[3][c] = setting.position[c];
            light->diffuse[c] = light->specular[c] = setting.colour[c];
        }
    }
    head = dynamic_cast<gledMorphMesh*>(scene->findMesh("max_headroom"));
    if (!head) logf("GLED: warning - max: '%s' has no morph mesh 'max_headroom'\n", name);
    for (int32_t v = 0; head && v < kVowels; ++v) {
        bool found = false;
        for (const gledMorphMesh::Target& target : head->targets)
            found = found || strcmp(target.name, kTargetNames[v]) == 0;
        if (!found)
            logf("GLED: warning - max: 'max_headroom' in '%s' has no target '%s'\n", name,
                 kTargetNames[v]);
    }
    for (int32_t piece = 0; piece < kHeadPieces; ++piece) {
        pieces[piece] = scene->findObject(kPieceNames[piece]);
        if (pieces[piece])
            rest[piece] = pieces[piece]->transform;
        else
            logf("GLED: warning - max: '%s' has no object '%s'\n", name, kPieceNames[piece]);
    }
}

// The vowels choose the shapes, the loudness opens the mouth.
void MaxEffect::moveMouth() {
    float level[kVowels], largest = 0, kept = 0;
    for (int32_t v = 0; v < kVowels; ++v) {
        level[v] = capture.vowel[v].load(std::memory_order_relaxed);
        if (!std::isfinite(level[v]) || level[v] < 0) level[v] = 0;
        largest = std::fmax(largest, level[v]);
    }
    for (int32_t v = 0; v < kVowels; ++v)
        if (largest > 0 && level[v] == largest) {
            ++heard[v];
            break;
        }
    for (float& l : level) {
        if (l < 0.7f * largest) l = 0;
        kept += l;
    }
    for (int32_t v = 0; v < kVowels; ++v)
        smoothedWeight[v] = 0.6f * smoothedWeight[v] + 0.4f * (kept > 0 ? level[v] / kept : 0);
    float loudness = capture.loudness.load(std::memory_order_relaxed);
    if (!std::isfinite(loudness) || loudness < 0) loudness = 0;
    smoothedLoudness = 0.65f * smoothedLoudness + 0.35f * loudness;
    float open = std::fmax(0.0f, (smoothedLoudness - 0.2f) * 2);
    for (int32_t v = 0; v < kVowels; ++v)
        mouth[v] = smoothedWeight[v] * open + (v == kA ? 0.55f * open : 0.0f);
    if (!head) return;
    for (int32_t v = 0; v < kVowels; ++v)
        head->setWeight(kTargetNames[v], mouth[v]);
}

// The pose table blended by the mouth weights; the teeth move by it, the eyes also turn to
// the camera.
void MaxEffect::placePieces() {
    for (int32_t i = 0; i < kPoseValues; ++i) {
        float restValue = kRestPiece[i % 9];
        pose[i] = restValue;
        for (int32_t v = 0; v < kVowels; ++v)
            pose[i] += mouth[v] * (kVowelPoses[v][i] - restValue);
    }
    for (int32_t piece = 0; piece < kHeadPieces; ++piece) {
        gledObject* object = pieces[piece];
        if (!object) continue;
        const float* values = &pose[piece * 9];
        const D3DMATRIX& base = rest[piece];
        D3DMATRIX placed;
        if (piece == kLeftEye || piece == kRightEye) {
            // The file's scale stays, its rotation gives way to the look at the camera.
            D3DMATRIX scale;
            for (int r = 0; r < 3; ++r)
                scale.m[r][r] = length3(base.m[r]);
            float towards[3] = {0, 0, -1};
            if (camera)
                for (int c = 0; c < 3; ++c)
                    towards[c] = camera->eye[c] - base.m[3][c];
            placed = multiply(multiply(poseMatrix(values), scale), lookRotation(towards));
        } else {
            placed = multiply(poseMatrix(values), base);
        }
        for (int c = 0; c < 3; ++c)
            placed.m[3][c] = base.m[3][c] + values[c];
        object->transform = placed;
    }
}

void MaxEffect::render(uint32_t, uint32_t) {
    moveMouth();
    placePieces();
    if (camera) camera->update();
    if (!hasDevice()) return;
    resetSceneStages();
    setRenderState(D3DRS_ZENABLE, 1);
    setRenderState(D3DRS_NORMALIZENORMALS, 1);
    renderScene(view, scene);
}

} // namespace effects

const EffectClass maxEffectClass = {"max", nullptr, nullptr, createEffectOf<effects::MaxEffect>,
                                    recreateEffectOf<effects::MaxEffect>};
