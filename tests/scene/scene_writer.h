// Test-only writer of both scene file formats, byte by byte as the readers expect them, so
// that tests can build well-formed and damaged files and read them back.
#pragma once

#include "data/stream.h"
#include "platform/gpu/d3d8types.h"
#include "scene/object.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct SceneBytes {
    std::vector<uint8_t> bytes;

    SceneBytes& u8(uint8_t v) {
        bytes.push_back(v);
        return *this;
    }
    SceneBytes& u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
    SceneBytes& u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
    SceneBytes& i32(int32_t v) { return u32(uint32_t(v)); }
    SceneBytes& f32(float v) {
        uint32_t bits;
        memcpy(&bits, &v, 4);
        return u32(bits);
    }
    SceneBytes& floats(std::initializer_list<float> list) {
        for (float v : list)
            f32(v);
        return *this;
    }
    SceneBytes& id(const ClassId& c) { return u32(c.group).u32(c.number).u16(c.version); }
    SceneBytes& null() { return id(ClassId{}); }
    SceneBytes& name8(const std::string& s) {
        u8(uint8_t(s.size()));
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    SceneBytes& name16(const std::string& s) {
        u16(uint16_t(s.size()));
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    SceneBytes& cstring(const std::string& s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return u8(0);
    }
    SceneBytes& matrix(const D3DMATRIX& m) {
        for (auto& row : m.m)
            for (float v : row)
                f32(v);
        return *this;
    }
    SceneBytes& raw(const void* data, size_t size) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
        return *this;
    }
    SceneBytes& append(const SceneBytes& other) {
        return raw(other.bytes.data(), other.bytes.size());
    }

    // A memory stream over a copy of the bytes (the caller deletes it).
    MemoryStream* stream() const {
        auto* s = new MemoryStream;
        s->reserve(int32_t(bytes.size()));
        if (!bytes.empty()) memcpy(s->data(), bytes.data(), bytes.size());
        return s;
    }
};

// ---- Object scene pieces ----

inline SceneBytes texturePoolBytes(const std::vector<std::string>& names) {
    SceneBytes b;
    b.id({0x20000, 1, 0}).u32(uint32_t(names.size()));
    for (const std::string& n : names)
        b.name8(n);
    return b;
}

struct StageRecord {
    uint32_t words[13] = {};
};

inline SceneBytes materialBytes(const std::string& name, const std::vector<StageRecord>& stages,
                                uint32_t blend = 0) {
    SceneBytes b;
    b.id({0x20000, 8, 0}).name8(name).floats({0.25f, 0.5f, 0.75f}).u32(0xabcd);
    b.floats({0.1f, 0.2f, 0.3f}).f32(12.0f).u32(2).u32(uint32_t(stages.size()));
    for (const StageRecord& s : stages)
        for (uint32_t w : s.words)
            b.u32(w);
    return b.u32(blend).u32(5).u32(6);
}

inline SceneBytes primitiveBytes(uint16_t version, uint32_t mode, uint32_t type,
                                 const std::vector<uint16_t>& indices) {
    SceneBytes b;
    b.id({0x20000, 7, version});
    if (version) b.u32(mode);
    b.u32(type).u32(uint32_t(indices.size()));
    for (uint16_t i : indices)
        b.u16(i);
    return b;
}

// A sub-mesh of vertices in format XYZ (12 bytes each) and the given primitives.
inline SceneBytes subMeshBytes(uint16_t version, uint32_t mode, uint32_t material,
                               const std::vector<float>& xyz, const std::vector<SceneBytes>& prims,
                               uint32_t fvf = D3DFVF_XYZ) {
    SceneBytes b;
    b.id({0x20000, 9, version});
    if (version) b.u32(mode);
    uint32_t stride = fvfVertexSize(fvf);
    uint32_t size = uint32_t(xyz.size() * 4);
    b.u32(material).u32(size / stride).u32(fvf).u32(size);
    for (float v : xyz)
        b.f32(v);
    b.u32(uint32_t(prims.size()));
    for (const SceneBytes& p : prims)
        b.append(p);
    return b;
}

inline SceneBytes itemHead(const ClassId& id, int32_t parent, const D3DMATRIX& m,
                           const std::string& name) {
    SceneBytes b;
    b.id(id);
    if (parent >= 0)
        b.u32(1).u32(uint32_t(parent));
    else
        b.u32(0);
    return b.matrix(m).name8(name);
}

// ---- Flat scene pieces ----

struct FlatKeyBytes {
    std::vector<float> values;
    int32_t frame = 0;
    bool linear = true;
    float tension = 1, continuity = 0, bias = 0;
};

inline SceneBytes trackBytes(int32_t valueCount, const std::vector<FlatKeyBytes>& keys,
                             int32_t loopMode = 1) {
    SceneBytes b;
    b.i32(valueCount).i32(int32_t(keys.size())).i32(keys.empty() ? 0 : keys.back().frame);
    b.i32(loopMode);
    for (const FlatKeyBytes& k : keys) {
        for (float v : k.values)
            b.f32(v);
        b.i32(k.frame).u32(k.linear ? 1 : 0).f32(k.tension).f32(k.continuity).f32(k.bias);
    }
    return b;
}

inline SceneBytes constantTrack(std::vector<float> values) {
    return trackBytes(int32_t(values.size()), {{values, 0}});
}
