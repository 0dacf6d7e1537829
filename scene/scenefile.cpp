// Scene file readers: every scene class's `load` (object scene files) and the flat scene
// file's tables. Counts are checked against the bytes that remain before anything is
// allocated, sizes against the vertex format, indices against their tables.
//
// Sections: reading helpers; texture pool and materials; primitives and sub-meshes; meshes
// and morph meshes; scene items; the scene; object scene files; flat scene files.
#include "scene/scenefile.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "gfx/device.h"
#include "gfx/dxcheck.h"
#include "gfx/texturepool.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr int32_t kBadData = 0x10003; // the bytes contradict themselves or their tables
constexpr uint32_t kSceneTextureFlags = 96;
constexpr int32_t kMaxSceneNesting = 8;

gledScene* loading = nullptr;
int32_t sceneNesting = 0;
std::string problem; // what the last refused object found

int32_t refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
int32_t refuse(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (problem.empty()) problem = text;
    return kBadData;
}

int64_t remainingBytes(Stream* stream) {
    int64_t left = int64_t(stream->size()) - stream->tell();
    return left > 0 ? left : 0;
}

bool readBytes(Stream* stream, void* out, int64_t count) {
    if (count < 0 || count > remainingBytes(stream)) return false;
    return count == 0 || stream->read(out, int32_t(count)) == int32_t(count);
}

bool readU32(Stream* stream, uint32_t* value) {
    uint8_t b[4];
    if (!readBytes(stream, b, 4)) return false;
    *value = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
}

bool readI32(Stream* stream, int32_t* value) {
    return readU32(stream, reinterpret_cast<uint32_t*>(value));
}

bool readFloats(Stream* stream, float* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        uint32_t bits;
        if (!readU32(stream, &bits)) return false;
        memcpy(&values[i], &bits, 4);
    }
    return true;
}

bool readName8(Stream* stream, char* field) {
    uint8_t length = 0;
    char text[256];
    if (!readBytes(stream, &length, 1) || !readBytes(stream, text, length)) return false;
    copyName(field, kSceneNameSize, text, length);
    return true;
}

// A count of records of at least `minimum` bytes each that the rest of the stream can hold.
bool readCount(Stream* stream, uint32_t* count, int64_t minimum) {
    if (!readU32(stream, count)) return false;
    return int64_t(*count) * minimum <= remainingBytes(stream);
}

// Reads an object that must be of a class (or support an interface); the object stays in
// *out (null for a null reference).
int32_t readTyped(ObjectStream* stream, nkObject** out, const ClassId& wanted, bool byInterface,
                  const char* what) {
    *out = nullptr;
    int32_t result = stream->readObject(out);
    if (!*out) return result;
    // A partly read object stays in *out only when it is of the class asked for.
    int32_t kind = byInterface ? supportsInterface(*out, wanted) : isObjectOfClass(*out, wanted);
    if (kind == kObjectOk) return result;
    (*out)->release();
    *out = nullptr;
    return result != kObjectOk ? result
                               : refuse("an object of another class where %s belongs", what);
}

} // namespace

gledScene* sceneBeingLoaded() {
    return loading;
}

static bool deviceBuffers() {
    return hasDevice() && hasResourceManager();
}

// ---- Texture pool and materials ----

int32_t gledTexturePool::load(ObjectStream* stream, const ClassId&) {
    uint32_t count = 0;
    if (!readCount(stream, &count, 1)) return refuse("texture count past the end of the file");
    for (uint32_t k = 0; k < count; ++k) {
        Entry entry;
        if (!readName8(stream, entry.name)) return refuse("texture name %u cut off", k);
        entry.id = int32_t(k + 1);
        entry.texture = acquireSceneTexture(entry.name, kSceneTextureFlags);
        entries.push_back(entry);
    }
    return kObjectOk;
}

