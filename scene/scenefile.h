// Scene files: the object scene file (one serialised object graph whose root is a
// `gledScene`) and the flat scene file (counted tables of textures, meshes, objects, lights
// and cameras with key-framed tracks).
//
// Both readers check every count, size and index against the bytes that remain and against
// the tables read so far, so a truncated or hostile file is refused with a message naming the
// file and the table; a well-formed file reads exactly as laid out. The `read…` functions
// return null and an explanation; the `load…` functions, which the scene effects call, find
// the file through the file lookup and end on the fatal path when it is refused.
//
// Vertex and index data reach device buffers only when a device exists; without one they are
// kept in memory (the scene tool's `info`, tests, fuzzing).
#pragma once

#include "gfx/resources.h"
#include "platform/gpu/d3d8types.h"
#include "scene/scene.h"

#include <cstdint>
#include <string>
#include <vector>

class Stream;
struct Texture;

// ---- Object scene file ----

// Reads a scene object from the stream; null (and why in *error) when the file is refused.
gledScene* readObjectScene(Stream* stream, std::string* error);
// Acquires the file by name, reads it and releases it. A file that is not found gives null;
// a refused file is fatal ("mat load error: …" and the other texts name the list that failed).
gledScene* loadObjectScene(const char* name);
// Scene files of both kinds loaded so far (for the load report).
uint32_t sceneLoadCount();

// ---- Flat scene file ----

struct FlatKey {
    int32_t frame = 0;
    uint32_t linear = 0;
    float tension = 0, continuity = 0, bias = 0;
};

struct FlatTrack {
    int32_t valueCount = 0;
    int32_t length = 0;   // frame of the last key
    int32_t loopMode = 0; // 0 first key after the end, 1 hold the last, 2 repeat
    std::vector<FlatKey> keys;
    std::vector<float> values; // keys.size() x valueCount
    const float* keyValues(size_t key) const { return values.data() + key * size_t(valueCount); }
};

struct FlatPrimitive {
    uint32_t type = 0;
    uint32_t indexCount = 0;
    uint32_t primitiveCount = 0;
    std::vector<uint16_t> indices;
    IndexBuffer buffer;
};

struct FlatPart {
    uint32_t vertexCount = 0;
    uint32_t vertexFormat = 0;
    std::vector<uint8_t> vertexData;
    VertexBuffer buffer;
    uint32_t colour = 0;   // 0x00RRGGBB when the format has no diffuse colour
    uint32_t texture1 = 0; // 1-based texture index, 0 none
    uint32_t texture2 = 0; // reflection map, 1-based, 0 none
    uint32_t flags = 0;    // bit 0: no back-face culling
    uint32_t filter = 0;   // bits 0-3 texture 1, 4-7 texture 2: bit 0 linear, bit 1 mip
    std::vector<FlatPrimitive> primitives;
};

struct FlatMesh {
    std::vector<FlatPart> parts;
    float box[6] = {}; // two opposite corners
};

struct FlatObject {
    int32_t meshIndex = -1;
    int32_t parentIndex = -1;
    FlatMesh* mesh = nullptr;
    struct FlatObject* parent = nullptr;
    FlatTrack track; // position, three angles, three scales
    float pivot[3] = {};
    char name[256] = {};
    // Per frame (renderer)
    D3DMATRIX world;
    bool computed = false;
    bool visiting = false;   // on the parent walk of the current object
    float timeOverride = -1; // "time_" override in frames, < 0 none
    float time = 0;
};

struct FlatLight {
    int32_t objectIndex = -1;
    FlatObject* object = nullptr;
    FlatTrack position;  // 3 values
    FlatTrack intensity; // first value
    bool hasGlow = false;
    Texture* glowTexture = nullptr;
    FlatTrack glow;
    float values[7] = {}; // unused, attenuation 1, attenuation 2, red, green, blue, radius
};

struct FlatCamera {
    FlatTrack placement; // like an object track
    FlatTrack zoom;
    int32_t objectNumber = 0; // 0 none, else 1 + object index
    FlatObject* object = nullptr;
};

struct FlatScene {
    std::vector<std::string> textureNames;
    std::vector<Texture*> textures; // resolved by name, null when not found
    std::vector<FlatMesh> meshes;
    std::vector<FlatObject> objects;
    std::vector<FlatLight> lights;
    std::vector<FlatCamera> cameras;
    float animationRate = 0; // track frames per second
    uint32_t ambientColour = 0;
    float ambientLevel = 1, ambientRed = 1, ambientGreen = 1, ambientBlue = 1;
    std::vector<uint8_t> lightWork[2]; // 20 and 72 bytes per light, filled by the renderer
};

// Reads the tables; null (and why in *error, naming the table) when refused. Textures are
// resolved through the texture pool when it exists, device buffers made when a device does.
FlatScene* readFlatScene(Stream* stream, std::string* error);
// Acquires the file by name; null when it is not found; fatal when refused.
FlatScene* loadFlatScene(const char* name);
// Gives back textures and buffers and frees the scene.
void freeFlatScene(FlatScene* scene);
