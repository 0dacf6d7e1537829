// Scene classes: identities and queries, registration, ownership, drawing, morphing, the
// controllable camera and the matrix helpers. What each class reads is in scenefile.cpp.
//
// Sections: queries and registration; texture names; ownership; drawing; morph meshes;
// scene lists; the controllable camera; matrices.
#include "scene/scene.h"

#include "gfx/device.h"
#include "gfx/dxcheck.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "platform/music/music.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

SceneInput input;

// Steps 1 and 2 of every class's query: its class info and its own identity.
bool answerOwn(nkObject* self, const ClassId& own, const char* name, const ClassId& id,
               nkObject** out, int32_t* result) {
    if (!out) {
        *result = kObjectNull;
        return true;
    }
    if (sameIdentity(id, kClassInfoId)) {
        *result = answerClassInfo(&own, name, out);
        return true;
    }
    if (sameIdentity(id, own)) {
        *out = self;
        self->addRef();
        *result = kObjectOk;
        return true;
    }
    return false;
}

template <class T> nkObject* createOf() {
    return new (std::nothrow) T;
}

void releaseAll(auto& list) {
    for (auto* object : list)
        if (object) object->release();
    list.clear();
}

} // namespace

// ---- Queries and registration ----

#define LUX_SCENE_QUERY(Class, own, Base)                                                          \
    int32_t Class::queryInterface(const ClassId& id, nkObject** out) {                             \
        int32_t result = 0;                                                                        \
        if (answerOwn(this, own, #Class, id, out, &result)) return result;                         \
        return Base::queryInterface(id, out);                                                      \
    }

LUX_SCENE_QUERY(gledTexturePool, kTexturePoolId, nkPersistent)
LUX_SCENE_QUERY(gledScene, kSceneId, nkPersistent)
LUX_SCENE_QUERY(gledMaterial, kMaterialId, nkPersistent)
LUX_SCENE_QUERY(gledPrimitive, kPrimitiveId, nkPersistent)
LUX_SCENE_QUERY(gledSubMesh, kSubMeshId, nkPersistent)
LUX_SCENE_QUERY(gledMesh, kMeshId, nkPersistent)
LUX_SCENE_QUERY(gledD3DMesh, kD3DMeshId, gledMesh)
LUX_SCENE_QUERY(gledMorphMesh, kMorphMeshId, gledMesh)
LUX_SCENE_QUERY(gledObject, kSceneObjectId, gledSceneItem)
LUX_SCENE_QUERY(gledLight, kLightId, gledSceneItem)
LUX_SCENE_QUERY(gledCamera, kCameraId, gledSceneItem)
// The controllable camera skips the camera identity: it is no camera of a file.
LUX_SCENE_QUERY(gledControllableCamera, kControllableCameraId, nkPersistent)

#undef LUX_SCENE_QUERY

void registerSceneClasses() {
    // Once per registry: the process keeps one from start-up to shutdown.
    if (isClassRegistered(kSceneId) == kObjectOk) return;
    const ClassFactory factories[] = {
        {&kTexturePoolId, createOf<gledTexturePool>},
        {&kMaterialId, createOf<gledMaterial>},
        {&kPrimitiveId, createOf<gledPrimitive>},
        {&kSubMeshId, createOf<gledSubMesh>},
        {&kD3DMeshId, createOf<gledD3DMesh>},
        {&kSceneObjectId, createOf<gledObject>},
        {&kLightId, createOf<gledLight>},
        {&kCameraId, createOf<gledCamera>},
        {&kSceneId, createOf<gledScene>},
        {&kMorphMeshId, createOf<gledMorphMesh>},
    };
    for (const ClassFactory& factory : factories)
        registerClass(factory);
}

void setSceneInput(const SceneInput& hooks) {
    input = hooks;
}

const SceneInput& sceneInput() {
    return input;
}

void copyName(char* field, int32_t capacity, const char* text, int32_t length) {
    if (capacity <= 0) return;
    if (!text || length < 0) length = 0;
    if (length > capacity - 1) length = capacity - 1;
    if (length > 0) memcpy(field, text, size_t(length));
    field[length] = 0;
}

// ---- Texture names ----

Texture* acquireSceneTexture(const char* name, uint32_t flags) {
    if (!texturePool() || !name || !name[0]) return nullptr;
    return acquireTexture(name, flags);
}

void releaseSceneTexture(Texture* texture) {
    if (texture && texturePool()) releaseTexture(texture);
}

Texture* gledTexturePool::textureById(int32_t id) const {
    if (id == 0) return nullptr;
    for (const Entry& entry : entries)
        if (entry.id == id) return entry.texture;
    return nullptr;
}

bool gledTexturePool::hasId(int32_t id) const {
    if (id == 0) return false;
    for (const Entry& entry : entries)
        if (entry.id == id) return true;
    return false;
}

// ---- Ownership ----

gledTexturePool::~gledTexturePool() {
    for (Entry& entry : entries)
        releaseSceneTexture(entry.texture);
}

gledPrimitive::~gledPrimitive() {
    if (indexBuffer.id) indexBuffer.destroy();
}

gledSubMesh::~gledSubMesh() {
    for (gledPrimitive* primitive : primitives)
        delete primitive;
    if (vertexBuffer.id) vertexBuffer.destroy();
}

gledD3DMesh::~gledD3DMesh() {
    for (gledSubMesh* subMesh : subMeshes)
        delete subMesh;
}

gledMorphMesh::~gledMorphMesh() {
    for (Part& part : parts) {
        delete part.source;
        delete part.drawing;
    }
}

gledScene::~gledScene() {
    delete texturePool;
    releaseAll(materials);
    releaseAll(meshes);
    releaseAll(items);
    releaseAll(extra);
    objects.clear();
    lights.clear();
    cameras.clear();
}

gledSceneItem::gledSceneItem(gledScene* owner, gledSceneItem* parentItem, const char* itemName)
    : scene(owner), parent(parentItem) {
    copyName(name, kSceneNameSize, itemName, itemName ? int32_t(strlen(itemName)) : 0);
}

gledLight::gledLight(gledScene* owner, gledSceneItem* parentItem, const char* itemName)
    : gledSceneItem(owner, parentItem, itemName) {}

gledControllableCamera::gledControllableCamera(gledScene* owner, gledSceneItem* parentItem,
                                               const char* itemName)
    : gledCamera(owner, parentItem, itemName) {
    zoomX = 1.0f;
    uint32_t bits = 0x3FAAA993;
    memcpy(&zoomY, &bits, 4);
}

// ---- Drawing ----

uint32_t primitiveCountOf(uint32_t type, uint32_t n) {
    switch (type) {
    case 1:
        return n;
    case 2:
        return n / 2;
    case 3:
        return n >= 1 ? n - 1 : 0;
    case 4:
        return n / 3;
    case 5:
    case 6:
        return n >= 2 ? n - 2 : 0;
    default:
        return 0;
    }
}

void gledPrimitive::upload() {
    if (indexCount == 0 || indices.size() < indexCount) return;
    indexBuffer.create(indexCount, false, false, false);
    if (void* target = indexBuffer.lock(0, -1, kLockNormal)) {
        memcpy(target, indices.data(), indexCount * 2u);
        indexBuffer.unlock();
    }
}

void gledSubMesh::upload(bool dynamic) {
    if (vertexCount == 0) return;
    vertexBuffer.create(vertexFormat, vertexCount, dynamic, dynamic);
    if (dynamic || vertexData.size() < dataSize) return;
    if (void* target = vertexBuffer.lock(0, -1, kLockNormal)) {
        memcpy(target, vertexData.data(), dataSize);
        vertexBuffer.unlock();
    }
}

void gledMaterial::apply() const {
    D3DMATERIAL8 material;
    material.Diffuse = {diffuse[0], diffuse[1], diffuse[2], 0};
    material.Specular = {specular[0], specular[1], specular[2], 0};
    material.Power = power;
    checkDx(dxDevice()->SetMaterial(&material), "SetMaterial FAILED", false);
    setRenderState(D3DRS_SPECULARENABLE, power != 0 ? 1 : 0);
    setRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
    setRenderState(D3DRS_DIFFUSEMATERIALSOURCE, (flags & 2) ? D3DMCS_COLOR1 : D3DMCS_MATERIAL);
    setRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
    setRenderState(D3DRS_ALPHABLENDENABLE, blend ? 1 : 0);
    if (blend) {
        setRenderState(D3DRS_SRCBLEND, sourceBlend);
        setRenderState(D3DRS_DESTBLEND, destinationBlend);
    }
    for (uint32_t s = 0; s < stageCount && s < stages.size(); ++s) {
        if (s >= blendStageCount()) {
            logf("GLED: Not enough texture stages available to fully set Material\n");
            return;
        }
        const MaterialStage& stage = stages[s];
        bindTexture(s, stage.texture);
        setStageState(s, D3DTSS_COLOROP, stage.colorOp);
        if (stage.colorOp != 1 && stage.colorOp != 3)
            setStageState(s, D3DTSS_COLORARG1, stage.colorArg1);
        if (stage.colorOp != 1 && stage.colorOp != 2)
            setStageState(s, D3DTSS_COLORARG2, stage.colorArg2);
        setStageState(s, D3DTSS_ALPHAOP, stage.alphaOp);
        if (stage.alphaOp != 1 && stage.alphaOp != 3)
            setStageState(s, D3DTSS_ALPHAARG1, stage.alphaArg1);
        if (stage.alphaOp != 1 && stage.alphaOp != 2)
            setStageState(s, D3DTSS_ALPHAARG2, stage.alphaArg2);
        setStageState(s, D3DTSS_TEXCOORDINDEX, stage.texCoordIndex);
        setStageState(s, D3DTSS_ADDRESSU, stage.addressU);
        setStageState(s, D3DTSS_ADDRESSV, stage.addressV);
        uint32_t filter = (stage.filter & 1) ? D3DTEXF_LINEAR : D3DTEXF_POINT;
        setStageState(s, D3DTSS_MINFILTER, filter);
        setStageState(s, D3DTSS_MAGFILTER, filter);
        uint32_t mip = !(stage.filter & 2)       ? D3DTEXF_NONE
                       : deviceSettings.notrilin ? D3DTEXF_POINT
                                                 : D3DTEXF_LINEAR;
        setStageState(s, D3DTSS_MIPFILTER, mip);
        setStageState(s, D3DTSS_TEXTURETRANSFORMFLAGS, stage.transformFlags);
    }
    // The stage after the material's last ends the cascade: whatever the effect drawn before
    // left there (a picture, a blend op) would else be laid over this material.
    uint32_t used = uint32_t(std::min<size_t>(stageCount, stages.size()));
    if (used < blendStageCount()) {
        bindTexture(used, nullptr);
        setStageState(used, D3DTSS_COLOROP, D3DTOP_DISABLE);
        setStageState(used, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }
}

void gledSubMesh::draw() {
    // Without a material the previous material stays in effect.
    if (material) material->apply();
    if (!vertexBuffer.id) return;
    vertexBuffer.use();
    for (gledPrimitive* primitive : primitives) {
        if (!primitive->indexBuffer.id || primitive->primitiveCount == 0) continue;
        primitive->indexBuffer.use(0);
        drawIndexed(D3DPRIMITIVETYPE(primitive->type), 0, vertexCount, 0,
                    primitive->primitiveCount);
    }
}

void gledD3DMesh::draw() {
    for (gledSubMesh* subMesh : subMeshes)
        subMesh->draw();
}

D3DLIGHT8 gledLight::deviceLight() const {
    D3DLIGHT8 light;
    light.Type = D3DLIGHTTYPE(type);
    light.Diffuse = {diffuse[0], diffuse[1], diffuse[2], 0};
    light.Specular = {specular[0], specular[1], specular[2], 0};
    light.Position = {transform.m[3][0], transform.m[3][1], transform.m[3][2]};
    light.Range = range;
    light.Falloff = falloff;
    light.Attenuation0 = attenuation[0];
    light.Attenuation1 = attenuation[1];
    light.Attenuation2 = attenuation[2];
    light.Theta = innerCone;
    light.Phi = outerCone;
    return light;
}

void gledLight::apply(uint32_t index) const {
    D3DLIGHT8 light = deviceLight();
    checkDx(dxDevice()->SetLight(index, &light), "SetLight FAILED", false);
    checkDx(dxDevice()->LightEnable(index, true), "LightEnable FAILED", false);
}

// ---- Morph meshes ----

void gledMorphMesh::setWeight(const char* targetName, float weight) {
    for (Target& target : targets) {
        if (strncmp(target.name, targetName, kSceneNameSize - 1) != 0) continue;
        target.weight = weight;
        dirty = true;
        return;
    }
}

void gledMorphMesh::blend() {
    for (Part& part : parts) {
        part.work.assign(part.source->vertexData.begin(), part.source->vertexData.end());
    }
    for (const Target& target : targets) {
        if (!(target.weight >= 0.001f)) continue;
        // Sections were checked at load: every index is a vertex of its part.
        size_t word = 0;
        for (Part& part : parts) {
            uint32_t floats = fvfVertexSize(part.source->vertexFormat) / 4;
            float* vertices = reinterpret_cast<float*>(part.work.data());
            while (word < target.deltas.size() && int32_t(target.deltas[word]) != -1) {
                float* vertex = vertices + size_t(target.deltas[word]) * floats;
                const uint32_t* delta = &target.deltas[word + 1];
                for (uint32_t k = 0; k < floats; ++k) {
                    float d;
                    memcpy(&d, &delta[k], 4);
                    vertex[k] += target.weight * d;
                }
                word += 1 + floats;
            }
            ++word; // the -1 that ends the section
        }
    }
}

void gledMorphMesh::draw() {
    blend();
    for (Part& part : parts) {
        if (!part.drawing || !part.drawing->vertexBuffer.id) continue;
        if (void* target = part.drawing->vertexBuffer.lock(0, -1, kLockDiscard)) {
            memcpy(target, part.work.data(), part.work.size());
            part.drawing->vertexBuffer.unlock();
        }
    }
    dirty = false;
    for (Part& part : parts)
        if (part.drawing) part.drawing->draw();
}

// ---- Scene lists ----

gledMesh* gledScene::findMesh(const char* name) const {
    for (gledMesh* mesh : meshes)
        if (mesh && strncmp(mesh->name, name, kSceneNameSize - 1) == 0) return mesh;
    return nullptr;
}

gledObject* gledScene::findObject(const char* name) const {
    for (gledObject* object : objects)
        if (strncmp(object->name, name, kSceneNameSize - 1) == 0) return object;
    return nullptr;
}

gledControllableCamera* gledScene::addControllableCamera(gledSceneItem* parent, const char* name) {
    auto* camera = new gledControllableCamera(this, parent, name);
    items.push_back(camera);
    cameras.push_back(camera);
    return camera;
}

gledLight* gledScene::addLight(gledSceneItem* parent, const char* name) {
    auto* light = new gledLight(this, parent, name);
    items.push_back(light);
    lights.push_back(light);
    return light;
}

// ---- The controllable camera ----

namespace {

constexpr int kKeyO = 24, kKeyY = 21, kKeyP = 25;
constexpr float kPi = 3.14159265358979f;

float dot(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void normalise(float* v) {
    float length = std::sqrt(dot(v, v));
    if (length == 0) return;
    for (int i = 0; i < 3; ++i)
        v[i] /= length;
}

int keyDown(int code) {
    return input.isKeyDown ? input.isKeyDown(code) : 0;
}

int keyPressed(int code) {
    return input.wasKeyPressed ? input.wasKeyPressed(code) : 0;
}

// v times the yaw-pitch rotation (no roll) as a row vector.
void rotateYawPitch(float* v, float yaw, float pitch) {
    float sy = std::sin(yaw), cy = std::cos(yaw), sp = std::sin(pitch), cp = std::cos(pitch);
    const float m[3][3] = {{cy, 0, -sy}, {sp * sy, cp, sp * cy}, {cp * sy, -sp, cp * cy}};
    float r[3];
    for (int c = 0; c < 3; ++c)
        r[c] = v[0] * m[0][c] + v[1] * m[1][c] + v[2] * m[2][c];
    for (int c = 0; c < 3; ++c)
        v[c] = r[c];
}

} // namespace

void gledControllableCamera::lookAtTarget() {
    float z[3] = {target[0] - eye[0], target[1] - eye[1], target[2] - eye[2]};
    normalise(z);
    const float up[3] = {0, 1, 0};
    float along = dot(up, z);
    float y[3] = {up[0] - z[0] * along, up[1] - z[1] * along, up[2] - z[2] * along};
    normalise(y);
    float x[3] = {y[1] * z[2] - y[2] * z[1], y[2] * z[0] - y[0] * z[2], y[0] * z[1] - y[1] * z[0]};
    D3DMATRIX view;
    for (int r = 0; r < 3; ++r) {
        view.m[r][0] = x[r];
        view.m[r][1] = y[r];
        view.m[r][2] = z[r];
        view.m[r][3] = 0;
    }
    view.m[3][0] = -dot(eye, x);
    view.m[3][1] = -dot(eye, y);
    view.m[3][2] = -dot(eye, z);
    view.m[3][3] = 1;
    transform = affineInverse(view);
}

void gledControllableCamera::update() {
    int buttons = input.mouseButtons ? input.mouseButtons() : 0;
    bool orbit = keyDown(kKeyO), pan = keyDown(kKeyY), dolly = keyDown(kKeyP);
    // Every press is consumed, so none is left to arm the capture later.
    bool pressed = keyPressed(kKeyO) | keyPressed(kKeyY) | keyPressed(kKeyP);
    if (pressed) armed = true;
    if (armed && buttons) {
        if (input.captureMouse) input.captureMouse();
        armed = false;
    }
    if (!orbit && !pan && !dolly && !buttons && input.releaseMouse) input.releaseMouse();

    int dx = 0, dy = 0, dz = 0;
    if (input.readMouseMotion) input.readMouseMotion(dx, dy, dz);
    int32_t now = input.clock ? input.clock() : tmxGetClock();
    float dt = clockStarted ? float(now - lastClock) : 0.0f;
    clockStarted = true;
    lastClock = now;

    if (orbit) {
        float yaw = (buttons == 1 || buttons == 4) ? -float(dx) * kPi / 450 : 0.0f;
        float pitch = (buttons == 1 || buttons == 2) ? float(dy) * kPi / 450 : 0.0f;
        float v[3] = {target[0] - eye[0], target[1] - eye[1], target[2] - eye[2]};
        rotateYawPitch(v, yaw, pitch);
        for (int i = 0; i < 3; ++i)
            eye[i] = target[i] - v[i];
    } else if (pan) {
        if (buttons == 1) {
            const float* right = transform.m[0];
            const float* up = transform.m[1];
            for (int i = 0; i < 3; ++i) {
                float move = -float(dx) / 40 * right[i] + float(dy) / 40 * up[i];
                eye[i] += move;
                target[i] += move;
            }
        } else if (buttons == 2 || buttons == 4) {
            zoomX += (buttons == 2 ? 1.0f : -1.0f) * dt * 0.000004f;
            zoomX = std::fmin(std::fmax(zoomX, 0.01f), 4.0f);
            zoomY = zoomX * aspectRatio();
        }
    } else if (dolly) {
        float speed = buttons == 1 ? 0.01f : buttons == 4 ? 0.1f : buttons == 2 ? 1.0f : 0.0f;
        float v[3] = {eye[0] - target[0], eye[1] - target[1], eye[2] - target[2]};
        float d = std::sqrt(dot(v, v));
        float next = d + float(dx + dy) * speed * dollyDirection;
        if (next < 0) {
            dollyDirection = -dollyDirection;
            next = -next;
        }
        if (d > 0)
            for (int i = 0; i < 3; ++i)
                eye[i] = target[i] + v[i] * (next / d);
    }
    lookAtTarget();
}

// ---- Matrices ----

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += a.m[i][k] * b.m[k][j];
            r.m[i][j] = sum;
        }
    return r;
}

D3DMATRIX affineInverse(const D3DMATRIX& m) {
    const float(*a)[4] = m.m;
    float c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    float c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    float c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    float det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    D3DMATRIX r;
    if (det == 0 || !std::isfinite(det)) return r;
    float inv = 1.0f / det;
    // Inverse of the 3x3 part: the transposed cofactors over the determinant.
    r.m[0][0] = c00 * inv;
    r.m[1][0] = c01 * inv;
    r.m[2][0] = c02 * inv;
    r.m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * inv;
    r.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * inv;
    r.m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * inv;
    r.m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * inv;
    r.m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * inv;
    r.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * inv;
    for (int c = 0; c < 3; ++c) {
        r.m[3][c] = -(a[3][0] * r.m[0][c] + a[3][1] * r.m[1][c] + a[3][2] * r.m[2][c]);
        r.m[c][3] = 0;
    }
    r.m[3][3] = 1;
    return r;
}