int32_t gledMaterial::load(ObjectStream* stream, const ClassId&) {
    scene = loading;
    uint32_t words[2];
    if (!readName8(stream, name) || !readFloats(stream, diffuse, 3) ||
        !readU32(stream, &reserved) || !readFloats(stream, specular, 3) ||
        !readFloats(stream, &power, 1) || !readU32(stream, &words[0]) ||
        !readCount(stream, &words[1], 52))
        return refuse("material '%s' cut off before its stages", name);
    flags = words[0];
    stageCount = words[1];
    stages.resize(stageCount);
    gledTexturePool* pool = scene ? scene->texturePool : nullptr;
    for (MaterialStage& stage : stages) {
        uint32_t record[13];
        for (uint32_t& word : record)
            if (!readU32(stream, &word)) return refuse("material '%s': stage cut off", name);
        stage.textureId = int32_t(record[0]);
        stage.texture = pool ? pool->textureById(stage.textureId) : nullptr;
        stage.colorOp = record[1];
        stage.colorArg1 = record[2];
        stage.colorArg2 = record[3];
        stage.alphaOp = record[4];
        stage.alphaArg1 = record[5];
        stage.alphaArg2 = record[6];
        stage.texCoordIndex = record[7];
        stage.addressU = record[8];
        stage.addressV = record[9];
        stage.filter = record[10];
        stage.transformFlags = record[11];
        stage.unused = record[12];
    }
    if (!readU32(stream, &blend) || !readU32(stream, &sourceBlend) ||
        !readU32(stream, &destinationBlend))
        return refuse("material '%s': blending cut off", name);
    return kObjectOk;
}

// ---- Primitives and sub-meshes ----

int32_t gledPrimitive::load(ObjectStream* stream, const ClassId& storedId) {
    storageMode = 0;
    if (storedId.version != 0 && !readU32(stream, &storageMode)) return refuse("primitive cut off");
    if (!readU32(stream, &type) || !readU32(stream, &indexCount))
        return refuse("primitive cut off");
    primitiveCount = primitiveCountOf(type, indexCount);
    if (storageMode > 1) return kObjectOk; // no index data follows
    if (int64_t(indexCount) * 2 > remainingBytes(stream))
        return refuse("primitive of %u indices past the end of the file", indexCount);
    indices.resize(indexCount);
    for (uint16_t& index : indices) {
        uint8_t b[2];
        if (!readBytes(stream, b, 2)) return refuse("primitive cut off");
        index = uint16_t(b[0] | b[1] << 8);
    }
    return kObjectOk;
}

int32_t gledSubMesh::load(ObjectStream* stream, const ClassId& storedId) {
    scene = loading;
    storageMode = 0;
    if (storedId.version != 0 && !readU32(stream, &storageMode)) return refuse("sub-mesh cut off");
    uint32_t materialIndex = 0;
    if (!readU32(stream, &materialIndex) || !readU32(stream, &vertexCount) ||
        !readU32(stream, &vertexFormat) || !readU32(stream, &dataSize))
        return refuse("sub-mesh cut off");
    if (scene && materialIndex < scene->materials.size())
        material = scene->materials[materialIndex];
    uint32_t stride = fvfVertexSize(vertexFormat);
    if (stride == 0 || uint64_t(vertexCount) * stride != dataSize)
        return refuse("sub-mesh: %u bytes of vertex data disagree with %u vertices of format %#x",
                      dataSize, vertexCount, vertexFormat);
    if (storageMode <= 1) {
        if (int64_t(dataSize) > remainingBytes(stream))
            return refuse("sub-mesh: %u bytes of vertex data past the end of the file", dataSize);
        vertexData.resize(dataSize);
        if (!readBytes(stream, vertexData.data(), dataSize)) return refuse("sub-mesh cut off");
    }
    if (!readCount(stream, &primitiveCount, kClassIdBytes))
        return refuse("sub-mesh: primitive count past the end of the file");
    for (uint32_t p = 0; p < primitiveCount; ++p) {
        nkObject* object = nullptr;
        int32_t result = readTyped(stream, &object, kPrimitiveId, false, "a primitive");
        if (object) primitives.push_back(static_cast<gledPrimitive*>(object));
        if (result != kObjectOk) return result;
        if (!object) return refuse("sub-mesh: a null primitive");
        for (uint16_t index : primitives.back()->indices)
            if (index >= vertexCount)
                return refuse("sub-mesh: index %u past its %u vertices", index, vertexCount);
    }
    if (storageMode == 0 && deviceBuffers()) {
        upload(false);
        vertexData = {};
        for (gledPrimitive* primitive : primitives) {
            if (primitive->storageMode != 0) continue;
            primitive->upload();
            primitive->indices = {};
        }
    }
    return kObjectOk;
}

