// Scene graph classes: the object scene that an object scene file holds and the object-scene
// renderer draws.
//
// A `gledScene` owns a texture pool (names resolved through the texture pool of gfx/), its
// materials, meshes (plain or morph meshes made of sub-meshes with indexed primitives), scene
// items (objects, lights, cameras, each with a transform and a name) and an extra list. Every
// class is an `nkObject` (scene/object.h); the registry creates them empty and their `load`
// (scene/scenefile.h describes the layout) fills them. Effects add a controllable camera and
// lights at run time.
//
// Vertex and index data go into device buffers when a device exists; without one (the scene
// tool, loader tests, fuzzing) they stay in memory and nothing is drawn.
//
// The controllable camera reads keys, mouse and the music clock through `SceneInput`, which
// the shell fills (`setSceneInput`) because the input tables live above this library.
#pragma once

#include "gfx/resources.h"
#include "platform/gpu/d3d8types.h"
#include "scene/object.h"

#include <cstdint>
#include <vector>

struct Texture;
class gledScene;

inline constexpr ClassId kTexturePoolId{0x20000, 1, 0};
inline constexpr ClassId kSceneId{0x20000, 2, 0};
inline constexpr ClassId kD3DMeshId{0x20000, 3, 0};
inline constexpr ClassId kSceneObjectId{0x20000, 4, 0};
inline constexpr ClassId kLightId{0x20000, 5, 0};
inline constexpr ClassId kCameraId{0x20000, 6, 1};
inline constexpr ClassId kPrimitiveId{0x20000, 7, 1};
inline constexpr ClassId kMaterialId{0x20000, 8, 0};
inline constexpr ClassId kSubMeshId{0x20000, 9, 1};
inline constexpr ClassId kMeshId{0x20000, 10, 0};
inline constexpr ClassId kMorphMeshId{0x20000, 11, 0};
inline constexpr ClassId kControllableCameraId{0x20002, 0, 0};

constexpr int32_t kSceneNameSize = 256;

// Registers the ten scene classes once per process, in their fixed order.
void registerSceneClasses();

// What the controllable camera reads: scan codes, button bits 1 left, 2 right, 4 middle.
struct SceneInput {
    int (*isKeyDown)(int code) = nullptr;
    int (*wasKeyPressed)(int code) = nullptr; // consumes the latched press
    int (*mouseButtons)() = nullptr;
    void (*readMouseMotion)(int& dx, int& dy, int& dz) = nullptr;
    void (*captureMouse)() = nullptr;
    void (*releaseMouse)() = nullptr;
    int32_t (*clock)() = nullptr; // running music clock (tmxGetClock when null)
};
void setSceneInput(const SceneInput& input);
const SceneInput& sceneInput();

// Texture names of scene files become pool textures here (null without a pool).
Texture* acquireSceneTexture(const char* name, uint32_t flags);
void releaseSceneTexture(Texture* texture);

// The scene whose load is running; materials, sub-meshes and items resolve indices in it.
gledScene* sceneBeingLoaded();

// Copies a name into a fixed field, truncated and always terminated.
void copyName(char* field, int32_t capacity, const char* text, int32_t length);

class gledTexturePool : public nkPersistent {
  public:
    struct Entry {
        char name[kSceneNameSize] = {};
        int32_t id = 0; // 1-based position
        Texture* texture = nullptr;
    };
    ~gledTexturePool() override;
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;
    Texture* textureById(int32_t id) const;
    bool hasId(int32_t id) const;

    std::vector<Entry> entries;
};

struct MaterialStage {
    int32_t textureId = 0;      // as stored; 0 or an id outside the pool: no texture
    Texture* texture = nullptr; // resolved through the scene's texture pool
    uint32_t colorOp = 0, colorArg1 = 0, colorArg2 = 0;
    uint32_t alphaOp = 0, alphaArg1 = 0, alphaArg2 = 0;
    uint32_t texCoordIndex = 0, addressU = 0, addressV = 0;
    uint32_t filter = 0; // bit 0 linear, bit 1 mip-mapping
    uint32_t transformFlags = 0;
    uint32_t unused = 0;
};

class gledMaterial : public nkPersistent {
  public:
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;
    void apply() const;

    char name[kSceneNameSize] = {};
    gledScene* scene = nullptr;
    float diffuse[3] = {1, 1, 1};
    uint32_t reserved = 0;
    float specular[3] = {0, 0, 0};
    float power = 0;    // 0: specular lighting off
    uint32_t flags = 0; // bit 1: diffuse from the vertex colour
    uint32_t stageCount = 0;
    std::vector<MaterialStage> stages;
    uint32_t blend = 0;
    uint32_t sourceBlend = 2;      // one
    uint32_t destinationBlend = 1; // zero
};

class gledPrimitive : public nkPersistent {
  public:
    ~gledPrimitive() override;
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;
    // Static index buffer from the indices (mode 0 with a device; the morph drawing copy).
    void upload();

