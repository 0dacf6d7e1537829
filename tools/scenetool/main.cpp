// scenetool: glTF 2.0 to the engine's scene files, and a listing of what a scene file holds.
//
//   scenetool object IN.gltf|IN.glb OUT.gled   object scene (world matrices baked)
//   scenetool flat IN.gltf|IN.glb OUT.scene    flat scene (parents kept, animation tracks)
//   scenetool info FILE                        classes, counts, names, bounding boxes
//
// Texture images are written beside the output as OUT_0.png ... and named in the scene by
// their file name, which the texture pool finds next to the scene or in the archives.
#include "data/stream.h"
#include "platform/log.h"
#include "scene/scenefile.h"
#include "tools/scenetool/gltf_import.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

using namespace scenetool;

namespace {

struct Bytes {
    std::vector<uint8_t> b;
    void u8(uint8_t v) { b.push_back(v); }
    void u16(uint16_t v) { u8(uint8_t(v)), u8(uint8_t(v >> 8)); }
    void u32(uint32_t v) { u16(uint16_t(v)), u16(uint16_t(v >> 16)); }
    void i32(int32_t v) { u32(uint32_t(v)); }
    void f32(float v) {
        uint32_t bits;
        memcpy(&bits, &v, 4);
        u32(bits);
    }
    void id(uint32_t number, uint16_t version) { u32(0x20000), u32(number), u16(version); }
    void name8(const std::string& s) {
        size_t n = std::min<size_t>(s.size(), 255);
        u8(uint8_t(n));
        b.insert(b.end(), s.begin(), s.begin() + long(n));
    }
    void raw(const void* p, size_t n) {
        b.insert(b.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    }
    void matrix(const Matrix& m) {
        for (auto& row : m.m)
            for (float v : row)
                f32(v);
    }
};

// ---- Object scene ----

constexpr uint32_t kModulate = 4, kSelectArg1 = 2, kTextureArg = 2, kDiffuseArg = 0;

void writeMaterial(Bytes& out, const Material& m) {
    out.id(8, 0);
    out.name8(m.name);
    for (float v : m.diffuse)
        out.f32(v);
    out.u32(0);
    for (float v : m.specular)
        out.f32(v);
    out.f32(m.power);
    out.u32(m.vertexColour ? 2 : 0);
    out.u32(uint32_t(m.stages.size()));
    for (const Stage& s : m.stages) {
        const uint32_t record[13] = {uint32_t(s.image + 1),
                                     kModulate,
                                     kTextureArg,
                                     kDiffuseArg,
                                     m.blend ? kModulate : kSelectArg1,
                                     kTextureArg,
                                     kDiffuseArg,
                                     s.texCoord,
                                     s.addressU,
                                     s.addressV,
                                     s.filter,
                                     0,
                                     0};
        for (uint32_t w : record)
            out.u32(w);
    }
    out.u32(m.blend ? 1 : 0);
    out.u32(m.blend ? 5 : 2); // source alpha / one
    out.u32(m.blend ? 6 : 1); // inverse source alpha / zero
}

void writeSubMesh(Bytes& out, const Part& p, uint32_t mode) {
    out.id(9, 1);
    out.u32(mode);
    out.u32(p.material >= 0 ? uint32_t(p.material) : 0xffffffffu);
    out.u32(p.vertexCount);
    out.u32(p.fvf);
    out.u32(uint32_t(p.vertices.size()));
    out.raw(p.vertices.data(), p.vertices.size());
    out.u32(1);
    out.id(7, 1);
    out.u32(mode);
    out.u32(p.type);
    out.u32(uint32_t(p.indices.size()));
    for (uint16_t i : p.indices)
        out.u16(i);
}

void writeMesh(Bytes& out, const Mesh& mesh) {
    bool morph = !mesh.targetNames.empty();
    out.id(morph ? 11 : 3, 0);
    out.name8(mesh.name);
    out.u32(uint32_t(mesh.parts.size()));
    for (const Part& p : mesh.parts)
        writeSubMesh(out, p, morph ? 1 : 0);
    if (!morph) return;
    out.u32(uint32_t(mesh.targetNames.size()));
    for (size_t t = 0; t < mesh.targetNames.size(); ++t) {
        Bytes words;
        for (const Part& p : mesh.parts) {
            size_t floats = fvfVertexSize(p.fvf) / 4;
            const std::vector<float>& d = p.targetDeltas[t];
            for (uint32_t v = 0; v < p.vertexCount; ++v) {
                const float* delta = &d[v * floats];
                bool moves = false;
                for (size_t k = 0; k < floats; ++k)
                    moves = moves || delta[k] != 0;
                if (!moves) continue;
                words.u32(v);
                for (size_t k = 0; k < floats; ++k)
                    words.f32(delta[k]);
            }
            words.i32(-1);
        }
        out.name8(mesh.targetNames[t]);
        out.u32(uint32_t(words.b.size() / 4));
        out.raw(words.b.data(), words.b.size());
    }
}

void itemHead(Bytes& out, uint32_t number, uint16_t version, int32_t parent, const Matrix& m,
              const std::string& name) {
    out.id(number, version);
    out.u32(parent >= 0 ? 1 : 0);
    if (parent >= 0) out.u32(uint32_t(parent));
    out.matrix(m);
    out.name8(name);
}

Bytes objectScene(const Model& model) {
    Bytes out;
    out.id(2, 0);
    out.id(1, 0);
    out.u32(uint32_t(model.images.size()));
    for (const Image& image : model.images)
        out.name8(image.fileName);
    out.u32(uint32_t(model.materials.size()));
    for (const Material& m : model.materials)
        writeMaterial(out, m);
    out.u32(uint32_t(model.meshes.size()));
    for (const Mesh& mesh : model.meshes)
        writeMesh(out, mesh);
    // Every node is an object (its world matrix baked in); lights and cameras follow,
    // children of the object of their node.
    Bytes items;
    uint32_t count = 0;
    for (const Node& n : model.nodes) {
        itemHead(items, 4, 0, n.parent, n.world, n.name);
        items.u8(n.mesh >= 0 ? 1 : 0);
        if (n.mesh >= 0) items.u32(uint32_t(n.mesh));
        ++count;
    }
    for (size_t i = 0; i < model.nodes.size(); ++i) {
        const Node& n = model.nodes[i];
        if (n.light >= 0) {
            const Light& l = model.lights[size_t(n.light)];
            itemHead(items, 5, 0, int32_t(i), n.world, n.name + " light");
            items.u32(l.type);
            for (float c : l.colour)
                items.f32(c * std::min(l.intensity, 1.0f));
            for (float c : l.colour)
                items.f32(c);
            const float rest[7] = {l.range > 0 ? l.range : 1000.0f, 1, 1, 0, 0, l.inner, l.outer};
            for (float v : rest)
                items.f32(v);
            ++count;
        }
        if (n.camera >= 0) {
            const Camera& c = model.cameras[size_t(n.camera)];
            itemHead(items, 6, 1, int32_t(i), n.world, n.name + " camera");
            items.f32(c.zoomX);
            items.f32(c.zoomY);
            ++count;
        }
    }
    out.u32(count);
    out.raw(items.b.data(), items.b.size());
    out.u32(0);
    return out;
}

// ---- Flat scene ----

void track(Bytes& out, int32_t valueCount, const std::vector<std::vector<float>>& keys) {
    out.i32(valueCount);
    out.i32(int32_t(keys.size()));
    out.i32(int32_t(keys.size()) - 1);
    out.i32(2); // repeat
    for (size_t k = 0; k < keys.size(); ++k) {
        for (float v : keys[k])
            out.f32(v);
        out.i32(int32_t(k));
        out.u32(1); // linear between the sampled frames
        out.f32(0);
        out.f32(0);
        out.f32(0);
    }
}

void placementTrack(Bytes& out, const Node& n) {
    std::vector<std::vector<float>> keys;
    for (const Sample& s : n.frames)
        keys.push_back({s.position[0], s.position[1], s.position[2], s.angles[0], s.angles[1],
                        s.angles[2], s.scale[0], s.scale[1], s.scale[2]});
    track(out, 9, keys);
}

Bytes flatScene(const Model& model) {
    Bytes out;
    out.u32(uint32_t(model.images.size()));
    for (const Image& image : model.images) {
        out.u16(uint16_t(image.fileName.size()));
        out.raw(image.fileName.data(), image.fileName.size());
    }
    out.u32(uint32_t(model.meshes.size()));
    for (const Mesh& mesh : model.meshes) {
        out.u32(uint32_t(mesh.parts.size()));
        for (const Part& p : mesh.parts) {
            out.u32(p.vertexCount);
            out.u32(p.fvf);
            out.u32(uint32_t(p.vertices.size()));
            out.raw(p.vertices.data(), p.vertices.size());
            const Material* m = p.material >= 0 ? &model.materials[size_t(p.material)] : nullptr;
            uint32_t colour = 0xffffff;
            if (m) {
                auto byte = [](float v) {
                    return uint32_t(std::lround(std::fmin(std::fmax(v, 0.0f), 1.0f) * 255));
                };
                colour = byte(m->diffuse[0]) << 16 | byte(m->diffuse[1]) << 8 | byte(m->diffuse[2]);
            }
            out.u32(colour);
            out.u32(m && !m->stages.empty() ? uint32_t(m->stages[0].image + 1) : 0);
            out.u32(0);
            out.u32(0);
            out.u32(m && !m->stages.empty() ? m->stages[0].filter : 1);
            out.u32(1);
            out.u32(p.type);
            out.u32(uint32_t(p.indices.size()));
            for (uint16_t i : p.indices)
                out.u16(i);
        }
        for (float v : mesh.box)
            out.f32(v);
    }
    out.u32(uint32_t(model.nodes.size()));
    for (const Node& n : model.nodes) {
        out.i32(n.mesh);
        out.i32(n.parent);
        placementTrack(out, n);
        out.f32(0), out.f32(0), out.f32(0);
        std::string name = n.name.substr(0, 254);
        out.raw(name.c_str(), name.size() + 1);
    }
    uint32_t lights = 0;
    Bytes lightBytes;
    for (size_t i = 0; i < model.nodes.size(); ++i) {
        if (model.nodes[i].light < 0) continue;
        const Light& l = model.lights[size_t(model.nodes[i].light)];
        lightBytes.i32(int32_t(i));
        track(lightBytes, 3, {{0, 0, 0}});
        track(lightBytes, 1, {{std::min(l.intensity, 1.0f)}});
        lightBytes.u32(0);
        float radius = l.range > 0 ? l.range / 2 : 500.0f;
        for (float v : {0.0f, 0.0f, 0.0f, l.colour[0], l.colour[1], l.colour[2], radius})
            lightBytes.f32(v);
        ++lights;
    }
    out.u32(lights);
    out.raw(lightBytes.b.data(), lightBytes.b.size());
    uint32_t cameras = 0;
    Bytes cameraBytes;
    for (const Node& n : model.nodes) {
        if (n.camera < 0) continue;
        placementTrack(cameraBytes, n);
        track(cameraBytes, 1, {{model.cameras[size_t(n.camera)].zoomY / 0.96f}});
        cameraBytes.i32(0);
        ++cameras;
    }
    out.u32(cameras);
    out.raw(cameraBytes.b.data(), cameraBytes.b.size());
    out.f32(model.frameRate);
    out.u32(0x202020);
    return out;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(file);
}

int convert(const std::string& in, const std::string& out, bool flat, float fps) {
    std::filesystem::path outPath(out);
    Model model;
    std::string error;
    if (!importGltf(in, outPath.stem().string(), fps, &model, &error)) {
        fprintf(stderr, "scenetool: %s: %s\n", in.c_str(), error.c_str());
        return 1;
    }
    Bytes bytes = flat ? flatScene(model) : objectScene(model);
    bool ok = writeFile(out, bytes.b);
    for (const Image& image : model.images)
        ok = ok && writeFile((outPath.parent_path() / image.fileName).string(), image.bytes);
    if (!ok) {
        fprintf(stderr, "scenetool: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

// ---- Info ----

void printBox(const uint8_t* vertices, uint32_t count, uint32_t fvf) {
    uint32_t stride = fvfVertexSize(fvf);
    float box[6] = {0, 0, 0, 0, 0, 0};
    for (uint32_t v = 0; v < count; ++v) {
        float p[3];
        memcpy(p, vertices + size_t(v) * stride, 12);
        for (int i = 0; i < 3; ++i) {
            box[i] = v ? std::fmin(box[i], p[i]) : p[i];
            box[3 + i] = v ? std::fmax(box[3 + i], p[i]) : p[i];
        }
    }
    printf(" box (%g %g %g)-(%g %g %g)", box[0], box[1], box[2], box[3], box[4], box[5]);
}

void printSubMesh(const gledSubMesh* s) {
    printf("    sub-mesh: %u vertices, format %#x,", s->vertexCount, s->vertexFormat);
    for (const gledPrimitive* p : s->primitives)
        printf(" primitive type %u x %u,", p->type, p->primitiveCount);
    if (!s->vertexData.empty()) printBox(s->vertexData.data(), s->vertexCount, s->vertexFormat);
    printf("\n");
}

int infoObject(gledScene* scene) {
    printf("object scene\n");
    printf("textures %zu\n", scene->texturePool ? scene->texturePool->entries.size() : size_t(0));
    if (scene->texturePool)
        for (const auto& e : scene->texturePool->entries)
            printf("  texture %d: %s\n", e.id, e.name);
    printf("materials %zu\n", scene->materials.size());
    for (const gledMaterial* m : scene->materials)
        if (m)
            printf("  gledMaterial '%s': diffuse %g %g %g, %u stages%s\n", m->name, m->diffuse[0],
                   m->diffuse[1], m->diffuse[2], m->stageCount, m->blend ? ", blending" : "");
    printf("meshes %zu\n", scene->meshes.size());
    for (gledMesh* mesh : scene->meshes) {
        if (!mesh) continue;
        if (supportsInterface(mesh, kMorphMeshId) == 0) {
            auto* morph = static_cast<gledMorphMesh*>(mesh);
            printf("  gledMorphMesh '%s': %zu parts, %zu targets\n", mesh->name,
                   morph->parts.size(), morph->targets.size());
            for (const auto& part : morph->parts)
                printSubMesh(part.source);
            for (const auto& target : morph->targets)
                printf("    target '%s'\n", target.name);
        } else {
            auto* d3d = static_cast<gledD3DMesh*>(mesh);
            printf("  gledD3DMesh '%s': %zu sub-meshes\n", mesh->name, d3d->subMeshes.size());
            for (const gledSubMesh* s : d3d->subMeshes)
                printSubMesh(s);
        }
    }
    printf("items %zu: objects %zu, lights %zu, cameras %zu\n", scene->items.size(),
           scene->objects.size(), scene->lights.size(), scene->cameras.size());
    for (const gledObject* o : scene->objects)
        printf("  gledObject '%s'%s at (%g %g %g)\n", o->name, o->mesh ? "" : " (no mesh)",
               o->transform.m[3][0], o->transform.m[3][1], o->transform.m[3][2]);
    for (const gledLight* l : scene->lights)
        printf("  gledLight '%s' type %u\n", l->name, l->type);
    for (const gledCamera* c : scene->cameras)
        printf("  gledCamera '%s' zoom %g %g\n", c->name, c->zoomX, c->zoomY);
    return 0;
}

int infoFlat(FlatScene* scene) {
    printf("flat scene\n");
    printf("textures %zu\n", scene->textureNames.size());
    for (const std::string& name : scene->textureNames)
        printf("  texture %s\n", name.c_str());
    printf("physobjects %zu\n", scene->meshes.size());
    for (const FlatMesh& m : scene->meshes) {
        printf("  %zu parts, box (%g %g %g)-(%g %g %g)\n", m.parts.size(), m.box[0], m.box[1],
               m.box[2], m.box[3], m.box[4], m.box[5]);
        for (const FlatPart& p : m.parts)
            printf("    part: %u vertices, format %#x, %zu primitives\n", p.vertexCount,
                   p.vertexFormat, p.primitives.size());
    }
    printf("objects %zu\n", scene->objects.size());
    for (const FlatObject& o : scene->objects)
        printf("  '%s' mesh %d parent %d, %zu keys\n", o.name, o.meshIndex, o.parentIndex,
               o.track.keys.size());
    printf("lights %zu\ncameras %zu\nrate %g\n", scene->lights.size(), scene->cameras.size(),
           scene->animationRate);
    return 0;
}

int info(const std::string& path) {
    FileStream file;
    if (!file.open(path.c_str(), kFileRead)) {
        fprintf(stderr, "scenetool: cannot open %s\n", path.c_str());
        return 1;
    }
    uint8_t head[8] = {};
    file.read(head, 8);
    file.seek(0);
    std::string error;
    // An object scene begins with the scene's class identity.
    if (head[0] == 0 && head[1] == 0 && head[2] == 2 && head[3] == 0 && head[4] == 2 &&
        head[5] == 0 && head[6] == 0 && head[7] == 0) {
        initClassRegistry();
        registerSceneClasses();
        gledScene* scene = readObjectScene(&file, &error);
        if (!scene) {
            fprintf(stderr, "scenetool: %s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
        infoObject(scene);
        delete scene;
        return 0;
    }
    FlatScene* scene = readFlatScene(&file, &error);
    if (!scene) {
        fprintf(stderr, "scenetool: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    infoFlat(scene);
    freeFlatScene(scene);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    logSetFile("/dev/null");
    CLI::App app{"scenetool: glTF 2.0 to scene files, and what a scene file holds"};
    app.require_subcommand(1);
    std::string in, out;
    float fps = 25;
    CLI::App* object = app.add_subcommand("object", "write an object scene file");
    CLI::App* flat = app.add_subcommand("flat", "write a flat scene file");
    for (CLI::App* command : {object, flat}) {
        command->add_option("input", in, "glTF 2.0 file (.gltf or .glb)")->required();
        command->add_option("output", out, "scene file to write")->required();
        command->add_option("--fps", fps, "track frames per second")->check(CLI::Range(1, 1000));
    }
    CLI::App* infoCommand = app.add_subcommand("info", "print what a scene file holds");
    infoCommand->add_option("file", in, "scene file")->required();
    CLI11_PARSE(app, argc, argv);
    if (infoCommand->parsed()) return info(in);
    return convert(in, out, flat->parsed(), fps);
}