// ---- Meshes and morph meshes ----

namespace {

// Sub-meshes of a mesh: count, then that many objects.
template <class Add> int32_t readSubMeshes(ObjectStream* stream, const char* meshName, Add add) {
    uint32_t count = 0;
    if (!readCount(stream, &count, kClassIdBytes))
        return refuse("mesh '%s': sub-mesh count past the end of the file", meshName);
    for (uint32_t c = 0; c < count; ++c) {
        nkObject* object = nullptr;
        int32_t result = readTyped(stream, &object, kSubMeshId, false, "a sub-mesh");
        if (object) add(static_cast<gledSubMesh*>(object));
        if (result != kObjectOk) return result;
        if (!object) return refuse("mesh '%s': a null sub-mesh", meshName);
    }
    return kObjectOk;
}

// The drawing copy of a morph part: the same geometry in a dynamic vertex buffer.
gledSubMesh* makeDrawingCopy(const gledSubMesh* source) {
    auto* copy = new gledSubMesh;
    copy->scene = source->scene;
    copy->material = source->material;
    copy->vertexCount = source->vertexCount;
    copy->vertexFormat = source->vertexFormat;
    copy->dataSize = source->dataSize;
    copy->upload(true);
    for (const gledPrimitive* from : source->primitives) {
        auto* primitive = new gledPrimitive;
        primitive->type = from->type;
        primitive->indexCount = from->indexCount;
        primitive->primitiveCount = from->primitiveCount;
        primitive->indices = from->indices;
        primitive->upload();
        primitive->indices = {};
        copy->primitives.push_back(primitive);
    }
    copy->primitiveCount = uint32_t(copy->primitives.size());
    return copy;
}

// Every section entry names a vertex of its part and carries a whole vertex of deltas.
bool checkDeltaSections(const std::vector<uint32_t>& deltas,
                        const std::vector<gledMorphMesh::Part>& parts) {
    size_t word = 0;
    for (const gledMorphMesh::Part& part : parts) {
        size_t floats = fvfVertexSize(part.source->vertexFormat) / 4;
        while (true) {
            if (word >= deltas.size()) return false;
            int32_t vertex = int32_t(deltas[word]);
            if (vertex == -1) break;
            if (vertex < 0 || uint32_t(vertex) >= part.source->vertexCount) return false;
            if (deltas.size() - word - 1 < floats) return false;
            word += 1 + floats;
        }
        ++word;
    }
    return true;
}

} // namespace

int32_t gledD3DMesh::load(ObjectStream* stream, const ClassId&) {
    if (!readName8(stream, name)) return refuse("mesh name cut off");
    return readSubMeshes(stream, name, [this](gledSubMesh* s) { subMeshes.push_back(s); });
}

int32_t gledMorphMesh::load(ObjectStream* stream, const ClassId&) {
    if (!readName8(stream, name)) return refuse("morph mesh name cut off");
    int32_t result = readSubMeshes(stream, name, [this](gledSubMesh* s) {
        Part part;
        part.source = s;
        parts.push_back(part);
    });
    if (result != kObjectOk) return result;
    for (Part& part : parts) {
        bool inMemory = part.source->storageMode == 1;
        for (const gledPrimitive* primitive : part.source->primitives)
            inMemory = inMemory && primitive->storageMode == 1;
        if (!inMemory) return refuse("morph mesh '%s': a part not kept in memory", name);
        if (deviceBuffers()) part.drawing = makeDrawingCopy(part.source);
    }
    uint32_t count = 0;
    if (!readCount(stream, &count, 5)) return refuse("morph mesh '%s': target count cut off", name);
    for (uint32_t t = 0; t < count; ++t) {
        Target target;
        uint32_t words = 0;
        if (!readName8(stream, target.name) || !readCount(stream, &words, 4))
            return refuse("morph mesh '%s': target %u cut off", name, t);
        target.deltas.resize(words);
        for (uint32_t& word : target.deltas)
            if (!readU32(stream, &word)) return refuse("morph mesh '%s': target cut off", name);
        if (!checkDeltaSections(target.deltas, parts))
            return refuse("morph mesh '%s': target '%s' names vertices its parts do not have", name,
                          target.name);
        targets.push_back(std::move(target));
    }
    return kObjectOk;
}