    uint32_t storageMode = 0; // 0 static index buffer, 1 indices kept in memory
    uint32_t type = 0;        // primitive type 1..6
    uint32_t indexCount = 0;
    uint32_t primitiveCount = 0;
    IndexBuffer indexBuffer;
    std::vector<uint16_t> indices; // mode 1, or mode 0 without a device
};

// Primitives that `type` makes of n indices (0 for an unknown type).
uint32_t primitiveCountOf(uint32_t type, uint32_t indexCount);

class gledSubMesh : public nkPersistent {
  public:
    ~gledSubMesh() override;
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;
    void draw();
    // Static (or dynamic) vertex buffer filled from vertexData.
    void upload(bool dynamic);

    uint32_t storageMode = 0;
    gledScene* scene = nullptr;
    gledMaterial* material = nullptr;
    uint32_t vertexCount = 0;
    uint32_t vertexFormat = 0;
    uint32_t dataSize = 0;
    VertexBuffer vertexBuffer;
    std::vector<uint8_t> vertexData; // mode 1, or mode 0 without a device
    uint32_t primitiveCount = 0;
    std::vector<gledPrimitive*> primitives;
};

class gledMesh : public nkPersistent {
  public:
    explicit gledMesh(int32_t value = 0) : value(value) {}
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    virtual void draw() = 0;

    int32_t value = 0;
    char name[kSceneNameSize] = {};
};

class gledD3DMesh : public gledMesh {
  public:
    ~gledD3DMesh() override;
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;
    void draw() override;

    std::vector<gledSubMesh*> subMeshes;
};

class gledMorphMesh : public gledMesh {
  public:
    struct Part {
        gledSubMesh* source = nullptr;
        gledSubMesh* drawing = nullptr; // null without a device
        std::vector<uint8_t> work;      // the blended vertices
    };
    struct Target {
        char name[kSceneNameSize] = {};
        std::vector<uint32_t> deltas; // per part: (vertex index, vertex-size / 4 floats)..., -1
        float weight = 0;
    };
    ~gledMorphMesh() override;
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;
    void setWeight(const char* targetName, float weight);
    // Blends the source vertices and the weighted targets into the work buffers.
    void blend();
    void draw() override;

    std::vector<Part> parts;
    std::vector<Target> targets;
    bool dirty = false;
};

class gledSceneItem : public nkPersistent {
  public:
    gledSceneItem() = default;
    gledSceneItem(gledScene* scene, gledSceneItem* parent, const char* name);
    // The common head: parent, transform, name.
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;

    gledScene* scene = nullptr;
    gledSceneItem* parent = nullptr;
    D3DMATRIX transform;
    char name[kSceneNameSize] = {};
};

class gledObject : public gledSceneItem {
  public:
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;

    gledMesh* mesh = nullptr;
};

class gledLight : public gledSceneItem {
  public:
    gledLight() = default;
    gledLight(gledScene* scene, gledSceneItem* parent, const char* name);
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;
    void apply(uint32_t index) const;
    D3DLIGHT8 deviceLight() const;

    uint32_t type = 1; // 1 point, 2 spot, 3 directional
    float diffuse[3] = {0, 0, 0};
    float specular[3] = {0, 0, 0};
    float range = 0, falloff = 0;
    float attenuation[3] = {0, 0, 0};
    float innerCone = 0, outerCone = 0;
};

class gledCamera : public gledSceneItem {
  public:
    gledCamera() = default;
    gledCamera(gledScene* scene, gledSceneItem* parent, const char* name)
        : gledSceneItem(scene, parent, name) {}
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;

    float zoomX = 0, zoomY = 0;
};

class gledControllableCamera : public gledCamera {
  public:
    gledControllableCamera(gledScene* scene, gledSceneItem* parent, const char* name);
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    void update();
    // Rebuilds the transform from eye and target.
    void lookAtTarget();

    float eye[3] = {0, 0, -10};
    float target[3] = {0, 0, 0};
    bool armed = false;
    float dollyDirection = 1;
    bool clockStarted = false;
    int32_t lastClock = 0;
};

class gledScene : public nkPersistent {
  public:
    ~gledScene() override;
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    int32_t load(ObjectStream* stream, const ClassId& storedId) override;

    gledMesh* findMesh(const char* name) const;
    gledObject* findObject(const char* name) const;
    gledControllableCamera* addControllableCamera(gledSceneItem* parent, const char* name);
    gledLight* addLight(gledSceneItem* parent, const char* name);

    gledTexturePool* texturePool = nullptr;
    std::vector<gledMaterial*> materials;
    std::vector<gledMesh*> meshes;
    std::vector<gledSceneItem*> items;
    std::vector<gledObject*> objects;
    std::vector<gledLight*> lights;
    std::vector<gledCamera*> cameras;
    std::vector<nkObject*> extra;
    // Why the last load failed ("mat load error", or what a check found); empty after success.
    char loadError[kSceneNameSize] = {};
};

// ---- Matrix helpers of the scene engine ----
D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b); // a then b (row vectors)
// Inverse of an affine matrix (fourth column 0, 0, 0, 1); the identity for a singular one.
D3DMATRIX affineInverse(const D3DMATRIX& m);