// ---- Scene items ----

int32_t gledSceneItem::load(ObjectStream* stream, const ClassId&) {
    scene = loading;
    uint32_t hasParent = 0, parentIndex = 0;
    if (!readU32(stream, &hasParent)) return refuse("scene item cut off");
    if (hasParent && !readU32(stream, &parentIndex)) return refuse("scene item cut off");
    if (hasParent && scene && parentIndex < scene->items.size()) parent = scene->items[parentIndex];
    if (!readFloats(stream, &transform.m[0][0], 16) || !readName8(stream, name))
        return refuse("scene item cut off");
    return kObjectOk;
}

int32_t gledObject::load(ObjectStream* stream, const ClassId& storedId) {
    if (int32_t result = gledSceneItem::load(stream, storedId)) return result;
    uint8_t hasMesh = 0;
    if (!readBytes(stream, &hasMesh, 1)) return refuse("object '%s' cut off", name);
    if (!hasMesh) return kObjectOk;
    uint32_t meshIndex = 0;
    if (!readU32(stream, &meshIndex)) return refuse("object '%s' cut off", name);
    if (scene && meshIndex < scene->meshes.size()) mesh = scene->meshes[meshIndex];
    return kObjectOk;
}

int32_t gledLight::load(ObjectStream* stream, const ClassId& storedId) {
    if (int32_t result = gledSceneItem::load(stream, storedId)) return result;
    float rest[7];
    if (!readU32(stream, &type) || !readFloats(stream, diffuse, 3) ||
        !readFloats(stream, specular, 3) || !readFloats(stream, rest, 7))
        return refuse("light '%s' cut off", name);
    range = rest[0];
    falloff = rest[1];
    for (int i = 0; i < 3; ++i)
        attenuation[i] = rest[2 + i];
    innerCone = rest[5];
    outerCone = rest[6];
    return kObjectOk;
}

int32_t gledCamera::load(ObjectStream* stream, const ClassId& storedId) {
    if (int32_t result = gledSceneItem::load(stream, storedId)) return result;
    if (storedId.version == 0) {
        zoomX = 1.0f;
        zoomY = 1.5f;
        return kObjectOk;
    }
    if (!readFloats(stream, &zoomX, 1) || !readFloats(stream, &zoomY, 1))
        return refuse("camera '%s' cut off", name);
    return kObjectOk;
}

// ---- The scene ----

namespace {

struct SceneList {
    const char* error; // the message a failure of this list gives
    const char* what;
    ClassId kind;
    bool byInterface;
};

bool isSceneItem(nkObject* object) {
    return isObjectOfClass(object, kSceneObjectId) == kObjectOk ||
           isObjectOfClass(object, kLightId) == kObjectOk ||
           isObjectOfClass(object, kCameraId) == kObjectOk;
}

template <class T>
int32_t readList(ObjectStream* stream, std::vector<T*>& list, const SceneList& kind) {
    list.clear();
    uint32_t count = 0;
    if (!readCount(stream, &count, kClassIdBytes)) {
        refuse("%s count past the end of the file", kind.what);
        return kStreamNoCount;
    }
    for (uint32_t i = 0; i < count; ++i) {
        nkObject* object = nullptr;
        int32_t result = kind.kind.group
                             ? readTyped(stream, &object, kind.kind, kind.byInterface, kind.what)
                             : stream->readObject(&object);
        if (object && !kind.kind.group && !isSceneItem(object)) {
            object->release();
            object = nullptr;
            if (result == kObjectOk)
                result = refuse("an object of another class where a scene item belongs");
        }
        if (object) list.push_back(static_cast<T*>(object));
        if (result != kObjectOk) return result;
        if (!object) list.push_back(nullptr);
    }
    return kObjectOk;
}

void sortItems(gledScene* scene) {
    scene->objects.clear();
    scene->lights.clear();
    scene->cameras.clear();
    for (gledSceneItem* item : scene->items) {
        if (!item) continue;
        if (isObjectOfClass(item, kSceneObjectId) == kObjectOk)
            scene->objects.push_back(static_cast<gledObject*>(item));
        else if (isObjectOfClass(item, kLightId) == kObjectOk)
            scene->lights.push_back(static_cast<gledLight*>(item));
        else if (isObjectOfClass(item, kCameraId) == kObjectOk)
            scene->cameras.push_back(static_cast<gledCamera*>(item));
    }
}

int32_t failList(gledScene* scene, const char* message, int32_t result) {
    snprintf(scene->loadError, sizeof scene->loadError, "%s", message);
    return result;
}

} // namespace

int32_t gledScene::load(ObjectStream* stream, const ClassId&) {
    if (sceneNesting >= kMaxSceneNesting) return refuse("scenes nested too deep");
    gledScene* outer = loading;
    loading = this;
    ++sceneNesting;
    loadError[0] = 0;
    int32_t result = kObjectOk;

    nkObject* pool = nullptr;
    readTyped(stream, &pool, kTexturePoolId, false, "the texture pool");
    delete texturePool;
    texturePool = static_cast<gledTexturePool*>(pool);

    static const SceneList kLists[] = {
        {"mat load error", "material", kMaterialId, false},
        {"mesh load error", "mesh", kMeshId, true},
        {"scene item load error", "scene item", {}, false},
    };
    result = readList(stream, materials, kLists[0]);
    if (result) result = failList(this, kLists[0].error, result);
    if (!result) result = readList(stream, meshes, kLists[1]);
    if (result && !loadError[0]) result = failList(this, kLists[1].error, result);
    if (!result) result = readList(stream, items, kLists[2]);
    if (result && !loadError[0]) result = failList(this, kLists[2].error, result);
    if (!result) {
        // A failure in the extra list ends it silently.
        extra.clear();
        uint32_t count = 0;
        if (readCount(stream, &count, kClassIdBytes)) {
            for (uint32_t i = 0; i < count; ++i) {
                nkObject* object = nullptr;
                int32_t code = stream->readObject(&object);
                if (object) extra.push_back(object);
                if (code != kObjectOk) break;
            }
        }
        problem.clear();
    }
    sortItems(this);
    --sceneNesting;
    loading = outer;
    return result;
}

// ---- Object scene files ----

gledScene* readObjectScene(Stream* stream, std::string* error) {
    problem.clear();
    ObjectStream objects(stream, false);
    nkObject* object = nullptr;
    int32_t result = readTyped(&objects, &object, kSceneId, false, "the scene");
    gledScene* scene = static_cast<gledScene*>(object);
    if (result == kObjectOk && scene) return scene;
    if (error) {
        *error = scene && scene->loadError[0] ? scene->loadError : "scene load error";
        if (!problem.empty())
            *error += ": " + problem;
        else if (result == kObjectNotRegistered)
            *error += ": an unknown class";
        else if (!scene && result == kObjectOk)
            *error += ": no scene in the file";
    }
    // The scene owns what it read; deleting it releases the partial lists.
    delete scene;
    return nullptr;
}

namespace {
uint32_t scenesLoaded = 0; // by loadObjectScene and loadFlatScene, for the load report
} // namespace

uint32_t sceneLoadCount() {
    return scenesLoaded;
}

gledScene* loadObjectScene(const char* name) {
    int32_t size = 0;
    Stream* file = openFile(name, &size);
    if (!file) return nullptr;
    std::string error;
    gledScene* scene = readObjectScene(file, &error);
    closeFile(file);
    if (!scene) fatal("%s (scene file '%s')\n", error.c_str(), name);
    ++scenesLoaded;
    return scene;
}

// ---- Flat scene files ----

namespace {

struct FlatReader {
    Stream* stream;
    std::string* error;
    const char* table = "";

    bool fail(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char text[256];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        if (error) *error = std::string("table '") + table + "': " + text;
        return false;
    }
    bool u32(uint32_t* v) { return readU32(stream, v) || fail("cut off"); }
    bool i32(int32_t* v) { return readI32(stream, v) || fail("cut off"); }
    bool floats(float* v, int32_t n) { return readFloats(stream, v, n) || fail("cut off"); }
    bool count(uint32_t* n, int64_t minimum) {
        if (!u32(n)) return false;
        if (int64_t(*n) * minimum > remainingBytes(stream))
            return fail("count %u past the end of the file", *n);
        return true;
    }
    // An index into a table of `size` entries, or -1.
    bool index(int32_t value, size_t size, const char* what) {
        if (value == -1 || (value >= 0 && size_t(value) < size)) return true;
        return fail("%s index %d past its table of %zu", what, value, size);
    }
};

bool readTrack(FlatReader& in, FlatTrack& track, int32_t minimumValues) {
    int32_t keyCount = 0;
    if (!in.i32(&track.valueCount) || !in.i32(&keyCount) || !in.i32(&track.length) ||
        !in.i32(&track.loopMode))
        return false;
    if (track.valueCount < minimumValues || track.valueCount > 1024)
        return in.fail("a track of %d values (%d needed)", track.valueCount, minimumValues);
    int64_t keyBytes = int64_t(track.valueCount) * 4 + 20;
    if (keyCount < 0 || int64_t(keyCount) * keyBytes > remainingBytes(in.stream))
        return in.fail("a track of %d keys past the end of the file", keyCount);
    track.keys.resize(size_t(keyCount));
    track.values.resize(size_t(keyCount) * size_t(track.valueCount));
    for (int32_t k = 0; k < keyCount; ++k) {
        FlatKey& key = track.keys[size_t(k)];
        if (!in.floats(&track.values[size_t(k) * size_t(track.valueCount)], track.valueCount) ||
            !in.i32(&key.frame) || !in.u32(&key.linear) || !in.floats(&key.tension, 1) ||
            !in.floats(&key.continuity, 1) || !in.floats(&key.bias, 1))
            return false;
        if (k > 0 && key.frame <= track.keys[size_t(k) - 1].frame)
            return in.fail("track keys not in ascending frame order");
    }
    return true;
}

bool readTextures(FlatReader& in, FlatScene& scene) {
    in.table = "textures";
    uint32_t count = 0;
    if (!in.count(&count, 2)) return false;
    for (uint32_t k = 0; k < count; ++k) {
        uint8_t b[2];
        if (!readBytes(in.stream, b, 2)) return in.fail("cut off");
        uint16_t length = uint16_t(b[0] | b[1] << 8);
        std::string name(length, '\0');
        if (!readBytes(in.stream, name.data(), length)) return in.fail("name %u cut off", k);
        scene.textureNames.push_back(name);
    }
    return true;
}

bool readPart(FlatReader& in, FlatPart& part, size_t textureCount) {
    uint32_t dataSize = 0;
    if (!in.u32(&part.vertexCount) || !in.u32(&part.vertexFormat) || !in.u32(&dataSize))
        return false;
    uint32_t stride = fvfVertexSize(part.vertexFormat);
    if (stride == 0 || uint64_t(part.vertexCount) * stride != dataSize)
        return in.fail("%u bytes of vertex data disagree with %u vertices of format %#x", dataSize,
                       part.vertexCount, part.vertexFormat);
    if (int64_t(dataSize) > remainingBytes(in.stream))
        return in.fail("%u bytes of vertex data past the end of the file", dataSize);
    part.vertexData.resize(dataSize);
    if (!readBytes(in.stream, part.vertexData.data(), dataSize)) return in.fail("cut off");
    uint32_t primitiveCount = 0;
    if (!in.u32(&part.colour) || !in.u32(&part.texture1) || !in.u32(&part.texture2) ||
        !in.u32(&part.flags) || !in.u32(&part.filter) || !in.count(&primitiveCount, 8))
        return false;
    if (part.texture1 > textureCount || part.texture2 > textureCount)
        return in.fail("texture %u past the %zu textures", std::max(part.texture1, part.texture2),
                       textureCount);
    part.primitives.resize(primitiveCount);
    for (FlatPrimitive& primitive : part.primitives) {
        if (!in.u32(&primitive.type) || !in.u32(&primitive.indexCount)) return false;
        if (int64_t(primitive.indexCount) * 2 > remainingBytes(in.stream))
            return in.fail("%u indices past the end of the file", primitive.indexCount);
        primitive.primitiveCount = primitiveCountOf(primitive.type, primitive.indexCount);
        primitive.indices.resize(primitive.indexCount);
        for (uint16_t& value : primitive.indices) {
            uint8_t b[2];
            if (!readBytes(in.stream, b, 2)) return in.fail("cut off");
            value = uint16_t(b[0] | b[1] << 8);
            if (value >= part.vertexCount)
                return in.fail("index %u past %u vertices", value, part.vertexCount);
        }
    }
    return true;
}

bool readMeshes(FlatReader& in, FlatScene& scene) {
    in.table = "physobjects";
    uint32_t count = 0;
    if (!in.count(&count, 28)) return false;
    scene.meshes.resize(count);
    for (FlatMesh& mesh : scene.meshes) {
        uint32_t parts = 0;
        if (!in.count(&parts, 32)) return false;
        mesh.parts.resize(parts);
        for (FlatPart& part : mesh.parts)
            if (!readPart(in, part, scene.textureNames.size())) return false;
        if (!in.floats(mesh.box, 6)) return false;
    }
    return true;
}

bool readObjects(FlatReader& in, FlatScene& scene) {
    in.table = "objects";
    uint32_t count = 0;
    if (!in.count(&count, 45)) return false;
    scene.objects.resize(count);
    for (FlatObject& object : scene.objects) {
        if (!in.i32(&object.meshIndex) || !in.i32(&object.parentIndex)) return false;
        if (!in.index(object.meshIndex, scene.meshes.size(), "mesh") ||
            !in.index(object.parentIndex, count, "parent") || !readTrack(in, object.track, 9) ||
            !in.floats(object.pivot, 3))
            return false;
        char text[256];
        int32_t length = 0;
        while (true) {
            if (!readBytes(in.stream, &text[length], 1)) return in.fail("object name cut off");
            if (text[length] == 0) break;
            if (++length > 254) return in.fail("object name longer than 254 characters");
        }
        copyName(object.name, sizeof object.name, text, length);
    }
    for (FlatObject& object : scene.objects) {
        object.mesh = object.meshIndex >= 0 ? &scene.meshes[size_t(object.meshIndex)] : nullptr;
        object.parent =
            object.parentIndex >= 0 ? &scene.objects[size_t(object.parentIndex)] : nullptr;
    }
    // A parent chain longer than the table is a cycle.
    for (size_t i = 0; i < scene.objects.size(); ++i) {
        size_t steps = 0;
        for (FlatObject* at = scene.objects[i].parent; at; at = at->parent)
            if (++steps > scene.objects.size())
                return in.fail("object %zu's parents form a cycle", i);
    }
    return true;
}

bool readLights(FlatReader& in, FlatScene& scene) {
    in.table = "lights";
    uint32_t count = 0;
    if (!in.count(&count, 72)) return false;
    scene.lights.resize(count);
    for (FlatLight& light : scene.lights) {
        uint32_t hasGlow = 0;
        if (!in.i32(&light.objectIndex) ||
            !in.index(light.objectIndex, scene.objects.size(), "object") ||
            !readTrack(in, light.position, 3) || !readTrack(in, light.intensity, 1) ||
            !in.u32(&hasGlow))
            return false;
        light.hasGlow = hasGlow != 0;
        if (light.hasGlow && !readTrack(in, light.glow, 1)) return false;
        if (!in.floats(light.values, 7)) return false;
        if (light.objectIndex >= 0) light.object = &scene.objects[size_t(light.objectIndex)];
    }
    return true;
}

bool readCameras(FlatReader& in, FlatScene& scene) {
    in.table = "cameras";
    uint32_t count = 0;
    if (!in.count(&count, 36)) return false;
    scene.cameras.resize(count);
    for (FlatCamera& camera : scene.cameras) {
        if (!readTrack(in, camera.placement, 9) || !readTrack(in, camera.zoom, 1) ||
            !in.i32(&camera.objectNumber))
            return false;
        if (camera.objectNumber < 0 || size_t(camera.objectNumber) > scene.objects.size())
            return in.fail("camera object %d past the %zu objects", camera.objectNumber,
                           scene.objects.size());
        if (camera.objectNumber > 0)
            camera.object = &scene.objects[size_t(camera.objectNumber) - 1];
    }
    in.table = "settings";
    return in.floats(&scene.animationRate, 1) && in.u32(&scene.ambientColour);
}

// Textures by name through the pool, device buffers when a device exists.
void attachResources(FlatScene& scene) {
    for (const std::string& name : scene.textureNames)
        scene.textures.push_back(acquireSceneTexture(name.c_str(), kSceneTextureFlags));
    for (FlatLight& light : scene.lights)
        if (light.hasGlow && texturePool())
            light.glowTexture =
                acquireTexture(formatTemp("glow:%d %f %f %f %f", 64, 4.5, 4.5, 4.5, 1.0), 32);
    if (!deviceBuffers()) return;
    for (FlatMesh& mesh : scene.meshes)
        for (FlatPart& part : mesh.parts) {
            if (part.vertexCount == 0) continue;
            part.buffer.create(part.vertexFormat, part.vertexCount, false, false);
            if (void* target = part.buffer.lock(0, -1, kLockNormal)) {
                memcpy(target, part.vertexData.data(), part.vertexData.size());
                part.buffer.unlock();
            }
            for (FlatPrimitive& primitive : part.primitives) {
                if (primitive.indexCount == 0) continue;
                primitive.buffer.create(primitive.indexCount, false, false, false);
                if (void* target = primitive.buffer.lock(0, -1, kLockNormal)) {
                    memcpy(target, primitive.indices.data(), primitive.indexCount * 2u);
                    primitive.buffer.unlock();
                }
            }
        }
}

} // namespace

FlatScene* readFlatScene(Stream* stream, std::string* error) {
    auto* scene = new FlatScene;
    FlatReader in{stream, error};
    if (!readTextures(in, *scene) || !readMeshes(in, *scene) || !readObjects(in, *scene) ||
        !readLights(in, *scene) || !readCameras(in, *scene)) {
        delete scene;
        return nullptr;
    }
    scene->lightWork[0].resize(scene->lights.size() * 20);
    scene->lightWork[1].resize(scene->lights.size() * 72);
    attachResources(*scene);
    logf("GLED: scene has %d textures, %d physobjects, %d objects\n",
         int32_t(scene->textureNames.size()), int32_t(scene->meshes.size()),
         int32_t(scene->objects.size()));
    return scene;
}

FlatScene* loadFlatScene(const char* name) {
    int32_t size = 0;
    Stream* file = openFile(name, &size);
    if (!file) return nullptr;
    std::string error;
    FlatScene* scene = readFlatScene(file, &error);
    closeFile(file);
    if (!scene) fatal("GLED: flat scene file '%s' refused: %s\n", name, error.c_str());
    ++scenesLoaded;
    return scene;
}

void freeFlatScene(FlatScene* scene) {
    if (!scene) return;
    for (Texture* texture : scene->textures)
        releaseSceneTexture(texture);
    for (FlatLight& light : scene->lights)
        releaseSceneTexture(light.glowTexture);
    for (FlatMesh& mesh : scene->meshes)
        for (FlatPart& part : mesh.parts) {
            if (part.buffer.id) part.buffer.destroy();
            for (FlatPrimitive& primitive : part.primitives)
                if (primitive.buffer.id) primitive.buffer.destroy();
        }
    delete scene;
}
